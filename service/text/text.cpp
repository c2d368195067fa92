// Byte-level text helpers; see text.h for why the service reads texts the way it does.
#include "text/text.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <limits>
#include <memory>

namespace tambrel::text {
namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

struct IconvCloser {
  void operator()(iconv_t cd) const { iconv_close(cd); }
};

}  // namespace

std::string percentDecode(std::string_view in) {
  std::string out;
  out.reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '%' && i + 2 < in.size()) {
      int hi = hexValue(in[i + 1]), lo = hexValue(in[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
        continue;
      }
    }
    out.push_back(in[i]);
  }
  return out;
}

namespace {

// The length of the UTF-8 sequence at in[i] and its code point; 0 when the bytes there are not
// UTF-8 (a stray continuation byte, a cut sequence, an over-long form, a surrogate or a value
// past U+10FFFF).
size_t utf8At(std::string_view in, size_t i, char32_t& cp) {
  const unsigned char c = static_cast<unsigned char>(in[i]);
  if (c < 0x80) {
    cp = c;
    return 1;
  }
  size_t len;
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
    cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    cp = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    cp = c & 0x07;
  } else {
    return 0;
  }
  if (i + len > in.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    const unsigned char cc = static_cast<unsigned char>(in[i + k]);
    if ((cc & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (cc & 0x3F);
  }
  if ((len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
    return 0;
  return len;
}

}  // namespace

std::string jsonString(std::string_view s) {
  std::string out = "\"";
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    const unsigned char u = static_cast<unsigned char>(c);
    if (u >= 0x80) {
      // JSON is UTF-8: bytes that are not (a query's %FF echoed in a message) become U+FFFD.
      char32_t cp;
      const size_t len = utf8At(s, i, cp);
      if (len) {
        out.append(s.substr(i, len));
        i += len - 1;
      } else {
        out += "\\ufffd";
      }
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20 || c == '<' || c == '>' || c == '&') {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", u);
      out += buf;
    } else {
      out += c;
    }
  }
  out += '"';
  return out;
}

std::string percentEncode(std::string_view in) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(in.size() * 3);
  for (unsigned char c : in) {
    bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '_' || c == '.' || c == '~';
    if (unreserved) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  return out;
}

std::optional<std::u32string> decodeUtf8(std::string_view in) {
  std::u32string out;
  out.reserve(in.size());
  size_t i = 0;
  while (i < in.size()) {
    char32_t cp;
    const size_t len = utf8At(in, i, cp);
    if (!len) return std::nullopt;
    out.push_back(cp);
    i += len;
  }
  return out;
}

std::string encodeUtf8(std::u32string_view in) {
  std::string out;
  out.reserve(in.size() * 3);
  for (char32_t cp : in) {
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

std::optional<std::string> gbkToUtf8(std::string_view in) {
  // iconv descriptors are not thread-safe, so each call opens its own; the cost is small next
  // to rendering and only old clients take this path.
  iconv_t raw = iconv_open("UTF-8", "GBK");
  if (raw == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::unique_ptr<std::remove_pointer_t<iconv_t>, IconvCloser> cd(raw);
  std::string out(in.size() * 2 + 4, '\0');
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  char* dst = out.data();
  size_t dstLeft = out.size();
  if (iconv(cd.get(), &src, &srcLeft, &dst, &dstLeft) == static_cast<size_t>(-1)) return std::nullopt;
  out.resize(out.size() - dstLeft);
  return out;
}

std::optional<std::string> toUtf8(std::string_view bytes) {
  if (decodeUtf8(bytes)) return std::string(bytes);
  return gbkToUtf8(bytes);
}

std::vector<QueryParam> splitQuery(std::string_view query) {
  std::vector<QueryParam> out;
  size_t start = 0;
  while (start <= query.size()) {
    size_t amp = query.find('&', start);
    if (amp == std::string_view::npos) amp = query.size();
    std::string_view part = query.substr(start, amp - start);
    if (!part.empty()) {
      size_t eq = part.find('=');
      QueryParam p;
      p.raw = std::string(part);
      if (eq == std::string_view::npos) {
        p.key = percentDecode(part);
      } else {
        p.key = percentDecode(part.substr(0, eq));
        p.value = std::string(part.substr(eq + 1));
      }
      out.push_back(std::move(p));
    }
    start = amp + 1;
  }
  return out;
}

std::optional<long long> parseInteger(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  bool negative = false;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (s.empty()) return std::nullopt;
  long long value = 0;
  constexpr long long kMax = std::numeric_limits<long long>::max();
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    int d = c - '0';
    value = (value > (kMax - d) / 10) ? kMax : value * 10 + d;
  }
  return negative ? -value : value;
}

bool isControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029; }

bool isSpace(char32_t c) { return c == U' ' || c == U'\t' || c == 0x3000 || c == 0xA0; }

bool isHalfWidth(char32_t c) {
  return (c >= 0x20 && c <= 0x7E) || c == 0xA0 || (c >= 0xC0 && c <= 0x24F) || (c >= 0xFF61 && c <= 0xFFDC) ||
         (c >= 0xFFE8 && c <= 0xFFEE);
}

std::vector<CellRun> cellRuns(std::u32string_view s) {
  std::vector<CellRun> runs;
  for (size_t i = 0; i < s.size();) {
    CellRun r;
    r.begin = i;
    r.halfWidth = isHalfWidth(s[i]);
    if (r.halfWidth) {
      while (i < s.size() && isHalfWidth(s[i])) ++i;
      r.cells = static_cast<int>((i - r.begin + 1) / 2);
    } else {
      ++i;
    }
    r.end = i;
    runs.push_back(r);
  }
  return runs;
}

int cellCount(std::u32string_view s) {
  int cells = 0;
  for (const CellRun& r : cellRuns(s)) cells += r.cells;
  return cells;
}

std::u32string trimSpaces(std::u32string_view s) {
  while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
  return std::u32string(s);
}

}  // namespace tambrel::text
