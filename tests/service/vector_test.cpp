// The vector pictures show the same stamp as the PNG: a table of templates (every shape, yin and
// yang, CJK, Latin and mixed texts, aged and clean) is drawn as PNG and as SVG rasterised by
// librsvg at the same pixels, and as PDF rasterised by poppler, and compared by coverage.
//
// Tolerance. Two renderers anti-alias edges differently, so pixels differ along every edge; a
// glyph that is missing or moved changes whole blocks. So the comparison is on 1 mm blocks:
//   - the mean coverage of every block differs by at most kBlockTolerance (12 % of full ink),
//   - the total coverage differs by at most kTotalTolerance (4 %).
// Measured on this table: clean stamps differ by at most 5.3 % in a block, aged ones by 9.3 %
// (their ink noise lands on other pixels in each renderer), and the totals by at most 2.9 %
// (a long yang seal at 300 px: thin strokes are mostly edge). A missing or moved glyph differs
// by 79 % or more in a block (ComparisonCatchesAMissingOrMovedGlyph).
#include <cairo.h>
#include <librsvg/rsvg.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "draw/render.h"
#include "draw/vector.h"
#include "test_support.h"
#include "text/text.h"

namespace tambrel {
namespace {

using testing_support::fonts;
using testing_support::templ;

constexpr double kBlockTolerance = 0.12;
constexpr double kTotalTolerance = 0.04;

struct Case {
  int id;
  const char* text;  // UTF-8
  const char* what;
};

// Every shape and relief, CJK, Latin and mixed, aged and clean.
const Case kCases[] = {
    {365, "天宝印章有限公司", "round, CJK, star"},
    {369, "Tambrel Seal Works", "round, Latin"},
    {339, "天宝印", "round yin, aged"},
    {359, "天宝Co|合同专用章", "oval, mixed, line under the star"},
    {293, "天宝印章", "oval, aged"},
    {366, "天宝", "square yin"},
    {362, "天宝印章", "square yang"},
    {363, "Ta宝", "square yin, aged, mixed"},
    {361, "天宝印", "rectangle"},
    {181, "Tambrel", "rectangle, aged, Latin"},
    {356, "天宝印章", "long"},
    {348, "天宝AB", "long yin, mixed"},
    {124, "天宝", "cloud"},
    {124, "Tam Brel", "cloud, Latin"},
};

// Coverage 0..1 per pixel.
struct Coverage {
  int width = 0, height = 0;
  std::vector<double> a;
  double at(int x, int y) const { return a[static_cast<size_t>(y) * width + x]; }
};

Coverage fromRaster(const Raster& r) {
  Coverage c{r.width, r.height, std::vector<double>(static_cast<size_t>(r.width) * r.height)};
  for (int y = 0; y < r.height; ++y)
    for (int x = 0; x < r.width; ++x) c.a[static_cast<size_t>(y) * r.width + x] = r.at(x, y) / 255.0;
  return c;
}

Coverage fromSurface(cairo_surface_t* s) {
  cairo_surface_flush(s);
  const int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
  const int stride = cairo_image_surface_get_stride(s);
  const unsigned char* data = cairo_image_surface_get_data(s);
  Coverage c{w, h, std::vector<double>(static_cast<size_t>(w) * h)};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint32_t px;
      std::memcpy(&px, data + static_cast<size_t>(y) * stride + 4 * x, 4);
      c.a[static_cast<size_t>(y) * w + x] = (px >> 24) / 255.0;
    }
  return c;
}

// The SVG drawn by librsvg at the same place and scale as the raster: the seal's millimetres
// centred in the picture, pxPerMm pixels each.
Coverage rasteriseSvg(const std::string& svg, int width, int height, double pxPerMm, SealSizeMm mm) {
  GError* error = nullptr;
  RsvgHandle* handle = rsvg_handle_new_from_data(reinterpret_cast<const guint8*>(svg.data()), svg.size(), &error);
  if (!handle) {
    ADD_FAILURE() << "librsvg cannot read the SVG: " << (error ? error->message : "?");
    if (error) g_error_free(error);
    return {};
  }
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  cairo_t* cr = cairo_create(s);
  RsvgRectangle viewport{(width - mm.width * pxPerMm) / 2, (height - mm.height * pxPerMm) / 2, mm.width * pxPerMm,
                         mm.height * pxPerMm};
  if (!rsvg_handle_render_document(handle, cr, &viewport, &error)) {
    ADD_FAILURE() << "librsvg cannot draw the SVG: " << (error ? error->message : "?");
    if (error) g_error_free(error);
  }
  cairo_destroy(cr);
  g_object_unref(handle);
  Coverage c = fromSurface(s);
  cairo_surface_destroy(s);
  return c;
}

struct Difference {
  double worstBlock = 0;  // largest difference of a block's mean coverage
  double total = 0;       // difference of the total coverage, relative to the larger total
};

Difference compare(const Coverage& a, const Coverage& b, int block) {
  Difference d;
  // Poppler rounds the page up to whole pixels: one extra row or column of nothing.
  if (std::abs(a.width - b.width) > 1 || std::abs(a.height - b.height) > 1 || a.a.empty() || b.a.empty()) {
    ADD_FAILURE() << "sizes differ: " << a.width << "x" << a.height << " against " << b.width << "x" << b.height;
    d.worstBlock = d.total = 1;
    return d;
  }
  const int width = std::min(a.width, b.width), height = std::min(a.height, b.height);
  double ta = 0, tb = 0;
  for (int by = 0; by < height; by += block)
    for (int bx = 0; bx < width; bx += block) {
      double sa = 0, sb = 0;
      int n = 0;
      for (int y = by; y < std::min(by + block, height); ++y)
        for (int x = bx; x < std::min(bx + block, width); ++x, ++n) sa += a.at(x, y), sb += b.at(x, y);
      ta += sa, tb += sb;
      d.worstBlock = std::max(d.worstBlock, std::abs(sa - sb) / n);
    }
  d.total = std::abs(ta - tb) / std::max({ta, tb, 1.0});
  return d;
}

std::u32string u32(const char* s) { return *text::decodeUtf8(s); }

TEST(VectorStamp, SvgShowsTheSameStampAsThePng) {
  Difference worst;
  for (const Case& c : kCases) {
    const StampStyle& style = templ(c.id).style;
    for (int px : {300, 600}) {
      Raster png = renderStamp(fonts(), style, u32(c.text), px);
      const std::string svg = renderStampVector(fonts(), style, u32(c.text), VectorFormat::Svg);
      ASSERT_FALSE(svg.empty()) << c.what;
      Coverage vec = rasteriseSvg(svg, png.width, png.height, png.pxPerMm, sealSizeMm(style.shape));
      const int block = std::max(4, static_cast<int>(std::lround(png.pxPerMm)));  // about 1 mm
      Difference d = compare(fromRaster(png), vec, block);
      EXPECT_LE(d.worstBlock, kBlockTolerance) << c.id << " " << c.what << " at " << px << " px";
      EXPECT_LE(d.total, kTotalTolerance) << c.id << " " << c.what << " at " << px << " px";
      worst.worstBlock = std::max(worst.worstBlock, d.worstBlock);
      worst.total = std::max(worst.total, d.total);
    }
  }
  std::printf("PNG against SVG: worst 1 mm block %.1f %%, worst total %.2f %%\n", worst.worstBlock * 100,
              worst.total * 100);
}

TEST(VectorStamp, ComparisonCatchesAMissingOrMovedGlyph) {
  // The measure must see what it guards against: a different text, one character short, or
  // the same stamp shifted by 1 mm.
  const StampStyle& style = templ(362).style;
  Raster png = renderStamp(fonts(), style, U"天宝印章", 300);
  const SealSizeMm mm = sealSizeMm(style.shape);
  const int block = static_cast<int>(std::lround(png.pxPerMm));
  for (const char* other : {"天宝印", "天宝印宝"}) {
    std::string svg = renderStampVector(fonts(), style, u32(other), VectorFormat::Svg);
    Difference d = compare(fromRaster(png), rasteriseSvg(svg, png.width, png.height, png.pxPerMm, mm), block);
    EXPECT_GT(d.worstBlock, kBlockTolerance * 2) << other;
  }
  std::string svg = renderStampVector(fonts(), style, U"天宝印章", VectorFormat::Svg);
  Coverage shifted = rasteriseSvg(svg, png.width, png.height, png.pxPerMm, {mm.width - 2, mm.height});
  EXPECT_GT(compare(fromRaster(png), shifted, block).worstBlock, kBlockTolerance * 2);
}

TEST(VectorStamp, SvgIsOutlinesAtTheSealsSizeInItsColour) {
  struct Size {
    int id;
    const char* width;
    const char* height;
  } sizes[] = {{365, "42mm", "42mm"}, {359, "45mm", "31.5mm"}, {362, "20mm", "20mm"},
               {361, "40mm", "20mm"}, {356, "16mm", "40mm"},   {124, "45mm", "25.5mm"}};
  for (const Size& s : sizes) {
    const StampStyle& style = templ(s.id).style;
    const std::string svg = renderStampVector(fonts(), style, U"天宝", VectorFormat::Svg);
    EXPECT_NE(svg.find(std::string("width=\"") + s.width + "\" height=\"" + s.height + "\""), std::string::npos)
        << s.id;
    for (const char* font : {"<text", "font", "glyph"}) EXPECT_EQ(svg.find(font), std::string::npos) << s.id << " " << font;
    char colour[16];
    std::snprintf(colour, sizeof colour, "fill=\"#%06X\"", style.color);
    EXPECT_NE(svg.find(colour), std::string::npos) << s.id << " needs its exact colour " << colour;
    // Transparent ground: the only painted thing is the colour seen through the ink mask.
    EXPECT_NE(svg.find("mask=\"url(#ink)\""), std::string::npos) << s.id;
    EXPECT_EQ(svg, renderStampVector(fonts(), style, U"天宝", VectorFormat::Svg)) << s.id << " is deterministic";
  }
}

std::string run(const std::string& command) {
  std::string out;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe.get())) > 0) out.append(buf, n);
  return out;
}

// Poppler draws the PDF on white; the ink's coverage comes back from the channel where the
// stamp colour is darkest against white.
Coverage rasterisePdf(const std::string& file, double pxPerMm, uint32_t rgb) {
  const std::string png = file + ".png";
  std::string cmd = "pdftoppm -png -singlefile -r " + std::to_string(pxPerMm * 25.4) + " " + file + " " + file;
  if (std::system(cmd.c_str()) != 0) {
    ADD_FAILURE() << "pdftoppm failed on " << file;
    return {};
  }
  cairo_surface_t* s = cairo_image_surface_create_from_png(png.c_str());
  const int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
  const int stride = cairo_image_surface_get_stride(s);
  const unsigned char* data = cairo_image_surface_get_data(s);
  const int shift = ((rgb >> 16) & 255) <= ((rgb >> 8) & 255) && ((rgb >> 16) & 255) <= (rgb & 255) ? 16
                    : ((rgb >> 8) & 255) <= (rgb & 255)                                             ? 8
                                                                                                    : 0;
  const double darkest = (rgb >> shift) & 255;
  Coverage c{w, h, std::vector<double>(static_cast<size_t>(w) * h)};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint32_t px;
      std::memcpy(&px, data + static_cast<size_t>(y) * stride + 4 * x, 4);
      c.a[static_cast<size_t>(y) * w + x] = std::clamp((255.0 - ((px >> shift) & 255)) / (255.0 - darkest), 0.0, 1.0);
    }
  cairo_surface_destroy(s);
  std::filesystem::remove(png);
  return c;
}

TEST(VectorStamp, PdfIsOnePageOfTheSealsSizeAndShowsTheSameStamp) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("stampd-pdf-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  Difference worst;
  for (const Case& c : kCases) {
    const StampStyle& style = templ(c.id).style;
    const std::string pdf = renderStampVector(fonts(), style, u32(c.text), VectorFormat::Pdf);
    ASSERT_EQ(pdf.substr(0, 5), "%PDF-") << c.what;
    const std::string file = (dir / (std::to_string(c.id) + ".pdf")).string();
    std::ofstream(file, std::ios::binary) << pdf;
    const std::string info = run("pdfinfo " + file + " 2>&1");
    EXPECT_NE(info.find("Pages:           1\n"), std::string::npos) << c.what << "\n" << info;
    const SealSizeMm mm = sealSizeMm(style.shape);
    double w = 0, h = 0;
    size_t at = info.find("Page size:");
    ASSERT_NE(at, std::string::npos) << c.what << "\n" << info;
    ASSERT_EQ(std::sscanf(info.c_str() + at, "Page size: %lf x %lf pts", &w, &h), 2) << info;
    EXPECT_NEAR(w, mm.width * 72 / 25.4, 0.01) << c.what;
    EXPECT_NEAR(h, mm.height * 72 / 25.4, 0.01) << c.what;
    EXPECT_EQ(info.find("Syntax Error"), std::string::npos) << c.what << "\n" << info;

    // At 10 pixels per millimetre both pictures are whole pixels wide, with no margin.
    constexpr double kPxPerMm = 10;
    Coverage fromPdf = rasterisePdf(file, kPxPerMm, style.color);
    const std::string svg = renderStampVector(fonts(), style, u32(c.text), VectorFormat::Svg);
    Coverage fromSvg = rasteriseSvg(svg, static_cast<int>(std::lround(mm.width * kPxPerMm)),
                                    static_cast<int>(std::lround(mm.height * kPxPerMm)), kPxPerMm, mm);
    Difference d = compare(fromSvg, fromPdf, static_cast<int>(kPxPerMm));
    EXPECT_LE(d.worstBlock, kBlockTolerance) << c.id << " " << c.what;
    EXPECT_LE(d.total, kTotalTolerance) << c.id << " " << c.what;
    worst.worstBlock = std::max(worst.worstBlock, d.worstBlock);
    worst.total = std::max(worst.total, d.total);
  }
  std::printf("PDF against SVG: worst 1 mm block %.1f %%, worst total %.2f %%\n", worst.worstBlock * 100,
              worst.total * 100);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tambrel
