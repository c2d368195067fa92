// The value model shared by the application, the picture library and the window framework:
// typed argument records, GBK texts, byte blocks and 1-based arrays.
//
// Raw layouts are what crosses into automation calls and what embedded constants are stored
// as: a text is a NUL-terminated GBK byte string from rt_alloc (null means ""), a byte block is
// {int32 1, int32 n, n bytes}, an array is {int32 d, int32 size[d], elements}. In C++ these are
// held by owner types that deep-copy on copy and free on destruction, so "a variable owns its
// content and assignment frees the old content first" holds by construction. Static constants
// (EMPTY_TEXT, EMPTY_BYTES, embedded blocks) may be adopted by an owner: rt_free ignores them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "runtime/heap.h"

namespace tambrel {

// ---- argument records -------------------------------------------------------------------

enum TypeTag : uint32_t {
  TYPE_NONE = 0,
  TYPE_BYTE = 0x80000101,
  TYPE_SHORT = 0x80000201,
  TYPE_INT = 0x80000301,
  TYPE_LONG = 0x80000401,
  TYPE_FLOAT = 0x80000501,
  TYPE_DOUBLE = 0x80000601,
  TYPE_BOOL = 0x80000002,
  TYPE_DATETIME = 0x80000003,
  TYPE_TEXT = 0x80000004,
  TYPE_BYTES = 0x80000005,
  TYPE_SUBPTR = 0x80000006,
  TYPE_OBJECT = 0x00010030,
  TYPE_VARIANT = 0x00010031,
};
constexpr uint32_t BYREF = 0x20000000;

#pragma pack(push, 4)
struct ArgValue {
  union {
    int32_t i32;
    int64_t i64;
    float f32;
    double f64;
    void* ptr;
    uint64_t raw;
  } value;
  uint32_t tag;
};
#pragma pack(pop)
static_assert(sizeof(ArgValue) == 12, "value 8 bytes + tag 4 bytes");

inline ArgValue make_arg(uint32_t tag) {
  ArgValue a{};
  a.tag = tag;
  return a;
}
inline ArgValue int_arg(int32_t v) { ArgValue a = make_arg(TYPE_INT); a.value.i32 = v; return a; }
inline ArgValue double_arg(double v) { ArgValue a = make_arg(TYPE_DOUBLE); a.value.f64 = v; return a; }
inline ArgValue text_arg(const char* v) {
  ArgValue a = make_arg(TYPE_TEXT);
  a.value.ptr = const_cast<char*>(v);
  return a;
}

// Size of a value of this tag when read from or written into memory (pointers are 8 bytes).
size_t value_size(uint32_t tag);

// A generic result used as a number: byte zero-extended, short sign-extended, int and long as
// they are, reals truncated toward zero. Any other tag is fatal error 2.
int64_t arg_to_int(const ArgValue& a, uint32_t command = COMMAND_TO_NUMBER);
double arg_to_double(const ArgValue& a, uint32_t command = COMMAND_TO_NUMBER);
// A generic result used as text: must carry TYPE_TEXT (fatal error 5 otherwise).
const char* arg_to_text(const ArgValue& a, uint32_t command = COMMAND_TO_TEXT);
// Frees what a generic result owns (a text or a block).
void free_arg(ArgValue& a);

// ---- raw layouts and shared constants ---------------------------------------------------

struct BytesBlock {
  int32_t one;     // always 1: a one-dimensional array of bytes
  int32_t length;  // n
  // n data bytes follow
  unsigned char* data() { return reinterpret_cast<unsigned char*>(this + 1); }
  const unsigned char* data() const { return reinterpret_cast<const unsigned char*>(this + 1); }
};
static_assert(sizeof(BytesBlock) == 8);

extern const char EMPTY_TEXT[1];
extern const BytesBlock EMPTY_BYTES;

// ---- primitive commands on raw values ---------------------------------------------------

int text_compare(const char* a, const char* b);
size_t text_length(const char* t);
int64_t real_to_int(double v);
int32_t bit_or(std::initializer_list<int32_t> values);
// Element count (product of the sizes) and address of the first element of a raw array.
size_t array_element_count(const void* array, void** first = nullptr);
// Copies a static array into the heap so it can be written; returns 1 if it already was there.
int array_make_own(size_t element_size, void** array_variable);

// ---- owner types ------------------------------------------------------------------------

class Text {
 public:
  Text() = default;
  explicit Text(const char* s) : Text(s, s ? text_length(s) : 0) {}
  Text(const char* s, size_t n);
  explicit Text(std::string_view s) : Text(s.data(), s.size()) {}
  Text(const Text& o) : Text(o.p_, o.size()) {}
  Text(Text&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  Text& operator=(const Text& o);
  Text& operator=(Text&& o) noexcept;
  ~Text() { rt_free(p_); }

  // Takes ownership of a text from rt_alloc (or a static constant).
  static Text adopt(char* p) { Text t; t.p_ = p; return t; }

  // Never null: a null text reads as EMPTY_TEXT.
  const char* c_str() const { return p_ ? p_ : EMPTY_TEXT; }
  char* get() const { return p_; }
  size_t size() const { return text_length(p_); }
  bool empty() const { return !p_ || !*p_; }
  std::string_view view() const { return {c_str(), size()}; }
  char* release() { return std::exchange(p_, nullptr); }
  void reset(char* p = nullptr) { rt_free(std::exchange(p_, p)); }

  friend bool operator==(const Text& a, const Text& b) { return text_compare(a.p_, b.p_) == 0; }
  friend bool operator==(const Text& a, const char* b) { return text_compare(a.p_, b) == 0; }

 private:
  char* p_ = nullptr;
};

class Bytes {
 public:
  Bytes() = default;
  Bytes(const void* data, size_t n);
  Bytes(const Bytes& o) : Bytes(o.data(), o.size()) {}
  Bytes(Bytes&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  Bytes& operator=(const Bytes& o);
  Bytes& operator=(Bytes&& o) noexcept;
  ~Bytes() { rt_free(p_); }

  static Bytes adopt(BytesBlock* p) { Bytes b; b.p_ = p; return b; }
  // An uninitialised (zero-filled) block of n bytes; null for n <= 0.
  static Bytes zeroed(int64_t n);

  // Never null: a null block reads as EMPTY_BYTES.
  const BytesBlock* block() const { return p_ ? p_ : &EMPTY_BYTES; }
  BytesBlock* get() const { return p_; }
  unsigned char* data() const { return p_ ? p_->data() : nullptr; }
  size_t size() const { return p_ ? static_cast<size_t>(p_->length) : 0; }
  bool empty() const { return size() == 0; }
  BytesBlock* release() { return std::exchange(p_, nullptr); }
  void reset(BytesBlock* p = nullptr) { rt_free(std::exchange(p_, p)); }

  friend bool operator==(const Bytes& a, const Bytes& b);

 private:
  BytesBlock* p_ = nullptr;
};

// A one-dimensional array of owned texts in the raw array layout, as split_text returns it.
class TextArray {
 public:
  TextArray() = default;
  TextArray(const TextArray&) = delete;
  TextArray& operator=(const TextArray&) = delete;
  TextArray(TextArray&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  TextArray& operator=(TextArray&& o) noexcept;
  ~TextArray() { clear(); }

  // Builds the array from texts whose ownership it takes.
  static TextArray from(std::vector<char*>&& texts);

  size_t size() const { return array_element_count(p_); }
  // 1-based, guarded: index < 1 is fatal error 4, index > size is fatal error 1.
  const char* operator[](int64_t index) const;
  void* raw() const { return p_; }

 private:
  void clear();
  void* p_ = nullptr;
};

// Guards an array index: fatal error 4 below 1, fatal error 1 above count.
void check_index(int64_t index, size_t count, uint32_t command = COMMAND_ARRAY_INDEX);

// A 1-based array of records owned element by element (each record owns its texts and
// blocks). Re-dimensioning drops every old record and makes new zero-filled ones.
template <class Record>
class RecordArray {
 public:
  RecordArray() = default;
  explicit RecordArray(int64_t n) { redim(n); }
  size_t size() const { return items_.size(); }
  Record& operator[](int64_t index) {
    check_index(index, items_.size());
    return items_[static_cast<size_t>(index - 1)];
  }
  const Record& operator[](int64_t index) const {
    check_index(index, items_.size());
    return items_[static_cast<size_t>(index - 1)];
  }
  void redim(int64_t n) {
    if (n < 0) rt_fatal(ERR_NEGATIVE_SIZE, COMMAND_ARRAY_REDIM);
    std::vector<Record> fresh(static_cast<size_t>(n));
    items_.swap(fresh);
  }
  void append(Record r) { items_.push_back(std::move(r)); }
  void clear() { items_.clear(); }

 private:
  std::vector<Record> items_;
};

// ---- value commands ---------------------------------------------------------------------

Text text_concat(std::initializer_list<const char*> parts);
Text space_text(int64_t n);
Text trim_text(const char* text);
Bytes zero_bytes(int64_t n);
Bytes bytes_from_memory(const void* address, int64_t n);

// Reads a typed value out of a block (type numbers 1 byte … 10 text). The position is 1-based;
// omitted reads at the start; a position variable advances past the value, or becomes -1.
// A text result is owned by the caller (free_arg).
ArgValue read_bytes_value(const BytesBlock* block, int type);
ArgValue read_bytes_value(const BytesBlock* block, int type, int32_t position);
ArgValue read_bytes_value(const BytesBlock* block, int type, int32_t* position_variable);

// Splits at every separator (default ","), never inside a GBK double-byte character. An empty
// final segment is dropped, empty segments between separators are kept. A limit stops after
// that many elements (negative counts as 0).
TextArray split_text(const char* text, const char* separator = ",",
                     std::optional<int64_t> limit = std::nullopt);

}  // namespace tambrel
