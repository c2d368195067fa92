// Stamp rendering into a coverage raster; see render.h for the approach. The shapes are drawn
// by their own files over the common core (render_core.h); this file sets up the surface,
// reuses the text-independent layers of round and oval seals, and ages the result.
#include "render.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <list>
#include <memory>
#include <mutex>

#include "render_core.h"
#include "text.h"

namespace tambrel {
namespace {

using namespace draw;

// Weathered look: speckles and worn patches where the ink did not take, and uneven density.
void weather(cairo_t* cr, Raster& raster, double pxPerMm, ShapeMm mm, bool elliptic, uint64_t seed) {
  Rng rng{seed | 1};
  cairo_set_operator(cr, CAIRO_OPERATOR_DEST_OUT);
  const int speckles = static_cast<int>(mm.w * mm.h * 0.12);
  for (int i = 0; i < speckles; ++i) {
    double x = rng.uniform(0, mm.w), y = rng.uniform(0, mm.h);
    double r = rng.uniform(0.05, 0.22);
    cairo_set_source_rgba(cr, 0, 0, 0, rng.uniform(0.4, 0.9));
    cairo_new_sub_path(cr);
    cairo_arc(cr, x, y, r, 0, 2 * kPi);
    cairo_fill(cr);
  }
  // Broken edges: bites out of the outline, as on an old, worn seal.
  const int bites = 6 + static_cast<int>(rng.next() % 6);
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
    cairo_set_source_rgba(cr, 0, 0, 0, 1);
    const int chips = 3 + static_cast<int>(rng.next() % 4);
    for (int k = 0; k < chips; ++k) {
      double r = rng.uniform(0.15, 0.6);
      cairo_new_sub_path(cr);
      cairo_arc(cr, x + rng.uniform(-0.8, 0.8), y + rng.uniform(-0.8, 0.8), r, 0, 2 * kPi);
    }
    cairo_fill(cr);
  }
  const int patches = 4 + static_cast<int>(rng.next() % 4);
  for (int i = 0; i < patches; ++i) {
    double x = rng.uniform(0, mm.w), y = rng.uniform(0, mm.h);
    double r = rng.uniform(1.0, 3.0);
    cairo_pattern_t* g = cairo_pattern_create_radial(x, y, 0, x, y, r);
    cairo_pattern_add_color_stop_rgba(g, 0, 0, 0, 0, rng.uniform(0.3, 0.6));
    cairo_pattern_add_color_stop_rgba(g, 1, 0, 0, 0, 0);
    cairo_set_source(cr, g);
    cairo_arc(cr, x, y, r, 0, 2 * kPi);
    cairo_fill(cr);
    cairo_pattern_destroy(g);
  }
  cairo_surface_flush(cairo_get_target(cr));
  // Uneven ink: value noise at about 0.4 mm, multiplied into the coverage.
  const double cell = std::max(2.0, 0.4 * pxPerMm);
  const int gw = static_cast<int>(raster.width / cell) + 2, gh = static_cast<int>(raster.height / cell) + 2;
  std::vector<float> grid(static_cast<size_t>(gw) * gh);
  for (float& v : grid) v = static_cast<float>(rng.uniform(0.8, 1.0));
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

Raster blankRaster(NaturalSize px) {
  Raster raster;
  raster.width = px.width;
  raster.height = px.height;
  raster.stride = cairo_format_stride_for_width(CAIRO_FORMAT_A8, px.width);
  raster.alpha.assign(static_cast<size_t>(raster.stride) * px.height, 0);
  return raster;
}

SurfacePtr surfaceFor(Raster& raster) {
  return SurfacePtr(cairo_image_surface_create_for_data(raster.alpha.data(), CAIRO_FORMAT_A8, raster.width,
                                                        raster.height, raster.stride));
}

// A context in millimetres of the seal, centred on the surface, drawing opaque coverage.
ContextPtr stampContext(cairo_surface_t* surface, const StampStyle& style, NaturalSize px) {
  ContextPtr cr(cairo_create(surface));
  FontOptionsPtr options(cairo_font_options_create());
  cairo_font_options_set_hint_style(options.get(), CAIRO_HINT_STYLE_NONE);
  cairo_font_options_set_hint_metrics(options.get(), CAIRO_HINT_METRICS_OFF);
  cairo_font_options_set_antialias(options.get(), CAIRO_ANTIALIAS_GRAY);
  cairo_set_font_options(cr.get(), options.get());
  // A quarter pixel of flattening error is invisible and saves time on curved glyph outlines.
  cairo_set_tolerance(cr.get(), 0.25);

  ShapeMm mm = shapeMm(style.shape);
  const double pxPerMm = std::min(px.width / (mm.w + 2 * kMarginMm), px.height / (mm.h + 2 * kMarginMm));
  cairo_translate(cr.get(), (px.width - mm.w * pxPerMm) / 2, (px.height - mm.h * pxPerMm) / 2);
  cairo_scale(cr.get(), pxPerMm, pxPerMm);
  cairo_set_source_rgba(cr.get(), 0, 0, 0, 1);
  return cr;
}

// Everything of a round or oval seal that decides its ring(s) and star.
struct FixedKey {
  Shape shape;
  Relief relief;
  Border border;
  Emblem emblem;
  Bottom bottom;
  int maxChars;
  bool line;
  int width, height;
  bool operator==(const FixedKey&) const = default;
};

// Coverage of the text-independent layers per template look and size, shared by all threads.
// Bounded in bytes (least recently used first out) so that requests for many sizes cannot grow
// it: at the usual sizes it holds every template, and a miss only costs the drawing it saves.
class FixedLayerCache {
 public:
  static constexpr size_t kBudget = 8u << 20;

  std::shared_ptr<const std::vector<uint8_t>> find(const FixedKey& key) {
    std::lock_guard lock(mutex_);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (it->first == key) {
        entries_.splice(entries_.begin(), entries_, it);
        return it->second;
      }
    }
    return nullptr;
  }

  std::shared_ptr<const std::vector<uint8_t>> insert(const FixedKey& key, std::vector<uint8_t> alpha) {
    auto value = std::make_shared<const std::vector<uint8_t>>(std::move(alpha));
    if (value->size() > kBudget / 8) return value;  // a rare huge size: not worth a slot
    std::lock_guard lock(mutex_);
    for (const auto& entry : entries_)
      if (entry.first == key) return entry.second;  // another thread drew it meanwhile
    entries_.emplace_front(key, value);
    bytes_ += value->size();
    while (bytes_ > kBudget) {
      bytes_ -= entries_.back().second->size();
      entries_.pop_back();
    }
    return value;
  }

 private:
  std::mutex mutex_;
  std::list<std::pair<FixedKey, std::shared_ptr<const std::vector<uint8_t>>>> entries_;
  size_t bytes_ = 0;
};

FixedLayerCache& fixedLayers() {
  static FixedLayerCache cache;
  return cache;
}

}  // namespace

std::u32string bottomCode(std::u32string_view text) {
  uint64_t h = fnv1a(text, 0x9E3779B97F4A7C15ull);
  std::u32string code(13, U'0');
  for (int i = 12; i >= 0; --i) {
    code[i] = U'0' + static_cast<char32_t>(h % 10);
    h /= 10;
  }
  return code;
}

NaturalSize stampPixelSize(const StampStyle& style, int longSide) {
  NaturalSize nat = naturalSize(style.shape);
  if (longSide <= 0) return nat;
  ShapeMm mm = shapeMm(style.shape);
  double ratio = mm.w / mm.h;
  if (ratio >= 1) return {longSide, std::max(1, static_cast<int>(std::lround(longSide / ratio)))};
  return {std::max(1, static_cast<int>(std::lround(longSide * ratio))), longSide};
}

Raster renderStamp(const FontSet& fonts, const StampStyle& style, std::u32string_view text, int longSide) {
  NaturalSize px = stampPixelSize(style, longSide);
  Raster raster = blankRaster(px);
  SurfacePtr surface = surfaceFor(raster);
  ContextPtr cr = stampContext(surface.get(), style, px);
  ShapeMm mm = shapeMm(style.shape);
  const double pxPerMm = std::min(px.width / (mm.w + 2 * kMarginMm), px.height / (mm.h + 2 * kMarginMm));

  Painter painter(fonts, style, cr.get());
  // Kai strokes are thin next to carved or printed seal text; give them body.
  if (style.script == Script::Kai || (style.script == Script::Zhuan && !fonts.hasOwnFace(Script::Zhuan)))
    painter.emboldenMm = 0.12 * std::min(mm.w, mm.h) / 20.0;

  std::u32string body(text);
  std::u32string horizontal;
  if (style.bottom == Bottom::Text && (style.shape == Shape::Round || style.shape == Shape::Oval)) {
    // "Name|line" puts the part after the bar on the horizontal line under the star;
    // otherwise the line is the template's own (合同专用章 on a contract seal).
    size_t bar = body.find(U'|');
    if (bar != std::u32string::npos) {
      horizontal = body.substr(bar + 1);
      body = body.substr(0, bar);
    } else {
      horizontal = style.bottomLine.empty() ? U"专用章" : style.bottomLine;
    }
  }

  switch (style.shape) {
    case Shape::Round:
    case Shape::Oval: {
      FixedKey key{style.shape, style.relief, style.border, style.emblem, style.bottom,
                   style.maxChars,  // with no emblem or bottom line a small seal has no star
                   !horizontal.empty(), px.width, px.height};
      std::shared_ptr<const std::vector<uint8_t>> base = fixedLayers().find(key);
      if (!base) {
        // Drawn exactly as the first strokes of a full render: a fresh context on a blank
        // surface with the same transformation and tolerance, so copying it changes no pixel.
        Raster fixedRaster = blankRaster(px);
        SurfacePtr fixedSurface = surfaceFor(fixedRaster);
        ContextPtr fixedCr = stampContext(fixedSurface.get(), style, px);
        Painter fixedPainter(fonts, style, fixedCr.get());
        drawEllipseSeal(fixedPainter, body, horizontal, Layer::Fixed);
        cairo_surface_flush(fixedSurface.get());
        base = fixedLayers().insert(key, std::move(fixedRaster.alpha));
      }
      std::memcpy(raster.alpha.data(), base->data(), raster.alpha.size());
      cairo_surface_mark_dirty(surface.get());
      drawEllipseSeal(painter, body, horizontal, Layer::Text);
      break;
    }
    case Shape::Square:
    case Shape::Rect: drawFrameSeal(painter, body); break;
    case Shape::Long: drawLongSeal(painter, body); break;
    case Shape::Cloud: drawCloudSeal(painter, body); break;
  }
  cairo_surface_flush(surface.get());
  if (style.aged) {
    cairo_identity_matrix(cr.get());
    cairo_translate(cr.get(), (px.width - mm.w * pxPerMm) / 2, (px.height - mm.h * pxPerMm) / 2);
    cairo_scale(cr.get(), pxPerMm, pxPerMm);
    weather(cr.get(), raster, pxPerMm, mm, style.shape == Shape::Round || style.shape == Shape::Oval, fnv1a(text, style.color * 31 + static_cast<int>(style.shape)));
  }
  cairo_surface_flush(surface.get());
  return raster;
}

}  // namespace tambrel
