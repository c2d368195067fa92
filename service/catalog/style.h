// The drawing style of one template, parsed from the style line kept beside the catalogue:
//   shape=round relief=yang script=song border=single emblem=star bottom=none chars=20
//   color=D01010 aged=0 sample=<UTF-8 text>
// Unknown keys are ignored and unknown values fall back to the defaults below, so a newer
// catalogue never stops an older service from starting.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tambrel {

enum class Shape { Round, Oval, Square, Rect, Long, Cloud };
enum class Relief { Yang, Yin };  // yang: red strokes on clear ground; yin: strokes cut from red
enum class Script { Song, Kai, Hei, Zhuan, Li };
enum class Border { Single, Double, Thick, Thin, None };
enum class Emblem { None, Star };
enum class Bottom { None, Code, Text };

struct StampStyle {
  Shape shape = Shape::Round;
  Relief relief = Relief::Yang;
  Script script = Script::Song;
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
