// The part of the text conversions that needs the system's locale tables.
#include <windows.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "runtime/text.h"

namespace tambrel {

Text normalize_number_text(const char* text) {
  const size_t len = text_length(text);
  if (!len) return {};
  // The slashes first: the half-width mapping alone does not give "/" and "\" for them.
  std::string s;
  s.reserve(len);
  for (size_t i = 0; i < len;) {
    const bool dbcs = (static_cast<unsigned char>(text[i]) & 0x80) && i + 1 < len;
    if (dbcs && text[i] == "／"[0] && text[i + 1] == "／"[1]) {
      s += '/';
    } else if (dbcs && text[i] == "＼"[0] && text[i + 1] == "＼"[1]) {
      s += '\\';
    } else {
      s.append(text + i, dbcs ? 2 : 1);
    }
    i += dbcs ? 2 : 1;
  }
  constexpr LCID kChinesePrc = 0x804;
  const int n =
      LCMapStringA(kChinesePrc, LCMAP_HALFWIDTH, s.data(), static_cast<int>(s.size()), nullptr, 0);
  if (n <= 0) return Text(s);
  std::string out(static_cast<size_t>(n), '\0');
  if (LCMapStringA(kChinesePrc, LCMAP_HALFWIDTH, s.data(), static_cast<int>(s.size()), out.data(),
                   n) != n) {
    return Text(s);
  }
  return Text(out);
}

std::wstring text_to_wide(const char* text) {
  if (!text || !*text) return {};
  const int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (n <= 1) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, -1, out.data(), n);
  out.resize(static_cast<size_t>(n - 1));  // std::wstring keeps its own terminator
  return out;
}

Text wide_to_text(const wchar_t* text, size_t length) {
  if (!text || length == 0 || length > INT32_MAX / 4) return {};
  const int wide = static_cast<int>(length);
  const int n = WideCharToMultiByte(CP_ACP, 0, text, wide, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, wide, out.data(), n, nullptr, nullptr);
  out.resize(std::strlen(out.c_str()));
  if (out.empty()) return {};
  return Text(std::string_view(out));
}

Text wide_to_text(const wchar_t* text) { return wide_to_text(text, text ? std::wcslen(text) : 0); }

}  // namespace tambrel
