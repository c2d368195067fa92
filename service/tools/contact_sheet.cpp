// stampd_sheet: renders templates with their sample texts onto one white sheet, for the README
// picture and for judging the look of the renderer by eye.
//   stampd_sheet OUT.png [--cell PX] [--columns N] [--text TEXT] [id ...]
// --text draws TEXT (UTF-8) on every template instead of the samples, to judge how a user's
// own text lays out; it is not checked against the templates' capacity.
#include <cairo.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "catalog/catalog.h"
#include "catalog/fonts.h"
#include "draw/render.h"
#include "text/text.h"

int main(int argc, char** argv) {
  using namespace tambrel;
  if (argc < 2) {
    std::fprintf(stderr, "usage: stampd_sheet OUT.png [--cell PX] [--columns N] [--fonts DIR] [--text TEXT] [id ...]\n");
    return 2;
  }
  std::string out = argv[1];
  int cell = 240, columns = 4;
  std::vector<int> ids;
  std::vector<std::string> fontDirs;
  std::optional<std::u32string> text;
  for (int i = 2; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--cell" && i + 1 < argc) cell = std::atoi(argv[++i]);
    else if (a == "--columns" && i + 1 < argc) columns = std::atoi(argv[++i]);
    else if (a == "--fonts" && i + 1 < argc) fontDirs.push_back(argv[++i]);
    else if (a == "--text" && i + 1 < argc) {
      text = text::decodeUtf8(argv[++i]);
      if (!text) return std::fprintf(stderr, "--text is not UTF-8\n"), 2;
    }
    else ids.push_back(std::atoi(a.c_str()));
  }
  auto fonts = FontSet::load(fontDirs, nullptr);
  if (!fonts) return std::fprintf(stderr, "no fonts\n"), 1;
  const Catalog& catalog = Catalog::builtIn();
  if (ids.empty())
    for (const Template& t : catalog.all()) ids.push_back(t.id);
  const int rows = (static_cast<int>(ids.size()) + columns - 1) / columns;
  const int pad = cell / 12, label = 18;
  const int w = columns * (cell + pad) + pad, h = rows * (cell + pad + label) + pad;
  cairo_surface_t* sheet = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
  cairo_t* cr = cairo_create(sheet);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  for (size_t i = 0; i < ids.size(); ++i) {
    const Template* t = catalog.byId(ids[i]);
    if (!t) continue;
    auto sample = text::decodeUtf8(t->style.sample);
    Raster r = renderStamp(*fonts, t->style, text ? *text : sample ? *sample : U"天宝", cell);
    cairo_surface_t* mask = cairo_image_surface_create_for_data(r.alpha.data(), CAIRO_FORMAT_A8, r.width, r.height, r.stride);
    int col = static_cast<int>(i) % columns, row = static_cast<int>(i) / columns;
    double x = pad + col * (cell + pad) + (cell - r.width) / 2.0;
    double y = pad + row * (cell + pad + label) + (cell - r.height) / 2.0;
    uint32_t c = t->style.color;
    cairo_set_source_rgb(cr, ((c >> 16) & 255) / 255.0, ((c >> 8) & 255) / 255.0, (c & 255) / 255.0);
    cairo_mask_surface(cr, mask, x, y);
    cairo_surface_destroy(mask);
    cairo_set_source_rgb(cr, 0.35, 0.35, 0.35);
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 12);
    std::string caption = std::to_string(t->id);
    cairo_move_to(cr, pad + col * (cell + pad) + 2, pad + row * (cell + pad + label) + cell + 14);
    cairo_show_text(cr, caption.c_str());
  }
  cairo_destroy(cr);
  cairo_status_t st = cairo_surface_write_to_png(sheet, out.c_str());
  cairo_surface_destroy(sheet);
  if (st != CAIRO_STATUS_SUCCESS) return std::fprintf(stderr, "cannot write %s\n", out.c_str()), 1;
  return 0;
}
