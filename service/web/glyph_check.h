// Which characters of a text no installed face can draw. The renderer looks every character up
// in the template's face and then in every other face, and draws a hollow square for one that
// none has; the page asks first (GET /glyphs?text=…) so it can name such characters ("😀 无法刻在
// 印章上") instead of generating a stamp with a square in it.
#pragma once

#include <cairo.h>

#include <string>
#include <string_view>
#include <vector>

#include "catalog/fonts.h"
#include "stamps/response.h"

namespace tambrel {

class GlyphCheck {
 public:
  explicit GlyphCheck(const FontSet& fonts);
  ~GlyphCheck();
  GlyphCheck(const GlyphCheck&) = delete;
  GlyphCheck& operator=(const GlyphCheck&) = delete;

  // The characters of `text` that no face has, each once, in the order they first appear.
  // Spaces and control characters are not asked about: the request's own rules cover them.
  std::u32string missing(std::u32string_view text) const;

  // GET /glyphs?text=… (percent-encoded UTF-8): {"missing":["😀"]}; 400 for a text that is not
  // UTF-8 or longer than kMaxCharacters.
  Response answer(std::string_view query) const;

  static constexpr size_t kMaxCharacters = 512;

 private:
  bool drawable(char32_t c) const;
  // One scaled font per face, made once: looking a character up in its character map is then
  // all a check costs. cairo serialises the use of each face between threads.
  std::vector<cairo_scaled_font_t*> faces_;
};

}  // namespace tambrel
