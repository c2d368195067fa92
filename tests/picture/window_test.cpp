// The picture box's display path on a real window of the virtual display: a decoded picture
// scaled into an off-screen bitmap, the bitmap drawn into the window, the screen read back.
#include <gtest/gtest.h>
#include <windows.h>

#include "picture/bitmap_picture.h"
#include "picture/drawing_surface.h"
#include "picture/picture.h"
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

// The real colour on the screen at a client point of the window.
COLORREF screen_pixel(HWND hwnd, int x, int y) {
  POINT p{x, y};
  ClientToScreen(hwnd, &p);
  HDC screen = GetDC(nullptr);
  COLORREF c = GetPixel(screen, p.x, p.y);
  ReleaseDC(nullptr, screen);
  return c;
}

TEST(WindowDrawing, ScaledPictureReachesTheScreen) {
  TestWindow window(100, 100, 160, 120);
  ASSERT_NE(window.get(), nullptr) << "no window: is there a display?";

  // A 2 x 1 picture: left pixel blue, right pixel green; stretched, each fills half the box.
  BitmapPicture source;
  ASSERT_TRUE(source.Create(2, 1));
  ASSERT_TRUE(source.SetPixel(0, 0, ToArgb(0xFF0000)));
  ASSERT_TRUE(source.SetPixel(1, 0, ToArgb(0x00FF00)));
  const Bytes png = source.SaveToBytes(kPngFormat);
  ASSERT_FALSE(png.empty());

  Picture picture;
  ASSERT_TRUE(picture.LoadFromBytes(png));
  BitmapPicture box;
  ASSERT_TRUE(box.Create(160, 120, kPixelFormat32bppRGB));
  {
    DrawingSurface offscreen;
    ASSERT_TRUE(offscreen.FromImage(box));
    ASSERT_TRUE(offscreen.SetInterpolationMode(Gdiplus::InterpolationModeNearestNeighbor));
    ASSERT_TRUE(offscreen.DrawImageRect(picture, 0, 0, 160, 120));
    ASSERT_TRUE(offscreen.Dispose());
  }
  ASSERT_TRUE(picture.Dispose());

  DrawingSurface onscreen;
  ASSERT_TRUE(onscreen.FromWindow(window.get()));
  ASSERT_TRUE(onscreen.DrawImage(box, 0, 0));
  ASSERT_EQ(onscreen.Flush(Gdiplus::FlushIntentionSync), Gdiplus::Ok);
  ASSERT_TRUE(onscreen.Dispose());
  GdiFlush();

  struct Probe {
    int x, y;
    COLORREF expected;
  };
  const Probe probes[] = {{20, 20, RGB(0, 0, 255)},   {60, 100, RGB(0, 0, 255)},
                          {100, 20, RGB(0, 255, 0)},  {150, 110, RGB(0, 255, 0)}};
  for (const Probe& p : probes) {
    SCOPED_TRACE(testing::Message() << p.x << "," << p.y);
    EXPECT_EQ(screen_pixel(window.get(), p.x, p.y), p.expected);
  }
}

}  // namespace
