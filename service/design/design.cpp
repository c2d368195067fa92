// Reading, checking and writing designs; see design.h.
#include "design/design.h"

// Boost.JSON compiled into this one file (header-only mode): nothing else of ours reads JSON.
#include <boost/json/src.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "draw/render_core.h"
#include "text/text.h"

namespace tambrel::design {
namespace {

// Every field, once: its query key and its JSON path. The order is the canonical order of
// both written forms.
struct Key {
  std::string_view query;
  std::string_view path;
};
constexpr Key kKeys[] = {
    {"v", "version"},       {"shape", "shape"},         {"w", "width"},          {"h", "height"},
    {"color", "color"},     {"relief", "relief"},       {"b", "border.style"},   {"bw", "border.width"},
    {"ir", "border.inner"}, {"ig", "border.gap"},       {"t", "text.value"},     {"tf", "text.font"},
    {"ts", "text.size"},    {"tsp", "text.spacing"},    {"ta", "text.start"},    {"tb", "text.end"},
    {"i", "inner.value"},   {"if", "inner.font"},       {"is", "inner.size"},    {"c", "centre.kind"},
    {"cs", "centre.size"},  {"ct", "centre.value"},     {"cf", "centre.font"},   {"l1", "lines[0].value"},
    {"l1f", "lines[0].font"}, {"l1s", "lines[0].size"}, {"l1o", "lines[0].offset"}, {"l2", "lines[1].value"},
    {"l2f", "lines[1].font"}, {"l2s", "lines[1].size"}, {"l2o", "lines[1].offset"}, {"l3", "lines[2].value"},
    {"l3f", "lines[2].font"}, {"l3s", "lines[2].size"}, {"l3o", "lines[2].offset"}, {"k", "code.value"},
    {"kf", "code.font"},    {"ks", "code.size"},        {"a", "aged.intensity"}, {"s", "aged.seed"},
    {"tw", "text.weight"},  {"iw", "inner.weight"},     {"cw", "centre.weight"}, {"l1w", "lines[0].weight"},
    {"l2w", "lines[1].weight"}, {"l3w", "lines[2].weight"}, {"kw", "code.weight"},
};

const Key* keyByQuery(std::string_view k) {
  for (const Key& key : kKeys)
    if (key.query == k) return &key;
  return nullptr;
}
const Key* keyByPath(std::string_view p) {
  for (const Key& key : kKeys)
    if (key.path == p) return &key;
  return nullptr;
}

template <typename E>
struct Named {
  std::string_view name;
  E value;
  std::string_view zh;
};
constexpr Named<Shape> kShapes[] = {{"round", Shape::Round, "圆形"}, {"oval", Shape::Oval, "椭圆"},
                                    {"square", Shape::Square, "方形"}, {"rect", Shape::Rect, "长方形"},
                                    {"long", Shape::Long, "条形"}, {"cloud", Shape::Cloud, "双云形"}};
constexpr Named<Relief> kReliefs[] = {{"yang", Relief::Yang, "阳文"}, {"yin", Relief::Yin, "阴文"}};
constexpr Named<Border> kBorders[] = {{"single", Border::Single, "单线"}, {"double", Border::Double, "双线"},
                                      {"thick", Border::Thick, "粗线"},   {"thin", Border::Thin, "细线"},
                                      {"none", Border::None, "无边框"}};
constexpr Named<Script> kScripts[] = {{"song", Script::Song, "宋体"}, {"hei", Script::Hei, "黑体"},
                                      {"kai", Script::Kai, "楷体"},   {"li", Script::Li, "隶书"},
                                      {"zhuan", Script::Zhuan, "篆书"}};
constexpr Named<Centre> kCentres[] = {{"none", Centre::None, "无"}, {"star", Centre::Star, "五角星"},
                                      {"text", Centre::Text, "文字"}};

template <typename E, size_t N>
std::optional<E> byName(const Named<E> (&table)[N], std::string_view name) {
  for (const auto& n : table)
    if (n.name == name) return n.value;
  return std::nullopt;
}
template <typename E, size_t N>
std::string_view nameOf(const Named<E> (&table)[N], E value) {
  for (const auto& n : table)
    if (n.value == value) return n.name;
  return table[0].name;
}
template <typename E, size_t N>
std::string names(const Named<E> (&table)[N]) {
  std::string out;
  for (const auto& n : table) out += (out.empty() ? "" : ", ") + std::string(n.name);
  return out;
}

// What a field is called in the messages.
std::string zhField(std::string_view path) {
  static const std::pair<std::string_view, std::string_view> kZh[] = {
      {"version", "版本"},          {"shape", "形状"},           {"width", "宽度"},
      {"height", "高度"},           {"color", "颜色"},           {"relief", "阴阳文"},
      {"border.style", "边框样式"}, {"border.width", "边框宽度"}, {"border.inner", "内圈宽度"},
      {"border.gap", "内圈间距"},   {"text.value", "环形文字"},   {"text.font", "环形文字字体"},
      {"text.size", "环形文字字号"}, {"text.spacing", "环形文字字距"}, {"text.start", "环形文字起始角"},
      {"text.end", "环形文字终止角"}, {"inner.value", "内环文字"}, {"inner.font", "内环文字字体"},
      {"inner.size", "内环文字字号"}, {"centre.kind", "中心图案"}, {"centre.size", "中心大小"},
      {"centre.value", "中心文字"}, {"centre.font", "中心文字字体"}, {"code.value", "底部编码"},
      {"code.font", "底部编码字体"}, {"code.size", "底部编码字号"}, {"aged.intensity", "做旧强度"},
      {"aged.seed", "做旧种子"},      {"design", "设计内容"},       {"px", "图片尺寸（px）"},
      {"text.weight", "环形文字字重"}, {"inner.weight", "内环文字字重"}, {"centre.weight", "中心文字字重"},
      {"code.weight", "底部编码字重"}};
  for (const auto& [p, zh] : kZh)
    if (p == path) return std::string(zh);
  // "lines[N].what" of a real field; anything else (an unknown key) is named as it came.
  if (path.size() > 9 && path.starts_with("lines[") && path[7] == ']' && path[8] == '.') {
    std::string n(1, path[6] + 1);
    std::string_view rest = path.substr(9);
    std::string what = rest == "value" ? "文字" : rest == "font" ? "字体" : rest == "size" ? "字号" : rest == "weight" ? "字重" : "位置";
    return "横排文字第 " + n + " 行" + what;
  }
  // A key the client made up, quoted so the message reads as Chinese around it.
  return "“" + std::string(path) + "”";
}

std::string fmt(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", v);
  return buf;
}

class Reader {
 public:
  Design d;
  std::vector<FieldError> errors;
  bool sawCode = false;
  bool sawHeight = false;
  std::vector<std::pair<std::string, int>> weights;  // JSON path of a weight field, the weight
  bool sawStart = false, sawEnd = false;
  std::vector<bool> sawLine = std::vector<bool>(Limits::kMaxLines, false);

  void fail(std::string_view path, std::string zh, std::string en) {
    // An unknown key is echoed, but never at length.
    if (path.size() > 40) path = path.substr(0, 40);
    // One message per field: the first fault is the one to mend.
    for (const FieldError& e : errors)
      if (e.field == path) return;
    errors.push_back({std::string(path), zhField(path) + zh, std::string(path) + " " + en});
  }

  std::optional<double> number(std::string_view path, std::string_view v, double lo, double hi, bool mm = true) {
    double x = 0;
    const char* b = v.data();
    const char* e = v.data() + v.size();
    auto [end, ec] = std::from_chars(b, e, x);
    if (ec != std::errc() || end != e || !std::isfinite(x)) {
      fail(path, "须为数字", "must be a number");
      return std::nullopt;
    }
    if (x < lo || x > hi) {
      fail(path, "须在 " + fmt(lo) + " 到 " + fmt(hi) + (mm ? " 毫米之间" : " 之间"),
           "must be from " + fmt(lo) + " to " + fmt(hi) + (mm ? " mm" : ""));
      return std::nullopt;
    }
    return std::round(x * 100) / 100;  // hundredths of a millimetre: one design, one query
  }

  std::optional<std::u32string> words(std::string_view path, std::string_view v, size_t maxChars) {
    auto decoded = text::decodeUtf8(v);
    if (!decoded) {
      fail(path, "不是有效的 UTF-8 文字", "is not valid UTF-8");
      return std::nullopt;
    }
    std::u32string t = text::trimSpaces(*decoded);
    for (char32_t c : t) {
      if (text::isControl(c)) {
        fail(path, "含有控制字符", "contains control characters");
        return std::nullopt;
      }
    }
    if (t.size() > maxChars) {
      fail(path, "最多 " + std::to_string(maxChars) + " 个字", "holds at most " + std::to_string(maxChars) + " characters");
      return std::nullopt;
    }
    return t;
  }

  template <typename E, size_t N>
  std::optional<E> pick(std::string_view path, std::string_view v, const Named<E> (&table)[N]) {
    if (auto e = byName(table, v)) return e;
    fail(path, "须为以下之一：" + names(table), "must be one of: " + names(table));
    return std::nullopt;
  }

  void set(const Key& key, std::string_view v) {
    const std::string_view k = key.query, path = key.path;
    const double side = Limits::kMaxSideMm;
    if (k == "v") {
      if (v != "1") fail(path, "须为 1", "must be 1");
    } else if (k == "shape") {
      if (auto s = pick(path, v, kShapes)) d.shape = *s;
    } else if (k == "w") {
      if (auto x = number(path, v, Limits::kMinSideMm, side)) d.width = *x;
    } else if (k == "h") {
      sawHeight = true;
      if (auto x = number(path, v, Limits::kMinSideMm, side)) d.height = *x;
    } else if (k == "color") {
      std::string_view hex = v.starts_with('#') ? v.substr(1) : v;
      uint32_t c = 0;
      auto [end, ec] = std::from_chars(hex.data(), hex.data() + hex.size(), c, 16);
      if (hex.size() != 6 || ec != std::errc() || end != hex.data() + hex.size())
        fail(path, "须为 6 位十六进制颜色，如 D01010", "must be six hex digits such as D01010");
      else
        d.color = c;
    } else if (k == "relief") {
      if (auto r = pick(path, v, kReliefs)) d.relief = *r;
    } else if (k == "b") {
      if (auto b = pick(path, v, kBorders)) d.border = *b;
    } else if (k == "bw") {
      if (auto x = number(path, v, 0, Limits::kMaxBorderMm)) d.borderWidth = *x;
    } else if (k == "ir") {
      if (auto x = number(path, v, 0, Limits::kMaxInnerRingMm)) d.innerRing = *x;
    } else if (k == "ig") {
      if (auto x = number(path, v, 0, Limits::kMaxInnerGapMm)) d.innerGap = *x;
    } else if (k == "t") {
      if (auto t = words(path, v, Limits::kMaxRingChars)) d.text.text = *t;
    } else if (k == "tf") {
      std::optional<Script> s = d.font;
      fontOf(path, v, s, d.text.face);
      d.font = *s;
    } else if (k == "ts") {
      if (auto x = number(path, v, Limits::kMinTextMm, Limits::kMaxTextMm)) d.text.size = *x;
    } else if (k == "tsp") {
      if (auto x = number(path, v, 0, Limits::kMaxPitchMm)) d.spacing = *x;
    } else if (k == "ta") {
      sawStart = true;
      if (auto x = number(path, v, -180, 180, false)) d.start = *x;
    } else if (k == "tb") {
      sawEnd = true;
      if (auto x = number(path, v, -180, 180, false)) d.end = *x;
    } else if (k == "i") {
      if (auto t = words(path, v, Limits::kMaxRingChars)) d.inner.text = *t;
    } else if (k == "if") {
      fontOf(path, v, d.inner.font, d.inner.face);
    } else if (k == "is") {
      if (auto x = number(path, v, Limits::kMinTextMm, Limits::kMaxTextMm)) d.inner.size = *x;
    } else if (k == "c") {
      if (auto c = pick(path, v, kCentres)) d.centre = *c;
    } else if (k == "cs") {
      if (auto x = number(path, v, 2, 40)) d.centreSize = *x;
    } else if (k == "ct") {
      if (auto t = words(path, v, Limits::kMaxCentreCells * 2)) d.centreText.text = *t;
    } else if (k == "cf") {
      fontOf(path, v, d.centreText.font, d.centreText.face);
    } else if (k[0] == 'l') {
      const size_t n = static_cast<size_t>(k[1] - '1');
      sawLine[n] = true;
      if (d.lines.size() <= n) d.lines.resize(n + 1);
      Line& line = d.lines[n];
      std::string_view what = k.substr(2);
      if (what.empty()) {
        if (auto t = words(path, v, Limits::kMaxLineChars)) line.text = *t;
      } else if (what == "f") {
        fontOf(path, v, line.font, line.face);
      } else if (what == "w") {
        weight(path, v);
      } else if (what == "s") {
        if (auto x = number(path, v, Limits::kMinTextMm, Limits::kMaxTextMm)) line.size = *x;
      } else if (what == "o") {
        if (auto x = number(path, v, -Limits::kMaxOffsetMm, Limits::kMaxOffsetMm)) line.offset = *x;
      }
    } else if (k == "k") {
      sawCode = true;
      d.code = true;
      if (auto t = words(path, v, Limits::kMaxCodeChars)) {
        if (!std::all_of(t->begin(), t->end(), [](char32_t c) {
              return (c >= U'0' && c <= U'9') || (c >= U'A' && c <= U'Z') || (c >= U'a' && c <= U'z') || c == U'-';
            }))
          fail(path, "只能含数字、字母和“-”", "may hold only digits, letters and '-'");
        else
          d.codeText.text = *t;
      }
    } else if (k == "kf") {
      fontOf(path, v, d.codeText.font, d.codeText.face);
    } else if (k == "tw" || k == "iw" || k == "cw" || k == "kw") {
      weight(path, v);
    } else if (k == "ks") {
      if (auto x = number(path, v, Limits::kMinTextMm, 6)) d.codeText.size = *x;
    } else if (k == "a") {
      if (auto x = number(path, v, 0, 100, false)) d.aged = static_cast<int>(std::lround(*x));
    } else if (k == "s") {
      if (auto x = number(path, v, 0, 4294967295.0, false)) d.seed = static_cast<uint32_t>(*x);
    }
  }

  // A face: one of the scripts, or a family of kFaceVariants at its regular weight (a weight
  // field, read in any order, picks another once every field is read).
  void fontOf(std::string_view path, std::string_view v, std::optional<Script>& script, int& face) {
    if (auto s = byName(kScripts, v)) {
      script = *s;
      face = -1;
    } else if (int f = findFaceVariant(v, 0); f >= 0) {
      face = f;
    } else {
      std::string all;
      for (const auto& n : kScripts) all += (all.empty() ? "" : ", ") + std::string(n.name);
      for (size_t i = 0; i < kFaceVariantCount; ++i)
        if (i == 0 || kFaceVariants[i].family != kFaceVariants[i - 1].family) all += ", " + std::string(kFaceVariants[i].family);
      fail(path, "须为以下之一：" + all, "must be one of: " + all);
    }
  }
  void weight(std::string_view path, std::string_view v) {
    if (auto x = number(path, v, 100, 900, false)) weights.emplace_back(std::string(path), static_cast<int>(std::lround(*x)));
  }
  // The weights asked for, resolved against the faces chosen.
  void resolveWeights() {
    for (const auto& [path, w] : weights) {
      const std::string part = path.substr(0, path.find(".weight"));
      Words* words = part == "text" ? &d.text : part == "inner" ? &d.inner : part == "centre" ? &d.centreText
                     : part == "code" ? &d.codeText : nullptr;
      if (part.starts_with("lines[")) {
        const size_t n = static_cast<size_t>(part[6] - '0');
        words = n < d.lines.size() ? &d.lines[n] : nullptr;
      }
      if (!words || words->face < 0) {
        fail(path, "只能与有字重可选的字体（如 noto-serif）一同给出", "needs a face with weights, such as noto-serif");
        continue;
      }
      const std::string_view family = kFaceVariants[words->face].family;
      if (int f = findFaceVariant(family, w); f >= 0) {
        words->face = f;
        continue;
      }
      std::string all;
      for (size_t i = 0; i < kFaceVariantCount; ++i)
        if (kFaceVariants[i].family == family) all += (all.empty() ? "" : ", ") + std::to_string(kFaceVariants[i].weight);
      fail(path, "须为以下之一：" + all, "must be one of: " + all);
    }
  }

  // Checks between fields, once every field is read.
  void finish() {
    resolveWeights();
    const bool elliptic = d.shape == Shape::Round || d.shape == Shape::Oval;
    // Round and square seals have one side; a height that differs is a mistake worth naming.
    if (d.shape == Shape::Round || d.shape == Shape::Square) {
      if (sawHeight && d.width > 0 && d.height != d.width)
        fail("height", "须与宽度相同（圆形、方形印章）", "must equal width for round and square seals");
      if (d.width > 0) d.height = d.width;
      if (d.width == 0 && d.height > 0) d.width = d.height;
    }
    if ((d.width > 0) != (d.height > 0)) {
      fail(d.width > 0 ? "height" : "width", "须与另一边一同给出", "must be given with the other side");
    }
    if (d.shape == Shape::Cloud && d.width > 0 && d.height > 0 && (d.width < d.height * 1.4 || d.width > d.height * 2.2))
      fail("width", "须为高度的 1.4 到 2.2 倍（双云形）", "must be 1.4 to 2.2 times the height for the two-cloud seal");
    const draw::ShapeMm mm = d.width > 0 ? draw::ShapeMm{d.width, d.height} : draw::shapeMm(d.shape);
    const double shorter = std::min(mm.w, mm.h);
    auto notOver = [&](std::string_view path, double v, double most) {
      if (v > most) fail(path, "不能大于 " + fmt(most) + " 毫米（印章较短边的比例）", "must not exceed " + fmt(most) + " mm for this seal's size");
    };
    notOver("text.size", d.text.size, std::round(shorter / 3 * 100) / 100);
    notOver("inner.size", d.inner.size, std::round(shorter / 5 * 100) / 100);
    notOver("centre.size", d.centreSize, std::round(shorter * 0.8 * 100) / 100);
    notOver("border.width", d.borderWidth, std::round(shorter / 8 * 100) / 100);
    if (sawStart != sawEnd)
      fail(sawStart ? "text.end" : "text.start", "须与另一端一同给出", "must be given with the other end");
    else if (sawStart && d.end <= d.start)
      fail("text.end", "须大于起始角", "must be greater than text.start");
    if (!elliptic) {
      auto only = [&](bool used, std::string_view path) {
        if (used) fail(path, "只用于圆形和椭圆印章", "is only for round and oval seals");
      };
      only(d.spacing > 0, "text.spacing");
      only(sawStart || sawEnd, "text.start");
      only(!d.inner.text.empty(), "inner.value");
      only(d.centre != Centre::None, "centre.kind");
      only(!d.lines.empty(), "lines[0].value");
      only(d.code, "code.value");
      const int most = d.shape == Shape::Cloud ? 2 : Limits::kMaxFieldCells;
      if (text::cellCount(d.text.text) > most)
        fail("text.value", "最多 " + std::to_string(most) + " 个字（两个字母或数字算一个字）",
             "holds at most " + std::to_string(most) + " cells here (two Latin letters or digits make one)");
    }
    if (text::cellCount(d.centreText.text) > Limits::kMaxCentreCells)
      fail("centre.value", "最多 " + std::to_string(Limits::kMaxCentreCells) + " 个字",
           "holds at most " + std::to_string(Limits::kMaxCentreCells) + " cells");
    if (d.centre == Centre::Text && d.centreText.text.empty())
      fail("centre.value", "不能为空（中心图案为文字时）", "must not be empty when centre.kind is text");
    // Lines keep their order; a line given only a font or a size still needs its text.
    for (size_t i = 0; i < d.lines.size(); ++i)
      if (d.lines[i].text.empty()) {
        std::string path = "lines[" + std::to_string(i) + "].value";
        fail(path, "不能为空", "must not be empty");
      }
    // A part that is not drawn keeps no settings, so that one design has one written form (its
    // canonical query leaves them out with the part).
    if (d.inner.text.empty()) d.inner = {};
    if (d.centre != Centre::Text) d.centreText = {};
    if (d.centre == Centre::None) d.centreSize = 0;
    if (!d.code) d.codeText = {};
    // The text of a square, rectangular, long or cloud seal is the whole seal.
    if (!elliptic && d.text.text.empty())
      fail("text.value", "不能为空（方形、长方形、条形和双云形印章只刻这段文字）",
           "must not be empty: it is all that a square, rectangular, long or cloud seal holds");
    if (errors.empty()) fitRoom();
  }

  // Each part within the room the rings and the parts around it leave, as the drawing lays
  // them out (draw::ellipseRoom): every design that passes is drawn inside its seal, and no
  // glyph is larger than the picture. Sizes the design leaves auto shrink to the room; sizes
  // it gives are refused when they do not fit, naming the most this seal takes.
  void fitRoom() {
    StampStyle st;
    st.shape = d.shape;
    st.relief = d.relief;
    st.border = d.border;
    st.layout = layoutOf(d);
    const bool elliptic = d.shape == Shape::Round || d.shape == Shape::Oval;
    auto hundredths = [](double v) { return std::floor(std::max(0.0, v) * 100 + 1e-6) / 100; };
    auto tooLarge = [&](std::string_view path, double v, double most, std::string_view zhWhy, std::string_view enWhy) {
      if (v <= 0 || v <= hundredths(most)) return false;
      fail(path, "不能大于 " + fmt(hundredths(most)) + " 毫米（" + std::string(zhWhy) + "）",
           "must not exceed " + fmt(hundredths(most)) + " mm here: " + std::string(enWhy));
      return true;
    };
    // The rings: the field of text inside them is what the seal is for.
    draw::BorderMm bd;
    double most;
    if (elliptic) {
      const draw::EllipseRoom room = draw::ellipseRoom(st, true);
      bd = room.border;
      most = room.mostRingsMm;
    } else {
      const draw::ShapeMm mm = draw::styleMm(st);
      const double scale = std::min(mm.w, mm.h) / 20.0;
      bd = draw::designBorder(st, draw::borderMm(d.border, scale * 0.8), scale * 0.8);
      most = 0.175 * std::min(mm.w, mm.h);
    }
    const double rings = bd.outer + bd.gap + bd.inner;
    if (rings > hundredths(most) + 1e-9) {
      const std::string_view path = d.innerGap >= 0 && bd.inner > 0 ? "border.gap"
                                    : d.innerRing > 0               ? "border.inner"
                                    : d.borderWidth >= 0            ? "border.width"
                                                                    : "border.style";
      fail(path, "过宽：外圈、间距与内圈合计 " + fmt(hundredths(rings)) + " 毫米，此印章最多 " + fmt(hundredths(most)) + " 毫米",
           "makes the rings " + fmt(hundredths(rings)) + " mm wide; this seal takes at most " + fmt(hundredths(most)) + " mm");
      return;
    }
    if (!elliptic) return;
    const bool hasRing = !d.text.text.empty();
    const draw::EllipseRoom room = draw::ellipseRoom(st, hasRing);
    if (hasRing)
      tooLarge("text.size", d.text.size, room.mostRingH, "环形文字只占边框以内的外半圈", "the ring text takes the outer half inside the rings");
    if (!d.inner.text.empty()) {
      const double left = std::min(room.innerEdgeA, room.innerEdgeB);
      if (left < draw::kMinInnerRoomMm)
        fail("inner.value", "放不下：环形文字以内只剩 " + fmt(hundredths(left)) + " 毫米，至少须 " + fmt(draw::kMinInnerRoomMm) + " 毫米",
             "has no room: " + fmt(hundredths(left)) + " mm are left inside the ring text, and it needs " +
                 fmt(draw::kMinInnerRoomMm) + " mm");
      else
        tooLarge("inner.size", d.inner.size, room.mostInnerH, "内环文字只占环形文字以内的外半圈", "the inner ring takes the outer half inside the ring text");
    }
    if (d.centre == Centre::Star)
      tooLarge("centre.size", d.centreSize, 2 * room.mostStarR, "五角星须留在边框以内", "the star stays inside the rings");
    if (d.code)
      tooLarge("code.size", d.codeText.size, room.mostCodeH, "底部编码沿边框内侧排列", "the code runs along the inside of the rings");
    for (size_t i = 0; i < d.lines.size(); ++i) {
      const Line& line = d.lines[i];
      const std::string at = "lines[" + std::to_string(i) + "].";
      if (tooLarge(at + "size", line.size, room.mostLineH, "横排文字不超过边框以内半径的一半", "a line is at most half the radius inside the rings"))
        continue;
      if (!line.offset) continue;
      const double h = line.size > 0 ? line.size : std::min(4.6 * room.scale, room.mostLineH);
      const double reach = room.lineReach - h / 2;
      if (std::abs(*line.offset) > hundredths(reach))
        fail(at + "offset", "须在 -" + fmt(hundredths(reach)) + " 到 " + fmt(hundredths(reach)) + " 毫米之间（这一行须留在边框以内）",
             "must be from -" + fmt(hundredths(reach)) + " to " + fmt(hundredths(reach)) + " mm here: the line stays inside the rings");
    }
  }
};

void appendNumber(std::string& out, double v) {
  char buf[32];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 2);
  char* p = end;
  while (p > buf && p[-1] == '0') --p;
  if (p > buf && p[-1] == '.') --p;
  out.append(buf, p);
}

std::string numberString(double v) {
  std::string s;
  appendNumber(s, v);
  return s;
}

std::string colorString(uint32_t c) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%06X", c & 0xFFFFFF);
  return buf;
}

// The fields of a design that differ from auto, as (key, value) in canonical order.
std::vector<std::pair<const Key*, std::string>> fields(const Design& d) {
  std::vector<std::pair<const Key*, std::string>> out;
  auto add = [&](std::string_view k, std::string v) { out.emplace_back(keyByQuery(k), std::move(v)); };
  auto utf8 = [](const std::u32string& s) { return text::encodeUtf8(s); };
  // A part's face: its family and weight where it names one, else its script.
  auto face = [&](std::string_view fontKey, std::string_view weightKey, std::optional<Script> script, int f) {
    if (f >= 0) {
      add(fontKey, std::string(kFaceVariants[f].family));
      add(weightKey, std::to_string(kFaceVariants[f].weight));
    } else if (script) {
      add(fontKey, std::string(nameOf(kScripts, *script)));
    }
  };
  add("v", "1");
  add("shape", std::string(nameOf(kShapes, d.shape)));
  if (d.width > 0) add("w", numberString(d.width));
  if (d.height > 0 && d.shape != Shape::Round && d.shape != Shape::Square) add("h", numberString(d.height));
  add("color", colorString(d.color));
  if (d.relief != Relief::Yang) add("relief", std::string(nameOf(kReliefs, d.relief)));
  if (d.border != Border::Single) add("b", std::string(nameOf(kBorders, d.border)));
  if (d.borderWidth >= 0) add("bw", numberString(d.borderWidth));
  if (d.innerRing >= 0) add("ir", numberString(d.innerRing));
  if (d.innerGap >= 0) add("ig", numberString(d.innerGap));
  if (!d.text.text.empty()) add("t", utf8(d.text.text));
  face("tf", "tw", d.font, d.text.face);
  if (d.text.size > 0) add("ts", numberString(d.text.size));
  if (d.spacing > 0) add("tsp", numberString(d.spacing));
  if (d.start != 0 || d.end != 0) add("ta", numberString(d.start)), add("tb", numberString(d.end));
  if (!d.inner.text.empty()) {
    add("i", utf8(d.inner.text));
    face("if", "iw", d.inner.font, d.inner.face);
    if (d.inner.size > 0) add("is", numberString(d.inner.size));
  }
  if (d.centre != Centre::None) add("c", std::string(nameOf(kCentres, d.centre)));
  if (d.centre != Centre::None && d.centreSize > 0) add("cs", numberString(d.centreSize));
  if (d.centre == Centre::Text) {
    add("ct", utf8(d.centreText.text));
    face("cf", "cw", d.centreText.font, d.centreText.face);
  }
  for (size_t i = 0; i < d.lines.size(); ++i) {
    const std::string n = std::to_string(i + 1);
    const Line& l = d.lines[i];
    add("l" + n, utf8(l.text));
    face("l" + n + "f", "l" + n + "w", l.font, l.face);
    if (l.size > 0) add("l" + n + "s", numberString(l.size));
    if (l.offset) add("l" + n + "o", numberString(*l.offset));
  }
  if (d.code) {
    add("k", utf8(d.codeText.text));
    face("kf", "kw", d.codeText.font, d.codeText.face);
    if (d.codeText.size > 0) add("ks", numberString(d.codeText.size));
  }
  if (d.aged > 0) add("a", std::to_string(d.aged));
  if (d.seed > 0) add("s", std::to_string(d.seed));
  return out;
}

// Flattens the JSON form into the query form's fields; faults in its shape are field errors.
void flatten(const boost::json::value& v, const std::string& path, Reader& r,
             std::vector<std::pair<const Key*, std::string>>& out) {
  namespace json = boost::json;
  if (v.is_null()) return;  // auto
  if (v.is_object()) {
    if (path == "lines" || (!path.empty() && keyByPath(path))) {
      r.fail(path, "格式不对", "has the wrong type");
      return;
    }
    if (path == "code") out.emplace_back(keyByQuery("k"), "");  // present: on, digits from the text
    for (const auto& [k, child] : v.as_object()) {
      std::string sub = path.empty() ? std::string(k) : path + "." + std::string(k);
      flatten(child, sub, r, out);
    }
    return;
  }
  if (v.is_array()) {
    if (path != "lines") {
      r.fail(path, "格式不对", "has the wrong type");
      return;
    }
    const auto& a = v.as_array();
    if (a.size() > static_cast<size_t>(Limits::kMaxLines)) {
      r.fail("lines", "最多 " + std::to_string(Limits::kMaxLines) + " 行", "holds at most 3 lines");
      return;
    }
    for (size_t i = 0; i < a.size(); ++i) {
      if (!a[i].is_object()) {
        r.fail("lines[" + std::to_string(i) + "].value", "格式不对", "has the wrong type");
        continue;
      }
      flatten(a[i], "lines[" + std::to_string(i) + "]", r, out);
    }
    return;
  }
  const Key* key = keyByPath(path);
  if (!key) {
    r.fail(path, "不是设计中的字段", "is not a field of a design");
    return;
  }
  std::string s;
  if (v.is_string()) {
    s = std::string(v.as_string());
  } else if (v.is_int64()) {
    s = std::to_string(v.as_int64());
  } else if (v.is_uint64()) {
    s = std::to_string(v.as_uint64());
  } else if (v.is_double()) {
    char buf[40];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v.as_double());
    s.assign(buf, end);
  } else if (v.is_bool()) {
    r.fail(path, "格式不对", "has the wrong type");
    return;
  }
  out.emplace_back(key, std::move(s));
}

Parsed finish(Reader& r, std::vector<std::pair<const Key*, std::string>>& fieldsIn, int px) {
  Parsed p;
  p.px = px;
  for (auto& [key, value] : fieldsIn) r.set(*key, value);
  if (r.errors.empty()) r.finish();
  if (r.errors.empty())
    p.design = std::move(r.d);
  else
    p.errors = std::move(r.errors);
  return p;
}

}  // namespace

std::string_view scriptName(Script s) { return nameOf(kScripts, s); }
std::string_view shapeName(Shape s) { return nameOf(kShapes, s); }
std::string_view borderName(Border b) { return nameOf(kBorders, b); }

Parsed parseQuery(std::string_view query) {
  Reader r;
  std::vector<std::pair<const Key*, std::string>> in;
  int px = 0;
  std::vector<std::string> seen;
  for (text::QueryParam& q : text::splitQuery(query)) {
    if (q.key.empty() && q.value.empty()) continue;
    if (std::find(seen.begin(), seen.end(), q.key) != seen.end()) {
      const Key* key = keyByQuery(q.key);
      r.fail(key ? key->path : q.key, "重复出现", "is repeated");
      continue;
    }
    seen.push_back(q.key);
    std::string value = text::percentDecode(q.value);
    if (q.key == "px") {
      auto n = text::parseInteger(value);
      if (!n || (*n != 0 && (*n < 64 || *n > 2048)))
        r.fail("px", "须为 0 或 64 到 2048 之间的整数", "must be 0 or a whole number from 64 to 2048");
      else
        px = static_cast<int>(*n);
      continue;
    }
    const Key* key = keyByQuery(q.key);
    if (!key) {
      r.fail(q.key, "不是设计中的字段", "is not a field of a design");
      continue;
    }
    in.emplace_back(key, std::move(value));
  }
  return finish(r, in, px);
}

Parsed parseJson(std::string_view json) {
  Reader r;
  if (json.size() > Limits::kMaxJsonBytes) {
    r.fail("design", "超过 8 KiB", "is larger than 8 KiB");
    Parsed p;
    p.errors = std::move(r.errors);
    return p;
  }
  boost::json::parse_options options;
  options.max_depth = 8;
  boost::system::error_code ec;
  boost::json::value v = boost::json::parse(json, ec, {}, options);
  if (ec || !v.is_object()) {
    r.fail("design", "不是有效的 JSON 对象", "is not a valid JSON object");
    Parsed p;
    p.errors = std::move(r.errors);
    return p;
  }
  std::vector<std::pair<const Key*, std::string>> in;
  flatten(v, "", r, in);
  if (!r.errors.empty()) {
    Parsed p;
    p.errors = std::move(r.errors);
    return p;
  }
  return finish(r, in, 0);
}

std::string toQuery(const Design& d) {
  std::string out;
  for (const auto& [key, value] : fields(d)) {
    if (!out.empty()) out += '&';
    out += key->query;
    out += '=';
    out += text::percentEncode(value);
  }
  return out;
}

std::string toJson(const Design& d) {
  const auto f = fields(d);
  auto get = [&](std::string_view k) -> const std::string* {
    for (const auto& [key, value] : f)
      if (key->query == k) return &value;
    return nullptr;
  };
  auto num = [&](std::string_view k) { const std::string* v = get(k); return v ? *v : std::string("null"); };
  auto str = [&](std::string_view k) {
    const std::string* v = get(k);
    if (!v) return std::string("null");
    std::string s;
    s += text::jsonString(*v);
    return s;
  };
  // The weight is written only with a face that has one, so designs in the scripts read as before.
  auto weight = [&](std::string_view k) { return get(k) ? ",\"weight\":" + *get(k) : std::string(); };
  auto words = [&](std::string_view value, std::string_view font, std::string_view size, std::string_view w) {
    return "{\"value\":" + (get(value) ? str(value) : std::string("\"\"")) + ",\"font\":" + str(font) + weight(w) +
           ",\"size\":" + num(size) + "}";
  };
  std::string out = "{\"version\":1,\"shape\":" + str("shape") + ",\"width\":" + num("w") + ",\"height\":" +
                    (d.shape == Shape::Round || d.shape == Shape::Square ? num("w") : num("h")) +
                    ",\"color\":" + str("color") + ",\"relief\":\"" + std::string(nameOf(kReliefs, d.relief)) + "\"";
  out += ",\"border\":{\"style\":\"" + std::string(nameOf(kBorders, d.border)) + "\",\"width\":" + num("bw") +
         ",\"inner\":" + num("ir") + ",\"gap\":" + num("ig") + "}";
  out += ",\n\"text\":{\"value\":" + (get("t") ? str("t") : std::string("\"\"")) + ",\"font\":" + str("tf") + weight("tw") +
         ",\"size\":" + num("ts") + ",\"spacing\":" + num("tsp") + ",\"start\":" + num("ta") + ",\"end\":" + num("tb") + "}";
  out += ",\n\"inner\":" + words("i", "if", "is", "iw");
  out += ",\n\"centre\":{\"kind\":\"" + std::string(nameOf(kCentres, d.centre)) + "\",\"size\":" + num("cs") +
         ",\"value\":" + (get("ct") ? str("ct") : std::string("\"\"")) + ",\"font\":" + str("cf") + weight("cw") + "}";
  out += ",\n\"lines\":[";
  for (size_t i = 0; i < d.lines.size(); ++i) {
    const std::string n = "l" + std::to_string(i + 1);
    out += (i ? "," : "") + std::string("{\"value\":") + str(n) + ",\"font\":" + str(n + "f") + weight(n + "w") + ",\"size\":" +
           num(n + "s") + ",\"offset\":" + num(n + "o") + "}";
  }
  out += "],\n\"code\":" + (d.code ? words("k", "kf", "ks", "kw") : std::string("null"));
  out += ",\n\"aged\":{\"intensity\":" + std::to_string(d.aged) + ",\"seed\":" + std::to_string(d.seed) + "}}\n";
  return out;
}

std::string errorsJson(const std::vector<FieldError>& errors) {
  std::string out = "{\"errors\":[";
  for (size_t i = 0; i < errors.size(); ++i) {
    out += i ? ",\n" : "\n";
    out += "{\"field\":";
    out += text::jsonString(errors[i].field);
    out += ",\"zh\":";
    out += text::jsonString(errors[i].zh);
    out += ",\"en\":";
    out += text::jsonString(errors[i].en);
    out += "}";
  }
  return out + "]}\n";
}

Design fromTemplate(const Template& t, std::u32string_view text) {
  const StampStyle& st = t.style;
  Design d;
  d.shape = st.shape;
  d.color = st.color & 0xFFFFFF;
  d.relief = st.relief;
  d.border = st.border;
  d.font = st.script;
  d.aged = st.aged ? 50 : 0;
  const draw::StampText split = draw::splitStampText(st, text);
  if (st.shape != Shape::Round && st.shape != Shape::Oval) {
    d.text.text = split.body;
    return d;
  }
  if (st.emblem == Emblem::None && st.bottom == Bottom::None && st.maxChars <= 4) {
    d.centre = Centre::Text;  // a small personal seal: the name fills the middle
    d.centreText.text = split.body;
    return d;
  }
  d.text.text = split.body;
  if (st.emblem == Emblem::Star) d.centre = Centre::Star;
  if (!split.horizontal.empty()) d.lines.push_back(Line{{split.horizontal, std::nullopt, 0}, std::nullopt});
  if (st.bottom == Bottom::Code) d.code = true;
  return d;
}

DrawInput toDrawInput(const Design& d) {
  DrawInput in;
  StampStyle& st = in.style;
  st.shape = d.shape;
  st.relief = d.relief;
  st.script = d.font;
  st.face = d.text.face;
  st.border = d.border;
  st.color = d.color;
  st.aged = d.aged > 0;
  st.maxChars = 8;
  in.text = d.text.text;
  const bool elliptic = d.shape == Shape::Round || d.shape == Shape::Oval;
  auto plainWords = [&](const Words& w) { return !w.font && w.size == 0 && w.face < 0; };
  // A design in a template's look is drawn by the template's own code, so it gives the
  // template's pixels (and shares its cached ring layers).
  bool templateLook = d.width == 0 && d.borderWidth < 0 && d.innerRing < 0 && d.innerGap < 0 && d.text.size == 0 &&
                      d.spacing == 0 && d.start == 0 && d.end == 0 && d.inner.text.empty() && d.centreSize == 0 &&
                      (d.aged == 0 || d.aged == 50) && d.seed == 0 && d.lines.size() <= 1 && !(d.code && !d.lines.empty()) &&
                      d.text.face < 0 && d.centreText.face < 0;
  // The one cloud template has the single border; any other is the design's own.
  if (d.shape == Shape::Cloud && d.border != Border::Single) templateLook = false;
  if (templateLook && elliptic) {
    if (d.centre == Centre::Text) {
      templateLook = d.text.text.empty() && d.lines.empty() && !d.code && !d.centreText.font &&
                     text::cellCount(d.centreText.text) <= 4;
      st.maxChars = 4;
      in.text = d.centreText.text;
    } else {
      st.emblem = d.centre == Centre::Star ? Emblem::Star : Emblem::None;
      if (!d.lines.empty()) {
        const Line& l = d.lines.front();
        templateLook = templateLook && plainWords(l) && !l.offset && d.text.text.find(U'|') == std::u32string::npos;
        st.bottom = Bottom::Text;
        st.bottomLine = l.text;
      } else if (d.code) {
        templateLook = templateLook && plainWords(d.codeText) && d.codeText.text.empty();
        st.bottom = Bottom::Code;
      }
    }
  }
  if (templateLook) return in;

  st.emblem = Emblem::None;
  st.bottom = Bottom::None;
  st.bottomLine.clear();
  st.maxChars = 8;
  in.text = d.text.text;
  // Centre text stands for the whole text on a seal without ring text: the seed follows it.
  if (in.text.empty() && d.centre == Centre::Text) in.text = d.centreText.text;
  st.layout = layoutOf(d);
  return in;
}

std::shared_ptr<const DesignLayout> layoutOf(const Design& d) {
  const bool elliptic = d.shape == Shape::Round || d.shape == Shape::Oval;
  auto layout = std::make_shared<DesignLayout>();
  DesignLayout& l = *layout;
  if (d.width > 0) l.widthMm = d.width, l.heightMm = d.height;
  l.borderMm = d.borderWidth;
  l.innerRingMm = d.innerRing;
  l.innerGapMm = d.innerGap;
  l.ringSizeMm = d.text.size;
  l.ringPitchMm = d.spacing;
  l.ringStartDeg = d.start;
  l.ringEndDeg = d.end;
  // A part without a face of its own takes the ring text's, script or face alike.
  auto words = [&](const Words& w) {
    DesignLayout::Words out{w.text, w.font.value_or(d.font), -1, w.size};
    out.face = w.font || w.face >= 0 ? w.face : d.text.face;
    return out;
  };
  l.inner = words(d.inner);
  l.centre = d.centre == Centre::Star ? DesignLayout::Centre::Star
             : d.centre == Centre::Text ? DesignLayout::Centre::Text
                                        : DesignLayout::Centre::None;
  l.starMm = d.centre == Centre::Star ? d.centreSize : 0;
  l.centreText = words(d.centreText);
  if (d.centre == Centre::Text) l.centreText.sizeMm = d.centreSize;
  for (const Line& line : d.lines) {
    DesignLayout::Line out;
    static_cast<DesignLayout::Words&>(out) = words(line);
    out.autoOffset = !line.offset;
    out.offsetMm = line.offset.value_or(0);
    l.lines.push_back(std::move(out));
  }
  l.code = d.code;
  l.codeText = words(d.codeText);
  l.agedIntensity = d.aged;
  l.agedSeed = d.seed;
  if (!elliptic) l.centre = DesignLayout::Centre::None;
  return layout;
}

std::string fontsJson(const FontSet& fonts) {
  std::string out = "{\"fonts\":[";
  for (size_t i = 0; i < std::size(kScripts); ++i) {
    const auto& s = kScripts[i];
    out += i ? ",\n" : "\n";
    out += "{\"id\":\"" + std::string(s.name) + "\",\"name\":\"" + std::string(s.zh) + "\",\"face\":";
    out += text::jsonString(fonts.forScript(s.value).name);
    out += std::string(",\"own\":") + (fonts.hasOwnFace(s.value) ? "true" : "false") + "}";
  }
  // The families of kFaceVariants with the weights this service has loaded; one it lacks is
  // listed with no weights, so the page can name it.
  out += "],\n\"faces\":[";
  for (size_t i = 0; i < kFaceVariantCount; ++i) {
    const FaceVariant& v = kFaceVariants[i];
    if (i > 0 && kFaceVariants[i - 1].family == v.family) continue;
    std::string weights;
    for (size_t j = i; j < kFaceVariantCount && kFaceVariants[j].family == v.family; ++j)
      if (fonts.hasVariant(static_cast<int>(j))) weights += (weights.empty() ? "" : ",") + std::to_string(kFaceVariants[j].weight);
    const int regular = findFaceVariant(v.family, 0);
    out += std::string(i ? ",\n" : "\n") + "{\"id\":\"" + std::string(v.family) + "\",\"name\":\"" + std::string(v.zh) +
           "\",\"face\":\"" + std::string(v.name) + "\",\"weights\":[" + weights + "],\"weight\":" +
           std::to_string(kFaceVariants[regular].weight) + ",\"own\":" + (weights.empty() ? "false" : "true") + "}";
  }
  out += "],\n\"shapes\":[";
  for (size_t i = 0; i < std::size(kShapes); ++i) {
    const draw::ShapeMm mm = draw::shapeMm(kShapes[i].value);
    out += std::string(i ? "," : "") + "{\"id\":\"" + std::string(kShapes[i].name) + "\",\"name\":\"" +
           std::string(kShapes[i].zh) + "\",\"width\":" + numberString(mm.w) + ",\"height\":" + numberString(mm.h) + "}";
  }
  out += "],\n\"borders\":[";
  for (size_t i = 0; i < std::size(kBorders); ++i)
    out += std::string(i ? "," : "") + "{\"id\":\"" + std::string(kBorders[i].name) + "\",\"name\":\"" +
           std::string(kBorders[i].zh) + "\"}";
  out += "],\n\"centres\":[";
  for (size_t i = 0; i < std::size(kCentres); ++i)
    out += std::string(i ? "," : "") + "{\"id\":\"" + std::string(kCentres[i].name) + "\",\"name\":\"" +
           std::string(kCentres[i].zh) + "\"}";
  out += "],\n\"limits\":{\"minSideMm\":" + numberString(Limits::kMinSideMm) + ",\"maxSideMm\":" +
         numberString(Limits::kMaxSideMm) + ",\"maxBorderMm\":" + numberString(Limits::kMaxBorderMm) +
         ",\"maxTextMm\":" + numberString(Limits::kMaxTextMm) + ",\"maxRingChars\":" +
         std::to_string(Limits::kMaxRingChars) + ",\"maxFieldCells\":" + std::to_string(Limits::kMaxFieldCells) +
         ",\"maxCentreCells\":" + std::to_string(Limits::kMaxCentreCells) + ",\"maxLines\":" +
         std::to_string(Limits::kMaxLines) + ",\"maxLineChars\":" + std::to_string(Limits::kMaxLineChars) +
         ",\"maxCodeChars\":" + std::to_string(Limits::kMaxCodeChars) + ",\"maxJsonBytes\":" +
         std::to_string(Limits::kMaxJsonBytes) + ",\"minPx\":64,\"maxPx\":2048}}\n";
  return out;
}


std::vector<FieldError> missingFaces(const Design& d, const FontSet& fonts) {
  std::vector<FieldError> out;
  auto check = [&](const Words& w, const std::string& part) {
    if (w.face < 0 || fonts.hasVariant(w.face)) return;
    const FaceVariant& v = kFaceVariants[w.face];
    const std::string name = std::string(v.family) + " " + std::to_string(v.weight);
    out.push_back({part + ".font", "本服务没有字体“" + std::string(v.zh) + "”（" + name + "），请选择其他字体",
                   "this service has no face " + name + " (" + std::string(v.name) + "); choose another"});
  };
  check(d.text, "text");
  check(d.inner, "inner");
  check(d.centreText, "centre");
  for (size_t i = 0; i < d.lines.size(); ++i) check(d.lines[i], "lines[" + std::to_string(i) + "]");
  check(d.codeText, "code");
  return out;
}

}  // namespace tambrel::design
