// Value commands and owner types, as tables of cases.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "runtime/grow_buffer.h"
#include "runtime/values.h"

using namespace tambrel;
using testing::HasSubstr;

namespace {

std::vector<std::string> elements(const TextArray& a) {
  std::vector<std::string> out;
  for (size_t i = 1; i <= a.size(); ++i) out.emplace_back(a[static_cast<int64_t>(i)]);
  return out;
}

using Strings = std::vector<std::string>;

TEST(TextCompare, NullEqualsEmptyAndSortsFirst) {
  EXPECT_EQ(text_compare(nullptr, ""), 0);
  EXPECT_LT(text_compare(nullptr, "a"), 0);
  EXPECT_GT(text_compare("a", nullptr), 0);
  EXPECT_LT(text_compare("a", "b"), 0);
  EXPECT_NE(text_compare("A", "a"), 0);  // case-sensitive
  EXPECT_EQ(text_length(nullptr), 0u);
  EXPECT_EQ(text_length("中文"), 4u);  // GBK: two bytes a character
}

TEST(SplitText, Cases) {
  struct Case {
    const char* text;
    const char* separator;
    std::optional<int64_t> limit;
    Strings expected;
  };
  const Case cases[] = {
      {"a,b", ",", {}, {"a", "b"}},
      {"a,,b", ",", {}, {"a", "", "b"}},
      {"a,", ",", {}, {"a"}},
      {",a", ",", {}, {"", "a"}},
      {"a,b,c", ",", 1, {"a"}},
      {"a,b,c", ",", 2, {"a", "b"}},
      {"a,b,c", ",", -5, {}},
      {"", ",", {}, {}},
      {"abc", ",", 0, {}},
      {"a,b", "", {}, {"a,b"}},
      {"a\r\nb\r\n\r\nc", "\r\n", {}, {"a", "b", "", "c"}},
      {"id$title$file", "$", {}, {"id", "title", "file"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("text '") + c.text + "' separator '" + c.separator + "'");
    EXPECT_EQ(elements(split_text(c.text, c.separator, c.limit)), c.expected);
  }
}

TEST(SplitText, NeverSplitsInsideADoubleByteCharacter) {
  // "乐" is C0 D6 and "@" is 0x40: GBK trail bytes range over 0x40..0xFE, so a separator equal to
  // a trail byte must only match at character boundaries. "丂" is 81 40.
  const char text[] = "\x81\x40@\x81\x40";
  EXPECT_EQ(elements(split_text(text, "@")), (Strings{"\x81\x40", "\x81\x40"}));
  // A lead byte at the very end (truncated character) ends the walk without reading past it.
  EXPECT_EQ(elements(split_text("a,\x81", ",")), (Strings{"a", "\x81"}));
}

TEST(SplitText, EmptyResultIsTheOneDimensionalEmptyArray) {
  TextArray a = split_text("", ",");
  const int32_t* raw = static_cast<const int32_t*>(a.raw());
  ASSERT_NE(raw, nullptr);
  EXPECT_EQ(raw[0], 1);
  EXPECT_EQ(raw[1], 0);
}

TEST(SplitText, TwoThreadsSplittingAtOnceShareThePoolSafely) {
  std::string text;
  for (int i = 0; i < 60; ++i) text += "item" + std::to_string(i) + ",";
  auto worker = [&] {
    for (int round = 0; round < 300; ++round) {
      TextArray a = split_text(text.c_str());
      if (a.size() != 60 || std::string(a[60]) != "item59") return false;
    }
    return true;
  };
  bool ok1 = false, ok2 = false;
  std::thread t1([&] { ok1 = worker(); });
  std::thread t2([&] { ok2 = worker(); });
  t1.join();
  t2.join();
  EXPECT_TRUE(ok1);
  EXPECT_TRUE(ok2);
  EXPECT_EQ(GrowBuffer::pool_in_use(), 0u);
  EXPECT_TRUE(HeapValidate(GetProcessHeap(), 0, nullptr));
}

TEST(GrowBuffer, PoolThenHeapAndBack) {
  GrowBuffer b;
  ASSERT_TRUE(b.reserve(100));
  EXPECT_TRUE(b.from_pool());
  EXPECT_EQ(b.capacity(), 512u);
  for (int i = 0; i < 64; ++i) ASSERT_TRUE(b.append_pointer(reinterpret_cast<void*>(i + 1)));
  EXPECT_TRUE(b.from_pool());
  ASSERT_TRUE(b.append_pointer(reinterpret_cast<void*>(65)));  // 520 bytes: moves to the heap
  EXPECT_FALSE(b.from_pool());
  EXPECT_EQ(b.capacity(), 520u + 128u);
  void* first;
  std::memcpy(&first, b.data(), sizeof first);
  EXPECT_EQ(first, reinterpret_cast<void*>(1));  // content kept across the move
  b.release();
  EXPECT_EQ(GrowBuffer::pool_in_use(), 0u);

  GrowBuffer big;
  ASSERT_TRUE(big.reserve(1000));
  EXPECT_FALSE(big.from_pool());
  EXPECT_EQ(big.capacity(), 1128u);
}

TEST(TrimText, Cases) {
  struct Case {
    const char* in;
    const char* out;  // nullptr: null result
  };
  const Case cases[] = {
      {"  ab  ", "ab"},
      {"\xA1\xA1 ab\xA1\xA1 \xA1\xA1", "ab"},
      {"   ", nullptr},
      {"\xA1\xA1\xA1\xA1", nullptr},
      {"", nullptr},
      {"a b", "a b"},
      // A1 A1 inside a character pair is not a space: "\xB0\xA1" is 啊, followed by A1 41.
      {"\xB0\xA1\xA1\x41", "\xB0\xA1\xA1\x41"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    Text t = trim_text(c.in);
    if (c.out) {
      EXPECT_STREQ(t.c_str(), c.out);
    } else {
      EXPECT_EQ(t.get(), nullptr);
    }
  }
}

TEST(SmallCommands, NullResultsWhereNothingIsMade) {
  EXPECT_EQ(space_text(0).get(), nullptr);
  EXPECT_STREQ(space_text(3).c_str(), "   ");
  EXPECT_EQ(zero_bytes(0).get(), nullptr);
  EXPECT_EQ(zero_bytes(-1).get(), nullptr);
  EXPECT_EQ(zero_bytes(5).size(), 5u);
  const char src[] = "hello";
  EXPECT_EQ(bytes_from_memory(src, 0).get(), nullptr);
  Bytes copied = bytes_from_memory(src, 5);
  ASSERT_EQ(copied.size(), 5u);
  EXPECT_EQ(copied.get()->one, 1);
  EXPECT_EQ(std::memcmp(copied.data(), "hello", 5), 0);
  // Unreadable memory gives null, not a fault.
  void* reserved = VirtualAlloc(nullptr, 4096, MEM_RESERVE, PAGE_NOACCESS);
  EXPECT_EQ(bytes_from_memory(reserved, 16).get(), nullptr);
  VirtualFree(reserved, 0, MEM_RELEASE);
  EXPECT_STREQ(text_concat({"a", nullptr, "中", ""}).c_str(), "a中");
  EXPECT_EQ(bit_or({2, 3, 0x200, 1, 0x40000000, 0, 0x10000000}), 0x50000203);
  EXPECT_EQ(real_to_int(-2.9), -2);
  EXPECT_EQ(real_to_int(2.9), 2);
}

TEST(ReadBytesValue, PositionVariableAndShortReads) {
  const unsigned char four[] = {0x78, 0x56, 0x34, 0x12};
  Bytes block(four, 4);
  int32_t position = 1;
  ArgValue v = read_bytes_value(block.get(), 3, &position);
  EXPECT_EQ(v.tag, TYPE_INT);
  EXPECT_EQ(v.value.i32, 0x12345678);
  EXPECT_EQ(position, -1);  // the last value of the block was read

  // Only two bytes remain at position 3: they become the low half.
  v = read_bytes_value(block.get(), 3, 3);
  EXPECT_EQ(v.value.i32, 0x1234);

  // Beyond the end: zero and the variable becomes -1.
  position = 5;
  v = read_bytes_value(block.get(), 3, &position);
  EXPECT_EQ(v.value.i32, 0);
  EXPECT_EQ(position, -1);

  // Sequential reads advance the variable by the size of each value.
  const unsigned char mixed[] = {7, 0xFE, 0xFF, 'h', 'i', 0, 'x'};
  Bytes m(mixed, sizeof mixed);
  position = 1;
  EXPECT_EQ(read_bytes_value(m.get(), 1, &position).value.raw, 7u);
  EXPECT_EQ(position, 2);
  ArgValue s = read_bytes_value(m.get(), 2, &position);
  EXPECT_EQ(s.tag, TYPE_SHORT);
  EXPECT_EQ(arg_to_int(s), -2);  // sign-extended
  EXPECT_EQ(position, 4);
  ArgValue t = read_bytes_value(m.get(), 10, &position);
  EXPECT_EQ(t.tag, TYPE_TEXT);
  EXPECT_STREQ(arg_to_text(t), "hi");
  free_arg(t);
  EXPECT_EQ(position, 7);
  t = read_bytes_value(m.get(), 10, &position);  // no NUL: the rest of the block
  EXPECT_STREQ(arg_to_text(t), "x");
  free_arg(t);
  EXPECT_EQ(position, -1);

  // A null block gives the zero value of the type.
  EXPECT_EQ(read_bytes_value(nullptr, 6).tag, TYPE_DOUBLE);
  const unsigned char truthy[] = {0, 0, 2, 0};
  EXPECT_EQ(read_bytes_value(Bytes(truthy, 4).get(), 7).value.i32, 1);
}

TEST(ReadBytesValueDeathTest, TypeNumberOutsideRangeIsFatal100) {
  Bytes block("abcd", 4);
  EXPECT_EXIT(read_bytes_value(block.get(), 0), testing::ExitedWithCode(0),
              HasSubstr("program internal error number is 100."));
  EXPECT_EXIT(read_bytes_value(block.get(), 11), testing::ExitedWithCode(0),
              HasSubstr("program internal error number is 100."));
}

TEST(ArrayIndexDeathTest, ZeroAndCountPlusOne) {
  EXPECT_EXIT(split_text("a,b")[0], testing::ExitedWithCode(0), HasSubstr("number is 4."));
  EXPECT_EXIT(split_text("a,b")[3], testing::ExitedWithCode(0), HasSubstr("number is 1."));
}

TEST(Owners, CopiesAreDeepAndMovesTransfer) {
  Text a("abc");
  Text b = a;
  ASSERT_NE(a.get(), b.get());
  b = Text("xyz");
  EXPECT_STREQ(a.c_str(), "abc");
  Text c = std::move(b);
  EXPECT_EQ(b.get(), nullptr);
  EXPECT_STREQ(c.c_str(), "xyz");
  EXPECT_STREQ(Text().c_str(), "");  // null reads as the empty text
  EXPECT_TRUE(Text() == "");

  Bytes x("12", 2);
  Bytes y = x;
  EXPECT_TRUE(x == y);
  EXPECT_NE(x.get(), y.get());
  Bytes empty;
  EXPECT_EQ(empty.block(), &EMPTY_BYTES);

  // A static constant adopted by an owner is left alone when the owner goes.
  { Text constant = Text::adopt(const_cast<char*>(EMPTY_TEXT)); }
  EXPECT_TRUE(HeapValidate(GetProcessHeap(), 0, nullptr));
}

TEST(ArrayMakeOwn, CopiesStaticArraysOnly) {
  static const int32_t kStatic[] = {1, 3, 10, 20, 30};
  void* array = const_cast<int32_t*>(kStatic);
  EXPECT_EQ(array_make_own(4, &array), 0);
  ASSERT_NE(array, static_cast<const void*>(kStatic));
  void* first;
  EXPECT_EQ(array_element_count(array, &first), 3u);
  EXPECT_EQ(static_cast<int32_t*>(first)[2], 30);
  void* again = array;
  EXPECT_EQ(array_make_own(4, &again), 1);
  EXPECT_EQ(again, array);
  rt_free(array);
  EXPECT_EQ(array_element_count(nullptr), 0u);
}

}  // namespace
