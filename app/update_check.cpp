#include "app/update_check.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <cmath>
#include <cstring>
#include <string>

#include "app/config.h"
#include "runtime/datetime.h"
#include "runtime/interaction.h"
#include "runtime/text.h"
#include "web/web_request.h"

namespace tambrel::app {
namespace {

constexpr char PAIR_ALPHABET[] = "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
constexpr char BASE64_ALPHABET[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char START_MARKER[] = "<$$>";
constexpr char END_MARKER[] = "</$$>";
constexpr char EPOCH_TEXT[] = "1970-01-01 08:00:00";

int alphabet_position(const char* alphabet, unsigned char c) {
  const char* at = std::strchr(alphabet, c);
  return c && at ? static_cast<int>(at - alphabet) + 1 : 0;
}

Text bytes_as_text(const Bytes& b) {
  ArgValue v = read_bytes_value(b.block(), 10);
  return Text::adopt(static_cast<char*>(v.value.ptr));
}

Bytes key_block(const char* key) { return Bytes(key, std::strlen(key)); }

}  // namespace

Bytes pairDecode(const BytesBlock* data, const BytesBlock* key) {
  const int32_t n = data->length;
  if (n % 2) return Bytes::adopt(const_cast<BytesBlock*>(&EMPTY_BYTES));
  Bytes out = Bytes::zeroed(n + 1);
  const int32_t key_length = key->length;
  int32_t k = 1;
  for (int32_t p = 1, j = 1; p <= n; p += 2, ++j) {
    const int a = alphabet_position(PAIR_ALPHABET, data->data()[p - 1]);
    const int b = alphabet_position(PAIR_ALPHABET, data->data()[p]);
    if (k > key_length) k = 1;
    const unsigned char key_byte = key_length ? key->data()[k - 1] : 0;
    out.data()[j - 1] = static_cast<unsigned char>((62 * (b - 1) + a - 1) & 0xFF) ^ key_byte;
    ++k;
  }
  return out;
}

Text extractPayload(const char* text) {
  const int32_t s = find_text(text, START_MARKER, std::nullopt, true);
  if (s == -1) return {};
  const int32_t begin = s + static_cast<int32_t>(std::strlen(START_MARKER));
  const int32_t e = find_text(text, END_MARKER, begin, true);
  if (e == -1) return {};
  // The payload is what stands between the markers, wherever they are in the reply.
  return mid_text(text, begin, e - begin);
}

Bytes base64Decode(const char* text) {
  Text no_spaces = remove_spaces(text);
  Text clean = replace_text(no_spaces.c_str(), "\r\n", "");
  const char* s = clean.c_str();
  const size_t n = std::strlen(s);
  std::string out;
  out.reserve(n / 4 * 3 + 3);
  uint32_t group = 0;
  int have = 0, fill = 0;
  for (size_t i = 0; i < n; ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    int value;
    if (c == '=') {
      ++fill;
      value = 0;
    } else {
      if (fill) return {};  // data after a fill character
      const int pos = alphabet_position(BASE64_ALPHABET, c);
      if (!pos) return {};
      value = pos - 1;
    }
    group = group << 6 | static_cast<uint32_t>(value);
    if (++have == 4) {
      const int bytes = 3 - fill;
      if (bytes < 1) return {};
      for (int b = 0; b < bytes; ++b) out.push_back(static_cast<char>(group >> (16 - 8 * b) & 0xFF));
      group = 0;
      have = 0;
    }
  }
  if (have) {
    // A trailing incomplete group still carries its whole bytes.
    group <<= 6 * (4 - have);
    const int bytes = have * 6 / 8 - fill;
    for (int b = 0; b < bytes; ++b) out.push_back(static_cast<char>(group >> (16 - 8 * b) & 0xFF));
  }
  if (out.empty()) return {};
  return Bytes(out.data(), out.size());
}

Text decryptPayload(const char* payload, const char* replyKey) {
  Bytes raw = base64Decode(payload);
  if (raw.size() < 12) return {};
  Bytes head = left_bytes(raw.block(), 10);
  const int64_t issued = to_int(text_arg(bytes_as_text(head).c_str()));
  if (issued + KEY_LIFETIME_SECONDS < currentEpochSeconds()) return Text(EXPIRED_KEY_TEXT);
  Bytes body = mid_bytes(raw.block(), 12, static_cast<int64_t>(raw.size()) - 11);
  unsigned char mask = 0;
  for (const char* k = replyKey; *k; ++k) mask ^= static_cast<unsigned char>(*k);
  for (size_t i = 0; i < head.size(); ++i) mask ^= head.data()[i];
  for (size_t i = 0; i < body.size(); ++i) body.data()[i] ^= mask;
  return bytes_as_text(body);
}

int64_t currentEpochSeconds() {
  // Through text and back drops the fractions of a second, as the issue time has none.
  Text stamp = value_to_text(datetime_arg(now()));
  const double moment = to_datetime(stamp.c_str());
  // Both ends are whole seconds; the difference of two day fractions is not, so round it.
  return std::llround(datetime_diff(moment, to_datetime(EPOCH_TEXT), 8));
}

UpdateVerdict judgeUpdateReply(const BytesBlock* reply, Text* latest) {
  const Bytes pair_key = key_block(PAIR_KEY);
  const Text reply_key = bytes_as_text(pairDecode(&ENCODED_REPLY_KEY, pair_key.block()));
  Text reply_text = Text::adopt(static_cast<char*>(read_bytes_value(reply, 10).value.ptr));
  Text payload = extractPayload(reply_text.c_str());
  if (!payload.get()) return UpdateVerdict::None;
  Text plain = decryptPayload(payload.c_str(), reply_key.c_str());
  if (plain.empty()) return UpdateVerdict::None;
  if (plain == EXPIRED_KEY_TEXT) {
    *latest = std::move(plain);
    return UpdateVerdict::ExpiredKey;
  }
  Bytes plain_bytes(plain.c_str(), plain.size());
  *latest = bytes_as_text(pairDecode(plain_bytes.block(), pair_key.block()));
  return text_compare(latest->c_str(), CURRENT_VERSION) != 0 ? UpdateVerdict::NewVersion
                                                              : UpdateVerdict::None;
}

void openAddress(const char* address) {
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  const std::wstring wide = text_to_wide(address);
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOASYNC;
  info.lpVerb = L"open";
  info.lpFile = wide.c_str();
  info.nShow = SW_SHOWNORMAL;
  ShellExecuteExW(&info);
  if (SUCCEEDED(com)) CoUninitialize();  // only what this call began (S_FALSE included)
}

unsigned long __stdcall checkForUpdate(void*) {
  const Bytes pair_key = key_block(PAIR_KEY);
  const Text prefix = bytes_as_text(pairDecode(&ENCODED_URL_PREFIX, pair_key.block()));
  Text address = text_concat({prefix.c_str(), UPDATE_QUERY});
  Bytes reply = WebRequest(&address);
  Text latest;
  switch (judgeUpdateReply(reply.block(), &latest)) {
    case UpdateVerdict::None:
      break;
    case UpdateVerdict::ExpiredKey:
      show_message(latest.c_str());
      break;
    case UpdateVerdict::NewVersion: {
      Text question = text_concat({"\r\n当前版本：", CURRENT_VERSION, "\r\n最新版本：", latest.c_str(),
                                   "\r\n\r\n是否打开下载页面？"});
      if (show_message(question.c_str(), MB_YESNO, "发现新版本！") == IDYES - 1) {
        openAddress(DOWNLOAD_URL);
      }
      break;
    }
  }
  return 0;
}

}  // namespace tambrel::app
