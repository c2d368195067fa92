// Round and oval seals: ring(s), star, the name along the upper arc, a horizontal line under
// the star and the registration code along the bottom. Arc text keeps its glyphs upright
// relative to the ring (tops outward), evenly spaced by arc length, with a fixed gap to the
// ring's inner edge; long names first narrow their glyphs (as carved seals do) and only then
// shrink. Latin letters along the arc follow the baseline with only light letter-spacing, so a
// word stays a word.
#include "draw/render_core.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>

#include "text/text.h"

namespace tambrel::draw {

// Thirteen-digit code printed along the bottom of round and oval seals, derived from the text.
std::u32string bottomCode(std::u32string_view text) {
  uint64_t h = fnv1a(text, 0x9E3779B97F4A7C15ull);
  std::u32string code(13, U'0');
  for (int i = 12; i >= 0; --i) {
    code[i] = U'0' + static_cast<char32_t>(h % 10);
    h /= 10;
  }
  return code;
}

namespace {

// Arc-length table of an ellipse point p(t) = (a sin t, -b cos t), t in [-pi, pi]
// (t = 0 at the top, growing clockwise), for placing glyphs evenly along ovals.
class EllipseArc {
 public:
  // The table depends only on the axes, which depend only on the template (sizes are in mm),
  // so each thread keeps the few it met: building one costs 1440 sines, cosines and hypots.
  EllipseArc(double a, double b) : a_(a), b_(b) {
    thread_local std::vector<std::pair<std::pair<double, double>, std::shared_ptr<const std::vector<double>>>> known;
    for (const auto& [axes, table] : known) {
      if (axes.first == a && axes.second == b) {
        table_ = table;
        return;
      }
    }
    auto len = std::make_shared<std::vector<double>>(kSteps + 1);
    (*len)[0] = 0;
    for (int i = 1; i <= kSteps; ++i) {
      double t0 = param(i - 1), t1 = param(i);
      double dx = a_ * (std::sin(t1) - std::sin(t0)), dy = b_ * (std::cos(t1) - std::cos(t0));
      (*len)[i] = (*len)[i - 1] + std::hypot(dx, dy);
    }
    if (known.size() >= 64) known.erase(known.begin());
    known.emplace_back(std::pair{a, b}, len);
    table_ = std::move(len);
  }
  // Signed arc length from the top (t = 0) to t.
  double lengthAt(double t) const {
    double idx = (t + kPi) / (2 * kPi) * kSteps;
    int i = std::clamp(static_cast<int>(idx), 0, kSteps - 1);
    double f = idx - i;
    const std::vector<double>& len_ = *table_;
    return len_[i] + f * (len_[i + 1] - len_[i]) - len_[kSteps / 2];
  }
  // Parameter t at signed arc length s from the top.
  double paramAt(double s) const {
    const std::vector<double>& len_ = *table_;
    double target = s + len_[kSteps / 2];
    auto it = std::lower_bound(len_.begin(), len_.end(), target);
    int i = std::clamp(static_cast<int>(it - len_.begin()), 1, kSteps);
    double f = (target - len_[i - 1]) / std::max(1e-9, len_[i] - len_[i - 1]);
    return param(i - 1) + f * (param(i) - param(i - 1));
  }
  double a() const { return a_; }
  double b() const { return b_; }
  // Direction of travel (clockwise) at t, radians.
  double tangentAngle(double t) const { return std::atan2(b_ * std::sin(t), a_ * std::cos(t)); }

 private:
  static constexpr int kSteps = 1440;
  static double param(int i) { return -kPi + 2 * kPi * i / kSteps; }
  double a_, b_;
  std::shared_ptr<const std::vector<double>> table_;
};

}  // namespace

// Places glyphs of height h along the upper arc of the text ellipse, centred at the top,
// spread over at most maxSpanDeg of the parameter range; narrows and then shrinks glyphs
// that would not fit. CJK characters take a square each; Latin letters sit on a baseline that
// follows the arc, at their own advances, so they read as words.
void arcText(Painter& p, std::u32string_view text, double cx, double cy, double outerA, double outerB, double h,
             double maxSpanDeg, double centreDeg, double pitchMm) {
  const size_t n = text.size();
  if (n == 0) return;
  // Latin letters a little larger than the CJK em, so capitals stand about as tall.
  constexpr double kLatinSize = 1.1;
  std::vector<Glyph> latin(n);
  for (size_t i = 0; i < n; ++i)
    if (text::isHalfWidth(text[i])) latin[i] = p.shape(text[i]);
  auto isLatin = [&](size_t i) { return text::isHalfWidth(text[i]); };
  double width = h;  // CJK glyphs are square
  double a = outerA - h / 2, b = outerB - h / 2;
  for (int attempt = 0; attempt < 12; ++attempt) {
    EllipseArc arc(a, b);
    double maxSpan = arc.lengthAt(maxSpanDeg / 2 * kDeg) * 2;
    // A span turned away from the top: arc lengths are counted from its middle, and the span is
    // what the ellipse gives between its two ends there.
    const double from = centreDeg == 0 ? 0 : arc.lengthAt(centreDeg * kDeg);
    const double full = arc.lengthAt(kPi) * 2;
    if (centreDeg != 0) {
      double lo = arc.lengthAt((centreDeg - maxSpanDeg / 2) * kDeg), hi = arc.lengthAt((centreDeg + maxSpanDeg / 2) * kDeg);
      maxSpan = hi >= lo ? hi - lo : hi - lo + full;
    }
    const double latinEm = h * kLatinSize;
    std::vector<double> natural(n);
    double total = 0;
    for (size_t i = 0; i < n; ++i) {
      natural[i] = isLatin(i) ? latin[i].ext.x_advance / 100.0 * latinEm : pitchMm > 0 ? pitchMm : width * 1.12;
      total += natural[i];
    }
    const double f = maxSpan / total;
    // Narrowing of every glyph when the text is longer than the arc.
    const double q = std::min(1.0, f * 1.12 / 1.08);
    if (q < 0.5 && attempt < 11) {
      // Narrowed to half width and still too long: shrink the text, which moves it outward.
      double shrink = std::max(0.7, q / 0.5);
      double newH = h * shrink;
      a += (h - newH) / 2;
      b += (h - newH) / 2;
      h = newH;
      width = h;
      continue;
    }
    // A short text spreads towards the span: CJK characters up to 1.6 times their pitch, Latin
    // letters only up to 1.2 times (more and a word falls apart into letters).
    auto cap = [&](size_t i) { return isLatin(i) ? 1.2 : 1.6; };
    auto spreadLength = [&](double g) {
      double len = 0;
      for (size_t i = 0; i < n; ++i) len += natural[i] * std::min(g, cap(i));
      return len;
    };
    double g = f;
    if (f > 1 && pitchMm > 0) g = 1;  // a fixed pitch is kept, not spread
    else if (f > 1) {
      double lo = 1, hi = 1.6;
      for (int k = 0; k < 40; ++k) {
        double mid = (lo + hi) / 2;
        (spreadLength(mid) < maxSpan ? lo : hi) = mid;
      }
      g = lo;
    }
    std::vector<double> advance(n);
    double span = 0;
    for (size_t i = 0; i < n; ++i) span += advance[i] = natural[i] * (f > 1 ? std::min(g, cap(i)) : f);
    // A fixed pitch narrows glyphs only to what the pitch leaves them.
    const double q2 = pitchMm > 0 ? std::min(q, pitchMm * std::min(1.0, f) / (width * 1.08)) : q;
    double s = -span / 2;
    bool latinPath = false;
    for (size_t i = 0; i < n; ++i) {
      double at = s + advance[i] / 2;
      if (centreDeg != 0) {
        at += from;
        if (at > full / 2) at -= full;
        if (at < -full / 2) at += full;
      }
      double t = arc.paramAt(at);
      s += advance[i];
      double x = cx + a * std::sin(t), y = cy - b * std::cos(t);
      if (isLatin(i)) {
        if (text::isSpace(text[i])) continue;
        const Glyph& gl = latin[i];
        p.place(gl, x, y, arc.tangentAngle(t), latinEm / 100 * q, latinEm / 100, gl.ext.x_advance / 2, -kLatinMid * 100);
        latinPath = true;
      } else {
        // Looking up the character's outline clears the path: fill the letters before it first.
        if (latinPath) p.fillMarks(), latinPath = false;
        p.drawChar(text[i], {x, y, width * q2, h, arc.tangentAngle(t), Fit::Em});
      }
    }
    if (latinPath) p.fillMarks();
    return;
  }
}

// Places small glyphs along the bottom of the ellipse, reading left to right, tops towards
// the centre (the registration code of company seals).
void bottomArcText(Painter& p, std::u32string_view text, double cx, double cy, double outerA, double outerB,
                   double h, double widthRatio) {
  const size_t n = text.size();
  double a = outerA - h / 2, b = outerB - h / 2;
  EllipseArc arc(a, b);
  double pitch = h * widthRatio * 1.08;
  double half = arc.lengthAt(kPi) ;  // length from the top to the bottom
  double span = pitch * n;
  for (size_t i = 0; i < n; ++i) {
    // Arc lengths past the bottom point are negative lengths on the left half.
    double s = half + span / 2 - (i + 0.5) * pitch;
    double t = s <= half ? arc.paramAt(s) : arc.paramAt(s - 2 * half);
    double x = cx + a * std::sin(t), y = cy - b * std::cos(t);
    p.drawChar(text[i], {x, y, h * widthRatio, h, arc.tangentAngle(t) + kPi, Fit::Em});
  }
}

EllipseMm drawEllipseRings(Painter& p, double cx, double cy, double A, double B, const BorderMm& bd, bool fixed) {
  cairo_t* cr = p.cr();
  // The inner ring of a double border: cut out of the field on yin seals, inked on yang ones.
  auto strokeInnerRing = [&] {
    if (!fixed || bd.inner <= 0) return;
    double r = bd.outer + bd.gap + bd.inner / 2;
    p.ellipsePath(cx, cy, A - r, B - r);
    cairo_set_line_width(cr, bd.inner);
    p.stroke();
  };
  if (p.yin()) {
    p.inkMode();
    if (fixed) p.ellipsePath(cx, cy, A, B), p.fill();
    p.markMode();
    strokeInnerRing();
  } else {
    p.inkMode();
    if (fixed && bd.outer > 0) {
      p.ellipsePath(cx, cy, A - bd.outer / 2, B - bd.outer / 2);
      cairo_set_line_width(cr, bd.outer);
      p.stroke();
    }
    strokeInnerRing();
  }
  p.markMode();
  // Without an outer ring the text keeps a margin from the edge: wider on a solid yin field.
  const double margin = bd.outer == 0 ? (p.yin() ? 1.0 : 0.3) : 0.0;
  return {A - bd.outer - bd.gap - bd.inner - margin, B - bd.outer - bd.gap - bd.inner - margin};
}

void drawEllipseSeal(Painter& p, std::u32string_view text, std::u32string horizontal, Layer layer) {
  const bool fixed = layer != Layer::Text, marks = layer != Layer::Fixed;
  const StampStyle& st = p.style();
  ShapeMm mm = shapeMm(st.shape);
  const double cx = mm.w / 2, cy = mm.h / 2, A = mm.w / 2, B = mm.h / 2;
  const double scale = B / 21.0;  // proportions of the 42 mm norm, scaled to the shorter axis
  BorderMm bd = borderMm(st.border, std::max(scale, 0.8));

  const auto [edgeA, edgeB] = drawEllipseRings(p, cx, cy, A, B, bd, fixed);

  const bool centreGrid = st.emblem == Emblem::None && st.bottom == Bottom::None && st.maxChars <= 4;
  if (centreGrid) {
    if (!marks) return;
    // Small round personal seal: the name fills the middle.
    double side = std::min(edgeA, edgeB) * 2 * 0.66;
    double gw = st.shape == Shape::Oval ? side * edgeA / edgeB * 0.85 : side;
    if (mostlyLatin(text))
      latinBlock(p, text, cx - gw / 2, cy - side / 2, gw, side, 3);
    else
      gridText(p, text, cx - gw / 2, cy - side / 2, gw, side, squareColumns(text::cellCount(text)), true, 0.04);
    return;
  }

  // The star stands clear of every text (the line below it, the name and the code along the
  // ring), so it is drawn with the ring, before them, and the pixels are the same either way.
  const double starR = st.shape == Shape::Oval ? 4.6 * scale * 1.3 : 7.0;
  if (fixed && st.emblem == Emblem::Star) {
    // Centred, or lifted a little when a horizontal line shares the middle.
    double sy = horizontal.empty() ? cy : cy - starR * 0.12;
    p.star(cx, sy, starR);
  }
  if (!marks) return;

  // Name along the arc: 6.75 mm glyphs 0.9 mm inside the border on the 42 mm seal.
  const double gap = 0.9 * scale;
  const double glyphH = 6.6 * scale;
  const double span = st.bottom == Bottom::None ? 262 : st.bottom == Bottom::Code ? 250 : 240;
  arcText(p, text, cx, cy, edgeA - gap, edgeB - gap, glyphH, span);

  if (!horizontal.empty()) {
    // The line sits under the star, inside the circle that the arc text leaves free.
    double hh = 4.6 * scale;
    double ly = st.emblem == Emblem::Star ? cy + starR * 0.8 + 1.2 * scale + hh / 2 : cy;
    // Below the ends of the arc text the whole inner width is free; keep clear of the ring.
    double dy = (ly + hh / 2 - cy) / edgeB;
    double half = std::min(std::sqrt(std::max(0.0, 1 - dy * dy)) * edgeA - 2.0 * scale, 0.55 * edgeA);
    if (std::any_of(horizontal.begin(), horizontal.end(), text::isHalfWidth)) {
      latinBlock(p, horizontal, cx - half, ly - hh / 2, 2 * half, hh, 1);
      horizontal.clear();
    }
    int m = static_cast<int>(horizontal.size());
    double cw = m ? std::min(hh * 1.05, 2 * half / m) : 0;
    double total = cw * m;
    for (int i = 0; i < m; ++i)
      p.drawChar(horizontal[i], {cx - total / 2 + (i + 0.5) * cw, ly, cw * 0.92, hh, 0, Fit::Em});
  }
  if (st.bottom == Bottom::Code) {
    bottomArcText(p, bottomCode(text), cx, cy, edgeA - 0.5 * scale, edgeB - 0.5 * scale, 2.7 * scale, 0.62);
  }
}

}  // namespace tambrel::draw
