// The picture box's display path on a real window of the virtual display: a decoded picture
// scaled into an off-screen bitmap, the bitmap drawn into the window, the screen read back.
#include <gtest/gtest.h>
#include <windows.h>

#include "picture/bitmap_picture.h"
#include "picture/drawing_surface.h"
#include "picture/picture.h"
#include "picture/solid_brush.h"
#include "tests/picture/picture_fixtures.h"

using namespace tambrel;
using namespace tambrel::test;

namespace {

testing::Environment* const gdiplus_env = testing::AddGlobalTestEnvironment(new GdiPlusEnvironment);

// A plain top-level window that paints nothing itself (no background brush), destroyed with
// the object.
class TestWindow {
 public:
  TestWindow(int x, int y, int width, int height) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "TambrelPictureTestWindow";
    RegisterClassA(&wc);
    hwnd_ = CreateWindowExA(WS_EX_TOPMOST, wc.lpszClassName, "picture", WS_POPUP | WS_VISIBLE, x, y, width, height,
                            nullptr, nullptr, wc.hInstance, nullptr);
    if (hwnd_) UpdateWindow(hwnd_);
    pump();
  }
  ~TestWindow() {
    if (hwnd_) DestroyWindow(hwnd_);
  }
  HWND get() const { return hwnd_; }
  static void pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  }

 private:
  HWND hwnd_ = nullptr;
};

// The real colour on the screen at a client point of the window, copied out of the screen
// DC with BitBlt (the way that reads what the display really shows).
COLORREF screen_pixel(HWND hwnd, int x, int y) {
  POINT p{x, y};
  ClientToScreen(hwnd, &p);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = 1;
  info.bmiHeader.biHeight = 1;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, dib);
  BitBlt(memory, 0, 0, 1, 1, screen, p.x, p.y, SRCCOPY);
  GdiFlush();
  const uint32_t bgr = *static_cast<uint32_t*>(bits);
  SelectObject(memory, old);
  DeleteObject(dib);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return RGB((bgr >> 16) & 0xFF, (bgr >> 8) & 0xFF, bgr & 0xFF);
}

TEST(WindowDrawing, ScaledPictureReachesTheScreen) {
  TestWindow window(100, 100, 160, 120);
  ASSERT_NE(window.get(), nullptr) << "no window: is there a display?";

  // A 20 x 10 picture: left half blue, right half green; stretched, each fills half the box.
  BitmapPicture source;
  ASSERT_TRUE(source.Create(20, 10));
  {
    DrawingSurface painter;
    ASSERT_TRUE(painter.FromImage(source));
    SolidBrush brush;
    ASSERT_TRUE(brush.Create(ToArgb(0xFF0000)));
    ASSERT_TRUE(painter.FillRectangle(brush, 0, 0, 10, 10));
    ASSERT_TRUE(brush.SetColor(ToArgb(0x00FF00)));
    ASSERT_TRUE(painter.FillRectangle(brush, 10, 0, 10, 10));
  }
  const Bytes png = source.SaveToBytes(kPngFormat);
  ASSERT_FALSE(png.empty());

  Picture picture;
  ASSERT_TRUE(picture.LoadFromBytes(png));
  BitmapPicture box;
  ASSERT_TRUE(box.Create(160, 120, kPixelFormat32bppRGB));
  {
    DrawingSurface offscreen;
    ASSERT_TRUE(offscreen.FromImage(box));
    ASSERT_TRUE(offscreen.DrawImageRect(picture, 0, 0, 160, 120));
    ASSERT_TRUE(offscreen.Dispose());
  }
  ASSERT_TRUE(picture.Dispose());

  struct Probe {
    int x, y;
    COLORREF expected;
  };
  const Probe probes[] = {{20, 20, RGB(0, 0, 255)},   {60, 90, RGB(0, 0, 255)},
                          {100, 20, RGB(0, 255, 0)},  {130, 80, RGB(0, 255, 0)}};
  for (const Probe& p : probes) {
    const ARGB c = box.GetPixel(p.x, p.y);
    ASSERT_EQ(RGB((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF), p.expected) << "off-screen " << p.x << "," << p.y;
  }
  auto all_shown = [&] {
    for (const Probe& p : probes)
      if (screen_pixel(window.get(), p.x, p.y) != p.expected) return false;
    return true;
  };
  // The X server maps the window asynchronously: draw until the drawing is seen (at most
  // about five seconds), as a window would on each WM_PAINT.
  for (int attempt = 0; attempt < 100 && !all_shown(); ++attempt) {
    DrawingSurface onscreen;
    ASSERT_TRUE(onscreen.FromWindow(window.get()));
    ASSERT_TRUE(onscreen.DrawImage(box, 0, 0));
    ASSERT_EQ(onscreen.Flush(Gdiplus::FlushIntentionSync), Gdiplus::Ok);
    ASSERT_TRUE(onscreen.Dispose());
    GdiFlush();
    TestWindow::pump();
    Sleep(50);
  }
  for (const Probe& p : probes) {
    SCOPED_TRACE(testing::Message() << p.x << "," << p.y);
    EXPECT_EQ(screen_pixel(window.get(), p.x, p.y), p.expected);
  }
}

}  // namespace
