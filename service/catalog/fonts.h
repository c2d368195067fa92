// Font files for the renderer: one FreeType face per script, loaded once at start-up and
// shared by all rendering threads through cairo (which serialises access to each face).
//
// The Debian packages give 宋 (Noto Serif CJK SC Bold), 楷 (AR PL UKai CN) and 黑 (WenQuanYi
// Micro Hei). Seal-script (篆) and clerical (隶) fonts are not packaged; an operator adds those
// with --fonts DIR, recognised by family or file name. Without them 篆 falls back to 楷 and 隶
// to 宋. Every loaded face also serves as a fallback for characters the preferred face lacks.
#pragma once

#include <cairo.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/style.h"

namespace tambrel {

// The faces a design may name besides the five scripts: every CJK face Debian packages whose
// character map holds all of GB 2312 (measured by scripts/font_coverage.py; README, "Faces"),
// one entry per weight, each weight a file of its own. A family missing on a host is named in
// the design's error, never replaced by another face.
struct FaceVariant {
  std::string_view family;  // the id a design names: "noto-serif"
  std::string_view zh;      // 思源宋体
  std::string_view name;    // the family as the font names itself
  int weight;               // OpenType weight class, 100..900
  std::string_view path;
  const char* prefer;       // picks the simplified-Chinese face inside a collection
};
extern const FaceVariant kFaceVariants[];
extern const size_t kFaceVariantCount;
// The variant of `family` with `weight` (0: the family's regular weight, or its only one), or -1.
int findFaceVariant(std::string_view family, int weight);

struct Font {
  std::string name;  // family name, for logs
  std::string file;
  cairo_font_face_t* face = nullptr;
  // A face loaded only as a design's choice draws nothing else: characters other faces lack
  // keep the answer they had (the glyph check's, the templates').
  bool fallback = true;
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
  // Whether the file of a face variant (kFaceVariants) was loaded.
  bool hasVariant(int variant) const;
  // All faces: the preferred one first (the variant's, when one is given and loaded, else the
  // script's), then the others in load order (glyph fallback).
  std::vector<const Font*> chain(Script script, int variant = -1) const;
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
  std::vector<int> variants_;  // per kFaceVariants entry: the index in fonts_, or -1
};

}  // namespace tambrel
