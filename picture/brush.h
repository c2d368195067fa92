// The base of every brush: one GDI+ brush of any kind. A derived class keeps a typed copy of
// the handle for its own operations (solid fill, line gradient); a plain Brush can hold any
// brush, for example the one a pen fills with.
#pragma once

#include "picture/native_object.h"

namespace tambrel {

class Brush : public NativeObject {
 public:
  Brush() = default;
  Brush(Brush&& o) noexcept { TakeNative(o); }
  Brush& operator=(Brush&& o) noexcept {
    if (this != &o) {
      Dispose();
      TakeNative(o);
    }
    return *this;
  }
  ~Brush() override { Dispose(); }

  gp::GpBrush* brush() const { return brush_; }

  // False when empty (no native call); else deletes the brush.
  bool Dispose();
  // `target` receives a copy of this brush (what it held is disposed first).
  bool CloneTo(Brush& target) const;
  // GDI+ BrushType; 0 on failure.
  int GetType() const;

 protected:
  void StoreNative(void* h) override {
    brush_ = static_cast<gp::GpBrush*>(h);
    AfterStore(h);
  }
  virtual void AfterStore(void* h) {}

 private:
  gp::GpBrush* brush_ = nullptr;
};

}  // namespace tambrel
