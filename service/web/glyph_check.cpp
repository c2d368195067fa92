// The check for characters no face can draw; see glyph_check.h.
#include "web/glyph_check.h"

#include <algorithm>

#include "text/text.h"
#include "web/web_pages.h"

namespace tambrel {

GlyphCheck::GlyphCheck(const FontSet& fonts) {
  cairo_matrix_t size, identity;
  cairo_matrix_init_scale(&size, 100, 100);
  cairo_matrix_init_identity(&identity);
  cairo_font_options_t* options = cairo_font_options_create();
  // Every face is in every script's chain, so any script's chain lists them all.
  for (const Font* font : fonts.chain(Script::Song)) {
    cairo_scaled_font_t* sf = cairo_scaled_font_create(font->face, &size, &identity, options);
    if (cairo_scaled_font_status(sf) == CAIRO_STATUS_SUCCESS)
      faces_.push_back(sf);
    else
      cairo_scaled_font_destroy(sf);
  }
  cairo_font_options_destroy(options);
}

GlyphCheck::~GlyphCheck() {
  for (cairo_scaled_font_t* sf : faces_) cairo_scaled_font_destroy(sf);
}

// The same question the renderer asks of each face: does the text of one character map to
// one glyph other than the missing-glyph box?
bool GlyphCheck::drawable(char32_t c) const {
  const std::string utf8 = text::encodeUtf8(std::u32string_view(&c, 1));
  for (cairo_scaled_font_t* sf : faces_) {
    cairo_glyph_t* glyphs = nullptr;
    int count = 0;
    bool found = cairo_scaled_font_text_to_glyphs(sf, 0, 0, utf8.data(), static_cast<int>(utf8.size()), &glyphs,
                                                  &count, nullptr, nullptr, nullptr) == CAIRO_STATUS_SUCCESS &&
                 count == 1 && glyphs[0].index != 0;
    cairo_glyph_free(glyphs);
    if (found) return true;
  }
  return false;
}

std::u32string GlyphCheck::missing(std::u32string_view text) const {
  std::u32string out;
  for (char32_t c : text) {
    if (text::isSpace(c) || text::isControl(c) || out.find(c) != std::u32string::npos) continue;
    if (!drawable(c)) out += c;
  }
  return out;
}

Response GlyphCheck::answer(std::string_view query) const {
  Response r;
  r.contentType = "application/json";
  r.headers.emplace_back("Cache-Control", "no-store");
  r.headers.emplace_back("X-Content-Type-Options", "nosniff");
  std::string raw;
  for (const text::QueryParam& p : text::splitQuery(query))
    if (p.key == "text") raw = p.value;
  auto decoded = text::decodeUtf8(text::percentDecode(raw));
  if (!decoded || decoded->size() > kMaxCharacters) {
    r.status = 400;
    r.body = std::make_shared<const std::string>(
        !decoded ? "{\"error\":\"text is not UTF-8\"}\n"
                 : "{\"error\":\"text is longer than " + std::to_string(kMaxCharacters) + " characters\"}\n");
    return r;
  }
  std::string body = "{\"missing\":[";
  const std::u32string gaps = missing(*decoded);
  for (size_t i = 0; i < gaps.size(); ++i)
    body += (i ? "," : "") + jsonString(text::encodeUtf8(std::u32string_view(&gaps[i], 1)));
  r.body = std::make_shared<const std::string>(body + "]}\n");
  return r;
}

}  // namespace tambrel
