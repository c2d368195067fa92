#include "picture/graphics_path.h"

#include <algorithm>

#include "picture/drawing_surface.h"
#include "picture/font_family.h"
#include "picture/gdiplus_api.h"
#include "picture/matrix.h"
#include "picture/pen.h"
#include "picture/string_format.h"
#include "runtime/text.h"
#include "runtime/values.h"

TAMBREL_GDIP(GdipDeletePath)
TAMBREL_GDIP(GdipCreatePath)
TAMBREL_GDIP(GdipCreatePath2)
TAMBREL_GDIP(GdipCreatePath2I)
TAMBREL_GDIP(GdipClonePath)
TAMBREL_GDIP(GdipResetPath)
TAMBREL_GDIP(GdipGetPathFillMode)
TAMBREL_GDIP(GdipSetPathFillMode)
TAMBREL_GDIP(GdipGetPointCount)
TAMBREL_GDIP(GdipGetPathData)
TAMBREL_GDIP(GdipGetPathTypes)
TAMBREL_GDIP(GdipGetPathPoints)
TAMBREL_GDIP(GdipGetPathPointsI)
TAMBREL_GDIP(GdipStartPathFigure)
TAMBREL_GDIP(GdipClosePathFigure)
TAMBREL_GDIP(GdipClosePathFigures)
TAMBREL_GDIP(GdipSetPathMarker)
TAMBREL_GDIP(GdipClearPathMarkers)
TAMBREL_GDIP(GdipReversePath)
TAMBREL_GDIP(GdipGetPathLastPoint)
TAMBREL_GDIP(GdipAddPathLine)
TAMBREL_GDIP(GdipAddPathLineI)
TAMBREL_GDIP(GdipAddPathLine2)
TAMBREL_GDIP(GdipAddPathLine2I)
TAMBREL_GDIP(GdipAddPathArc)
TAMBREL_GDIP(GdipAddPathArcI)
TAMBREL_GDIP(GdipAddPathBezier)
TAMBREL_GDIP(GdipAddPathBezierI)
TAMBREL_GDIP(GdipAddPathBeziers)
TAMBREL_GDIP(GdipAddPathBeziersI)
TAMBREL_GDIP(GdipAddPathCurve)
TAMBREL_GDIP(GdipAddPathCurve2)
TAMBREL_GDIP(GdipAddPathCurve3)
TAMBREL_GDIP(GdipAddPathCurveI)
TAMBREL_GDIP(GdipAddPathCurve2I)
TAMBREL_GDIP(GdipAddPathCurve3I)
TAMBREL_GDIP(GdipAddPathClosedCurve)
TAMBREL_GDIP(GdipAddPathClosedCurve2)
TAMBREL_GDIP(GdipAddPathClosedCurveI)
TAMBREL_GDIP(GdipAddPathClosedCurve2I)
TAMBREL_GDIP(GdipAddPathRectangle)
TAMBREL_GDIP(GdipAddPathRectangles)
TAMBREL_GDIP(GdipAddPathRectangleI)
TAMBREL_GDIP(GdipAddPathRectanglesI)
TAMBREL_GDIP(GdipAddPathEllipse)
TAMBREL_GDIP(GdipAddPathEllipseI)
TAMBREL_GDIP(GdipAddPathPie)
TAMBREL_GDIP(GdipAddPathPieI)
TAMBREL_GDIP(GdipAddPathPolygon)
TAMBREL_GDIP(GdipAddPathPolygonI)
TAMBREL_GDIP(GdipAddPathPath)
TAMBREL_GDIP(GdipAddPathString)
TAMBREL_GDIP(GdipAddPathStringI)
TAMBREL_GDIP(GdipTransformPath)
TAMBREL_GDIP(GdipGetPathWorldBounds)
TAMBREL_GDIP(GdipGetPathWorldBoundsI)
TAMBREL_GDIP(GdipFlattenPath)
TAMBREL_GDIP(GdipWidenPath)
TAMBREL_GDIP(GdipWindingModeOutline)
TAMBREL_GDIP(GdipWarpPath)
TAMBREL_GDIP(GdipIsVisiblePathPoint)
TAMBREL_GDIP(GdipIsVisiblePathPointI)
TAMBREL_GDIP(GdipIsOutlineVisiblePathPoint)
TAMBREL_GDIP(GdipIsOutlineVisiblePathPointI)

namespace tambrel {


namespace {

INT count_of(size_t n) { return static_cast<INT>(n); }
gp::GpMatrix* matrix_of(const Matrix* m) { return m ? m->matrix() : nullptr; }
gp::GpGraphics* graphics_of(const DrawingSurface* s) { return s ? s->graphics() : nullptr; }

}  // namespace

bool GraphicsPath::Dispose() {
  if (!path_) return false;
  const bool ok = RecordStatus(gdip::GdipDeletePath(path_));
  SetNativeHandle(nullptr);
  return ok;
}

bool GraphicsPath::Create(std::optional<int> fill_mode) {
  Dispose();
  gp::GpPath* path = nullptr;
  return StoreNew(gdip::GdipCreatePath(static_cast<gp::GpFillMode>(fill_mode.value_or(gp::FillModeAlternate)), &path),
                  path);
}
bool GraphicsPath::CreateFromPoints(std::span<const gp::PointF> points, std::span<const BYTE> types, int fill_mode) {
  Dispose();
  gp::GpPath* path = nullptr;
  return StoreNew(gdip::GdipCreatePath2(points.data(), types.data(), count_of(std::min(points.size(), types.size())),
                                        static_cast<gp::GpFillMode>(fill_mode), &path),
                  path);
}
bool GraphicsPath::CreateFromPointsI(std::span<const gp::Point> points, std::span<const BYTE> types, int fill_mode) {
  Dispose();
  gp::GpPath* path = nullptr;
  return StoreNew(gdip::GdipCreatePath2I(points.data(), types.data(), count_of(std::min(points.size(), types.size())),
                                         static_cast<gp::GpFillMode>(fill_mode), &path),
                  path);
}
bool GraphicsPath::CloneTo(GraphicsPath& target) const {
  gp::GpPath* clone = nullptr;
  if (!RecordStatus(gdip::GdipClonePath(path_, &clone))) return false;
  target.Dispose();
  return target.StoreNew(gp::Ok, clone);
}
bool GraphicsPath::Reset() { return RecordStatus(gdip::GdipResetPath(path_)); }
int GraphicsPath::GetFillMode() const {
  gp::GpFillMode mode{};
  RecordStatus(gdip::GdipGetPathFillMode(path_, &mode));
  return mode;
}
bool GraphicsPath::SetFillMode(int fill_mode) {
  return RecordStatus(gdip::GdipSetPathFillMode(path_, static_cast<gp::GpFillMode>(fill_mode)));
}
int GraphicsPath::GetPointCount() const {
  INT count = 0;
  RecordStatus(gdip::GdipGetPointCount(path_, &count));
  return count;
}
bool GraphicsPath::GetPathData(std::vector<gp::PointF>& points, std::vector<BYTE>& types) const {
  const int count = GetPointCount();
  if (LastStatus() != gp::Ok) return false;
  std::vector<gp::PointF> p(size_t(std::max(count, 0)));
  std::vector<BYTE> t(p.size());
  // GDI+'s PathData layout; the header's own PathData frees its arrays with delete[].
  struct {
    INT Count;
    gp::PointF* Points;
    BYTE* Types;
  } data{count, p.data(), t.data()};
  if (count > 0 && !RecordStatus(gdip::GdipGetPathData(path_, reinterpret_cast<gp::GpPathData*>(&data))))
    return false;
  points = std::move(p);
  types = std::move(t);
  return true;
}
bool GraphicsPath::GetPathTypes(std::vector<BYTE>& types) const {
  const int count = GetPointCount();
  if (LastStatus() != gp::Ok) return false;
  std::vector<BYTE> t(size_t(std::max(count, 0)));
  if (count > 0 && !RecordStatus(gdip::GdipGetPathTypes(path_, t.data(), count))) return false;
  types = std::move(t);
  return true;
}
bool GraphicsPath::GetPathPoints(std::vector<gp::PointF>& points) const {
  const int count = GetPointCount();
  if (LastStatus() != gp::Ok) return false;
  std::vector<gp::PointF> p(size_t(std::max(count, 0)));
  if (count > 0 && !RecordStatus(gdip::GdipGetPathPoints(path_, p.data(), count))) return false;
  points = std::move(p);
  return true;
}
bool GraphicsPath::GetPathPointsI(std::vector<gp::Point>& points) const {
  const int count = GetPointCount();
  if (LastStatus() != gp::Ok) return false;
  std::vector<gp::Point> p(size_t(std::max(count, 0)));
  if (count > 0 && !RecordStatus(gdip::GdipGetPathPointsI(path_, p.data(), count))) return false;
  points = std::move(p);
  return true;
}
bool GraphicsPath::StartFigure() { return RecordStatus(gdip::GdipStartPathFigure(path_)); }
bool GraphicsPath::CloseFigure() { return RecordStatus(gdip::GdipClosePathFigure(path_)); }
bool GraphicsPath::CloseAllFigures() { return RecordStatus(gdip::GdipClosePathFigures(path_)); }
bool GraphicsPath::SetMarker() { return RecordStatus(gdip::GdipSetPathMarker(path_)); }
bool GraphicsPath::ClearMarkers() { return RecordStatus(gdip::GdipClearPathMarkers(path_)); }
bool GraphicsPath::Reverse() { return RecordStatus(gdip::GdipReversePath(path_)); }
bool GraphicsPath::GetLastPoint(gp::PointF& point) const {
  return RecordStatus(gdip::GdipGetPathLastPoint(path_, &point));
}

bool GraphicsPath::AddLine(float x1, float y1, float x2, float y2) {
  return RecordStatus(gdip::GdipAddPathLine(path_, x1, y1, x2, y2));
}
bool GraphicsPath::AddLineI(int x1, int y1, int x2, int y2) {
  return RecordStatus(gdip::GdipAddPathLineI(path_, x1, y1, x2, y2));
}
bool GraphicsPath::AddLines(std::span<const gp::PointF> points) {
  return RecordStatus(gdip::GdipAddPathLine2(path_, points.data(), count_of(points.size())));
}
bool GraphicsPath::AddLinesI(std::span<const gp::Point> points) {
  return RecordStatus(gdip::GdipAddPathLine2I(path_, points.data(), count_of(points.size())));
}
bool GraphicsPath::AddArc(float x, float y, float width, float height, float start, float sweep) {
  return RecordStatus(gdip::GdipAddPathArc(path_, x, y, width, height, start, sweep));
}
bool GraphicsPath::AddArcI(int x, int y, int width, int height, float start, float sweep) {
  return RecordStatus(gdip::GdipAddPathArcI(path_, x, y, width, height, start, sweep));
}
bool GraphicsPath::AddBezier(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4) {
  return RecordStatus(gdip::GdipAddPathBezier(path_, x1, y1, x2, y2, x3, y3, x4, y4));
}
bool GraphicsPath::AddBezierI(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4) {
  return RecordStatus(gdip::GdipAddPathBezierI(path_, x1, y1, x2, y2, x3, y3, x4, y4));
}
bool GraphicsPath::AddBeziers(std::span<const gp::PointF> points) {
  return RecordStatus(gdip::GdipAddPathBeziers(path_, points.data(), count_of(points.size())));
}
bool GraphicsPath::AddBeziersI(std::span<const gp::Point> points) {
  return RecordStatus(gdip::GdipAddPathBeziersI(path_, points.data(), count_of(points.size())));
}
bool GraphicsPath::AddCurve(std::span<const gp::PointF> points) {
  return RecordStatus(gdip::GdipAddPathCurve(path_, points.data(), count_of(points.size())));
}
bool GraphicsPath::AddCurve2(std::span<const gp::PointF> points, float tension) {
  return RecordStatus(gdip::GdipAddPathCurve2(path_, points.data(), count_of(points.size()), tension));
}
bool GraphicsPath::AddCurve3(std::span<const gp::PointF> points, int offset, int segments, float tension) {
  return RecordStatus(gdip::GdipAddPathCurve3(path_, points.data(), count_of(points.size()), offset, segments, tension));
}
bool GraphicsPath::AddCurveI(std::span<const gp::Point> points) {
  return RecordStatus(gdip::GdipAddPathCurveI(path_, points.data(), count_of(points.size())));
}
bool GraphicsPath::AddCurve2I(std::span<const gp::Point> points, float tension) {
  return RecordStatus(gdip::GdipAddPathCurve2I(path_, points.data(), count_of(points.size()), tension));
}
bool GraphicsPath::AddCurve3I(std::span<const gp::Point> points, int offset, int segments, float tension) {
  return RecordStatus(
      gdip::GdipAddPathCurve3I(path_, points.data(), count_of(points.size()), offset, segments, tension));
}
bool GraphicsPath::AddClosedCurve(std::span<const gp::PointF> points) {
  return RecordStatus(gdip::GdipAddPathClosedCurve(path_, points.data(), count_of(points.size())));
}
bool GraphicsPath::AddClosedCurve2(std::span<const gp::PointF> points, float tension) {
  return RecordStatus(gdip::GdipAddPathClosedCurve2(path_, points.data(), count_of(points.size()), tension));
}
bool GraphicsPath::AddClosedCurveI(std::span<const gp::Point> points) {
  return RecordStatus(gdip::GdipAddPathClosedCurveI(path_, points.data(), count_of(points.size())));
}
bool GraphicsPath::AddClosedCurve2I(std::span<const gp::Point> points, float tension) {
  return RecordStatus(gdip::GdipAddPathClosedCurve2I(path_, points.data(), count_of(points.size()), tension));
}
bool GraphicsPath::AddRectangle(float x, float y, float width, float height) {
  return RecordStatus(gdip::GdipAddPathRectangle(path_, x, y, width, height));
}

bool GraphicsPath::AddRoundedRectangle(float x, float y, float width, float height, int corner_percent) {
  const int percent = std::clamp(corner_percent, 1, 100);
  // Whole units, as the corners have always been drawn.
  const auto cw = static_cast<gp::REAL>(real_to_int(width * percent / 100.0));
  const auto ch = static_cast<gp::REAL>(real_to_int(height * percent / 100.0));
  gdip::GdipAddPathArc(path_, x + width - cw, y, cw, ch, 270, 90);               // top right
  gdip::GdipAddPathArc(path_, x + width - cw, y + height - ch, cw, ch, 0, 90);   // bottom right
  gdip::GdipAddPathArc(path_, x, y + height - ch, cw, ch, 90, 90);               // bottom left
  gdip::GdipAddPathArc(path_, x, y, cw, ch, 180, 90);                            // top left
  return RecordStatus(gdip::GdipClosePathFigure(path_));
}

bool GraphicsPath::AddRectangles(std::span<const gp::RectF> rectangles) {
  return RecordStatus(gdip::GdipAddPathRectangles(path_, rectangles.data(), count_of(rectangles.size())));
}
bool GraphicsPath::AddRectangleI(int x, int y, int width, int height) {
  return RecordStatus(gdip::GdipAddPathRectangleI(path_, x, y, width, height));
}
bool GraphicsPath::AddRectanglesI(std::span<const gp::Rect> rectangles) {
  return RecordStatus(gdip::GdipAddPathRectanglesI(path_, rectangles.data(), count_of(rectangles.size())));
}
bool GraphicsPath::AddEllipse(float x, float y, float width, float height) {
  return RecordStatus(gdip::GdipAddPathEllipse(path_, x, y, width, height));
}
bool GraphicsPath::AddEllipseI(int x, int y, int width, int height) {
  return RecordStatus(gdip::GdipAddPathEllipseI(path_, x, y, width, height));
}
bool GraphicsPath::AddPie(float x, float y, float width, float height, float start, float sweep) {
  return RecordStatus(gdip::GdipAddPathPie(path_, x, y, width, height, start, sweep));
}
bool GraphicsPath::AddPieI(int x, int y, int width, int height, float start, float sweep) {
  return RecordStatus(gdip::GdipAddPathPieI(path_, x, y, width, height, start, sweep));
}
bool GraphicsPath::AddPolygon(std::span<const gp::PointF> points) {
  return RecordStatus(gdip::GdipAddPathPolygon(path_, points.data(), count_of(points.size())));
}
bool GraphicsPath::AddPolygonI(std::span<const gp::Point> points) {
  return RecordStatus(gdip::GdipAddPathPolygonI(path_, points.data(), count_of(points.size())));
}
bool GraphicsPath::AddPath(const GraphicsPath& other, bool connect) {
  return RecordStatus(gdip::GdipAddPathPath(path_, other.path_, connect));
}
bool GraphicsPath::AddString(const char* text, const FontFamily& family, int style, float em_size,
                             const gp::RectF& layout, const StringFormat& format) {
  return AddStringW(text_to_wide(text).c_str(), family, style, em_size, layout, format);
}
bool GraphicsPath::AddStringW(const wchar_t* text, const FontFamily& family, int style, float em_size,
                              const gp::RectF& layout, const StringFormat& format) {
  const wchar_t* t = text ? text : L"";
  return RecordStatus(gdip::GdipAddPathString(path_, t, lstrlenW(t), family.family(), style, em_size, &layout,
                                              format.format()));
}
bool GraphicsPath::AddStringI(const char* text, const FontFamily& family, int style, float em_size,
                              const gp::Rect& layout, const StringFormat& format) {
  return AddStringIW(text_to_wide(text).c_str(), family, style, em_size, layout, format);
}
bool GraphicsPath::AddStringIW(const wchar_t* text, const FontFamily& family, int style, float em_size,
                               const gp::Rect& layout, const StringFormat& format) {
  const wchar_t* t = text ? text : L"";
  return RecordStatus(gdip::GdipAddPathStringI(path_, t, lstrlenW(t), family.family(), style, em_size, &layout,
                                               format.format()));
}
bool GraphicsPath::Transform(const Matrix& matrix) { return RecordStatus(gdip::GdipTransformPath(path_, matrix.matrix())); }
bool GraphicsPath::GetBounds(gp::RectF& bounds, const Matrix* matrix, const Pen* pen) const {
  return RecordStatus(gdip::GdipGetPathWorldBounds(path_, &bounds, matrix_of(matrix), pen ? pen->pen() : nullptr));
}
bool GraphicsPath::GetBoundsI(gp::Rect& bounds, const Matrix* matrix, const Pen* pen) const {
  return RecordStatus(gdip::GdipGetPathWorldBoundsI(path_, &bounds, matrix_of(matrix), pen ? pen->pen() : nullptr));
}
bool GraphicsPath::Flatten(const Matrix* matrix, float flatness) {
  return RecordStatus(gdip::GdipFlattenPath(path_, matrix_of(matrix), flatness));
}
bool GraphicsPath::Widen(const Pen& pen, const Matrix* matrix, float flatness) {
  return RecordStatus(gdip::GdipWidenPath(path_, pen.pen(), matrix_of(matrix), flatness));
}
bool GraphicsPath::Outline(const Matrix* matrix, float flatness) {
  return RecordStatus(gdip::GdipWindingModeOutline(path_, matrix_of(matrix), flatness));
}
bool GraphicsPath::Warp(const Matrix* matrix, std::span<const gp::PointF> points, const gp::RectF& source,
                        int warp_mode, float flatness) {
  return RecordStatus(gdip::GdipWarpPath(path_, matrix_of(matrix), points.data(), count_of(points.size()), source.X,
                                         source.Y, source.Width, source.Height, static_cast<gp::WarpMode>(warp_mode),
                                         flatness));
}
bool GraphicsPath::IsVisible(float x, float y, const DrawingSurface* surface) const {
  BOOL result = FALSE;
  RecordStatus(gdip::GdipIsVisiblePathPoint(path_, x, y, graphics_of(surface), &result));
  return result != FALSE;
}
bool GraphicsPath::IsVisibleI(int x, int y, const DrawingSurface* surface) const {
  BOOL result = FALSE;
  RecordStatus(gdip::GdipIsVisiblePathPointI(path_, x, y, graphics_of(surface), &result));
  return result != FALSE;
}
bool GraphicsPath::IsOutlineVisible(float x, float y, const Pen& pen, const DrawingSurface* surface) const {
  BOOL result = FALSE;
  RecordStatus(gdip::GdipIsOutlineVisiblePathPoint(path_, x, y, pen.pen(), graphics_of(surface), &result));
  return result != FALSE;
}
bool GraphicsPath::IsOutlineVisibleI(int x, int y, const Pen& pen, const DrawingSurface* surface) const {
  BOOL result = FALSE;
  RecordStatus(gdip::GdipIsOutlineVisiblePathPointI(path_, x, y, pen.pen(), graphics_of(surface), &result));
  return result != FALSE;
}

}  // namespace tambrel
