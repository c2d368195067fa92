// Building the rendering request and reading the picture path out of the reply.
#include <gtest/gtest.h>

#include <string>

#include "app/generation_request.h"

using namespace tambrel;
using namespace tambrel::app;

namespace {

TEST(GenerationRequest, UrlForTheDefaultInputs) {
  Text url = buildGenerateUrl("127.0.0.1:8077", "Tambrel", "368", "0", 3);
  EXPECT_STREQ(url.c_str(),
               "http://127.0.0.1:8077/aosbegin.php?text=Tambrel&id=368&signsize=0&rnd=0.3");
}

TEST(GenerationRequest, RndTexts) {
  const char* expected[] = {"0.1", "0.2", "0.3", "0.4", "0.5", "0.6", "0.7", "0.8", "0.9", "1"};
  for (int n = 1; n <= 10; ++n) EXPECT_STREQ(rndText(n).c_str(), expected[n - 1]) << n;
}

TEST(GenerationRequest, StampTextCannotBreakTheQuery) {
  struct Case {
    const char* text;
    const char* encoded;
  };
  const Case cases[] = {
      {"A&id=1", "A%26id%3D1"},
      {"a b+c#d", "a%20b%2Bc%23d"},
      {"张三", "%E5%BC%A0%E4%B8%89"},  // GBK in, UTF-8 on the wire
      // Beyond GBK, carried as GB18030: an emoji, CJK Extension B, Hangul.
      {"\xD3\xA1\xD5\xC2\x94\x39\xFC\x36", "%E5%8D%B0%E7%AB%A0%F0%9F%98%80"},  // 印章😀
      {"\x95\x32\x82\x36\xD3\xA1", "%F0%A0%80%80%E5%8D%B0"},                   // 𠀀印
      {"\x83\x36\x84\x33\x82\x38\x84\x37", "%ED%95%9C%EA%B8%80"},              // 한글
      {"-_.~", "-_.~"},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_STREQ(percentEncode(c.text).c_str(), c.encoded);
  }
  Text url = buildGenerateUrl("h", "x&y", "368", "1 0", 10);
  EXPECT_STREQ(url.c_str(), "http://h/aosbegin.php?text=x%26y&id=368&signsize=1%200&rnd=1");
}

TEST(GenerationRequest, PictureUrlFromReply) {
  struct Case {
    const char* reply;
    const char* url;  // nullptr: nothing to fetch
  };
  const Case cases[] = {
      {"<r><outputimg>./stamp/368/0/Tambrel.png</outputimg></r>",
       "http://h:1/stamp/368/0/Tambrel.png"},
      {"<outputimg>./a.png</outputimg><outputimg>./b.png</outputimg>", "http://h:1/a.png"},
      {"", nullptr},
      {"<error>too short</error>", nullptr},
      {"<outputimg>./a.png", nullptr},   // no end marker
      {"./a.png</outputimg>", nullptr},  // no start marker
      {"<outputimg>.</outputimg>", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    Text url = pictureUrlFromReply("h:1", c.reply);
    if (c.url) {
      EXPECT_STREQ(url.c_str(), c.url);
    } else {
      EXPECT_EQ(url.get(), nullptr);
    }
  }
}

TEST(GenerationRequest, TextBetweenMovesThePosition) {
  int32_t position = 0;
  Text t = textBetween("xx[ab]yy[cd]", "[", "]", &position);
  EXPECT_STREQ(t.c_str(), "ab");
  EXPECT_EQ(position, 4);
  t = textBetween("xx[ab]yy[cd]", "[", "]", &position);
  EXPECT_STREQ(t.c_str(), "cd");
  EXPECT_EQ(position, 10);
}

}  // namespace
