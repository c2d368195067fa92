// The common drawing core; see render_core.h.
#include "draw/render_core.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <unordered_map>

#include "text/text.h"

namespace tambrel::draw {

ShapeMm shapeMm(Shape s) {
  switch (s) {
    case Shape::Round: return {42, 42};
    case Shape::Oval: return {45, 31.5};
    case Shape::Square: return {20, 20};
    case Shape::Rect: return {40, 20};
    case Shape::Long: return {16, 40};
    case Shape::Cloud: return {45, 25.5};
  }
  return {42, 42};
}

ShapeMm styleMm(const StampStyle& style) {
  ShapeMm mm = shapeMm(style.shape);
  if (style.layout && style.layout->widthMm > 0 && style.layout->heightMm > 0)
    mm = {style.layout->widthMm, style.layout->heightMm};
  return mm;
}

uint64_t fnv1a(std::u32string_view text, uint64_t h) {
  for (char32_t c : text) {
    for (int k = 0; k < 4; ++k) {
      h ^= (c >> (8 * k)) & 0xFF;
      h *= 1099511628211ull;
    }
  }
  return h;
}

void Painter::fill() {
  if (recorder_)
    recorder_->fill(cr_);
  else
    cairo_fill(cr_);
}

void Painter::stroke() {
  if (recorder_)
    recorder_->stroke(cr_);
  else
    cairo_stroke(cr_);
}

void Painter::fillPreserve() {
  if (recorder_)
    recorder_->fillPreserve(cr_);
  else
    cairo_fill_preserve(cr_);
}

void setDrawingOptions(cairo_t* cr) {
  FontOptionsPtr options(cairo_font_options_create());
  cairo_font_options_set_hint_style(options.get(), CAIRO_HINT_STYLE_NONE);
  cairo_font_options_set_hint_metrics(options.get(), CAIRO_HINT_METRICS_OFF);
  cairo_font_options_set_antialias(options.get(), CAIRO_ANTIALIAS_GRAY);
  cairo_set_font_options(cr, options.get());
  cairo_set_tolerance(cr, 0.25);
}

namespace {

// Outlines are the same under every context: glyphs are looked up unhinted at size 100 under
// the identity matrix. Bounded: a thread that meets more characters than this starts over,
// which costs only the lookups it saves.
struct GlyphKey {
  uint64_t fontSet;
  char32_t c;
  Script script;
  bool operator==(const GlyphKey&) const = default;
};
struct GlyphKeyHash {
  size_t operator()(const GlyphKey& k) const {
    return std::hash<uint64_t>()(k.fontSet * 1000003u ^ (static_cast<uint64_t>(k.c) << 3) ^ static_cast<uint64_t>(k.script));
  }
};
constexpr size_t kGlyphCacheEntries = 4096;

}  // namespace

Glyph Painter::shape(char32_t c) {
  thread_local std::unordered_map<GlyphKey, Glyph, GlyphKeyHash> cache;
  const GlyphKey key{fonts_.serial(), c, style_.script};
  if (auto it = cache.find(key); it != cache.end()) return it->second;
  if (cache.size() >= kGlyphCacheEntries) cache.clear();
  Glyph g = lookUp(c);
  cache.emplace(key, g);
  return g;
}

Glyph Painter::lookUp(char32_t c) {
  Glyph g;
  std::string utf8 = text::encodeUtf8(std::u32string_view(&c, 1));
  cairo_glyph_t glyph{0, 0, 0};
  // All font work happens under the identity matrix: cairo keys its scaled fonts (and their
  // glyph caches) by the full transformation, so looking glyphs up under each rotation would
  // create a new scaled font per character. The outline is copied and placed afterwards.
  cairo_save(cr_);
  cairo_identity_matrix(cr_);
  // A path being built when a glyph is first looked up survives the lookup, which needs the path.
  PathPtr pending(cairo_copy_path(cr_));
  for (const Font* font : fonts_.chain(style_.script)) {
    cairo_set_font_face(cr_, font->face);
    cairo_set_font_size(cr_, 100.0);
    cairo_scaled_font_t* sf = cairo_get_scaled_font(cr_);
    cairo_glyph_t* glyphs = nullptr;
    int count = 0;
    if (cairo_scaled_font_text_to_glyphs(sf, 0, 0, utf8.data(), static_cast<int>(utf8.size()), &glyphs, &count,
                                         nullptr, nullptr, nullptr) == CAIRO_STATUS_SUCCESS &&
        count == 1 && glyphs[0].index != 0) {
      glyph.index = glyphs[0].index;
      g.found = true;
    }
    cairo_glyph_free(glyphs);
    if (g.found) break;
  }
  if (g.found) {
    cairo_glyph_extents(cr_, &glyph, 1, &g.ext);
    cairo_new_path(cr_);
    cairo_glyph_path(cr_, &glyph, 1);
    g.outline.reset(cairo_copy_path(cr_), cairo_path_destroy);
    cairo_new_path(cr_);
  } else {
    g.ext = {15, -70, 70, 70, 100, 0};
  }
  cairo_new_path(cr_);
  if (pending && pending->status == CAIRO_STATUS_SUCCESS && pending->num_data > 0) cairo_append_path(cr_, pending.get());
  cairo_restore(cr_);
  return g;
}

void Painter::place(const Glyph& g, double x, double y, double angle, double sx, double sy, double ax, double ay) {
  cairo_save(cr_);
  cairo_translate(cr_, x, y);
  cairo_rotate(cr_, angle);
  cairo_scale(cr_, sx, sy);
  cairo_translate(cr_, -ax, -ay);
  if (g.found) {
    cairo_append_path(cr_, g.outline.get());
  } else {
    // A hollow square: the inner square runs the other way round, so non-zero filling
    // leaves it open.
    const cairo_text_extents_t& e = g.ext;
    const double t = e.width * 0.1;
    cairo_rectangle(cr_, e.x_bearing, e.y_bearing, e.width, e.height);
    cairo_new_sub_path(cr_);
    cairo_move_to(cr_, e.x_bearing + t, e.y_bearing + t);
    cairo_line_to(cr_, e.x_bearing + t, e.y_bearing + e.height - t);
    cairo_line_to(cr_, e.x_bearing + e.width - t, e.y_bearing + e.height - t);
    cairo_line_to(cr_, e.x_bearing + e.width - t, e.y_bearing + t);
    cairo_close_path(cr_);
  }
  cairo_restore(cr_);
}

void Painter::fillMarks() {
  if (emboldenMm > 0) {
    fillPreserve();
    cairo_set_line_width(cr_, emboldenMm);
    cairo_set_line_join(cr_, CAIRO_LINE_JOIN_ROUND);
    stroke();
  } else if (!fillByFreeType()) {
    fill();
  }
}

namespace {

struct FtLibraryDeleter {
  void operator()(FT_Library lib) const { FT_Done_FreeType(lib); }
};

struct SpanTarget {
  uint8_t* data;
  int stride;
  bool clear;  // cut (CLEAR) rather than ink (OVER)
};

// Composites FreeType's coverage spans onto the A8 coverage, as cairo's OVER and CLEAR with an
// opaque source do: ink d + c(1 - d), cut d(1 - c).
void compositeSpans(int y, int count, const FT_Span* spans, void* user) {
  const SpanTarget& t = *static_cast<const SpanTarget*>(user);
  uint8_t* row = t.data + static_cast<size_t>(y) * t.stride;
  for (int i = 0; i < count; ++i) {
    const unsigned c = spans[i].coverage;
    uint8_t* d = row + spans[i].x;
    uint8_t* end = d + spans[i].len;
    if (t.clear) {
      for (; d < end; ++d) *d = static_cast<uint8_t>((*d * (255 - c) + 127) / 255);
    } else if (c == 255) {
      std::memset(d, 255, end - d);
    } else {
      for (; d < end; ++d) *d = static_cast<uint8_t>(c + (*d * (255 - c) + 127) / 255);
    }
  }
}

}  // namespace

// Glyph outlines on a raster are filled by FreeType's anti-aliasing rasterizer, which computes
// exact area coverage in a fraction of the time cairo's sampling scan converter takes for the
// many curved contours of CJK glyphs (it was most of the drawing time). The path is taken in
// device space from cairo, so placement, transformation and curve shapes are cairo's own; only
// the coverage computation differs, by a few levels at edges. Vector output, clipped or
// non-opaque drawing keeps cairo's fill.
bool Painter::fillByFreeType() {
  if (recorder_) return false;
  cairo_surface_t* target = cairo_get_target(cr_);
  if (cairo_surface_get_type(target) != CAIRO_SURFACE_TYPE_IMAGE ||
      cairo_image_surface_get_format(target) != CAIRO_FORMAT_A8)
    return false;
  const cairo_operator_t op = cairo_get_operator(cr_);
  if (op != CAIRO_OPERATOR_OVER && op != CAIRO_OPERATOR_CLEAR) return false;
  double r, g, b, a = 0;
  if (op == CAIRO_OPERATOR_OVER &&
      cairo_pattern_get_rgba(cairo_get_source(cr_), &r, &g, &b, &a) != CAIRO_STATUS_SUCCESS)
    return false;
  if (op == CAIRO_OPERATOR_OVER && a < 1.0) return false;
  thread_local std::unique_ptr<FT_LibraryRec_, FtLibraryDeleter> library = [] {
    FT_Library lib = nullptr;
    return std::unique_ptr<FT_LibraryRec_, FtLibraryDeleter>(FT_Init_FreeType(&lib) == 0 ? lib : nullptr);
  }();
  if (!library) return false;

  cairo_matrix_t user;
  cairo_get_matrix(cr_, &user);
  cairo_identity_matrix(cr_);
  PathPtr path(cairo_copy_path(cr_));
  // A clip that is not the whole surface (or not a rectangle list at all) is cairo's to honour.
  cairo_rectangle_list_t* clip = cairo_copy_clip_rectangle_list(cr_);
  const bool unclipped = clip->status == CAIRO_STATUS_SUCCESS && clip->num_rectangles == 1 &&
                         clip->rectangles[0].x <= 0 && clip->rectangles[0].y <= 0 &&
                         clip->rectangles[0].width >= cairo_image_surface_get_width(target) &&
                         clip->rectangles[0].height >= cairo_image_surface_get_height(target);
  cairo_rectangle_list_destroy(clip);
  cairo_set_matrix(cr_, &user);
  if (!unclipped || !path || path->status != CAIRO_STATUS_SUCCESS) return false;

  thread_local std::vector<FT_Vector> points;
  thread_local std::vector<char> tags;
  thread_local std::vector<short> contours;
  points.clear(), tags.clear(), contours.clear();
  size_t contourStart = 0;
  auto endContour = [&] {
    if (points.size() - contourStart >= 3) {
      contours.push_back(static_cast<short>(points.size() - 1));
      contourStart = points.size();
    } else {  // a lone move or a line: covers nothing
      points.resize(contourStart), tags.resize(contourStart);
    }
  };
  auto add = [&](const cairo_path_data_t& p, char tag) {
    points.push_back({std::lround(p.point.x * 64), std::lround(p.point.y * 64)});
    tags.push_back(tag);
  };
  for (int i = 0; i < path->num_data; i += path->data[i].header.length) {
    const cairo_path_data_t* d = &path->data[i];
    switch (d->header.type) {
      case CAIRO_PATH_MOVE_TO: endContour(), add(d[1], FT_CURVE_TAG_ON); break;
      case CAIRO_PATH_LINE_TO: add(d[1], FT_CURVE_TAG_ON); break;
      case CAIRO_PATH_CURVE_TO:
        add(d[1], FT_CURVE_TAG_CUBIC), add(d[2], FT_CURVE_TAG_CUBIC), add(d[3], FT_CURVE_TAG_ON);
        break;
      case CAIRO_PATH_CLOSE_PATH: break;
    }
  }
  endContour();
  if (points.size() > 32767 || contours.size() > 32767) return false;
  cairo_new_path(cr_);
  if (contours.empty()) return true;

  FT_Outline outline{};
  outline.n_points = static_cast<short>(points.size());
  outline.n_contours = static_cast<short>(contours.size());
  outline.points = points.data();
  outline.tags = tags.data();
  outline.contours = contours.data();
  outline.flags = FT_OUTLINE_NONE;  // non-zero winding, as cairo fills

  cairo_surface_flush(target);
  SpanTarget t{cairo_image_surface_get_data(target), cairo_image_surface_get_stride(target),
               op == CAIRO_OPERATOR_CLEAR};
  FT_Raster_Params params{};
  params.source = &outline;
  params.flags = FT_RASTER_FLAG_AA | FT_RASTER_FLAG_DIRECT | FT_RASTER_FLAG_CLIP;
  params.gray_spans = compositeSpans;
  params.user = &t;
  params.clip_box = {0, 0, cairo_image_surface_get_width(target), cairo_image_surface_get_height(target)};
  const bool ok = FT_Outline_Render(library.get(), &outline, &params) == 0;
  cairo_surface_mark_dirty(target);
  return ok;
}

void Painter::drawChar(char32_t c, const GlyphBox& box) {
  if (text::isSpace(c)) return;
  Glyph g = shape(c);
  if (!g.found) {
    // No face has the character: mark its place with a square rather than dropping it.
    cairo_save(cr_);
    cairo_translate(cr_, box.cx, box.cy);
    cairo_rotate(cr_, box.angle);
    cairo_rectangle(cr_, -box.w * 0.35, -box.h * 0.35, box.w * 0.7, box.h * 0.7);
    cairo_restore(cr_);
    cairo_set_line_width(cr_, std::min(box.w, box.h) * 0.08);
    stroke();
    return;
  }
  const cairo_text_extents_t& ext = g.ext;
  if (ext.width <= 0 || ext.height <= 0) return;
  double sx, sy;
  if (box.fit == Fit::Em) {
    sx = box.w / 100.0;
    sy = box.h / 100.0;
  } else {
    // Fill the box with the ink, but never stretch more than 45% beyond the em proportions.
    sx = std::min(box.w / ext.width, box.w / 100.0 * 1.45);
    sy = std::min(box.h / ext.height, box.h / 100.0 * 1.45);
    double uniform = std::min(sx, sy);
    sx = std::min(sx, uniform * 1.6);
    sy = std::min(sy, uniform * 1.6);
  }
  place(g, box.cx, box.cy, box.angle, sx, sy, ext.x_bearing + ext.width / 2, ext.y_bearing + ext.height / 2);
  fillMarks();
}

void Painter::star(double cx, double cy, double outerR) {
  const double innerR = outerR * 0.381966;  // regular five-pointed star
  for (int i = 0; i < 10; ++i) {
    double r = (i % 2 == 0) ? outerR : innerR;
    double a = -kPi / 2 + i * kPi / 5;
    double x = cx + r * std::cos(a), y = cy + r * std::sin(a);
    if (i == 0)
      cairo_move_to(cr_, x, y);
    else
      cairo_line_to(cr_, x, y);
  }
  cairo_close_path(cr_);
  fill();
}

void Painter::ellipsePath(double cx, double cy, double a, double b) {
  cairo_save(cr_);
  cairo_translate(cr_, cx, cy);
  cairo_scale(cr_, a, b);
  cairo_new_sub_path(cr_);
  cairo_arc(cr_, 0, 0, 1, 0, 2 * kPi);
  cairo_restore(cr_);
}

void Painter::roundedRectPath(double x, double y, double w, double h, double r) {
  r = std::min({r, w / 2, h / 2});
  cairo_new_sub_path(cr_);
  cairo_arc(cr_, x + w - r, y + r, r, -kPi / 2, 0);
  cairo_arc(cr_, x + w - r, y + h - r, r, 0, kPi / 2);
  cairo_arc(cr_, x + r, y + h - r, r, kPi / 2, kPi);
  cairo_arc(cr_, x + r, y + r, r, kPi, 3 * kPi / 2);
  cairo_close_path(cr_);
}

StampText splitStampText(const StampStyle& style, std::u32string_view text) {
  StampText t{std::u32string(text), {}};
  if (style.bottom == Bottom::Text && (style.shape == Shape::Round || style.shape == Shape::Oval)) {
    size_t bar = t.body.find(U'|');
    if (bar != std::u32string::npos) {
      t.horizontal = t.body.substr(bar + 1);
      t.body = t.body.substr(0, bar);
    } else {
      t.horizontal = style.bottomLine.empty() ? U"专用章" : style.bottomLine;
    }
  }
  return t;
}

double emboldenMm(const FontSet& fonts, const StampStyle& style) {
  // Kai strokes are thin next to carved or printed seal text; give them body.
  if (style.script == Script::Kai || (style.script == Script::Zhuan && !fonts.hasOwnFace(Script::Zhuan))) {
    ShapeMm mm = styleMm(style);
    return 0.12 * std::min(mm.w, mm.h) / 20.0;
  }
  return 0.0;
}

void drawShape(Painter& p, const StampText& text, Layer layer) {
  switch (p.style().shape) {
    case Shape::Round:
    case Shape::Oval:
      if (p.style().layout)
        drawEllipseDesign(p, text.body, layer);
      else
        drawEllipseSeal(p, text.body, text.horizontal, layer);
      break;
    case Shape::Square:
    case Shape::Rect: drawFrameSeal(p, text.body); break;
    case Shape::Long: drawLongSeal(p, text.body); break;
    case Shape::Cloud: drawCloudSeal(p, text.body); break;
  }
}

BorderMm borderMm(Border b, double scale) {
  switch (b) {
    case Border::Single: return {1.2 * scale, 0, 0};
    case Border::Double: return {1.1 * scale, 0.6 * scale, 0.35 * scale};
    case Border::Thick: return {1.8 * scale, 0, 0};
    case Border::Thin: return {0.6 * scale, 0, 0};
    case Border::None: return {0, 0, 0};
  }
  return {1.2 * scale, 0, 0};
}

BorderMm designBorder(const StampStyle& style, BorderMm bd, double scale) {
  if (!style.layout) return bd;
  const DesignLayout& l = *style.layout;
  if (l.borderMm >= 0) bd.outer = l.borderMm;
  if (l.innerRingMm >= 0) {
    if (bd.inner <= 0 && l.innerRingMm > 0) bd.gap = 0.6 * scale;
    bd.inner = l.innerRingMm;
  }
  if (l.innerGapMm >= 0 && bd.inner > 0) bd.gap = l.innerGapMm;
  if (bd.inner <= 0) bd.inner = 0, bd.gap = 0;
  return bd;
}

}  // namespace tambrel::draw
