// A brush of one colour. The gallery painter keeps one and changes its colour between fills.
#pragma once

#include "picture/brush.h"

namespace tambrel {

class SolidBrush : public Brush {
 public:
  SolidBrush() = default;
  SolidBrush(SolidBrush&& o) noexcept { TakeNative(o); }
  SolidBrush& operator=(SolidBrush&& o) noexcept {
    if (this != &o) {
      Dispose();
      TakeNative(o);
    }
    return *this;
  }

  gp::GpSolidFill* fill() const { return fill_; }

  // Disposes a held brush first.
  bool Create(ARGB colour);
  bool SetColor(ARGB colour);
  // 0 on failure.
  ARGB GetColor() const;

 protected:
  void AfterStore(void* h) override { fill_ = static_cast<gp::GpSolidFill*>(h); }

 private:
  gp::GpSolidFill* fill_ = nullptr;
};

}  // namespace tambrel
