// A seal of the user's own design, as data: one versioned description that the page edits,
// links carry and the service draws. It has two written forms that say the same thing:
//   JSON   {"version":1,"shape":"round","text":{"value":"天宝印章有限公司","font":"song"},
//           "centre":{"kind":"star"},"lines":[{"value":"合同专用章"}],"code":{"value":"1234567890123"}}
//   query  v=1&shape=round&t=天宝印章有限公司&tf=song&c=star&l1=合同专用章&k=1234567890123
// (each query key stands for one JSON field: kKeys in design.cpp). A value that is absent or
// null is "auto": drawn as the norm for the shape (and as a template draws it). Both forms are
// read into the same list of fields and checked field by field, with a message in Chinese and
// English for each fault, before anything is drawn; every length and size is bounded there.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/catalog.h"
#include "catalog/fonts.h"
#include "catalog/style.h"

namespace tambrel::design {

constexpr int kVersion = 1;

// Bounds of every value a design may hold; /design/fonts.json publishes them for the page.
struct Limits {
  static constexpr double kMinSideMm = 10, kMaxSideMm = 60;
  static constexpr double kMaxBorderMm = 4, kMaxInnerRingMm = 3, kMaxInnerGapMm = 5;
  static constexpr double kMinTextMm = 1, kMaxTextMm = 20;
  static constexpr double kMaxPitchMm = 20;
  static constexpr int kMaxRingChars = 40;      // ring text and inner ring text, characters
  static constexpr int kMaxFieldCells = 20;     // the text of square, rectangular and long seals
  static constexpr int kMaxCentreCells = 9;     // centre text
  static constexpr int kMaxLines = 3;
  static constexpr int kMaxLineChars = 20;
  static constexpr int kMaxCodeChars = 24;      // ASCII letters, digits and '-'
  static constexpr double kMaxOffsetMm = 30;
  static constexpr size_t kMaxJsonBytes = 8192;  // a POSTed design
};

struct Words {
  std::u32string text;
  std::optional<Script> font;  // unset: the ring text's face
  double size = 0;             // mm; 0: auto
  int face = -1;               // a face of kFaceVariants (family and weight) instead of a script
  bool operator==(const Words&) const = default;
};

struct Line : Words {
  std::optional<double> offset;  // mm below the centre; unset: stacked under the star
  bool operator==(const Line&) const = default;
};

enum class Centre { None, Star, Text };

struct Design {
  Shape shape = Shape::Round;
  double width = 0, height = 0;  // mm; 0: the shape's norm
  uint32_t color = 0xD01010;
  Relief relief = Relief::Yang;
  Border border = Border::Single;
  double borderWidth = -1, innerRing = -1, innerGap = -1;  // mm; -1: the border style's own
  Words text;            // the ring text (round, oval) or the seal's text (other shapes); its
                         // face, when set, is every part's by default like `font`
  Script font = Script::Song;  // the ring text's face, and every part's by default
  double spacing = 0;    // mm between glyph centres along the ring; 0: auto
  double start = 0, end = 0;  // degrees from the top, clockwise; both 0: auto
  Words inner;           // second ring of text inside the first
  Centre centre = Centre::None;
  double centreSize = 0;  // star diameter or centre text height, mm; 0: auto
  Words centreText;
  std::vector<Line> lines;
  bool code = false;
  Words codeText;  // empty text: derived from the ring text
  int aged = 0;    // 0..100; 50 is the catalogue's aged look
  uint32_t seed = 0;  // 0: from the text
  bool operator==(const Design&) const = default;
};

struct FieldError {
  std::string field;  // JSON path: "text.size", "lines[1].value"
  std::string zh, en;
};

struct Parsed {
  std::optional<Design> design;   // set when there are no errors
  std::vector<FieldError> errors;
  int px = 0;                      // the query's px (0: natural, else 64..2048); not part of the design
};

// The query form (also takes px=). Keys are percent-decoded, values read as UTF-8.
Parsed parseQuery(std::string_view query);
// The JSON form, at most Limits::kMaxJsonBytes.
Parsed parseJson(std::string_view json);

// The canonical written forms: only fields that are not auto, in a fixed order, numbers in
// hundredths of a millimetre at most, so one design has one query (which keys the cache).
std::string toQuery(const Design& d);
std::string toJson(const Design& d);
std::string errorsJson(const std::vector<FieldError>& errors);

// A template with a text, as a starting design ("以此为模板设计"); drawing it gives the
// template's own pixels.
Design fromTemplate(const Template& t, std::u32string_view text);

// What the renderer takes: a style (with a layout unless the design is exactly a template's
// look) and the text it draws.
struct DrawInput {
  StampStyle style;
  std::u32string text;
};
DrawInput toDrawInput(const Design& d);
// The design's own layout, whether or not it draws in a template's look.
std::shared_ptr<const DesignLayout> layoutOf(const Design& d);

// The faces a design may name, and the bounds, for the page: /design/fonts.json.
std::string fontsJson(const FontSet& fonts);
// The faces a design names that this service has not loaded, each named at its field: a
// design is never drawn in a face other than the one it asks for.
std::vector<FieldError> missingFaces(const Design& d, const FontSet& fonts);

std::string_view scriptName(Script s);
std::string_view shapeName(Shape s);
std::string_view borderName(Border b);

}  // namespace tambrel::design
