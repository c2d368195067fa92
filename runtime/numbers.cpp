// Number commands, portable (the tick-count seed is in numbers_win.cpp).
#include "runtime/numbers.h"

#include <cmath>
#include <cstdlib>

namespace tambrel {

int32_t bit_xor(std::initializer_list<int32_t> values) {
  int32_t r = 0;
  for (int32_t v : values) r ^= v;
  return r;
}

int32_t bit_and(std::initializer_list<int32_t> values) {
  if (values.size() == 0) return 0;
  int32_t r = -1;
  for (int32_t v : values) r &= v;
  return r;
}

int32_t bit_not(int32_t value) { return ~value; }

int32_t shift_right(int32_t value, int64_t bits) {
  if (bits <= 0) return value;
  // Shifting by the width or more is undefined in C++; the arithmetic result is the sign.
  if (bits > 31) return value < 0 ? -1 : 0;
  return value >> bits;
}

int32_t pack_halves(int32_t low, int32_t high) {
  return static_cast<int32_t>((static_cast<uint32_t>(high) << 16) |
                              (static_cast<uint32_t>(low) & 0xFFFF));
}

double remainder(std::initializer_list<double> values) {
  auto it = values.begin();
  if (it == values.end()) return 0;
  double r = *it++;
  for (; it != values.end(); ++it) r = std::fmod(r, *it);
  return r;
}

double int_divide(std::initializer_list<double> values) {
  auto it = values.begin();
  if (it == values.end()) return 0;
  double r = *it++;
  for (; it != values.end(); ++it) r = std::floor(r / *it);
  return r;
}

int32_t random_int(std::optional<int64_t> low, std::optional<int64_t> high) {
  constexpr int64_t kMax = 0x7FFFFFFF;
  int64_t lo = low && *low >= 0 ? *low : 0;
  int64_t hi = high ? (*high < 0 ? 0 : *high) : kMax;
  // The command's bounds are 32-bit.
  if (lo > kMax) lo = kMax;
  if (hi > kMax) hi = kMax;
  const int64_t min = lo < hi ? lo : hi;
  const int64_t max = lo < hi ? hi : lo;
  if (min == max) return static_cast<int32_t>(min);
  int64_t range = max - min;
  if (max == min + kMax) range = kMax - 1;
  const int64_t r = std::llabs(static_cast<int64_t>(std::rand()));
  return static_cast<int32_t>(min + r % (range + 1));
}

}  // namespace tambrel
