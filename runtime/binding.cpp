// On-demand binding. Resolution is rare (once per slot) and may fail only by stopping the
// program, so it favours plain correctness over speed: the loaded-library table is locked,
// slots are published with a release store, and a name that cannot be looked up exactly (an
// ordinal outside 1..65535, trailing characters after an ordinal) is treated as missing rather
// than silently binding some other function.
#include "runtime/binding.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "runtime/heap.h"
#include "runtime/message_box.h"

namespace tambrel {
namespace {

constexpr size_t kMaxLibraries = 100;

std::mutex g_table_mutex;
HMODULE g_loaded[kMaxLibraries];
size_t g_loaded_count = 0;
std::atomic<size_t> g_resolutions{0};

void free_bound_libraries_hook() { free_bound_libraries(); }

void record_loaded(HMODULE module) {
  std::lock_guard lock(g_table_mutex);
  // Beyond the table the library simply stays loaded until the process ends.
  if (g_loaded_count >= kMaxLibraries) return;
  g_loaded[g_loaded_count++] = module;
  if (g_loaded_count == 1) set_library_exit_hook(&free_bound_libraries_hook);
}

[[noreturn]] void stop_with(const char* text) {
  rt_message_box(nullptr, text, "DLL ERROR", MB_ICONERROR);
  rt_exit(0);
}

// "#N": N must be all decimal digits and a valid ordinal; anything else resolves to nothing.
// (MAKEINTRESOURCE keeps only the low 16 bits, so "#65537" would otherwise bind ordinal 1.)
FARPROC lookup_ordinal(HMODULE module, const char* digits) {
  if (!*digits) return nullptr;
  unsigned long ordinal = 0;
  for (const char* p = digits; *p; ++p) {
    if (*p < '0' || *p > '9') return nullptr;
    ordinal = ordinal * 10 + static_cast<unsigned long>(*p - '0');
    if (ordinal > 0xFFFF) return nullptr;
  }
  if (ordinal == 0) return nullptr;
  return GetProcAddress(module, MAKEINTRESOURCEA(ordinal));
}

}  // namespace

size_t binding_resolution_count() { return g_resolutions.load(); }

size_t bound_library_count() {
  std::lock_guard lock(g_table_mutex);
  return g_loaded_count;
}

void free_bound_libraries() {
  HMODULE handles[kMaxLibraries];
  size_t count;
  {
    std::lock_guard lock(g_table_mutex);
    count = g_loaded_count;
    std::memcpy(handles, g_loaded, count * sizeof(HMODULE));
    g_loaded_count = 0;
  }
  // Outside the lock: a library's detach routine may itself reach code that binds.
  for (size_t i = 0; i < count && handles[i]; ++i) FreeLibrary(handles[i]);
}

void* bind_function(const char* library, const char* function, std::atomic<void*>* slot) {
  g_resolutions.fetch_add(1);
  char message[1024];
  HMODULE module = GetModuleHandleA(library);
  if (!module) {
    module = LoadLibraryA(library);
    if (!module) {
      std::snprintf(message, sizeof message, "同目录下无法找到DLL文件:\"%s\".请与作者联系.",
                    library);
      stop_with(message);
    }
    record_loaded(module);
  }

  FARPROC address;
  if (function[0] == '#') {
    address = lookup_ordinal(module, function + 1);
  } else {
    // Decorated names such as "Name@@suffix" are looked up without the part from the first "@".
    std::string name(function);
    if (const size_t at = name.find('@'); at != std::string::npos && name[at + 1] == '@') {
      name.resize(at);
    }
    address = GetProcAddress(module, name.c_str());
  }
  if (!address) {
    std::snprintf(message, sizeof message, "无法定位DLL文件:\"%s\"当中的\"%s\"函数.", library,
                  function);
    stop_with(message);
  }
  void* f = reinterpret_cast<void*>(address);
  slot->store(f, std::memory_order_release);
  return f;
}

}  // namespace tambrel
