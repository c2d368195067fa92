// Stamps as vector pictures at the seal's real size, for print: SVG and PDF.
//
// A stamp is ink and cuts laid down in order (a yin seal is a field with its text cut out of
// it; wear clears ink away). Neither format can clear what was painted, and cairo's SVG and PDF
// surfaces (1.16) turn the clearing operators into embedded raster fallbacks, which would make
// a yin seal a bitmap. Both formats have luminance masks, though: painting white for ink and
// black for cuts, in the same order, into a mask yields exactly the coverage the raster path
// computes, and the stamp is one rectangle of its colour seen through that mask. The marks are
// recorded from the same drawing code as the raster (render_core.h), glyphs as their outlines,
// so no font is needed to view or print the picture. Units are millimetres; the picture is the
// seal's own size (42 × 42 mm for a round company seal) with a transparent background.
#pragma once

#include <string>
#include <string_view>

#include "catalog/fonts.h"
#include "catalog/style.h"

namespace tambrel {

enum class VectorFormat { Svg, Pdf };

// Deterministic like the raster: the same input gives the same bytes. Empty on failure.
std::string renderStampVector(const FontSet& fonts, const StampStyle& style, std::u32string_view text,
                              VectorFormat format);

// How far the stamp's ink reaches past its seal's outline (the ellipse of a round or oval seal,
// the rectangle of the others), mm; 0 when every ink mark stays inside. Measured on the marks
// that every format draws (the raster places the same outlines), curves flattened to a
// micrometre and strokes with half their width. For checks of layouts.
double inkOverreachMm(const FontSet& fonts, const StampStyle& style, std::u32string_view text);

}  // namespace tambrel
