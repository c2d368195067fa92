// Text and block commands and value conversions, portable apart from the number
// normalisation (text_win.cpp). Character stepping is the one rule every scan shares: a byte
// with the top bit set starts a two-byte character, unless it is the last byte of the text.
#include "runtime/text.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/datetime.h"

namespace tambrel {
namespace {

bool is_lead(char c) { return static_cast<unsigned char>(c) & 0x80; }

// Bytes of the character at i in a text of len bytes.
size_t char_size(const char* t, size_t i, size_t len) {
  return is_lead(t[i]) && i + 1 < len ? 2 : 1;
}

// The first character boundary at or after `offset`, walking from the known boundary
// `boundary` <= offset.
size_t next_boundary(const char* t, size_t len, size_t boundary, size_t offset) {
  while (boundary < offset && boundary < len) boundary += char_size(t, boundary, len);
  return boundary;
}

// The first character boundary at or after byte offset `from`.
size_t align_to_character(const char* t, size_t len, size_t from) {
  return next_boundary(t, len, 0, from);
}

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

// Does `part` (n bytes) stand at `at`? Double-byte characters compare exactly; with `fold`,
// ASCII letters compare without case.
bool matches_at(const char* at, const char* part, size_t n, bool fold) {
  if (!fold) return std::memcmp(at, part, n) == 0;
  for (size_t j = 0; j < n;) {
    if (is_lead(part[j]) && j + 1 < n) {
      if (at[j] != part[j] || at[j + 1] != part[j + 1]) return false;
      j += 2;
    } else {
      if (ascii_lower(at[j]) != ascii_lower(part[j])) return false;
      ++j;
    }
  }
  return true;
}

// 0-based offset of the first match at or after `boundary`, which must be a character
// boundary (0, a result of align_to_character or of next_boundary), or npos. Taking a boundary
// rather than any offset keeps a search that continues behind a match from walking the text
// again from its first byte.
size_t find_from_boundary(const char* t, size_t len, const char* part, size_t plen,
                          size_t boundary, bool fold) {
  if (plen == 0 || plen > len) return std::string::npos;
  for (size_t i = boundary; i + plen <= len; i += char_size(t, i, len)) {
    if (matches_at(t + i, part, plen, fold)) return i;
  }
  return std::string::npos;
}

Text text_or_null(const char* s, size_t n) { return n ? Text(s, n) : Text(); }
Bytes bytes_or_null(const void* s, size_t n) { return n ? Bytes(s, n) : Bytes(); }

// "%f" output without trailing zeros after the point, and without a bare point.
void trim_fraction(std::string& s) {
  if (s.find('.') == std::string::npos) return;
  while (!s.empty() && s.back() == '0') s.pop_back();
  if (!s.empty() && s.back() == '.') s.pop_back();
}

// snprintf into the usual 260-byte buffer; a longer result (a huge real) is formatted again
// into a buffer of its own size rather than cut or overrun.
template <class... Args>
std::string format(const char* pattern, Args... args) {
  char buffer[260];
  const int n = std::snprintf(buffer, sizeof buffer, pattern, args...);
  if (n < 0) return {};
  if (static_cast<size_t>(n) < sizeof buffer) return std::string(buffer, static_cast<size_t>(n));
  std::string big(static_cast<size_t>(n) + 1, '\0');
  std::snprintf(big.data(), big.size(), pattern, args...);
  big.resize(static_cast<size_t>(n));
  return big;
}

bool is_integer_element(uint32_t tag) {
  switch (tag) {
    case TYPE_BYTE:
    case TYPE_SHORT:
    case TYPE_INT:
    case TYPE_LONG:
    case TYPE_SUBPTR:
      return true;
    default:
      return false;
  }
}

// The element bytes of a raw array value (element tag | ARRAY_FLAG).
const unsigned char* array_bytes(const ArgValue& v, size_t* n) {
  const auto* raw = static_cast<const unsigned char*>(v.value.ptr);
  *n = 0;
  if (!raw) return nullptr;
  int32_t dims;
  std::memcpy(&dims, raw, 4);
  *n = array_element_count(raw) * value_size(v.tag & ~ARRAY_FLAG);
  return raw + 4 + 4 * static_cast<size_t>(dims > 0 ? dims : 0);
}

// Reals to integers the way a conversion command does it: toward zero, and the 64-bit
// "indefinite" value for anything outside the 64-bit range.
int64_t truncate_real(double v) {
  if (!(v >= -9223372036854775808.0 && v < 9223372036854775808.0)) return INT64_MIN;
  return static_cast<int64_t>(v);
}

int64_t text_number(const char* text) {
  Text normal = normalize_number_text(text);
  return std::atoi(normal.c_str());
}

}  // namespace

// ---- conversions ------------------------------------------------------------------------

Text value_to_text(const ArgValue& v) {
  if (v.tag & ARRAY_FLAG) {
    if (!is_integer_element(v.tag & ~ARRAY_FLAG)) return {};
    size_t n = 0;
    const unsigned char* bytes = array_bytes(v, &n);
    const void* nul = n ? std::memchr(bytes, 0, n) : nullptr;
    const size_t len =
        nul ? static_cast<size_t>(static_cast<const unsigned char*>(nul) - bytes) : n;
    return text_or_null(reinterpret_cast<const char*>(bytes), len);
  }
  std::string s;
  switch (v.tag) {
    case TYPE_BOOL:
      return Text(v.value.i32 ? "真" : "假");
    case TYPE_DATETIME:
      return datetime_to_text(v.value.f64);
    case TYPE_TEXT: {
      const char* t = static_cast<const char*>(v.value.ptr);
      return text_or_null(t, text_length(t));
    }
    case TYPE_BYTES: {
      const auto* b = static_cast<const BytesBlock*>(v.value.ptr);
      if (!b || b->length <= 0) return {};
      const size_t n = static_cast<size_t>(b->length);
      const void* nul = std::memchr(b->data(), 0, n);
      return text_or_null(
          reinterpret_cast<const char*>(b->data()),
          nul ? static_cast<size_t>(static_cast<const unsigned char*>(nul) - b->data()) : n);
    }
    case TYPE_INT:
      s = format("%d", v.value.i32);
      break;
    case TYPE_SUBPTR:
      s = format("%lld", static_cast<long long>(v.value.i64));
      break;
    case TYPE_BYTE:
      s = format("%d", static_cast<int>(static_cast<uint8_t>(v.value.raw)));
      break;
    case TYPE_SHORT:
      s = format("%d", static_cast<int>(static_cast<int16_t>(v.value.raw)));
      break;
    case TYPE_LONG:
      s = format("%lld", static_cast<long long>(v.value.i64));
      break;
    case TYPE_FLOAT:
      s = format("%f", static_cast<double>(v.value.f32));
      trim_fraction(s);
      break;
    case TYPE_DOUBLE:
      s = format("%f", v.value.f64);
      trim_fraction(s);
      break;
    default:
      return {};
  }
  return Text(s);
}

int32_t to_int(const ArgValue& v) {
  switch (v.tag) {
    case TYPE_BOOL:
    case TYPE_INT:
      return v.value.i32;
    case TYPE_SUBPTR:
    case TYPE_LONG:
      return static_cast<int32_t>(static_cast<uint32_t>(v.value.raw));
    case TYPE_BYTE:
      return static_cast<uint8_t>(v.value.raw);
    case TYPE_SHORT:
      return static_cast<int16_t>(v.value.raw);
    case TYPE_FLOAT:
      return static_cast<int32_t>(static_cast<uint32_t>(truncate_real(v.value.f32)));
    case TYPE_DOUBLE:
      return static_cast<int32_t>(static_cast<uint32_t>(truncate_real(v.value.f64)));
    case TYPE_TEXT:
      return static_cast<int32_t>(text_number(static_cast<const char*>(v.value.ptr)));
    default:
      return 0;
  }
}

uint8_t to_byte(const ArgValue& v) {
  switch (v.tag) {
    case TYPE_BYTE:
    case TYPE_SHORT:
    case TYPE_INT:
    case TYPE_LONG:
      return static_cast<uint8_t>(v.value.raw);
    case TYPE_FLOAT:
      return static_cast<uint8_t>(truncate_real(v.value.f32));
    case TYPE_DOUBLE:
      return static_cast<uint8_t>(truncate_real(v.value.f64));
    case TYPE_TEXT:
      return static_cast<uint8_t>(text_number(static_cast<const char*>(v.value.ptr)));
    default:
      return 0;
  }
}

namespace {

// The bytes a value stands for in memory; a text includes its NUL when asked.
const void* value_bytes(const ArgValue& v, size_t* n, bool with_nul) {
  *n = 0;
  if (v.tag & ARRAY_FLAG) {
    if ((v.tag & ~ARRAY_FLAG) != TYPE_BYTE) return nullptr;
    return array_bytes(v, n);
  }
  switch (v.tag) {
    case TYPE_TEXT: {
      const char* t = static_cast<const char*>(v.value.ptr);
      const size_t len = text_length(t);
      *n = len && with_nul ? len + 1 : len;
      return t;
    }
    case TYPE_BYTES: {
      const auto* b = static_cast<const BytesBlock*>(v.value.ptr);
      if (!b || b->length <= 0) return nullptr;
      *n = static_cast<size_t>(b->length);
      return b->data();
    }
    default:
      *n = value_size(v.tag);
      return &v.value;  // numbers sit in the low bytes of the value (little-endian)
  }
}

}  // namespace

Bytes to_bytes(const ArgValue& v) {
  size_t n = 0;
  const void* p = value_bytes(v, &n, false);
  return p ? bytes_or_null(p, n) : Bytes();
}

size_t write_to_memory(const ArgValue& v, void* destination, std::optional<int64_t> max_size) {
  size_t n = 0;
  const void* p = value_bytes(v, &n, true);
  if (!p || !n || !destination) return 0;
  if (max_size && *max_size > 0 && static_cast<uint64_t>(*max_size) < n)
    n = static_cast<size_t>(*max_size);
  std::memmove(destination, p, n);
  return n;
}

// ---- texts ------------------------------------------------------------------------------

Text left_text(const char* text, int64_t n) {
  const size_t len = text_length(text);
  if (!len || n <= 0) return {};
  return Text(text, static_cast<uint64_t>(n) < len ? static_cast<size_t>(n) : len);
}

Text mid_text(const char* text, int64_t start, int64_t n) {
  const size_t len = text_length(text);
  if (!len || n < 1 || start <= 0 || static_cast<uint64_t>(start) > len) return {};
  const size_t from = static_cast<size_t>(start - 1);
  const size_t rest = len - from;
  return Text(text + from, static_cast<uint64_t>(n) < rest ? static_cast<size_t>(n) : rest);
}

Text upper_text(const char* text) {
  const size_t len = text_length(text);
  if (!len) return {};
  Text out(text, len);
  char* p = out.get();
  for (size_t i = 0; i < len; i += char_size(p, i, len)) {
    if (p[i] >= 'a' && p[i] <= 'z') p[i] = static_cast<char>(p[i] - 32);
  }
  return out;
}

int32_t find_text(const char* text, const char* part, std::optional<int64_t> start,
                  bool case_insensitive) {
  const size_t len = text_length(text);
  const size_t plen = text_length(part);
  if (!len || !plen || plen > len) return -1;
  const int64_t s = start && *start > 0 ? *start : 1;
  if (s > static_cast<int64_t>(len - plen + 1)) return -1;
  const size_t at = find_from_boundary(text, len, part, plen,
                                      align_to_character(text, len, static_cast<size_t>(s - 1)),
                                      case_insensitive);
  return at == std::string::npos ? -1 : static_cast<int32_t>(at + 1);
}

Text replace_part(const char* text, int64_t start, int64_t length,
                  std::optional<const char*> replacement) {
  const size_t len = text_length(text);
  const char* r = replacement ? *replacement : nullptr;
  const size_t rlen = text_length(r);
  if (!len) return text_or_null(r, rlen);
  if (start > static_cast<int64_t>(len) || length <= 0) return Text(text, len);
  const size_t from = start < 1 ? 0 : static_cast<size_t>(start - 1);
  std::string out(text, from);
  out.append(r ? r : "", rlen);
  if (static_cast<uint64_t>(length) <= len - from) {
    const size_t after = from + static_cast<size_t>(length);
    out.append(text + after, len - after);
  }
  return text_or_null(out.data(), out.size());
}

Text replace_text(const char* text, const char* find, std::optional<const char*> replacement,
                  std::optional<int64_t> start, std::optional<int64_t> count, bool case_sensitive) {
  const size_t len = text_length(text);
  if (!len) return {};
  const size_t flen = text_length(find);
  if (!flen || flen > len) return Text(text, len);
  const int64_t s = start.value_or(1);
  int64_t left = count.value_or(INT64_MAX);
  if (s < 1 || left < 1 || s > static_cast<int64_t>(len - flen + 1)) return Text(text, len);
  const char* r = replacement ? *replacement : nullptr;
  const size_t rlen = text_length(r);

  std::string out;
  size_t copied = 0;  // text before this offset is already in `out`
  // Each step starts at a character boundary: the search goes on behind a match from the
  // match's own boundary, so the whole replacement walks the text once.
  size_t i = align_to_character(text, len, static_cast<size_t>(s - 1));
  while (left > 0) {
    const size_t at = find_from_boundary(text, len, find, flen, i, !case_sensitive);
    if (at == std::string::npos) break;
    out.append(text + copied, at - copied);
    out.append(r ? r : "", rlen);
    copied = at + flen;
    i = next_boundary(text, len, at, copied);
    --left;
  }
  if (left == count.value_or(INT64_MAX)) return Text(text, len);  // nothing matched
  out.append(text + copied, len - copied);
  return text_or_null(out.data(), out.size());
}

int32_t char_code(const char* text, std::optional<int64_t> position) {
  const size_t len = text_length(text);
  const int64_t p = position.value_or(1);
  if (!len || p < 1 || p > static_cast<int64_t>(len)) return 0;
  return static_cast<signed char>(text[p - 1]);
}

Text char_text(int64_t code) {
  const char c = static_cast<char>(code & 0xFF);
  if (!c) return {};
  return Text(&c, 1);
}

Text remove_spaces(const char* text) {
  const size_t len = text_length(text);
  std::string out;
  for (size_t i = 0; i < len;) {
    const size_t n = char_size(text, i, len);
    const bool space = text[i] == ' ' || (n == 2 && static_cast<unsigned char>(text[i]) == 0xA1 &&
                                          static_cast<unsigned char>(text[i + 1]) == 0xA1);
    if (!space) out.append(text + i, n);
    i += n;
  }
  return text_or_null(out.data(), out.size());
}

// ---- byte blocks ------------------------------------------------------------------------

int32_t bytes_length(const BytesBlock* block) {
  return block && block->length > 0 ? block->length : 0;
}

Bytes left_bytes(const BytesBlock* block, int64_t n) {
  const size_t len = static_cast<size_t>(bytes_length(block));
  if (!len || n <= 0) return {};
  return Bytes(block->data(), static_cast<uint64_t>(n) < len ? static_cast<size_t>(n) : len);
}

Bytes right_bytes(const BytesBlock* block, int64_t n) {
  const size_t len = static_cast<size_t>(bytes_length(block));
  if (!len || n <= 0) return {};
  const size_t take = static_cast<uint64_t>(n) < len ? static_cast<size_t>(n) : len;
  return Bytes(block->data() + (len - take), take);
}

Bytes mid_bytes(const BytesBlock* block, int64_t start, int64_t n) {
  const size_t len = static_cast<size_t>(bytes_length(block));
  if (start <= 0) start = 1;
  if (!len || n <= 0 || static_cast<uint64_t>(start - 1) > len) return {};
  const size_t from = static_cast<size_t>(start - 1);
  const size_t rest = len - from;
  return bytes_or_null(block->data() + from,
                       static_cast<uint64_t>(n) < rest ? static_cast<size_t>(n) : rest);
}

int32_t find_bytes(const BytesBlock* block, const BytesBlock* part, std::optional<int64_t> start) {
  const size_t len = static_cast<size_t>(bytes_length(block));
  const size_t plen = static_cast<size_t>(bytes_length(part));
  if (!len || !plen || plen > len) return -1;
  const int64_t s = start && *start > 0 ? *start : 1;
  if (s > static_cast<int64_t>(len - plen + 1)) return -1;
  const unsigned char* data = block->data();
  for (size_t i = static_cast<size_t>(s - 1); i + plen <= len; ++i) {
    if (std::memcmp(data + i, part->data(), plen) == 0) return static_cast<int32_t>(i + 1);
  }
  return -1;
}

}  // namespace tambrel
