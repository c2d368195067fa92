// The update reply, read back by a decoder written here from the desktop tool's side of the
// exchange (markers, Base64 with spaces and CR LF removed, time check, mask, pair code), so
// the encoder is not checked against itself.
#include <gtest/gtest.h>

#include <ctime>

#include "stampd_config.h"
#include "stamps/stamp_service.h"
#include "stamps/update.h"
#include "test_support.h"

namespace tambrel {
namespace {

const std::string kAlphabet = "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";

std::string toolPairDecode(const std::string& data, const std::string& key) {
  if (data.size() % 2) return {};
  std::string out;
  size_t k = 0;
  for (size_t p = 0; p + 1 < data.size(); p += 2) {
    int a = static_cast<int>(kAlphabet.find(data[p])) + 1, b = static_cast<int>(kAlphabet.find(data[p + 1])) + 1;
    if (k >= key.size()) k = 0;
    out.push_back(static_cast<char>(((62 * (b - 1) + a - 1) & 0xFF) ^ static_cast<unsigned char>(key[k])));
    ++k;
  }
  return out;
}

std::string toolBase64Decode(std::string text) {
  std::string clean;
  for (char c : text)
    if (c != ' ' && c != '\r' && c != '\n') clean += c;
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  unsigned buf = 0;
  int bits = 0;
  for (char c : clean) {
    if (c == '=') break;
    buf = (buf << 6) | static_cast<unsigned>(alphabet.find(c));
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<char>((buf >> bits) & 0xFF));
    }
  }
  return out;
}

struct Decoded {
  long long t;
  std::string version;  // or the tool's expired-key text
};

Decoded toolDecode(const std::string& reply, const std::string& replyKey, const std::string& pairKey, long long now) {
  EXPECT_EQ(reply.rfind("<$$>", 0), 0u);
  EXPECT_EQ(reply.substr(reply.size() - 5), "</$$>");
  std::string payload = reply.substr(4, reply.size() - 9);
  std::string raw = toolBase64Decode(payload);
  EXPECT_GE(raw.size(), 11u);
  std::string head = raw.substr(0, 10);
  for (char c : head) EXPECT_TRUE(c >= '0' && c <= '9') << "issue time must be ten digits";
  long long t = std::stoll(head);
  if (t + 86400 < now) return {t, "expired"};
  unsigned char m = 0;
  for (char c : replyKey) m ^= static_cast<unsigned char>(c);
  for (char c : head) m ^= static_cast<unsigned char>(c);
  std::string plain;
  for (size_t i = 11; i < raw.size(); ++i) plain.push_back(static_cast<char>(raw[i] ^ m));
  return {t, toolPairDecode(plain, pairKey)};
}

TEST(PairCode, EncodesWhatTheToolDecodes) {
  const std::string key = TAMBREL_PAIR_KEY;
  for (std::string s : {std::string("1.0"), std::string("1.0.1"), std::string(TAMBREL_REPLY_KEY),
                        std::string("http://127.0.0.1:8077/check/"), std::string("\x01\xFF\x80 x", 5)}) {
    std::string enc = update::pairEncode(s, key);
    EXPECT_EQ(enc.size(), 2 * s.size());
    for (char c : enc) EXPECT_NE(kAlphabet.find(c), std::string::npos);
    EXPECT_EQ(toolPairDecode(enc, key), s);
    EXPECT_EQ(update::pairDecode(enc, key), s);
  }
  EXPECT_EQ(update::pairDecode("abc", key), "");  // odd length
}

TEST(UpdateReply, DecodesToTheLatestVersion) {
  struct Case {
    std::string version;
    long long t;
  } cases[] = {{"1.0", 1700000000}, {"1.1", 1234567890}, {"0.9", 1999999999}, {"1.0.1", 1000000000}, {"10.20.30", 1700000123}};
  for (const Case& c : cases) {
    std::string reply = update::updateReply(c.version, TAMBREL_PAIR_KEY, TAMBREL_REPLY_KEY, c.t);
    Decoded d = toolDecode(reply, TAMBREL_REPLY_KEY, TAMBREL_PAIR_KEY, c.t);
    EXPECT_EQ(d.t, c.t);
    EXPECT_EQ(d.version, c.version);
  }
}

TEST(UpdateReply, IssueTimeIsTheToolsClock) {
  // The tool counts from 1970-01-01 08:00:00 in local time; compare with an independent
  // computation through mktime on the same machine.
  std::time_t now = std::time(nullptr);
  std::tm epoch{};
  epoch.tm_year = 70;
  epoch.tm_mon = 0;
  epoch.tm_mday = 1;
  epoch.tm_hour = 8;
  epoch.tm_isdst = 0;
  std::time_t epochUnix = std::mktime(&epoch);
  std::tm local{};
  localtime_r(&now, &local);
  long long dst = local.tm_isdst > 0 ? 3600 : 0;
  EXPECT_NEAR(static_cast<double>(update::toolEpochSeconds(now)), static_cast<double>(now - epochUnix + dst), 1.0);
}

TEST(UpdateReply, ServiceAnswersFreshAndShiftedReplies) {
  struct Case {
    long long offset;
    bool expired;
  } cases[] = {{0, false}, {-86000, false}, {-86401 - 5, true}, {-10 * 86400, true}, {3600, false}};
  for (const Case& c : cases) {
    ServiceOptions o;
    o.pairKey = TAMBREL_PAIR_KEY;
    o.replyKey = TAMBREL_REPLY_KEY;
    o.latestVersion = "1.2";
    o.updateTimeOffset = c.offset;
    StampService service(Catalog::builtIn(), testing_support::fonts(), o);
    Response r = service.handle("GET", "/check/md5.php?message=kwpn");
    ASSERT_EQ(r.status, 200);
    long long now = update::toolEpochSeconds(std::time(nullptr));
    Decoded d = toolDecode(*r.body, TAMBREL_REPLY_KEY, TAMBREL_PAIR_KEY, now);
    EXPECT_NEAR(static_cast<double>(d.t), static_cast<double>(now + c.offset), 2.0);
    EXPECT_EQ(d.version, c.expired ? "expired" : "1.2") << "offset " << c.offset;
  }
}

}  // namespace
}  // namespace tambrel
