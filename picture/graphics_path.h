// A path: figures of lines, arcs, curves and shapes that a surface outlines or fills. The
// gallery painter refills one path with rounded rectangles.
#pragma once

#include <optional>
#include <span>
#include <vector>

#include "picture/native_object.h"

namespace tambrel {

class DrawingSurface;
class FontFamily;
class Matrix;
class Pen;
class StringFormat;

class GraphicsPath : public NativeObject {
 public:
  GraphicsPath() = default;
  GraphicsPath(GraphicsPath&& o) noexcept { TakeNative(o); }
  GraphicsPath& operator=(GraphicsPath&& o) noexcept {
    if (this != &o) {
      Dispose();
      TakeNative(o);
    }
    return *this;
  }
  ~GraphicsPath() override { Dispose(); }

  gp::GpPath* path() const { return path_; }

  bool Dispose();
  // The creating operations dispose a held path first; fill mode alternate (0) unless given.
  bool Create(std::optional<int> fill_mode = std::nullopt);
  // One type byte per point; the shorter list decides the count.
  bool CreateFromPoints(std::span<const gp::PointF> points, std::span<const BYTE> types, int fill_mode);
  bool CreateFromPointsI(std::span<const gp::Point> points, std::span<const BYTE> types, int fill_mode);
  bool CloneTo(GraphicsPath& target) const;
  // Empties the path.
  bool Reset();
  int GetFillMode() const;
  bool SetFillMode(int fill_mode);
  bool GetPathData(std::vector<gp::PointF>& points, std::vector<BYTE>& types) const;
  bool GetPathTypes(std::vector<BYTE>& types) const;
  bool GetPathPoints(std::vector<gp::PointF>& points) const;
  bool GetPathPointsI(std::vector<gp::Point>& points) const;
  bool StartFigure();
  bool CloseFigure();
  bool CloseAllFigures();
  bool SetMarker();
  bool ClearMarkers();
  bool Reverse();
  bool GetLastPoint(gp::PointF& point) const;
  bool AddLine(float x1, float y1, float x2, float y2);
  bool AddLineI(int x1, int y1, int x2, int y2);
  bool AddLines(std::span<const gp::PointF> points);
  bool AddLinesI(std::span<const gp::Point> points);
  bool AddArc(float x, float y, float width, float height, float start, float sweep);
  bool AddArcI(int x, int y, int width, int height, float start, float sweep);
  bool AddBezier(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4);
  bool AddBezierI(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4);
  bool AddBeziers(std::span<const gp::PointF> points);
  bool AddBeziersI(std::span<const gp::Point> points);
  bool AddCurve(std::span<const gp::PointF> points);
  bool AddCurve2(std::span<const gp::PointF> points, float tension);
  bool AddCurve3(std::span<const gp::PointF> points, int offset, int segments, float tension);
  bool AddCurveI(std::span<const gp::Point> points);
  bool AddCurve2I(std::span<const gp::Point> points, float tension);
  bool AddCurve3I(std::span<const gp::Point> points, int offset, int segments, float tension);
  bool AddClosedCurve(std::span<const gp::PointF> points);
  bool AddClosedCurve2(std::span<const gp::PointF> points, float tension);
  bool AddClosedCurveI(std::span<const gp::Point> points);
  bool AddClosedCurve2I(std::span<const gp::Point> points, float tension);
  bool AddRectangle(float x, float y, float width, float height);
  // One closed figure of four quarter-ellipse corners. The corner percent is clamped to
  // 1..100; each corner spans that percentage of the side, truncated to whole units.
  bool AddRoundedRectangle(float x, float y, float width, float height, int corner_percent);
  bool AddRectangles(std::span<const gp::RectF> rectangles);
  bool AddRectangleI(int x, int y, int width, int height);
  bool AddRectanglesI(std::span<const gp::Rect> rectangles);
  bool AddEllipse(float x, float y, float width, float height);
  bool AddEllipseI(int x, int y, int width, int height);
  bool AddPie(float x, float y, float width, float height, float start, float sweep);
  bool AddPieI(int x, int y, int width, int height, float start, float sweep);
  bool AddPolygon(std::span<const gp::PointF> points);
  bool AddPolygonI(std::span<const gp::Point> points);
  bool AddPath(const GraphicsPath& other, bool connect);
  bool AddString(const char* text, const FontFamily& family, int style, float em_size, const gp::RectF& layout,
                 const StringFormat& format);
  bool AddStringW(const wchar_t* text, const FontFamily& family, int style, float em_size, const gp::RectF& layout,
                  const StringFormat& format);
  bool AddStringI(const char* text, const FontFamily& family, int style, float em_size, const gp::Rect& layout,
                  const StringFormat& format);
  bool AddStringIW(const wchar_t* text, const FontFamily& family, int style, float em_size, const gp::Rect& layout,
                   const StringFormat& format);
  bool Transform(const Matrix& matrix);
  bool GetBounds(gp::RectF& bounds, const Matrix* matrix = nullptr, const Pen* pen = nullptr) const;
  bool GetBoundsI(gp::Rect& bounds, const Matrix* matrix = nullptr, const Pen* pen = nullptr) const;
  bool Flatten(const Matrix* matrix, float flatness);
  bool Widen(const Pen& pen, const Matrix* matrix, float flatness);
  bool Outline(const Matrix* matrix, float flatness);
  bool Warp(const Matrix* matrix, std::span<const gp::PointF> points, const gp::RectF& source, int warp_mode,
            float flatness);
  int GetPointCount() const;
  bool IsVisible(float x, float y, const DrawingSurface* surface = nullptr) const;
  bool IsVisibleI(int x, int y, const DrawingSurface* surface = nullptr) const;
  bool IsOutlineVisible(float x, float y, const Pen& pen, const DrawingSurface* surface = nullptr) const;
  bool IsOutlineVisibleI(int x, int y, const Pen& pen, const DrawingSurface* surface = nullptr) const;

 protected:
  void StoreNative(void* h) override { path_ = static_cast<gp::GpPath*>(h); }

 private:
  gp::GpPath* path_ = nullptr;
};

}  // namespace tambrel
