// Generator-driven tests of the service's input spaces: random designs in both written forms,
// random stamp paths and random generation queries, each answered by the real handlers, with
// the invariants every answer must keep:
//   - no signal (a crash ends this process, and ctest reports it);
//   - 200 with a picture of the format asked, or a refusal that names its fields (400 with
//     {"errors":[...]} for a design, <error> for a generation query, 404 for an unknown id);
//   - the ink of every accepted design or stamp inside its seal's outline;
//   - a design's two written forms read the same, and its canonical forms read back the same.
// The short run is part of the suite; STAMPD_PROPERTY_RUNS and STAMPD_PROPERTY_SEED make the
// long run (README: "Tests, benchmarks, fuzzing"). A failure prints the seed and the input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "design/design.h"
#include "draw/vector.h"
#include "stamps/stamp_request.h"
#include "stamps/stamp_service.h"
#include "test_support.h"
#include "text/text.h"
#include "web/site.h"

namespace tambrel {
namespace {

using testing_support::fonts;

// Ink may reach past the outline by the flattening of curves and no more.
constexpr double kInkToleranceMm = 0.05;

int runs(int fallback) {
  const char* v = std::getenv("STAMPD_PROPERTY_RUNS");
  return v ? std::max(1, std::atoi(v)) : fallback;
}
uint64_t seed(uint64_t salt) {
  const char* v = std::getenv("STAMPD_PROPERTY_SEED");
  return (v ? std::strtoull(v, nullptr, 10) : 20261211) ^ salt;
}

class Gen {
 public:
  explicit Gen(uint64_t s) : rng_(s) {}
  int upTo(int n) { return std::uniform_int_distribution<int>(0, n)(rng_); }
  bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(rng_) < p; }
  double real(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng_); }
  template <typename T>
  const T& pick(const std::vector<T>& v) { return v[static_cast<size_t>(upTo(static_cast<int>(v.size()) - 1))]; }

  // A number as people type it: whole, two decimals or more; mostly in [lo, hi], now and
  // then a little outside it.
  std::string number(double lo, double hi) {
    double x = chance(0.06) ? real(lo - (hi - lo) * 0.2 - 1, hi + (hi - lo) * 0.2 + 1) : real(lo, hi);
    char buf[32];
    const int form = upTo(3);
    std::snprintf(buf, sizeof buf, form == 0 ? "%.0f" : form == 1 ? "%.1f" : form == 2 ? "%.2f" : "%.4f", x);
    return buf;
  }

  // Text from the pieces seals are made of: CJK, Latin words, digits, spaces of both widths,
  // a character no face has, and now and then nothing but spaces.
  std::u32string words(int most) {
    static const std::vector<std::u32string> pieces = {
        U"天宝", U"印章", U"有限公司", U"合同专用章", U"财务", U"国", U"一", U"龍", U"鑫", U"Tambrel", U"Co",
        U"Ltd", U"123", U"A", U" ", U"\u3000", U"-", U"\U00020000", U"（", U"·", U"W", U"iii"};
    if (chance(0.08)) return chance(0.5) ? U"" : U"\u3000";
    std::u32string s;
    const int n = upTo(most);
    while (static_cast<int>(s.size()) < n) s += pick(pieces);
    if (static_cast<int>(s.size()) > most + 2) s.resize(static_cast<size_t>(most + 2));
    return s;
  }

 private:
  std::mt19937_64 rng_;
};

// One field of a design as written: its query key, its JSON path and its value.
struct Field {
  std::string key, path, value;
  bool number;
};

std::vector<Field> randomDesign(Gen& g) {
  std::vector<Field> f;
  auto add = [&](std::string key, std::string path, std::string value, bool number) {
    f.push_back({std::move(key), std::move(path), std::move(value), number});
  };
  auto words = [&](int most) { return text::encodeUtf8(g.words(most)); };
  static const std::vector<std::string> shapes = {"round", "round", "oval", "square", "rect", "long", "cloud"};
  static const std::vector<std::string> borders = {"single", "double", "thick", "thin", "none"};
  static const std::vector<std::string> faces = {"song", "hei", "kai", "li", "zhuan"};
  const std::string shape = g.pick(shapes);
  const bool elliptic = shape == "round" || shape == "oval";
  if (g.chance(0.3)) add("v", "version", "1", true);
  add("shape", "shape", shape, false);
  if (g.chance(0.5)) {
    const std::string w = g.number(10, 60);
    add("w", "width", w, true);
    if (shape != "round" && shape != "square") add("h", "height", shape == "cloud" ? g.number(10, 40) : g.number(10, 60), true);
    else if (g.chance(0.2)) add("h", "height", w, true);
  }
  if (g.chance(0.2)) add("color", "color", g.chance(0.5) ? "1A2B3C" : "#D01010", false);
  if (g.chance(0.3)) add("relief", "relief", g.chance(0.5) ? "yin" : "yang", false);
  if (g.chance(0.5)) add("b", "border.style", g.pick(borders), false);
  if (g.chance(0.3)) add("bw", "border.width", g.number(0, 4), true);
  if (g.chance(0.3)) add("ir", "border.inner", g.number(0, 3), true);
  if (g.chance(0.3)) add("ig", "border.gap", g.number(0, 5), true);
  add("t", "text.value", words(elliptic ? 40 : 22), false);
  if (g.chance(0.3)) add("tf", "text.font", g.pick(faces), false);
  if (g.chance(0.3)) add("ts", "text.size", g.number(1, 20), true);
  if (!elliptic) return f;
  if (g.chance(0.2)) add("tsp", "text.spacing", g.number(0, 20), true);
  if (g.chance(0.2)) {
    const double a = g.real(-180, 170);
    add("ta", "text.start", std::to_string(static_cast<int>(a)), true);
    add("tb", "text.end", std::to_string(static_cast<int>(g.real(a + 1, 180))), true);
  }
  if (g.chance(0.25)) {
    add("i", "inner.value", words(40), false);
    if (g.chance(0.3)) add("if", "inner.font", g.pick(faces), false);
    if (g.chance(0.3)) add("is", "inner.size", g.number(1, 20), true);
  }
  const int centre = g.upTo(2);
  if (centre > 0) {
    add("c", "centre.kind", centre == 1 ? "star" : "text", false);
    if (g.chance(0.3)) add("cs", "centre.size", g.number(2, 40), true);
    if (centre == 2) add("ct", "centre.value", words(12), false);
    if (centre == 2 && g.chance(0.3)) add("cf", "centre.font", g.pick(faces), false);
  }
  const int lines = g.upTo(3);
  for (int i = 0; i < lines; ++i) {
    const std::string n = std::to_string(i + 1), at = "lines[" + std::to_string(i) + "].";
    add("l" + n, at + "value", words(20), false);
    if (g.chance(0.3)) add("l" + n + "f", at + "font", g.pick(faces), false);
    if (g.chance(0.4)) add("l" + n + "s", at + "size", g.number(1, 20), true);
    if (g.chance(0.4)) add("l" + n + "o", at + "offset", g.number(-30, 30), true);
  }
  if (g.chance(0.3)) {
    add("k", "code.value", g.chance(0.5) ? "" : std::to_string(g.upTo(1000000)) + "-" + std::to_string(g.upTo(99999)), false);
    if (g.chance(0.3)) add("kf", "code.font", g.pick(faces), false);
    if (g.chance(0.3)) add("ks", "code.size", g.number(1, 6), true);
  }
  if (g.chance(0.2)) add("a", "aged.intensity", std::to_string(g.upTo(100)), true);
  if (g.chance(0.1)) add("s", "aged.seed", std::to_string(g.upTo(1 << 30)), true);
  return f;
}

std::string queryOf(const std::vector<Field>& fields) {
  std::string q;
  for (const Field& f : fields) q += (q.empty() ? "" : "&") + f.key + "=" + text::percentEncode(f.value);
  return q;
}

// The same fields as the JSON form: "a.b" nests, "lines[i].x" goes into the lines array.
std::string jsonOf(const std::vector<Field>& fields) {
  std::string out = "{";
  std::string open;  // the object being written ("" at the top)
  std::vector<std::string> lines(3);
  int usedLines = 0;
  auto value = [](const Field& f) { return f.number ? f.value : text::jsonString(f.value); };
  std::vector<std::pair<std::string, std::string>> groups;  // (object, "\"key\":value,...")
  for (const Field& f : fields) {
    if (f.path.starts_with("lines[")) {
      const int i = f.path[6] - '0';
      usedLines = std::max(usedLines, i + 1);
      std::string& l = lines[static_cast<size_t>(i)];
      l += (l.empty() ? "" : ",") + text::jsonString(f.path.substr(9)) + ":" + value(f);
      continue;
    }
    const size_t dot = f.path.find('.');
    const std::string group = dot == std::string::npos ? "" : f.path.substr(0, dot);
    const std::string key = dot == std::string::npos ? f.path : f.path.substr(dot + 1);
    auto it = std::find_if(groups.begin(), groups.end(), [&](const auto& p) { return p.first == group; });
    if (it == groups.end()) it = groups.insert(groups.end(), {group, ""});
    it->second += (it->second.empty() ? "" : ",") + text::jsonString(key) + ":" + value(f);
  }
  bool first = true;
  for (const auto& [group, members] : groups) {
    out += first ? "" : ",";
    first = false;
    if (group.empty()) out += members;
    else out += text::jsonString(group) + ":{" + members + "}";
  }
  if (usedLines) {
    out += std::string(first ? "" : ",") + "\"lines\":[";
    for (int i = 0; i < usedLines; ++i) out += (i ? ",{" : "{") + lines[static_cast<size_t>(i)] + "}";
    out += "]";
  }
  return out + "}";
}

bool isPicture(const std::string& body, std::string_view extension) {
  if (extension == "png") return body.starts_with("\x89PNG\r\n\x1a\n");
  if (extension == "svg") return body.starts_with("<?xml") && body.find("<svg") != std::string::npos;
  return body.starts_with("%PDF-");
}

class Property : public ::testing::Test {
 protected:
  static ServiceOptions options() {
    ServiceOptions o;
    o.pairKey = "k";
    o.replyKey = "r";
    o.cacheBytes = 1u << 20;  // small: most answers are rendered, not found
    return o;
  }
  StampService service_{Catalog::builtIn(), fonts(), options()};
  Site site_{service_, WebOptions{}};
};

TEST_F(Property, RandomDesignsAreDrawnInsideTheSealOrRefusedByField) {
  static const std::vector<std::string> formats = {"png", "png", "svg", "pdf"};
  const uint64_t s = seed(1);
  Gen g(s);
  const int n = runs(1500);
  int drawn = 0, refused = 0;
  for (int run = 0; run < n; ++run) {
    const std::vector<Field> fields = randomDesign(g);
    const std::string query = queryOf(fields), json = jsonOf(fields);
    SCOPED_TRACE("seed " + std::to_string(s) + " run " + std::to_string(run) + "\nquery: " + query + "\njson: " + json);
    const design::Parsed byQuery = design::parseQuery(query);
    const design::Parsed byJson = design::parseJson(json);
    ASSERT_EQ(byQuery.design.has_value(), byJson.design.has_value()) << design::errorsJson(byQuery.errors)
                                                                     << design::errorsJson(byJson.errors);
    const std::string& ext = g.pick(formats);
    const std::string px = std::to_string(64 + g.upTo(96));
    const Response get = site_.handle("GET", "/design." + ext + "?" + query + "&px=" + px);
    const Response post = site_.handle("POST", "/design." + ext + "?px=" + px, json);
    if (!byQuery.design) {
      ++refused;
      ASSERT_FALSE(byQuery.errors.empty());
      for (const Response* r : {&get, &post}) {
        ASSERT_EQ(r->status, 400) << *r->body;
        EXPECT_TRUE(r->body->starts_with("{\"errors\":[")) << *r->body;
      }
      continue;
    }
    ++drawn;
    const design::Design& d = *byQuery.design;
    ASSERT_EQ(d, *byJson.design);
    // The canonical forms read back as the same design, and the query is a fixed point.
    const design::Parsed q2 = design::parseQuery(design::toQuery(d));
    const design::Parsed j2 = design::parseJson(design::toJson(d));
    ASSERT_TRUE(q2.design) << design::toQuery(d) << design::errorsJson(q2.errors);
    ASSERT_TRUE(j2.design) << design::toJson(d) << design::errorsJson(j2.errors);
    EXPECT_EQ(*q2.design, d);
    EXPECT_EQ(*j2.design, d);
    EXPECT_EQ(design::toQuery(*q2.design), design::toQuery(d));
    for (const Response* r : {&get, &post}) {
      ASSERT_EQ(r->status, 200) << *r->body;
      EXPECT_TRUE(isPicture(*r->body, ext)) << ext;
    }
    const design::DrawInput in = design::toDrawInput(d);
    EXPECT_LE(inkOverreachMm(fonts(), in.style, in.text), kInkToleranceMm) << design::toQuery(d);
  }
  std::printf("%d designs drawn, %d refused\n", drawn, refused);
  // The generator reaches both answers often enough to mean something.
  EXPECT_GT(drawn, n / 5);
  EXPECT_GT(refused, n / 20);
}

std::string randomStampText(Gen& g) {
  std::string raw = text::encodeUtf8(g.words(14));
  switch (g.upTo(5)) {
    case 0: return raw;  // unencoded, as the desktop tool sends it
    case 1: return raw + "%";
    case 2: return "%FF%FE" + text::percentEncode(raw);
    case 3: return text::percentEncode(raw) + (g.chance(0.5) ? "%7C" + text::percentEncode("财务专用章") : "");
    default: return text::percentEncode(raw);
  }
}

// Stamp paths and generation queries: every template, sizes in and out of range, texts of every
// kind. An accepted one renders, inside its seal; the rest are refused with a status.
TEST_F(Property, RandomStampPathsAndGenerationQueriesAnswerAndStayInside) {
  const std::vector<Template>& all = Catalog::builtIn().all();
  static const std::vector<std::string> sizes = {"0", "64", "100", "150", "-1", "abc", "99999", "", "0x40", "120.5"};
  static const std::vector<std::string> extensions = {"png", "png", "svg", "pdf", "gif", ""};
  const uint64_t s = seed(2);
  Gen g(s);
  const int n = runs(600);
  int drawn = 0;
  for (int run = 0; run < n; ++run) {
    const Template& t = all[static_cast<size_t>(g.upTo(static_cast<int>(all.size()) - 1))];
    const std::string id = g.chance(0.05) ? std::to_string(g.upTo(100000) - 10) : std::to_string(t.id);
    const std::string text = randomStampText(g);
    const std::string size = g.pick(sizes);
    SCOPED_TRACE("seed " + std::to_string(s) + " run " + std::to_string(run) + " id " + id + " size " + size +
                 " text " + text);
    if (g.chance(0.5)) {
      const std::string ext = g.pick(extensions);
      const Response r = service_.handle("GET", "/stamp/" + id + "/" + size + "/" + text + (ext.empty() ? "" : "." + ext));
      ASSERT_TRUE(r.status == 200 || r.status == 400 || r.status == 404) << r.status;
      if (r.status != 200) continue;
      ASSERT_TRUE(isPicture(*r.body, ext)) << ext;
    } else {
      const Response r =
          service_.handle("GET", "/aosbegin.php?text=" + text + "&id=" + id + "&signsize=" + size + "&rnd=" + std::to_string(run));
      ASSERT_TRUE(r.status == 200 || r.status == 400) << r.status;
      if (r.status != 200) {
        EXPECT_NE(r.body->find("<error>"), std::string::npos) << *r.body;
        continue;
      }
      const size_t at = r.body->find("<outputimg>./"), end = r.body->find("</outputimg>");
      ASSERT_NE(at, std::string::npos) << *r.body;
      const Response picture = service_.handle("GET", r.body->substr(at + 12, end - at - 12));
      ASSERT_EQ(picture.status, 200) << *r.body;
      ASSERT_TRUE(isPicture(*picture.body, "png"));
    }
    // Accepted: the text as the service read it lies inside the template's seal.
    std::string error;
    auto decoded = decodeStampText(text, t, &error);
    if (!decoded || id != std::to_string(t.id)) continue;
    ++drawn;
    EXPECT_LE(inkOverreachMm(fonts(), t.style, *decoded), kInkToleranceMm) << text::encodeUtf8(*decoded);
  }
  EXPECT_GT(drawn, n / 10);
}

}  // namespace
}  // namespace tambrel
