// Surfaces, brushes, pens, paths, fonts and formats against the real GDI+, ending with the
// gallery row recipe drawn into a bitmap and checked by its pixels.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <memory>
#include <vector>

#include "picture/argb.h"
#include "picture/bitmap_picture.h"
#include "picture/drawing_surface.h"
#include "picture/font.h"
#include "picture/font_collection.h"
#include "picture/font_family.h"
#include "picture/graphics_path.h"
#include "picture/linear_gradient_brush.h"
#include "picture/pen.h"
#include "picture/solid_brush.h"
#include "picture/string_format.h"
#include "tests/picture/picture_fixtures.h"

using namespace tambrel;
using namespace tambrel::test;

namespace {

TEST(ToArgbTest, Table) {
  struct Case {
    uint32_t colour;
    std::optional<int32_t> alpha;
    uint32_t expected;
  };
  const Case cases[] = {
      {0xFFFFFF, 255, 0xFFFFFFFF}, {0xFF, 255, 0xFFFF0000},        {0xFF8800, 70, 0x460088FF},
      {0xFF, std::nullopt, 0xFFFF0000}, {0xAB123456, 0, 0x00563412}, // top byte of the colour ignored
      {0x000000, 0x1FF, 0xFF000000},                                  // only the alpha's low byte counts
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.colour);
    EXPECT_EQ(ToArgb(c.colour, c.alpha), c.expected);
  }
}

TEST(EmptyObjects, DisposeReturnsFalseWithoutNativeCall) {
  const std::vector<std::pair<const char*, std::function<bool()>>> cases = {
      {"Picture", [] { return Picture().Dispose(); }},
      {"BitmapPicture", [] { return BitmapPicture().Dispose(); }},
      {"DrawingSurface", [] { return DrawingSurface().Dispose(); }},
      {"SolidBrush", [] { return SolidBrush().Dispose(); }},
      {"LinearGradientBrush", [] { return LinearGradientBrush().Dispose(); }},
      {"Pen", [] { return Pen().Dispose(); }},
      {"GraphicsPath", [] { return GraphicsPath().Dispose(); }},
      {"Font", [] { return Font().Dispose(); }},
      {"FontFamily", [] { return FontFamily().Dispose(); }},
      {"StringFormat", [] { return StringFormat().Dispose(); }},
  };
  for (const auto& [name, dispose] : cases) {
    RecordStatus(Gdiplus::Aborted);  // a no-op must not touch the last status
    EXPECT_FALSE(dispose()) << name;
    EXPECT_EQ(LastStatus(), Gdiplus::Aborted) << name;
  }
}

TEST(RoundedRectangle, ArcsSitInTheFourCorners) {
  GraphicsPath path;
  ASSERT_TRUE(path.Create());
  ASSERT_TRUE(path.AddRoundedRectangle(0, 0, 200, 100, 10));
  std::vector<Gdiplus::PointF> points;
  ASSERT_TRUE(path.GetPathPoints(points));
  ASSERT_EQ(points.size(), 16u) << "four arcs of one Bezier each";
  // Arcs of 20 x 10 at (180, 0), (180, 90), (0, 90), (0, 0): their end points.
  struct Corner {
    size_t index;
    float x, y;
  };
  const Corner ends[] = {{0, 190, 0},  {3, 200, 5},   {4, 200, 95}, {7, 190, 100},
                         {8, 10, 100}, {11, 0, 95},   {12, 0, 5},   {15, 10, 0}};
  for (const Corner& c : ends) {
    SCOPED_TRACE(c.index);
    EXPECT_NEAR(points[c.index].X, c.x, 0.01);
    EXPECT_NEAR(points[c.index].Y, c.y, 0.01);
  }
  std::vector<BYTE> types;
  ASSERT_TRUE(path.GetPathTypes(types));
  EXPECT_TRUE(types.back() & Gdiplus::PathPointTypeCloseSubpath) << "the figure is closed";
}

TEST(RoundedRectangle, CornerPercentIsClampedAndTruncated) {
  auto points_of = [](float w, float h, int percent) {
    GraphicsPath path;
    EXPECT_TRUE(path.Create());
    path.AddRoundedRectangle(3, 4, w, h, percent);
    std::vector<Gdiplus::PointF> points;
    EXPECT_TRUE(path.GetPathPoints(points));
    return points;
  };
  auto same = [](const std::vector<Gdiplus::PointF>& a, const std::vector<Gdiplus::PointF>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
      if (a[i].X != b[i].X || a[i].Y != b[i].Y) return false;
    return true;
  };
  EXPECT_TRUE(same(points_of(200, 100, 0), points_of(200, 100, 1)));
  EXPECT_TRUE(same(points_of(200, 100, -7), points_of(200, 100, 1)));
  EXPECT_TRUE(same(points_of(200, 100, 250), points_of(200, 100, 100)));
  // 15 % of 50 x 30 is 7.5 x 4.5, truncated to 7 x 4: the top-right arc starts at x + w - 3.5.
  const auto truncated = points_of(50, 30, 15);
  ASSERT_FALSE(truncated.empty());
  EXPECT_NEAR(truncated[0].X, 3 + 50 - 3.5, 0.01);
  EXPECT_NEAR(truncated[0].Y, 4, 0.01);
}

TEST(WorldTransform, ScaleAtKeepsTheCentreInPlace) {
  for (int order : {0, 1}) {
    SCOPED_TRACE(order);
    BitmapPicture bitmap;
    ASSERT_TRUE(bitmap.Create(50, 50));
    DrawingSurface surface;
    ASSERT_TRUE(surface.FromImage(bitmap));
    ASSERT_TRUE(surface.ScaleWorldTransformAt(2, 2, {10, 10}, order));
    Gdiplus::PointF points[] = {{10, 10}, {11, 10}, {10, 13}};
    ASSERT_TRUE(surface.TransformPoints(Gdiplus::CoordinateSpaceDevice, Gdiplus::CoordinateSpaceWorld, points));
    EXPECT_NEAR(points[0].X, 10, 1e-4);
    EXPECT_NEAR(points[0].Y, 10, 1e-4);
    EXPECT_NEAR(points[1].X, 12, 1e-4);
    EXPECT_NEAR(points[1].Y, 10, 1e-4);
    EXPECT_NEAR(points[2].Y, 16, 1e-4);
    EXPECT_TRUE(surface.Dispose());
  }
}

TEST(SurfaceFlush, ReturnsItsOwnStatusAndLeavesTheLastStatus) {
  BitmapPicture bitmap;
  ASSERT_TRUE(bitmap.Create(10, 10));
  DrawingSurface surface;
  ASSERT_TRUE(surface.FromImage(bitmap));
  EXPECT_EQ(Picture().GetWidth(), 0);  // fails: the last status is now an error
  const GpStatus before = LastStatus();
  ASSERT_NE(before, Gdiplus::Ok);
  EXPECT_EQ(surface.Flush(), Gdiplus::Ok);
  EXPECT_EQ(LastStatus(), before);

  DrawingSurface empty;
  RecordStatus(Gdiplus::Ok);
  EXPECT_NE(empty.Flush(), Gdiplus::Ok);
  EXPECT_EQ(LastStatus(), Gdiplus::Ok);
}

TEST(SurfaceImages, DrawImageRectOfAnUndecodedPictureFails) {
  BitmapPicture target;
  ASSERT_TRUE(target.Create(20, 20, kPixelFormat32bppRGB));
  DrawingSurface surface;
  ASSERT_TRUE(surface.FromImage(target));
  ASSERT_TRUE(surface.Clear(ToArgb(0xFFFFFF)));
  Picture broken;
  EXPECT_FALSE(broken.LoadFromBytes(Bytes("xx", 2)));
  EXPECT_FALSE(surface.DrawImageRect(broken, 0, 0, 20, 20));
  EXPECT_FALSE(DrawingSurface().FillRectangle(SolidBrush(), 0, 0, 1, 1)) << "drawing on an empty surface";
  surface.Dispose();
  EXPECT_EQ(target.GetPixel(10, 10), 0xFFFFFFFFu) << "nothing was drawn";
}

TEST(SurfaceContext, ObtainingAgainReplacesTheContext) {
  BitmapPicture a, b;
  ASSERT_TRUE(a.Create(5, 5, kPixelFormat32bppRGB));
  ASSERT_TRUE(b.Create(5, 5, kPixelFormat32bppRGB));
  DrawingSurface surface;
  ASSERT_TRUE(surface.FromImage(a));
  ASSERT_TRUE(surface.FromImage(b));
  ASSERT_TRUE(surface.Clear(ToArgb(0x0000FF)));
  surface.Dispose();
  EXPECT_EQ(b.GetPixel(2, 2), ToArgb(0x0000FF));
  EXPECT_NE(a.GetPixel(2, 2), ToArgb(0x0000FF));
}

TEST(Fonts, ByNameNeedsAnInstalledFamily) {
  struct Case {
    const char* family;
    float size;
    int style;
    bool expected;
  };
  const Case cases[] = {
      {"微软雅黑", 13, 1, true},  // mapped to an installed CJK font in the prefix
      {"微软雅黑", 12, 0, true},
      {"Tambrel No Such Family", 12, 0, false},
      {"", 12, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.family);
    Font font;
    EXPECT_EQ(font.CreateByName(c.family, c.size, c.style), c.expected) << "status " << LastStatus();
    EXPECT_EQ(font.font() != nullptr, c.expected);
    if (c.expected) {
      EXPECT_FLOAT_EQ(font.GetSize(), c.size);
      EXPECT_EQ(font.GetStyle(), c.style);
      EXPECT_EQ(font.GetUnit(), Gdiplus::UnitWorld);
      // Making a second font in the same object releases the first.
      EXPECT_TRUE(font.CreateByName(c.family, 20));
      EXPECT_FLOAT_EQ(font.GetSize(), 20);
    }
  }
}

TEST(Fonts, FamiliesOfTheInstalledCollectionAreOwnedCopies) {
  FontCollection installed;
  ASSERT_TRUE(installed.CreateInstalled());
  std::vector<FontFamily> families;
  ASSERT_TRUE(installed.GetFamilies(families));
  ASSERT_FALSE(families.empty());
  EXPECT_FALSE(families[0].GetFamilyName().empty());
  for (FontFamily& f : families) EXPECT_TRUE(f.Dispose());

  // Wine's generic families name fonts the prefix does not have; use the mapped CJK family.
  FontFamily generic;
  ASSERT_TRUE(generic.CreateFromName("微软雅黑", FontCollection()));
  Font font;
  ASSERT_TRUE(font.Create(generic, 10));
  FontFamily back;
  ASSERT_TRUE(font.GetFamily(back));
  EXPECT_EQ(back.GetFamilyName(), generic.GetFamilyName());
}

TEST(PenAndBrushes, CreateDefaultsAndSetters) {
  Pen pen;
  ASSERT_TRUE(pen.Create(ToArgb(0xFF0000), 1.0f));
  EXPECT_EQ(pen.GetUnit(), Gdiplus::UnitWorld);
  EXPECT_TRUE(pen.SetWidth(0.2f));
  EXPECT_FLOAT_EQ(pen.GetWidth(), 0.2f);
  EXPECT_TRUE(pen.SetColor(ToArgb(0x00FF00, 70)));
  EXPECT_EQ(pen.GetColor(), 0x4600FF00u);

  SolidBrush solid;
  ASSERT_TRUE(solid.Create(ToArgb(0xFFFFFF)));
  EXPECT_TRUE(solid.SetColor(ToArgb(0, 230)));
  EXPECT_EQ(solid.GetColor(), 0xE6000000u);
  EXPECT_EQ(solid.GetType(), Gdiplus::BrushTypeSolidColor);

  LinearGradientBrush gradient;
  ASSERT_TRUE(gradient.CreateFromRect({0, 0, 100, 10}, ToArgb(0), ToArgb(0xFFFFFF), 0));
  ASSERT_TRUE(gradient.SetLinearColors(ToArgb(0x123456), ToArgb(0x654321)));
  ARGB c1 = 0, c2 = 0;
  ASSERT_TRUE(gradient.GetLinearColors(c1, c2));
  EXPECT_EQ(c1, ToArgb(0x123456));
  EXPECT_EQ(c2, ToArgb(0x654321));
  EXPECT_EQ(gradient.GetWrapMode(), Gdiplus::WrapModeTile);

  Brush copy;
  ASSERT_TRUE(gradient.CloneTo(copy));
  EXPECT_EQ(copy.GetType(), Gdiplus::BrushTypeLinearGradient);
}

// ---- the gallery row recipe ---------------------------------------------------------------

// Colours of one row state: background gradient, outline, thumbnail frame, title.
struct RowStyle {
  bool background;
  ARGB from, to;
  bool outline;
  ARGB outline_colour;
  ARGB frame;
  ARGB title;
  bool identifier;
};

const RowStyle kSelected = {true,
                            ToArgb(0xA3EAFC, 155),  // (252, 234, 163)
                            ToArgb(0x91E5FB, 255),  // (251, 229, 145)
                            true,
                            ToArgb(0x31C1FC, 255),  // (252, 193, 49)
                            ToArgb(0xC6CEAA, 200),  // (170, 206, 198)
                            ToArgb(0, 255),
                            true};

// Draws one template row of w x h the way the gallery does and returns the bitmap.
void draw_row(BitmapPicture& row, int w, int h, const RowStyle& style, const char* title, const char* id,
              const Bytes& image) {
  ASSERT_TRUE(row.Create(w, h, kPixelFormat32bppRGB));
  DrawingSurface g;
  ASSERT_TRUE(g.FromImage(row));
  ASSERT_TRUE(g.SetTextRenderingHint(5));
  SolidBrush brush;
  ASSERT_TRUE(brush.Create(ToArgb(0xFFFFFF)));
  ASSERT_TRUE(g.FillRectangle(brush, 0, 0, float(w), float(h)));

  GraphicsPath path;
  ASSERT_TRUE(path.Create());
  ASSERT_TRUE(path.AddRoundedRectangle(1, 1, float(w - 3), float(h - 3), 5));
  LinearGradientBrush gradient;
  ASSERT_TRUE(gradient.CreateFromRect({0, 0, float(w - 3), float(h - 3)}, ToArgb(0), ToArgb(0), 0));
  Pen pen;
  ASSERT_TRUE(pen.Create(ToArgb(0), 1.0f));
  Font font;
  ASSERT_TRUE(font.CreateByName("微软雅黑", 13, 0));
  StringFormat format;  // never created: GDI+'s default layout

  if (style.background) {
    ASSERT_TRUE(gradient.SetLinearColors(style.from, style.to));
    ASSERT_TRUE(g.FillRectangle(gradient, 2, 2, float(w - 4), float(h - 4)));
  }
  if (style.outline) {
    ASSERT_TRUE(pen.SetColor(style.outline_colour));
    ASSERT_TRUE(g.DrawPath(pen, path));
  }
  ASSERT_TRUE(brush.SetColor(ToArgb(0xFFFFFF)));
  ASSERT_TRUE(g.FillRectangle(brush, 6, 6, 72, 72));
  Picture thumbnail;
  if (thumbnail.LoadFromBytes(image)) {
    EXPECT_TRUE(g.DrawImageRect(thumbnail, 6, 6, 72, 72));
  }
  ASSERT_TRUE(path.Reset());
  ASSERT_TRUE(path.AddRoundedRectangle(5, 5, 74, 74, 25));
  ASSERT_TRUE(pen.SetWidth(0.2f));
  ASSERT_TRUE(pen.SetColor(style.frame));
  ASSERT_TRUE(g.DrawPath(pen, path));

  ASSERT_TRUE(brush.SetColor(style.title));
  ASSERT_TRUE(g.DrawString(title, font, brush, {100, 6.5f, float(w - 3), float(h - 3)}, format));
  if (style.identifier) {
    ASSERT_TRUE(font.Dispose());
    ASSERT_TRUE(font.CreateByName("微软雅黑", 12, 0));
    ASSERT_TRUE(brush.SetColor(ToArgb(0, 200)));
    ASSERT_TRUE(g.DrawString(id, font, brush, {101, 26, float(w - 3), float(h - 3)}, format));
  }
  ASSERT_TRUE(thumbnail.Dispose() || thumbnail.image() == nullptr);
  ASSERT_TRUE(g.Dispose());
}

int dark_pixels(const BitmapPicture& bitmap, int left, int top, int right, int bottom) {
  int dark = 0;
  for (int y = top; y < bottom; ++y)
    for (int x = left; x < right; ++x) {
      Rgb c = rgb_of(bitmap.GetPixel(x, y));
      if (c.r + c.g + c.b < 300) ++dark;
    }
  return dark;
}

TEST(GalleryRow, EveryStepOfTheSelectedRowDraws) {
  const int w = 280, h = 90;
  BitmapPicture row;
  const Bytes red_thumbnail = encoded_picture(kPngFormat, 16, 16, ToArgb(0x0000FF));
  draw_row(row, w, h, kSelected, "中文模板标题", "368", red_thumbnail);
  if (HasFatalFailure()) return;

  // Through the PNG encoder and back, as pixels that anybody could look at.
  const Bytes png = row.SaveToBytes(kPngFormat);
  ASSERT_FALSE(png.empty());
  BitmapPicture shown;
  ASSERT_TRUE(shown.LoadFromBytes(png));
  ASSERT_EQ(shown.GetWidth(), w);
  ASSERT_EQ(shown.GetHeight(), h);

  // White fill outside the rounded outline.
  EXPECT_TRUE(near_colour(shown.GetPixel(0, 0), {255, 255, 255}, 0)) << describe(shown.GetPixel(0, 0));
  EXPECT_TRUE(near_colour(shown.GetPixel(w - 1, h - 1), {255, 255, 255}, 0));
  // Outline on the left edge, halfway down: the selected outline colour.
  const ARGB edge = shown.GetPixel(1, h / 2);
  EXPECT_TRUE(near_colour(edge, {252, 193, 49}, 40)) << describe(edge);
  // Background gradient: at the right end it is nearly the opaque second colour.
  const ARGB right = shown.GetPixel(w - 8, h - 10);
  EXPECT_TRUE(near_colour(right, {251, 229, 145}, 20)) << describe(right);
  // At the left end the first colour is 155/255 opaque over white: lighter and bluer.
  const ARGB left = shown.GetPixel(90, h - 6);
  EXPECT_GT(rgb_of(left).b, rgb_of(right).b) << describe(left) << " vs " << describe(right);
  EXPECT_LT(rgb_of(left).b, 250) << describe(left);
  // The thumbnail, scaled from 16 x 16 into the 72 x 72 square.
  for (auto [x, y] : {std::pair{12, 12}, {42, 42}, {68, 68}}) {
    EXPECT_TRUE(near_colour(shown.GetPixel(x, y), {255, 0, 0}, 10)) << x << "," << y << " "
                                                                      << describe(shown.GetPixel(x, y));
  }
  // Title and identifier lines: dark glyph pixels where the text goes, none above it.
  EXPECT_GT(dark_pixels(shown, 100, 7, w - 4, 26), 30) << "title";
  EXPECT_GT(dark_pixels(shown, 101, 27, w - 4, 48), 10) << "identifier";
  EXPECT_EQ(dark_pixels(shown, 100, 60, w - 10, h - 10), 0) << "below the text";
}

TEST(GalleryRow, AThumbnailThatDoesNotDecodeLeavesTheWhiteSquare) {
  BitmapPicture row;
  draw_row(row, 280, 90, kSelected, "x", "1", Bytes("broken", 6));
  if (HasFatalFailure()) return;
  EXPECT_TRUE(near_colour(row.GetPixel(42, 42), {255, 255, 255}, 0)) << describe(row.GetPixel(42, 42));
}

}  // namespace
