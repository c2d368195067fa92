#include "picture/brush.h"

#include "picture/gdiplus_api.h"

TAMBREL_GDIP(GdipCloneBrush)
TAMBREL_GDIP(GdipGetBrushType)

namespace tambrel {

bool Brush::Dispose() {
  if (!brush_) return false;
  const bool ok = RecordStatus(GdipDeleteBrush(brush_));
  SetNativeHandle(nullptr);
  return ok;
}

bool Brush::CloneTo(Brush& target) const {
  gp::GpBrush* clone = nullptr;
  if (!RecordStatus(gdip::GdipCloneBrush(brush_, &clone))) return false;
  target.Dispose();
  return target.StoreNew(gp::Ok, clone);
}

int Brush::GetType() const {
  gp::GpBrushType type{};
  if (!RecordStatus(gdip::GdipGetBrushType(brush_, &type))) return 0;
  return type;
}

}  // namespace tambrel
