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

}  // namespace tambrel
