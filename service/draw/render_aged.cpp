// The aged look, the same in every format: speckles and worn patches where the ink did not
// take, bites out of the edge, and uneven density, all drawn from a generator seeded by the
// text, so a stamp looks equally old at every size and in every format.
#include <algorithm>
#include <cmath>
#include <vector>

#include "draw/render_core.h"

namespace tambrel::draw {

uint64_t agedSeed(const StampStyle& style, std::u32string_view text) {
  if (style.layout && style.layout->agedSeed) return style.layout->agedSeed;
  return fnv1a(text, style.color * 31 + static_cast<int>(style.shape));
}

double agedStrength(const StampStyle& style) {
  return style.layout ? std::clamp(style.layout->agedIntensity, 0, 100) / 50.0 : 1.0;
}

void wear(WearSink& sink, Rng& rng, ShapeMm mm, bool elliptic, double strength) {
  // At strength 1 every count and range is the templates' own, so their pictures stay the same.
  auto scaled = [&](int n) { return strength == 1 ? n : static_cast<int>(std::lround(n * strength)); };
  const int speckles = scaled(static_cast<int>(mm.w * mm.h * 0.12));
  for (int i = 0; i < speckles; ++i) {
    double x = rng.uniform(0, mm.w), y = rng.uniform(0, mm.h);
    double r = rng.uniform(0.05, 0.22);
    double alpha = rng.uniform(0.4, 0.9);
    sink.speckle(x, y, r, alpha);
  }
  // Broken edges: bites out of the outline, as on an old, worn seal.
  const int bites = scaled(6 + static_cast<int>(rng.next() % 6));
  for (int i = 0; i < bites; ++i) {
    bool vertical = rng.next() % 2;
    double along = rng.uniform(0, vertical ? mm.h : mm.w);
    double side = (rng.next() % 2) ? 0 : (vertical ? mm.w : mm.h);
    double x = vertical ? side : along, y = vertical ? along : side;
    if (elliptic) {
      double a = rng.uniform(0, 2 * kPi);
      x = mm.w / 2 * (1 + std::cos(a));
      y = mm.h / 2 * (1 + std::sin(a));
    }
    // A ragged bite: a few overlapping small chips rather than one round hole.
    const int chips = 3 + static_cast<int>(rng.next() % 4);
    for (int k = 0; k < chips; ++k) {
      double r = rng.uniform(0.15, 0.6);
      // The offsets are drawn y first: the order the generator has always been read in.
      double dy = rng.uniform(-0.8, 0.8);
      double dx = rng.uniform(-0.8, 0.8);
      sink.chip(x + dx, y + dy, r);
    }
    sink.bite();
  }
  const int patches = scaled(4 + static_cast<int>(rng.next() % 4));
  for (int i = 0; i < patches; ++i) {
    double x = rng.uniform(0, mm.w), y = rng.uniform(0, mm.h);
    double r = rng.uniform(1.0, 3.0);
    double alpha = rng.uniform(0.3, 0.6);
    sink.patch(x, y, r, alpha);
  }
}

std::vector<float> inkNoise(Rng& rng, int gw, int gh, double strength) {
  std::vector<float> grid(static_cast<size_t>(gw) * gh);
  const double lo = strength == 1 ? 0.8 : std::max(0.0, 1 - 0.2 * strength);
  for (float& v : grid) v = static_cast<float>(rng.uniform(lo, 1.0));
  return grid;
}

namespace {

// Wear cut straight out of a coverage raster.
class RasterWear : public WearSink {
 public:
  explicit RasterWear(cairo_t* cr) : cr_(cr) {}
  void speckle(double x, double y, double r, double alpha) override {
    cairo_set_source_rgba(cr_, 0, 0, 0, alpha);
    cairo_new_sub_path(cr_);
    cairo_arc(cr_, x, y, r, 0, 2 * kPi);
    cairo_fill(cr_);
  }
  void chip(double x, double y, double r) override {
    cairo_set_source_rgba(cr_, 0, 0, 0, 1);
    cairo_new_sub_path(cr_);
    cairo_arc(cr_, x, y, r, 0, 2 * kPi);
  }
  void bite() override { cairo_fill(cr_); }
  void patch(double x, double y, double r, double alpha) override {
    PatternPtr g(cairo_pattern_create_radial(x, y, 0, x, y, r));
    cairo_pattern_add_color_stop_rgba(g.get(), 0, 0, 0, 0, alpha);
    cairo_pattern_add_color_stop_rgba(g.get(), 1, 0, 0, 0, 0);
    cairo_set_source(cr_, g.get());
    cairo_arc(cr_, x, y, r, 0, 2 * kPi);
    cairo_fill(cr_);
  }

 private:
  cairo_t* cr_;
};

}  // namespace

void weather(cairo_t* cr, Raster& raster, double pxPerMm, ShapeMm mm, bool elliptic, uint64_t seed,
             double strength) {
  Rng rng{seed | 1};
  cairo_set_operator(cr, CAIRO_OPERATOR_DEST_OUT);
  RasterWear sink(cr);
  wear(sink, rng, mm, elliptic, strength);
  cairo_surface_flush(cairo_get_target(cr));
  // Uneven ink: value noise at about 0.4 mm, multiplied into the coverage.
  const double cell = std::max(2.0, 0.4 * pxPerMm);
  const int gw = static_cast<int>(raster.width / cell) + 2, gh = static_cast<int>(raster.height / cell) + 2;
  const std::vector<float> grid = inkNoise(rng, gw, gh, strength);
  for (int y = 0; y < raster.height; ++y) {
    double gy = y / cell;
    int iy = static_cast<int>(gy);
    double fy = gy - iy;
    uint8_t* row = raster.alpha.data() + static_cast<size_t>(y) * raster.stride;
    for (int x = 0; x < raster.width; ++x) {
      if (!row[x]) continue;
      double gx = x / cell;
      int ix = static_cast<int>(gx);
      double fx = gx - ix;
      const float* g0 = &grid[static_cast<size_t>(iy) * gw + ix];
      const float* g1 = g0 + gw;
      double v = (g0[0] * (1 - fx) + g0[1] * fx) * (1 - fy) + (g1[0] * (1 - fx) + g1[1] * fx) * fy;
      row[x] = static_cast<uint8_t>(row[x] * v + 0.5);
    }
  }
  cairo_surface_mark_dirty(cairo_get_target(cr));
}


}  // namespace tambrel::draw
