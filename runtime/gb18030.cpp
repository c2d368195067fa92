// Texts and UTF-16 both ways as GB18030, entirely from the program's own table
// (gb18030_table.h, generated at build time from a reference codec by scripts/gen_gb18030.py).
//
// The system's code page 936 is deliberately not used for the two-byte part: it lacks 80
// characters that GB18030 codes in two bytes (刘䶮's 䶮, ⿰, 〾, ...), so those became "?", and
// it writes € as the single byte 0x80, which a scanner expecting two bytes after a lead byte
// then steps over together with the next byte. GB18030 is byte-identical to GBK for every GBK
// character, so the program's own GBK texts read as before.
//
// Portable: wchar_t is UTF-16 here (the program is built for Windows only).
#include <array>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <memory>
#include <string>

#include "runtime/gb18030_table.h"
#include "runtime/text.h"

namespace tambrel {
namespace {

static_assert(sizeof(wchar_t) == 2, "texts are carried to the system as UTF-16");

constexpr uint32_t kSupplementaryIndex = 189000;  // the four-byte index of U+10000
constexpr int kTrailCount = 190;                  // 0x40..0x7E and 0x80..0xFE
constexpr char32_t kReplacement = 0xFFFD;
// Code page 936 writes € as this single byte; texts from before may hold it.
constexpr unsigned char kSingleByteEuro = 0x80;

bool is_lead(unsigned char b) { return b >= 0x81 && b <= 0xFE; }
bool is_two_byte_trail(unsigned char b) { return b >= 0x40 && b <= 0xFE && b != 0x7F; }
bool is_digit(unsigned char b) { return b >= 0x30 && b <= 0x39; }

int trail_position(unsigned char b) { return b < 0x7F ? b - 0x40 : b - 0x41; }

// Code point -> two-byte code (lead << 8 | trail), 0 for none: the two-byte table turned round
// once, on first use.
const std::array<uint16_t, 0x10000>& two_byte_codes() {
  static const auto codes = [] {
    auto t = std::make_unique<std::array<uint16_t, 0x10000>>();
    t->fill(0);
    for (int i = 0; i < static_cast<int>(std::size(gb18030::kTwoByte)); ++i) {
      const int lead = 0x81 + i / kTrailCount;
      const int position = i % kTrailCount;
      const int trail = position < 0x3F ? 0x40 + position : 0x41 + position;
      (*t)[gb18030::kTwoByte[i]] = static_cast<uint16_t>(lead << 8 | trail);
    }
    return t;
  }();
  return *codes;
}

// The code point of a four-byte index, or 0 where the index stands for none.
char32_t code_point_of(uint32_t index) {
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

// The four-byte index of a code point without a one- or two-byte code, or -1 where it has none.
int64_t index_of(char32_t cp) {
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

void append_utf16(std::wstring& out, char32_t cp) {
  if (cp >= 0x10000) {
    out += static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10));
    out += static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
  } else {
    out += static_cast<wchar_t>(cp);
  }
}

// One code point's GB18030 bytes; "?" where it has none (a lone surrogate).
void append_gb18030(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
    return;
  }
  if (cp >= 0xD800 && cp <= 0xDFFF) {
    out += '?';
    return;
  }
  if (cp < 0x10000) {
    if (const uint16_t code = two_byte_codes()[cp]) {
      out += static_cast<char>(code >> 8);
      out += static_cast<char>(code & 0xFF);
      return;
    }
  }
  const int64_t index = index_of(cp);
  if (index < 0) {
    out += '?';
    return;
  }
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

}  // namespace

std::wstring text_to_wide(const char* text) {
  if (!text || !*text) return {};
  const size_t len = std::strlen(text);
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  std::wstring out;
  out.reserve(len);
  for (size_t i = 0; i < len;) {
    const unsigned char b = p[i];
    if (b < 0x80) {
      out += static_cast<wchar_t>(b);
      ++i;
    } else if (b == kSingleByteEuro) {
      out += L'\u20AC';
      ++i;
    } else if (is_lead(b) && i + 1 < len && is_two_byte_trail(p[i + 1])) {
      out += static_cast<wchar_t>(gb18030::kTwoByte[(b - 0x81) * kTrailCount + trail_position(p[i + 1])]);
      i += 2;
    } else if (is_lead(b) && i + 3 < len && is_digit(p[i + 1]) && is_lead(p[i + 2]) && is_digit(p[i + 3])) {
      const uint32_t index = (((b - 0x81u) * 10 + (p[i + 1] - 0x30u)) * 126 + (p[i + 2] - 0x81u)) * 10 +
                             (p[i + 3] - 0x30u);
      const char32_t cp = code_point_of(index);
      append_utf16(out, cp ? cp : kReplacement);
      i += 4;
    } else {
      // A byte that starts no code: only it is lost, so an ASCII byte behind it (a "\" of a
      // path) keeps its meaning.
      out += static_cast<wchar_t>(kReplacement);
      ++i;
    }
  }
  return out;
}

Text wide_to_text(const wchar_t* text, size_t length) {
  if (!text || length == 0 || length > INT32_MAX / 4) return {};
  length = wcsnlen(text, length);  // a text ends at a NUL
  if (length == 0) return {};
  std::string out;
  out.reserve(length * 2);
  for (size_t i = 0; i < length;) {
    char32_t cp = static_cast<char16_t>(text[i]);
    ++i;
    if (cp >= 0xD800 && cp <= 0xDBFF && i < length && text[i] >= 0xDC00 && text[i] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<char16_t>(text[i]) - 0xDC00);
      ++i;
    }
    append_gb18030(out, cp);
  }
  return Text(std::string_view(out));
}

Text wide_to_text(const wchar_t* text) { return wide_to_text(text, text ? std::wcslen(text) : 0); }

}  // namespace tambrel
