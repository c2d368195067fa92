// Number commands: bitwise folds, real remainders and divisions, random ranges.
#include "runtime/numbers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

using namespace tambrel;

namespace {

TEST(Bitwise, Folds) {
  EXPECT_EQ(bit_xor({1, 3}), 2);
  EXPECT_EQ(bit_xor({5, 5, 5}), 5);
  EXPECT_EQ(bit_xor({}), 0);
  EXPECT_EQ(bit_and({0xF0, 0x3C}), 0x30);
  EXPECT_EQ(bit_and({-1, 0x7F, 0x3F}), 0x3F);
  EXPECT_EQ(bit_not(0), -1);
  EXPECT_EQ(bit_not(0x0F0F0F0F), static_cast<int32_t>(0xF0F0F0F0));
}

TEST(Bitwise, ShiftKeepsTheSignAndPackingPutsTheHighHalfSecond) {
  struct Case {
    int32_t value;
    int64_t bits;
    int32_t expected;
  };
  const Case cases[] = {
      {8, 1, 4},           {-8, 1, -4},         {-1, 31, -1}, {-1, 40, -1},
      {0x40000000, 31, 0}, {0x40000000, 40, 0}, {5, 0, 5},    {5, -3, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.value << " >> " << c.bits);
    EXPECT_EQ(shift_right(c.value, c.bits), c.expected);
  }
  EXPECT_EQ(pack_halves(0x1234, 0x5678), 0x56781234);
  EXPECT_EQ(pack_halves(-1, 0), 0xFFFF);
  EXPECT_EQ(pack_halves(0, -1), static_cast<int32_t>(0xFFFF0000));
  EXPECT_EQ(pack_halves(0x12345, 0x1), 0x00012345 & 0x1FFFF)
      << "only the low 16 bits of the low half";
}

TEST(RealFolds, RemainderAndIntDivideLeftToRight) {
  EXPECT_DOUBLE_EQ(remainder({10, 4}), 2);
  EXPECT_DOUBLE_EQ(remainder({10.5, 4, 1.5}), 1.0);
  EXPECT_DOUBLE_EQ(remainder({-7, 3}), -1);
  EXPECT_DOUBLE_EQ(int_divide({7, 2}), 3);
  EXPECT_DOUBLE_EQ(int_divide({-7, 2}), -4);
  EXPECT_DOUBLE_EQ(int_divide({100, 3, 4}), 8);
}

TEST(RandomInt, Ranges) {
  struct Case {
    std::optional<int64_t> low, high;
    int32_t min, max;
  };
  const Case cases[] = {
      {5, 5, 5, 5},
      {10, 1, 1, 10},  // bounds in either order
      {-5, 3, 0, 3},   // a negative low counts as 0
      {3, -4, 0, 3},   // and so does a negative high
      {{}, -4, 0, 0},
      {0, 1, 0, 1},
      {2000000000, {}, 2000000000, 0x7FFFFFFF},
      {{}, {}, 0, 0x7FFFFFFF},
      {0, 0x7FFFFFFF, 0, 0x7FFFFFFF},
  };
  seed_random(12345);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "expected " << c.min << ".." << c.max);
    std::set<int32_t> seen;
    for (int i = 0; i < 2000; ++i) {
      const int32_t r = random_int(c.low, c.high);
      ASSERT_GE(r, c.min);
      ASSERT_LE(r, c.max);
      seen.insert(r);
    }
    const int64_t width = static_cast<int64_t>(c.max) - c.min + 1;
    if (width <= 10) {
      EXPECT_EQ(static_cast<int64_t>(seen.size()), width) << "every value drawn";
    }
  }
}

TEST(SeedRandom, SameSeedSameSequence) {
  auto draw = [] {
    std::vector<int32_t> v;
    for (int i = 0; i < 8; ++i) v.push_back(random_int(0, 1000000));
    return v;
  };
  seed_random(42);
  const auto first = draw();
  seed_random(42);
  EXPECT_EQ(draw(), first);
  seed_random(43);
  EXPECT_NE(draw(), first);
  seed_random();  // from the tick count; must not disturb later draws
  const int32_t r = random_int(1, 6);
  EXPECT_GE(r, 1);
  EXPECT_LE(r, 6);
}

}  // namespace
