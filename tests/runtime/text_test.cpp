// Text and block commands and value conversions, as tables of cases. GBK characters used on
// purpose: "乤" is 81 61 (its trail byte is 'a'), "丂" is 81 40 (trail '@'), "啊" is B0 A1 and
// the full-width space is A1 A1, so a scan that does not step over double-byte characters
// matches or cuts inside them.
#include "runtime/text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "runtime/datetime.h"
#include "runtime/gb18030_reference.h"

#include <windows.h>

using namespace tambrel;

namespace {

constexpr const char* kNull = nullptr;  // expected: no text at all

// Compares a result with an expectation where null means "the command gave null".
void expect_text(const Text& got, const char* expected) {
  if (!expected) {
    EXPECT_EQ(got.get(), nullptr) << "got '" << got.c_str() << "'";
  } else {
    EXPECT_STREQ(got.c_str(), expected);
  }
}

std::string hex(const Bytes& b) {
  if (!b.get()) return "<null>";
  std::string s;
  char two[4];
  for (size_t i = 0; i < b.size(); ++i) {
    std::snprintf(two, sizeof two, "%02x", b.data()[i]);
    s += two;
  }
  return s;
}

Bytes bytes_of(const std::string& s) { return Bytes(s.data(), s.size()); }

TEST(LeftAndMidText, Bounds) {
  struct Case {
    const char* text;
    int64_t start;  // 0: left_text
    int64_t n;
    const char* expected;
  };
  const Case cases[] = {
      {"abcdef", 0, 2, "ab"},  {"abcdef", 0, 6, "abcdef"}, {"abcdef", 0, 99, "abcdef"},
      {"abcdef", 0, 0, kNull}, {"abcdef", 0, -1, kNull},   {"", 0, 2, kNull},
      {"abcdef", 2, 3, "bcd"}, {"abcdef", 5, 10, "ef"},    {"abcdef", 6, 1, "f"},
      {"abcdef", 7, 1, kNull}, {"abcdef", 0, 0, kNull},    {"abcdef", -1, 2, kNull},
      {"abcdef", 2, 0, kNull}, {"abcdef", 2, -3, kNull},   {"", 1, 1, kNull},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "'" << c.text << "' start " << c.start << " n " << c.n);
    expect_text(c.start == 0 ? left_text(c.text, c.n) : mid_text(c.text, c.start, c.n), c.expected);
  }
  expect_text(mid_text("abcdef", 0, 2), kNull);  // start 0 in mid_text
}

TEST(UpperText, RaisesOnlyAsciiLetters) {
  expect_text(upper_text("abc\x81\x61xyz啊Q1"), "ABC\x81\x61XYZ啊Q1");
  expect_text(upper_text("\x81\x61"), "\x81\x61");
  expect_text(upper_text(""), kNull);
}

TEST(FindText, Cases) {
  struct Case {
    const char* text;
    const char* part;
    std::optional<int64_t> start;
    bool case_insensitive;
    int32_t expected;
  };
  const Case cases[] = {
      {"abcabc", "c", {}, false, 3},
      {"abcabc", "c", 4, false, 6},
      {"abcabc", "c", 0, false, 3},
      {"abcabc", "c", -5, false, 3},
      {"abcabc", "abc", 4, false, 4},
      {"abcabc", "abc", 5, false, -1},  // start beyond length - part length + 1
      {"abc", "abcd", {}, false, -1},
      {"abc", "", {}, false, -1},
      {"", "a", {}, false, -1},
      {"xABC", "abc", {}, false, -1},
      {"xABC", "abc", {}, true, 2},
      {"<outputimg>./p/1.png</outputimg>", "</outputimg>", {}, false, 21},
      // The trail byte of 丂 (81 40) is '@': only the real '@' at byte 3 matches.
      {"\x81\x40@", "@", {}, false, 3},
      // The trail byte of 乤 (81 61) is 'a': no match inside it, not even without case.
      {"\x81\x61", "a", {}, false, -1},
      {"\x81\x61", "A", {}, true, -1},
      {"\x81\x61\x41", "a", {}, true, 3},
      // A start inside a character moves on to the next character.
      {"\x81\x40@", "@", 2, false, 3},
      {"\x81\x40\x81\x40", "\x40\x81", {}, false, -1},
      {"文本：印章", "印章", {}, false, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "'" << c.text << "' / '" << c.part << "'");
    EXPECT_EQ(find_text(c.text, c.part, c.start, c.case_insensitive), c.expected);
  }
}

TEST(ReplacePart, Bounds) {
  struct Case {
    const char* text;
    int64_t start;
    int64_t length;
    std::optional<const char*> replacement;
    const char* expected;
  };
  const Case cases[] = {
      {"Set-Cookie: a=b; path=/", 1, 12, {}, "a=b; path=/"},
      {"abcdef", 2, 2, "XY", "aXYdef"},
      {"abcdef", 4, 10, "X", "abcX"},  // fewer than n bytes remain: all from start replaced
      {"abcdef", 4, 3, "X", "abcX"},
      {"abcdef", 7, 1, "X", "abcdef"},  // start beyond the text
      {"abcdef", 6, 1, "X", "abcdeX"},
      {"abcdef", 2, 0, "X", "abcdef"},
      {"abcdef", 2, -1, "X", "abcdef"},
      {"abcdef", 0, 2, "X", "Xcdef"},  // start < 1 counts as 1
      {"abcdef", -9, 1, {}, "bcdef"},
      {"", 1, 1, "new", "new"},
      {"", 1, 1, "", kNull},
      {"", 1, 1, {}, kNull},
      {"abc", 1, 3, {}, kNull},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "'" << c.text << "' " << c.start << "," << c.length);
    expect_text(replace_part(c.text, c.start, c.length, c.replacement), c.expected);
  }
}

TEST(ReplaceText, Cases) {
  struct Case {
    const char* text;
    const char* find;
    std::optional<const char*> replacement;
    std::optional<int64_t> start;
    std::optional<int64_t> count;
    bool case_sensitive;
    const char* expected;
  };
  const Case cases[] = {
      {"a\r\nb\r\n\r\nc", "\r\n", {}, {}, {}, true, "abc"},
      {"a\r\nb\r\n", "\r\n", {}, {}, 1, true, "ab\r\n"},
      {"a\r\nb\r\n", "\r\n", {}, 3, {}, true, "a\r\nb"},
      {"aAa", "a", "x", {}, {}, false, "xxx"},
      {"aAa", "a", "x", {}, {}, true, "xAx"},
      {"aaaa", "aa", "b", {}, {}, true, "bb"},  // no overlap
      {"aaa", "aa", "b", {}, {}, true, "ba"},
      {"abc", "x", "y", {}, {}, true, "abc"},
      {"abc", "b", "yy", 0, {}, true, "abc"},  // start < 1
      {"abc", "b", "yy", {}, 0, true, "abc"},  // count < 1
      {"abc", "b", "yy", 3, {}, true, "abc"},  // start beyond the last place to match
      {"abc", "c", "yy", 3, {}, true, "abyy"},
      {"abc", "", "y", {}, {}, true, "abc"},
      {"ab", "abc", "y", {}, {}, true, "ab"},
      {"", "a", "y", {}, {}, true, kNull},
      {"ab", "ab", {}, {}, {}, true, kNull},
      {"\x81\x40@", "@", "#", {}, {}, true, "\x81\x40#"},
      {"\x81\x61\x61", "A", "b", {}, {}, false, "\x81\x61\x62"},
      {"印章印章", "印", "图", {}, 1, true, "图章印章"},
      // A match that ends on a lead byte: the search goes on at the next character, not at
      // the trail byte behind the match (where "@\x81" would match again).
      {"@\x81@\x81@", "@\x81", "#", {}, {}, true, "#@\x81@"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "'" << c.text << "' / '" << c.find << "'");
    expect_text(replace_text(c.text, c.find, c.replacement, c.start, c.count, c.case_sensitive),
                c.expected);
  }
}

// The system's ANSI code page plays no part: GBK characters keep their GBK bytes, every other
// character gets its four-byte GB18030 code, and both come back as they went in.
TEST(WideText, CarriesEveryCharacterAsGb18030) {
  struct Case {
    const wchar_t* wide;
    const char* bytes;
  };
  const Case cases[] = {
      {L"王小明", "\xCD\xF5\xD0\xA1\xC3\xF7"},                         // GBK
      {L"印章\U0001F600", "\xD3\xA1\xD5\xC2\x94\x39\xFC\x36"},        // an emoji (surrogate pair)
      {L"\U00020000印", "\x95\x32\x82\x36\xD3\xA1"},                   // CJK Extension B
      {L"한글", "\x83\x36\x84\x33\x82\x38\x84\x37"},                  // Hangul: four-byte BMP codes
      {L"\u00A5", "\x81\x30\x84\x36"},  // no GBK code: not the GBK look-alike a best fit would take
      {L"\u00E9t\u00E9", "\xA8\xA6t\xA8\xA6"},                          // GBK holds é
      {L"a\U0010FFFFb", "a\xE3\x32\x9A\x35" "b"},                         // the last code point
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    expect_text(wide_to_text(c.wide), c.bytes);
    EXPECT_EQ(text_to_wide(c.bytes), c.wide);
  }
  // A lone surrogate has no code; a four-byte code that stands for no character reads as U+FFFD.
  expect_text(wide_to_text(L"a\xD800" L"b"), "a?b");
  EXPECT_EQ(text_to_wide("a\x84\x31\xA5\x30" "b"), L"a\uFFFDb");
  EXPECT_EQ(text_to_wide("\xFE\x39\xFE\x39"), L"\uFFFD");
}

// Characters that code page 936 lacks although GB18030 codes them in two bytes, and € (936's
// single byte 0x80) in front of a four-byte character, which once threw the scanner out of step.
TEST(WideText, TwoByteCodesWithoutCodePage936) {
  struct Case {
    const wchar_t* wide;
    const char* bytes;
  };
  const Case cases[] = {
      {L"刘\u4DAE", "\xC1\xF5\xFE\x9F"},                         // 刘䶮
      {L"\u01F9\u2E81\u2FF0\u303E\u3447", "\xA8\xBF\xFE\x50\xA9\x8A\xA9\x89\xFE\x56"},
      {L"€\U0001F600", "\xA2\xE3\x94\x39\xFC\x36"},              // "€😀"
      {L"€印\U0001F600", "\xA2\xE3\xD3\xA1\x94\x39\xFC\x36"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    expect_text(wide_to_text(c.wide), c.bytes);
    EXPECT_EQ(text_to_wide(c.bytes), c.wide);
  }
  // Texts written through code page 936 before may hold € as 0x80: it still reads as €, and a
  // byte that starts no code costs only itself, not the "\" behind it.
  EXPECT_EQ(text_to_wide("\x80\x94\x39\xFC\x36"), L"€\U0001F600");
  EXPECT_EQ(text_to_wide("a\xFF\\b\x81"), L"a\uFFFD\\b\uFFFD");
}

namespace {

void add_to_digest(uint64_t& h, const char* bytes, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    h ^= static_cast<unsigned char>(bytes[i]);
    h *= 0x100000001B3ull;
  }
}

std::wstring utf16(char32_t cp) {
  if (cp < 0x10000) return std::wstring(1, static_cast<wchar_t>(cp));
  return {static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10)), static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF))};
}

}  // namespace

// Every code point but the surrogates, through both directions, alone and behind "€", U+F8F5
// (a private-use character with a four-byte code) and 印: the bytes are the reference codec's
// (the digest gen_gb18030.py took from it) and come back as the same character.
TEST(WideText, EveryCodePointBothWaysAsTheReferenceCodec) {
  const std::wstring prefixes[] = {L"", L"€", L"\uF8F5", L"印"};
  int failures = 0;
  auto fail = [&](const std::wstring& prefix, char32_t cp, const char* what) {
    if (++failures <= 20) ADD_FAILURE() << what << ": U+" << std::hex << static_cast<uint32_t>(cp) << " behind "
                                        << prefix.size() << " unit(s) starting U+" << (prefix.empty() ? 0 : prefix[0]);
  };
  uint64_t digest = 0xCBF29CE484222325ull;
  for (const std::wstring& prefix : prefixes) {
    const std::string prefix_bytes = prefix.empty() ? "" : wide_to_text(prefix.c_str()).c_str();
    for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
      if (cp >= 0xD800 && cp <= 0xDFFF) continue;
      if (cp == 0) {  // a text ends at NUL: its code is the byte 0
        if (prefix.empty()) add_to_digest(digest, "", 1);
        continue;
      }
      const std::wstring wide = prefix + utf16(cp);
      const Text text = wide_to_text(wide.c_str(), wide.size());
      const std::string bytes = text.get() ? text.c_str() : "";
      if (bytes.compare(0, prefix_bytes.size(), prefix_bytes) != 0) fail(prefix, cp, "prefix changed");
      if (prefix.empty()) add_to_digest(digest, bytes.data(), bytes.size());
      if (text_to_wide(bytes.c_str()) != wide) fail(prefix, cp, "does not come back");
    }
  }
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(digest, gb18030::kReferenceDigest) << "the bytes differ from the reference codec's";
}

// GB18030 is byte-identical to GBK for every GBK character: each two-byte code that the
// system's code page 936 gives a BMP character is the program's code for it too. The one kind of
// exception is GB18030's own: code page 936 gives some two-byte codes to private-use stand-ins
// (U+E7C8 for A8 BF, ...) where GB18030 gives them the real characters (ǹ); such a stand-in
// takes a four-byte code, and its two bytes read as the real character.
TEST(WideText, EveryGbkCharacterKeepsItsGbkBytes) {
  int checked = 0, stand_ins = 0, failures = 0;
  for (wchar_t c = 0x80; c != 0; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    char gbk[4];
    BOOL lost = FALSE;
    const int n = WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, &c, 1, gbk, sizeof gbk, nullptr, &lost);
    if (n != 2 || lost) continue;
    ++checked;
    const Text ours = wide_to_text(&c, 1);
    if (std::string(ours.c_str()) == std::string(gbk, 2)) continue;
    const std::wstring real = text_to_wide(std::string(gbk, 2).c_str());
    const bool stand_in = c >= 0xE000 && c <= 0xF8FF && real.size() == 1 && !(real[0] >= 0xE000 && real[0] <= 0xF8FF);
    if (stand_in) {
      ++stand_ins;
    } else if (++failures <= 20) {
      ADD_FAILURE() << "U+" << std::hex << static_cast<unsigned>(c);
    }
  }
  EXPECT_EQ(failures, 0);
  EXPECT_GT(checked, 21000) << "code page 936 gave too few characters to compare with";
  std::printf("%d two-byte characters of code page 936 compared; %d private-use stand-ins\n", checked, stand_ins);
}

TEST(WideText, RoundTripsGbkTexts) {
  EXPECT_EQ(text_to_wide("印章 ab"), L"\u5370\u7AE0 ab");
  EXPECT_EQ(text_to_wide(""), L"");
  EXPECT_EQ(text_to_wide(nullptr), L"");
  expect_text(wide_to_text(L"\u5370\u7AE0 ab"), "印章 ab");
  expect_text(wide_to_text(L"ab\0cd", 5), "ab");  // a text ends at an embedded NUL
  expect_text(wide_to_text(L"abcd", 2), "ab");
  expect_text(wide_to_text(L""), kNull);
  expect_text(wide_to_text(nullptr), kNull);
}

TEST(CharCodeAndText, Cases) {
  EXPECT_EQ(char_code("A"), 65);
  EXPECT_EQ(char_code("ab", 2), 98);
  EXPECT_EQ(char_code("\xC4\xEA"), -60) << "a signed byte";
  EXPECT_EQ(char_code("ab", 0), 0);
  EXPECT_EQ(char_code("ab", 3), 0);
  EXPECT_EQ(char_code(""), 0);
  expect_text(char_text(65), "A");
  expect_text(char_text(0x141), "A");
  expect_text(char_text(0), kNull);
  expect_text(char_text(0x300), kNull);
}

TEST(RemoveSpaces, AsciiAndFullWidthAtCharacterBoundaries) {
  expect_text(remove_spaces(" a\xA1\xA1 b "), "ab");
  expect_text(remove_spaces("  \xA1\xA1 "), kNull);
  expect_text(remove_spaces(""), kNull);
  // 啊 (B0 A1) then a full-width space: the A1 A1 across the character boundary is no space.
  expect_text(remove_spaces("\xB0\xA1\xA1\xA1"), "\xB0\xA1");
  expect_text(remove_spaces("\xB0\xA1\xA1\xB0"), "\xB0\xA1\xA1\xB0");
}

TEST(ValueToText, Numbers) {
  struct Case {
    ArgValue value;
    const char* expected;
  };
  const Case cases[] = {
      {double_arg(3.0), "3"},
      {double_arg(0.25), "0.25"},
      {double_arg(1.5), "1.5"},
      {double_arg(-2.5), "-2.5"},
      {double_arg(0.0), "0"},
      {double_arg(100.0), "100"},
      {float_arg(0.5f), "0.5"},
      {int_arg(-7), "-7"},
      {byte_arg(200), "200"},
      {short_arg(-5), "-5"},
      {long_arg(1099511627776LL), "1099511627776"},
      {bool_arg(true), "真"},
      {bool_arg(false), "假"},
      {make_arg(TYPE_OBJECT), kNull},
      {make_arg(TYPE_NONE), kNull},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "tag " << std::hex << c.value.tag);
    expect_text(value_to_text(c.value), c.expected);
  }
}

TEST(ValueToText, DateTimes) {
  const DateTimeParts day{2012, 10, 22, 0, 0, 0};
  struct Case {
    int hour, minute, second;
    const char* expected;
  };
  const Case cases[] = {
      {10, 0, 0, "2012年10月22日10时"},       {0, 0, 0, "2012年10月22日"},
      {10, 30, 0, "2012年10月22日10时30分"},  {10, 30, 15, "2012年10月22日10时30分15秒"},
      {10, 0, 5, "2012年10月22日10时0分5秒"}, {0, 0, 1, "2012年10月22日0时0分1秒"},
  };
  for (const Case& c : cases) {
    DateTimeParts p = day;
    p.hour = c.hour;
    p.minute = c.minute;
    p.second = c.second;
    SCOPED_TRACE(c.expected);
    expect_text(value_to_text(datetime_arg(datetime_from_parts(p))), c.expected);
  }
}

TEST(ValueToText, TextsBlocksAndArrays) {
  expect_text(value_to_text(text_arg("印章")), "印章");
  expect_text(value_to_text(text_arg("")), kNull);
  expect_text(value_to_text(text_arg(nullptr)), kNull);
  Bytes block = bytes_of(std::string("ab\0cd", 5));
  expect_text(value_to_text(bytes_arg(block.block())), "ab");
  expect_text(value_to_text(bytes_arg(&EMPTY_BYTES)), kNull);

  // An int array {'abcd', 0}: its element bytes up to the first zero.
  const int32_t ints[] = {1, 2, 0x64636261, 0};
  expect_text(value_to_text(array_arg(TYPE_INT, ints)), "abcd");
  const int32_t bytes_array[] = {1, 3, 0x00636261};  // 'a' 'b' 'c'
  expect_text(value_to_text(array_arg(TYPE_BYTE, bytes_array)), "abc");
  const int32_t doubles[] = {1, 1, 0, 0};
  expect_text(value_to_text(array_arg(TYPE_DOUBLE, doubles)), kNull);
}

TEST(ValueToText, HugeRealsAreFormattedWholeNotCut) {
  // "%f" of 1e300 is 301 digits: more than the usual 260-byte buffer holds.
  Text t = value_to_text(double_arg(1e300));
  ASSERT_EQ(t.size(), 301u);
  EXPECT_EQ(t.c_str()[0], '1');
  EXPECT_EQ(std::strspn(t.c_str() + 1, "0123456789"), 300u);
  EXPECT_EQ(value_to_text(double_arg(-1e300)).size(), 302u);
}

TEST(ToInt, Cases) {
  Text full_width("１２３");
  struct Case {
    ArgValue value;
    int32_t expected;
  };
  const Case cases[] = {
      {int_arg(7), 7},
      {long_arg(0x100000005LL), 5},
      {byte_arg(200), 200},
      {short_arg(-5), -5},
      {double_arg(3.9), 3},
      {double_arg(-3.9), -3},
      {double_arg(4294967297.0), 1},  // low 32 bits of the truncated value
      {double_arg(1e20), 0},          // outside 64 bits: the indefinite value, low half 0
      {float_arg(-2.5f), -2},
      {bool_arg(true), 1},
      {text_arg("123"), 123},
      {text_arg("-42abc"), -42},
      {text_arg("abc"), 0},
      {text_arg(full_width.c_str()), 123},
      {text_arg("－１２"), -12},
      {make_arg(TYPE_OBJECT), 0},
      {datetime_arg(5.5), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "tag " << std::hex << c.value.tag << " expected " << std::dec << c.expected);
    EXPECT_EQ(to_int(c.value), c.expected);
  }
  expect_text(normalize_number_text("１２／３＼4"), "12/3\\4");
}

TEST(ToByte, LowEightBits) {
  EXPECT_EQ(to_byte(int_arg(0x1FF)), 255);
  EXPECT_EQ(to_byte(long_arg(0x1234567890LL)), 0x90);
  EXPECT_EQ(to_byte(short_arg(-1)), 255);
  EXPECT_EQ(to_byte(double_arg(258.7)), 2);
  EXPECT_EQ(to_byte(text_arg("300")), 44);
  EXPECT_EQ(to_byte(bool_arg(true)), 0);
}

TEST(ToBytes, MemoryBytesOfValues) {
  const int32_t byte_elements[] = {1, 3, 0x00030201};
  const int32_t int_elements[] = {1, 1, 7};
  struct Case {
    ArgValue value;
    const char* expected;
  };
  const Case cases[] = {
      {text_arg("ab"), "6162"},
      {text_arg(""), "<null>"},
      {int_arg(0x01020304), "04030201"},
      {short_arg(0x0102), "0201"},
      {byte_arg(0xAB), "ab"},
      {long_arg(1), "0100000000000000"},
      {double_arg(1.0), "000000000000f03f"},
      {float_arg(1.0f), "0000803f"},
      {bool_arg(true), "01000000"},
      {datetime_arg(2.0), "0000000000000040"},
      {array_arg(TYPE_BYTE, byte_elements), "010203"},
      {array_arg(TYPE_INT, int_elements), "<null>"},
      {make_arg(TYPE_OBJECT), "<null>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(hex(to_bytes(c.value)), c.expected);
  }
  Bytes block = bytes_of("xyz");
  EXPECT_EQ(hex(to_bytes(bytes_arg(block.block()))), "78797a");
}

TEST(WriteToMemory, CopiesTheValueBytesWithinTheLimit) {
  struct Case {
    ArgValue value;
    std::optional<int64_t> max;
    size_t expected_count;
    const char* expected;  // the 8 destination bytes afterwards (starting as '.')
  };
  const int32_t byte_elements[] = {1, 2, 0x00004241};
  const Case cases[] = {
      {text_arg("abc"), {}, 4, "abc\0...."},
      {text_arg("abc"), 2, 2, "ab......"},
      {text_arg("abc"), 0, 4, "abc\0...."},  // 0 is no limit
      {text_arg("abc"), 9, 4, "abc\0...."},
      {text_arg(""), {}, 0, "........"},
      {int_arg(0x64636261), {}, 4, "abcd...."},
      {short_arg(0x6261), 1, 1, "a......."},
      {array_arg(TYPE_BYTE, byte_elements), {}, 2, "AB......"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "expected count " << c.expected_count);
    char destination[8];
    std::memset(destination, '.', sizeof destination);
    EXPECT_EQ(write_to_memory(c.value, destination, c.max), c.expected_count);
    EXPECT_EQ(std::string(destination, 8), std::string(c.expected, 8));
  }
  char destination[4] = {'.', '.', '.', '.'};
  Bytes block = bytes_of("xy");
  EXPECT_EQ(write_to_memory(bytes_arg(block.block()), destination), 2u);
  EXPECT_EQ(write_to_memory(bytes_arg(&EMPTY_BYTES), destination), 0u);
  EXPECT_EQ(std::string(destination, 4), "xy..");
}

TEST(ByteBlocks, LeftRightMidFind) {
  Bytes b = bytes_of("abcdef");
  const BytesBlock* block = b.block();
  EXPECT_EQ(bytes_length(block), 6);
  EXPECT_EQ(bytes_length(&EMPTY_BYTES), 0);

  struct Slice {
    const char* name;
    Bytes got;
    const char* expected;
  };
  const Slice slices[] = {
      {"left 2", left_bytes(block, 2), "6162"},
      {"left 99", left_bytes(block, 99), "616263646566"},
      {"left 0", left_bytes(block, 0), "<null>"},
      {"left of empty", left_bytes(&EMPTY_BYTES, 3), "<null>"},
      {"right 2", right_bytes(block, 2), "6566"},
      {"right 99", right_bytes(block, 99), "616263646566"},
      {"right -1", right_bytes(block, -1), "<null>"},
      {"mid 2,3", mid_bytes(block, 2, 3), "626364"},
      {"mid 0,2", mid_bytes(block, 0, 2), "6162"},
      {"mid 5,9", mid_bytes(block, 5, 9), "6566"},
      {"mid 7,1", mid_bytes(block, 7, 1), "<null>"},
      {"mid 8,1", mid_bytes(block, 8, 1), "<null>"},
      {"mid 2,0", mid_bytes(block, 2, 0), "<null>"},
      {"mid of empty", mid_bytes(&EMPTY_BYTES, 1, 1), "<null>"},
  };
  for (const Slice& s : slices) {
    SCOPED_TRACE(s.name);
    EXPECT_EQ(hex(s.got), s.expected);
  }

  Bytes png = bytes_of(std::string("\x89PNG\r\n\x1a\n\0IHDR\0IHDR", 18));
  Bytes ihdr = bytes_of("IHDR");
  EXPECT_EQ(find_bytes(png.block(), ihdr.block()), 10);
  EXPECT_EQ(find_bytes(png.block(), ihdr.block(), 11), 15);
  EXPECT_EQ(find_bytes(png.block(), ihdr.block(), 16), -1);
  EXPECT_EQ(find_bytes(png.block(), ihdr.block(), -3), 10);
  EXPECT_EQ(find_bytes(png.block(), &EMPTY_BYTES), -1);
  EXPECT_EQ(find_bytes(ihdr.block(), png.block()), -1);
  Bytes zero = bytes_of(std::string("\0", 1));
  EXPECT_EQ(find_bytes(png.block(), zero.block()), 9);
}

}  // namespace
