// Parser of template style lines; see style.h for the format.
#include "catalog/style.h"

#include "text/text.h"

namespace tambrel {
namespace {

template <typename E, size_t N>
bool pick(std::string_view value, const std::pair<std::string_view, E> (&table)[N], E& out) {
  for (const auto& [name, e] : table)
    if (name == value) {
      out = e;
      return true;
    }
  return false;
}

constexpr std::pair<std::string_view, Shape> kShapes[] = {
    {"round", Shape::Round}, {"oval", Shape::Oval}, {"square", Shape::Square},
    {"rect", Shape::Rect},   {"long", Shape::Long}, {"cloud", Shape::Cloud}};
constexpr std::pair<std::string_view, Relief> kReliefs[] = {{"yang", Relief::Yang}, {"yin", Relief::Yin}};
constexpr std::pair<std::string_view, Script> kScripts[] = {{"song", Script::Song}, {"kai", Script::Kai},
                                                            {"hei", Script::Hei},   {"zhuan", Script::Zhuan},
                                                            {"li", Script::Li}};
constexpr std::pair<std::string_view, Border> kBorders[] = {{"single", Border::Single}, {"double", Border::Double},
                                                            {"thick", Border::Thick},   {"thin", Border::Thin},
                                                            {"none", Border::None}};
constexpr std::pair<std::string_view, Emblem> kEmblems[] = {{"star", Emblem::Star}, {"none", Emblem::None}};
constexpr std::pair<std::string_view, Bottom> kBottoms[] = {
    {"none", Bottom::None}, {"code", Bottom::Code}, {"text", Bottom::Text}};

}  // namespace

std::optional<StampStyle> parseStyle(std::string_view line) {
  StampStyle style;
  bool haveShape = false;
  // "sample=" runs to the end of the line: sample texts may contain spaces.
  size_t samplePos = line.find("sample=");
  std::string_view head = line;
  if (samplePos != std::string_view::npos) {
    style.sample = std::string(line.substr(samplePos + 7));
    while (!style.sample.empty() && (style.sample.back() == '\r' || style.sample.back() == '\n'))
      style.sample.pop_back();
    head = line.substr(0, samplePos);
  }
  size_t pos = 0;
  while (pos < head.size()) {
    size_t end = head.find(' ', pos);
    if (end == std::string_view::npos) end = head.size();
    std::string_view token = head.substr(pos, end - pos);
    pos = end + 1;
    size_t eq = token.find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view key = token.substr(0, eq), value = token.substr(eq + 1);
    if (key == "shape") {
      haveShape = pick(value, kShapes, style.shape);
    } else if (key == "relief") {
      pick(value, kReliefs, style.relief);
    } else if (key == "script") {
      pick(value, kScripts, style.script);
    } else if (key == "border") {
      pick(value, kBorders, style.border);
    } else if (key == "emblem") {
      pick(value, kEmblems, style.emblem);
    } else if (key == "bottom") {
      pick(value, kBottoms, style.bottom);
    } else if (key == "chars") {
      if (auto n = text::parseInteger(value); n && *n >= 2 && *n <= 64) style.maxChars = static_cast<int>(*n);
    } else if (key == "color") {
      if (value.size() == 6) {
        uint32_t c = 0;
        bool ok = true;
        for (char ch : value) {
          int d = (ch >= '0' && ch <= '9')   ? ch - '0'
                  : (ch >= 'a' && ch <= 'f') ? ch - 'a' + 10
                  : (ch >= 'A' && ch <= 'F') ? ch - 'A' + 10
                                             : -1;
          if (d < 0) ok = false;
          c = c * 16 + static_cast<uint32_t>(d < 0 ? 0 : d);
        }
        if (ok) style.color = c;
      }
    } else if (key == "aged") {
      style.aged = value == "1";
    }
  }
  // The two-cloud template holds one character in each cloud.
  if (style.shape == Shape::Cloud) style.maxChars = 2;
  if (!haveShape) return std::nullopt;
  return style;
}

NaturalSize naturalSize(Shape shape) {
  switch (shape) {
    case Shape::Round: return {300, 300};
    case Shape::Oval: return {300, 210};
    case Shape::Square: return {240, 240};
    case Shape::Rect: return {300, 150};
    case Shape::Long: return {120, 300};
    case Shape::Cloud: return {300, 170};
  }
  return {300, 300};
}

}  // namespace tambrel
