// The renderer checked by pixels: ring on the border, clear outside the shape, the star's
// centre filled, text ink along the arc and never in the gap before the ring, yin text cut
// out of the red field, and the encoders' colours.
#include <gtest/gtest.h>

#include <spng.h>
#include <turbojpeg.h>

#include <cmath>

#include "encode.h"
#include "render.h"
#include "stamp_service.h"
#include "test_support.h"
#include "text.h"

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
  } cases[] = {{"%E5%90%89", false}, {"%E5%90%89%E7%A5%A5", true}, {"%E5%90%89%E7%A5%A5%E5%A6%82", false}};
  for (const Case& c : cases) {
    std::string error;
    EXPECT_EQ(decodeStampText(c.text, *cloud, &error).has_value(), c.ok) << c.text;
  }
}

}  // namespace
}  // namespace tambrel
