// Font files for the renderer: one FreeType face per script, loaded once at start-up and
// shared by all rendering threads through cairo (which serialises access to each face).
//
// The Debian packages give 宋 (Noto Serif CJK SC Bold), 楷 (AR PL UKai CN) and 黑 (WenQuanYi
// Micro Hei). Seal-script (篆) and clerical (隶) fonts are not packaged; an operator adds those
// with --fonts DIR, recognised by family or file name. Without them 篆 falls back to 楷 and 隶
// to 宋. Every loaded face also serves as a fallback for characters the preferred face lacks.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "catalog/style.h"

namespace tambrel {

struct Font {
  std::string name;  // family name, for logs
  std::string file;
  cairo_font_face_t* face = nullptr;
};

class FontSet {
 public:
  // Loads the known system fonts (unless systemFonts is false) and every .ttf/.otf/.ttc/.otc
  // regular file in extraDirs; files skipped get a line each in `log`.
  // Returns null when not even one usable CJK face is found.
  static std::unique_ptr<FontSet> load(const std::vector<std::string>& extraDirs, std::string* log,
                                       bool systemFonts = true);
  ~FontSet();
  FontSet(const FontSet&) = delete;
  FontSet& operator=(const FontSet&) = delete;

  // The face for a script, after the fallbacks described above.
  const Font& forScript(Script script) const;
  // Whether a dedicated face was found for the script (not a fallback).
  bool hasOwnFace(Script script) const { return own_[static_cast<int>(script)] >= 0; }
  // All faces: the preferred one first, then the others in load order (glyph fallback).
  std::vector<const Font*> chain(Script script) const;
  // Never shared by two sets, even after one is freed: per-thread glyph caches key on it.
  uint64_t serial() const { return serial_; }

 private:
  FontSet() = default;
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::vector<Font> fonts_;
  uint64_t serial_ = 0;
  int own_[5] = {-1, -1, -1, -1, -1};
  int chosen_[5] = {0, 0, 0, 0, 0};
};

}  // namespace tambrel
