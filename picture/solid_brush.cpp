#include "picture/solid_brush.h"

#include "picture/gdiplus_api.h"

namespace tambrel {

bool SolidBrush::Create(ARGB colour) {
  Dispose();
  gp::GpSolidFill* fill = nullptr;
  return StoreNew(GdipCreateSolidFill(colour, &fill), fill);
}

bool SolidBrush::SetColor(ARGB colour) { return RecordStatus(GdipSetSolidFillColor(fill_, colour)); }

ARGB SolidBrush::GetColor() const {
  ARGB colour = 0;
  RecordStatus(GdipGetSolidFillColor(fill_, &colour));
  return colour;
}

}  // namespace tambrel
