// The update-check reply: "<$$>" + Base64(T + one byte + body) + "</$$>", where T is the issue
// time as ten decimal digits and body is the pair-coded latest version with every byte XOR-ed
// with one mask byte (the XOR of the reply key and of T's ten digits).
//
// T counts seconds from 1970-01-01 08:00:00 in the local time of the machine, because that is
// how the desktop tool computes "now" (local wall clock minus that date) when it checks the
// key's age: on a UTC+8 machine T is the Unix time, on a UTC machine eight hours less.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace tambrel::update {

// Pair code: each byte x, XOR-ed with the key byte k, becomes the two alphabet characters
// alphabet[v % 62] and alphabet[v / 62] of v = x ^ k (the key repeats).
std::string pairEncode(std::string_view data, std::string_view key);
std::string pairDecode(std::string_view data, std::string_view key);

std::string base64Encode(std::string_view data);

// Seconds from 1970-01-01 08:00:00 local time to the local time of unixTime.
long long toolEpochSeconds(std::time_t unixTime);

// The whole reply body for the latest version, issued at T.
std::string updateReply(std::string_view latestVersion, std::string_view pairKey, std::string_view replyKey, long long t);

}  // namespace tambrel::update
