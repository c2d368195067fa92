// Stamp drawing in millimetres; see render.h for the approach.
//
// Layout rules that make a seal look right:
// - Arc text keeps its glyphs upright relative to the ring (tops outward), evenly spaced by
//   arc length, with a fixed gap to the ring's inner edge; long names first narrow their
//   glyphs (as carved seals do) and only then shrink.
// - Grid text (square, long, rectangular seals) fills its cells: glyphs are stretched towards
//   the cell shape within limits, so a 一 never becomes a block.
// - Yin (白文) stamps fill the shape and cut every mark out of it with CAIRO_OPERATOR_CLEAR.
// - Latin letters are set as words: on a common baseline at their own advances, upright and
//   left to right, never stretched one per cell (a stretched "a" would stand as tall as a "T").
//   A text that is all or mostly Latin fills a frame as centred horizontal lines; in mixed
//   texts each Latin run takes its cells as one group; along an arc the letters follow the
//   baseline with only light letter-spacing, so a word stays a word.
#include "render.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <list>
#include <memory>
#include <mutex>

#include "text.h"

namespace tambrel {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;
constexpr double kMarginMm = 0.5;  // room for anti-aliasing around the shape

struct ShapeMm {
  double w, h;
};

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

template <typename T, void (*Destroy)(T*)>
struct CairoDeleter {
  void operator()(T* p) const { Destroy(p); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, CairoDeleter<cairo_surface_t, cairo_surface_destroy>>;
using ContextPtr = std::unique_ptr<cairo_t, CairoDeleter<cairo_t, cairo_destroy>>;
using FontOptionsPtr = std::unique_ptr<cairo_font_options_t, CairoDeleter<cairo_font_options_t, cairo_font_options_destroy>>;
using PathPtr = std::unique_ptr<cairo_path_t, CairoDeleter<cairo_path_t, cairo_path_destroy>>;

// One character's outline at font size 100, so font units are hundredths of an em.
struct Glyph {
  PathPtr outline;
  cairo_text_extents_t ext{};
  bool found = false;  // false: no face has it, and a hollow square of these extents stands in
};

// Height above the baseline, in ems, that Latin text centres on: the middle of a capital.
constexpr double kLatinMid = 0.36;

uint64_t fnv1a(std::u32string_view text, uint64_t h = 1469598103934665603ull) {
  for (char32_t c : text) {
    for (int k = 0; k < 4; ++k) {
      h ^= (c >> (8 * k)) & 0xFF;
      h *= 1099511628211ull;
    }
  }
  return h;
}

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

class Painter {
 public:
  Painter(const FontSet& fonts, const StampStyle& style, cairo_t* cr) : fonts_(fonts), style_(style), cr_(cr) {}

  bool yin() const { return style_.relief == Relief::Yin; }
  // Marks (text, star, inner lines) are ink on yang stamps and cuts on yin stamps.
  void markMode() { cairo_set_operator(cr_, yin() ? CAIRO_OPERATOR_CLEAR : CAIRO_OPERATOR_OVER); }
  void inkMode() { cairo_set_operator(cr_, CAIRO_OPERATOR_OVER); }
  void cutMode() { cairo_set_operator(cr_, CAIRO_OPERATOR_CLEAR); }

  // Extra stroke around glyph outlines, mm: kai and thin faces look too light in red ink.
  double emboldenMm = 0.0;

  // Looks the character up in the script's face, then in the others.
  Glyph shape(char32_t c) {
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

  // Adds a glyph's outline to the path: the font-unit point (ax, ay) lands on (x, y) mm, the
  // glyph turned by angle and scaled by (sx, sy) mm per font unit. fillMarks() paints it.
  void place(const Glyph& g, double x, double y, double angle, double sx, double sy, double ax, double ay) {
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

  void fillMarks() {
    if (emboldenMm > 0) {
      cairo_fill_preserve(cr_);
      cairo_set_line_width(cr_, emboldenMm);
      cairo_set_line_join(cr_, CAIRO_LINE_JOIN_ROUND);
      cairo_stroke(cr_);
    } else {
      cairo_fill(cr_);
    }
  }

  // One character centred in its box by its ink, as CJK characters are set.
  void drawChar(char32_t c, const GlyphBox& box) {
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
      cairo_stroke(cr_);
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

  void star(double cx, double cy, double outerR) {
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
    cairo_fill(cr_);
  }

  // Path of an ellipse centred at (cx, cy).
  void ellipsePath(double cx, double cy, double a, double b) {
    cairo_save(cr_);
    cairo_translate(cr_, cx, cy);
    cairo_scale(cr_, a, b);
    cairo_new_sub_path(cr_);
    cairo_arc(cr_, 0, 0, 1, 0, 2 * kPi);
    cairo_restore(cr_);
  }

  void roundedRectPath(double x, double y, double w, double h, double r) {
    r = std::min({r, w / 2, h / 2});
    cairo_new_sub_path(cr_);
    cairo_arc(cr_, x + w - r, y + r, r, -kPi / 2, 0);
    cairo_arc(cr_, x + w - r, y + h - r, r, 0, kPi / 2);
    cairo_arc(cr_, x + r, y + h - r, r, kPi / 2, kPi);
    cairo_arc(cr_, x + r, y + r, r, kPi, 3 * kPi / 2);
    cairo_close_path(cr_);
  }

  cairo_t* cr() const { return cr_; }
  const StampStyle& style() const { return style_; }

 private:
  const FontSet& fonts_;
  const StampStyle& style_;
  cairo_t* cr_;
};

// Ring widths (mm) of a seal border: the outer line, and an inner line for double borders.
struct BorderMm {
  double outer;
  double gap;    // between the outer and the inner line
  double inner;  // 0 when there is no inner line
};

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

// Places glyphs of height h along the upper arc of the text ellipse, centred at the top,
// spread over at most maxSpanDeg of the parameter range; narrows and then shrinks glyphs
// that would not fit. CJK characters take a square each; Latin letters sit on a baseline that
// follows the arc, at their own advances, so they read as words.
void arcText(Painter& p, std::u32string_view text, double cx, double cy, double outerA, double outerB, double h,
             double maxSpanDeg) {
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
    const double latinEm = h * kLatinSize;
    std::vector<double> natural(n);
    double total = 0;
    for (size_t i = 0; i < n; ++i) {
      natural[i] = isLatin(i) ? latin[i].ext.x_advance / 100.0 * latinEm : width * 1.12;
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
    if (f > 1) {
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
    double s = -span / 2;
    bool latinPath = false;
    for (size_t i = 0; i < n; ++i) {
      double t = arc.paramAt(s + advance[i] / 2);
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
        p.drawChar(text[i], {x, y, width * q, h, arc.tangentAngle(t), Fit::Em});
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

// Sets a text as centred horizontal lines on baselines, as wide as the box allows: Latin words
// keep their letters' shapes and read left to right. Up to maxLines lines, broken at spaces or,
// for one long word in a tall box, evenly; the layout that draws the letters largest wins.
// Returns the height scale used (mm per font unit); maxScale caps it so that neighbouring
// blocks can share one letter size, and draw = false only measures.
double latinBlock(Painter& p, std::u32string_view raw, double x, double y, double w, double h, int maxLines,
                  double maxScale = 1e9, bool draw = true) {
  const std::u32string text = text::trimSpaces(raw);
  const size_t n = text.size();
  if (n == 0) return 0;
  std::vector<Glyph> glyphs;
  glyphs.reserve(n);
  for (char32_t c : text) glyphs.push_back(p.shape(c));
  auto widthOf = [&](size_t b, size_t e) {
    double sum = 0;
    for (size_t i = b; i < e; ++i) sum += glyphs[i].ext.x_advance;
    return sum;
  };
  using Lines = std::vector<std::pair<size_t, size_t>>;
  struct Candidate {
    Lines lines;
    double penalty;
  };
  std::vector<Candidate> candidates{{{{0, n}}, 1.0}};
  std::vector<std::pair<size_t, size_t>> words;
  for (size_t i = 0; i < n;) {
    if (text::isSpace(text[i])) {
      ++i;
      continue;
    }
    size_t b = i;
    while (i < n && !text::isSpace(text[i])) ++i;
    words.emplace_back(b, i);
  }
  for (int lines = 2; lines <= maxLines; ++lines) {
    const size_t L = static_cast<size_t>(lines);
    if (words.size() >= L) {
      // Break at spaces so that the widest line is as narrow as it can be.
      Lines best;
      double bestWidth = 1e300;
      std::vector<size_t> cut(L - 1);
      auto tryCuts = [&](auto&& self, size_t k, size_t from) -> void {
        if (k == L - 1) {
          Lines ls;
          size_t first = 0;
          for (size_t j = 0; j <= L - 1; ++j) {
            size_t last = j < L - 1 ? cut[j] : words.size();
            ls.emplace_back(words[first].first, words[last - 1].second);
            first = last;
          }
          double widest = 0;
          for (auto [b, e] : ls) widest = std::max(widest, widthOf(b, e));
          if (widest < bestWidth) bestWidth = widest, best = ls;
          return;
        }
        for (size_t c = from; c + (L - 1 - k) <= words.size() - 1; ++c) {
          cut[k] = c;
          self(self, k + 1, c + 1);
        }
      };
      tryCuts(tryCuts, 0, 1);
      candidates.push_back({best, 1.0});
    } else if (words.size() == 1 && n >= 2 * L) {
      // One word too long for a line: cut into equal pieces, the first taking the larger share.
      Lines ls;
      size_t b = 0;
      for (size_t j = 0; j < L; ++j) {
        size_t len = n / L + (j < n % L ? 1 : 0);
        ls.emplace_back(b, b + len);
        b += len;
      }
      candidates.push_back({ls, 0.8});
    }
  }

  constexpr double kPitch = 118;  // baseline to baseline, font units
  struct Fitted {
    double sx, sy, cx, cy;     // mm per font unit; centre of the ink, font units
    std::vector<double> shift;  // each line's start, centring it
    double score;
  };
  auto fit = [&](const Candidate& c) {
    Fitted f{0, 0, 0, 0, {}, 0};
    double minX = 1e300, maxX = -1e300, minY = 1e300, maxY = -1e300;
    for (size_t li = 0; li < c.lines.size(); ++li) {
      auto [b, e] = c.lines[li];
      double pen = 0, lo = 1e300, hi = -1e300;
      for (size_t i = b; i < e; ++i) {
        const cairo_text_extents_t& ext = glyphs[i].ext;
        if (ext.width > 0 && ext.height > 0) {
          lo = std::min(lo, pen + ext.x_bearing);
          hi = std::max(hi, pen + ext.x_bearing + ext.width);
          minY = std::min(minY, li * kPitch + ext.y_bearing);
          maxY = std::max(maxY, li * kPitch + ext.y_bearing + ext.height);
        }
        pen += ext.x_advance;
      }
      if (lo > hi) lo = hi = 0;
      f.shift.push_back(-(lo + hi) / 2);
      minX = std::min(minX, (lo - hi) / 2);
      maxX = std::max(maxX, (hi - lo) / 2);
    }
    if (minY > maxY) return f;
    const double bw = std::max(1.0, maxX - minX), bh = std::max(1.0, maxY - minY);
    // Uniform scale, then a little room given to taller or (less) wider letters, as seal
    // letters are drawn to fill their space.
    const double u = std::min(w / bw, h / bh);
    f.sx = std::min({w / bw, u * 1.15, maxScale});
    f.sy = std::min({h / bh, u * 1.3, maxScale});
    f.cx = 0;
    f.cy = (minY + maxY) / 2;
    f.score = std::sqrt(f.sx * f.sy) * c.penalty;
    return f;
  };
  size_t best = 0;
  Fitted chosen = fit(candidates[0]);
  for (size_t k = 1; k < candidates.size(); ++k) {
    Fitted f = fit(candidates[k]);
    if (f.score > chosen.score * 1.02) chosen = std::move(f), best = k;
  }
  if (chosen.score <= 0 || !draw) return chosen.sy;
  const Lines& lines = candidates[best].lines;
  for (size_t li = 0; li < lines.size(); ++li) {
    double pen = chosen.shift[li];
    for (size_t i = lines[li].first; i < lines[li].second; ++i) {
      if (!text::isSpace(text[i]))
        p.place(glyphs[i], x + w / 2 + (pen - chosen.cx) * chosen.sx, y + h / 2 + (li * kPitch - chosen.cy) * chosen.sy,
                0, chosen.sx, chosen.sy, 0, 0);
      pen += glyphs[i].ext.x_advance;
    }
  }
  p.fillMarks();
  return chosen.sy;
}

// Lays a text out in a grid of cells: vertical columns read right to left (traditional seals),
// or horizontal rows read left to right. counts[i] is the number of cells in line i. A CJK
// character fills a cell; a run of Latin letters takes its cells as one group and is set as a
// word across them (split between lines only when the group runs over the end of one).
void gridText(Painter& p, std::u32string_view text, double x, double y, double w, double h,
              const std::vector<int>& counts, bool columns, double pad) {
  struct Cell {
    int line;
    double x, y, w, h;
  };
  std::vector<Cell> cells;
  const int lines = static_cast<int>(counts.size());
  for (int line = 0; line < lines; ++line) {
    int m = counts[line];
    for (int j = 0; j < m; ++j) {
      if (columns)
        cells.push_back({line, x + w - (line + 1.0) * w / lines, y + j * h / m, w / lines, h / m});
      else
        cells.push_back({line, x + j * w / m, y + line * h / lines, w / m, h / lines});
    }
  }
  size_t k = 0;
  for (const text::CellRun& run : text::cellRuns(text)) {
    if (k >= cells.size()) break;
    if (!run.halfWidth) {
      const Cell& c = cells[k++];
      p.drawChar(text[run.begin],
                 {c.x + c.w / 2, c.y + c.h / 2, c.w * (1 - 2 * pad), c.h * (1 - 2 * pad), 0, Fit::Stretch});
      continue;
    }
    const size_t group = std::min(static_cast<size_t>(run.cells), cells.size() - k);
    const size_t len = run.end - run.begin;
    size_t done = 0;  // cells of the group already used
    while (done < group) {
      // The part of the group on one line, and its share of the letters.
      size_t e = done + 1;
      while (e < group && cells[k + e].line == cells[k + done].line) ++e;
      const Cell& first = cells[k + done];
      const Cell& last = cells[k + e - 1];
      double bx = std::min(first.x, last.x), by = std::min(first.y, last.y);
      double bw = std::max(first.x + first.w, last.x + last.w) - bx, bh = std::max(first.y + first.h, last.y + last.h) - by;
      size_t from = run.begin + len * done / group, to = run.begin + len * e / group;
      latinBlock(p, text.substr(from, to - from), bx + bw * pad, by + bh * pad, bw * (1 - 2 * pad), bh * (1 - 2 * pad),
                 3);
      done = e;
    }
    k += group;
  }
}

// Whether a text is set as lines of words rather than in a grid: all or mostly Latin.
bool mostlyLatin(std::u32string_view text) {
  size_t latin = 0, halves = 0;
  for (char32_t c : text) {
    bool half = text::isHalfWidth(c);
    latin += half;
    halves += half ? 1 : 2;
  }
  return halves > 0 && latin * 4 >= halves * 3;
}

// Splits n characters into `lines` lines; the first lines take the smaller share, so a
// three-character name gives the surname a column of its own.
std::vector<int> splitLines(int n, int lines) {
  std::vector<int> counts(lines, n / lines);
  int extra = n % lines;
  for (int i = lines - extra; i < lines; ++i) counts[i]++;
  counts.erase(std::remove(counts.begin(), counts.end(), 0), counts.end());
  return counts;
}

// Square grid for personal seals: 2 → 2 columns, 3-4 → 2, 5-6 → 3, 7-9 → 3, more → 4.
std::vector<int> squareColumns(int n) {
  int cols = n <= 2 ? n : n <= 4 ? 2 : n <= 9 ? 3 : 4;
  return splitLines(n, cols);
}

// What a call draws: the ring(s) and star do not depend on the text, so they can be drawn once
// per template and size and copied under every text (see renderStamp).
enum class Layer { Fixed, Text, All };

void drawEllipseSeal(Painter& p, std::u32string_view text, std::u32string horizontal, Layer layer) {
  cairo_t* cr = p.cr();
  const bool fixed = layer != Layer::Text, marks = layer != Layer::Fixed;
  const StampStyle& st = p.style();
  ShapeMm mm = shapeMm(st.shape);
  const double cx = mm.w / 2, cy = mm.h / 2, A = mm.w / 2, B = mm.h / 2;
  const double scale = B / 21.0;  // proportions of the 42 mm norm, scaled to the shorter axis
  BorderMm bd = borderMm(st.border, std::max(scale, 0.8));

  // The inner ring of a double border: cut out of the field on yin seals, inked on yang ones.
  auto strokeInnerRing = [&] {
    if (!fixed || bd.inner <= 0) return;
    double r = bd.outer + bd.gap + bd.inner / 2;
    p.ellipsePath(cx, cy, A - r, B - r);
    cairo_set_line_width(cr, bd.inner);
    cairo_stroke(cr);
  };
  if (p.yin()) {
    p.inkMode();
    if (fixed) p.ellipsePath(cx, cy, A, B), cairo_fill(cr);
    p.markMode();
    strokeInnerRing();
  } else {
    p.inkMode();
    if (fixed && bd.outer > 0) {
      p.ellipsePath(cx, cy, A - bd.outer / 2, B - bd.outer / 2);
      cairo_set_line_width(cr, bd.outer);
      cairo_stroke(cr);
    }
    strokeInnerRing();
  }
  p.markMode();
  // Without an outer ring the text keeps a margin from the edge: wider on a solid yin field.
  const double margin = bd.outer == 0 ? (p.yin() ? 1.0 : 0.3) : 0.0;
  const double edgeA = A - bd.outer - bd.gap - bd.inner - margin;
  const double edgeB = B - bd.outer - bd.gap - bd.inner - margin;

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

void drawFrameSeal(Painter& p, std::u32string_view text) {
  cairo_t* cr = p.cr();
  const StampStyle& st = p.style();
  ShapeMm mm = shapeMm(st.shape);
  const double scale = std::min(mm.w, mm.h) / 20.0;
  BorderMm bd = borderMm(st.border, scale * 0.8);
  const double corner = 0.8 * scale;

  double inset;
  if (p.yin()) {
    p.inkMode();
    p.roundedRectPath(0, 0, mm.w, mm.h, corner);
    cairo_fill(cr);
    p.markMode();
    if (bd.inner > 0) {
      double r = bd.outer + bd.gap + bd.inner / 2;
      p.roundedRectPath(r, r, mm.w - 2 * r, mm.h - 2 * r, corner * 0.6);
      cairo_set_line_width(cr, bd.inner);
      cairo_stroke(cr);
    }
    inset = std::max(1.1 * scale, bd.outer + bd.gap + bd.inner) + 0.6 * scale;
  } else {
    p.inkMode();
    if (bd.outer > 0) {
      p.roundedRectPath(bd.outer / 2, bd.outer / 2, mm.w - bd.outer, mm.h - bd.outer, corner);
      cairo_set_line_width(cr, bd.outer);
      cairo_stroke(cr);
    }
    if (bd.inner > 0) {
      double r = bd.outer + bd.gap + bd.inner / 2;
      p.roundedRectPath(r, r, mm.w - 2 * r, mm.h - 2 * r, corner * 0.6);
      cairo_set_line_width(cr, bd.inner);
      cairo_stroke(cr);
    }
    inset = bd.outer + bd.gap + bd.inner + 0.7 * scale;
  }
  p.markMode();
  const int n = text::cellCount(text);
  const double x = inset, y = inset, w = mm.w - 2 * inset, h = mm.h - 2 * inset;
  if (mostlyLatin(text)) {
    const double pad = 0.03 * std::min(w, h);
    latinBlock(p, text, x + pad, y + pad, w - 2 * pad, h - 2 * pad, 3);
    return;
  }
  switch (st.shape) {
    case Shape::Square:
      gridText(p, text, x, y, w, h, squareColumns(n), true, 0.03);
      break;
    case Shape::Long:
      gridText(p, text, x, y, w, h, splitLines(n, n <= 5 ? 1 : n <= 10 ? 2 : 3), true, 0.04);
      break;
    default: {  // Rect: one row, or two for longer texts
      int rows = n <= 5 ? 1 : n <= 12 ? 2 : 3;
      std::vector<int> counts = splitLines(n, rows);
      std::reverse(counts.begin(), counts.end());  // the fuller line first
      gridText(p, text, x, y, w, h, counts, false, 0.05);
      break;
    }
  }
}

// Scalloped circle: a core disc with `bumps` discs around it; `shrink` erodes every disc,
// which, cut from the full outline, leaves the cloud's contour line.
void cloudPath(cairo_t* cr, double cx, double cy, double r, double shrink, double phase) {
  const int bumps = 9;
  const double core = r * 0.80;
  const double bump = core * std::sin(kPi / bumps) * 1.32;
  cairo_new_sub_path(cr);
  cairo_arc(cr, cx, cy, core - shrink, 0, 2 * kPi);
  for (int i = 0; i < bumps; ++i) {
    double a = phase + 2 * kPi * i / bumps;
    double bx = cx + (r - bump) * std::cos(a), by = cy + (r - bump) * std::sin(a);
    cairo_new_sub_path(cr);
    cairo_arc(cr, bx, by, bump - shrink, 0, 2 * kPi);
  }
}

void drawCloudSeal(Painter& p, std::u32string_view text) {
  cairo_t* cr = p.cr();
  ShapeMm mm = shapeMm(Shape::Cloud);
  const double r = mm.h / 2;
  const double c1 = r, c2 = mm.w - r, cy = mm.h / 2;
  const double line = 0.9;
  // Union of both clouds: non-zero filling of all discs drawn clockwise.
  cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
  p.inkMode();
  cloudPath(cr, c1, cy, r, 0, -kPi / 2);
  cloudPath(cr, c2, cy, r, 0, kPi / 2);
  cairo_fill(cr);
  if (!p.yin()) {
    p.cutMode();
    cloudPath(cr, c1, cy, r, line, -kPi / 2);
    cloudPath(cr, c2, cy, r, line, kPi / 2);
    cairo_fill(cr);
  }
  p.markMode();
  const double box = r * 1.12;
  // One character or word in each cloud.
  std::u32string_view left, right;
  std::vector<text::CellRun> runs = text::cellRuns(text);
  if (runs.size() == 1 && runs[0].halfWidth) {
    // A Latin name reads left to right: its first half goes to the left cloud, cut at the
    // space nearest the middle, or in the middle of a single word.
    const double middle = text.size() / 2.0;
    size_t cut = (text.size() + 1) / 2;
    double nearest = 1e9;
    for (size_t i = 1; i + 1 < text.size(); ++i)
      if (text::isSpace(text[i]) && std::abs(i - middle) < nearest) nearest = std::abs(i - middle), cut = i;
    left = text.substr(0, cut);
    right = text.substr(cut);
  } else if (!runs.empty()) {
    // Read right to left, like the columns of a traditional seal.
    right = text.substr(runs[0].begin, runs[0].end - runs[0].begin);
    if (runs.size() > 1) left = text.substr(runs[1].begin);
  }
  auto wordBox = [&](std::u32string_view part, double centre, double scale, bool draw) {
    return latinBlock(p, part, centre - box / 2, cy - box / 2, box, box, 2, scale, draw);
  };
  // Words in both clouds share the smaller one's letter size.
  double scale = 1e9;
  for (auto [part, centre] : {std::pair{right, c2}, std::pair{left, c1}})
    if (!(part.size() == 1 && !text::isHalfWidth(part[0])) && !part.empty())
      scale = std::min(scale, wordBox(part, centre, 1e9, false));
  for (auto [part, centre] : {std::pair{right, c2}, std::pair{left, c1}}) {
    if (part.size() == 1 && !text::isHalfWidth(part[0]))
      p.drawChar(part[0], {centre, cy, box, box, 0, Fit::Stretch});
    else if (!part.empty())
      wordBox(part, centre, scale, true);
  }
}

// Weathered look: speckles and worn patches where the ink did not take, and uneven density.
void weather(cairo_t* cr, Raster& raster, double pxPerMm, ShapeMm mm, bool elliptic, uint64_t seed) {
  Rng rng{seed | 1};
  cairo_set_operator(cr, CAIRO_OPERATOR_DEST_OUT);
  const int speckles = static_cast<int>(mm.w * mm.h * 0.12);
  for (int i = 0; i < speckles; ++i) {
    double x = rng.uniform(0, mm.w), y = rng.uniform(0, mm.h);
    double r = rng.uniform(0.05, 0.22);
    cairo_set_source_rgba(cr, 0, 0, 0, rng.uniform(0.4, 0.9));
    cairo_new_sub_path(cr);
    cairo_arc(cr, x, y, r, 0, 2 * kPi);
    cairo_fill(cr);
  }
  // Broken edges: bites out of the outline, as on an old, worn seal.
  const int bites = 6 + static_cast<int>(rng.next() % 6);
  for (int i = 0; i < bites; ++i) {
    bool vertical = rng.next() % 2;
    double along = rng.uniform(0, vertical ? mm.h : mm.w);
    double side = (rng.next() % 2) ? 0 : (vertical ? mm.w : mm.h);
    double x = vertical ? side : along, y = vertical ? along : side;
    if (elliptic) {
      double a = rng.uniform(0, 2 * kPi);
      x = mm.w / 2 * (1 + std::cos(a));
      y = mm.h / 2 * (1 + std::sin(a));
    }
    // A ragged bite: a few overlapping small chips rather than one round hole.
    cairo_set_source_rgba(cr, 0, 0, 0, 1);
    const int chips = 3 + static_cast<int>(rng.next() % 4);
    for (int k = 0; k < chips; ++k) {
      double r = rng.uniform(0.15, 0.6);
      cairo_new_sub_path(cr);
      cairo_arc(cr, x + rng.uniform(-0.8, 0.8), y + rng.uniform(-0.8, 0.8), r, 0, 2 * kPi);
    }
    cairo_fill(cr);
  }
  const int patches = 4 + static_cast<int>(rng.next() % 4);
  for (int i = 0; i < patches; ++i) {
    double x = rng.uniform(0, mm.w), y = rng.uniform(0, mm.h);
    double r = rng.uniform(1.0, 3.0);
    cairo_pattern_t* g = cairo_pattern_create_radial(x, y, 0, x, y, r);
    cairo_pattern_add_color_stop_rgba(g, 0, 0, 0, 0, rng.uniform(0.3, 0.6));
    cairo_pattern_add_color_stop_rgba(g, 1, 0, 0, 0, 0);
    cairo_set_source(cr, g);
    cairo_arc(cr, x, y, r, 0, 2 * kPi);
    cairo_fill(cr);
    cairo_pattern_destroy(g);
  }
  cairo_surface_flush(cairo_get_target(cr));
  // Uneven ink: value noise at about 0.4 mm, multiplied into the coverage.
  const double cell = std::max(2.0, 0.4 * pxPerMm);
  const int gw = static_cast<int>(raster.width / cell) + 2, gh = static_cast<int>(raster.height / cell) + 2;
  std::vector<float> grid(static_cast<size_t>(gw) * gh);
  for (float& v : grid) v = static_cast<float>(rng.uniform(0.8, 1.0));
  for (int y = 0; y < raster.height; ++y) {
    double gy = y / cell;
    int iy = static_cast<int>(gy);
    double fy = gy - iy;
    uint8_t* row = raster.alpha.data() + static_cast<size_t>(y) * raster.stride;
    for (int x = 0; x < raster.width; ++x) {
      if (!row[x]) continue;
      double gx = x / cell;
      int ix = static_cast<int>(gx);
      double fx = gx - ix;
      const float* g0 = &grid[static_cast<size_t>(iy) * gw + ix];
      const float* g1 = g0 + gw;
      double v = (g0[0] * (1 - fx) + g0[1] * fx) * (1 - fy) + (g1[0] * (1 - fx) + g1[1] * fx) * fy;
      row[x] = static_cast<uint8_t>(row[x] * v + 0.5);
    }
  }
  cairo_surface_mark_dirty(cairo_get_target(cr));
}

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
  FontOptionsPtr options(cairo_font_options_create());
  cairo_font_options_set_hint_style(options.get(), CAIRO_HINT_STYLE_NONE);
  cairo_font_options_set_hint_metrics(options.get(), CAIRO_HINT_METRICS_OFF);
  cairo_font_options_set_antialias(options.get(), CAIRO_ANTIALIAS_GRAY);
  cairo_set_font_options(cr.get(), options.get());
  // A quarter pixel of flattening error is invisible and saves time on curved glyph outlines.
  cairo_set_tolerance(cr.get(), 0.25);

  ShapeMm mm = shapeMm(style.shape);
  const double pxPerMm = std::min(px.width / (mm.w + 2 * kMarginMm), px.height / (mm.h + 2 * kMarginMm));
  cairo_translate(cr.get(), (px.width - mm.w * pxPerMm) / 2, (px.height - mm.h * pxPerMm) / 2);
  cairo_scale(cr.get(), pxPerMm, pxPerMm);
  cairo_set_source_rgba(cr.get(), 0, 0, 0, 1);
  return cr;
}

// Everything of a round or oval seal that decides its ring(s) and star.
struct FixedKey {
  Shape shape;
  Relief relief;
  Border border;
  Emblem emblem;
  Bottom bottom;
  int maxChars;
  bool line;
  int width, height;
  bool operator==(const FixedKey&) const = default;
};

// Coverage of the text-independent layers per template look and size, shared by all threads.
// Bounded in bytes (least recently used first out) so that requests for many sizes cannot grow
// it: at the usual sizes it holds every template, and a miss only costs the drawing it saves.
class FixedLayerCache {
 public:
  static constexpr size_t kBudget = 8u << 20;

  std::shared_ptr<const std::vector<uint8_t>> find(const FixedKey& key) {
    std::lock_guard lock(mutex_);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (it->first == key) {
        entries_.splice(entries_.begin(), entries_, it);
        return it->second;
      }
    }
    return nullptr;
  }

  std::shared_ptr<const std::vector<uint8_t>> insert(const FixedKey& key, std::vector<uint8_t> alpha) {
    auto value = std::make_shared<const std::vector<uint8_t>>(std::move(alpha));
    if (value->size() > kBudget / 8) return value;  // a rare huge size: not worth a slot
    std::lock_guard lock(mutex_);
    for (const auto& entry : entries_)
      if (entry.first == key) return entry.second;  // another thread drew it meanwhile
    entries_.emplace_front(key, value);
    bytes_ += value->size();
    while (bytes_ > kBudget) {
      bytes_ -= entries_.back().second->size();
      entries_.pop_back();
    }
    return value;
  }

 private:
  std::mutex mutex_;
  std::list<std::pair<FixedKey, std::shared_ptr<const std::vector<uint8_t>>>> entries_;
  size_t bytes_ = 0;
};

FixedLayerCache& fixedLayers() {
  static FixedLayerCache cache;
  return cache;
}

}  // namespace

std::u32string bottomCode(std::u32string_view text) {
  uint64_t h = fnv1a(text, 0x9E3779B97F4A7C15ull);
  std::u32string code(13, U'0');
  for (int i = 12; i >= 0; --i) {
    code[i] = U'0' + static_cast<char32_t>(h % 10);
    h /= 10;
  }
  return code;
}

NaturalSize stampPixelSize(const StampStyle& style, int longSide) {
  NaturalSize nat = naturalSize(style.shape);
  if (longSide <= 0) return nat;
  ShapeMm mm = shapeMm(style.shape);
  double ratio = mm.w / mm.h;
  if (ratio >= 1) return {longSide, std::max(1, static_cast<int>(std::lround(longSide / ratio)))};
  return {std::max(1, static_cast<int>(std::lround(longSide * ratio))), longSide};
}

Raster renderStamp(const FontSet& fonts, const StampStyle& style, std::u32string_view text, int longSide) {
  NaturalSize px = stampPixelSize(style, longSide);
  Raster raster = blankRaster(px);
  SurfacePtr surface = surfaceFor(raster);
  ContextPtr cr = stampContext(surface.get(), style, px);
  ShapeMm mm = shapeMm(style.shape);
  const double pxPerMm = std::min(px.width / (mm.w + 2 * kMarginMm), px.height / (mm.h + 2 * kMarginMm));

  Painter painter(fonts, style, cr.get());
  // Kai strokes are thin next to carved or printed seal text; give them body.
  if (style.script == Script::Kai || (style.script == Script::Zhuan && !fonts.hasOwnFace(Script::Zhuan)))
    painter.emboldenMm = 0.12 * std::min(mm.w, mm.h) / 20.0;

  std::u32string body(text);
  std::u32string horizontal;
  if (style.bottom == Bottom::Text && (style.shape == Shape::Round || style.shape == Shape::Oval)) {
    // "Name|line" puts the part after the bar on the horizontal line under the star;
    // otherwise the line is the template's own (合同专用章 on a contract seal).
    size_t bar = body.find(U'|');
    if (bar != std::u32string::npos) {
      horizontal = body.substr(bar + 1);
      body = body.substr(0, bar);
    } else {
      horizontal = style.bottomLine.empty() ? U"专用章" : style.bottomLine;
    }
  }

  switch (style.shape) {
    case Shape::Round:
    case Shape::Oval: {
      FixedKey key{style.shape, style.relief, style.border, style.emblem, style.bottom,
                   style.maxChars,  // with no emblem or bottom line a small seal has no star
                   !horizontal.empty(), px.width, px.height};
      std::shared_ptr<const std::vector<uint8_t>> base = fixedLayers().find(key);
      if (!base) {
        // Drawn exactly as the first strokes of a full render: a fresh context on a blank
        // surface with the same transformation and tolerance, so copying it changes no pixel.
        Raster fixedRaster = blankRaster(px);
        SurfacePtr fixedSurface = surfaceFor(fixedRaster);
        ContextPtr fixedCr = stampContext(fixedSurface.get(), style, px);
        Painter fixedPainter(fonts, style, fixedCr.get());
        drawEllipseSeal(fixedPainter, body, horizontal, Layer::Fixed);
        cairo_surface_flush(fixedSurface.get());
        base = fixedLayers().insert(key, std::move(fixedRaster.alpha));
      }
      std::memcpy(raster.alpha.data(), base->data(), raster.alpha.size());
      cairo_surface_mark_dirty(surface.get());
      drawEllipseSeal(painter, body, horizontal, Layer::Text);
      break;
    }
    case Shape::Square:
    case Shape::Rect:
    case Shape::Long: drawFrameSeal(painter, body); break;
    case Shape::Cloud: drawCloudSeal(painter, body); break;
  }
  cairo_surface_flush(surface.get());
  if (style.aged) {
    cairo_identity_matrix(cr.get());
    cairo_translate(cr.get(), (px.width - mm.w * pxPerMm) / 2, (px.height - mm.h * pxPerMm) / 2);
    cairo_scale(cr.get(), pxPerMm, pxPerMm);
    weather(cr.get(), raster, pxPerMm, mm, style.shape == Shape::Round || style.shape == Shape::Oval, fnv1a(text, style.color * 31 + static_cast<int>(style.shape)));
  }
  cairo_surface_flush(surface.get());
  return raster;
}

}  // namespace tambrel
