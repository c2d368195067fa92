// The one move-only owner: each value released exactly once, by its own release function, and
// the out-parameter forms (put releases first, slot hands out the storage as it is).
#include "runtime/unique_handle.h"

#include <gtest/gtest.h>

#include <vector>

using namespace tambrel;

namespace {

std::vector<intptr_t>& released() {
  static std::vector<intptr_t> list;
  return list;
}
void release_pointer(int* p) { released().push_back(reinterpret_cast<intptr_t>(p)); }
void release_number(uintptr_t n) { released().push_back(static_cast<intptr_t>(n)); }

using PointerOwner = UniqueHandle<int*, &release_pointer>;
// An unsigned kind whose invalid value is all ones, as a socket's is.
using NumberOwner = UniqueHandle<uintptr_t, &release_number, -1>;

int a_value, b_value;
int* const a = &a_value;
int* const b = &b_value;
intptr_t id(int* p) { return reinterpret_cast<intptr_t>(p); }

TEST(UniqueHandle, ReleasesEachValueOnceAndOnlyWhenReplaced) {
  released().clear();
  {
    PointerOwner owner(a);
    owner.reset(a);  // the same value again: still held, not released
    EXPECT_TRUE(released().empty());
    PointerOwner moved(std::move(owner));
    EXPECT_FALSE(owner);
    EXPECT_EQ(moved.get(), a);
    moved = PointerOwner(b);
    EXPECT_EQ(released(), std::vector<intptr_t>{id(a)});
    EXPECT_EQ(moved.release(), b);
  }
  EXPECT_EQ(released(), std::vector<intptr_t>{id(a)}) << "a released value is the caller's";
}

TEST(UniqueHandle, PutReleasesFirstSlotKeepsWhatIsThere) {
  released().clear();
  PointerOwner owner(a);
  int** storage = owner.slot();
  EXPECT_EQ(*storage, a);
  EXPECT_TRUE(released().empty());
  *storage = b;  // a callee that freed and replaced an in/out value
  EXPECT_EQ(owner.get(), b);
  *owner.put() = a;
  EXPECT_EQ(released(), std::vector<intptr_t>{id(b)});
  EXPECT_EQ(owner.get(), a);
}

TEST(UniqueHandle, NumbersWithAnInvalidValueOfTheirOwn) {
  released().clear();
  NumberOwner none;
  EXPECT_FALSE(none);
  EXPECT_EQ(none.get(), ~uintptr_t{0});
  {
    NumberOwner zero(0);  // 0 is a valid value for this kind
    EXPECT_TRUE(zero);
  }
  EXPECT_EQ(released(), std::vector<intptr_t>{0});
}

}  // namespace
