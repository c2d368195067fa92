// A custom line cap as a pen hands it out; owned so that reading a pen's cap never leaks.
#pragma once

#include "picture/native_object.h"

namespace tambrel {

class CustomLineCap : public NativeObject {
 public:
  CustomLineCap() = default;
  CustomLineCap(CustomLineCap&& o) noexcept { TakeNative(o); }
  CustomLineCap& operator=(CustomLineCap&& o) noexcept {
    if (this != &o) {
      Dispose();
      TakeNative(o);
    }
    return *this;
  }
  ~CustomLineCap() override { Dispose(); }

  gp::GpCustomLineCap* cap() const { return cap_; }
  bool Dispose();

 protected:
  void StoreNative(void* h) override { cap_ = static_cast<gp::GpCustomLineCap*>(h); }

 private:
  gp::GpCustomLineCap* cap_ = nullptr;
};

}  // namespace tambrel
