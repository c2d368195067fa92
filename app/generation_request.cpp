#include "app/generation_request.h"

#include <windows.h>

#include <string>

#include "runtime/text.h"

namespace tambrel::app {
namespace {

constexpr char REPLY_START[] = "<outputimg>.";
constexpr char REPLY_END[] = "</outputimg>";

// The text is GB18030 (GBK, with four-byte codes for characters beyond it): every character
// the user typed, an emoji or a CJK Extension B name included, reaches the service as itself.
std::string gbk_to_utf8(const char* gbk) {
  const std::wstring wide = text_to_wide(gbk);
  if (wide.empty()) return {};
  const int len = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(len), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()), utf8.data(), len, nullptr, nullptr);
  return utf8;
}

bool unreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || c == '.' || c == '~';
}

}  // namespace

Text textBetween(const char* text, const char* startMarker, const char* endMarker,
                 int32_t* position) {
  int32_t p = find_text(text, startMarker, *position < 1 ? 1 : *position);
  p += static_cast<int32_t>(text_length(startMarker));
  *position = p;
  const int32_t q = find_text(text, endMarker, p);
  return mid_text(text, p, static_cast<int64_t>(q) - p);
}

Text percentEncode(const char* gbk) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : gbk_to_utf8(gbk)) {
    if (unreserved(c)) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(hex[c >> 4]);
      out.push_back(hex[c & 15]);
    }
  }
  return Text(std::string_view(out));
}

Text rndText(int32_t n) { return value_to_text(float_arg(static_cast<float>(n) / 10.0f)); }

Text buildGenerateUrl(const char* host, const char* stampText, const char* templateId,
                      const char* sizeText, int32_t n) {
  const Text text = percentEncode(stampText);
  const Text size = percentEncode(sizeText);
  const Text rnd = rndText(n);
  return text_concat({"http://", host, "/aosbegin.php?text=", text.c_str(), "&id=", templateId,
                      "&signsize=", size.c_str(), "&rnd=", rnd.c_str()});
}

Text pictureUrlFromReply(const char* host, const char* reply) {
  if (find_text(reply, REPLY_START) == -1) return {};
  int32_t position = 0;
  Text path = textBetween(reply, REPLY_START, REPLY_END, &position);
  if (find_text(reply, REPLY_END, position) == -1 || path.empty()) return {};
  return text_concat({"http://", host, path.c_str()});
}

}  // namespace tambrel::app
