// Heap and exit chain. The heap is the process heap, whose calls the system serialises, so
// values may be allocated and freed from any thread.
#include "runtime/heap.h"

#include <objbase.h>
#include <windows.h>

#include <atomic>
#include <cstdio>

#include "runtime/message_box.h"

namespace tambrel {
namespace {

std::atomic<HANDLE> g_heap{nullptr};
ExitHook g_app_hook = nullptr;
ExitHook g_file_hook = nullptr;
ExitHook g_library_hook = nullptr;

HANDLE heap() {
  HANDLE h = g_heap.load(std::memory_order_acquire);
  if (!h) {
    h = GetProcessHeap();
    g_heap.store(h, std::memory_order_release);
  }
  return h;
}

struct ImageRange {
  uintptr_t base = 0;
  uintptr_t end = 0;
};

ImageRange compute_image_range() {
  ImageRange r;
  auto* base = reinterpret_cast<const unsigned char*>(GetModuleHandleA(nullptr));
  if (!base) return r;
  auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  r.base = reinterpret_cast<uintptr_t>(base);
  r.end = r.base + nt->OptionalHeader.SizeOfImage;
  return r;
}

const ImageRange& image_range() {
  static const ImageRange range = compute_image_range();  // thread-safe one-time init
  return range;
}

}  // namespace

bool rt_in_program_image(const void* p) {
  auto v = reinterpret_cast<uintptr_t>(p);
  const ImageRange& r = image_range();
  return v >= r.base && v <= r.end;
}

void* rt_alloc(size_t size) {
  void* p = HeapAlloc(heap(), HEAP_ZERO_MEMORY, size);
  if (!p) {
    rt_message_box(nullptr, "内存不足", "error", MB_ICONERROR);
    rt_exit(0);
  }
  return p;
}

void* rt_realloc(void* block, size_t size) {
  if (!block) return HeapAlloc(heap(), HEAP_ZERO_MEMORY, size);
  return HeapReAlloc(heap(), 0, block, size);
}

void rt_free(void* p) {
  // Static constants (EMPTY_TEXT, EMPTY_BYTES, embedded blocks) live in the image and small
  // integers are never pointers; everything else the program hands here came from rt_alloc.
  // No probing of the memory: a pointer that is neither is a program fault, not a case to hide.
  if (reinterpret_cast<uintptr_t>(p) <= 0xFFFF) return;
  if (rt_in_program_image(p)) return;
  HeapFree(heap(), 0, p);
}

void rt_fatal(int error, uint32_t command) {
  char text[260];
  std::snprintf(text, sizeof text, "program internal error number is %d. (0x%Xh)", error,
                static_cast<unsigned>(command));
  rt_message_box(nullptr, text, "error", MB_ICONERROR);
  rt_exit(0);
}

void set_exit_hook(ExitHook hook) { g_app_hook = hook; }
void set_file_exit_hook(ExitHook hook) { g_file_hook = hook; }
void set_library_exit_hook(ExitHook hook) { g_library_hook = hook; }

void rt_exit(unsigned code) {
  // The chain runs once: a hook that itself ends the program (a fatal error while releasing
  // objects) must not re-enter the hooks that already ran.
  static std::atomic<bool> running{false};
  if (!running.exchange(true)) {
    if (ExitHook h = g_app_hook) h();
    if (ExitHook h = g_file_hook) h();
    if (ExitHook h = g_library_hook) h();
    CoUninitialize();
  }
  ExitProcess(code);
}

void rt_run(int (*main_routine)()) {
  g_heap.store(GetProcessHeap(), std::memory_order_release);
  CoInitialize(nullptr);
  int code = main_routine();
  rt_exit(static_cast<unsigned>(code));
}

}  // namespace tambrel
