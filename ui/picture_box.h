// The picture box: a child window of the framework class "EDrawBar" that holds its window
// device context for life, paints a background colour or picture, raises a redraw event inside
// BeginPaint/EndPaint with the update rectangle, and can keep a persistent surface (a memory
// bitmap that survives repaints and resizes, top-left anchored).
//
// Drawing operations draw into the current context and, when the persistent surface exists,
// into the surface as well. The pen, brush and font of the picture box are selected into a
// context when it is made current and the replaced objects are put back when it is released;
// the replaced objects are remembered per context of each picture box, so two picture boxes
// never restore each other's objects.
#pragma once

#include <vector>

#include "ui/window.h"

namespace tambrel::ui {

constexpr const char* kPictureBoxClass = "EDrawBar";

enum PictureMode : int { PICTURE_TOP_LEFT = 0, PICTURE_NONE = 1, PICTURE_STRETCHED = 2 };

class PictureBox : public Window {
 public:
  PictureBox();
  ~PictureBox() override;
  void Destroy() override;
  std::unique_ptr<Window> Copy() const override;

  intptr_t OnPaint(HWND hwnd) override;
  intptr_t OnEraseBackground(HWND hwnd, HDC dc) override;
  intptr_t OnSizeChanged(int width, int height) override;
  void ClassTeardown(HWND hwnd) override;
  void SetFont(HFONT font) override;
  HFONT GetFont() const override;

  // Contexts.
  void MakeCurrent(HDC dc);
  void MakeSurfaceCurrent(HDC dc);
  HDC CurrentDc() const { return current_.dc; }
  HDC SurfaceDc() const { return surface_.dc; }

  // Drawing (current context and surface).
  bool DrawPixel(int x, int y, COLORREF color);
  bool LineTo(int x, int y);
  bool Ellipse(int left, int top, int right, int bottom);
  bool Arc(int left, int top, int right, int bottom, int x1, int y1, int x2, int y2);
  bool Chord(int left, int top, int right, int bottom, int x1, int y1, int x2, int y2);
  bool Pie(int left, int top, int right, int bottom, int x1, int y1, int x2, int y2);
  bool Rectangle(int left, int top, int right, int bottom);
  bool GradientFill(int left, int top, int right, int bottom, COLORREF from, COLORREF to,
                    bool vertical = false);
  bool FillArea(int left, int top, int right, int bottom);
  bool RoundRect(int left, int top, int right, int bottom, int ellipse_width, int ellipse_height);
  bool Polygon(const std::vector<POINT>& points);
  bool MoveTo(int x, int y);
  POINT PenPosition() const;
  bool TextOutAt(const char* text);
  bool TextLines(const char* text);  // "\r\n"-separated lines, advancing by the line height
  int DrawTextIn(const char* text, const RECT& area, UINT format);
  bool TextList(const std::vector<const char*>& texts);
  int TextWidth(const char* text) const;
  int TextHeight(const char* text) const;
  bool DrawBitmap(HBITMAP bitmap, int x, int y, OptionalArg width = {}, OptionalArg height = {});
  static int BitmapWidth(HBITMAP bitmap);
  static int BitmapHeight(HBITMAP bitmap);
  bool SetBrush(int style, COLORREF color, int hatch = 0);
  HBRUSH CurrentBrush() const { return brush_.get(); }
  HPEN CurrentPen() const { return pen_.get(); }
  bool SetPen(int style, int width, COLORREF color);
  intptr_t TextColor(OptionalArg color = {});
  intptr_t TextBackground(OptionalArg color = {});
  intptr_t MapMode(OptionalArg mode = {});
  // Converts between device pixels and the logical units of the map mode (kinds 1..4).
  int ConvertUnits(int number, int kind) const;
  intptr_t RasterOperation(OptionalArg rop = {});
  void PaintBackground(HDC dc, const RECT& area);
  bool CreateSurface();
  // 32-bit top-down pixels of a bitmap.
  std::vector<uint32_t> BitmapPixels(HBITMAP bitmap) const;
  intptr_t PersistentSurface(OptionalArg flag = {});
  bool InvertArea(int left, int top, int right, int bottom);
  bool ClipTo(OptionalArg left = {}, OptionalArg top = {}, OptionalArg right = {},
              OptionalArg bottom = {});
  COLORREF PixelAt(int x, int y) const;
  // A new bitmap (owned by the caller) with the client area, or the given size of it.
  HBITMAP CopyClient(OptionalArg width = {}, OptionalArg height = {}) const;
  int ClientWidth() const;
  int ClientHeight() const;
  intptr_t BackgroundColor(OptionalArg color = {});
  bool BackgroundPictureFromBitmap(HBITMAP bitmap, int mode);
  // Decodes a picture file (BMP, JPEG, GIF, ICO) into the background picture.
  bool BackgroundPictureFromBytes(const Bytes& picture, int mode);
  EventRoutine BindRedraw(EventRoutine r) { return redraw_ = r; }

  // x, y, style and extended style by value; 200 × 100 by default.
  bool Create(HWND parent, OptionalArg x = {}, OptionalArg y = {}, OptionalArg width = {},
              OptionalArg height = {}, OptionalArg style = {}, OptionalArg ex_style = {});
  bool AttachItem(HWND dialog, int item_id);

  HDC WindowDcHandle() const { return window_dc_.get(); }
  HDC SurfaceMemoryDc() const { return surface_memory_.get(); }

 private:
  struct Selection {
    HDC dc = nullptr;
    HGDIOBJ old_pen = nullptr, old_brush = nullptr, old_font = nullptr;
  };
  void Select(Selection& s, HDC dc);
  void Release(Selection& s);
  template <class F>
  bool ForEachContext(F draw);
  int Y(int y) const { return map_mode_ == MM_TEXT ? y : -y; }
  void DestroySurface();
  bool SetUp();

  Selection current_;
  Selection surface_;
  OwnedBrush brush_;
  OwnedPen pen_;
  COLORREF text_color_ = 0;
  COLORREF text_background_ = static_cast<COLORREF>(-1);
  int map_mode_ = MM_TEXT;
  int rop_ = 0;
  WindowDc window_dc_;
  OwnedMemoryDc surface_memory_;
  OwnedBitmap surface_bitmap_;
  HGDIOBJ surface_old_bitmap_ = nullptr;
  bool persistent_ = false;
  COLORREF background_color_ = 0;
  OwnedBrush background_brush_;
  OwnedBitmap background_picture_;
  int background_mode_ = PICTURE_TOP_LEFT;
  EventRoutine redraw_;
};

}  // namespace tambrel::ui
