// stampd_sheet: renders templates with their sample texts onto one white sheet, for the README
// picture and for judging the look of the renderer by eye.
//   stampd_sheet OUT.png [--cell PX] [--columns N] [--text TEXT] [id ...]
//   stampd_sheet OUT.png --designs [--cell PX] [--columns N]
// --designs draws user designs instead of templates: each shape × each border × each centre
// kind (round and oval seals; the others have none), plain and aged, labelled.
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
#include "design/design.h"
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
  bool designs = false;
  for (int i = 2; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--designs") designs = true;
    else if (a == "--cell" && i + 1 < argc) cell = std::atoi(argv[++i]);
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
  // Each cell: a style and text to draw, and its caption.
  struct Item {
    StampStyle style;
    std::u32string text;
    std::string caption;
  };
  std::vector<Item> items;
  if (designs) {
    for (Shape shape : {Shape::Round, Shape::Oval, Shape::Square, Shape::Rect, Shape::Long, Shape::Cloud}) {
      const bool elliptic = shape == Shape::Round || shape == Shape::Oval;
      for (int aged : {0, 60}) {
        for (Border border : {Border::Single, Border::Double, Border::Thick, Border::Thin, Border::None}) {
          for (design::Centre centre : {design::Centre::None, design::Centre::Star, design::Centre::Text}) {
            if (!elliptic && centre != design::Centre::None) continue;
            design::Design d;
            d.shape = shape;
            d.border = border;
            d.aged = aged;
            d.seed = aged ? 7 : 0;
            d.centre = elliptic ? centre : design::Centre::None;
            switch (shape) {
              case Shape::Square: d.text.text = U"张三丰印"; break;
              case Shape::Rect: d.text.text = U"天宝印章"; break;
              case Shape::Long: d.text.text = U"天宝印章制作"; break;
              case Shape::Cloud: d.text.text = U"吉祥"; break;
              default: d.text.text = U"天宝印章制作有限公司";
            }
            if (elliptic) {
              d.code = true;
              d.codeText.text = U"1234567890123";
              if (centre == design::Centre::Star) d.lines.push_back({{U"合同专用章", std::nullopt, 0}, std::nullopt});
              if (centre == design::Centre::Text) d.centreText.text = U"财务";
              if (centre == design::Centre::None) d.lines.push_back({{U"专用章", std::nullopt, 0}, std::nullopt});
            }
            design::DrawInput in = design::toDrawInput(d);
            std::string caption = std::string(design::shapeName(shape)) + " " + std::string(design::borderName(border));
            if (elliptic) caption += centre == design::Centre::Star ? " star" : centre == design::Centre::Text ? " text" : " none";
            if (aged) caption += " aged";
            items.push_back({in.style, in.text, caption});
          }
        }
      }
    }
  } else {
    if (ids.empty())
      for (const Template& t : catalog.all()) ids.push_back(t.id);
    for (int id : ids) {
      const Template* t = catalog.byId(id);
      if (!t) continue;
      auto sample = text::decodeUtf8(t->style.sample);
      items.push_back({t->style, text ? *text : sample ? *sample : U"天宝", std::to_string(t->id)});
    }
  }
  const int rows = (static_cast<int>(items.size()) + columns - 1) / columns;
  const int pad = cell / 12, label = 18;
  const int w = columns * (cell + pad) + pad, h = rows * (cell + pad + label) + pad;
  cairo_surface_t* sheet = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
  cairo_t* cr = cairo_create(sheet);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  for (size_t i = 0; i < items.size(); ++i) {
    const Item& item = items[i];
    Raster r = renderStamp(*fonts, item.style, item.text, cell);
    cairo_surface_t* mask = cairo_image_surface_create_for_data(r.alpha.data(), CAIRO_FORMAT_A8, r.width, r.height, r.stride);
    int col = static_cast<int>(i) % columns, row = static_cast<int>(i) / columns;
    double x = pad + col * (cell + pad) + (cell - r.width) / 2.0;
    double y = pad + row * (cell + pad + label) + (cell - r.height) / 2.0;
    uint32_t c = item.style.color;
    cairo_set_source_rgb(cr, ((c >> 16) & 255) / 255.0, ((c >> 8) & 255) / 255.0, (c & 255) / 255.0);
    cairo_mask_surface(cr, mask, x, y);
    cairo_surface_destroy(mask);
    cairo_set_source_rgb(cr, 0.35, 0.35, 0.35);
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 12);
    const std::string& caption = item.caption;
    cairo_move_to(cr, pad + col * (cell + pad) + 2, pad + row * (cell + pad + label) + cell + 14);
    cairo_show_text(cr, caption.c_str());
  }
  cairo_destroy(cr);
  cairo_status_t st = cairo_surface_write_to_png(sheet, out.c_str());
  cairo_surface_destroy(sheet);
  if (st != CAIRO_STATUS_SUCCESS) return std::fprintf(stderr, "cannot write %s\n", out.c_str()), 1;
  return 0;
}
