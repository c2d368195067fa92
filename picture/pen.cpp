#include "picture/pen.h"

#include "picture/brush.h"
#include "picture/custom_line_cap.h"
#include "picture/gdiplus_api.h"
#include "picture/matrix.h"

TAMBREL_GDIP(GdipCreatePen1)
TAMBREL_GDIP(GdipCreatePen2)
TAMBREL_GDIP(GdipClonePen)
TAMBREL_GDIP(GdipGetPenWidth)
TAMBREL_GDIP(GdipSetPenWidth)
TAMBREL_GDIP(GdipGetPenUnit)
TAMBREL_GDIP(GdipSetPenUnit)
TAMBREL_GDIP(GdipSetPenLineCap197819)
TAMBREL_GDIP(GdipSetPenStartCap)
TAMBREL_GDIP(GdipSetPenEndCap)
TAMBREL_GDIP(GdipSetPenDashCap197819)
TAMBREL_GDIP(GdipGetPenStartCap)
TAMBREL_GDIP(GdipGetPenEndCap)
TAMBREL_GDIP(GdipGetPenDashCap197819)
TAMBREL_GDIP(GdipSetPenLineJoin)
TAMBREL_GDIP(GdipGetPenLineJoin)
TAMBREL_GDIP(GdipSetPenCustomStartCap)
TAMBREL_GDIP(GdipGetPenCustomStartCap)
TAMBREL_GDIP(GdipSetPenCustomEndCap)
TAMBREL_GDIP(GdipGetPenCustomEndCap)
TAMBREL_GDIP(GdipSetPenMiterLimit)
TAMBREL_GDIP(GdipGetPenMiterLimit)
TAMBREL_GDIP(GdipSetPenMode)
TAMBREL_GDIP(GdipGetPenMode)
TAMBREL_GDIP(GdipSetPenTransform)
TAMBREL_GDIP(GdipGetPenTransform)
TAMBREL_GDIP(GdipResetPenTransform)
TAMBREL_GDIP(GdipMultiplyPenTransform)
TAMBREL_GDIP(GdipRotatePenTransform)
TAMBREL_GDIP(GdipTranslatePenTransform)
TAMBREL_GDIP(GdipScalePenTransform)
TAMBREL_GDIP(GdipGetPenColor)
TAMBREL_GDIP(GdipSetPenColor)
TAMBREL_GDIP(GdipSetPenBrushFill)
TAMBREL_GDIP(GdipGetPenBrushFill)
TAMBREL_GDIP(GdipGetPenFillType)
TAMBREL_GDIP(GdipSetPenDashStyle)
TAMBREL_GDIP(GdipGetPenDashStyle)
TAMBREL_GDIP(GdipGetPenDashOffset)
TAMBREL_GDIP(GdipSetPenDashOffset)
TAMBREL_GDIP(GdipGetPenDashCount)
TAMBREL_GDIP(GdipGetPenDashArray)
TAMBREL_GDIP(GdipSetPenDashArray)
TAMBREL_GDIP(GdipSetPenCompoundArray)
TAMBREL_GDIP(GdipGetPenCompoundCount)
TAMBREL_GDIP(GdipGetPenCompoundArray)

namespace tambrel {
namespace {

gp::MatrixOrder order_of(std::optional<int> order) {
  return order.value_or(0) == 1 ? gp::MatrixOrderAppend : gp::MatrixOrderPrepend;
}

}  // namespace

bool Pen::Dispose() {
  if (!pen_) return false;
  const bool ok = RecordStatus(GdipDeletePen(pen_));
  SetNativeHandle(nullptr);
  return ok;
}

bool Pen::Create(ARGB colour, float width, std::optional<int> unit) {
  Dispose();
  gp::GpPen* pen = nullptr;
  return StoreNew(gdip::GdipCreatePen1(colour, width, static_cast<gp::GpUnit>(unit.value_or(gp::UnitWorld)), &pen), pen);
}
bool Pen::CreateFromBrush(const Brush& brush, float width, std::optional<int> unit) {
  Dispose();
  gp::GpPen* pen = nullptr;
  return StoreNew(
      gdip::GdipCreatePen2(brush.brush(), width, static_cast<gp::GpUnit>(unit.value_or(gp::UnitWorld)), &pen), pen);
}
bool Pen::CloneTo(Pen& target) const {
  gp::GpPen* clone = nullptr;
  if (!RecordStatus(gdip::GdipClonePen(pen_, &clone))) return false;
  target.Dispose();
  return target.StoreNew(gp::Ok, clone);
}

float Pen::GetWidth() const {
  gp::REAL width = 0;
  RecordStatus(gdip::GdipGetPenWidth(pen_, &width));
  return width;
}
bool Pen::SetWidth(float width) { return RecordStatus(gdip::GdipSetPenWidth(pen_, width)); }
int Pen::GetUnit() const {
  gp::GpUnit unit{};
  RecordStatus(gdip::GdipGetPenUnit(pen_, &unit));
  return unit;
}
bool Pen::SetUnit(int unit) { return RecordStatus(gdip::GdipSetPenUnit(pen_, static_cast<gp::GpUnit>(unit))); }
bool Pen::SetLineCap(int start_cap, int end_cap, int dash_cap) {
  return RecordStatus(gdip::GdipSetPenLineCap197819(pen_, static_cast<gp::GpLineCap>(start_cap),
                                                    static_cast<gp::GpLineCap>(end_cap),
                                                    static_cast<gp::GpDashCap>(dash_cap)));
}
bool Pen::SetStartCap(int cap) { return RecordStatus(gdip::GdipSetPenStartCap(pen_, static_cast<gp::GpLineCap>(cap))); }
bool Pen::SetEndCap(int cap) { return RecordStatus(gdip::GdipSetPenEndCap(pen_, static_cast<gp::GpLineCap>(cap))); }
bool Pen::SetDashCap(int cap) {
  return RecordStatus(gdip::GdipSetPenDashCap197819(pen_, static_cast<gp::GpDashCap>(cap)));
}
int Pen::GetStartCap() const {
  gp::GpLineCap cap{};
  RecordStatus(gdip::GdipGetPenStartCap(pen_, &cap));
  return cap;
}
int Pen::GetEndCap() const {
  gp::GpLineCap cap{};
  RecordStatus(gdip::GdipGetPenEndCap(pen_, &cap));
  return cap;
}
int Pen::GetDashCap() const {
  gp::GpDashCap cap{};
  RecordStatus(gdip::GdipGetPenDashCap197819(pen_, &cap));
  return cap;
}
bool Pen::SetLineJoin(int join) { return RecordStatus(gdip::GdipSetPenLineJoin(pen_, static_cast<gp::GpLineJoin>(join))); }
int Pen::GetLineJoin() const {
  gp::GpLineJoin join{};
  RecordStatus(gdip::GdipGetPenLineJoin(pen_, &join));
  return join;
}
bool Pen::SetCustomStartCap(const CustomLineCap& cap) {
  return RecordStatus(gdip::GdipSetPenCustomStartCap(pen_, cap.cap()));
}
bool Pen::GetCustomStartCap(CustomLineCap& cap) const {
  gp::GpCustomLineCap* copy = nullptr;
  if (!RecordStatus(gdip::GdipGetPenCustomStartCap(pen_, &copy))) return false;
  cap.Dispose();
  cap.SetNativeHandle(copy);
  return RecordStatus(gp::Ok);
}
bool Pen::SetCustomEndCap(const CustomLineCap& cap) {
  return RecordStatus(gdip::GdipSetPenCustomEndCap(pen_, cap.cap()));
}
bool Pen::GetCustomEndCap(CustomLineCap& cap) const {
  gp::GpCustomLineCap* copy = nullptr;
  if (!RecordStatus(gdip::GdipGetPenCustomEndCap(pen_, &copy))) return false;
  cap.Dispose();
  cap.SetNativeHandle(copy);
  return RecordStatus(gp::Ok);
}
bool Pen::SetMiterLimit(float limit) { return RecordStatus(gdip::GdipSetPenMiterLimit(pen_, limit)); }
float Pen::GetMiterLimit() const {
  gp::REAL limit = 0;
  RecordStatus(gdip::GdipGetPenMiterLimit(pen_, &limit));
  return limit;
}
bool Pen::SetAlignment(int alignment) {
  return RecordStatus(gdip::GdipSetPenMode(pen_, static_cast<gp::GpPenAlignment>(alignment)));
}
int Pen::GetAlignment() const {
  gp::GpPenAlignment alignment{};
  RecordStatus(gdip::GdipGetPenMode(pen_, &alignment));
  return alignment;
}
bool Pen::SetTransform(const Matrix& matrix) { return RecordStatus(gdip::GdipSetPenTransform(pen_, matrix.matrix())); }
bool Pen::GetTransform(Matrix& matrix) const {
  Matrix result;
  if (!result.Create()) return false;
  if (!RecordStatus(gdip::GdipGetPenTransform(pen_, result.matrix()))) return false;
  matrix = std::move(result);
  return true;
}
bool Pen::ResetTransform() { return RecordStatus(gdip::GdipResetPenTransform(pen_)); }
bool Pen::MultiplyTransform(const Matrix& matrix, std::optional<int> order) {
  return RecordStatus(gdip::GdipMultiplyPenTransform(pen_, matrix.matrix(), order_of(order)));
}
bool Pen::RotateTransform(float angle, std::optional<int> order) {
  return RecordStatus(gdip::GdipRotatePenTransform(pen_, angle, order_of(order)));
}
bool Pen::RotateTransformAt(float angle, gp::PointF centre, std::optional<int> order) {
  if (order.value_or(0) == 1) {
    return TranslateTransform(-centre.X, -centre.Y, 1) && RotateTransform(angle, 1) &&
           TranslateTransform(centre.X, centre.Y, 1);
  }
  return TranslateTransform(centre.X, centre.Y, 0) && RotateTransform(angle, 0) &&
         TranslateTransform(-centre.X, -centre.Y, 0);
}
bool Pen::ScaleTransform(float sx, float sy, std::optional<int> order) {
  return RecordStatus(gdip::GdipScalePenTransform(pen_, sx, sy, order_of(order)));
}
bool Pen::ScaleTransformAt(float sx, float sy, gp::PointF centre, std::optional<int> order) {
  if (order.value_or(0) == 1) {
    return TranslateTransform(-centre.X, -centre.Y, 1) && ScaleTransform(sx, sy, 1) &&
           TranslateTransform(centre.X, centre.Y, 1);
  }
  return TranslateTransform(centre.X, centre.Y, 0) && ScaleTransform(sx, sy, 0) &&
         TranslateTransform(-centre.X, -centre.Y, 0);
}
bool Pen::TranslateTransform(float dx, float dy, std::optional<int> order) {
  return RecordStatus(gdip::GdipTranslatePenTransform(pen_, dx, dy, order_of(order)));
}
ARGB Pen::GetColor() const {
  ARGB colour = 0;
  RecordStatus(gdip::GdipGetPenColor(pen_, &colour));
  return colour;
}
bool Pen::SetColor(ARGB colour) { return RecordStatus(gdip::GdipSetPenColor(pen_, colour)); }
bool Pen::SetBrush(const Brush& brush) { return RecordStatus(gdip::GdipSetPenBrushFill(pen_, brush.brush())); }
bool Pen::GetBrush(Brush& brush) const {
  gp::GpBrush* copy = nullptr;
  if (!RecordStatus(gdip::GdipGetPenBrushFill(pen_, &copy))) return false;
  brush.Dispose();
  brush.SetNativeHandle(copy);
  return RecordStatus(gp::Ok);
}
int Pen::GetPenType() const {
  gp::GpPenType type{};
  RecordStatus(gdip::GdipGetPenFillType(pen_, &type));
  return type;
}
bool Pen::SetDashStyle(int style) { return RecordStatus(gdip::GdipSetPenDashStyle(pen_, static_cast<gp::GpDashStyle>(style))); }
int Pen::GetDashStyle() const {
  gp::GpDashStyle style{};
  RecordStatus(gdip::GdipGetPenDashStyle(pen_, &style));
  return style;
}
float Pen::GetDashOffset() const {
  gp::REAL offset = 0;
  RecordStatus(gdip::GdipGetPenDashOffset(pen_, &offset));
  return offset;
}
bool Pen::SetDashOffset(float offset) { return RecordStatus(gdip::GdipSetPenDashOffset(pen_, offset)); }
bool Pen::GetDashPattern(std::vector<float>& pattern) const {
  INT count = 0;
  if (!RecordStatus(gdip::GdipGetPenDashCount(pen_, &count))) return false;
  std::vector<float> values(size_t(count > 0 ? count : 0));
  if (!values.empty() && !RecordStatus(gdip::GdipGetPenDashArray(pen_, values.data(), count))) return false;
  pattern = std::move(values);
  return true;
}
bool Pen::SetDashPattern(std::span<const float> pattern) {
  return RecordStatus(gdip::GdipSetPenDashArray(pen_, pattern.data(), static_cast<INT>(pattern.size())));
}
bool Pen::SetCompoundArray(std::span<const float> values) {
  return RecordStatus(gdip::GdipSetPenCompoundArray(pen_, values.data(), static_cast<INT>(values.size())));
}
bool Pen::GetCompoundArray(std::vector<float>& values) const {
  INT count = 0;
  if (!RecordStatus(gdip::GdipGetPenCompoundCount(pen_, &count))) return false;
  std::vector<float> result(size_t(count > 0 ? count : 0));
  if (!result.empty() && !RecordStatus(gdip::GdipGetPenCompoundArray(pen_, result.data(), count))) return false;
  values = std::move(result);
  return true;
}

}  // namespace tambrel
