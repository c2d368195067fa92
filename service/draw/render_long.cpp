// The long seal (a tall narrow frame, 16 × 40 mm): one column for short texts, two or three
// columns read right to left for longer ones.
#include "draw/render_core.h"

#include "text/text.h"

namespace tambrel::draw {

void drawLongSeal(Painter& p, std::u32string_view text) {
  const Field f = drawFrame(p);
  if (latinField(p, text, f)) return;
  const int n = text::cellCount(text);
  gridText(p, text, f.x, f.y, f.w, f.h, splitLines(n, n <= 5 ? 1 : n <= 10 ? 2 : 3), true, 0.04);
}

}  // namespace tambrel::draw
