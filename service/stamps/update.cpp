// Update reply encoding; see update.h.
#include "stamps/update.h"

#include <cstdio>

namespace tambrel::update {
namespace {

constexpr std::string_view kPairAlphabet = "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
constexpr std::string_view kBase64Alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
long long daysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

}  // namespace

std::string pairEncode(std::string_view data, std::string_view key) {
  std::string out;
  out.reserve(data.size() * 2);
  for (size_t i = 0; i < data.size(); ++i) {
    unsigned v = static_cast<unsigned char>(data[i]) ^ static_cast<unsigned char>(key[i % key.size()]);
    out.push_back(kPairAlphabet[v % 62]);
    out.push_back(kPairAlphabet[v / 62]);
  }
  return out;
}

std::string pairDecode(std::string_view data, std::string_view key) {
  if (data.size() % 2 != 0 || key.empty()) return {};
  std::string out;
  for (size_t p = 0, j = 0; p + 1 < data.size(); p += 2, ++j) {
    size_t a = kPairAlphabet.find(data[p]), b = kPairAlphabet.find(data[p + 1]);
    if (a == std::string_view::npos || b == std::string_view::npos) return {};
    out.push_back(static_cast<char>(((62 * b + a) & 0xFF) ^ static_cast<unsigned char>(key[j % key.size()])));
  }
  return out;
}

std::string base64Encode(std::string_view data) {
  std::string out;
  out.reserve((data.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < data.size(); i += 3) {
    unsigned v = (static_cast<unsigned char>(data[i]) << 16) | (static_cast<unsigned char>(data[i + 1]) << 8) |
                 static_cast<unsigned char>(data[i + 2]);
    out += kBase64Alphabet[v >> 18];
    out += kBase64Alphabet[(v >> 12) & 63];
    out += kBase64Alphabet[(v >> 6) & 63];
    out += kBase64Alphabet[v & 63];
  }
  if (i < data.size()) {
    unsigned v = static_cast<unsigned char>(data[i]) << 16;
    if (i + 1 < data.size()) v |= static_cast<unsigned char>(data[i + 1]) << 8;
    out += kBase64Alphabet[v >> 18];
    out += kBase64Alphabet[(v >> 12) & 63];
    out += i + 1 < data.size() ? kBase64Alphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

long long toolEpochSeconds(std::time_t unixTime) {
  std::tm local{};
  localtime_r(&unixTime, &local);
  long long days = daysFromCivil(local.tm_year + 1900LL, static_cast<unsigned>(local.tm_mon + 1),
                                 static_cast<unsigned>(local.tm_mday));
  return days * 86400 + local.tm_hour * 3600LL + local.tm_min * 60LL + local.tm_sec - 8 * 3600LL;
}

std::string updateReply(std::string_view latestVersion, std::string_view pairKey, std::string_view replyKey,
                        long long t) {
  // The tool reads exactly ten digits; clamp rather than emit a time it would misread.
  if (t < 0) t = 0;
  if (t > 9999999999LL) t = 9999999999LL;
  char head[16];
  std::snprintf(head, sizeof head, "%010lld", t);
  unsigned char mask = 0;
  for (char c : replyKey) mask ^= static_cast<unsigned char>(c);
  for (int i = 0; i < 10; ++i) mask ^= static_cast<unsigned char>(head[i]);
  std::string raw(head, 10);
  raw += '|';
  for (char c : pairEncode(latestVersion, pairKey)) raw += static_cast<char>(static_cast<unsigned char>(c) ^ mask);
  return "<$$>" + base64Encode(raw) + "</$$>";
}

}  // namespace tambrel::update
