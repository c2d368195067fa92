// The renderer checked by pixels: ring on the border, clear outside the shape, the star's
// centre filled, text ink along the arc and never in the gap before the ring, yin text cut
// out of the red field, and the encoders' colours.
#include <gtest/gtest.h>

#include <spng.h>
#include <turbojpeg.h>

#include <atomic>
#include <cmath>
#include <thread>

#include "draw/render.h"
#include "draw/render_core.h"
#include "encode/encode.h"
#include "stamps/stamp_service.h"
#include "test_support.h"
#include "text/text.h"

namespace tambrel {
namespace {

using testing_support::fonts;
using testing_support::templ;

constexpr double kPi = 3.14159265358979323846;

// Geometry of a round seal rendered at `size` px: 42 mm plus a 0.5 mm margin on each side.
struct RoundFrame {
  double pxPerMm, cx, cy;
  explicit RoundFrame(int size) : pxPerMm(size / 43.0), cx(size / 2.0), cy(size / 2.0) {}
  // Coverage at radius r mm and angle a (radians clockwise from the top).
  uint8_t at(const Raster& r, double mm, double a) const {
    int x = static_cast<int>(std::lround(cx + mm * pxPerMm * std::sin(a)));
    int y = static_cast<int>(std::lround(cy - mm * pxPerMm * std::cos(a)));
    return r.at(x, y);
  }
};

TEST(RoundSeal, RingStarArcTextAndClearOutside) {
  const Template& t = templ(365);  // round, single 1.2 mm border, star, text
  ASSERT_EQ(t.style.shape, Shape::Round);
  ASSERT_EQ(t.style.border, Border::Single);
  const int size = 600;
  Raster r = renderStamp(fonts(), t.style, U"北京华宇建筑工程有限公司", size);
  ASSERT_EQ(r.width, size);
  ASSERT_EQ(r.height, size);
  RoundFrame f(size);
  for (int deg = 0; deg < 360; deg += 3) {
    double a = deg * kPi / 180;
    EXPECT_GT(f.at(r, 20.4, a), 230) << "ring at " << deg << " degrees";
    EXPECT_EQ(f.at(r, 21.4, a), 0) << "outside the ring at " << deg << " degrees";
    // 0.9 mm gap between the ring's inner edge (19.8 mm) and the text: no ink in it.
    EXPECT_LT(f.at(r, 19.5, a), 40) << "ink in the gap at " << deg << " degrees";
  }
  EXPECT_EQ(r.at(0, 0), 0);
  EXPECT_EQ(r.at(size - 1, size - 1), 0);
  EXPECT_EQ(f.at(r, 0, 0), 255) << "star centre";
  // Ink along the text band in the upper arc, spread on both sides of the top.
  int left = 0, right = 0;
  for (double mm = 13.5; mm <= 18.5; mm += 0.25)
    for (int deg = -130; deg <= 130; ++deg) {
      if (f.at(r, mm, deg * kPi / 180) > 128) (deg < 0 ? left : right)++;
    }
  EXPECT_GT(left, 300);
  EXPECT_GT(right, 300);
  EXPECT_LT(std::abs(left - right), (left + right) / 3) << "text is not centred on the top";
  // Nothing on the bottom part of the band, where the arc text does not reach.
  int bottom = 0;
  for (double mm = 13.5; mm <= 18.5; mm += 0.25)
    for (int deg = 160; deg <= 200; ++deg) bottom += f.at(r, mm, deg * kPi / 180) > 128;
  EXPECT_EQ(bottom, 0);
}

TEST(RoundSeal, LongNamesStayOutOfTheGap) {
  const Template& t = templ(369);  // thick ring: inner edge at 19.2 mm
  std::u32string name;
  for (int i = 0; i < t.style.maxChars; ++i) name += U"国";
  Raster r = renderStamp(fonts(), t.style, name, 600);
  RoundFrame f(600);
  for (int deg = 0; deg < 360; deg += 2) EXPECT_LT(f.at(r, 18.9, deg * kPi / 180), 40) << deg;
}

TEST(SquareSeal, YinTextIsCutFromTheRedField) {
  const Template& t = templ(366);
  ASSERT_EQ(t.style.relief, Relief::Yin);
  Raster r = renderStamp(fonts(), t.style, U"王小明印", 400);
  int clear = 0, solid = 0, total = 0;
  for (int y = 100; y < 300; ++y)
    for (int x = 100; x < 300; ++x) {
      ++total;
      clear += r.at(x, y) < 20;
      solid += r.at(x, y) > 235;
    }
  EXPECT_GT(clear, total / 10) << "white strokes inside the field";
  EXPECT_GT(solid, total / 4) << "red field around the strokes";
  EXPECT_GT(r.at(12, 200), 235) << "field reaches the edge";
}

TEST(SquareSeal, YangHasFrameAndClearGround) {
  const Template& t = templ(368);
  ASSERT_EQ(t.style.relief, Relief::Yang);
  Raster r = renderStamp(fonts(), t.style, U"简约生活", 400);
  EXPECT_GT(r.at(200, 12), 200) << "top frame";
  EXPECT_GT(r.at(12, 200), 200) << "left frame";
  int clear = 0;
  for (int y = 40; y < 360; ++y)
    for (int x = 40; x < 360; ++x) clear += r.at(x, y) == 0;
  EXPECT_GT(clear, 320 * 320 / 3) << "ground between strokes stays clear";
}

// Ink (coverage > 128) of a region cut into the pieces that empty columns separate: the
// letters of a horizontal word, left to right.
struct InkBox {
  int x0, x1, y0, y1;  // inclusive
};
std::vector<InkBox> inkPieces(const Raster& r, int x0, int y0, int x1, int y1) {
  std::vector<InkBox> out;
  bool open = false;
  for (int x = x0; x <= x1; ++x) {
    int top = -1, bottom = -1;
    for (int y = y0; y <= y1; ++y)
      if (r.at(x, y) > 128) {
        if (top < 0) top = y;
        bottom = y;
      }
    if (top < 0) {
      open = false;
      continue;
    }
    if (!open) out.push_back({x, x, top, bottom});
    open = true;
    InkBox& b = out.back();
    b.x1 = x;
    b.y0 = std::min(b.y0, top);
    b.y1 = std::max(b.y1, bottom);
  }
  return out;
}

// "Hx" (or "Ho") set as a word: two letters, H on the left, both standing on one baseline, the
// second only as tall as a lower-case letter is. Letters stretched one per cell would stand
// equally tall.
void expectWordHx(const std::vector<InkBox>& pieces, const std::string& where) {
  ASSERT_EQ(pieces.size(), 2u) << where;
  const InkBox& h = pieces[0];
  const InkBox& x = pieces[1];
  const int height = h.y1 - h.y0;
  EXPECT_LE(std::abs(h.y1 - x.y1), std::max(2, height / 25)) << where << ": letters off the common baseline";
  EXPECT_GT(x.y0 - h.y0, height / 6) << where << ": the x is as tall as the H";
  EXPECT_LT(x.x0 - h.x1, height) << where << ": letters far apart";
}

TEST(LatinText, FramesSetLatinAsWordsOnABaseline) {
  struct Case {
    int id;
    const char32_t* text;
    int x0, y0, x1, y1;  // where the word is, at 400 px
  } cases[] = {
      {368, U"Hx", 30, 30, 370, 370},      // yang square: the whole field
      {366, U"Ho", 50, 50, 350, 350},      // yin square, serif face: cut out of the red field
      {368, U"张三Hx", 30, 205, 195, 370},  // mixed: the group takes the lower cell of the left column
  };
  for (const Case& c : cases) {
    const Template& t = templ(c.id);
    Raster r = renderStamp(fonts(), t.style, c.text, 400);
    if (t.style.relief == Relief::Yin)
      for (uint8_t& v : r.alpha) v = 255 - v;  // read the cut strokes as ink
    expectWordHx(inkPieces(r, c.x0, c.y0, c.x1, c.y1), std::to_string(c.id) + " " + text::encodeUtf8(c.text));
  }
}

TEST(LatinText, AllLatinTextIsCentredInTheFrameInWholeLines) {
  const Template& t = templ(368);
  Raster r = renderStamp(fonts(), t.style, U"Tambrel", 400);
  // Bands of rows with ink inside the frame: the lines of text.
  std::vector<std::pair<int, int>> bands;
  for (int y = 30; y < 370; ++y) {
    bool ink = false;
    for (int x = 30; x < 370 && !ink; ++x) ink = r.at(x, y) > 128;
    if (ink && (bands.empty() || bands.back().second != y - 1)) bands.push_back({y, y});
    if (ink) bands.back().second = y;
  }
  ASSERT_GE(bands.size(), 1u);
  ASSERT_LE(bands.size(), 3u);
  int top = bands.front().first, bottom = bands.back().second;
  EXPECT_LE(std::abs((top - 30) - (369 - bottom)), 8) << "text not centred vertically";
  EXPECT_GT(bottom - top, 340 / 2) << "a square seal's text fills its height";
  for (auto [y0, y1] : bands) {
    auto pieces = inkPieces(r, 30, y0, 369, y1);
    ASSERT_FALSE(pieces.empty());
    int left = pieces.front().x0 - 30, right = 369 - pieces.back().x1;
    EXPECT_LE(std::abs(left - right), 8) << "line at " << y0 << " not centred";
  }
}

// Polar extent of the ink between two angles (degrees clockwise from the top) and radii (mm)
// of a round seal rendered at 600 px.
struct PolarBox {
  double minR = 1e9, maxR = 0, minA = 1e9, maxA = -1e9;
};
PolarBox polarInk(const Raster& r, double a0, double a1, double r0, double r1) {
  RoundFrame f(r.width);
  PolarBox b;
  for (int y = 0; y < r.height; ++y)
    for (int x = 0; x < r.width; ++x) {
      if (r.at(x, y) <= 128) continue;
      double dx = x - f.cx, dy = y - f.cy;
      double mm = std::hypot(dx, dy) / f.pxPerMm, a = std::atan2(dx, -dy) * 180 / kPi;
      if (mm < r0 || mm > r1 || a < a0 || a > a1) continue;
      b.minR = std::min(b.minR, mm);
      b.maxR = std::max(b.maxR, mm);
      b.minA = std::min(b.minA, a);
      b.maxA = std::max(b.maxA, a);
    }
  return b;
}

TEST(LatinText, ArcTextReadsLeftToRightOnOneBaseline) {
  for (int id : {369, 365}) {
    const Template& t = templ(id);
    Raster r = renderStamp(fonts(), t.style, U"Hx", 600);
    // Clear of the star (7 mm) and the ring.
    PolarBox h = polarInk(r, -90, 0, 9, 19), x = polarInk(r, 0, 90, 9, 19);
    ASSERT_LT(h.minR, h.maxR) << id << ": no H left of the top";
    ASSERT_LT(x.minR, x.maxR) << id << ": no x right of the top";
    EXPECT_NEAR(h.minR, x.minR, 0.35) << id << ": letters off the common baseline";
    EXPECT_GT(h.maxR - x.maxR, 0.8) << id << ": the x is as tall as the H";
  }
}

TEST(LatinText, ArcKeepsAWordTogether) {
  // Seven letters take far less of the ring than seven CJK characters spread along it.
  const Template& t = templ(369);
  PolarBox latin = polarInk(renderStamp(fonts(), t.style, U"Tambrel", 600), -180, 180, 9, 19);
  PolarBox cjk = polarInk(renderStamp(fonts(), t.style, U"国国国国国国国", 600), -180, 180, 9, 19);
  double latinSpan = latin.maxA - latin.minA, cjkSpan = cjk.maxA - cjk.minA;
  EXPECT_LT(latinSpan, 0.7 * cjkSpan);
  EXPECT_NEAR(latin.minA, -latin.maxA, 6) << "word not centred on the top";
}

TEST(LatinText, ArcKeepsLettersBeforeACjkCharacter) {
  // Letters set ahead of a CJK character on the ring must still be there: the ink left of the
  // top matches the same letters written after the characters, on the right.
  const Template& t = templ(365);
  PolarBox before = polarInk(renderStamp(fonts(), t.style, U"HH天宝", 600), -180, -20, 9, 19);
  PolarBox after = polarInk(renderStamp(fonts(), t.style, U"天宝HH", 600), 20, 180, 9, 19);
  ASSERT_LT(after.minA, after.maxA) << "no letters right of the top";
  ASSERT_LT(before.minA, before.maxA) << "no ink left of the top";
  EXPECT_NEAR(before.maxA - before.minA, after.maxA - after.minA, 6) << "the letters before the characters are missing";
}

TEST(LatinText, CloudsShareOneLetterSizeLeftToRight) {
  const Template& t = templ(124);
  ASSERT_EQ(t.style.shape, Shape::Cloud);
  Raster r = renderStamp(fonts(), t.style, U"Hx", 600);
  // The clouds are 25.5 mm circles centred 12.75 mm from either end of the 45 x 25.5 mm seal
  // (plus 0.5 mm margins).
  const double pxPerMm = std::min(r.width / 46.0, r.height / 26.5);
  const int c1 = static_cast<int>((r.width - 45 * pxPerMm) / 2 + 12.75 * pxPerMm);
  const int c2 = static_cast<int>((r.width - 45 * pxPerMm) / 2 + 32.25 * pxPerMm);
  const int cy = r.height / 2;
  auto left = inkPieces(r, c1 - 100, cy - 100, c1 + 100, cy + 100);
  auto right = inkPieces(r, c2 - 100, cy - 100, c2 + 100, cy + 100);
  // The tallest piece in each is the letter; bits of the contour may reach into the corners.
  auto tallest = [](const std::vector<InkBox>& pieces) {
    int best = 0;
    for (const InkBox& b : pieces) best = std::max(best, b.y1 - b.y0);
    return best;
  };
  int hHeight = tallest(left), xHeight = tallest(right);
  ASSERT_GT(hHeight, r.height / 4) << "no letter in the left cloud";
  ASSERT_GT(xHeight, r.height / 8) << "no letter in the right cloud";
  EXPECT_LT(xHeight, hHeight * 0.85) << "letters sized apart, or set right to left";
}

TEST(Shapes, PixelSizeFollowsTheLongerSide) {
  struct Case {
    Shape shape;
    int request;
    int w, h;
  } cases[] = {
      {Shape::Round, 0, 300, 300}, {Shape::Round, 1000, 1000, 1000}, {Shape::Long, 0, 120, 300},
      {Shape::Long, 1000, 400, 1000}, {Shape::Rect, 640, 640, 320}, {Shape::Oval, 300, 300, 210},
      {Shape::Square, 64, 64, 64},
  };
  for (const Case& c : cases) {
    StampStyle s;
    s.shape = c.shape;
    NaturalSize n = stampPixelSize(s, c.request);
    EXPECT_EQ(n.width, c.w) << static_cast<int>(c.shape) << " " << c.request;
    EXPECT_EQ(n.height, c.h) << static_cast<int>(c.shape) << " " << c.request;
  }
}

TEST(Catalogue, EveryTemplateDrawsItsSampleDeterministically) {
  for (const Template& t : Catalog::builtIn().all()) {
    auto sample = text::decodeUtf8(t.style.sample);
    ASSERT_TRUE(sample) << t.id;
    Raster a = renderStamp(fonts(), t.style, *sample, 0);
    Raster b = renderStamp(fonts(), t.style, *sample, 0);
    EXPECT_EQ(a.alpha, b.alpha) << "template " << t.id << " is not deterministic";
    long ink = 0;
    for (int y = 0; y < a.height; ++y)
      for (int x = 0; x < a.width; ++x) ink += a.at(x, y) > 128;
    double share = static_cast<double>(ink) / (a.width * a.height);
    EXPECT_GT(share, 0.03) << "template " << t.id << " draws almost nothing";
    EXPECT_LT(share, 0.95) << "template " << t.id << " is a solid block";
    if (t.style.shape == Shape::Round) {
      EXPECT_EQ(a.at(1, 1), 0) << "template " << t.id << " corner";
    }
  }
}

// Fills every mark with cairo, as vector output does: the reference for the raster's own fill.
class CairoFill : public draw::MarkRecorder {
 public:
  void fill(cairo_t* cr) override { cairo_fill(cr); }
  void fillPreserve(cairo_t* cr) override { cairo_fill_preserve(cr); }
  void stroke(cairo_t* cr) override { cairo_stroke(cr); }
};

// Glyphs on a raster are filled by FreeType's rasterizer (exact area coverage), elsewhere by
// cairo's (sampled), so edge pixels differ by a few levels. The tolerance, over the pixels a
// glyph touches: a mean difference under 6 of 255, at most 3% of them off by more than 32, none
// by more than 72 (a hairline that a sampling row misses). Over the whole catalogue at 300 and
// 1000 px 0.9% of all pixels differ, 99% of those by under 32 levels, at most by 66.
// Rotated, stretched, ink and cut (yin), Latin and CJK.
// Glyphs on a raster are filled by FreeType, and emboldened ones as one fill of the outline
// grown by half the weight; cairo's fill (and stroke, for emboldened ones) is the reference. Edge
// pixels differ by a few levels and the ink by about 1 %; a missing stroke, a glyph grown the
// wrong way or a counter filled in would differ across whole strokes.
TEST(GlyphFill, FreeTypeCoverageMatchesCairoWithinTolerance) {
  struct Case {
    char32_t c;
    double angle, sx, sy;
    bool cut;
    double weight;  // emboldening, pixels here
    double x = 32, y = 32;  // centre: near a side, part of the glyph falls off the raster
  } cases[] = {{U'天', 0, 0.2, 0.2, false, 0},      {U'宝', 0.7, 0.15, 0.11, false, 0}, {U'g', -2.5, 0.3, 0.3, false, 0},
               {U'章', 3.0, 0.05, 0.06, true, 0},   {U'A', 1.2, 0.4, 0.25, true, 0},    {U'天', 0, 0.2, 0.2, false, 1.0},
               {U'宝', 0.7, 0.15, 0.11, false, 1.6}, {U'章', 3.0, 0.25, 0.3, true, 2.5},  {U'鬱', -0.4, 0.5, 0.45, false, 1.2},
               {U'A', 1.2, 0.4, 0.25, true, 0.8},
               {U'天', 0.3, 0.4, 0.4, false, 0, 6, 58},   {U'章', 0, 0.4, 0.4, true, 1.5, 60, 30},
               {U'鬱', 1.0, 0.5, 0.5, false, 1.0, 30, 2}};
  StampStyle style = templ(365).style;
  for (const Case& k : cases) {
    Raster a{}, b{};
    for (Raster* r : {&a, &b}) {
      r->width = r->height = 64;
      r->stride = cairo_format_stride_for_width(CAIRO_FORMAT_A8, 64);
      r->alpha.assign(static_cast<size_t>(r->stride) * 64, k.cut ? 255 : 0);
    }
    CairoFill reference;
    for (Raster* r : {&a, &b}) {
      cairo_surface_t* s = cairo_image_surface_create_for_data(r->alpha.data(), CAIRO_FORMAT_A8, 64, 64, r->stride);
      cairo_t* cr = cairo_create(s);
      // As every stamp context is set up: unhinted outlines. Glyphs are cached per thread, so
      // a context without this would see hinted outlines only when it is the first to ask.
      draw::setDrawingOptions(cr);
      draw::Painter p(fonts(), style, cr, r == &b ? &reference : nullptr);
      p.emboldenMm = k.weight;
      if (k.cut) p.cutMode();
      draw::Glyph g = p.shape(k.c);
      ASSERT_TRUE(g.found);
      p.fillGlyph(g, k.x, k.y, k.angle, k.sx, k.sy, g.ext.x_bearing + g.ext.width / 2, g.ext.y_bearing + g.ext.height / 2);
      cairo_destroy(cr);
      cairo_surface_finish(s);
      cairo_surface_destroy(s);
    }
    int touched = 0, far = 0, maxDiff = 0;
    long sum = 0, inkA = 0, inkB = 0;
    for (size_t i = 0; i < a.alpha.size(); ++i) {
      int d = std::abs(a.alpha[i] - b.alpha[i]);
      touched += a.alpha[i] != (k.cut ? 255 : 0) || b.alpha[i] != (k.cut ? 255 : 0);
      far += d > 32;
      maxDiff = std::max(maxDiff, d);
      sum += d;
      inkA += a.alpha[i], inkB += b.alpha[i];
    }
    const std::string what = "glyph U+" + std::to_string(static_cast<int>(k.c)) + " weight " + std::to_string(k.weight);
    ASSERT_GT(touched, 20) << what;
    // cairo samples its stroke's coverage where FreeType computes the area: measured, every edge of
    // an emboldened glyph differs by a few more levels (mean 2.4 to 6.2) than a plain fill's.
    const bool bold = k.weight > 0;
    EXPECT_LE(far, touched * (bold ? 5 : 3) / 100) << what;
    EXPECT_LE(maxDiff, bold ? 128 : 72) << what;
    EXPECT_LT(static_cast<double>(sum) / touched, bold ? 8.0 : 6.0) << what;
    EXPECT_LE(std::abs(inkA - inkB), std::max(inkA, inkB) / 50) << what << ": the ink differs by more than 2 % (" << inkA << " against cairo's " << inkB << ")";
  }
}

// The aged look's speckles, chips and patches are circles cut out of the ink: each must take its
// own area, however small, wherever it falls on the pixel grid, and several must take their
// union's. (Filled as FreeType's cubic arcs, a speckle of half a pixel's radius lost a third.)
TEST(CircleCoverage, CirclesCoverTheirAreaAtEverySize) {
  constexpr int kSide = 24;
  struct Grid {
    std::vector<int> cover = std::vector<int>(kSide * kSide, 0);
  };
  auto collect = [](int y, int x, const uint8_t* coverage, int length, void* user) {
    auto& g = *static_cast<Grid*>(user);
    for (int i = 0; i < length; ++i) g.cover[static_cast<size_t>(y * kSide + x + i)] += coverage[i];
  };
  auto area = [&](std::initializer_list<draw::Circle> circles) {
    Grid g;
    EXPECT_TRUE(draw::circleCoverage(circles.begin(), circles.size(), kSide, kSide, collect, &g));
    long sum = 0;
    for (int v : g.cover) {
      EXPECT_LE(v, 255);
      sum += v;
    }
    return sum / 255.0;
  };
  for (double r : {0.33, 0.5, 1.0, 1.4, 4.7, 7.9, 11.0})
    for (double at : {12.0, 11.37, 12.5}) {
      const double expected = M_PI * r * r;
      EXPECT_NEAR(area({{at, 24 - at, r}}), expected, 0.01 * expected + 0.01) << "r " << r << " at " << at;
    }
  // Two overlapping circles cover their union (radius 3, centres 3 apart), give or take the
  // pixels where both edges cross, whose coverages add rather than unite; and a circle half off
  // the raster covers the half on it.
  const double lens = 2 * 9 * std::acos(0.5) - 1.5 * std::sqrt(36 - 9);
  const double both = area({{9, 12, 3}, {12, 12, 3}});
  EXPECT_NEAR(both, 2 * M_PI * 9 - lens, 0.02 * (2 * M_PI * 9 - lens));
  EXPECT_NEAR(area({{0, 12, 5}}), M_PI * 25 / 2, 0.3);
}

TEST(Encode, PngCarriesColourAndTransparency) {
  const Template& t = templ(365);
  Raster r = renderStamp(fonts(), t.style, U"天宝公司", 300);
  std::string png = encodePng(r, 0xE60012);
  spng_ctx* ctx = spng_ctx_new(0);
  spng_set_png_buffer(ctx, png.data(), png.size());
  size_t outSize = 0;
  ASSERT_EQ(spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &outSize), 0);
  std::vector<uint8_t> rgba(outSize);
  ASSERT_EQ(spng_decode_image(ctx, rgba.data(), rgba.size(), SPNG_FMT_RGBA8, SPNG_DECODE_TRNS), 0);
  spng_ctx_free(ctx);
  auto px = [&](int x, int y) { return &rgba[(static_cast<size_t>(y) * 300 + x) * 4]; };
  EXPECT_EQ(px(0, 0)[3], 0);
  const uint8_t* centre = px(150, 150);
  EXPECT_EQ(centre[0], 0xE6);
  EXPECT_EQ(centre[1], 0x00);
  EXPECT_EQ(centre[2], 0x12);
  EXPECT_EQ(centre[3], 255);
}

// The PNG is framed and deflated by our own code, with scratch buffers each thread reuses: the
// indexes must come back exactly, with valid CRCs and Adler-32 (the decoder checks both), for
// odd widths with padded rows, one pixel, a picture far larger than the last, and from several
// threads at once.
TEST(Encode, PngIndexesComeBackExactlyWhateverTheRasterAndThread) {
  auto pattern = [](int w, int h, int stride) {
    Raster r;
    r.width = w, r.height = h, r.stride = stride;
    r.alpha.assign(static_cast<size_t>(stride) * h, 0xEE);  // padding that must not leak in
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        r.alpha[static_cast<size_t>(y) * stride + x] = static_cast<uint8_t>((x * 7 + y * 13) % 5 == 0 ? (x ^ y) & 255 : (y % 3 ? 0 : 255));
    return r;
  };
  auto decodesTo = [](const std::string& png, const Raster& r) -> testing::AssertionResult {
    spng_ctx* ctx = spng_ctx_new(0);
    spng_set_png_buffer(ctx, png.data(), png.size());
    spng_ihdr ihdr{};
    size_t size = 0;
    std::vector<uint8_t> idx;
    int rc = spng_get_ihdr(ctx, &ihdr);
    if (!rc) rc = spng_decoded_image_size(ctx, SPNG_FMT_PNG, &size);
    if (!rc) idx.resize(size), rc = spng_decode_image(ctx, idx.data(), idx.size(), SPNG_FMT_PNG, 0);
    spng_ctx_free(ctx);
    if (rc) return testing::AssertionFailure() << "decoder: " << spng_strerror(rc);
    if (ihdr.width != static_cast<uint32_t>(r.width) || ihdr.height != static_cast<uint32_t>(r.height) ||
        ihdr.color_type != SPNG_COLOR_TYPE_INDEXED)
      return testing::AssertionFailure() << "header " << ihdr.width << "x" << ihdr.height;
    for (int y = 0; y < r.height; ++y)
      for (int x = 0; x < r.width; ++x)
        if (idx[static_cast<size_t>(y) * r.width + x] != r.at(x, y))
          return testing::AssertionFailure() << "index at " << x << "," << y;
    return testing::AssertionSuccess();
  };
  const Template& t = templ(365);
  const Raster rendered = renderStamp(fonts(), t.style, U"天宝公司", 300);
  const Raster cases[] = {rendered, pattern(7, 5, 8), pattern(1, 1, 4), pattern(2048, 1500, 2048), pattern(33, 9, 36)};
  for (const Raster& r : cases) EXPECT_TRUE(decodesTo(encodePng(r, 0xE60012), r)) << r.width << "x" << r.height;
  std::vector<std::thread> threads;
  std::atomic<int> good{0};
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([&, i] {
      for (int n = 0; n < 20; ++n) {
        const Raster& r = cases[(i + n) % 3 == 0 ? 0 : 1];
        good += static_cast<bool>(decodesTo(encodePng(r, 0x1010D0, true), r));
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(good.load(), 80);
}

TEST(Encode, JpegIsOnWhiteAndGifHasItsHeader) {
  const Template& t = templ(365);
  Raster r = renderStamp(fonts(), t.style, U"天宝公司", 300);
  std::string jpeg = encodeJpeg(r, 0xE60012);
  tjhandle tj = tjInitDecompress();
  std::vector<uint8_t> rgb(300 * 300 * 3);
  ASSERT_EQ(tjDecompress2(tj, reinterpret_cast<const unsigned char*>(jpeg.data()), jpeg.size(), rgb.data(), 300, 0, 300,
                          TJPF_RGB, 0),
            0);
  tjDestroy(tj);
  EXPECT_GT(rgb[0], 245);  // corner white
  const uint8_t* centre = &rgb[(150 * 300 + 150) * 3];
  EXPECT_GT(centre[0], 200);
  EXPECT_LT(centre[1], 40);
  std::string gif = encodeGif(r, 0xE60012);
  ASSERT_GT(gif.size(), 13u);
  EXPECT_EQ(gif.substr(0, 3), "GIF");
  EXPECT_EQ(static_cast<unsigned char>(gif[6]) | (static_cast<unsigned char>(gif[7]) << 8), 300);
}

TEST(Cloud, TakesExactlyTwoCharacters) {
  const Template* cloud = nullptr;
  for (const Template& t : Catalog::builtIn().all())
    if (t.style.shape == Shape::Cloud) cloud = &t;
  ASSERT_NE(cloud, nullptr);
  struct Case {
    const char* text;
    bool ok;
  } cases[] = {{"%E5%90%89", false},
               {"%E5%90%89%E7%A5%A5", true},
               {"%E5%90%89%E7%A5%A5%E5%A6%82", false},
               {"AB", true},           // two letters: one cell, but two characters
               {"Anna", true},         // four letters: two cells
               {"Li%20Wu", false},     // five half cells: three
               {"%E5%90%89A", true},   // 吉A
               {"A%E5%90%89B", false}, // A, 吉, B: three cells
               {"Tambrel", false}};
  for (const Case& c : cases) {
    std::string error;
    EXPECT_EQ(decodeStampText(c.text, *cloud, &error).has_value(), c.ok) << c.text;
  }
}

}  // namespace
}  // namespace tambrel

namespace tambrel {
namespace {

// Designs stream in with a ring width each, many times the layers the cache holds: the
// templates' layers stay, and the designs' keep within a budget of their own.
TEST(LayerCache, DesignsNeverPushOutTheTemplatesLayers) {
  const Template& t = templ(365);
  renderStamp(fonts(), t.style, U"天宝印章有限公司", 1000);
  const LayerCacheUse before = layerCacheUse();
  renderStamp(fonts(), t.style, U"天宝印章有限公司", 1000);
  EXPECT_EQ(layerCacheUse().templateMisses, before.templateMisses) << "the template's layer is kept";
  for (int i = 0; i < 400; ++i) {
    StampStyle s = t.style;
    s.emblem = Emblem::None;
    s.bottom = Bottom::None;
    auto layout = std::make_shared<DesignLayout>();
    layout->borderMm = 0.5 + i * 0.01;
    s.layout = layout;
    renderStamp(fonts(), s, U"", 1000);
  }
  const LayerCacheUse after = layerCacheUse();
  EXPECT_GE(after.designMisses, before.designMisses + 400);
  EXPECT_LT(after.designLayers, 400u) << "the designs' budget holds only some of them";
  EXPECT_LE(after.designBytes, 4u << 20);
  renderStamp(fonts(), t.style, U"天宝印章有限公司", 1000);
  EXPECT_EQ(layerCacheUse().templateMisses, after.templateMisses) << "the template's layer survived the designs";
}

// Two render threads meet thousands of characters in every face, far more outlines than the
// cap holds: what the process keeps stays under the one cap, and the cache is in use.
TEST(GlyphCache, OutlinesOfEveryThreadShareOneCap) {
  auto meet = [](char32_t from) {
    draw::SurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_A8, 8, 8));
    draw::ContextPtr cr(cairo_create(surface.get()));
    for (Script script : {Script::Song, Script::Hei, Script::Kai, Script::Li, Script::Zhuan}) {
      StampStyle style;
      style.script = script;
      draw::Painter p(fonts(), style, cr.get());
      for (char32_t c = from; c < from + 2000; ++c) p.shape(c);
    }
  };
  std::thread a(meet, U'\u4E00'), b(meet, U'\u6000');
  a.join();
  b.join();
  EXPECT_LE(draw::glyphCacheBytes(), draw::kGlyphCacheBytes);
  EXPECT_GT(draw::glyphCacheBytes(), draw::kGlyphCacheBytes / 2);
}

}  // namespace
}  // namespace tambrel
