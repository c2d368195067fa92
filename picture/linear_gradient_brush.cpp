#include "picture/linear_gradient_brush.h"

#include <algorithm>

#include "picture/gdiplus_api.h"
#include "picture/matrix.h"

TAMBREL_GDIP(GdipCreateLineBrush)
TAMBREL_GDIP(GdipCreateLineBrushI)
TAMBREL_GDIP(GdipCreateLineBrushFromRect)
TAMBREL_GDIP(GdipCreateLineBrushFromRectI)
TAMBREL_GDIP(GdipCreateLineBrushFromRectWithAngle)
TAMBREL_GDIP(GdipCreateLineBrushFromRectWithAngleI)
TAMBREL_GDIP(GdipGetLineColors)
TAMBREL_GDIP(GdipSetLineColors)
TAMBREL_GDIP(GdipGetLineRect)
TAMBREL_GDIP(GdipGetLineRectI)
TAMBREL_GDIP(GdipSetLineGammaCorrection)
TAMBREL_GDIP(GdipGetLineGammaCorrection)
TAMBREL_GDIP(GdipSetLineBlend)
TAMBREL_GDIP(GdipGetLineBlendCount)
TAMBREL_GDIP(GdipGetLineBlend)
TAMBREL_GDIP(GdipSetLinePresetBlend)
TAMBREL_GDIP(GdipGetLinePresetBlendCount)
TAMBREL_GDIP(GdipGetLinePresetBlend)
TAMBREL_GDIP(GdipSetLineSigmaBlend)
TAMBREL_GDIP(GdipSetLineLinearBlend)
TAMBREL_GDIP(GdipGetLineWrapMode)
TAMBREL_GDIP(GdipSetLineWrapMode)
TAMBREL_GDIP(GdipGetLineTransform)
TAMBREL_GDIP(GdipSetLineTransform)
TAMBREL_GDIP(GdipResetLineTransform)
TAMBREL_GDIP(GdipMultiplyLineTransform)
TAMBREL_GDIP(GdipTranslateLineTransform)
TAMBREL_GDIP(GdipScaleLineTransform)
TAMBREL_GDIP(GdipRotateLineTransform)

namespace tambrel {
namespace {

constexpr gp::WrapMode kTile = gp::WrapModeTile;  // 0
gp::MatrixOrder order_of(std::optional<int> order) {
  return order.value_or(0) == 1 ? gp::MatrixOrderAppend : gp::MatrixOrderPrepend;
}

}  // namespace

bool LinearGradientBrush::Create(const gp::PointF& point1, const gp::PointF& point2, ARGB colour1, ARGB colour2) {
  Dispose();
  gp::GpLineGradient* g = nullptr;
  return StoreNew(gdip::GdipCreateLineBrush(&point1, &point2, colour1, colour2, kTile, &g), g);
}
bool LinearGradientBrush::CreateI(const gp::Point& point1, const gp::Point& point2, ARGB colour1, ARGB colour2) {
  Dispose();
  gp::GpLineGradient* g = nullptr;
  return StoreNew(gdip::GdipCreateLineBrushI(&point1, &point2, colour1, colour2, kTile, &g), g);
}
bool LinearGradientBrush::CreateFromRect(const gp::RectF& rectangle, ARGB colour1, ARGB colour2, int mode) {
  Dispose();
  gp::GpLineGradient* g = nullptr;
  return StoreNew(gdip::GdipCreateLineBrushFromRect(&rectangle, colour1, colour2,
                                                    static_cast<gp::LinearGradientMode>(mode), kTile, &g),
                  g);
}
bool LinearGradientBrush::CreateFromRectI(const gp::Rect& rectangle, ARGB colour1, ARGB colour2, int mode) {
  Dispose();
  gp::GpLineGradient* g = nullptr;
  return StoreNew(gdip::GdipCreateLineBrushFromRectI(&rectangle, colour1, colour2,
                                                     static_cast<gp::LinearGradientMode>(mode), kTile, &g),
                  g);
}
bool LinearGradientBrush::CreateFromRectWithAngle(const gp::RectF& rectangle, ARGB colour1, ARGB colour2, float angle,
                                                  bool angle_scalable) {
  Dispose();
  gp::GpLineGradient* g = nullptr;
  return StoreNew(gdip::GdipCreateLineBrushFromRectWithAngle(&rectangle, colour1, colour2, angle, angle_scalable,
                                                             kTile, &g),
                  g);
}
bool LinearGradientBrush::CreateFromRectWithAngleI(const gp::Rect& rectangle, ARGB colour1, ARGB colour2, float angle,
                                                   bool angle_scalable) {
  Dispose();
  gp::GpLineGradient* g = nullptr;
  return StoreNew(gdip::GdipCreateLineBrushFromRectWithAngleI(&rectangle, colour1, colour2, angle, angle_scalable,
                                                              kTile, &g),
                  g);
}

bool LinearGradientBrush::GetLinearColors(ARGB& colour1, ARGB& colour2) const {
  ARGB colours[2] = {0, 0};
  const bool ok = RecordStatus(gdip::GdipGetLineColors(gradient_, colours));
  colour1 = colours[0];
  colour2 = colours[1];
  return ok;
}
bool LinearGradientBrush::SetLinearColors(ARGB colour1, ARGB colour2) {
  return RecordStatus(gdip::GdipSetLineColors(gradient_, colour1, colour2));
}
bool LinearGradientBrush::GetRectangle(gp::RectF& rectangle) const {
  return RecordStatus(gdip::GdipGetLineRect(gradient_, &rectangle));
}
bool LinearGradientBrush::GetRectangleI(gp::Rect& rectangle) const {
  return RecordStatus(gdip::GdipGetLineRectI(gradient_, &rectangle));
}
bool LinearGradientBrush::SetGammaCorrection(bool use_gamma) {
  return RecordStatus(gdip::GdipSetLineGammaCorrection(gradient_, use_gamma));
}
bool LinearGradientBrush::GetGammaCorrection() const {
  BOOL use_gamma = FALSE;
  RecordStatus(gdip::GdipGetLineGammaCorrection(gradient_, &use_gamma));
  return use_gamma != FALSE;
}
bool LinearGradientBrush::SetBlend(std::span<const float> factors, std::span<const float> positions) {
  const auto n = static_cast<INT>(std::min(factors.size(), positions.size()));
  return RecordStatus(gdip::GdipSetLineBlend(gradient_, factors.data(), positions.data(), n));
}
int LinearGradientBrush::GetBlendCount() const {
  INT count = 0;
  RecordStatus(gdip::GdipGetLineBlendCount(gradient_, &count));
  return count;
}
bool LinearGradientBrush::GetBlend(std::vector<float>& factors, std::vector<float>& positions) const {
  const int count = GetBlendCount();
  if (LastStatus() != gp::Ok) return false;
  std::vector<float> f(size_t(std::max(count, 0))), p(f.size());
  if (!RecordStatus(gdip::GdipGetLineBlend(gradient_, f.data(), p.data(), count))) return false;
  factors = std::move(f);
  positions = std::move(p);
  return true;
}
bool LinearGradientBrush::SetInterpolationColors(std::span<const ARGB> colours, std::span<const float> positions) {
  const auto n = static_cast<INT>(std::min(colours.size(), positions.size()));
  return RecordStatus(gdip::GdipSetLinePresetBlend(gradient_, colours.data(), positions.data(), n));
}
int LinearGradientBrush::GetInterpolationColorCount() const {
  INT count = 0;
  RecordStatus(gdip::GdipGetLinePresetBlendCount(gradient_, &count));
  return count;
}
bool LinearGradientBrush::GetInterpolationColors(std::vector<ARGB>& colours, std::vector<float>& positions) const {
  const int count = GetInterpolationColorCount();
  if (LastStatus() != gp::Ok) return false;
  std::vector<ARGB> c(size_t(std::max(count, 0)));
  std::vector<float> p(c.size());
  if (!RecordStatus(gdip::GdipGetLinePresetBlend(gradient_, c.data(), p.data(), count))) return false;
  colours = std::move(c);
  positions = std::move(p);
  return true;
}
bool LinearGradientBrush::SetBlendBellShape(float focus, float scale) {
  return RecordStatus(gdip::GdipSetLineSigmaBlend(gradient_, focus, scale));
}
bool LinearGradientBrush::SetBlendTriangularShape(float focus, float scale) {
  return RecordStatus(gdip::GdipSetLineLinearBlend(gradient_, focus, scale));
}
int LinearGradientBrush::GetWrapMode() const {
  gp::GpWrapMode mode{};
  RecordStatus(gdip::GdipGetLineWrapMode(gradient_, &mode));
  return mode;
}
bool LinearGradientBrush::SetWrapMode(int mode) {
  return RecordStatus(gdip::GdipSetLineWrapMode(gradient_, static_cast<gp::GpWrapMode>(mode)));
}
bool LinearGradientBrush::GetTransform(Matrix& matrix) const {
  Matrix result;
  if (!result.Create()) return false;
  if (!RecordStatus(gdip::GdipGetLineTransform(gradient_, result.matrix()))) return false;
  matrix = std::move(result);
  return true;
}
bool LinearGradientBrush::SetTransform(const Matrix& matrix) {
  return RecordStatus(gdip::GdipSetLineTransform(gradient_, matrix.matrix()));
}
bool LinearGradientBrush::ResetTransform() { return RecordStatus(gdip::GdipResetLineTransform(gradient_)); }
bool LinearGradientBrush::MultiplyTransform(const Matrix& matrix, std::optional<int> order) {
  return RecordStatus(gdip::GdipMultiplyLineTransform(gradient_, matrix.matrix(), order_of(order)));
}
bool LinearGradientBrush::TranslateTransform(float dx, float dy, std::optional<int> order) {
  return RecordStatus(gdip::GdipTranslateLineTransform(gradient_, dx, dy, order_of(order)));
}
bool LinearGradientBrush::ScaleTransform(float sx, float sy, std::optional<int> order) {
  return RecordStatus(gdip::GdipScaleLineTransform(gradient_, sx, sy, order_of(order)));
}
bool LinearGradientBrush::ScaleTransformAt(float sx, float sy, gp::PointF centre, std::optional<int> order) {
  if (order.value_or(0) == 1) {
    return TranslateTransform(-centre.X, -centre.Y, 1) && ScaleTransform(sx, sy, 1) &&
           TranslateTransform(centre.X, centre.Y, 1);
  }
  return TranslateTransform(centre.X, centre.Y, 0) && ScaleTransform(sx, sy, 0) &&
         TranslateTransform(-centre.X, -centre.Y, 0);
}
bool LinearGradientBrush::RotateTransform(float angle, std::optional<int> order) {
  return RecordStatus(gdip::GdipRotateLineTransform(gradient_, angle, order_of(order)));
}
bool LinearGradientBrush::RotateTransformAt(float angle, gp::PointF centre, std::optional<int> order) {
  if (order.value_or(0) == 1) {
    return TranslateTransform(-centre.X, -centre.Y, 1) && RotateTransform(angle, 1) &&
           TranslateTransform(centre.X, centre.Y, 1);
  }
  return TranslateTransform(centre.X, centre.Y, 0) && RotateTransform(angle, 0) &&
         TranslateTransform(-centre.X, -centre.Y, 0);
}

}  // namespace tambrel
