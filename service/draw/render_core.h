// The common drawing core of the stamp renderer: millimetre geometry of each shape, glyph
// lookup and placement, and the Painter that every shape family draws through.
//
// A stamp is coverage of one colour, built by two kinds of marks in order: ink (cairo's OVER)
// and cuts (CLEAR: yin seals are a solid field with every mark cut out of it). The Painter
// keeps that vocabulary small (inkMode/cutMode/markMode, fill, stroke) so that the same
// drawing code can fill a raster or be recorded as vector marks (see vector.h).
#pragma once

#include <cairo.h>

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "catalog/fonts.h"
#include "catalog/style.h"
#include "draw/render.h"

namespace tambrel::draw {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;
constexpr double kMarginMm = 0.5;  // room for anti-aliasing around the shape

struct ShapeMm {
  double w, h;
};

// The real size of each seal shape, mm: the usual norms (42 mm company seal, 20 mm personal).
ShapeMm shapeMm(Shape s);
// The size a style draws at: its shape's norm, or a design's own width and height.
ShapeMm styleMm(const StampStyle& style);

template <typename T, void (*Destroy)(T*)>
struct CairoDeleter {
  void operator()(T* p) const { Destroy(p); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, CairoDeleter<cairo_surface_t, cairo_surface_destroy>>;
using ContextPtr = std::unique_ptr<cairo_t, CairoDeleter<cairo_t, cairo_destroy>>;
using FontOptionsPtr = std::unique_ptr<cairo_font_options_t, CairoDeleter<cairo_font_options_t, cairo_font_options_destroy>>;
using PathPtr = std::unique_ptr<cairo_path_t, CairoDeleter<cairo_path_t, cairo_path_destroy>>;
using PatternPtr = std::unique_ptr<cairo_pattern_t, CairoDeleter<cairo_pattern_t, cairo_pattern_destroy>>;

// One character's outline at font size 100, so font units are hundredths of an em. Shared with
// the per-thread glyph cache, which hands out the same outline for every later use.
struct Glyph {
  std::shared_ptr<const cairo_path_t> outline;
  cairo_text_extents_t ext{};
  bool found = false;  // false: no face has it, and a hollow square of these extents stands in
};

// The cap on the glyph outlines the whole process keeps (all render threads share them), and
// what they take now.
constexpr size_t kGlyphCacheBytes = 8u << 20;
size_t glyphCacheBytes();

// Height above the baseline, in ems, that Latin text centres on: the middle of a capital.
constexpr double kLatinMid = 0.36;

// Glyph and curve settings every drawing context uses, raster or vector, so outlines, extents
// and flattening are the same on every target: unhinted outlines and metrics, grey
// anti-aliasing, and a quarter unit of flattening error (invisible, and it saves time on curved
// glyph outlines).
void setDrawingOptions(cairo_t* cr);

uint64_t fnv1a(std::u32string_view text, uint64_t h = 1469598103934665603ull);

// Small deterministic generator (xorshift): the aged look depends on the text alone.
struct Rng {
  uint64_t s;
  uint64_t next() {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return s;
  }
  double uniform(double lo, double hi) { return lo + (hi - lo) * static_cast<double>(next() >> 11) / 9007199254740992.0; }
};

// How a character is fitted into its box.
enum class Fit {
  Em,       // the font's em square scaled to the box: natural proportions, for running text
  Stretch,  // the glyph's ink stretched towards the box, as carved seal characters are
};

struct GlyphBox {
  double cx, cy;      // centre, mm
  double w, h;        // box, mm
  double angle = 0;   // rotation, radians clockwise
  Fit fit = Fit::Em;
};

// Takes the marks instead of a raster: vector output records each fill and stroke with the
// mode (ink or cut) and path it was made with. Each call consumes the current path, as cairo's
// own fill and stroke do, except fillPreserve.
class MarkRecorder {
 public:
  virtual ~MarkRecorder() = default;
  virtual void fill(cairo_t* cr) = 0;
  virtual void fillPreserve(cairo_t* cr) = 0;
  virtual void stroke(cairo_t* cr) = 0;
};

class Painter {
 public:
  // Draws on cr, whose user space is millimetres of the seal. With a recorder, every fill and
  // stroke is handed to it instead of being painted (vector output).
  Painter(const FontSet& fonts, const StampStyle& style, cairo_t* cr, MarkRecorder* recorder = nullptr)
      : fonts_(fonts), style_(style), cr_(cr), recorder_(recorder) {}

  bool yin() const { return style_.relief == Relief::Yin; }
  // Marks (text, star, inner lines) are ink on yang stamps and cuts on yin stamps.
  void markMode() { cairo_set_operator(cr_, yin() ? CAIRO_OPERATOR_CLEAR : CAIRO_OPERATOR_OVER); }
  void inkMode() { cairo_set_operator(cr_, CAIRO_OPERATOR_OVER); }
  void cutMode() { cairo_set_operator(cr_, CAIRO_OPERATOR_CLEAR); }

  // Paint the current path in the current mode and clear it.
  void fill();
  void stroke();
  void fillPreserve();

  // Extra stroke around glyph outlines, mm: kai and thin faces look too light in red ink.
  double emboldenMm = 0.0;

  // Looks the character up in the script's face, then in the others. The process keeps the
  // outlines met (per font set, script and character) in one cache of at most
  // kGlyphCacheBytes, so cairo and FreeType do the lookup once and every later use only
  // appends the stored path under its transform.
  Glyph shape(char32_t c);

  // Adds a glyph's outline to the path: the font-unit point (ax, ay) lands on (x, y) mm, the
  // glyph turned by angle and scaled by (sx, sy) mm per font unit. fillMarks() paints it.
  void place(const Glyph& g, double x, double y, double angle, double sx, double sy, double ax, double ay);
  void fillMarks();
  // place() and fillMarks() for one character. On a raster an emboldened glyph is one fill of
  // its outline grown by half the weight, rather than a fill and a stroke.
  void fillGlyph(const Glyph& g, double x, double y, double angle, double sx, double sy, double ax, double ay);

  // One character centred in its box by its ink, as CJK characters are set.
  void drawChar(char32_t c, const GlyphBox& box);

  void star(double cx, double cy, double outerR);
  // Path of an ellipse centred at (cx, cy).
  void ellipsePath(double cx, double cy, double a, double b);
  void roundedRectPath(double x, double y, double w, double h, double r);

  cairo_t* cr() const { return cr_; }
  const StampStyle& style() const { return style_; }
  const FontSet& fonts() const { return fonts_; }
  MarkRecorder* recorder() const { return recorder_; }

 private:
  Glyph lookUp(char32_t c);
  bool fillByFreeType();
  // Whether FreeType may paint on the target: an unclipped A8 image, opaque ink or a cut.
  bool freeTypeTarget();
  bool glyphByEdges(const Glyph& g, double x, double y, double angle, double sx, double sy, double ax, double ay);

  const FontSet& fonts_;
  const StampStyle& style_;
  cairo_t* cr_;
  MarkRecorder* recorder_;
};

// Ring widths (mm) of a seal border: the outer line, and an inner line for double borders.
struct BorderMm {
  double outer;
  double gap;    // between the outer and the inner line
  double inner;  // 0 when there is no inner line
};
BorderMm borderMm(Border b, double scale);
// A style's border after a design's own widths (the same border without a layout).
BorderMm designBorder(const StampStyle& style, BorderMm bd, double scale);

// Shape families, each in its own file.

// What a call draws: the ring(s) and star, and the clouds, do not depend on the text, so they
// are drawn once per template and size and copied under every text (see renderStamp).
enum class Layer { Fixed, Text, All };
void drawEllipseSeal(Painter& p, std::u32string_view text, std::u32string horizontal, Layer layer);  // round, oval
// The field (yin) or outer ring (yang) of a round or oval seal and its inner ring, drawn when
// `fixed`; returns the semi-axes of the ellipse its text stays inside.
struct EllipseMm {
  double a, b;
};
EllipseMm drawEllipseRings(Painter& p, double cx, double cy, double A, double B, const BorderMm& bd, bool fixed);
void drawFrameSeal(Painter& p, std::u32string_view text);  // square, rectangle
void drawLongSeal(Painter& p, std::u32string_view text);
void drawCloudSeal(Painter& p, std::u32string_view text, Layer layer);  // the clouds are the fixed layer
// A round or oval seal of a user's design (style().layout set): every part placed by the
// layout, the norm's proportions wherever it leaves a value unset.
void drawEllipseDesign(Painter& p, std::u32string_view ring, Layer layer);
// The room of a round or oval design, mm, from its layout alone: what the rings leave inside,
// each part's size (the layout's, or the norm's shrunk to the room) and the most each part may
// take so that nothing leaves the seal. drawEllipseDesign lays its parts out by it and the
// design checks refuse what it cannot hold, so every design that passes is drawn inside its
// seal and no glyph is larger than the picture.
struct EllipseRoom {
  double scale;          // the 42 mm norm's proportions: the shorter half-axis / 21
  BorderMm border;
  double ringsMm, mostRingsMm;  // outer line, gap and inner line together; the most they may take
  double edgeA, edgeB;   // inside the rings
  double inside;         // the shorter of the two
  double ringGap;        // between the rings and the ring text
  double ringH, mostRingH;      // the ring text's glyph height
  double innerEdgeA, innerEdgeB;  // inside the ring text, where the inner ring text starts
  double innerH, mostInnerH;
  double starR, mostStarR;
  double codeH, mostCodeH;
  double mostLineH;      // a horizontal line's glyph height
  double lineReach;      // how far from the centre a horizontal line's glyphs may reach, up or down
};
// hasRing: whether the seal has ring text (its band is then taken from the inside).
EllipseRoom ellipseRoom(const StampStyle& style, bool hasRing);
// The least room inside the ring text that an inner ring of text needs.
constexpr double kMinInnerRoomMm = 2;

// Arc text of round and oval seals (render_ellipse.cpp). arcText sets a text along the upper arc
// of the ellipse of outer half-axes (outerA, outerB), glyphs h mm high, spread over at most
// maxSpanDeg centred at centreDeg (0: the top, clockwise positive); pitchMm > 0 fixes the
// distance between glyph centres instead of spreading them. bottomArcText sets small glyphs
// along the bottom, reading left to right; bottomCode is the 13-digit code templates derive
// from their text.
void arcText(Painter& p, std::u32string_view text, double cx, double cy, double outerA, double outerB, double h,
             double maxSpanDeg, double centreDeg = 0, double pitchMm = 0);
void bottomArcText(Painter& p, std::u32string_view text, double cx, double cy, double outerA, double outerB,
                   double h, double widthRatio);
std::u32string bottomCode(std::u32string_view text);

// The inner field of a framed seal (square, rectangle, long), mm.
struct Field {
  double x, y, w, h;
};
// Draws the frame (or the solid field of a yin seal) and leaves the Painter in mark mode.
Field drawFrame(Painter& p);

// Text layouts shared by the shapes.

// Sets a text as centred horizontal lines on baselines, as wide as the box allows: Latin words
// keep their letters' shapes and read left to right. Up to maxLines lines, broken at spaces or,
// for one long word in a tall box, evenly; the layout that draws the letters largest wins.
// Returns the height scale used (mm per font unit); maxScale caps it so that neighbouring
// blocks can share one letter size, and draw = false only measures.
double latinBlock(Painter& p, std::u32string_view raw, double x, double y, double w, double h, int maxLines,
                  double maxScale = 1e9, bool draw = true);
// Whether a text is set as lines of words rather than in a grid: all or mostly Latin.
bool mostlyLatin(std::u32string_view text);
// A mostly-Latin text fills a framed field as lines of words; false for other texts.
bool latinField(Painter& p, std::u32string_view text, const Field& f);

// Lays a text out in a grid of cells: vertical columns read right to left (traditional seals),
// or horizontal rows read left to right. counts[i] is the number of cells in line i. A CJK
// character fills a cell; a run of Latin letters takes its cells as one group and is set as a
// word across them (split between lines only when the group runs over the end of one).
void gridText(Painter& p, std::u32string_view text, double x, double y, double w, double h,
              const std::vector<int>& counts, bool columns, double pad);
// Splits n characters into `lines` lines; the first lines take the smaller share, so a
// three-character name gives the surname a column of its own. No text (or no lines): none.
std::vector<int> splitLines(int n, int lines);
// Square grid for personal seals: 2 → 2 columns, 3-4 → 2, 5-6 → 3, 7-9 → 3, more → 4; 0 → none.
std::vector<int> squareColumns(int n);

// The whole stamp, as every output draws it.

// A round or oval seal with a horizontal line takes "Name|line": the part after the bar goes
// under the star, otherwise the template's own line (合同专用章 on a contract seal) does.
struct StampText {
  std::u32string body;
  std::u32string horizontal;  // empty: no horizontal line
};
StampText splitStampText(const StampStyle& style, std::u32string_view text);
// Extra stroke around glyphs for faces whose strokes are thin next to carved seal text.
double emboldenMm(const FontSet& fonts, const StampStyle& style);
// Draws the shape of p's style with its text.
void drawShape(Painter& p, const StampText& text, Layer layer);

// The aged look. Every output reads the generator in the same order, so an aged stamp wears the
// same way as PNG, SVG and PDF.
// A circle in device pixels.
struct Circle {
  double x, y, r;
};
// The coverage of the union of the circles on a width × height raster, the exact area as glyph
// fills have it, handed out a row at a time: the pixels of each row of the circles' box that
// lies on the raster, the uncovered ones 0. False only for circles too many or too large.
using RowFn = void (*)(int y, int x, const uint8_t* coverage, int length, void* user);
bool circleCoverage(const Circle* circles, size_t count, int width, int height, RowFn row, void* user);

class WearSink {
 public:
  virtual ~WearSink() = default;
  virtual void speckle(double x, double y, double r, double alpha) = 0;  // a round spot, partly cleared
  virtual void chip(double x, double y, double r) = 0;                   // part of the next bite
  virtual void bite() = 0;                                               // clears the chips so far
  virtual void patch(double x, double y, double r, double alpha) = 0;    // radial fade, alpha at the centre
};
uint64_t agedSeed(const StampStyle& style, std::u32string_view text);
// How strongly a style is aged: 1 is the templates' look, 0..2 a design's intensity 0..100.
double agedStrength(const StampStyle& style);
void wear(WearSink& sink, Rng& rng, ShapeMm mm, bool elliptic, double strength = 1);
// Density multipliers (0.8..1 at strength 1) of a gw × gh value-noise grid.
std::vector<float> inkNoise(Rng& rng, int gw, int gh, double strength = 1);
// Wears a raster whose context is in millimetres; the noise cells are about 0.4 mm.
void weather(cairo_t* cr, Raster& raster, double pxPerMm, ShapeMm mm, bool elliptic, uint64_t seed,
             double strength = 1);

}  // namespace tambrel::draw
