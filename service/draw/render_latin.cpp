// Latin text layout: letters are set as words on a common baseline at their own advances,
// upright and left to right, never stretched one per cell (a stretched "a" would stand as tall
// as a "T"). A text that is all or mostly Latin fills a frame as centred horizontal lines.
#include "draw/render_core.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "text/text.h"

namespace tambrel::draw {
double latinBlock(Painter& p, std::u32string_view raw, double x, double y, double w, double h, int maxLines,
                  double maxScale, bool draw) {
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

bool mostlyLatin(std::u32string_view text) {
  size_t latin = 0, halves = 0;
  for (char32_t c : text) {
    bool half = text::isHalfWidth(c);
    latin += half;
    halves += half ? 1 : 2;
  }
  return halves > 0 && latin * 4 >= halves * 3;
}

bool latinField(Painter& p, std::u32string_view text, const Field& f) {
  if (!mostlyLatin(text)) return false;
  const double pad = 0.03 * std::min(f.w, f.h);
  latinBlock(p, text, f.x + pad, f.y + pad, f.w - 2 * pad, f.h - 2 * pad, 3);
  return true;
}

}  // namespace tambrel::draw
