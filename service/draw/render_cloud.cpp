// The two-cloud seal: two scalloped clouds side by side, one character or word in each, the
// right one first as traditional seals read.
#include "draw/render_core.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "text/text.h"

namespace tambrel::draw {
namespace {

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

}  // namespace

void drawCloudSeal(Painter& p, std::u32string_view text, Layer layer) {
  cairo_t* cr = p.cr();
  ShapeMm mm = styleMm(p.style());
  const double r = mm.h / 2;
  const double c1 = r, c2 = mm.w - r, cy = mm.h / 2;
  // The contour line: 0.9 mm on templates (which all have the single border); a design's border
  // style or width sets it, and without a border the clouds are not drawn at all.
  double line = 0.9;
  if (const DesignLayout* l = p.style().layout.get())
    line = l->borderMm >= 0 ? l->borderMm : borderMm(p.style().border, 0.75).outer;
  const bool outline = p.yin() || line > 0;
  if (layer != Layer::Text && outline) {
    // Union of both clouds: non-zero filling of all discs drawn clockwise.
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
    p.inkMode();
    cloudPath(cr, c1, cy, r, 0, -kPi / 2);
    cloudPath(cr, c2, cy, r, 0, kPi / 2);
    p.fill();
    if (!p.yin()) {
      p.cutMode();
      cloudPath(cr, c1, cy, r, line, -kPi / 2);
      cloudPath(cr, c2, cy, r, line, kPi / 2);
      p.fill();
    }
  }
  if (layer == Layer::Fixed) return;
  cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
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

}  // namespace tambrel::draw
