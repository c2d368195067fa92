// Heap, exit chain and fatal errors. The fatal paths end the process, so they run in child
// processes (death tests) whose stderr carries the recorded box and the hooks' marks.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <objbase.h>

#include <cstdio>

#include "runtime/heap.h"
#include "runtime/values.h"

using namespace tambrel;
using testing::AllOf;
using testing::HasSubstr;

namespace {

const char kConstantText[] = "constant";

void mark(const char* what) {
  std::fprintf(stderr, "%s", what);
  std::fflush(stderr);
}
void app_hook() { mark("<app>"); }
void app_hook_2() { mark("<app2>"); }
void file_hook() { mark("<file>"); }
void library_hook() { mark("<library>"); }

void install_all_hooks() {
  set_exit_hook(&app_hook);
  set_file_exit_hook(&file_hook);
  set_library_exit_hook(&library_hook);
}

TEST(Heap, FreeIgnoresConstantsNullAndSmallValues) {
  // Each of these would corrupt the heap or fault if it reached HeapFree.
  rt_free(const_cast<char*>(EMPTY_TEXT));
  rt_free(const_cast<BytesBlock*>(&EMPTY_BYTES));
  rt_free(const_cast<char*>(kConstantText));
  rt_free(nullptr);
  rt_free(reinterpret_cast<void*>(0x1234));
  rt_free(reinterpret_cast<void*>(0xFFFF));
  EXPECT_TRUE(HeapValidate(GetProcessHeap(), 0, nullptr));
  EXPECT_TRUE(rt_in_program_image(kConstantText));
  EXPECT_TRUE(rt_in_program_image(&EMPTY_BYTES));
}

TEST(Heap, AllocIsZeroFilledAndNeverNull) {
  void* empty = rt_alloc(0);
  ASSERT_NE(empty, nullptr);
  EXPECT_FALSE(rt_in_program_image(empty));
  rt_free(empty);

  auto* block = static_cast<unsigned char*>(rt_alloc(4096));
  for (int i = 0; i < 4096; ++i) ASSERT_EQ(block[i], 0) << "byte " << i;
  block = static_cast<unsigned char*>(rt_realloc(block, 8192));
  ASSERT_NE(block, nullptr);
  rt_free(block);

  void* fresh = rt_realloc(nullptr, 16);
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(static_cast<unsigned char*>(fresh)[15], 0);
  rt_free(fresh);
  EXPECT_TRUE(HeapValidate(GetProcessHeap(), 0, nullptr));
}

struct FatalCase {
  int error;
  uint32_t command;
  const char* box;
};

TEST(HeapDeathTest, FatalErrorShowsBoxRunsChainInOrderAndExitsZero) {
  const FatalCase cases[] = {
      {1, 0x1001, "program internal error number is 1. (0x1001h)"},
      {2, 0x1004, "program internal error number is 2. (0x1004h)"},
      {4, 0x1001, "program internal error number is 4. (0x1001h)"},
      {5, 0x1005, "program internal error number is 5. (0x1005h)"},
      {9, 0x1006, "program internal error number is 9. (0x1006h)"},
      {10, 0x1002, "program internal error number is 10. (0x1002h)"},
      {100, 0xABCDEF12, "program internal error number is 100. (0xABCDEF12h)"},
  };
  for (const FatalCase& c : cases) {
    SCOPED_TRACE(c.box);
    EXPECT_EXIT(
        {
          install_all_hooks();
          rt_fatal(c.error, c.command);
        },
        testing::ExitedWithCode(0),
        AllOf(HasSubstr(std::string("[message box] error | ") + c.box),
              HasSubstr("<app><file><library>")));
  }
}

TEST(HeapDeathTest, ExitChainRunsOnceInOrder) {
  EXPECT_EXIT(
      {
        install_all_hooks();
        set_exit_hook(&app_hook_2);  // a second registration replaces the first
        rt_exit(7);
      },
      testing::ExitedWithCode(7), AllOf(HasSubstr("<app2><file><library>"),
                                        testing::Not(HasSubstr("<app>"))));
  // No hooks at all: the process still ends with the code given.
  EXPECT_EXIT(rt_exit(3), testing::ExitedWithCode(3), testing::Not(HasSubstr("<")));
}

TEST(HeapDeathTest, GuardedOperationsRaiseTheirErrors) {
  EXPECT_EXIT(check_index(0, 3), testing::ExitedWithCode(0), HasSubstr("number is 4."));
  EXPECT_EXIT(check_index(4, 3), testing::ExitedWithCode(0), HasSubstr("number is 1."));
  EXPECT_EXIT(RecordArray<int>(-1), testing::ExitedWithCode(0), HasSubstr("number is 10."));
  EXPECT_EXIT(arg_to_int(text_arg("1")), testing::ExitedWithCode(0), HasSubstr("number is 2."));
  EXPECT_EXIT(arg_to_text(int_arg(1)), testing::ExitedWithCode(0), HasSubstr("number is 5."));
}

int main_routine_checking_com() {
  // COM is already initialised for this thread when the main routine runs: a second
  // initialisation answers S_FALSE.
  HRESULT hr = CoInitialize(nullptr);
  mark(hr == S_FALSE ? "<com ready>" : "<com missing>");
  if (SUCCEEDED(hr)) CoUninitialize();
  install_all_hooks();
  return 0;
}

TEST(HeapDeathTest, ProcessEntryRunsMainThenTheExitChain) {
  EXPECT_EXIT(rt_run(&main_routine_checking_com), testing::ExitedWithCode(0),
              HasSubstr("<com ready><app><file><library>"));
}

}  // namespace
