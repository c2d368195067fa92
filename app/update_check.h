// The once-per-run update check. The service's address and the key of its reply are stored
// pair-coded and decoded here; the reply is "<$$>" + Base64 + "</$$>" around a ten-digit issue
// time, one ignored byte and the pair-coded version XOR-ed with a one-byte mask derived from
// the reply key and the issue time. A key older than a day is refused.
#pragma once

#include <cstdint>

#include "runtime/values.h"

namespace tambrel::app {

constexpr const char CURRENT_VERSION[] = "1.0";
constexpr const char UPDATE_QUERY[] = "md5.php?message=kwpn";
constexpr const char EXPIRED_KEY_TEXT[] = "无法解密数据,Key时间错误";
constexpr int64_t KEY_LIFETIME_SECONDS = 86400;

// Each output byte comes from two alphabet characters and one key byte; odd data gives the
// empty block. The result has one zero byte more than it carries, so it reads as a text.
Bytes pairDecode(const BytesBlock* data, const BytesBlock* key);
// The text between "<$$>" and "</$$>" (any letter case), or null when either is missing.
Text extractPayload(const char* text);
// Standard Base64 with CR LF and spaces ignored; null when the text is not Base64.
Bytes base64Decode(const char* text);
// The version text inside a payload; EXPIRED_KEY_TEXT when the issue time is more than a day
// old; null when the payload is not Base64 or too short to hold an issue time and a body.
Text decryptPayload(const char* payload, const char* replyKey);
// Seconds from 1970-01-01 08:00:00 local time to now (the Unix time on a UTC+8 machine).
int64_t currentEpochSeconds();

// What a reply asks the user, if anything: the latest version text when it differs from ours.
enum class UpdateVerdict { None, NewVersion, ExpiredKey };
UpdateVerdict judgeUpdateReply(const BytesBlock* reply, Text* latest);

// Has the shell open an address (the browser for http addresses) and waits until the shell has
// handed it on: a browser registered through a shell extension needs COM on the calling thread
// and a caller that does not go away at once (the update thread ends right after). Safe on any
// thread, whether or not it has COM already.
void openAddress(const char* address);

// The update thread's entry: asks the service, compares, offers the download page.
unsigned long __stdcall checkForUpdate(void* unused);

}  // namespace tambrel::app
