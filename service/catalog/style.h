// The drawing style of one template, parsed from the style line kept beside the catalogue:
//   shape=round relief=yang script=song border=single emblem=star bottom=none chars=20
//   color=D01010 aged=0 sample=<UTF-8 text>
// Unknown keys are ignored and unknown values fall back to the defaults below, so a newer
// catalogue never stops an older service from starting.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tambrel {

enum class Shape { Round, Oval, Square, Rect, Long, Cloud };
enum class Relief { Yang, Yin };  // yang: red strokes on clear ground; yin: strokes cut from red
enum class Script { Song, Kai, Hei, Zhuan, Li };
enum class Border { Single, Double, Thick, Thin, None };
enum class Emblem { None, Star };
enum class Bottom { None, Code, Text };

// What a user's own design sets beyond a template's style (see design/design.h). Every value
// left unset draws as the template would, and a style without a layout is a template's: its
// pixels never depend on this struct.
struct DesignLayout {
  struct Words {
    std::u32string text;
    Script script = Script::Song;
    int face = -1;      // a design's face (kFaceVariants in catalog/fonts.h); -1: the script's
    double sizeMm = 0;  // 0: as the shape's norm
  };
  struct Line : Words {
    double offsetMm = 0;  // centre of the line below the seal's centre (negative: above)
    bool autoOffset = true;
  };
  enum class Centre { None, Star, Text };
  double widthMm = 0, heightMm = 0;  // 0: the shape's norm
  double borderMm = -1;               // outer line, mm; -1: the border style's own
  double innerRingMm = -1;            // inner ring line, mm; -1: the border style's own (0: none)
  double innerGapMm = -1;             // between the outer line and the inner ring
  double ringSizeMm = 0;              // ring text glyph height; 0: the norm
  double ringPitchMm = 0;             // distance between glyph centres along the ring; 0: auto
  double ringStartDeg = 0, ringEndDeg = 0;  // both 0: the norm's span, centred at the top
  Words inner;                        // a second, smaller ring of text inside the first
  Centre centre = Centre::None;
  double starMm = 0;                  // star's outer diameter; 0: the norm
  Words centreText;
  std::vector<Line> lines;            // horizontal lines, top to bottom
  bool code = false;                  // a code along the bottom arc
  Words codeText;                     // empty text: derived from the ring text, as templates do
  int agedIntensity = 50;             // 50 is the templates' aged look; 0..100
  uint64_t agedSeed = 0;              // 0: derived from the text, as templates do
};

struct StampStyle {
  Shape shape = Shape::Round;
  Relief relief = Relief::Yang;
  Script script = Script::Song;
  int face = -1;  // a design's face (kFaceVariants in catalog/fonts.h) drawn instead of the script's
  Border border = Border::Single;
  Emblem emblem = Emblem::None;
  Bottom bottom = Bottom::None;
  int maxChars = 8;  // capacity in character cells (two Latin letters share one)
  uint32_t color = 0xD01010;  // RRGGBB
  bool aged = false;
  std::string sample;  // UTF-8, used for thumbnails
  // The horizontal line under the emblem when bottom=text (such as 合同专用章); the catalogue
  // derives it from the template's title.
  std::u32string bottomLine;
  // A user's design: null for every template.
  std::shared_ptr<const DesignLayout> layout;
};

// nullopt only when the line has no recognisable shape; other fields default.
std::optional<StampStyle> parseStyle(std::string_view line);

// The longest side of a stamp rendered at its natural size, and the aspect ratio (w / h).
struct NaturalSize {
  int width;
  int height;
};
NaturalSize naturalSize(Shape shape);

}  // namespace tambrel
