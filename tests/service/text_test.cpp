// Percent-decoding, query splitting, UTF-8/GBK classification and integer parsing.
#include <gtest/gtest.h>

#include "text/text.h"

namespace tambrel::text {
namespace {

TEST(PercentDecode, Table) {
  struct Case {
    const char* in;
    std::string out;
  } cases[] = {
      {"abc", "abc"},
      {"%E5%BC%A0", "\xE5\xBC\xA0"},
      {"%e5%bc%a0", "\xE5\xBC\xA0"},
      {"a+b", "a+b"},          // the tool sends '+' as a plus sign
      {"100%", "100%"},        // stray percent kept
      {"%4", "%4"},            // truncated escape kept
      {"%zz%41", "%zzA"},      // bad escape kept, good one decoded
      {"%00", std::string(1, '\0')},
      {"%2e%2e", ".."},
  };
  for (const Case& c : cases) EXPECT_EQ(percentDecode(c.in), c.out) << c.in;
}

TEST(PercentEncode, KeepsUnreservedAndRoundTrips) {
  EXPECT_EQ(percentEncode("Az09-_.~"), "Az09-_.~");
  EXPECT_EQ(percentEncode("张三"), "%E5%BC%A0%E4%B8%89");
  EXPECT_EQ(percentEncode("a b&c/d"), "a%20b%26c%2Fd");
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  std::string enc = percentEncode(all);
  for (char c : enc) EXPECT_TRUE(c > 0x20 && c < 0x7F) << "non-ASCII in encoded path";
  EXPECT_EQ(percentDecode(enc), all);
}

TEST(Utf8, ValidAndInvalid) {
  struct Case {
    std::string in;
    bool valid;
    size_t chars;
  } cases[] = {
      {"abc", true, 3},
      {"\xE5\xBC\xA0\xE4\xB8\x89", true, 2},       // 张三
      {"\xF0\x9F\x98\x80", true, 1},               // 4-byte form
      {"\xC0\xAF", false, 0},                      // over-long '/'
      {"\xE0\x80\xAF", false, 0},                  // over-long 3-byte
      {"\xED\xA0\x80", false, 0},                  // surrogate
      {"\xF4\x90\x80\x80", false, 0},              // beyond U+10FFFF
      {"\xE5\xBC", false, 0},                      // truncated
      {"\xD5\xC5\xC8\xFD", false, 0},              // 张三 in GBK
      {"\x80", false, 0},                          // stray continuation
  };
  for (const Case& c : cases) {
    auto r = decodeUtf8(c.in);
    EXPECT_EQ(r.has_value(), c.valid) << testing::PrintToString(c.in);
    if (r) {
      EXPECT_EQ(r->size(), c.chars);
    }
  }
}

TEST(ToUtf8, FallsBackToGbk) {
  struct Case {
    std::string in;
    std::optional<std::string> out;
  } cases[] = {
      {"\xE5\xBC\xA0\xE4\xB8\x89", std::string("张三")},   // UTF-8 stays
      {"\xD5\xC5\xC8\xFD", std::string("张三")},           // GBK converted
      {"\xB9\xAB\xCB\xBE", std::string("公司")},
      {"Tambrel", std::string("Tambrel")},
      {"\xFF\xFF", std::nullopt},                           // neither
      {"\xD5", std::nullopt},                               // half a GBK character
  };
  for (const Case& c : cases) EXPECT_EQ(toUtf8(c.in), c.out) << testing::PrintToString(c.in);
}

TEST(SplitQuery, PartsKeysAndRawValues) {
  auto p = splitQuery("text=%E5%BC%A0&id=368&&flag&signsize=");
  ASSERT_EQ(p.size(), 4u);
  EXPECT_EQ(p[0].key, "text");
  EXPECT_EQ(p[0].value, "%E5%BC%A0");  // values stay raw
  EXPECT_EQ(p[1].value, "368");
  EXPECT_EQ(p[2].key, "flag");
  EXPECT_EQ(p[2].value, "");
  EXPECT_EQ(p[3].key, "signsize");
  EXPECT_EQ(p[3].raw, "signsize=");
  EXPECT_TRUE(splitQuery("").empty());
}

TEST(ParseInteger, Table) {
  struct Case {
    const char* in;
    std::optional<long long> out;
  } cases[] = {
      {"0", 0},     {"300", 300},  {"-5", -5}, {"+7", 7},  {" 42 ", 42}, {"", std::nullopt},
      {"-", std::nullopt}, {"3.5", std::nullopt}, {"12px", std::nullopt}, {"0x10", std::nullopt},
      {"99999999999999999999999", 9223372036854775807LL},
  };
  for (const Case& c : cases) EXPECT_EQ(parseInteger(c.in), c.out) << c.in;
}

TEST(Cells, LatinRunsTakeHalfACellPerCharacterRoundedUpPerRun) {
  struct Case {
    std::u32string in;
    int cells;
    size_t runs;
  } cases[] = {
      {U"", 0, 0},
      {U"张三", 2, 2},
      {U"Tambrel", 4, 1},        // 7 half cells
      {U"ab", 1, 1},
      {U"Li Wu", 3, 1},          // the space is part of the word
      {U"张三Ab", 3, 3},
      {U"A张B", 3, 3},           // each run rounds up on its own: it needs a cell of its own
      {U"Café", 2, 1},           // accented Latin letters are narrow too
      {U"\uFF71\uFF72", 1, 1},   // half-width kana
      {U"Ａｂ", 2, 2},           // full-width forms of Latin letters are full-width
      {U"张\u3000三", 3, 3},     // the ideographic space is a full cell
      {U"12345678", 4, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(cellCount(c.in), c.cells) << encodeUtf8(c.in);
    EXPECT_EQ(cellRuns(c.in).size(), c.runs) << encodeUtf8(c.in);
  }
  auto runs = cellRuns(U"张Tam三");
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_FALSE(runs[0].halfWidth);
  EXPECT_TRUE(runs[1].halfWidth);
  EXPECT_EQ(runs[1].begin, 1u);
  EXPECT_EQ(runs[1].end, 4u);
  EXPECT_EQ(runs[1].cells, 2);
  EXPECT_EQ(runs[2].begin, 4u);
}

}  // namespace
}  // namespace tambrel::text

namespace tambrel {
namespace {

// JSON is UTF-8: what a client sent is echoed as it came where it is UTF-8, and byte by byte
// as U+FFFD where it is not, so the body stays valid JSON.
TEST(JsonString, EchoesOnlyUtf8) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"天宝", "\"天宝\""},
      {"\xFF", "\"\\ufffd\""},
      {"a\xC3(b", "\"a\\ufffd(b\""},              // a cut sequence
      {"\xC0\xAF", "\"\\ufffd\\ufffd\""},         // an over-long '/'
      {"\xED\xA0\x80", "\"\\ufffd\\ufffd\\ufffd\""},  // a surrogate
      {"\xE5\x9B", "\"\\ufffd\\ufffd\""},         // cut at the end
      {"<\"\x01", "\"\\u003c\\\"\\u0001\""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(text::jsonString(c.in), c.out) << c.in;
    EXPECT_TRUE(text::decodeUtf8(text::jsonString(c.in))) << c.in;
  }
}

}  // namespace
}  // namespace tambrel
