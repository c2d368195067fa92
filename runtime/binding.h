// On-demand library binding: a function that the program does not import is resolved by
// library and function name on its first call and called directly through its slot afterwards.
// A missing library or function stops the program with a box that names it.
//
// Declare a bound function with the system header's own prototype, so the compiler checks
// every call:
//     TAMBREL_BOUND(gdiplus_fn, "gdiplus", GdipCreatePath);   // -> gdiplus_fn::GdipCreatePath(...)
// A function name "#N" binds by ordinal N; a name with "@@" is looked up without the part from
// the first "@" on. Slots are atomics: two threads binding the same function at once both
// resolve it and store the same address.
#pragma once

#include <windows.h>

#include <atomic>
#include <type_traits>
#include <cstddef>

namespace tambrel {

// Resolves library!function, stores the address into the slot and returns it. Does not return
// when the library or the function is missing (message box, then the exit chain).
void* bind_function(const char* library, const char* function, std::atomic<void*>* slot);

// How many times bind_function resolved a name (loader and GetProcAddress calls), for tests
// that check a bound slot is not resolved again.
size_t binding_resolution_count();
// Libraries that binding itself loaded and will free at exit (at most 100 are recorded).
size_t bound_library_count();
// The library exit hook: frees every recorded library in the order it was loaded and empties
// the table. Registered with the exit chain on the first recorded load.
void free_bound_libraries();

template <class Fn>
class BoundFunction;

template <class R, class... Args>
class BoundFunction<R(Args...)> {
 public:
  constexpr BoundFunction(const char* library, const char* name) : library_(library), name_(name) {}
  BoundFunction(const BoundFunction&) = delete;
  BoundFunction& operator=(const BoundFunction&) = delete;

  R operator()(Args... args) {
    return reinterpret_cast<R (*)(Args...)>(address())(args...);
  }
  void* address() {
    void* f = slot_.load(std::memory_order_acquire);
    return f ? f : bind_function(library_, name_, &slot_);
  }
  bool is_bound() const { return slot_.load(std::memory_order_acquire) != nullptr; }
  const char* name() const { return name_; }

 private:
  const char* library_;
  const char* name_;
  std::atomic<void*> slot_{nullptr};
};

// Prototype taken from the declared system function; the slot lives in namespace `ns`.
#define TAMBREL_BOUND(ns, library, function)                                               \
  namespace ns {                                                                           \
  inline ::tambrel::BoundFunction<std::remove_pointer_t<decltype(&::function)>> function{  \
      library, #function};                                                                 \
  }

}  // namespace tambrel
