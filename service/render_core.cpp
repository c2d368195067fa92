// The common drawing core; see render_core.h.
#include "render_core.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "text.h"

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

Glyph Painter::shape(char32_t c) {
  Glyph g;
  std::string utf8 = text::encodeUtf8(std::u32string_view(&c, 1));
  cairo_glyph_t glyph{0, 0, 0};
  // All font work happens under the identity matrix: cairo keys its scaled fonts (and their
  // glyph caches) by the full transformation, so looking glyphs up under each rotation would
  // create a new scaled font per character. The outline is copied and placed afterwards.
  cairo_save(cr_);
  cairo_identity_matrix(cr_);
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
    g.outline.reset(cairo_copy_path(cr_));
    cairo_new_path(cr_);
  } else {
    g.ext = {15, -70, 70, 70, 100, 0};
  }
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
  } else {
    fill();
  }
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
    ShapeMm mm = shapeMm(style.shape);
    return 0.12 * std::min(mm.w, mm.h) / 20.0;
  }
  return 0.0;
}

void drawShape(Painter& p, const StampText& text, Layer layer) {
  switch (p.style().shape) {
    case Shape::Round:
    case Shape::Oval: drawEllipseSeal(p, text.body, text.horizontal, layer); break;
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

}  // namespace tambrel::draw
