// A GDI+ region: what clip queries and character-range measuring hand back. The application
// never uses one; it exists so that those operations have an owner for what they return.
#pragma once

#include "picture/native_object.h"

namespace tambrel {

class DrawingSurface;

class Region : public NativeObject {
 public:
  Region() = default;
  Region(Region&& o) noexcept { TakeNative(o); }
  Region& operator=(Region&& o) noexcept {
    if (this != &o) {
      Dispose();
      TakeNative(o);
    }
    return *this;
  }
  ~Region() override { Dispose(); }

  gp::GpRegion* region() const { return region_; }

  bool Dispose();
  // The infinite region.
  bool Create();
  bool CreateFromRect(const gp::RectF& rectangle);
  bool GetBounds(const DrawingSurface& surface, gp::RectF& bounds) const;
  bool IsEmpty(const DrawingSurface& surface) const;

 protected:
  void StoreNative(void* h) override { region_ = static_cast<gp::GpRegion*>(h); }

 private:
  gp::GpRegion* region_ = nullptr;
};

}  // namespace tambrel
