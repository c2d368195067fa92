// The part of the text conversions that needs the system's locale tables.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <iterator>
#include <cwchar>
#include <string>

#include "runtime/gb18030_ranges.h"
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

namespace {

// GBK is code page 936, which every Windows has; GB18030 keeps its one- and two-byte codes and
// adds four-byte codes for every other character. The system converts the GBK part (Windows
// before 11 and Wine have no GB18030 code page); the four-byte codes are computed here.
constexpr UINT kGbk = 936;
constexpr uint32_t kSupplementaryIndex = 189000;  // the four-byte index of U+10000

bool is_four_byte(const unsigned char* p, size_t left) {
  return left >= 4 && p[0] >= 0x81 && p[0] <= 0xFE && p[1] >= 0x30 && p[1] <= 0x39 && p[2] >= 0x81 &&
         p[2] <= 0xFE && p[3] >= 0x30 && p[3] <= 0x39;
}

// The code point of a four-byte index, or 0 where the index stands for none.
uint32_t code_point_of(uint32_t index) {
  if (index >= kSupplementaryIndex) {
    const uint32_t cp = 0x10000 + (index - kSupplementaryIndex);
    return cp <= 0x10FFFF ? cp : 0;
  }
  const auto& runs = gb18030::kFourByteRuns;
  size_t lo = 0, hi = std::size(runs);
  while (lo < hi) {  // the last run whose first index is <= index
    const size_t mid = (lo + hi) / 2;
    if (runs[mid].index <= index) lo = mid + 1; else hi = mid;
  }
  if (lo == 0) return 0;
  const gb18030::FourByteRun& run = runs[lo - 1];
  return index - run.index < run.length ? run.first + (index - run.index) : 0;
}

// The four-byte index of a code point that GBK cannot hold, or -1 where GB18030 has none.
int64_t index_of(uint32_t cp) {
  if (cp >= 0x10000) return cp <= 0x10FFFF ? kSupplementaryIndex + (cp - 0x10000) : -1;
  const auto& runs = gb18030::kFourByteRuns;
  size_t lo = 0, hi = std::size(runs);
  while (lo < hi) {
    const size_t mid = (lo + hi) / 2;
    if (runs[mid].first <= cp) lo = mid + 1; else hi = mid;
  }
  if (lo == 0) return -1;
  const gb18030::FourByteRun& run = runs[lo - 1];
  return cp - run.first < run.length ? static_cast<int64_t>(run.index + (cp - run.first)) : -1;
}

void append_gbk_part(std::wstring& out, const char* bytes, size_t n) {
  if (n == 0) return;
  const int wide = MultiByteToWideChar(kGbk, 0, bytes, static_cast<int>(n), nullptr, 0);
  if (wide <= 0) return;
  const size_t at = out.size();
  out.resize(at + static_cast<size_t>(wide));
  MultiByteToWideChar(kGbk, 0, bytes, static_cast<int>(n), out.data() + at, wide);
}

// One UTF-16 character (one unit, or a surrogate pair) as GBK when it has a GBK code.
bool append_as_gbk(std::string& out, const wchar_t* ch, int units) {
  char buffer[8];
  BOOL lost = FALSE;
  const int n = WideCharToMultiByte(kGbk, WC_NO_BEST_FIT_CHARS, ch, units, buffer, sizeof buffer, nullptr, &lost);
  if (n <= 0 || lost) return false;
  out.append(buffer, static_cast<size_t>(n));
  return true;
}

}  // namespace

std::wstring text_to_wide(const char* text) {
  if (!text || !*text) return {};
  const size_t len = std::strlen(text);
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  std::wstring out;
  out.reserve(len);
  size_t run = 0;  // start of the pending GBK part
  for (size_t i = 0; i < len;) {
    if (p[i] < 0x80) {
      ++i;
    } else if (is_four_byte(p + i, len - i)) {
      append_gbk_part(out, text + run, i - run);
      const uint32_t index = (((p[i] - 0x81u) * 10 + (p[i + 1] - 0x30u)) * 126 + (p[i + 2] - 0x81u)) * 10 +
                             (p[i + 3] - 0x30u);
      const uint32_t cp = code_point_of(index);
      if (cp >= 0x10000) {
        out += static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10));
        out += static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
      } else {
        out += cp ? static_cast<wchar_t>(cp) : L'\uFFFD';
      }
      i += 4;
      run = i;
    } else {
      i += i + 1 < len ? 2 : 1;  // a double-byte character (or a lone last byte)
    }
  }
  append_gbk_part(out, text + run, len - run);
  return out;
}

Text wide_to_text(const wchar_t* text, size_t length) {
  if (!text || length == 0 || length > INT32_MAX / 4) return {};
  length = wcsnlen(text, length);  // a text ends at a NUL
  if (length == 0) return {};
  std::string out;
  // Most texts are GBK throughout: one call for them. (A surrogate never is; the system may not
  // report it as lost.)
  bool surrogates = false;
  for (size_t i = 0; i < length && !surrogates; ++i) surrogates = text[i] >= 0xD800 && text[i] <= 0xDFFF;
  BOOL lost = surrogates;
  const int whole = surrogates ? 0 : WideCharToMultiByte(kGbk, WC_NO_BEST_FIT_CHARS, text, static_cast<int>(length), nullptr, 0,
                                        nullptr, &lost);
  if (whole > 0 && !lost) {
    out.resize(static_cast<size_t>(whole));
    WideCharToMultiByte(kGbk, WC_NO_BEST_FIT_CHARS, text, static_cast<int>(length), out.data(), whole, nullptr,
                        nullptr);
    return Text(std::string_view(out));
  }
  out.reserve(length * 2);
  for (size_t i = 0; i < length;) {
    const wchar_t c = text[i];
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    uint32_t cp = c;
    int units = 1;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((static_cast<uint32_t>(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      units = 2;
    }
    const bool lone_surrogate = cp >= 0xD800 && cp <= 0xDFFF;
    if (!(cp < 0x10000 && !lone_surrogate && append_as_gbk(out, text + i, units))) {
      const int64_t index = lone_surrogate ? -1 : index_of(cp);  // a lone surrogate has none
      if (index < 0) {
        out += '?';
      } else {
        uint32_t n = static_cast<uint32_t>(index);
        char four[4];
        four[3] = static_cast<char>(0x30 + n % 10);
        n /= 10;
        four[2] = static_cast<char>(0x81 + n % 126);
        n /= 126;
        four[1] = static_cast<char>(0x30 + n % 10);
        four[0] = static_cast<char>(0x81 + n / 10);
        out.append(four, 4);
      }
    }
    i += static_cast<size_t>(units);
  }
  return Text(std::string_view(out));
}

Text wide_to_text(const wchar_t* text) { return wide_to_text(text, text ? std::wcslen(text) : 0); }

}  // namespace tambrel
