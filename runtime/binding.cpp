#include "runtime/binding.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "runtime/heap.h"
#include "runtime/message_box.h"

namespace tambrel {
namespace {

constexpr size_t kMaxLibraries = 100;

std::mutex g_table_mutex;
HMODULE g_loaded[kMaxLibraries];
size_t g_loaded_count = 0;
std::atomic<size_t> g_resolutions{0};

void free_bound_libraries() {
  std::lock_guard lock(g_table_mutex);
  for (size_t i = 0; i < g_loaded_count && g_loaded[i]; ++i) FreeLibrary(g_loaded[i]);
  g_loaded_count = 0;
}

void record_loaded(HMODULE module) {
  std::lock_guard lock(g_table_mutex);
  // Beyond the table the library simply stays loaded until the process ends.
  if (g_loaded_count >= kMaxLibraries) return;
  g_loaded[g_loaded_count++] = module;
  if (g_loaded_count == 1) set_library_exit_hook(&free_bound_libraries);
}

[[noreturn]] void stop_with(const char* text) {
  rt_message_box(nullptr, text, "DLL ERROR", MB_ICONERROR);
  rt_exit(0);
}

}  // namespace

size_t binding_resolution_count() { return g_resolutions.load(); }

size_t bound_library_count() {
  std::lock_guard lock(g_table_mutex);
  return g_loaded_count;
}

void* bind_function(const char* library, const char* function, std::atomic<void*>* slot) {
  g_resolutions.fetch_add(1);
  char message[1024];
  HMODULE module = GetModuleHandleA(library);
  if (!module) {
    module = LoadLibraryA(library);
    if (!module) {
      std::snprintf(message, sizeof message, "同目录下无法找到DLL文件:\"%s\".请与作者联系.", library);
      stop_with(message);
    }
    record_loaded(module);
  }

  FARPROC address;
  if (function[0] == '#') {
    const unsigned long ordinal = std::strtoul(function + 1, nullptr, 10);
    address = GetProcAddress(module, MAKEINTRESOURCEA(ordinal));
  } else {
    char name[1024];
    std::snprintf(name, sizeof name, "%s", function);
    if (char* at = std::strchr(name, '@'); at && at[1] == '@') *at = '\0';
    address = GetProcAddress(module, name);
  }
  if (!address) {
    std::snprintf(message, sizeof message, "无法定位DLL文件:\"%s\"当中的\"%s\"函数.", library, function);
    stop_with(message);
  }
  void* f = reinterpret_cast<void*>(address);
  slot->store(f, std::memory_order_release);
  return f;
}

}  // namespace tambrel
