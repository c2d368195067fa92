// The part of the text conversions that needs the system's locale tables.
#include <windows.h>

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
  // Through UTF-16: the ANSI form would read the text in the system's code page, which is not
  // GBK on another locale.
  constexpr LCID kChinesePrc = 0x804;
  const std::wstring wide = text_to_wide(s.c_str());
  const int n = LCMapStringW(kChinesePrc, LCMAP_HALFWIDTH, wide.data(), static_cast<int>(wide.size()), nullptr, 0);
  if (n <= 0) return Text(s);
  std::wstring out(static_cast<size_t>(n), L'\0');
  if (LCMapStringW(kChinesePrc, LCMAP_HALFWIDTH, wide.data(), static_cast<int>(wide.size()), out.data(), n) != n) {
    return Text(s);
  }
  return wide_to_text(out.c_str(), out.size());
}

}  // namespace tambrel
