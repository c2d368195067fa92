// Holder counts of shared fonts. The framework runs on the window thread only, so the table
// needs no lock.
#include "ui/handles.h"

#include <unordered_map>

namespace tambrel::ui {
namespace {

std::unordered_map<HFONT, int>& font_holders() {
  static std::unordered_map<HFONT, int> table;
  return table;
}

void add_holder(HFONT h) {
  if (h) ++font_holders()[h];
}

void drop_holder(HFONT h) {
  if (!h) return;
  auto& table = font_holders();
  auto it = table.find(h);
  if (it == table.end()) return;
  if (--it->second == 0) {
    table.erase(it);
    DeleteObject(h);
  }
}

}  // namespace

SharedFont::SharedFont(HFONT h) : h_(h) { add_holder(h); }

void SharedFont::reset(HFONT h) {
  add_holder(h);  // first, so that holding the same handle again never deletes it
  drop_holder(std::exchange(h_, h));
}

int SharedFont::holders(HFONT h) {
  auto it = font_holders().find(h);
  return it == font_holders().end() ? 0 : it->second;
}

}  // namespace tambrel::ui
