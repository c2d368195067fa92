// One move-only owner for every kind of native handle: the close function and the invalid
// value are part of the type, copying is impossible, and get/reset/release are the only ways
// in and out. Kinds used by the runtime are named at the bottom.
#pragma once

#include <windows.h>

#include <utility>

namespace tambrel {

template <class T, auto Close, auto Invalid>
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

  T get() const { return h_; }
  bool valid() const { return h_ != invalid(); }
  explicit operator bool() const { return valid(); }
  T release() { return std::exchange(h_, invalid()); }
  void reset(T h = invalid()) {
    T old = std::exchange(h_, h);
    if (old != invalid()) Close(old);
  }

 private:
  static T invalid() { return reinterpret_cast<T>(Invalid); }
  T h_ = invalid();
};

// CreateFile reports failure with INVALID_HANDLE_VALUE, most other calls with null.
using unique_file = UniqueHandle<HANDLE, &CloseHandle, static_cast<intptr_t>(-1)>;
using unique_handle = UniqueHandle<HANDLE, &CloseHandle, static_cast<intptr_t>(0)>;

}  // namespace tambrel
