// The common base of every picture-library object and the library-wide state.
//
// Each object owns at most one native GDI+ object. The base keeps an untyped copy of its
// handle; a class keeps its own typed field as well and is told about every new handle
// through StoreNative, so the copy and the typed field can never disagree. Copies are
// forbidden (two owners would delete the handle twice); moves hand the native object over.
//
// Every GDI+ call the library makes records its status in one process-wide last status;
// operations that report success return true exactly when that status is Ok. Failures never
// raise errors: callers get false, 0 or an empty value and can ask LastStatus() why.
#pragma once

#include <windows.h>
#include "picture/gdiplus_types.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace tambrel {

// GDI+'s own records (points, rectangles, bitmap data, ...) are the library's records.
namespace gp = ::Gdiplus;
using Gdiplus::ARGB;
using Gdiplus::GpStatus;

// The status of the most recent GDI+ call of any picture-library object.
GpStatus LastStatus();
// Records a status as the last status; returns true when it is Ok.
bool RecordStatus(GpStatus status);

// Starts GDI+ once for the process (version 1 unless given) and returns the token. GDI+ is
// never shut down: it ends with the process.
ULONG_PTR StartGdiPlus(std::optional<UINT32> version = std::nullopt);

class NativeObject {
 public:
  NativeObject(const NativeObject&) = delete;
  NativeObject& operator=(const NativeObject&) = delete;
  virtual ~NativeObject() = default;

  void* GetNativeHandle() const { return handle_; }
  // Stores h as this object's native object. It does not release the previous one: owners
  // Dispose first (the library's own operations do).
  void SetNativeHandle(void* h) {
    handle_ = h;
    StoreNative(h);
  }
  // Memory from GDI+'s own allocator, for structures that GDI+ may free.
  static void* NativeAlloc(size_t size);
  static void NativeFree(void* p);

 protected:
  NativeObject() = default;
  // Puts h into the class's typed field(s).
  virtual void StoreNative(void* h) = 0;
  // Stores a newly made native object when the status is Ok, nothing otherwise, and records
  // the status. `h` is read only after the call that filled it has returned (argument
  // evaluation order is unspecified, so a by-value copy could be taken before the call ran).
  template <class Native>
  bool StoreNew(GpStatus status, Native* const& h) {
    const bool ok = RecordStatus(status);
    SetNativeHandle(ok ? h : nullptr);
    return ok;
  }
  // Hands the native object of `from` to this object, which must be empty.
  void TakeNative(NativeObject& from) {
    void* h = from.GetNativeHandle();
    from.SetNativeHandle(nullptr);
    SetNativeHandle(h);
  }

 private:
  void* handle_ = nullptr;
};

// The native handle of a library object, typed for a GDI+ call.
template <class Native>
Native* native_of(const NativeObject& object) {
  return static_cast<Native*>(object.GetNativeHandle());
}
template <class Native>
Native* native_of(const NativeObject* object) {
  return object ? static_cast<Native*>(object->GetNativeHandle()) : nullptr;
}

}  // namespace tambrel
