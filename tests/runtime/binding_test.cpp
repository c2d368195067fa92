// On-demand binding against real libraries: the system's own DLLs, and binding_probe.dll, a
// library of this test suite that only binding ever loads and that reports on stderr when
// FreeLibrary unloads it. Paths that end the program run in child processes (death tests);
// the test main records the boxes on stderr.
#include "runtime/binding.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "runtime/heap.h"
#include "runtime/message_box.h"
#include "tests/runtime/temp_folder.h"

using namespace tambrel;
using testing::AllOf;
using testing::HasSubstr;
using testing::Not;

TAMBREL_BOUND(bound_kernel32, "kernel32", GetCurrentProcessId)

namespace {

constexpr const char* kProbe = "binding_probe";

void mark(const char* what) {
  std::fprintf(stderr, "%s", what);
  std::fflush(stderr);
}
void app_hook() { mark("<app>"); }

// In a child: the box with its flags, so the parent can check the icon too.
int box_with_flags(HWND, const char* text, const char* caption, UINT flags) {
  std::fprintf(stderr, "[box %s | %s | flags 0x%x]", caption, text, flags);
  std::fflush(stderr);
  return IDOK;
}

// The ordinal under which `module` exports `name`, read from its export directory.
int export_ordinal(HMODULE module, const char* name) {
  auto* base = reinterpret_cast<const unsigned char*>(module);
  auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
  auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
  auto* ordinals = reinterpret_cast<const WORD*>(base + exports->AddressOfNameOrdinals);
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
    if (std::strcmp(reinterpret_cast<const char*>(base + names[i]), name) == 0) {
      return static_cast<int>(exports->Base + ordinals[i]);
    }
  }
  return -1;
}

TEST(Binding, TypedSlotCallsTheSystemFunction) {
  EXPECT_EQ(bound_kernel32::GetCurrentProcessId(), GetCurrentProcessId());
  EXPECT_TRUE(bound_kernel32::GetCurrentProcessId.is_bound());
  EXPECT_EQ(
      bound_kernel32::GetCurrentProcessId.address(),
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32"), "GetCurrentProcessId")));
}

TEST(Binding, SecondCallDoesNotResolveAgain) {
  static BoundFunction<DWORD()> tick("kernel32", "GetTickCount");
  EXPECT_FALSE(tick.is_bound());
  const size_t before = binding_resolution_count();
  tick();
  EXPECT_EQ(binding_resolution_count(), before + 1);
  tick();
  tick();
  EXPECT_EQ(binding_resolution_count(), before + 1);
  EXPECT_TRUE(tick.is_bound());
}

TEST(Binding, OrdinalOfARealSystemLibrary) {
  HMODULE kernel32 = GetModuleHandleA("kernel32");
  const int ordinal = export_ordinal(kernel32, "GetTickCount");
  ASSERT_GT(ordinal, 0);
  const std::string name = "#" + std::to_string(ordinal);
  BoundFunction<DWORD()> by_ordinal("kernel32", name.c_str());
  EXPECT_EQ(by_ordinal.address(),
            reinterpret_cast<void*>(GetProcAddress(kernel32, "GetTickCount")));
  EXPECT_GT(by_ordinal(), 0u);
}

TEST(Binding, OrdinalsAndTheDoubleAtSignCut) {
  static BoundFunction<int(int, int)> add_by_ordinal(kProbe, "#7");
  static BoundFunction<int(int)> twice_by_ordinal(kProbe, "#9");
  static BoundFunction<int(int, int)> add_decorated(kProbe, "probe_add@@YAHHH@Z");
  static BoundFunction<int(int, int)> add_cut_at_end(kProbe, "probe_add@@");
  EXPECT_EQ(add_by_ordinal(2, 3), 5);
  EXPECT_EQ(twice_by_ordinal(21), 42);
  EXPECT_EQ(add_decorated(40, 2), 42);
  EXPECT_EQ(add_cut_at_end(1, 1), 2);
  EXPECT_EQ(add_decorated.address(), add_by_ordinal.address());
}

TEST(Binding, TwoThreadsBindingTheSameSlotsAtOnce) {
  // Many fresh slots, swept by two threads in the same order from the same moment, so most
  // slots are resolved by both at nearly the same time.
  constexpr int kSlots = 300;
  std::vector<std::unique_ptr<BoundFunction<int(int, int)>>> slots;
  for (int i = 0; i < kSlots; ++i) {
    slots.push_back(
        std::make_unique<BoundFunction<int(int, int)>>(kProbe, i % 2 ? "probe_add" : "#7"));
  }
  std::atomic<int> ready{0};
  std::atomic<int> wrong{0};
  auto sweep = [&] {
    ready.fetch_add(1);
    while (ready.load() < 2) {
    }
    for (int i = 0; i < kSlots; ++i) {
      if ((*slots[i])(i, 1) != i + 1) wrong.fetch_add(1);
    }
  };
  const size_t before = binding_resolution_count();
  std::thread a(sweep), b(sweep);
  a.join();
  b.join();
  EXPECT_EQ(wrong.load(), 0);
  const size_t resolutions = binding_resolution_count() - before;
  EXPECT_GE(resolutions, static_cast<size_t>(kSlots));
  EXPECT_LE(resolutions, static_cast<size_t>(2 * kSlots)) << "at most once per thread and slot";
  void* expected = reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(kProbe), "probe_add"));
  for (auto& s : slots) EXPECT_EQ(s->address(), expected);
}

TEST(BindingDeathTest, MissingLibraryShowsItsBoxRunsTheExitChainAndExitsZero) {
  EXPECT_EXIT(
      {
        set_exit_hook(&app_hook);
        set_message_box_handler(&box_with_flags);
        static BoundFunction<int()> missing("tambrel_no_such_library", "anything");
        missing();
      },
      testing::ExitedWithCode(0),
      AllOf(HasSubstr(
                "[box DLL ERROR | "
                "同目录下无法找到DLL文件:\"tambrel_no_such_library\".请与作者联系. | flags 0x10]"),
            HasSubstr("<app>")));
}

TEST(BindingDeathTest, MissingFunctionNamesLibraryAndUnchangedFunctionName) {
  struct Case {
    const char* library;
    const char* function;
  };
  const Case cases[] = {
      {"kernel32", "TambrelNoSuchFunction@@8"},
      {"kernel32", "GetTickCount@4"},  // a single at-sign is part of the name
      {"Gdiplus.dll", "GdipNoSuchEffect"},
      {kProbe, "#65543"},  // 65536 + 7: must not wrap round to ordinal 7
      {kProbe, "#7x"},
      {kProbe, "#"},
      {kProbe, "#0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.function);
    const std::string box = std::string("[message box] DLL ERROR | 无法定位DLL文件:\"") +
                            c.library + "\"当中的\"" + c.function + "\"函数.";
    EXPECT_EXIT(
        {
          set_exit_hook(&app_hook);
          if (std::string(c.library) == "Gdiplus.dll") LoadLibraryA("gdiplus.dll");
          BoundFunction<int()> missing(c.library, c.function);
          missing();
        },
        testing::ExitedWithCode(0), AllOf(HasSubstr(box), HasSubstr("<app>")));
  }
}

TEST(BindingDeathTest, MissingFunctionInALibraryBindingLoadedFreesItAtExit) {
  EXPECT_EXIT(
      {
        BoundFunction<int()> missing(kProbe, "probe_missing");
        missing();
      },
      testing::ExitedWithCode(0),
      AllOf(HasSubstr("无法定位DLL文件:\"binding_probe\"当中的\"probe_missing\"函数."),
            HasSubstr("<probe freed>")));
}

TEST(BindingDeathTest, LibraryLoadedByBindingIsRecordedOnceAndFreedAtExit) {
  EXPECT_EXIT(
      {
        set_exit_hook(&app_hook);
        BoundFunction<int(int, int)> add(kProbe, "probe_add");
        BoundFunction<int(int)> twice(kProbe, "probe_twice");
        BoundFunction<DWORD()> tick("kernel32", "GetTickCount");
        if (add(1, 2) == 3 && twice(2) == 4 && tick() != 0) mark("<called>");
        std::fprintf(stderr, "<recorded %zu>", bound_library_count());
        std::fflush(stderr);
        rt_exit(0);
      },
      testing::ExitedWithCode(0), AllOf(HasSubstr("<called><recorded 1><app><probe freed>")));
}

TEST(BindingDeathTest, NoLibraryRecordedMeansNoFreeLibraryAtExit) {
  // The probe is loaded by the program itself (once), so binding finds it and must not record
  // it: freeing it at exit would drop the program's own reference and unload it.
  EXPECT_EXIT(
      {
        LoadLibraryA(kProbe);
        BoundFunction<int(int, int)> add(kProbe, "probe_add");
        add(1, 2);
        std::fprintf(stderr, "<recorded %zu>", bound_library_count());
        std::fflush(stderr);
        rt_exit(0);
      },
      testing::ExitedWithCode(0),
      AllOf(HasSubstr("<recorded 0>"), Not(HasSubstr("<probe freed>"))));
}

TEST(BindingDeathTest, TableHoldsAHundredLibrariesAndKeepsFurtherOnesLoaded) {
  // 101 copies of the probe under different names: the first 100 are recorded and freed at
  // exit, the 101st is refused a record and stays loaded until the process ends.
  tambrel::test::TempFolder dir;
  char own[MAX_PATH];
  GetModuleFileNameA(GetModuleHandleA(nullptr), own, sizeof own);
  std::string probe_path = own;
  probe_path = probe_path.substr(0, probe_path.rfind('\\')) + "\\binding_probe.dll";
  std::vector<std::string> copies;
  for (int i = 0; i < 101; ++i) {
    copies.push_back(dir.file("probe_" + std::to_string(i) + ".dll"));
    ASSERT_TRUE(CopyFileA(probe_path.c_str(), copies.back().c_str(), FALSE)) << copies.back();
  }
  auto freed_exactly_100 = [](const std::string& err) {
    size_t n = 0;
    for (size_t at = err.find("<probe freed>"); at != std::string::npos;
         at = err.find("<probe freed>", at + 1))
      ++n;
    return n == 100 && err.find("<recorded 100><all called>") != std::string::npos;
  };
  EXPECT_EXIT(
      {
        bool all = true;
        for (const std::string& path : copies) {
          BoundFunction<int(int, int)> add(path.c_str(), "probe_add");
          all = all && add(20, 22) == 42;
        }
        std::fprintf(stderr, "<recorded %zu>%s", bound_library_count(), all ? "<all called>" : "");
        std::fflush(stderr);
        rt_exit(0);
      },
      testing::ExitedWithCode(0), testing::Truly(freed_exactly_100));
}

}  // namespace
