// A drawing surface: one GDI+ graphics context on a window, a device context or a picture,
// with the whole GDI+ drawing vocabulary. Each operation is the flat function of the same name
// with the surface's graphics first; library objects (pens, brushes, paths, fonts, formats,
// pictures, regions, matrices) give their native handles. Setters and drawing operations
// return true when GDI+ reports Ok; getters return the value (0 on failure). Either way the
// status is the library's last status, except for Flush, which returns its own.
//
// Obtaining a new context disposes the one the surface held. A surface made with FromImage
// must be disposed before the picture it draws on.
#pragma once

#include <windows.h>

#include <optional>
#include <span>
#include <vector>

#include "picture/native_object.h"
#include "runtime/values.h"

namespace tambrel {

class Picture;
class Brush;
class Pen;
class GraphicsPath;
class Font;
class StringFormat;
class Matrix;
class Region;

class DrawingSurface : public NativeObject {
 public:
  DrawingSurface() = default;
  DrawingSurface(DrawingSurface&& o) noexcept { TakeNative(o); }
  DrawingSurface& operator=(DrawingSurface&& o) noexcept;
  ~DrawingSurface() override { Dispose(); }

  gp::GpGraphics* graphics() const { return graphics_; }

  bool Dispose();
  // GdipFlush's own status (0 = Ok); the last status is left as it was.
  int Flush(std::optional<int> intention = std::nullopt);
  bool FromWindow(HWND window, std::optional<bool> use_icm = std::nullopt);
  bool FromHDC(HDC dc, std::optional<HANDLE> device = std::nullopt);
  bool FromImage(const Picture& picture);
  HDC GetDC();
  bool ReleaseDC(HDC dc);
  bool GetRenderingOrigin(int& x, int& y) const;
  bool SetRenderingOrigin(int x, int y);
  int GetCompositingMode() const;
  bool SetCompositingMode(int mode);
  int GetCompositingQuality() const;
  bool SetCompositingQuality(int quality);
  bool SetTextRenderingHint(int hint);
  int GetTextRenderingHint() const;
  bool SetTextContrast(UINT contrast);
  UINT GetTextContrast() const;
  bool SetInterpolationMode(int mode);
  int GetInterpolationMode() const;
  bool SetSmoothingMode(int mode);
  int GetSmoothingMode() const;
  bool SetPixelOffsetMode(int mode);
  int GetPixelOffsetMode() const;
  bool SetWorldTransform(const Matrix& matrix);
  // `matrix` receives a new matrix holding the world transform.
  bool GetWorldTransform(Matrix& matrix) const;
  bool ResetWorldTransform();
  bool MultiplyWorldTransform(const Matrix& matrix, std::optional<int> order = std::nullopt);
  bool TranslateWorldTransform(float dx, float dy, std::optional<int> order = std::nullopt);
  bool ScaleWorldTransform(float sx, float sy, std::optional<int> order = std::nullopt);
  // Scales about a centre point: the centre stays where it is.
  bool ScaleWorldTransformAt(float sx, float sy, gp::PointF centre, std::optional<int> order = std::nullopt);
  bool RotateWorldTransform(float angle, std::optional<int> order = std::nullopt);
  bool RotateWorldTransformAt(float angle, gp::PointF centre, std::optional<int> order = std::nullopt);
  bool SetPageUnit(int unit);
  int GetPageUnit() const;
  bool SetPageScale(float scale);
  float GetPageScale() const;
  float GetDpiX() const;
  float GetDpiY() const;
  bool TransformPoints(int destination_space, int source_space, std::span<gp::PointF> points) const;
  bool TransformPointsI(int destination_space, int source_space, std::span<gp::Point> points) const;
  ARGB GetNearestColor(ARGB colour) const;
  bool DrawLine(const Pen& pen, float x1, float y1, float x2, float y2);
  bool DrawLineI(const Pen& pen, int x1, int y1, int x2, int y2);
  bool DrawLines(const Pen& pen, std::span<const gp::PointF> points);
  bool DrawLinesI(const Pen& pen, std::span<const gp::Point> points);
  bool DrawArc(const Pen& pen, float x, float y, float width, float height, float start, float sweep);
  bool DrawArcI(const Pen& pen, int x, int y, int width, int height, float start, float sweep);
  bool DrawBezier(const Pen& pen, float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4);
  bool DrawBezierI(const Pen& pen, int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4);
  bool DrawBeziers(const Pen& pen, std::span<const gp::PointF> points);
  bool DrawBeziersI(const Pen& pen, std::span<const gp::Point> points);
  bool DrawRectangle(const Pen& pen, float x, float y, float width, float height);
  bool DrawRectangleI(const Pen& pen, int x, int y, int width, int height);
  bool DrawRectangles(const Pen& pen, std::span<const gp::RectF> rectangles);
  bool DrawRectanglesI(const Pen& pen, std::span<const gp::Rect> rectangles);
  bool DrawEllipse(const Pen& pen, float x, float y, float width, float height);
  bool DrawEllipseI(const Pen& pen, int x, int y, int width, int height);
  bool DrawPie(const Pen& pen, float x, float y, float width, float height, float start, float sweep);
  bool DrawPieI(const Pen& pen, int x, int y, int width, int height, float start, float sweep);
  bool DrawPolygon(const Pen& pen, std::span<const gp::PointF> points);
  bool DrawPolygonI(const Pen& pen, std::span<const gp::Point> points);
  // Outlines the path with the pen.
  bool DrawPath(const Pen& pen, const GraphicsPath& path);
  bool DrawCurve(const Pen& pen, std::span<const gp::PointF> points);
  bool DrawCurveI(const Pen& pen, std::span<const gp::Point> points);
  bool DrawCurve2(const Pen& pen, std::span<const gp::PointF> points, float tension);
  bool DrawCurve2I(const Pen& pen, std::span<const gp::Point> points, float tension);
  bool DrawCurve3(const Pen& pen, std::span<const gp::PointF> points, int offset, int segments, float tension);
  bool DrawCurve3I(const Pen& pen, std::span<const gp::Point> points, int offset, int segments, float tension);
  bool DrawClosedCurve(const Pen& pen, std::span<const gp::PointF> points);
  bool DrawClosedCurveI(const Pen& pen, std::span<const gp::Point> points);
  bool DrawClosedCurve2(const Pen& pen, std::span<const gp::PointF> points, float tension);
  bool DrawClosedCurve2I(const Pen& pen, std::span<const gp::Point> points, float tension);
  bool Clear(ARGB colour);
  bool FillRectangle(const Brush& brush, float x, float y, float width, float height);
  bool FillRectangleRect(const Brush& brush, const gp::RectF& rectangle);
  bool FillRectangleI(const Brush& brush, int x, int y, int width, int height);
  bool FillRectangles(const Brush& brush, std::span<const gp::RectF> rectangles);
  bool FillRectanglesI(const Brush& brush, std::span<const gp::Rect> rectangles);
  bool FillPolygon(const Brush& brush, std::span<const gp::PointF> points, int fill_mode);
  bool FillPolygonI(const Brush& brush, std::span<const gp::Point> points, int fill_mode);
  bool FillEllipse(const Brush& brush, float x, float y, float width, float height);
  bool FillEllipseI(const Brush& brush, int x, int y, int width, int height);
  bool FillPie(const Brush& brush, float x, float y, float width, float height, float start, float sweep);
  bool FillPieI(const Brush& brush, int x, int y, int width, int height, float start, float sweep);
  bool FillPath(const Brush& brush, const GraphicsPath& path);
  bool FillClosedCurve(const Brush& brush, std::span<const gp::PointF> points);
  bool FillClosedCurve2(const Brush& brush, std::span<const gp::PointF> points, float tension, int fill_mode);
  bool FillClosedCurveI(const Brush& brush, std::span<const gp::Point> points);
  bool FillClosedCurve2I(const Brush& brush, std::span<const gp::Point> points, float tension, int fill_mode);
  bool FillRegion(const Brush& brush, const Region& region);
  // A GBK text, laid out in `layout`. A format that holds no native format lays the text out
  // with GDI+'s defaults.
  bool DrawString(const char* text, const Font& font, const Brush& brush, const gp::RectF& layout,
                  const StringFormat& format);
  bool DrawStringW(const wchar_t* text, const Font& font, const Brush& brush, const gp::RectF& layout,
                   const StringFormat& format);
  bool MeasureString(const char* text, const Font& font, const gp::RectF& layout, const StringFormat& format,
                     gp::RectF& bounds) const;
  bool MeasureStringW(const wchar_t* text, const Font& font, const gp::RectF& layout, const StringFormat& format,
                      gp::RectF& bounds) const;
  // One region per measurable character range of the format.
  bool MeasureCharacterRanges(const char* text, const Font& font, const gp::RectF& layout,
                              const StringFormat& format, std::vector<Region>& regions) const;
  bool MeasureCharacterRangesW(const wchar_t* text, const Font& font, const gp::RectF& layout,
                               const StringFormat& format, std::vector<Region>& regions) const;
  bool DrawDriverString(const char* text, const Font& font, const Brush& brush,
                        std::span<const gp::PointF> positions, int flags, const Matrix* matrix);
  bool DrawDriverStringW(const wchar_t* text, const Font& font, const Brush& brush,
                         std::span<const gp::PointF> positions, int flags, const Matrix* matrix);
  // The picture at its own size with its top-left corner at (x, y).
  bool DrawImage(const Picture& picture, float x, float y);
  bool DrawImageI(const Picture& picture, int x, int y);
  bool DrawCachedBitmap(const NativeObject& cached_bitmap, float x, float y);
  // The whole picture scaled into the rectangle; source unit pixel unless given.
  bool DrawImageRect(const Picture& picture, float x, float y, float width, float height,
                     std::optional<int> source_unit = std::nullopt);
  bool DrawImageRectI(const Picture& picture, int x, int y, int width, int height,
                      std::optional<int> source_unit = std::nullopt);
  bool DrawImagePoints(const Picture& picture, std::span<const gp::PointF> points);
  bool DrawImagePointsI(const Picture& picture, std::span<const gp::Point> points);
  bool DrawImagePointRect(const Picture& picture, float x, float y, float source_x, float source_y,
                          float source_width, float source_height, int source_unit);
  bool DrawImagePointRectI(const Picture& picture, int x, int y, int source_x, int source_y, int source_width,
                           int source_height, int source_unit);
  bool DrawImageRectRect(const Picture& picture, const gp::RectF& destination, const gp::RectF& source,
                         int source_unit, const NativeObject* image_attributes = nullptr);
  bool DrawImageRectRectI(const Picture& picture, const gp::Rect& destination, const gp::Rect& source,
                          int source_unit, const NativeObject* image_attributes = nullptr);
  bool DrawImagePointsRect(const Picture& picture, std::span<const gp::PointF> points, const gp::RectF& source,
                           int source_unit, const NativeObject* image_attributes = nullptr);
  bool DrawImagePointsRectI(const Picture& picture, std::span<const gp::Point> points, const gp::Rect& source,
                            int source_unit, const NativeObject* image_attributes = nullptr);

  using MetafileCallback = gp::EnumerateMetafileProc;
  bool EnumerateMetafileDestPoint(const NativeObject& metafile, const gp::PointF& destination,
                                  MetafileCallback callback, void* data, const NativeObject* attributes = nullptr);
  bool EnumerateMetafileDestPointI(const NativeObject& metafile, const gp::Point& destination,
                                   MetafileCallback callback, void* data, const NativeObject* attributes = nullptr);
  bool EnumerateMetafileDestPoints(const NativeObject& metafile, std::span<const gp::PointF> destination,
                                   MetafileCallback callback, void* data, const NativeObject* attributes = nullptr);
  bool EnumerateMetafileDestPointsI(const NativeObject& metafile, std::span<const gp::Point> destination,
                                    MetafileCallback callback, void* data, const NativeObject* attributes = nullptr);
  bool EnumerateMetafileDestRect(const NativeObject& metafile, const gp::RectF& destination,
                                 MetafileCallback callback, void* data, const NativeObject* attributes = nullptr);
  bool EnumerateMetafileDestRectI(const NativeObject& metafile, const gp::Rect& destination,
                                  MetafileCallback callback, void* data, const NativeObject* attributes = nullptr);
  bool EnumerateMetafileSrcRectDestPoint(const NativeObject& metafile, const gp::PointF& destination,
                                         const gp::RectF& source, int source_unit, MetafileCallback callback,
                                         void* data, const NativeObject* attributes = nullptr);
  bool EnumerateMetafileSrcRectDestPointI(const NativeObject& metafile, const gp::Point& destination,
                                          const gp::Rect& source, int source_unit, MetafileCallback callback,
                                          void* data, const NativeObject* attributes = nullptr);
  bool EnumerateMetafileSrcRectDestPoints(const NativeObject& metafile, std::span<const gp::PointF> destination,
                                          const gp::RectF& source, int source_unit, MetafileCallback callback,
                                          void* data, const NativeObject* attributes = nullptr);
  bool EnumerateMetafileSrcRectDestPointsI(const NativeObject& metafile, std::span<const gp::Point> destination,
                                           const gp::Rect& source, int source_unit, MetafileCallback callback,
                                           void* data, const NativeObject* attributes = nullptr);
  bool EnumerateMetafileSrcRectDestRect(const NativeObject& metafile, const gp::RectF& destination,
                                        const gp::RectF& source, int source_unit, MetafileCallback callback,
                                        void* data, const NativeObject* attributes = nullptr);
  bool EnumerateMetafileSrcRectDestRectI(const NativeObject& metafile, const gp::Rect& destination,
                                         const gp::Rect& source, int source_unit, MetafileCallback callback,
                                         void* data, const NativeObject* attributes = nullptr);

  bool SetClipGraphics(const DrawingSurface& source, int combine_mode);
  bool SetClipPath(const GraphicsPath& path, int combine_mode);
  bool SetClipRect(float x, float y, float width, float height, int combine_mode);
  bool SetClipRectI(int x, int y, int width, int height, int combine_mode);
  bool SetClipRegion(const Region& region, int combine_mode);
  bool SetClipHrgn(HRGN region, int combine_mode);
  bool ResetClip();
  bool TranslateClip(float dx, float dy);
  bool TranslateClipI(int dx, int dy);
  // `region` receives a new region holding the clip.
  bool GetClip(Region& region) const;
  bool GetClipBounds(gp::RectF& bounds) const;
  bool GetClipBoundsI(gp::Rect& bounds) const;
  bool GetVisibleClipBounds(gp::RectF& bounds) const;
  bool GetVisibleClipBoundsI(gp::Rect& bounds) const;
  bool IsClipEmpty() const;
  bool IsVisibleClipEmpty() const;
  bool IsVisiblePoint(float x, float y) const;
  bool IsVisiblePointI(int x, int y) const;
  bool IsVisibleRect(float x, float y, float width, float height) const;
  bool IsVisibleRectI(int x, int y, int width, int height) const;
  // The saved state; 0 on failure.
  UINT Save();
  bool Restore(UINT state);
  UINT BeginContainer(const gp::RectF& destination, const gp::RectF& source, int unit);
  UINT BeginContainerI(const gp::Rect& destination, const gp::Rect& source, int unit);
  UINT BeginContainer2();
  bool EndContainer(UINT container);
  bool AddMetafileComment(const Bytes& data);

 protected:
  void StoreNative(void* h) override { graphics_ = static_cast<gp::GpGraphics*>(h); }

 private:
  gp::GpGraphics* graphics_ = nullptr;
};

}  // namespace tambrel
