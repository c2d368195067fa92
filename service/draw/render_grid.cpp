// Grid text layout for seals that set their characters in cells: squares, rectangles, long
// seals and small round personal seals. Glyphs are stretched towards the cell shape within
// limits, so a 一 never becomes a block.
#include "draw/render_core.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "text/text.h"

namespace tambrel::draw {
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

std::vector<int> splitLines(int n, int lines) {
  if (n <= 0 || lines <= 0) return {};  // nothing to set: no lines (and no division by zero)
  std::vector<int> counts(lines, n / lines);
  int extra = n % lines;
  for (int i = lines - extra; i < lines; ++i) counts[i]++;
  counts.erase(std::remove(counts.begin(), counts.end(), 0), counts.end());
  return counts;
}

std::vector<int> squareColumns(int n) {
  int cols = n <= 2 ? n : n <= 4 ? 2 : n <= 9 ? 3 : 4;
  return splitLines(n, cols);
}

}  // namespace tambrel::draw
