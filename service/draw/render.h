// Stamp rendering: draws one template's shape and text into a one-channel coverage raster.
//
// A stamp is one colour, so the renderer draws only coverage (cairo A8) and leaves colour to
// the encoder: a palette PNG whose 256 entries are the stamp colour at 256 opacities maps the
// coverage bytes straight to palette indexes, which is several times faster to encode than
// RGBA. Drawing works in millimetres of a real seal (a 42 mm round company seal, a 20 mm
// personal seal...) so the proportions follow the usual norms at every pixel size.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "catalog/fonts.h"
#include "catalog/style.h"

namespace tambrel {

struct Raster {
  int width = 0;
  int height = 0;
  int stride = 0;              // bytes per row (cairo's A8 stride, a multiple of 4)
  std::vector<uint8_t> alpha;  // coverage 0..255 of the stamp colour
  double pxPerMm = 0;          // pixels per millimetre of the real seal (0: unknown)
  uint8_t at(int x, int y) const { return alpha[static_cast<size_t>(y) * stride + x]; }
};

// The real size of a seal of this shape, mm (a round company seal is 42 mm across, a square
// personal seal 20 mm). Rasters add a 0.5 mm margin on each side for anti-aliasing.
struct SealSizeMm {
  double width;
  double height;
};
SealSizeMm sealSizeMm(Shape shape);

// Pixel size of a stamp whose longer side is longSide (0: the template's natural size).
NaturalSize stampPixelSize(const StampStyle& style, int longSide);

// Renders text (already validated: at most maxChars cells, no control characters) with the
// style at the given longer side. Deterministic: the same input gives the same pixels, which
// is what lets every instance of the service answer a picture path on its own.
Raster renderStamp(const FontSet& fonts, const StampStyle& style, std::u32string_view text, int longSide);

// The ring-and-star layers kept for reuse (render.cpp): templates' and designs' apart, each with
// its own byte budget, so that designs never push out a template's layer. For tests.
struct LayerCacheUse {
  size_t templateLayers, templateBytes;
  unsigned long long templateMisses;
  size_t designLayers, designBytes;
  unsigned long long designMisses;
};
LayerCacheUse layerCacheUse();

}  // namespace tambrel
