#include "picture/region.h"

#include "picture/drawing_surface.h"
#include "picture/gdiplus_api.h"

TAMBREL_GDIP(GdipCreateRegion)
TAMBREL_GDIP(GdipCreateRegionRect)
TAMBREL_GDIP(GdipDeleteRegion)
TAMBREL_GDIP(GdipGetRegionBounds)
TAMBREL_GDIP(GdipIsEmptyRegion)

namespace tambrel {

bool Region::Dispose() {
  if (!region_) return false;
  const bool ok = RecordStatus(gdip::GdipDeleteRegion(region_));
  SetNativeHandle(nullptr);
  return ok;
}

bool Region::Create() {
  Dispose();
  gp::GpRegion* r = nullptr;
  const bool ok = RecordStatus(gdip::GdipCreateRegion(&r));
  SetNativeHandle(ok ? r : nullptr);
  return ok;
}

bool Region::CreateFromRect(const gp::RectF& rectangle) {
  Dispose();
  gp::GpRegion* r = nullptr;
  const bool ok = RecordStatus(gdip::GdipCreateRegionRect(&rectangle, &r));
  SetNativeHandle(ok ? r : nullptr);
  return ok;
}

bool Region::GetBounds(const DrawingSurface& surface, gp::RectF& bounds) const {
  return RecordStatus(gdip::GdipGetRegionBounds(region_, surface.graphics(), &bounds));
}

bool Region::IsEmpty(const DrawingSurface& surface) const {
  BOOL empty = FALSE;
  RecordStatus(gdip::GdipIsEmptyRegion(region_, surface.graphics(), &empty));
  return empty != FALSE;
}

}  // namespace tambrel
