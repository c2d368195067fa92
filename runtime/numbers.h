// Number commands: bitwise operations over 32-bit integers, real remainders and divisions
// folded left to right, and the C library's random numbers.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>

namespace tambrel {

int32_t bit_xor(std::initializer_list<int32_t> values);
int32_t bit_and(std::initializer_list<int32_t> values);
int32_t bit_not(int32_t value);
// Arithmetic (sign-keeping) right shift; shifts beyond 31 give 0 or -1.
int32_t shift_right(int32_t value, int64_t bits);
// A 32-bit value from two 16-bit halves, the high half second.
int32_t pack_halves(int32_t low, int32_t high);

// x1 mod x2 mod ... (fmod), left to right.
double remainder(std::initializer_list<double> values);
// floor(floor(x1 / x2) / x3) ..., left to right.
double int_divide(std::initializer_list<double> values);

// srand(seed), or srand(GetTickCount()) when omitted.
void seed_random(std::optional<int64_t> seed = std::nullopt);
// A number between low and high inclusive, in either order. Negative bounds count as 0; the
// high bound defaults to 0x7FFFFFFF.
int32_t random_int(std::optional<int64_t> low = std::nullopt,
                   std::optional<int64_t> high = std::nullopt);

}  // namespace tambrel
