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

// The text-independent layers per template look and size, shared by all threads. Bounded in
// bytes (least recently used first out) so that requests for many sizes cannot grow it: at the
// usual sizes it holds every template, and a miss only costs the drawing it saves.
class FixedLayerCache {
 public:
  static constexpr size_t kBudget = 16u << 20;

  std::shared_ptr<const SparseLayer> find(const FixedKey& key) {
    std::lock_guard lock(mutex_);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (it->first == key) {
        entries_.splice(entries_.begin(), entries_, it);
        return it->second;
      }
    }
    return nullptr;
  }

  std::shared_ptr<const SparseLayer> insert(const FixedKey& key, SparseLayer layer) {
    auto value = std::make_shared<const SparseLayer>(std::move(layer));
    if (value->footprint() > kBudget / 8) return value;  // a rare huge size: not worth a slot
    std::lock_guard lock(mutex_);
    for (const auto& entry : entries_)
      if (entry.first == key) return entry.second;  // another thread drew it meanwhile
    entries_.emplace_front(key, value);
    bytes_ += value->footprint();
    while (bytes_ > kBudget) {
      bytes_ -= entries_.back().second->footprint();
      entries_.pop_back();
    }
    return value;
  }

 private:
  std::mutex mutex_;
  std::list<std::pair<FixedKey, std::shared_ptr<const SparseLayer>>> entries_;
  size_t bytes_ = 0;
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

SealSizeMm sealSizeMm(Shape shape) {
  ShapeMm mm = shapeMm(shape);
  return {mm.w, mm.h};
}

}  // namespace tambrel
