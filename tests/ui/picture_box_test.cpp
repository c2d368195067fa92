// The picture box on the virtual display, checked by pixels read back from the window:
// background only, redraw with the update rectangle after the background, persistent surface
// kept across repaint, resize and background changes.
#include <gtest/gtest.h>
#include <windows.h>

#include "tests/ui/ui_test_support.h"
#include "ui/picture_box.h"

using namespace tambrel::ui;
using namespace tambrel::ui::test;

namespace {

constexpr COLORREF kBackground = RGB(20, 40, 200);
constexpr COLORREF kInk = RGB(250, 120, 0);

class PictureBoxTest : public testing::Test {
 protected:
  void SetUp() override {
    reset_calls();
    ASSERT_TRUE(host.Create(500, 400));
    ASSERT_TRUE(box.Create(host.hwnd(), 10, 10, 200, 150));
    box.BackgroundColor(kBackground);
    UpdateWindow(host.hwnd());
    UpdateWindow(box.Handle());
  }
  COLORREF pixel(int x, int y) const { return client_pixel(box.Handle(), x, y); }
  HostWindow host;
  PictureBox box;
};

TEST_F(PictureBoxTest, CreatesAnEDrawBarChildWithAHeldContext) {
  char cls[32];
  GetClassNameA(box.Handle(), cls, sizeof(cls));
  EXPECT_STREQ(cls, "EDrawBar");
  EXPECT_EQ(std::string(box.GetText().c_str()), "EDrawBar");
  EXPECT_NE(box.WindowDcHandle(), nullptr);
  EXPECT_EQ(box.CurrentDc(), box.WindowDcHandle());
  EXPECT_EQ(box.ClientWidth(), 200);
  EXPECT_EQ(box.ClientHeight(), 150);
  EXPECT_EQ(box.MapMode(), MM_TEXT);
  PictureBox sized;
  ASSERT_TRUE(sized.Create(host.hwnd()));
  EXPECT_EQ(sized.Width(), 200);
  EXPECT_EQ(sized.Height(), 100);
}

TEST_F(PictureBoxTest, WithoutRedrawOrSurfaceOnlyTheBackgroundShows) {
  for (POINT p : {POINT{0, 0}, POINT{100, 75}, POINT{199, 149}}) {
    EXPECT_EQ(pixel(p.x, p.y), kBackground) << p.x << "," << p.y;
  }
}

PictureBox* g_box = nullptr;
COLORREF g_seen_before_drawing = 0;

intptr_t redraw(intptr_t left, intptr_t top, intptr_t right, intptr_t bottom) {
  calls().push_back({"redraw", {left, top, right, bottom}});
  // The background must already be there when the routine runs.
  g_seen_before_drawing = GetPixel(g_box->CurrentDc(), static_cast<int>(left) + 1, static_cast<int>(top) + 1);
  g_box->SetBrush(BS_SOLID, kInk);
  g_box->FillArea(static_cast<int>(left), static_cast<int>(top), static_cast<int>(right),
                  static_cast<int>(bottom));
  return 0;
}

TEST_F(PictureBoxTest, RedrawGetsTheUpdateRectangleAfterTheBackground) {
  g_box = &box;
  box.BindRedraw(&redraw);
  box.Invalidate();
  UpdateWindow(box.Handle());
  ASSERT_EQ(calls().size(), 1u);
  EXPECT_EQ(calls()[0].args, (std::vector<intptr_t>{0, 0, 200, 150}));
  EXPECT_EQ(g_seen_before_drawing, kBackground);
  EXPECT_EQ(box.CurrentDc(), nullptr) << "the paint context stays current after the redraw";

  // Only part of the window invalid: the routine sees that part, the rest keeps its pixels.
  box.BackgroundColor(kBackground);  // invalidates all; repaint it all first
  UpdateWindow(box.Handle());
  reset_calls();
  RECT part{20, 30, 60, 90};
  InvalidateRect(box.Handle(), &part, TRUE);
  UpdateWindow(box.Handle());
  ASSERT_EQ(calls().size(), 1u);
  EXPECT_EQ(calls()[0].args, (std::vector<intptr_t>{20, 30, 60, 90}));
  EXPECT_EQ(g_seen_before_drawing, kBackground);
  EXPECT_EQ(pixel(40, 50), kInk);
  EXPECT_EQ(pixel(100, 100), kInk) << "the first full redraw's ink is gone";
  g_box = nullptr;
}

TEST_F(PictureBoxTest, PersistentSurfaceSurvivesRepaintAndResize) {
  ASSERT_EQ(box.PersistentSurface(1), 1);
  box.SetBrush(BS_SOLID, kInk);
  ASSERT_TRUE(box.FillArea(0, 0, 50, 40));
  // A full repaint comes from the surface.
  box.Invalidate();
  UpdateWindow(box.Handle());
  EXPECT_EQ(pixel(10, 10), kInk);
  EXPECT_EQ(pixel(100, 100), kBackground);

  // Larger: the drawing stays at the top-left, new areas show the background.
  box.Move({}, {}, 300, 220);
  UpdateWindow(box.Handle());
  EXPECT_EQ(box.ClientWidth(), 300);
  EXPECT_EQ(pixel(10, 10), kInk);
  EXPECT_EQ(pixel(49, 39), kInk);
  EXPECT_EQ(pixel(250, 200), kBackground);
  EXPECT_EQ(pixel(60, 10), kBackground);

  // A new background colour keeps everything drawn so far, old background included.
  box.BackgroundColor(RGB(0, 200, 0));
  UpdateWindow(box.Handle());
  EXPECT_EQ(pixel(10, 10), kInk);
  EXPECT_EQ(pixel(250, 200), kBackground);

  // Off: the background is painted again.
  box.PersistentSurface(0);
  box.Invalidate();
  UpdateWindow(box.Handle());
  EXPECT_EQ(pixel(10, 10), RGB(0, 200, 0));
}

TEST_F(PictureBoxTest, DrawingOutsideTheRedrawReachesTheSurfaceOnly) {
  box.PersistentSurface(1);
  g_box = &box;
  box.BindRedraw(&redraw);  // not called while the surface is on
  box.MakeCurrent(nullptr);
  box.SetBrush(BS_SOLID, kInk);
  box.FillArea(100, 100, 120, 120);
  EXPECT_EQ(pixel(110, 110), kBackground) << "drawn on screen without a current context";
  box.Invalidate();
  UpdateWindow(box.Handle());
  EXPECT_EQ(pixel(110, 110), kInk);
  EXPECT_TRUE(calls().empty());
  g_box = nullptr;
}

TEST_F(PictureBoxTest, TeardownReleasesItsContextsAndObjects) {
  box.PersistentSurface(1);
  HWND h = box.Handle();
  DestroyWindow(h);
  EXPECT_EQ(box.Handle(), nullptr);
  EXPECT_EQ(box.WindowDcHandle(), nullptr);
  EXPECT_EQ(box.SurfaceMemoryDc(), nullptr);
  EXPECT_EQ(box.CurrentDc(), nullptr);
  EXPECT_FALSE(box.DrawPixel(1, 1, kInk)) << "drawing without any context";
  ASSERT_TRUE(box.Create(host.hwnd(), 10, 10, 100, 100));
  EXPECT_NE(box.WindowDcHandle(), nullptr);
}

}  // namespace
