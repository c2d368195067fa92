#include "picture/custom_line_cap.h"

#include "picture/gdiplus_api.h"

TAMBREL_GDIP(GdipDeleteCustomLineCap)

namespace tambrel {

bool CustomLineCap::Dispose() {
  if (!cap_) return false;
  const bool ok = RecordStatus(gdip::GdipDeleteCustomLineCap(cap_));
  SetNativeHandle(nullptr);
  return ok;
}

}  // namespace tambrel
