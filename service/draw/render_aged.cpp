// The aged look, the same in every format: speckles and worn patches where the ink did not
// take, bites out of the edge, and uneven density, all drawn from a generator seeded by the
// text, so a stamp looks equally old at every size and in every format.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// Wear cut straight out of a coverage raster, as cairo's DEST_OUT with the wear's alpha would cut
// it (d(1 - a·c) for coverage c), but with the circles' coverage and the fades computed here: a
// stamp has a few hundred speckles, and a cairo fill for each was most of the aged look's time.
class RasterWear : public WearSink {
 public:
  RasterWear(Raster& raster, const cairo_matrix_t& mmToPx) : raster_(raster), m_(mmToPx) {}

  void speckle(double x, double y, double r, double alpha) override {
    Cut cut{this, static_cast<float>(alpha), nullptr};
    const Circle c = toPx(x, y, r);
    circleCoverage(&c, 1, raster_.width, raster_.height, cutRow, &cut);
  }
  void chip(double x, double y, double r) override { chips_.push_back(toPx(x, y, r)); }
  void bite() override {
    Cut cut{this, 1.0f, nullptr};
    circleCoverage(chips_.data(), chips_.size(), raster_.width, raster_.height, cutRow, &cut);
    chips_.clear();
  }
  // A radial fade from alpha at the centre to nothing at the rim, sampled at pixel centres as a
  // cairo radial gradient is.
  void patch(double x, double y, double r, double alpha) override {
    const Circle c = toPx(x, y, r);
    Fade fade{c.x, c.y, 1 / c.r, alpha};
    Cut cut{this, 1.0f, &fade};
    circleCoverage(&c, 1, raster_.width, raster_.height, fadeRow, &cut);
  }

 private:
  struct Fade {
    double cx, cy, invR, alpha;
  };
  struct Cut {
    RasterWear* self;
    float alpha;
    const Fade* fade;
  };

  Circle toPx(double x, double y, double r) const {
    double px = x, py = y, pr = r, zero = 0;
    cairo_matrix_transform_point(&m_, &px, &py);
    cairo_matrix_transform_distance(&m_, &pr, &zero);
    return {px, py, std::abs(pr)};
  }

  // An even cut, pixel by pixel: where the coverage is 0 the pixel keeps its value.
  static void cutRow(int y, int x, const uint8_t* coverage, int length, void* user) {
    const Cut& cut = *static_cast<const Cut*>(user);
    uint8_t* d = cut.self->raster_.alpha.data() + static_cast<size_t>(y) * cut.self->raster_.stride + x;
    for (int i = 0; i < length; ++i) {
      const float keep = 1 - cut.alpha * (coverage[i] / 255.0f);
      d[i] = static_cast<uint8_t>(d[i] * keep + 0.5f);
    }
  }

  // A fading cut, pixel by pixel, four at a time: the square root per pixel was most of a
  // patch's time.
  static void fadeRow(int y, int x, const uint8_t* coverage, int length, void* user) {
    const Cut& cut = *static_cast<const Cut*>(user);
    const Fade& f = *cut.fade;
    uint8_t* d = cut.self->raster_.alpha.data() + static_cast<size_t>(y) * cut.self->raster_.stride + x;
    const float dy = static_cast<float>((y + 0.5 - f.cy) * f.invR), dx0 = static_cast<float>((x + 0.5 - f.cx) * f.invR);
    const float step = static_cast<float>(f.invR), alpha = static_cast<float>(f.alpha);
    int i = 0;
#if defined(__SSE2__)
    const __m128 one = _mm_set1_ps(1.0f), half = _mm_set1_ps(0.5f), a = _mm_set1_ps(alpha),
                 toUnit = _mm_set1_ps(1 / 255.0f), dy2 = _mm_set1_ps(dy * dy), steps = _mm_set_ps(3, 2, 1, 0);
    const __m128i zero = _mm_setzero_si128();
    auto widen = [&](const uint8_t* p) {
      int four;
      std::memcpy(&four, p, 4);
      return _mm_cvtepi32_ps(_mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(four), zero), zero));
    };
    for (; i + 4 <= length; i += 4) {
      const __m128 dx = _mm_add_ps(_mm_set1_ps(dx0), _mm_mul_ps(_mm_add_ps(_mm_set1_ps(static_cast<float>(i)), steps), _mm_set1_ps(step)));
      const __m128 t2 = _mm_add_ps(_mm_mul_ps(dx, dx), dy2);
      const __m128 ac = _mm_mul_ps(a, _mm_mul_ps(widen(coverage + i), toUnit));
      __m128 keep = _mm_sub_ps(one, _mm_mul_ps(ac, _mm_sub_ps(one, _mm_sqrt_ps(_mm_min_ps(t2, one)))));
      const __m128 inside = _mm_cmplt_ps(t2, one);
      keep = _mm_or_ps(_mm_and_ps(inside, keep), _mm_andnot_ps(inside, one));
      __m128i out = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(widen(d + i), keep), half));
      out = _mm_packs_epi32(out, out);
      const int four = _mm_cvtsi128_si32(_mm_packus_epi16(out, out));
      std::memcpy(d + i, &four, 4);
    }
#endif
    for (; i < length; ++i) {
      const float dx = dx0 + static_cast<float>(i) * step;
      const float t2 = dx * dx + dy * dy;
      if (t2 >= 1) continue;
      const float keep = 1 - alpha * (coverage[i] / 255.0f) * (1 - std::sqrt(t2));
      d[i] = static_cast<uint8_t>(d[i] * keep + 0.5f);
    }
  }

  Raster& raster_;
  cairo_matrix_t m_;
  std::vector<Circle> chips_;
};

}  // namespace

void weather(cairo_t* cr, Raster& raster, double pxPerMm, ShapeMm mm, bool elliptic, uint64_t seed,
             double strength) {
  Rng rng{seed | 1};
  cairo_surface_flush(cairo_get_target(cr));
  cairo_matrix_t mmToPx;
  cairo_get_matrix(cr, &mmToPx);
  RasterWear sink(raster, mmToPx);
  wear(sink, rng, mm, elliptic, strength);
  // Uneven ink: value noise at about 0.4 mm, multiplied into the coverage. Interpolated along
  // the grid's lines first, once per grid line, and then between the two lines about each
  // row: a cell is a few pixels high, and the rows between two lines share their work.
  const double cell = std::max(2.0, 0.4 * pxPerMm);
  const int gw = static_cast<int>(raster.width / cell) + 2, gh = static_cast<int>(raster.height / cell) + 2;
  const std::vector<float> grid = inkNoise(rng, gw, gh, strength);
  std::vector<int> column(raster.width);
  std::vector<float> along(raster.width);
  for (int x = 0; x < raster.width; ++x) {
    const double gx = x / cell;
    column[x] = static_cast<int>(gx);
    along[x] = static_cast<float>(gx - column[x]);
  }
  std::vector<float> above(raster.width), below(raster.width);
  auto alongLine = [&](int gridRow, std::vector<float>& out) {
    const float* g = &grid[static_cast<size_t>(gridRow) * gw];
    for (int x = 0; x < raster.width; ++x) {
      const float* b = g + column[x];
      out[x] = b[0] + (b[1] - b[0]) * along[x];
    }
  };
  int lineRow = -2;  // the grid line `above` holds
  for (int y = 0; y < raster.height; ++y) {
    const double gy = y / cell;
    const int iy = static_cast<int>(gy);
    const float fy = static_cast<float>(gy - iy);
    if (iy != lineRow) {
      if (iy == lineRow + 1) {
        above.swap(below);
      } else {
        alongLine(iy, above);
      }
      alongLine(iy + 1, below);
      lineRow = iy;
    }
    // Coverage times level, rounded, sixteen pixels at a time; an empty pixel stays empty.
    uint8_t* row = raster.alpha.data() + static_cast<size_t>(y) * raster.stride;
    const float keepAbove = 1 - fy;
    int x = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128 half = _mm_set1_ps(0.5f), wa = _mm_set1_ps(keepAbove), wb = _mm_set1_ps(fy);
    for (; x + 16 <= raster.width; x += 16) {
      const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
      const __m128i lo = _mm_unpacklo_epi8(p, zero), hi = _mm_unpackhi_epi8(p, zero);
      auto scale = [&](__m128i words, int at) {
        const size_t i = static_cast<size_t>(x + at);
        const __m128 level = _mm_add_ps(_mm_mul_ps(_mm_loadu_ps(&above[i]), wa), _mm_mul_ps(_mm_loadu_ps(&below[i]), wb));
        return _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(_mm_cvtepi32_ps(words), level), half));
      };
      const __m128i a = _mm_packs_epi32(scale(_mm_unpacklo_epi16(lo, zero), 0), scale(_mm_unpackhi_epi16(lo, zero), 4));
      const __m128i b = _mm_packs_epi32(scale(_mm_unpacklo_epi16(hi, zero), 8), scale(_mm_unpackhi_epi16(hi, zero), 12));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(row + x), _mm_packus_epi16(a, b));
    }
#endif
    for (; x < raster.width; ++x)
      row[x] = static_cast<uint8_t>(row[x] * (above[x] * keepAbove + below[x] * fy) + 0.5f);
  }
  cairo_surface_mark_dirty(cairo_get_target(cr));
}

}  // namespace tambrel::draw
