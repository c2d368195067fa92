// Stamp rendering into a coverage raster; see render.h for the approach. The shapes are drawn
// by their own files over the common core (render_core.h); this file sets up the surface,
// reuses the text-independent layers of round, oval and cloud seals, and ages the result.
#include "draw/render.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <list>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "draw/render_core.h"
#include "text/text.h"

namespace tambrel {
namespace {

using namespace draw;

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
  setDrawingOptions(cr.get());

  ShapeMm mm = styleMm(style);
  const double pxPerMm = std::min(px.width / (mm.w + 2 * kMarginMm), px.height / (mm.h + 2 * kMarginMm));
  cairo_translate(cr.get(), (px.width - mm.w * pxPerMm) / 2, (px.height - mm.h * pxPerMm) / 2);
  cairo_scale(cr.get(), pxPerMm, pxPerMm);
  cairo_set_source_rgba(cr.get(), 0, 0, 0, 1);
  return cr;
}

// Everything of a round, oval or cloud seal that decides its text-independent layer.
struct FixedKey {
  Shape shape;
  Relief relief;
  Border border;
  Emblem emblem;
  Bottom bottom;
  int maxChars;
  bool line;
  int width, height;
  // A design's ring and star: its sizes, centre kind and number of lines (0, 1, more).
  double designW = 0, designH = 0, borderMm = -1, innerRingMm = -1, innerGapMm = -1, starMm = 0;
  int centre = -1, lines = 0;
  bool operator==(const FixedKey&) const = default;
};

// A text-independent layer kept as its inked stretches only: a ring or a frame covers a few
// percent of its square, so a 1000 px layer takes tens of kilobytes rather than a megabyte, and
// the cache below holds every template's layer at the usual sizes instead of thrashing. Laid
// back onto a blank raster it gives the very bytes it was made from.
class SparseLayer {
 public:
  SparseLayer(const std::vector<uint8_t>& alpha, int stride, int height) {
    for (int y = 0; y < height; ++y) {
      const uint8_t* row = alpha.data() + static_cast<size_t>(y) * stride;
      int x = 0;
      while (x < stride) {
        while (x < stride && !row[x]) ++x;
        if (x == stride) break;
        // A stretch runs on over short gaps: copying a few zeros costs less than a new stretch.
        int end = x, gap = 0;
        for (int i = x; i < stride && gap < kJoinGap; ++i) {
          if (row[i])
            end = i + 1, gap = 0;
          else
            ++gap;
        }
        stretches_.push_back({static_cast<size_t>(y) * stride + x, static_cast<uint32_t>(end - x)});
        bytes_.insert(bytes_.end(), row + x, row + end);
        x = end;
      }
    }
    stretches_.shrink_to_fit();
    bytes_.shrink_to_fit();
  }

  // Onto a zeroed raster of the size it was taken from.
  void layOnto(uint8_t* alpha) const {
    const uint8_t* from = bytes_.data();
    for (const Stretch& s : stretches_) {
      std::memcpy(alpha + s.offset, from, s.length);
      from += s.length;
    }
  }

  size_t footprint() const { return stretches_.size() * sizeof(Stretch) + bytes_.size() + sizeof(*this); }

 private:
  static constexpr int kJoinGap = 16;
  struct Stretch {
    size_t offset;
    uint32_t length;
  };
  std::vector<Stretch> stretches_;
  std::vector<uint8_t> bytes_;
};

struct FixedKeyHash {
  size_t operator()(const FixedKey& k) const {
    size_t h = 1469598103934665603ull;
    auto mix = [&](size_t v) { h = (h ^ v) * 1099511628211ull; };
    mix(static_cast<size_t>(k.shape)), mix(static_cast<size_t>(k.relief)), mix(static_cast<size_t>(k.border));
    mix(static_cast<size_t>(k.emblem)), mix(static_cast<size_t>(k.bottom)), mix(static_cast<size_t>(k.maxChars));
    mix(k.line), mix(static_cast<size_t>(k.width)), mix(static_cast<size_t>(k.height));
    for (double v : {k.designW, k.designH, k.borderMm, k.innerRingMm, k.innerGapMm, k.starMm}) mix(std::hash<double>()(v));
    mix(static_cast<size_t>(k.centre + 1)), mix(static_cast<size_t>(k.lines));
    return h;
  }
};

// The text-independent layers per look and size, shared by all threads: found by a hash in
// constant time, however many are kept. Bounded in bytes, least recently used first out, so
// that requests for many sizes cannot grow it; the templates' layers and the designs' have
// budgets of their own, so a stream of designs (every ring width and size its own layer) can
// never push out the templates', which at the usual sizes all stay. A miss costs only the
// drawing it saves.
class FixedLayerCache {
 public:
  static constexpr size_t kTemplateBudget = 12u << 20, kDesignBudget = 4u << 20;

  std::shared_ptr<const SparseLayer> find(const FixedKey& key) {
    Part& part = partOf(key);
    std::lock_guard lock(mutex_);
    auto it = part.index.find(key);
    if (it == part.index.end()) {
      ++part.misses;
      return nullptr;
    }
    part.order.splice(part.order.begin(), part.order, it->second);
    return it->second->second;
  }

  std::shared_ptr<const SparseLayer> insert(const FixedKey& key, SparseLayer layer) {
    Part& part = partOf(key);
    auto value = std::make_shared<const SparseLayer>(std::move(layer));
    if (value->footprint() > part.budget / 8) return value;  // a rare huge size: not worth a slot
    std::lock_guard lock(mutex_);
    if (auto it = part.index.find(key); it != part.index.end()) return it->second->second;  // drawn meanwhile
    part.order.emplace_front(key, value);
    part.index.emplace(key, part.order.begin());
    part.bytes += value->footprint();
    while (part.bytes > part.budget) {
      part.bytes -= part.order.back().second->footprint();
      part.index.erase(part.order.back().first);
      part.order.pop_back();
    }
    return value;
  }

  LayerCacheUse use() {
    std::lock_guard lock(mutex_);
    return {templates_.index.size(), templates_.bytes, templates_.misses,
            designs_.index.size(),   designs_.bytes,   designs_.misses};
  }

 private:
  using Entry = std::pair<FixedKey, std::shared_ptr<const SparseLayer>>;
  struct Part {
    explicit Part(size_t b) : budget(b) {}
    size_t budget;
    std::list<Entry> order;  // most recently used first
    std::unordered_map<FixedKey, std::list<Entry>::iterator, FixedKeyHash> index;
    size_t bytes = 0;
    unsigned long long misses = 0;
  };
  Part& partOf(const FixedKey& key) { return key.centre < 0 ? templates_ : designs_; }

  std::mutex mutex_;
  Part templates_{kTemplateBudget}, designs_{kDesignBudget};
};

FixedLayerCache& fixedLayers() {
  static FixedLayerCache cache;
  return cache;
}

}  // namespace

NaturalSize stampPixelSize(const StampStyle& style, int longSide) {
  NaturalSize nat = naturalSize(style.shape);
  if (longSide <= 0 && !style.layout) return nat;
  // A design of its own proportions keeps the natural longer side.
  if (longSide <= 0) longSide = std::max(nat.width, nat.height);
  ShapeMm mm = styleMm(style);
  double ratio = mm.w / mm.h;
  if (ratio >= 1) return {longSide, std::max(1, static_cast<int>(std::lround(longSide / ratio)))};
  return {std::max(1, static_cast<int>(std::lround(longSide * ratio))), longSide};
}

Raster renderStamp(const FontSet& fonts, const StampStyle& style, std::u32string_view text, int longSide) {
  NaturalSize px = stampPixelSize(style, longSide);
  Raster raster = blankRaster(px);
  SurfacePtr surface = surfaceFor(raster);
  ContextPtr cr = stampContext(surface.get(), style, px);
  ShapeMm mm = styleMm(style);
  const double pxPerMm = std::min(px.width / (mm.w + 2 * kMarginMm), px.height / (mm.h + 2 * kMarginMm));

  Painter painter(fonts, style, cr.get());
  painter.emboldenMm = emboldenMm(fonts, style);
  const StampText split = splitStampText(style, text);
  const std::u32string& horizontal = split.horizontal;

  switch (style.shape) {
    case Shape::Round:
    case Shape::Oval:
    case Shape::Cloud: {
      FixedKey key{style.shape, style.relief, style.border, style.emblem, style.bottom,
                   style.maxChars,  // with no emblem or bottom line a small seal has no star
                   !horizontal.empty(), px.width, px.height};
      if (const DesignLayout* l = style.layout.get()) {
        key.designW = l->widthMm, key.designH = l->heightMm, key.borderMm = l->borderMm;
        key.innerRingMm = l->innerRingMm, key.innerGapMm = l->innerGapMm, key.starMm = l->starMm;
        key.centre = static_cast<int>(l->centre);
        key.lines = static_cast<int>(std::min<size_t>(l->lines.size(), 2));
      }
      std::shared_ptr<const SparseLayer> base = fixedLayers().find(key);
      if (!base) {
        // Drawn exactly as the first strokes of a full render: a fresh context on a blank
        // surface with the same transformation and tolerance, so copying it changes no pixel.
        Raster fixedRaster = blankRaster(px);
        SurfacePtr fixedSurface = surfaceFor(fixedRaster);
        ContextPtr fixedCr = stampContext(fixedSurface.get(), style, px);
        Painter fixedPainter(fonts, style, fixedCr.get());
        drawShape(fixedPainter, split, Layer::Fixed);
        cairo_surface_flush(fixedSurface.get());
        base = fixedLayers().insert(key, SparseLayer(fixedRaster.alpha, fixedRaster.stride, fixedRaster.height));
      }
      base->layOnto(raster.alpha.data());
      cairo_surface_mark_dirty(surface.get());
      drawShape(painter, split, Layer::Text);
      break;
    }
    default: drawShape(painter, split, Layer::All); break;
  }
  cairo_surface_flush(surface.get());
  if (style.aged) {
    cairo_identity_matrix(cr.get());
    cairo_translate(cr.get(), (px.width - mm.w * pxPerMm) / 2, (px.height - mm.h * pxPerMm) / 2);
    cairo_scale(cr.get(), pxPerMm, pxPerMm);
    weather(cr.get(), raster, pxPerMm, mm, style.shape == Shape::Round || style.shape == Shape::Oval, agedSeed(style, text),
            agedStrength(style));
  }
  cairo_surface_flush(surface.get());
  raster.pxPerMm = pxPerMm;
  return raster;
}

LayerCacheUse layerCacheUse() { return fixedLayers().use(); }

SealSizeMm sealSizeMm(Shape shape) {
  ShapeMm mm = shapeMm(shape);
  return {mm.w, mm.h};
}

}  // namespace tambrel
