// Text and byte-block commands, and the conversions between values, texts and blocks.
//
// Texts are GBK: every scan steps over a double-byte character (lead byte with the top bit
// set) as one unit, so a search never matches in the middle of a character. Positions and
// lengths are 1-based byte counts. Commands never fail: where no result can be made they give
// a null text or block, -1 for a position, 0 for a number. Results belong to the caller.
//
// Arrays travel in an ArgValue as their element tag with the 0x20000000 flag and the raw
// array's address in the value (see array_arg).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "runtime/values.h"

namespace tambrel {

constexpr uint32_t ARRAY_FLAG = 0x20000000;

inline ArgValue array_arg(uint32_t element_tag, const void* raw_array) {
  ArgValue a = make_arg(element_tag | ARRAY_FLAG);
  a.value.ptr = const_cast<void*>(raw_array);
  return a;
}
inline ArgValue bytes_arg(const BytesBlock* b) {
  ArgValue a = make_arg(TYPE_BYTES);
  a.value.ptr = const_cast<BytesBlock*>(b);
  return a;
}
inline ArgValue bool_arg(bool v) {
  ArgValue a = make_arg(TYPE_BOOL);
  a.value.i32 = v;
  return a;
}
inline ArgValue long_arg(int64_t v) {
  ArgValue a = make_arg(TYPE_LONG);
  a.value.i64 = v;
  return a;
}
inline ArgValue float_arg(float v) {
  ArgValue a = make_arg(TYPE_FLOAT);
  a.value.f32 = v;
  return a;
}
inline ArgValue byte_arg(uint8_t v) {
  ArgValue a = make_arg(TYPE_BYTE);
  a.value.raw = v;
  return a;
}
inline ArgValue short_arg(int16_t v) {
  ArgValue a = make_arg(TYPE_SHORT);
  a.value.raw = static_cast<uint16_t>(v);
  return a;
}
inline ArgValue datetime_arg(double v) {
  ArgValue a = make_arg(TYPE_DATETIME);
  a.value.f64 = v;
  return a;
}

// ---- UTF-16 ----------------------------------------------------------------------------

// Texts and the UTF-16 strings of the system's wide calls (windows and controls, message boxes,
// files, GDI+, automation), both ways as GB18030: GBK for every GBK character (the program's
// own texts), four-byte codes for every other one (emoji, CJK Extension B, Hangul), so that
// what the user typed comes back unchanged whatever the system's ANSI code page is. A character
// with no code (a lone surrogate) becomes "?". A null or empty text gives L"".
std::wstring text_to_wide(const char* text);
// At most `length` characters, ending at an embedded NUL as every text does; null for a null
// or empty string.
Text wide_to_text(const wchar_t* text, size_t length);
Text wide_to_text(const wchar_t* text);

// ---- conversions ------------------------------------------------------------------------

// Bool "真"/"假"; date-time as "2012年10月22日10时30分"; a text copied; a block up to its first
// zero byte; integers in decimal; reals in decimal without trailing zeros ("1.5", "2"); an
// integer-element array as its element bytes up to the first zero byte. Other tags: null.
Text value_to_text(const ArgValue& value);
// Full-width slashes, digits and signs to their ASCII forms, so "１２３" reads as a number.
Text normalize_number_text(const char* text);
// Integers as they are (long: low 32 bits), reals truncated toward zero (out of range: 0),
// texts through normalize_number_text and atoi; other tags 0.
int32_t to_int(const ArgValue& value);
// The low 8 bits of to_int's integer, real or text reading; other tags 0.
uint8_t to_byte(const ArgValue& value);
// The value's memory bytes: a text without its NUL, a block's data, a number by its size, a
// byte array's elements; other arrays and tags null.
Bytes to_bytes(const ArgValue& value);
// Copies the value's bytes to `destination` (a text with its NUL, a block's data, a byte
// array's elements, a number by its size), at most `max_size` bytes when that is given and
// positive. Returns the bytes copied.
size_t write_to_memory(const ArgValue& value, void* destination,
                       std::optional<int64_t> max_size = std::nullopt);

// ---- texts ------------------------------------------------------------------------------

Text left_text(const char* text, int64_t n);
Text mid_text(const char* text, int64_t start, int64_t n);
// ASCII a-z raised; double-byte characters untouched (their trail bytes may look like letters).
Text upper_text(const char* text);
// 1-based position of `part` at or after `start`, or -1. A start inside a double-byte
// character moves on to the next character boundary.
int32_t find_text(const char* text, const char* part, std::optional<int64_t> start = std::nullopt,
                  bool case_insensitive = false);
// `length` bytes from `start` replaced by `replacement` (nothing when omitted).
Text replace_part(const char* text, int64_t start, int64_t length,
                  std::optional<const char*> replacement = std::nullopt);
// Occurrences of `find` from `start`, at most `count` of them, replaced left to right.
Text replace_text(const char* text, const char* find,
                  std::optional<const char*> replacement = std::nullopt,
                  std::optional<int64_t> start = std::nullopt,
                  std::optional<int64_t> count = std::nullopt, bool case_sensitive = true);
// The byte at `position` (default 1) as a signed value; 0 outside the text.
int32_t char_code(const char* text, std::optional<int64_t> position = std::nullopt);
// A one-byte text of the code's low byte; null when that byte is 0.
Text char_text(int64_t code);
// Copy without ASCII spaces and full-width spaces (A1 A1); null if nothing remains.
Text remove_spaces(const char* text);

// ---- byte blocks ------------------------------------------------------------------------

int32_t bytes_length(const BytesBlock* block);
Bytes left_bytes(const BytesBlock* block, int64_t n);
Bytes right_bytes(const BytesBlock* block, int64_t n);
// `n` bytes from `start` (start <= 0 counts as 1), cut at the end.
Bytes mid_bytes(const BytesBlock* block, int64_t start, int64_t n);
int32_t find_bytes(const BytesBlock* block, const BytesBlock* part,
                   std::optional<int64_t> start = std::nullopt);

}  // namespace tambrel
