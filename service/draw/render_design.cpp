// Round and oval seals of a user's design: the same parts as a template's (ring, star, name
// along the arc, horizontal lines, bottom code) placed by the design's layout, plus a second
// ring of text and centre text. Where the layout leaves a value unset the 42 mm norm's
// proportion is used, scaled to the seal's shorter half-axis, as drawEllipseSeal does.
//
// Each part may have its own face: it is drawn by a Painter of its own on the same context,
// whose style differs only in the script or face (so glyph lookups and emboldening follow it).
#include <algorithm>
#include <cmath>
#include <optional>

#include "draw/render_core.h"
#include "text/text.h"

namespace tambrel::draw {
namespace {

// A Painter for one part of the design, in the part's face.
struct PartPainter {
  StampStyle style;
  std::optional<Painter> painter;
  PartPainter(const Painter& p, const DesignLayout::Words& words) : style(p.style()) {
    style.script = words.script;
    style.face = words.face;
    painter.emplace(p.fonts(), style, p.cr(), p.recorder());
    painter->emboldenMm = emboldenMm(p.fonts(), style);
    painter->markMode();
  }
  Painter& operator*() { return *painter; }
};

// One horizontal line of text centred at (cx, ly), at most 2·half wide.
void horizontalLine(Painter& p, std::u32string_view line, double cx, double ly, double hh, double half) {
  if (std::any_of(line.begin(), line.end(), text::isHalfWidth)) {
    latinBlock(p, line, cx - half, ly - hh / 2, 2 * half, hh, 1);
    return;
  }
  const int m = static_cast<int>(line.size());
  const double cw = m ? std::min(hh * 1.05, 2 * half / m) : 0;
  const double total = cw * m;
  for (int i = 0; i < m; ++i) p.drawChar(line[i], {cx - total / 2 + (i + 0.5) * cw, ly, cw * 0.92, hh, 0, Fit::Em});
}

}  // namespace

EllipseRoom ellipseRoom(const StampStyle& st, bool hasRing) {
  const DesignLayout& l = *st.layout;
  const ShapeMm mm = styleMm(st);
  const double A = mm.w / 2, B = mm.h / 2;
  EllipseRoom r{};
  r.scale = std::min(A, B) / 21.0;
  const double borderScale = std::max(r.scale, 0.8);
  r.border = designBorder(st, borderMm(st.border, borderScale), borderScale);
  r.ringsMm = r.border.outer + r.border.gap + r.border.inner;
  // The rings keep most of the radius for the text: a seal is its words, framed.
  r.mostRingsMm = 0.35 * std::min(A, B);
  // As drawEllipseRings: without an outer ring the text keeps a margin from the edge.
  const double margin = r.border.outer == 0 ? (st.relief == Relief::Yin ? 1.0 : 0.3) : 0.0;
  r.edgeA = A - r.ringsMm - margin;
  r.edgeB = B - r.ringsMm - margin;
  r.inside = std::max(0.0, std::min(r.edgeA, r.edgeB));
  r.ringGap = 0.9 * r.scale;
  // The ring text takes at most the outer half of the inside, the middle is the centre's.
  r.mostRingH = std::max(0.0, 0.5 * r.inside - r.ringGap);
  r.ringH = l.ringSizeMm > 0 ? l.ringSizeMm : std::min(6.6 * r.scale, r.mostRingH);
  r.innerEdgeA = r.edgeA, r.innerEdgeB = r.edgeB;
  if (hasRing) {
    const double band = r.ringGap + r.ringH + 0.6 * r.scale;
    r.innerEdgeA -= band, r.innerEdgeB -= band;
  }
  const double innerInside = std::max(0.0, std::min(r.innerEdgeA, r.innerEdgeB));
  r.mostInnerH = 0.5 * innerInside;
  r.innerH = l.inner.sizeMm > 0 ? l.inner.sizeMm : std::min(3.6 * r.scale, r.mostInnerH);
  r.mostStarR = 0.6 * r.inside;
  const double normStarR = st.shape == Shape::Oval ? 4.6 * r.scale * 1.3 : 7.0 * r.scale;
  r.starR = l.starMm > 0 ? l.starMm / 2 : std::min(normStarR, r.mostStarR);
  r.mostCodeH = 0.25 * r.inside;
  r.codeH = l.codeText.sizeMm > 0 ? l.codeText.sizeMm : std::min(2.7 * r.scale, r.mostCodeH);
  r.mostLineH = 0.5 * r.inside;
  r.lineReach = 0.8 * r.inside;
  return r;
}

void drawEllipseDesign(Painter& p, std::u32string_view ring, Layer layer) {
  const bool fixed = layer != Layer::Text, marks = layer != Layer::Fixed;
  const StampStyle& st = p.style();
  const DesignLayout& l = *st.layout;
  const ShapeMm mm = styleMm(st);
  const double cx = mm.w / 2, cy = mm.h / 2, A = mm.w / 2, B = mm.h / 2;
  const bool hasRing = !text::trimSpaces(ring).empty();
  const EllipseRoom room = ellipseRoom(st, hasRing);
  const double scale = room.scale;

  // Ring(s), as a template's.
  const auto [edgeA, edgeB] = drawEllipseRings(p, cx, cy, A, B, room.border, fixed);

  // Name along the arc.
  const double gap = room.ringGap;
  const double glyphH = room.ringH;
  // The ring(s) and star depend only on the layout's sizes, the centre kind and how many lines
  // there are (the star rises for them): renderStamp keeps them per look and size.
  const size_t nLines = l.lines.size();
  const double starR = room.starR;
  const double starY = nLines == 0 ? cy : cy - starR * (nLines == 1 ? 0.12 : 0.3);
  if (fixed && l.centre == DesignLayout::Centre::Star) p.star(cx, starY, starR);
  if (!marks) return;

  double innerEdgeA = room.innerEdgeA, innerEdgeB = room.innerEdgeB;  // inside what the ring texts take
  if (hasRing) {
    double span = l.code ? 250 : 262;
    if (!l.lines.empty()) span = 240;
    double centreDeg = 0;
    if (l.ringStartDeg != 0 || l.ringEndDeg != 0) {
      span = l.ringEndDeg - l.ringStartDeg;
      centreDeg = (l.ringStartDeg + l.ringEndDeg) / 2;
    }
    arcText(p, ring, cx, cy, edgeA - gap, edgeB - gap, glyphH, span, centreDeg, l.ringPitchMm);
  }
  if (!l.inner.text.empty() && std::min(innerEdgeA, innerEdgeB) >= kMinInnerRoomMm) {
    PartPainter ip(p, l.inner);
    const double h = room.innerH;
    arcText(*ip, l.inner.text, cx, cy, innerEdgeA, innerEdgeB, h, 220);
    innerEdgeA -= h + 0.6 * scale;
    innerEdgeB -= h + 0.6 * scale;
  }

  // The centre: a star, or text filling the middle. Lines below it share what is left above
  // the code (or the ring), the star rising a little more for each line after the first.
  double below = cy;  // where the first line may start
  if (l.centre == DesignLayout::Centre::Star) {
    below = starY + starR * 0.8 + 1.2 * scale;
  } else if (l.centre == DesignLayout::Centre::Text && !l.centreText.text.empty()) {
    PartPainter tp(p, l.centreText);
    double side = std::max(0.0, std::min(innerEdgeA, innerEdgeB)) * 2 * (hasRing ? 0.62 : 0.66);
    if (l.centreText.sizeMm > 0) side = std::min(side * 1.2, l.centreText.sizeMm);
    const double gw = st.shape == Shape::Oval ? side * innerEdgeA / innerEdgeB * 0.85 : side;
    const double top = nLines == 0 ? cy - side / 2 : cy - side * 0.62;
    const int n = text::cellCount(l.centreText.text);
    if (mostlyLatin(l.centreText.text)) {
      latinBlock(*tp, l.centreText.text, cx - gw / 2, top, gw, side, 3);
    } else if (hasRing) {
      // Inside a ring of text the centre reads as rows, left to right, like the lines below it.
      const int rows = n <= 4 ? 1 : n <= 8 ? 2 : 3;
      const int cols = (n + rows - 1) / rows;
      const double cellMm = std::min(gw / cols, side / rows);
      gridText(*tp, l.centreText.text, cx - cellMm * cols / 2, top + (side - cellMm * rows) / 2, cellMm * cols,
               cellMm * rows, splitLines(n, rows), false, 0.04);
    } else {
      gridText(*tp, l.centreText.text, cx - gw / 2, top, gw, side, squareColumns(n), true, 0.04);
    }
    below = top + side + 0.8 * scale;
  }
  const double codeH = room.codeH;
  const double lowest = cy + edgeB - (l.code ? codeH + 1.6 * scale : 1.0 * scale);
  const double lineGap = 0.8 * scale;
  const double autoH = std::min(room.mostLineH, std::max(1.5, std::min(4.6 * scale, (lowest - below - lineGap * (nLines - 1.0)) /
                                                                                     std::max<size_t>(nLines, 1))));
  const double normH = std::min(4.6 * scale, room.mostLineH);
  if (l.centre == DesignLayout::Centre::None && nLines > 0) {
    double total = lineGap * (nLines - 1.0);
    for (const DesignLayout::Line& line : l.lines) total += line.sizeMm > 0 ? line.sizeMm : normH;
    below = cy - total / 2;
  }
  for (const DesignLayout::Line& line : l.lines) {
    PartPainter lp(p, line);
    const double hh = std::min(room.mostLineH, line.sizeMm > 0 ? line.sizeMm : l.centre == DesignLayout::Centre::None ? normH : autoH);
    // A line stacked under a crowded centre stays on the seal, over what it cannot push away.
    const double reach = std::max(0.0, room.lineReach - hh / 2);
    const double ly = std::clamp(line.autoOffset ? below + hh / 2 : cy + line.offsetMm, cy - reach, cy + reach);
    // Keep clear of the ring where the line meets it.
    const double dy = std::min(1.0, (std::abs(ly - cy) + hh / 2) / edgeB);
    const double half = std::max(hh, std::min(std::sqrt(std::max(0.0, 1 - dy * dy)) * edgeA - 2.0 * scale, 0.62 * edgeA));
    horizontalLine(*lp, line.text, cx, ly, hh, half);
    below = ly + hh / 2 + lineGap;
  }

  if (l.code) {
    PartPainter kp(p, l.codeText);
    const std::u32string digits = l.codeText.text.empty() ? bottomCode(ring) : l.codeText.text;
    bottomArcText(*kp, digits, cx, cy, edgeA - 0.5 * scale, edgeB - 0.5 * scale, codeH, 0.62);
  }
}

}  // namespace tambrel::draw
