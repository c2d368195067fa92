// The one move-only owner for every kind of native value that a single free function releases:
// kernel handles, GDI objects, cursors and icons, BSTRs, SAFEARRAYs and their data locks,
// sockets. The release function and the invalid value are part of the type, copying is
// impossible, and get/reset/release are the ways in and out.
//
// Calls that fill a caller's variable (out and in/out parameters: CreateStreamOnHGlobal's
// IStream**, an automation call's [in, out] BSTR*) take the owner's own storage: `put` releases
// first and is for out-only parameters; `slot` hands out the storage as it is, for a callee
// that may free and replace what it finds there. Whatever the callee leaves is what the owner
// releases.
//
// Owners that need more than the value to release it keep that too, in types of their own:
// ui::WindowDc keeps the window for ReleaseDC, ui::SelectedObject the context and the previous
// object, the automation's type descriptions the ITypeInfo that handed them out.
#pragma once

#include <windows.h>

#include <cstdint>
#include <type_traits>
#include <utility>

namespace tambrel {

template <class T, auto Close, intptr_t Invalid = 0>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(T h) : h_(h) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& o) noexcept : h_(o.release()) {}
  UniqueHandle& operator=(UniqueHandle&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }
  ~UniqueHandle() { reset(); }

  static T invalid() {
    if constexpr (std::is_pointer_v<T>) {
      return reinterpret_cast<T>(Invalid);
    } else {
      return static_cast<T>(Invalid);
    }
  }

  T get() const { return h_; }
  bool valid() const { return h_ != invalid(); }
  explicit operator bool() const { return valid(); }
  T release() { return std::exchange(h_, invalid()); }
  // Holding the value already held again changes nothing (it is not released).
  void reset(T h = invalid()) {
    T old = std::exchange(h_, h);
    if (old != invalid() && old != h) Close(old);
  }
  T* put() {
    reset();
    return &h_;
  }
  T* slot() { return &h_; }

 private:
  T h_ = invalid();
};

// CreateFile reports failure with INVALID_HANDLE_VALUE, most other calls with null.
using unique_file = UniqueHandle<HANDLE, &CloseHandle, -1>;
using unique_handle = UniqueHandle<HANDLE, &CloseHandle>;

}  // namespace tambrel
