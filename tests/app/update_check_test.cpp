// The update reply, built here by an independent encoder and read back by the tool's decoder.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "app/config.h"
#include "app/update_check.h"
#include "runtime/text.h"

using namespace tambrel;
using namespace tambrel::app;

namespace {

const std::string kAlphabet = "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";

std::string pair_encode(const std::string& plain, const std::string& key) {
  std::string out;
  for (size_t j = 0; j < plain.size(); ++j) {
    const int v = static_cast<unsigned char>(plain[j]) ^ static_cast<unsigned char>(key[j % key.size()]);
    out += kAlphabet[v % 62];
    out += kAlphabet[v / 62];
  }
  return out;
}

std::string base64(const std::string& raw) {
  static const char t[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < raw.size(); i += 3) {
    uint32_t g = static_cast<unsigned char>(raw[i]) << 16;
    if (i + 1 < raw.size()) g |= static_cast<unsigned char>(raw[i + 1]) << 8;
    if (i + 2 < raw.size()) g |= static_cast<unsigned char>(raw[i + 2]);
    out += t[g >> 18 & 63];
    out += t[g >> 12 & 63];
    out += i + 1 < raw.size() ? t[g >> 6 & 63] : '=';
    out += i + 2 < raw.size() ? t[g & 63] : '=';
  }
  return out;
}

std::string reply_key() {
  Bytes key(PAIR_KEY, std::strlen(PAIR_KEY));
  Bytes plain = pairDecode(&ENCODED_REPLY_KEY, key.block());
  return reinterpret_cast<const char*>(plain.data());
}

// The service's side of the exchange, written from the reply format alone.
std::string make_reply(const std::string& version, int64_t issued) {
  char head[16];
  std::snprintf(head, sizeof head, "%010lld", static_cast<long long>(issued));
  unsigned char mask = 0;
  for (char c : reply_key()) mask ^= static_cast<unsigned char>(c);
  for (int i = 0; i < 10; ++i) mask ^= static_cast<unsigned char>(head[i]);
  std::string body = pair_encode(version, PAIR_KEY);
  for (char& c : body) c = static_cast<char>(c ^ mask);
  return "<$$>" + base64(std::string(head) + "x" + body) + "</$$>";
}

UpdateVerdict judge(const std::string& reply, Text* latest) {
  Bytes block(reply.data(), reply.size());
  return judgeUpdateReply(block.block(), latest);
}

TEST(PairCode, OddEmptyAndKeyCycling) {
  Bytes key("ab", 2);
  Bytes odd("abc", 3);
  EXPECT_EQ(pairDecode(odd.block(), key.block()).size(), 0u);
  Bytes empty = pairDecode(&EMPTY_BYTES, key.block());
  ASSERT_EQ(empty.size(), 1u);
  EXPECT_EQ(empty.data()[0], 0);
  // Output byte j uses key byte ((j - 1) mod L) + 1.
  const std::string encoded = pair_encode("hello", "ab");
  Bytes data(encoded.data(), encoded.size());
  Bytes plain = pairDecode(data.block(), key.block());
  EXPECT_STREQ(reinterpret_cast<const char*>(plain.data()), "hello");
}

TEST(PairCode, ConfiguredConstantsDecode) {
  EXPECT_EQ(ENCODED_REPLY_KEY.length, 42);
  EXPECT_EQ(ENCODED_URL_PREFIX.length, 56);
  EXPECT_EQ(std::strlen(PAIR_KEY), 18u);
  EXPECT_EQ(reply_key().size(), 21u);
  Bytes key(PAIR_KEY, std::strlen(PAIR_KEY));
  Bytes prefix = pairDecode(&ENCODED_URL_PREFIX, key.block());
  EXPECT_STREQ(reinterpret_cast<const char*>(prefix.data()), "http://127.0.0.1:8077/check/");
}

TEST(UpdateReply, Payloads) {
  EXPECT_STREQ(extractPayload("<$$>P</$$>").c_str(), "P");
  EXPECT_STREQ(extractPayload("junk<$$>PQ</$$>tail").c_str(), "PQ");
  EXPECT_EQ(extractPayload("<$$>P").get(), nullptr);
  EXPECT_EQ(extractPayload("").get(), nullptr);
}

TEST(UpdateReply, Base64) {
  struct Case {
    const char* text;
    const char* raw;  // nullptr: invalid
  };
  const Case cases[] = {
      {"aGVsbG8=", "hello"}, {"aGVs\r\nbG8 =", "hello"}, {"aGVsbG8", "hello"},
      {"aGk=", "hi"},        {"a$==", nullptr},           {"aG=k", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Bytes b = base64Decode(c.text);
    if (c.raw) {
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.data()), b.size()), c.raw);
    } else {
      EXPECT_EQ(b.get(), nullptr);
    }
  }
}

TEST(UpdateReply, Verdicts) {
  const int64_t now = currentEpochSeconds();
  struct Case {
    std::string reply;
    UpdateVerdict verdict;
    const char* latest;
  };
  const Case cases[] = {
      {make_reply("1.1", now), UpdateVerdict::NewVersion, "1.1"},
      {make_reply("0.9", now), UpdateVerdict::NewVersion, "0.9"},
      {make_reply("1.0.1", now - 3600), UpdateVerdict::NewVersion, "1.0.1"},
      {make_reply("1.0", now), UpdateVerdict::None, ""},
      {make_reply("1.1", now + 86400 * 30), UpdateVerdict::NewVersion, "1.1"},  // future: fine
      {make_reply("1.1", now - 86400 - 120), UpdateVerdict::ExpiredKey, "无法解密数据,Key时间错误"},
      {"", UpdateVerdict::None, ""},
      {"<$$>not base64!</$$>", UpdateVerdict::None, ""},
      {"<$$>" + base64("12345") + "</$$>", UpdateVerdict::None, ""},  // shorter than 12 bytes
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    Text latest;
    EXPECT_EQ(judge(c.reply, &latest), c.verdict);
    if (c.verdict != UpdateVerdict::None) EXPECT_STREQ(latest.c_str(), c.latest);
  }
}

TEST(UpdateReply, EpochSecondsFollowTheClock) {
  const int64_t a = currentEpochSeconds();
  EXPECT_GT(a, 1700000000 - 8 * 3600);
  Sleep(1100);
  const int64_t b = currentEpochSeconds();
  EXPECT_GE(b - a, 1);
  EXPECT_LE(b - a, 5);
}

}  // namespace
