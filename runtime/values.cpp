// Value commands and owner types. Texts are GBK: every scan that steps through characters
// moves two bytes over a byte with the top bit set, so a separator is never matched inside a
// double-byte character.
#include "runtime/values.h"

#include <windows.h>

#include <cmath>
#include <cstring>

#include "runtime/grow_buffer.h"

namespace tambrel {

const char EMPTY_TEXT[1] = {0};
const BytesBlock EMPTY_BYTES = {1, 0};

namespace {

char* alloc_text(const char* s, size_t n) {
  auto* p = static_cast<char*>(rt_alloc(n + 1));
  if (n) std::memcpy(p, s, n);
  return p;
}

BytesBlock* alloc_block(const void* data, size_t n) {
  auto* b = static_cast<BytesBlock*>(rt_alloc(n + sizeof(BytesBlock)));
  b->one = 1;
  b->length = static_cast<int32_t>(n);
  if (n && data) std::memcpy(b->data(), data, n);
  return b;
}

// Readable for n bytes: every page in the range is committed and not guarded or no-access.
bool readable(const void* address, size_t n) {
  auto p = reinterpret_cast<uintptr_t>(address);
  const uintptr_t end = p + n;
  if (end < p) return false;
  while (p < end) {
    MEMORY_BASIC_INFORMATION info;
    if (!VirtualQuery(reinterpret_cast<void*>(p), &info, sizeof info)) return false;
    const DWORD bad = PAGE_NOACCESS | PAGE_GUARD;
    if (info.State != MEM_COMMIT || (info.Protect & bad) || info.Protect == 0) return false;
    p = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
  }
  return true;
}

}  // namespace

size_t value_size(uint32_t tag) {
  switch (tag & ~BYREF) {
    case TYPE_BYTE: return 1;
    case TYPE_SHORT: return 2;
    case TYPE_INT: return 4;
    case TYPE_LONG: return 8;
    case TYPE_FLOAT: return 4;
    case TYPE_DOUBLE: return 8;
    case TYPE_BOOL: return 4;
    case TYPE_DATETIME: return 8;
    case TYPE_TEXT:
    case TYPE_BYTES:
    case TYPE_SUBPTR: return sizeof(void*);
    default: return 0;
  }
}

int64_t arg_to_int(const ArgValue& a, uint32_t command) {
  switch (a.tag) {
    case TYPE_BYTE: return static_cast<uint8_t>(a.value.raw);
    case TYPE_SHORT: return static_cast<int16_t>(a.value.raw);
    case TYPE_INT: return a.value.i32;
    case TYPE_LONG: return a.value.i64;
    case TYPE_FLOAT: return real_to_int(a.value.f32);
    case TYPE_DOUBLE: return real_to_int(a.value.f64);
    default: rt_fatal(ERR_NOT_A_NUMBER, command);
  }
}

double arg_to_double(const ArgValue& a, uint32_t command) {
  switch (a.tag) {
    case TYPE_FLOAT: return a.value.f32;
    case TYPE_DOUBLE: return a.value.f64;
    default: return static_cast<double>(arg_to_int(a, command));
  }
}

const char* arg_to_text(const ArgValue& a, uint32_t command) {
  if (a.tag != TYPE_TEXT) rt_fatal(ERR_NOT_A_TEXT, command);
  return a.value.ptr ? static_cast<const char*>(a.value.ptr) : EMPTY_TEXT;
}

void free_arg(ArgValue& a) {
  if (a.tag == TYPE_TEXT || a.tag == TYPE_BYTES) {
    rt_free(a.value.ptr);
    a.value.ptr = nullptr;
  }
}

int text_compare(const char* a, const char* b) {
  return std::strcmp(a ? a : "", b ? b : "");
}

size_t text_length(const char* t) { return t ? std::strlen(t) : 0; }

int64_t real_to_int(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 9.2233720368547758e18) return INT64_MAX;
  if (v <= -9.2233720368547758e18) return INT64_MIN;
  return static_cast<int64_t>(v);  // truncates toward zero
}

int32_t bit_or(std::initializer_list<int32_t> values) {
  int32_t r = 0;
  for (int32_t v : values) r |= v;
  return r;
}

size_t array_element_count(const void* array, void** first) {
  if (!array) {
    if (first) *first = nullptr;
    return 0;
  }
  int32_t dims;
  std::memcpy(&dims, array, 4);
  size_t count = dims > 0 ? 1 : 0;
  for (int32_t i = 0; i < dims; ++i) {
    int32_t n;
    std::memcpy(&n, static_cast<const char*>(array) + 4 + 4 * i, 4);
    count *= n > 0 ? static_cast<size_t>(n) : 0;
  }
  if (first) {
    *first = const_cast<char*>(static_cast<const char*>(array)) + 4 + 4 * (dims > 0 ? dims : 0);
  }
  return count;
}

int array_make_own(size_t element_size, void** array_variable) {
  void* array = *array_variable;
  if (!array || !rt_in_program_image(array)) return 1;
  int32_t dims;
  std::memcpy(&dims, array, 4);
  const size_t bytes = 4 + 4 * static_cast<size_t>(dims > 0 ? dims : 0) +
                       element_size * array_element_count(array);
  void* copy = rt_alloc(bytes);
  std::memcpy(copy, array, bytes);
  *array_variable = copy;
  return 0;
}

// ---- owners -----------------------------------------------------------------------------

Text::Text(const char* s, size_t n) : p_(s ? alloc_text(s, n) : nullptr) {}

Text& Text::operator=(const Text& o) {
  if (this != &o) reset(o.p_ ? alloc_text(o.p_, o.size()) : nullptr);
  return *this;
}

Text& Text::operator=(Text&& o) noexcept {
  if (this != &o) reset(std::exchange(o.p_, nullptr));
  return *this;
}

Bytes::Bytes(const void* data, size_t n) : p_(data ? alloc_block(data, n) : nullptr) {}

Bytes Bytes::zeroed(int64_t n) {
  if (n <= 0) return {};
  return adopt(alloc_block(nullptr, static_cast<size_t>(n)));
}

Bytes& Bytes::operator=(const Bytes& o) {
  if (this != &o) reset(o.p_ ? alloc_block(o.data(), o.size()) : nullptr);
  return *this;
}

Bytes& Bytes::operator=(Bytes&& o) noexcept {
  if (this != &o) reset(std::exchange(o.p_, nullptr));
  return *this;
}

bool operator==(const Bytes& a, const Bytes& b) {
  return a.size() == b.size() && (a.size() == 0 || std::memcmp(a.data(), b.data(), a.size()) == 0);
}

void check_index(int64_t index, size_t count, uint32_t command) {
  if (index < 1) rt_fatal(ERR_INDEX_TOO_SMALL, command);
  if (static_cast<uint64_t>(index) > count) rt_fatal(ERR_INDEX_TOO_BIG, command);
}

TextArray& TextArray::operator=(TextArray&& o) noexcept {
  if (this != &o) {
    clear();
    p_ = std::exchange(o.p_, nullptr);
  }
  return *this;
}

TextArray TextArray::from(std::vector<char*>&& texts) {
  const size_t n = texts.size();
  auto* raw = static_cast<char*>(rt_alloc(8 + n * sizeof(char*)));
  const int32_t header[2] = {1, static_cast<int32_t>(n)};
  std::memcpy(raw, header, 8);
  if (n) std::memcpy(raw + 8, texts.data(), n * sizeof(char*));
  texts.clear();
  TextArray a;
  a.p_ = raw;
  return a;
}

const char* TextArray::operator[](int64_t index) const {
  void* first = nullptr;
  const size_t n = array_element_count(p_, &first);
  check_index(index, n);
  char* t;
  std::memcpy(&t, static_cast<char*>(first) + (index - 1) * sizeof(char*), sizeof t);
  return t ? t : EMPTY_TEXT;
}

void TextArray::clear() {
  if (!p_) return;
  void* first = nullptr;
  const size_t n = array_element_count(p_, &first);
  for (size_t i = 0; i < n; ++i) {
    char* t;
    std::memcpy(&t, static_cast<char*>(first) + i * sizeof(char*), sizeof t);
    rt_free(t);
  }
  rt_free(p_);
  p_ = nullptr;
}

// ---- commands ---------------------------------------------------------------------------

Text text_concat(std::initializer_list<const char*> parts) {
  size_t total = 0;
  for (const char* p : parts) total += text_length(p);
  auto* out = static_cast<char*>(rt_alloc(total + 1));
  char* w = out;
  for (const char* p : parts) {
    const size_t n = text_length(p);
    if (n) std::memcpy(w, p, n);
    w += n;
  }
  return Text::adopt(out);
}

Text space_text(int64_t n) {
  if (n < 1) return {};
  auto* out = static_cast<char*>(rt_alloc(static_cast<size_t>(n) + 1));
  std::memset(out, ' ', static_cast<size_t>(n));
  return Text::adopt(out);
}

Text trim_text(const char* text) {
  const size_t n = text_length(text);
  size_t begin = 0, end = n;
  auto full_width_space_at = [&](size_t i) {
    return i + 1 < n + 1 && static_cast<unsigned char>(text[i]) == 0xA1 &&
           static_cast<unsigned char>(text[i + 1]) == 0xA1;
  };
  while (begin < end) {
    if (text[begin] == ' ') {
      ++begin;
    } else if (begin + 1 < end && full_width_space_at(begin)) {
      begin += 2;
    } else {
      break;
    }
  }
  // From the end a character boundary is only known by walking from the start.
  size_t last_kept_end = begin;
  for (size_t i = begin; i < end;) {
    const bool dbcs = static_cast<unsigned char>(text[i]) & 0x80;
    const size_t len = dbcs && i + 1 < end ? 2 : 1;
    const bool space = text[i] == ' ' || (len == 2 && full_width_space_at(i));
    i += len;
    if (!space) last_kept_end = i;
  }
  end = last_kept_end;
  if (end <= begin) return {};
  return Text(text + begin, end - begin);
}

Bytes zero_bytes(int64_t n) { return Bytes::zeroed(n); }

Bytes bytes_from_memory(const void* address, int64_t n) {
  if (n <= 0 || !address || !readable(address, static_cast<size_t>(n))) return {};
  return Bytes(address, static_cast<size_t>(n));
}

namespace {

uint32_t tag_for_type_number(int type) {
  static const uint32_t tags[] = {TYPE_BYTE, TYPE_SHORT, TYPE_INT,      TYPE_LONG,   TYPE_FLOAT,
                                  TYPE_DOUBLE, TYPE_BOOL, TYPE_DATETIME, TYPE_SUBPTR, TYPE_TEXT};
  return tags[type - 1];
}

ArgValue read_value_at(const BytesBlock* block, int type, int64_t offset, int32_t* variable) {
  if (type < 1 || type > 10) rt_fatal(ERR_BAD_TYPE_NUMBER, COMMAND_READ_BYTES_VALUE);
  ArgValue result = make_arg(tag_for_type_number(type));
  if (!block) return result;
  const int64_t length = block->length;
  if (offset < 0 || length - offset < 1) {
    if (variable) *variable = -1;
    return result;
  }
  const unsigned char* at = block->data() + offset;
  const size_t remaining = static_cast<size_t>(length - offset);
  size_t advance;
  if (type == 10) {
    const void* nul = std::memchr(at, 0, remaining);
    const size_t n = nul ? static_cast<size_t>(static_cast<const unsigned char*>(nul) - at) : remaining;
    result.value.ptr = n ? Text(reinterpret_cast<const char*>(at), n).release() : nullptr;
    advance = n + 1;
  } else {
    // Subroutine addresses are pointer-sized; every other width is the value's own.
    static const size_t sizes[] = {1, 2, 4, 8, 4, 8, 4, 8, sizeof(void*)};
    const size_t size = sizes[type - 1];
    unsigned char buffer[8] = {};
    std::memcpy(buffer, at, remaining < size ? remaining : size);
    switch (type) {
      case 1: result.value.raw = buffer[0]; break;
      case 2: { int16_t v; std::memcpy(&v, buffer, 2); result.value.raw = static_cast<uint16_t>(v); break; }
      case 3: std::memcpy(&result.value.i32, buffer, 4); break;
      case 5: std::memcpy(&result.value.f32, buffer, 4); break;
      case 7: { uint32_t v; std::memcpy(&v, buffer, 4); result.value.i32 = v != 0; break; }
      default: std::memcpy(&result.value.raw, buffer, 8); break;
    }
    advance = size;
  }
  if (variable) {
    const int64_t next = offset + 1 + static_cast<int64_t>(advance);
    *variable = next > length ? -1 : static_cast<int32_t>(next);
  }
  return result;
}

}  // namespace

ArgValue read_bytes_value(const BytesBlock* block, int type) {
  return read_value_at(block, type, 0, nullptr);
}

ArgValue read_bytes_value(const BytesBlock* block, int type, int32_t position) {
  return read_value_at(block, type, static_cast<int64_t>(position) - 1, nullptr);
}

ArgValue read_bytes_value(const BytesBlock* block, int type, int32_t* position_variable) {
  return read_value_at(block, type, static_cast<int64_t>(*position_variable) - 1, position_variable);
}

TextArray split_text(const char* text, const char* separator, std::optional<int64_t> limit) {
  if (!text) text = EMPTY_TEXT;
  if (!separator) separator = EMPTY_TEXT;
  int64_t left = limit ? (*limit < 0 ? 0 : *limit) : -1;  // -1: unlimited
  GrowBuffer collected;
  std::vector<char*> texts;
  const size_t text_len = text_length(text);
  const size_t sep_len = text_length(separator);

  auto append = [&](const char* s, size_t n) {
    char* t = Text(s, n).release();
    if (!collected.append_pointer(t)) rt_alloc(SIZE_MAX);  // heap refused: out of memory box
  };

  if (text_len != 0 && left != 0) {
    if (sep_len == 0) {
      append(text, text_len);
    } else {
      const char* s = text;
      const char* c = text;
      size_t r = text_len;
      bool stopped = false;
      while (r >= sep_len) {
        if (std::memcmp(c, separator, sep_len) == 0) {
          append(s, static_cast<size_t>(c - s));
          c += sep_len;
          s = c;
          r -= sep_len;
          if (left > 0 && --left == 0) {
            stopped = true;
            break;
          }
        } else if (static_cast<unsigned char>(*c) & 0x80) {
          if (c[1] == 0) break;
          c += 2;
          r -= 2;
        } else {
          c += 1;
          r -= 1;
        }
      }
      if (!stopped && *s) append(s, text_length(s));
    }
  }
  const size_t n = collected.used() / sizeof(char*);
  texts.resize(n);
  if (n) std::memcpy(texts.data(), collected.data(), n * sizeof(char*));
  return TextArray::from(std::move(texts));
}

}  // namespace tambrel
