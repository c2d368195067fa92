// Framed seals: the square personal seal and the rectangular one (the long seal shares the
// frame, see render_long.cpp). A yang frame is one or two rounded strokes; a yin seal is a
// solid field with its inner line and text cut out of it.
#include "draw/render_core.h"

#include <algorithm>
#include <vector>

#include "text/text.h"

namespace tambrel::draw {

Field drawFrame(Painter& p) {
  cairo_t* cr = p.cr();
  const StampStyle& st = p.style();
  ShapeMm mm = styleMm(st);
  const double scale = std::min(mm.w, mm.h) / 20.0;
  BorderMm bd = designBorder(st, borderMm(st.border, scale * 0.8), scale * 0.8);
  const double corner = 0.8 * scale;

  // The inner border: cut out of a yin field, inked on a yang one (the mode is set before).
  auto innerBorder = [&] {
    if (bd.inner <= 0) return;
    double r = bd.outer + bd.gap + bd.inner / 2;
    p.roundedRectPath(r, r, mm.w - 2 * r, mm.h - 2 * r, corner * 0.6);
    cairo_set_line_width(cr, bd.inner);
    p.stroke();
  };
  double inset;
  if (p.yin()) {
    p.inkMode();
    p.roundedRectPath(0, 0, mm.w, mm.h, corner);
    p.fill();
    p.markMode();
    innerBorder();
    inset = std::max(1.1 * scale, bd.outer + bd.gap + bd.inner) + 0.6 * scale;
  } else {
    p.inkMode();
    if (bd.outer > 0) {
      p.roundedRectPath(bd.outer / 2, bd.outer / 2, mm.w - bd.outer, mm.h - bd.outer, corner);
      cairo_set_line_width(cr, bd.outer);
      p.stroke();
    }
    innerBorder();
    inset = bd.outer + bd.gap + bd.inner + 0.7 * scale;
  }
  p.markMode();
  return {inset, inset, mm.w - 2 * inset, mm.h - 2 * inset};
}

void drawFrameSeal(Painter& p, std::u32string_view text) {
  const Field f = drawFrame(p);
  if (latinField(p, text, f)) return;
  const int n = text::cellCount(text);
  if (p.style().shape == Shape::Square) {
    gridText(p, text, f.x, f.y, f.w, f.h, squareColumns(n), true, 0.03);
    return;
  }
  // Rectangle: one row, or two for longer texts, the fuller line first.
  int rows = n <= 5 ? 1 : n <= 12 ? 2 : 3;
  std::vector<int> counts = splitLines(n, rows);
  std::reverse(counts.begin(), counts.end());
  gridText(p, text, f.x, f.y, f.w, f.h, counts, false, 0.05);
}

}  // namespace tambrel::draw
