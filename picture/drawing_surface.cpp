#include "picture/drawing_surface.h"

#include "picture/brush.h"
#include "picture/font.h"
#include "picture/gdiplus_api.h"
#include "picture/graphics_path.h"
#include "picture/matrix.h"
#include "picture/pen.h"
#include "picture/picture.h"
#include "picture/region.h"
#include "picture/string_format.h"
#include "runtime/text.h"

TAMBREL_GDIP(GdipDeleteGraphics)
TAMBREL_GDIP(GdipFlush)
TAMBREL_GDIP(GdipCreateFromHWNDICM)
TAMBREL_GDIP(GdipCreateFromHWND)
TAMBREL_GDIP(GdipCreateFromHDC)
TAMBREL_GDIP(GdipCreateFromHDC2)
TAMBREL_GDIP(GdipGetDC)
TAMBREL_GDIP(GdipReleaseDC)
TAMBREL_GDIP(GdipGetRenderingOrigin)
TAMBREL_GDIP(GdipSetRenderingOrigin)
TAMBREL_GDIP(GdipGetCompositingMode)
TAMBREL_GDIP(GdipSetCompositingMode)
TAMBREL_GDIP(GdipGetCompositingQuality)
TAMBREL_GDIP(GdipSetCompositingQuality)
TAMBREL_GDIP(GdipSetTextContrast)
TAMBREL_GDIP(GdipGetTextContrast)
TAMBREL_GDIP(GdipSetInterpolationMode)
TAMBREL_GDIP(GdipGetInterpolationMode)
TAMBREL_GDIP(GdipSetPixelOffsetMode)
TAMBREL_GDIP(GdipGetPixelOffsetMode)
TAMBREL_GDIP(GdipGetWorldTransform)
TAMBREL_GDIP(GdipResetWorldTransform)
TAMBREL_GDIP(GdipMultiplyWorldTransform)
TAMBREL_GDIP(GdipTranslateWorldTransform)
TAMBREL_GDIP(GdipScaleWorldTransform)
TAMBREL_GDIP(GdipRotateWorldTransform)
TAMBREL_GDIP(GdipSetPageUnit)
TAMBREL_GDIP(GdipGetPageUnit)
TAMBREL_GDIP(GdipSetPageScale)
TAMBREL_GDIP(GdipGetPageScale)
TAMBREL_GDIP(GdipGetDpiX)
TAMBREL_GDIP(GdipGetDpiY)
TAMBREL_GDIP(GdipTransformPoints)
TAMBREL_GDIP(GdipTransformPointsI)
TAMBREL_GDIP(GdipGetNearestColor)
TAMBREL_GDIP(GdipDrawLine)
TAMBREL_GDIP(GdipDrawLineI)
TAMBREL_GDIP(GdipDrawLines)
TAMBREL_GDIP(GdipDrawLinesI)
TAMBREL_GDIP(GdipDrawArc)
TAMBREL_GDIP(GdipDrawArcI)
TAMBREL_GDIP(GdipDrawBezier)
TAMBREL_GDIP(GdipDrawBezierI)
TAMBREL_GDIP(GdipDrawBeziers)
TAMBREL_GDIP(GdipDrawBeziersI)
TAMBREL_GDIP(GdipDrawRectangles)
TAMBREL_GDIP(GdipDrawRectanglesI)
TAMBREL_GDIP(GdipDrawEllipse)
TAMBREL_GDIP(GdipDrawEllipseI)
TAMBREL_GDIP(GdipDrawPie)
TAMBREL_GDIP(GdipDrawPieI)
TAMBREL_GDIP(GdipDrawPolygon)
TAMBREL_GDIP(GdipDrawPolygonI)
TAMBREL_GDIP(GdipDrawPath)
TAMBREL_GDIP(GdipDrawCurve)
TAMBREL_GDIP(GdipDrawCurveI)
TAMBREL_GDIP(GdipDrawCurve2)
TAMBREL_GDIP(GdipDrawCurve2I)
TAMBREL_GDIP(GdipDrawCurve3)
TAMBREL_GDIP(GdipDrawCurve3I)
TAMBREL_GDIP(GdipDrawClosedCurve)
TAMBREL_GDIP(GdipDrawClosedCurveI)
TAMBREL_GDIP(GdipDrawClosedCurve2)
TAMBREL_GDIP(GdipDrawClosedCurve2I)
TAMBREL_GDIP(GdipGraphicsClear)
TAMBREL_GDIP(GdipFillRectangle)
TAMBREL_GDIP(GdipFillRectangleI)
TAMBREL_GDIP(GdipFillRectangles)
TAMBREL_GDIP(GdipFillRectanglesI)
TAMBREL_GDIP(GdipFillPolygon)
TAMBREL_GDIP(GdipFillPolygonI)
TAMBREL_GDIP(GdipFillEllipse)
TAMBREL_GDIP(GdipFillEllipseI)
TAMBREL_GDIP(GdipFillPie)
TAMBREL_GDIP(GdipFillPieI)
TAMBREL_GDIP(GdipFillPath)
TAMBREL_GDIP(GdipFillClosedCurve)
TAMBREL_GDIP(GdipFillClosedCurve2)
TAMBREL_GDIP(GdipFillClosedCurveI)
TAMBREL_GDIP(GdipFillClosedCurve2I)
TAMBREL_GDIP(GdipFillRegion)
TAMBREL_GDIP(GdipDrawString)
TAMBREL_GDIP(GdipMeasureString)
TAMBREL_GDIP(GdipCreateRegion)
TAMBREL_GDIP(GdipDeleteRegion)
TAMBREL_GDIP(GdipGetStringFormatMeasurableCharacterRangeCount)
TAMBREL_GDIP(GdipMeasureCharacterRanges)
TAMBREL_GDIP(GdipDrawDriverString)
TAMBREL_GDIP(GdipDrawImage)
TAMBREL_GDIP(GdipDrawImageI)
TAMBREL_GDIP(GdipDrawCachedBitmap)
TAMBREL_GDIP(GdipDrawImageRectRect)
TAMBREL_GDIP(GdipDrawImageRectRectI)
TAMBREL_GDIP(GdipDrawImagePoints)
TAMBREL_GDIP(GdipDrawImagePointsI)
TAMBREL_GDIP(GdipDrawImagePointRect)
TAMBREL_GDIP(GdipDrawImagePointRectI)
TAMBREL_GDIP(GdipDrawImagePointsRect)
TAMBREL_GDIP(GdipDrawImagePointsRectI)
TAMBREL_GDIP(GdipEnumerateMetafileDestPoint)
TAMBREL_GDIP(GdipEnumerateMetafileDestPointI)
TAMBREL_GDIP(GdipEnumerateMetafileDestPoints)
TAMBREL_GDIP(GdipEnumerateMetafileDestPointsI)
TAMBREL_GDIP(GdipEnumerateMetafileDestRect)
TAMBREL_GDIP(GdipEnumerateMetafileDestRectI)
TAMBREL_GDIP(GdipEnumerateMetafileSrcRectDestPoint)
TAMBREL_GDIP(GdipEnumerateMetafileSrcRectDestPointI)
TAMBREL_GDIP(GdipEnumerateMetafileSrcRectDestPoints)
TAMBREL_GDIP(GdipEnumerateMetafileSrcRectDestPointsI)
TAMBREL_GDIP(GdipEnumerateMetafileSrcRectDestRect)
TAMBREL_GDIP(GdipEnumerateMetafileSrcRectDestRectI)
TAMBREL_GDIP(GdipSetClipGraphics)
TAMBREL_GDIP(GdipSetClipPath)
TAMBREL_GDIP(GdipSetClipRect)
TAMBREL_GDIP(GdipSetClipRectI)
TAMBREL_GDIP(GdipSetClipRegion)
TAMBREL_GDIP(GdipSetClipHrgn)
TAMBREL_GDIP(GdipResetClip)
TAMBREL_GDIP(GdipTranslateClip)
TAMBREL_GDIP(GdipTranslateClipI)
TAMBREL_GDIP(GdipGetClip)
TAMBREL_GDIP(GdipGetClipBounds)
TAMBREL_GDIP(GdipGetClipBoundsI)
TAMBREL_GDIP(GdipGetVisibleClipBounds)
TAMBREL_GDIP(GdipGetVisibleClipBoundsI)
TAMBREL_GDIP(GdipIsClipEmpty)
TAMBREL_GDIP(GdipIsVisibleClipEmpty)
TAMBREL_GDIP(GdipIsVisiblePoint)
TAMBREL_GDIP(GdipIsVisiblePointI)
TAMBREL_GDIP(GdipIsVisibleRect)
TAMBREL_GDIP(GdipIsVisibleRectI)
TAMBREL_GDIP(GdipSaveGraphics)
TAMBREL_GDIP(GdipRestoreGraphics)
TAMBREL_GDIP(GdipBeginContainer)
TAMBREL_GDIP(GdipBeginContainerI)
TAMBREL_GDIP(GdipBeginContainer2)
TAMBREL_GDIP(GdipEndContainer)
TAMBREL_GDIP(GdipComment)

namespace tambrel {


namespace {

gp::MatrixOrder order_of(std::optional<int> order) {
  return order.value_or(0) == 1 ? gp::MatrixOrderAppend : gp::MatrixOrderPrepend;
}
int count_of(size_t n) { return static_cast<int>(n); }

gp::GpPen* pen_of(const Pen& p) { return native_of<gp::GpPen>(p); }
gp::GpBrush* brush_of(const Brush& b) { return native_of<gp::GpBrush>(b); }
gp::GpImage* image_of(const Picture& p) { return native_of<gp::GpImage>(p); }
gp::GpFont* font_of(const Font& f) { return native_of<gp::GpFont>(f); }
gp::GpStringFormat* format_of(const StringFormat& f) { return native_of<gp::GpStringFormat>(f); }
gp::GpImageAttributes* attributes_of(const NativeObject* a) { return native_of<gp::GpImageAttributes>(a); }
gp::GpMetafile* metafile_of(const NativeObject& m) { return native_of<gp::GpMetafile>(m); }

}  // namespace

DrawingSurface& DrawingSurface::operator=(DrawingSurface&& o) noexcept {
  if (this != &o) {
    Dispose();
    TakeNative(o);
  }
  return *this;
}

bool DrawingSurface::Dispose() {
  if (!graphics_) return false;
  const bool ok = RecordStatus(gdip::GdipDeleteGraphics(graphics_));
  SetNativeHandle(nullptr);
  return ok;
}

int DrawingSurface::Flush(std::optional<int> intention) {
  return gdip::GdipFlush(graphics_, static_cast<gp::FlushIntention>(intention.value_or(gp::FlushIntentionFlush)));
}

bool DrawingSurface::FromWindow(HWND window, std::optional<bool> use_icm) {
  Dispose();
  gp::GpGraphics* g = nullptr;
  return StoreNew(use_icm.value_or(false) ? gdip::GdipCreateFromHWNDICM(window, &g) : gdip::GdipCreateFromHWND(window, &g), g);
}

bool DrawingSurface::FromHDC(HDC dc, std::optional<HANDLE> device) {
  Dispose();
  gp::GpGraphics* g = nullptr;
  return StoreNew(device ? gdip::GdipCreateFromHDC2(dc, *device, &g) : gdip::GdipCreateFromHDC(dc, &g), g);
}

bool DrawingSurface::FromImage(const Picture& picture) {
  Dispose();
  gp::GpGraphics* g = nullptr;
  return StoreNew(GdipGetImageGraphicsContext(image_of(picture), &g), g);
}

HDC DrawingSurface::GetDC() {
  HDC dc = nullptr;
  RecordStatus(gdip::GdipGetDC(graphics_, &dc));
  return dc;
}
bool DrawingSurface::ReleaseDC(HDC dc) { return RecordStatus(gdip::GdipReleaseDC(graphics_, dc)); }

bool DrawingSurface::GetRenderingOrigin(int& x, int& y) const {
  x = y = 0;
  return RecordStatus(gdip::GdipGetRenderingOrigin(graphics_, &x, &y));
}
bool DrawingSurface::SetRenderingOrigin(int x, int y) { return RecordStatus(gdip::GdipSetRenderingOrigin(graphics_, x, y)); }

int DrawingSurface::GetCompositingMode() const {
  gp::CompositingMode mode{};
  RecordStatus(gdip::GdipGetCompositingMode(graphics_, &mode));
  return mode;
}
bool DrawingSurface::SetCompositingMode(int mode) {
  return RecordStatus(gdip::GdipSetCompositingMode(graphics_, static_cast<gp::CompositingMode>(mode)));
}
int DrawingSurface::GetCompositingQuality() const {
  gp::CompositingQuality quality{};
  RecordStatus(gdip::GdipGetCompositingQuality(graphics_, &quality));
  return quality;
}
bool DrawingSurface::SetCompositingQuality(int quality) {
  return RecordStatus(gdip::GdipSetCompositingQuality(graphics_, static_cast<gp::CompositingQuality>(quality)));
}

bool DrawingSurface::SetTextRenderingHint(int hint) {
  return RecordStatus(GdipSetTextRenderingHint(graphics_, static_cast<gp::TextRenderingHint>(hint)));
}
int DrawingSurface::GetTextRenderingHint() const {
  gp::TextRenderingHint hint{};
  RecordStatus(GdipGetTextRenderingHint(graphics_, &hint));
  return hint;
}
bool DrawingSurface::SetTextContrast(UINT contrast) { return RecordStatus(gdip::GdipSetTextContrast(graphics_, contrast)); }
UINT DrawingSurface::GetTextContrast() const {
  UINT contrast = 0;
  RecordStatus(gdip::GdipGetTextContrast(graphics_, &contrast));
  return contrast;
}
bool DrawingSurface::SetInterpolationMode(int mode) {
  return RecordStatus(gdip::GdipSetInterpolationMode(graphics_, static_cast<gp::InterpolationMode>(mode)));
}
int DrawingSurface::GetInterpolationMode() const {
  gp::InterpolationMode mode{};
  RecordStatus(gdip::GdipGetInterpolationMode(graphics_, &mode));
  return mode;
}
bool DrawingSurface::SetSmoothingMode(int mode) {
  return RecordStatus(GdipSetSmoothingMode(graphics_, static_cast<gp::SmoothingMode>(mode)));
}
int DrawingSurface::GetSmoothingMode() const {
  gp::SmoothingMode mode{};
  RecordStatus(GdipGetSmoothingMode(graphics_, &mode));
  return mode;
}
bool DrawingSurface::SetPixelOffsetMode(int mode) {
  return RecordStatus(gdip::GdipSetPixelOffsetMode(graphics_, static_cast<gp::PixelOffsetMode>(mode)));
}
int DrawingSurface::GetPixelOffsetMode() const {
  gp::PixelOffsetMode mode{};
  RecordStatus(gdip::GdipGetPixelOffsetMode(graphics_, &mode));
  return mode;
}

bool DrawingSurface::SetWorldTransform(const Matrix& matrix) {
  return RecordStatus(GdipSetWorldTransform(graphics_, matrix.matrix()));
}
bool DrawingSurface::GetWorldTransform(Matrix& matrix) const {
  // GDI+ fills a matrix that exists: make a fresh one and hand it over only when filled.
  Matrix result;
  if (!result.Create()) return false;
  if (!RecordStatus(gdip::GdipGetWorldTransform(graphics_, result.matrix()))) return false;
  matrix = std::move(result);
  return true;
}
bool DrawingSurface::ResetWorldTransform() { return RecordStatus(gdip::GdipResetWorldTransform(graphics_)); }
bool DrawingSurface::MultiplyWorldTransform(const Matrix& matrix, std::optional<int> order) {
  return RecordStatus(gdip::GdipMultiplyWorldTransform(graphics_, matrix.matrix(), order_of(order)));
}
bool DrawingSurface::TranslateWorldTransform(float dx, float dy, std::optional<int> order) {
  return RecordStatus(gdip::GdipTranslateWorldTransform(graphics_, dx, dy, order_of(order)));
}
bool DrawingSurface::ScaleWorldTransform(float sx, float sy, std::optional<int> order) {
  return RecordStatus(gdip::GdipScaleWorldTransform(graphics_, sx, sy, order_of(order)));
}
bool DrawingSurface::ScaleWorldTransformAt(float sx, float sy, gp::PointF centre, std::optional<int> order) {
  // Move the centre to the origin, scale, move it back; prepending builds the same product
  // from the other end.
  if (order.value_or(0) == 1) {
    return TranslateWorldTransform(-centre.X, -centre.Y, 1) && ScaleWorldTransform(sx, sy, 1) &&
           TranslateWorldTransform(centre.X, centre.Y, 1);
  }
  return TranslateWorldTransform(centre.X, centre.Y, 0) && ScaleWorldTransform(sx, sy, 0) &&
         TranslateWorldTransform(-centre.X, -centre.Y, 0);
}
bool DrawingSurface::RotateWorldTransform(float angle, std::optional<int> order) {
  return RecordStatus(gdip::GdipRotateWorldTransform(graphics_, angle, order_of(order)));
}
bool DrawingSurface::RotateWorldTransformAt(float angle, gp::PointF centre, std::optional<int> order) {
  if (order.value_or(0) == 1) {
    return TranslateWorldTransform(-centre.X, -centre.Y, 1) && RotateWorldTransform(angle, 1) &&
           TranslateWorldTransform(centre.X, centre.Y, 1);
  }
  return TranslateWorldTransform(centre.X, centre.Y, 0) && RotateWorldTransform(angle, 0) &&
         TranslateWorldTransform(-centre.X, -centre.Y, 0);
}

bool DrawingSurface::SetPageUnit(int unit) { return RecordStatus(gdip::GdipSetPageUnit(graphics_, static_cast<gp::GpUnit>(unit))); }
int DrawingSurface::GetPageUnit() const {
  gp::GpUnit unit{};
  RecordStatus(gdip::GdipGetPageUnit(graphics_, &unit));
  return unit;
}
bool DrawingSurface::SetPageScale(float scale) { return RecordStatus(gdip::GdipSetPageScale(graphics_, scale)); }
float DrawingSurface::GetPageScale() const {
  gp::REAL scale = 0;
  RecordStatus(gdip::GdipGetPageScale(graphics_, &scale));
  return scale;
}
float DrawingSurface::GetDpiX() const {
  gp::REAL dpi = 0;
  RecordStatus(gdip::GdipGetDpiX(graphics_, &dpi));
  return dpi;
}
float DrawingSurface::GetDpiY() const {
  gp::REAL dpi = 0;
  RecordStatus(gdip::GdipGetDpiY(graphics_, &dpi));
  return dpi;
}
bool DrawingSurface::TransformPoints(int destination_space, int source_space, std::span<gp::PointF> points) const {
  return RecordStatus(gdip::GdipTransformPoints(graphics_, static_cast<gp::CoordinateSpace>(destination_space),
                                                static_cast<gp::CoordinateSpace>(source_space), points.data(),
                                                count_of(points.size())));
}
bool DrawingSurface::TransformPointsI(int destination_space, int source_space, std::span<gp::Point> points) const {
  return RecordStatus(gdip::GdipTransformPointsI(graphics_, static_cast<gp::CoordinateSpace>(destination_space),
                                                 static_cast<gp::CoordinateSpace>(source_space), points.data(),
                                                 count_of(points.size())));
}
ARGB DrawingSurface::GetNearestColor(ARGB colour) const {
  ARGB nearest = colour;
  if (!RecordStatus(gdip::GdipGetNearestColor(graphics_, &nearest))) return 0;
  return nearest;
}

// ---- lines, curves and outlines ----------------------------------------------------------

bool DrawingSurface::DrawLine(const Pen& pen, float x1, float y1, float x2, float y2) {
  return RecordStatus(gdip::GdipDrawLine(graphics_, pen_of(pen), x1, y1, x2, y2));
}
bool DrawingSurface::DrawLineI(const Pen& pen, int x1, int y1, int x2, int y2) {
  return RecordStatus(gdip::GdipDrawLineI(graphics_, pen_of(pen), x1, y1, x2, y2));
}
bool DrawingSurface::DrawLines(const Pen& pen, std::span<const gp::PointF> points) {
  return RecordStatus(gdip::GdipDrawLines(graphics_, pen_of(pen), points.data(), count_of(points.size())));
}
bool DrawingSurface::DrawLinesI(const Pen& pen, std::span<const gp::Point> points) {
  return RecordStatus(gdip::GdipDrawLinesI(graphics_, pen_of(pen), points.data(), count_of(points.size())));
}
bool DrawingSurface::DrawArc(const Pen& pen, float x, float y, float width, float height, float start, float sweep) {
  return RecordStatus(gdip::GdipDrawArc(graphics_, pen_of(pen), x, y, width, height, start, sweep));
}
bool DrawingSurface::DrawArcI(const Pen& pen, int x, int y, int width, int height, float start, float sweep) {
  return RecordStatus(gdip::GdipDrawArcI(graphics_, pen_of(pen), x, y, width, height, start, sweep));
}
bool DrawingSurface::DrawBezier(const Pen& pen, float x1, float y1, float x2, float y2, float x3, float y3, float x4,
                                float y4) {
  return RecordStatus(gdip::GdipDrawBezier(graphics_, pen_of(pen), x1, y1, x2, y2, x3, y3, x4, y4));
}
bool DrawingSurface::DrawBezierI(const Pen& pen, int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4) {
  return RecordStatus(gdip::GdipDrawBezierI(graphics_, pen_of(pen), x1, y1, x2, y2, x3, y3, x4, y4));
}
bool DrawingSurface::DrawBeziers(const Pen& pen, std::span<const gp::PointF> points) {
  return RecordStatus(gdip::GdipDrawBeziers(graphics_, pen_of(pen), points.data(), count_of(points.size())));
}
bool DrawingSurface::DrawBeziersI(const Pen& pen, std::span<const gp::Point> points) {
  return RecordStatus(gdip::GdipDrawBeziersI(graphics_, pen_of(pen), points.data(), count_of(points.size())));
}
bool DrawingSurface::DrawRectangle(const Pen& pen, float x, float y, float width, float height) {
  return RecordStatus(GdipDrawRectangle(graphics_, pen_of(pen), x, y, width, height));
}
bool DrawingSurface::DrawRectangleI(const Pen& pen, int x, int y, int width, int height) {
  return RecordStatus(GdipDrawRectangleI(graphics_, pen_of(pen), x, y, width, height));
}
bool DrawingSurface::DrawRectangles(const Pen& pen, std::span<const gp::RectF> rectangles) {
  return RecordStatus(gdip::GdipDrawRectangles(graphics_, pen_of(pen), rectangles.data(), count_of(rectangles.size())));
}
bool DrawingSurface::DrawRectanglesI(const Pen& pen, std::span<const gp::Rect> rectangles) {
  return RecordStatus(gdip::GdipDrawRectanglesI(graphics_, pen_of(pen), rectangles.data(), count_of(rectangles.size())));
}
bool DrawingSurface::DrawEllipse(const Pen& pen, float x, float y, float width, float height) {
  return RecordStatus(gdip::GdipDrawEllipse(graphics_, pen_of(pen), x, y, width, height));
}
bool DrawingSurface::DrawEllipseI(const Pen& pen, int x, int y, int width, int height) {
  return RecordStatus(gdip::GdipDrawEllipseI(graphics_, pen_of(pen), x, y, width, height));
}
bool DrawingSurface::DrawPie(const Pen& pen, float x, float y, float width, float height, float start, float sweep) {
  return RecordStatus(gdip::GdipDrawPie(graphics_, pen_of(pen), x, y, width, height, start, sweep));
}
bool DrawingSurface::DrawPieI(const Pen& pen, int x, int y, int width, int height, float start, float sweep) {
  return RecordStatus(gdip::GdipDrawPieI(graphics_, pen_of(pen), x, y, width, height, start, sweep));
}
bool DrawingSurface::DrawPolygon(const Pen& pen, std::span<const gp::PointF> points) {
  return RecordStatus(gdip::GdipDrawPolygon(graphics_, pen_of(pen), points.data(), count_of(points.size())));
}
bool DrawingSurface::DrawPolygonI(const Pen& pen, std::span<const gp::Point> points) {
  return RecordStatus(gdip::GdipDrawPolygonI(graphics_, pen_of(pen), points.data(), count_of(points.size())));
}
bool DrawingSurface::DrawPath(const Pen& pen, const GraphicsPath& path) {
  return RecordStatus(gdip::GdipDrawPath(graphics_, pen_of(pen), path.path()));
}
bool DrawingSurface::DrawCurve(const Pen& pen, std::span<const gp::PointF> points) {
  return RecordStatus(gdip::GdipDrawCurve(graphics_, pen_of(pen), points.data(), count_of(points.size())));
}
bool DrawingSurface::DrawCurveI(const Pen& pen, std::span<const gp::Point> points) {
  return RecordStatus(gdip::GdipDrawCurveI(graphics_, pen_of(pen), points.data(), count_of(points.size())));
}
bool DrawingSurface::DrawCurve2(const Pen& pen, std::span<const gp::PointF> points, float tension) {
  return RecordStatus(gdip::GdipDrawCurve2(graphics_, pen_of(pen), points.data(), count_of(points.size()), tension));
}
bool DrawingSurface::DrawCurve2I(const Pen& pen, std::span<const gp::Point> points, float tension) {
  return RecordStatus(gdip::GdipDrawCurve2I(graphics_, pen_of(pen), points.data(), count_of(points.size()), tension));
}
bool DrawingSurface::DrawCurve3(const Pen& pen, std::span<const gp::PointF> points, int offset, int segments,
                                float tension) {
  return RecordStatus(
      gdip::GdipDrawCurve3(graphics_, pen_of(pen), points.data(), count_of(points.size()), offset, segments, tension));
}
bool DrawingSurface::DrawCurve3I(const Pen& pen, std::span<const gp::Point> points, int offset, int segments,
                                 float tension) {
  return RecordStatus(
      gdip::GdipDrawCurve3I(graphics_, pen_of(pen), points.data(), count_of(points.size()), offset, segments, tension));
}
bool DrawingSurface::DrawClosedCurve(const Pen& pen, std::span<const gp::PointF> points) {
  return RecordStatus(gdip::GdipDrawClosedCurve(graphics_, pen_of(pen), points.data(), count_of(points.size())));
}
bool DrawingSurface::DrawClosedCurveI(const Pen& pen, std::span<const gp::Point> points) {
  return RecordStatus(gdip::GdipDrawClosedCurveI(graphics_, pen_of(pen), points.data(), count_of(points.size())));
}
bool DrawingSurface::DrawClosedCurve2(const Pen& pen, std::span<const gp::PointF> points, float tension) {
  return RecordStatus(
      gdip::GdipDrawClosedCurve2(graphics_, pen_of(pen), points.data(), count_of(points.size()), tension));
}
bool DrawingSurface::DrawClosedCurve2I(const Pen& pen, std::span<const gp::Point> points, float tension) {
  return RecordStatus(
      gdip::GdipDrawClosedCurve2I(graphics_, pen_of(pen), points.data(), count_of(points.size()), tension));
}

// ---- fills ------------------------------------------------------------------------------

bool DrawingSurface::Clear(ARGB colour) { return RecordStatus(gdip::GdipGraphicsClear(graphics_, colour)); }
bool DrawingSurface::FillRectangle(const Brush& brush, float x, float y, float width, float height) {
  return RecordStatus(gdip::GdipFillRectangle(graphics_, brush_of(brush), x, y, width, height));
}
bool DrawingSurface::FillRectangleRect(const Brush& brush, const gp::RectF& r) {
  return RecordStatus(gdip::GdipFillRectangle(graphics_, brush_of(brush), r.X, r.Y, r.Width, r.Height));
}
bool DrawingSurface::FillRectangleI(const Brush& brush, int x, int y, int width, int height) {
  return RecordStatus(gdip::GdipFillRectangleI(graphics_, brush_of(brush), x, y, width, height));
}
bool DrawingSurface::FillRectangles(const Brush& brush, std::span<const gp::RectF> rectangles) {
  return RecordStatus(gdip::GdipFillRectangles(graphics_, brush_of(brush), rectangles.data(), count_of(rectangles.size())));
}
bool DrawingSurface::FillRectanglesI(const Brush& brush, std::span<const gp::Rect> rectangles) {
  return RecordStatus(gdip::GdipFillRectanglesI(graphics_, brush_of(brush), rectangles.data(), count_of(rectangles.size())));
}
bool DrawingSurface::FillPolygon(const Brush& brush, std::span<const gp::PointF> points, int fill_mode) {
  return RecordStatus(gdip::GdipFillPolygon(graphics_, brush_of(brush), points.data(), count_of(points.size()),
                                            static_cast<gp::FillMode>(fill_mode)));
}
bool DrawingSurface::FillPolygonI(const Brush& brush, std::span<const gp::Point> points, int fill_mode) {
  return RecordStatus(gdip::GdipFillPolygonI(graphics_, brush_of(brush), points.data(), count_of(points.size()),
                                             static_cast<gp::FillMode>(fill_mode)));
}
bool DrawingSurface::FillEllipse(const Brush& brush, float x, float y, float width, float height) {
  return RecordStatus(gdip::GdipFillEllipse(graphics_, brush_of(brush), x, y, width, height));
}
bool DrawingSurface::FillEllipseI(const Brush& brush, int x, int y, int width, int height) {
  return RecordStatus(gdip::GdipFillEllipseI(graphics_, brush_of(brush), x, y, width, height));
}
bool DrawingSurface::FillPie(const Brush& brush, float x, float y, float width, float height, float start, float sweep) {
  return RecordStatus(gdip::GdipFillPie(graphics_, brush_of(brush), x, y, width, height, start, sweep));
}
bool DrawingSurface::FillPieI(const Brush& brush, int x, int y, int width, int height, float start, float sweep) {
  return RecordStatus(gdip::GdipFillPieI(graphics_, brush_of(brush), x, y, width, height, start, sweep));
}
bool DrawingSurface::FillPath(const Brush& brush, const GraphicsPath& path) {
  return RecordStatus(gdip::GdipFillPath(graphics_, brush_of(brush), path.path()));
}
bool DrawingSurface::FillClosedCurve(const Brush& brush, std::span<const gp::PointF> points) {
  return RecordStatus(gdip::GdipFillClosedCurve(graphics_, brush_of(brush), points.data(), count_of(points.size())));
}
bool DrawingSurface::FillClosedCurve2(const Brush& brush, std::span<const gp::PointF> points, float tension,
                                      int fill_mode) {
  return RecordStatus(gdip::GdipFillClosedCurve2(graphics_, brush_of(brush), points.data(), count_of(points.size()),
                                                 tension, static_cast<gp::FillMode>(fill_mode)));
}
bool DrawingSurface::FillClosedCurveI(const Brush& brush, std::span<const gp::Point> points) {
  return RecordStatus(gdip::GdipFillClosedCurveI(graphics_, brush_of(brush), points.data(), count_of(points.size())));
}
bool DrawingSurface::FillClosedCurve2I(const Brush& brush, std::span<const gp::Point> points, float tension,
                                       int fill_mode) {
  return RecordStatus(gdip::GdipFillClosedCurve2I(graphics_, brush_of(brush), points.data(), count_of(points.size()),
                                                  tension, static_cast<gp::FillMode>(fill_mode)));
}
bool DrawingSurface::FillRegion(const Brush& brush, const Region& region) {
  return RecordStatus(gdip::GdipFillRegion(graphics_, brush_of(brush), region.region()));
}

// ---- text -------------------------------------------------------------------------------

bool DrawingSurface::DrawString(const char* text, const Font& font, const Brush& brush, const gp::RectF& layout,
                                const StringFormat& format) {
  return DrawStringW(text_to_wide(text).c_str(), font, brush, layout, format);
}
bool DrawingSurface::DrawStringW(const wchar_t* text, const Font& font, const Brush& brush, const gp::RectF& layout,
                                 const StringFormat& format) {
  const wchar_t* t = text ? text : L"";
  return RecordStatus(
      gdip::GdipDrawString(graphics_, t, lstrlenW(t), font_of(font), &layout, format_of(format), brush_of(brush)));
}
bool DrawingSurface::MeasureString(const char* text, const Font& font, const gp::RectF& layout,
                                   const StringFormat& format, gp::RectF& bounds) const {
  return MeasureStringW(text_to_wide(text).c_str(), font, layout, format, bounds);
}
bool DrawingSurface::MeasureStringW(const wchar_t* text, const Font& font, const gp::RectF& layout,
                                    const StringFormat& format, gp::RectF& bounds) const {
  const wchar_t* t = text ? text : L"";
  return RecordStatus(gdip::GdipMeasureString(graphics_, t, lstrlenW(t), font_of(font), &layout, format_of(format),
                                              &bounds, nullptr, nullptr));
}
bool DrawingSurface::MeasureCharacterRanges(const char* text, const Font& font, const gp::RectF& layout,
                                            const StringFormat& format, std::vector<Region>& regions) const {
  return MeasureCharacterRangesW(text_to_wide(text).c_str(), font, layout, format, regions);
}
bool DrawingSurface::MeasureCharacterRangesW(const wchar_t* text, const Font& font, const gp::RectF& layout,
                                             const StringFormat& format, std::vector<Region>& regions) const {
  const wchar_t* t = text ? text : L"";
  INT count = 0;
  if (!RecordStatus(gdip::GdipGetStringFormatMeasurableCharacterRangeCount(format_of(format), &count))) return false;
  std::vector<Region> result(static_cast<size_t>(count > 0 ? count : 0));
  std::vector<gp::GpRegion*> native;
  for (Region& r : result) {
    if (!r.Create()) return false;
    native.push_back(r.region());
  }
  if (!RecordStatus(gdip::GdipMeasureCharacterRanges(graphics_, t, lstrlenW(t), font_of(font), layout,
                                                     format_of(format), count, native.data())))
    return false;
  regions = std::move(result);
  return true;
}
bool DrawingSurface::DrawDriverString(const char* text, const Font& font, const Brush& brush,
                                      std::span<const gp::PointF> positions, int flags, const Matrix* matrix) {
  return DrawDriverStringW(text_to_wide(text).c_str(), font, brush, positions, flags, matrix);
}
bool DrawingSurface::DrawDriverStringW(const wchar_t* text, const Font& font, const Brush& brush,
                                       std::span<const gp::PointF> positions, int flags, const Matrix* matrix) {
  const wchar_t* t = text ? text : L"";
  const int length = lstrlenW(t);
  // GDI+ reads one position per character unless told to advance by itself from the first.
  const size_t needed = (flags & gp::DriverStringOptionsRealizedAdvance) ? (length ? 1 : 0) : size_t(length);
  if (positions.size() < needed) return RecordStatus(gp::InvalidParameter);
  return RecordStatus(gdip::GdipDrawDriverString(graphics_, reinterpret_cast<const UINT16*>(t), length,
                                                 font_of(font), brush_of(brush), positions.data(), flags,
                                                 matrix ? matrix->matrix() : nullptr));
}

// ---- images -----------------------------------------------------------------------------

bool DrawingSurface::DrawImage(const Picture& picture, float x, float y) {
  return RecordStatus(gdip::GdipDrawImage(graphics_, image_of(picture), x, y));
}
bool DrawingSurface::DrawImageI(const Picture& picture, int x, int y) {
  return RecordStatus(gdip::GdipDrawImageI(graphics_, image_of(picture), x, y));
}
bool DrawingSurface::DrawCachedBitmap(const NativeObject& cached_bitmap, float x, float y) {
  return RecordStatus(gdip::GdipDrawCachedBitmap(graphics_, native_of<gp::GpCachedBitmap>(cached_bitmap),
                                                 static_cast<INT>(x), static_cast<INT>(y)));
}
bool DrawingSurface::DrawImageRect(const Picture& picture, float x, float y, float width, float height,
                                   std::optional<int> source_unit) {
  const auto source_width = static_cast<gp::REAL>(picture.GetWidth());
  const auto source_height = static_cast<gp::REAL>(picture.GetHeight());
  return RecordStatus(gdip::GdipDrawImageRectRect(graphics_, image_of(picture), x, y, width, height, 0, 0, source_width,
                                                  source_height, static_cast<gp::GpUnit>(source_unit.value_or(gp::UnitPixel)),
                                                  nullptr, nullptr, nullptr));
}
bool DrawingSurface::DrawImageRectI(const Picture& picture, int x, int y, int width, int height,
                                    std::optional<int> source_unit) {
  const int source_width = picture.GetWidth(), source_height = picture.GetHeight();
  return RecordStatus(gdip::GdipDrawImageRectRectI(graphics_, image_of(picture), x, y, width, height, 0, 0,
                                                   source_width, source_height,
                                                   static_cast<gp::GpUnit>(source_unit.value_or(gp::UnitPixel)),
                                                   nullptr, nullptr, nullptr));
}
bool DrawingSurface::DrawImagePoints(const Picture& picture, std::span<const gp::PointF> points) {
  return RecordStatus(gdip::GdipDrawImagePoints(graphics_, image_of(picture), points.data(), count_of(points.size())));
}
bool DrawingSurface::DrawImagePointsI(const Picture& picture, std::span<const gp::Point> points) {
  return RecordStatus(gdip::GdipDrawImagePointsI(graphics_, image_of(picture), points.data(), count_of(points.size())));
}
bool DrawingSurface::DrawImagePointRect(const Picture& picture, float x, float y, float source_x, float source_y,
                                        float source_width, float source_height, int source_unit) {
  return RecordStatus(gdip::GdipDrawImagePointRect(graphics_, image_of(picture), x, y, source_x, source_y, source_width,
                                                   source_height, static_cast<gp::GpUnit>(source_unit)));
}
bool DrawingSurface::DrawImagePointRectI(const Picture& picture, int x, int y, int source_x, int source_y,
                                         int source_width, int source_height, int source_unit) {
  return RecordStatus(gdip::GdipDrawImagePointRectI(graphics_, image_of(picture), x, y, source_x, source_y,
                                                    source_width, source_height, static_cast<gp::GpUnit>(source_unit)));
}
bool DrawingSurface::DrawImageRectRect(const Picture& picture, const gp::RectF& d, const gp::RectF& s, int source_unit,
                                       const NativeObject* image_attributes) {
  return RecordStatus(gdip::GdipDrawImageRectRect(graphics_, image_of(picture), d.X, d.Y, d.Width, d.Height, s.X, s.Y,
                                                  s.Width, s.Height, static_cast<gp::GpUnit>(source_unit),
                                                  attributes_of(image_attributes), nullptr, nullptr));
}
bool DrawingSurface::DrawImageRectRectI(const Picture& picture, const gp::Rect& d, const gp::Rect& s, int source_unit,
                                        const NativeObject* image_attributes) {
  return RecordStatus(gdip::GdipDrawImageRectRectI(graphics_, image_of(picture), d.X, d.Y, d.Width, d.Height, s.X, s.Y,
                                                   s.Width, s.Height, static_cast<gp::GpUnit>(source_unit),
                                                   attributes_of(image_attributes), nullptr, nullptr));
}
bool DrawingSurface::DrawImagePointsRect(const Picture& picture, std::span<const gp::PointF> points,
                                         const gp::RectF& s, int source_unit, const NativeObject* image_attributes) {
  return RecordStatus(gdip::GdipDrawImagePointsRect(graphics_, image_of(picture), points.data(), count_of(points.size()),
                                                    s.X, s.Y, s.Width, s.Height, static_cast<gp::GpUnit>(source_unit),
                                                    attributes_of(image_attributes), nullptr, nullptr));
}
bool DrawingSurface::DrawImagePointsRectI(const Picture& picture, std::span<const gp::Point> points, const gp::Rect& s,
                                          int source_unit, const NativeObject* image_attributes) {
  return RecordStatus(gdip::GdipDrawImagePointsRectI(graphics_, image_of(picture), points.data(),
                                                     count_of(points.size()), s.X, s.Y, s.Width, s.Height,
                                                     static_cast<gp::GpUnit>(source_unit),
                                                     attributes_of(image_attributes), nullptr, nullptr));
}

// ---- metafiles --------------------------------------------------------------------------

bool DrawingSurface::EnumerateMetafileDestPoint(const NativeObject& metafile, const gp::PointF& destination,
                                                MetafileCallback callback, void* data, const NativeObject* attributes) {
  return RecordStatus(gdip::GdipEnumerateMetafileDestPoint(graphics_, metafile_of(metafile), destination, callback,
                                                           data, attributes_of(attributes)));
}
bool DrawingSurface::EnumerateMetafileDestPointI(const NativeObject& metafile, const gp::Point& destination,
                                                 MetafileCallback callback, void* data, const NativeObject* attributes) {
  return RecordStatus(gdip::GdipEnumerateMetafileDestPointI(graphics_, metafile_of(metafile), destination, callback,
                                                            data, attributes_of(attributes)));
}
bool DrawingSurface::EnumerateMetafileDestPoints(const NativeObject& metafile, std::span<const gp::PointF> destination,
                                                 MetafileCallback callback, void* data, const NativeObject* attributes) {
  return RecordStatus(gdip::GdipEnumerateMetafileDestPoints(graphics_, metafile_of(metafile), destination.data(),
                                                            count_of(destination.size()), callback, data,
                                                            attributes_of(attributes)));
}
bool DrawingSurface::EnumerateMetafileDestPointsI(const NativeObject& metafile, std::span<const gp::Point> destination,
                                                  MetafileCallback callback, void* data,
                                                  const NativeObject* attributes) {
  return RecordStatus(gdip::GdipEnumerateMetafileDestPointsI(graphics_, metafile_of(metafile), destination.data(),
                                                             count_of(destination.size()), callback, data,
                                                             attributes_of(attributes)));
}
bool DrawingSurface::EnumerateMetafileDestRect(const NativeObject& metafile, const gp::RectF& destination,
                                               MetafileCallback callback, void* data, const NativeObject* attributes) {
  return RecordStatus(gdip::GdipEnumerateMetafileDestRect(graphics_, metafile_of(metafile), destination, callback, data,
                                                          attributes_of(attributes)));
}
bool DrawingSurface::EnumerateMetafileDestRectI(const NativeObject& metafile, const gp::Rect& destination,
                                                MetafileCallback callback, void* data, const NativeObject* attributes) {
  return RecordStatus(gdip::GdipEnumerateMetafileDestRectI(graphics_, metafile_of(metafile), destination, callback,
                                                           data, attributes_of(attributes)));
}
bool DrawingSurface::EnumerateMetafileSrcRectDestPoint(const NativeObject& metafile, const gp::PointF& destination,
                                                       const gp::RectF& source, int source_unit,
                                                       MetafileCallback callback, void* data,
                                                       const NativeObject* attributes) {
  return RecordStatus(gdip::GdipEnumerateMetafileSrcRectDestPoint(graphics_, metafile_of(metafile), destination, source,
                                                                  static_cast<gp::Unit>(source_unit), callback, data,
                                                                  attributes_of(attributes)));
}
bool DrawingSurface::EnumerateMetafileSrcRectDestPointI(const NativeObject& metafile, const gp::Point& destination,
                                                        const gp::Rect& source, int source_unit,
                                                        MetafileCallback callback, void* data,
                                                        const NativeObject* attributes) {
  return RecordStatus(gdip::GdipEnumerateMetafileSrcRectDestPointI(graphics_, metafile_of(metafile), destination,
                                                                   source, static_cast<gp::Unit>(source_unit),
                                                                   callback, data, attributes_of(attributes)));
}
bool DrawingSurface::EnumerateMetafileSrcRectDestPoints(const NativeObject& metafile,
                                                        std::span<const gp::PointF> destination,
                                                        const gp::RectF& source, int source_unit,
                                                        MetafileCallback callback, void* data,
                                                        const NativeObject* attributes) {
  return RecordStatus(gdip::GdipEnumerateMetafileSrcRectDestPoints(
      graphics_, metafile_of(metafile), destination.data(), count_of(destination.size()), source,
      static_cast<gp::Unit>(source_unit), callback, data, attributes_of(attributes)));
}
bool DrawingSurface::EnumerateMetafileSrcRectDestPointsI(const NativeObject& metafile,
                                                         std::span<const gp::Point> destination,
                                                         const gp::Rect& source, int source_unit,
                                                         MetafileCallback callback, void* data,
                                                         const NativeObject* attributes) {
  return RecordStatus(gdip::GdipEnumerateMetafileSrcRectDestPointsI(
      graphics_, metafile_of(metafile), destination.data(), count_of(destination.size()), source,
      static_cast<gp::Unit>(source_unit), callback, data, attributes_of(attributes)));
}
bool DrawingSurface::EnumerateMetafileSrcRectDestRect(const NativeObject& metafile, const gp::RectF& destination,
                                                      const gp::RectF& source, int source_unit,
                                                      MetafileCallback callback, void* data,
                                                      const NativeObject* attributes) {
  return RecordStatus(gdip::GdipEnumerateMetafileSrcRectDestRect(graphics_, metafile_of(metafile), destination, source,
                                                                 static_cast<gp::Unit>(source_unit), callback, data,
                                                                 attributes_of(attributes)));
}
bool DrawingSurface::EnumerateMetafileSrcRectDestRectI(const NativeObject& metafile, const gp::Rect& destination,
                                                       const gp::Rect& source, int source_unit,
                                                       MetafileCallback callback, void* data,
                                                       const NativeObject* attributes) {
  return RecordStatus(gdip::GdipEnumerateMetafileSrcRectDestRectI(graphics_, metafile_of(metafile), destination,
                                                                  source, static_cast<gp::Unit>(source_unit), callback,
                                                                  data, attributes_of(attributes)));
}

// ---- clipping, state and containers -------------------------------------------------------

bool DrawingSurface::SetClipGraphics(const DrawingSurface& source, int combine_mode) {
  return RecordStatus(gdip::GdipSetClipGraphics(graphics_, source.graphics_, static_cast<gp::CombineMode>(combine_mode)));
}
bool DrawingSurface::SetClipPath(const GraphicsPath& path, int combine_mode) {
  return RecordStatus(gdip::GdipSetClipPath(graphics_, path.path(), static_cast<gp::CombineMode>(combine_mode)));
}
bool DrawingSurface::SetClipRect(float x, float y, float width, float height, int combine_mode) {
  return RecordStatus(gdip::GdipSetClipRect(graphics_, x, y, width, height, static_cast<gp::CombineMode>(combine_mode)));
}
bool DrawingSurface::SetClipRectI(int x, int y, int width, int height, int combine_mode) {
  return RecordStatus(gdip::GdipSetClipRectI(graphics_, x, y, width, height, static_cast<gp::CombineMode>(combine_mode)));
}
bool DrawingSurface::SetClipRegion(const Region& region, int combine_mode) {
  return RecordStatus(gdip::GdipSetClipRegion(graphics_, region.region(), static_cast<gp::CombineMode>(combine_mode)));
}
bool DrawingSurface::SetClipHrgn(HRGN region, int combine_mode) {
  return RecordStatus(gdip::GdipSetClipHrgn(graphics_, region, static_cast<gp::CombineMode>(combine_mode)));
}
bool DrawingSurface::ResetClip() { return RecordStatus(gdip::GdipResetClip(graphics_)); }
bool DrawingSurface::TranslateClip(float dx, float dy) { return RecordStatus(gdip::GdipTranslateClip(graphics_, dx, dy)); }
bool DrawingSurface::TranslateClipI(int dx, int dy) { return RecordStatus(gdip::GdipTranslateClipI(graphics_, dx, dy)); }
bool DrawingSurface::GetClip(Region& region) const {
  // GDI+ fills a region that exists: make a fresh one and hand it over only when filled.
  Region result;
  if (!result.Create()) return false;
  if (!RecordStatus(gdip::GdipGetClip(graphics_, result.region()))) return false;
  region = std::move(result);
  return true;
}
bool DrawingSurface::GetClipBounds(gp::RectF& bounds) const { return RecordStatus(gdip::GdipGetClipBounds(graphics_, &bounds)); }
bool DrawingSurface::GetClipBoundsI(gp::Rect& bounds) const { return RecordStatus(gdip::GdipGetClipBoundsI(graphics_, &bounds)); }
bool DrawingSurface::GetVisibleClipBounds(gp::RectF& bounds) const {
  return RecordStatus(gdip::GdipGetVisibleClipBounds(graphics_, &bounds));
}
bool DrawingSurface::GetVisibleClipBoundsI(gp::Rect& bounds) const {
  return RecordStatus(gdip::GdipGetVisibleClipBoundsI(graphics_, &bounds));
}
bool DrawingSurface::IsClipEmpty() const {
  BOOL result = FALSE;
  RecordStatus(gdip::GdipIsClipEmpty(graphics_, &result));
  return result != FALSE;
}
bool DrawingSurface::IsVisibleClipEmpty() const {
  BOOL result = FALSE;
  RecordStatus(gdip::GdipIsVisibleClipEmpty(graphics_, &result));
  return result != FALSE;
}
bool DrawingSurface::IsVisiblePoint(float x, float y) const {
  BOOL result = FALSE;
  RecordStatus(gdip::GdipIsVisiblePoint(graphics_, x, y, &result));
  return result != FALSE;
}
bool DrawingSurface::IsVisiblePointI(int x, int y) const {
  BOOL result = FALSE;
  RecordStatus(gdip::GdipIsVisiblePointI(graphics_, x, y, &result));
  return result != FALSE;
}
bool DrawingSurface::IsVisibleRect(float x, float y, float width, float height) const {
  BOOL result = FALSE;
  RecordStatus(gdip::GdipIsVisibleRect(graphics_, x, y, width, height, &result));
  return result != FALSE;
}
bool DrawingSurface::IsVisibleRectI(int x, int y, int width, int height) const {
  BOOL result = FALSE;
  RecordStatus(gdip::GdipIsVisibleRectI(graphics_, x, y, width, height, &result));
  return result != FALSE;
}
UINT DrawingSurface::Save() {
  gp::GraphicsState state = 0;
  RecordStatus(gdip::GdipSaveGraphics(graphics_, &state));
  return state;
}
bool DrawingSurface::Restore(UINT state) { return RecordStatus(gdip::GdipRestoreGraphics(graphics_, state)); }
UINT DrawingSurface::BeginContainer(const gp::RectF& destination, const gp::RectF& source, int unit) {
  gp::GraphicsContainer container = 0;
  RecordStatus(gdip::GdipBeginContainer(graphics_, &destination, &source, static_cast<gp::GpUnit>(unit), &container));
  return container;
}
UINT DrawingSurface::BeginContainerI(const gp::Rect& destination, const gp::Rect& source, int unit) {
  gp::GraphicsContainer container = 0;
  RecordStatus(gdip::GdipBeginContainerI(graphics_, &destination, &source, static_cast<gp::GpUnit>(unit), &container));
  return container;
}
UINT DrawingSurface::BeginContainer2() {
  gp::GraphicsContainer container = 0;
  RecordStatus(gdip::GdipBeginContainer2(graphics_, &container));
  return container;
}
bool DrawingSurface::EndContainer(UINT container) { return RecordStatus(gdip::GdipEndContainer(graphics_, container)); }
bool DrawingSurface::AddMetafileComment(const Bytes& data) {
  return RecordStatus(gdip::GdipComment(graphics_, static_cast<UINT>(data.size()), data.data()));
}

}  // namespace tambrel
