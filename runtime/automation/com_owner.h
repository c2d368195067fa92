// Owners for the automation resources: the runtime's move-only owner for values that a single
// free function releases (BSTR, SAFEARRAY, a SAFEARRAY data lock), one COM smart pointer, and a
// VARIANT that clears itself.
//
// The automation calls pass many of these by address to the object being called, which may free
// and replace what it finds there ([in, out] BSTR*, IDispatch**). So every owner exposes the
// address of its own storage (`slot`) without releasing first: whatever the callee leaves there
// is what the owner frees. `put` is the other form, for out-only parameters: it releases first.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <unknwn.h>

#include <utility>

#include "runtime/unique_handle.h"

namespace tambrel {

inline void free_bstr(BSTR s) { SysFreeString(s); }
inline void destroy_safearray(SAFEARRAY* a) { SafeArrayDestroy(a); }
inline void unaccess_safearray(SAFEARRAY* a) { SafeArrayUnaccessData(a); }

using Bstr = UniqueHandle<BSTR, free_bstr>;
using SafeArray = UniqueHandle<SAFEARRAY*, destroy_safearray>;
// Holds SafeArrayAccessData's lock for as long as the data pointer is used.
using SafeArrayLock = UniqueHandle<SAFEARRAY*, unaccess_safearray>;

// COM smart pointer: one reference, released on destruction. `attach` adopts a reference the
// caller already holds; the constructor from a raw pointer adds one.
template <class I>
class ComPtr {
 public:
  ComPtr() = default;
  explicit ComPtr(I* p) : p_(p) { if (p_) p_->AddRef(); }
  ComPtr(const ComPtr& o) : ComPtr(o.p_) {}
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ComPtr& operator=(ComPtr o) noexcept { std::swap(p_, o.p_); return *this; }
  ~ComPtr() { reset(); }

  static ComPtr attach(I* p) { ComPtr c; c.p_ = p; return c; }

  I* get() const { return p_; }
  I* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  I* detach() { return std::exchange(p_, nullptr); }
  void reset() { if (I* p = std::exchange(p_, nullptr)) p->Release(); }
  I** put() { reset(); return &p_; }
  I** slot() { return &p_; }
  void** put_void() { return reinterpret_cast<void**>(put()); }

  template <class Other>
  HRESULT query(ComPtr<Other>* out) const {
    if (!p_) return E_POINTER;
    return p_->QueryInterface(__uuidof(Other), out->put_void());
  }

 private:
  I* p_ = nullptr;
};

// A VARIANT that is cleared when it goes away or is replaced.
class Variant {
 public:
  Variant() { VariantInit(&v_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  Variant(Variant&& o) noexcept : v_(o.v_) { VariantInit(&o.v_); }
  Variant& operator=(Variant&& o) noexcept {
    if (this != &o) {
      clear();
      v_ = o.v_;
      VariantInit(&o.v_);
    }
    return *this;
  }
  ~Variant() { VariantClear(&v_); }

  VARIANT* get() { return &v_; }
  const VARIANT* get() const { return &v_; }
  VARIANT* operator->() { return &v_; }
  const VARIANT* operator->() const { return &v_; }
  VARTYPE type() const { return V_VT(&v_); }
  // Clears, then hands out the storage for a callee to fill.
  VARIANT* put() { clear(); return &v_; }
  void clear() {
    VariantClear(&v_);
    VariantInit(&v_);
  }

 private:
  VARIANT v_;
};

}  // namespace tambrel
