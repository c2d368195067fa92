// The real Tambrel.exe on a screen of another resolution: ctest runs this program in Wine
// prefixes whose LogPixels is 144, 192 and 288 (150, 200 and 300 %). The window's client area
// is the 96-DPI design's scaled and every control sits at its scaled design place and size,
// inside its parent; the gallery's rows and pictures and the preview grow with it (the rows up
// to the list box's 255-pixel limit, app/row_layout.h), and each thumbnail is drawn 1:1 on whole
// pixels. A screenshot of the window is written for a person to look at (TAMBREL_SCREENSHOT).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

// GDI+ needs the COM and property declarations that WIN32_LEAN_AND_MEAN leaves out.
#include <objidl.h>
#include <propidl.h>
#include <gdiplus.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <string>

#include <shlwapi.h>

#include "app/catalog.h"
#include "app/row_layout.h"
#include "tests/e2e/driver.h"

using namespace tambrel;
using namespace tambrel::e2e;

namespace {

int screen_dpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  return dpi;
}

// The outer size of a window of this style around a client area, at a DPI.
SIZE outer_for(HWND hwnd, SIZE client, int dpi) {
  using AdjustForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
  const auto adjust = reinterpret_cast<AdjustForDpiFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi")));
  RECT r{0, 0, client.cx, client.cy};
  if (adjust) {
    adjust(&r, static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_STYLE)), FALSE,
           static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_EXSTYLE)), static_cast<UINT>(dpi));
  }
  return SIZE{r.right - r.left, r.bottom - r.top};
}

// Writes the screen's pixels of a window (frame included) to a PNG file.
bool save_window_png(HWND hwnd, const std::wstring& file) {
  namespace gp = Gdiplus;
  static const bool started = [] {
    ULONG_PTR token = 0;
    gp::GdiplusStartupInput input;
    return gp::GdiplusStartup(&token, &input, nullptr) == gp::Ok;
  }();
  if (!started) return false;
  RECT r{};
  GetWindowRect(hwnd, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  SelectObject(memory, old);
  bool ok = false;
  {
    gp::Bitmap picture(bitmap, nullptr);
    UINT count = 0, size = 0;
    gp::GetImageEncodersSize(&count, &size);
    std::string buffer(size, '\0');
    auto* codecs = reinterpret_cast<gp::ImageCodecInfo*>(buffer.data());
    gp::GetImageEncoders(count, size, codecs);
    for (UINT i = 0; i < count; ++i) {
      if (std::wstring(codecs[i].MimeType) == L"image/png") {
        ok = picture.Save(file.c_str(), &codecs[i].Clsid, nullptr) == gp::Ok;
      }
    }
  }
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return ok;
}

// How many of a thousand pixels of a row's thumbnail on the screen differ from the thumbnail the tool makes at
// this DPI (the cached picture drawn onto a white square of the thumbnail's size), placed where
// the row layout puts it. A picture placed between pixels (7.5 pixels at 125 %) is resampled on
// the way and differs along every edge. -1 where the picture cannot be read.
int thumbnail_mismatch(HWND list, int dpi, int row, const std::string& file_bytes) {
  namespace gp = Gdiplus;
  IStream* stream = SHCreateMemStream(reinterpret_cast<const BYTE*>(file_bytes.data()), static_cast<UINT>(file_bytes.size()));
  if (!stream) return -1;
  gp::Bitmap source(stream);
  stream->Release();
  if (source.GetLastStatus() != gp::Ok) return -1;
  const app::ThumbnailPlace place = app::thumbnailPlace(dpi);
  gp::Bitmap made(place.side, place.side, PixelFormat32bppRGB);
  {
    gp::Graphics g(&made);
    gp::SolidBrush white(gp::Color(255, 255, 255, 255));
    g.FillRectangle(&white, 0.0f, 0.0f, static_cast<float>(place.side), static_cast<float>(place.side));
    g.DrawImage(&source, gp::RectF(0, 0, static_cast<float>(place.side), static_cast<float>(place.side)), 0, 0,
                static_cast<float>(source.GetWidth()), static_cast<float>(source.GetHeight()), gp::UnitPixel);
  }
  const int top = app::rowHeight(app::kNavigationRowHeight, dpi) + (row - 1) * app::rowHeight(app::kTemplateRowHeight, dpi);
  ScreenShot shot(list, RECT{place.x, top + place.y, place.x + place.side, top + place.y + place.side});
  // The row's round frame (radius 25 from 5, 5) crosses the thumbnail's corners: those are
  // left out, the rest compared.
  const int corner = static_cast<int>(26 * app::rowScale(dpi)) + 2;
  auto in_corner = [&](int v) { return v < corner || v >= place.side - corner; };
  int differ = 0, compared = 0;
  for (int y = 0; y < place.side; ++y) {
    for (int x = 0; x < place.side; ++x) {
      if (in_corner(x) && in_corner(y)) continue;
      ++compared;
      gp::Color c;
      made.GetPixel(x, y, &c);
      const Rgb on_screen = shot.at(x, y);
      if (std::abs(on_screen.r - c.GetR()) > 3 || std::abs(on_screen.g - c.GetG()) > 3 || std::abs(on_screen.b - c.GetB()) > 3) {
        ++differ;
      }
    }
  }
  return compared > 0 ? differ * 1000 / compared : -1;
}

struct Design {
  int id;
  int parent_id;  // 0: the main window
  int x, y, width, height;  // at 96 DPI; height -1: as the system makes it
};

// The client area is the design's (594 x 480 with the frame at 96 DPI) scaled to dpi, and every
// control sits at its scaled design place, inside its parent.
void expect_layout(const Tool& tool, int dpi) {
  SCOPED_TRACE(testing::Message() << "at " << dpi << " DPI");
  auto S = [&](int design) { return MulDiv(design, dpi, 96); };
  const SIZE frame96 = outer_for(tool.main(), SIZE{0, 0}, 96);
  const SIZE design_client{594 - frame96.cx, 480 - frame96.cy};
  RECT client{};
  GetClientRect(tool.main(), &client);
  std::printf("client area %ld x %ld (design %ld x %ld)\n", client.right, client.bottom, design_client.cx,
              design_client.cy);
  EXPECT_EQ(client.right, S(design_client.cx));
  EXPECT_EQ(client.bottom, S(design_client.cy));

  // Every control at its scaled design place, inside its parent.
  const int gallery_height = 2 * app::rowHeight(app::kNavigationRowHeight, dpi) +
                             4 * app::rowHeight(app::kTemplateRowHeight, dpi);
  const Design controls[] = {
      {kGalleryId, 0, 0, 0, 280, -1},     {kSelectorId, 0, 230, 420, 50, -1},
      {kPreviewId, 0, 285, 0, -1, -1},    {kGroupId, 0, 285, 300, 300, 140},
      {kTextLabelId, kGroupId, 12, 14, 36, 20}, {kSizeLabelId, kGroupId, 12, 38, 36, 20},
      {kTextBoxId, kGroupId, 54, 14, 80, 20},   {kSizeBoxId, kGroupId, 54, 38, 80, 20},
      {kGenerateId, kGroupId, 54, 70, 80, 24},  {kSaveId, kGroupId, 54, 98, 80, 24},
      {kLinkId, kGroupId, 180, 118, 100, 24},
  };
  for (const Design& c : controls) {
    SCOPED_TRACE(c.id);
    HWND hwnd = tool.control(c.id);
    ASSERT_NE(hwnd, nullptr);
    const RECT r = rect_in_parent(hwnd);
    EXPECT_EQ(r.left, S(c.x));
    EXPECT_EQ(r.top, S(c.y));
    if (c.width >= 0) { EXPECT_EQ(r.right, S(c.x) + S(c.width)); }
    if (c.height >= 0) { EXPECT_EQ(r.bottom, S(c.y) + S(c.height)); }
    if (c.id == kGalleryId) { EXPECT_EQ(r.bottom, gallery_height); }
    RECT parent{};
    GetClientRect(c.parent_id ? tool.control(c.parent_id) : tool.main(), &parent);
    EXPECT_LE(r.right, parent.right) << "cut off on the right";
    // The link's window reaches 2 pixels below the group in the design itself; its one line of
    // text ends well above that.
    EXPECT_LE(r.bottom, parent.bottom + (c.id == kLinkId ? S(2) : 0)) << "cut off at the bottom";
  }
  // The texts fit their controls: the button font grew with the screen.
  for (int id : {kGenerateId, kSaveId, kTextLabelId}) {
    SCOPED_TRACE(id);
    HWND hwnd = tool.control(id);
    RECT r{};
    GetClientRect(hwnd, &r);
    int ink = 0;
    EXPECT_TRUE(wait_until(
        [&] {
          ScreenShot shot(hwnd, r);
          ink = shot.count([](Rgb c) { return c.r < 160 && c.g < 160 && c.b < 160; }, r);
          return ink >= S(16);
        },
        seconds(5)))
        << "little or no text drawn: " << ink;
  }
}

TEST(AtAnotherDpi, ClientAreaControlsGalleryAndPreviewScaleFromTheDesign) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  SetProcessDPIAware();  // this program reads real pixels too
  const std::string tool_path = environment("TAMBREL_TOOL");
  const std::string stampd = environment("TAMBREL_STAMPD");
  if (tool_path.empty() || stampd.empty()) GTEST_SKIP() << "TAMBREL_TOOL or TAMBREL_STAMPD is not set";
  const int dpi = screen_dpi();
  std::printf("screen DPI of this prefix: %d\n", dpi);
  if (!environment("TAMBREL_EXPECT_DPI").empty()) {
    ASSERT_EQ(dpi, std::atoi(environment("TAMBREL_EXPECT_DPI").c_str())) << "the prefix is not at the DPI of this entry";
  }
  auto S = [&](int design) { return MulDiv(design, dpi, 96); };
  app::TemplateCatalog.redim(app::kTemplateCount);
  app::loadTemplateCatalog();

  TempFolder folder;
  StampService service(stampd, folder);
  ASSERT_TRUE(wait_until([] { return !port_accepts(kServicePort); }, seconds(60)));
  ASSERT_TRUE(service.start());
  move_pointer_away();
  Tool tool(tool_path, folder.make_subfolder("tool"));
  ASSERT_TRUE(tool.started()) << "no main window";
  ASSERT_TRUE(tool.wait_for_page()) << "the first page was not shown";

  expect_layout(tool, dpi);
  if (HasFailure()) return;

  // The gallery: row heights (never over the list box's limit), thumbnails 1:1 at their place,
  // titles drawn.
  HWND list = tool.list();
  const int navigation_height = app::rowHeight(app::kNavigationRowHeight, dpi);
  const int row_height = app::rowHeight(app::kTemplateRowHeight, dpi);
  const float row_scale = app::rowScale(dpi);
  auto R = [&](int design) { return static_cast<int>(design * row_scale + 0.5f); };
  EXPECT_EQ(SendMessageW(list, LB_GETITEMHEIGHT, 0, 0), navigation_height);
  EXPECT_EQ(SendMessageW(list, LB_GETITEMHEIGHT, 1, 0), row_height);
  EXPECT_LE(SendMessageW(list, LB_GETITEMHEIGHT, 1, 0), 255) << "Windows refuses taller rows";
  for (int row = 1; row <= 4; ++row) {
    SCOPED_TRACE(row);
    const int top = navigation_height + (row - 1) * row_height;
    const std::string cached = read_file(tool.cache_folder() + "\\" + app::TemplateCatalog[row + 1].thumbnailFile.c_str());
    int differ = -1;
    EXPECT_TRUE(wait_until([&] { return (differ = thumbnail_mismatch(list, dpi, row, cached)) >= 0 && differ <= 10; }, seconds(5)))
        << differ << " of 1000 pixels of the thumbnail differ from the picture drawn 1:1";
    ScreenShot title(list, RECT{R(100), top, R(270), top + R(28)});
    EXPECT_GE(title.count([](Rgb c) { return c.r < 120 && c.g < 120 && c.b < 120; },
                          RECT{0, 0, R(170), R(28)}),
              R(40))
        << "no title";
  }
  // The preview: the selected thumbnail at its size, scaled.
  const DecodedPicture selected(read_file(tool.cache_folder() + "\\" + app::TemplateCatalog[2].thumbnailFile.c_str()));
  ASSERT_TRUE(selected.ok());
  const RECT preview = rect_in_parent(tool.control(kPreviewId));
  EXPECT_EQ(preview.right - preview.left, S(std::min(selected.width(), 300)));
  EXPECT_EQ(preview.bottom - preview.top, S(std::min(selected.height(), 300)));

  // A move to a monitor of another DPI (the system's WM_DPICHANGED, here without a suggested
  // rectangle): laid out again for it, at 96 DPI exactly as the design, and back.
  // 120 and 168 DPI (125 and 175 %) put the thumbnail's design place between pixels.
  for (int moved_to : {96, 120, 168, dpi}) {
    DWORD_PTR ignored = 0;
    ASSERT_TRUE(SendMessageTimeoutW(tool.main(), WM_DPICHANGED, MAKEWPARAM(moved_to, moved_to), 0, SMTO_NORMAL,
                                    10000, &ignored));
    expect_layout(tool, moved_to);
    EXPECT_EQ(SendMessageW(list, LB_GETITEMHEIGHT, 1, 0), app::rowHeight(app::kTemplateRowHeight, moved_to));
    const std::string cached = read_file(tool.cache_folder() + "\\" + app::TemplateCatalog[2].thumbnailFile.c_str());
    int differ = -1;
    EXPECT_TRUE(wait_until([&] { return (differ = thumbnail_mismatch(list, moved_to, 1, cached)) >= 0 && differ <= 10; },
                           seconds(5)))
        << "at " << moved_to << " DPI " << differ << " of 1000 pixels of the thumbnail differ from the picture drawn 1:1";
  }

  const std::string shot_file = environment("TAMBREL_SCREENSHOT");
  if (!shot_file.empty()) {
    EXPECT_TRUE(save_window_png(tool.main(), std::wstring(shot_file.begin(), shot_file.end())))
        << "no screenshot written";
  }
  const std::optional<DWORD> code = tool.close();
  ASSERT_TRUE(code.has_value());
  EXPECT_EQ(*code, 0u);
}

}  // namespace
