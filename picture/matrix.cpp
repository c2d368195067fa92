#include "picture/matrix.h"

#include "picture/gdiplus_api.h"

TAMBREL_GDIP(GdipCreateMatrix)
TAMBREL_GDIP(GdipCreateMatrix2)
TAMBREL_GDIP(GdipDeleteMatrix)
TAMBREL_GDIP(GdipGetMatrixElements)
TAMBREL_GDIP(GdipTransformMatrixPoints)

namespace tambrel {

bool Matrix::Dispose() {
  if (!matrix_) return false;
  const bool ok = RecordStatus(gdip::GdipDeleteMatrix(matrix_));
  SetNativeHandle(nullptr);
  return ok;
}

bool Matrix::Create() {
  Dispose();
  gp::GpMatrix* m = nullptr;
  const bool ok = RecordStatus(gdip::GdipCreateMatrix(&m));
  SetNativeHandle(ok ? m : nullptr);
  return ok;
}

bool Matrix::CreateFromElements(float m11, float m12, float m21, float m22, float dx, float dy) {
  Dispose();
  gp::GpMatrix* m = nullptr;
  const bool ok = RecordStatus(gdip::GdipCreateMatrix2(m11, m12, m21, m22, dx, dy, &m));
  SetNativeHandle(ok ? m : nullptr);
  return ok;
}

bool Matrix::GetElements(float elements[6]) const {
  return RecordStatus(gdip::GdipGetMatrixElements(matrix_, elements));
}

bool Matrix::TransformPoints(gp::PointF* points, int count) const {
  return RecordStatus(gdip::GdipTransformMatrixPoints(matrix_, points, count));
}

}  // namespace tambrel
