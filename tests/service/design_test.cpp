// Designs: both written forms and their checks, every template as a design, the drawing of
// what only a design has, and the design endpoints through the Site.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <numeric>
#include <set>

#include "design/design.h"
#include "design/design_service.h"
#include "draw/render.h"
#include "draw/render_core.h"
#include "draw/vector.h"
#include "encode/encode.h"
#include "stamps/stamp_service.h"
#include "test_support.h"
#include "text/text.h"
#include "server/http_server.h"
#include "web/site.h"

#include <boost/asio.hpp>
#include <sys/socket.h>
#include <thread>

namespace tambrel {
namespace {

using testing_support::fonts;
using testing_support::templ;

std::u32string sampleOf(const Template& t) {
  std::u32string s = text::decodeUtf8(t.style.sample).value_or(U"天宝");
  while (text::cellCount(s) > t.style.maxChars) s.pop_back();
  return s;
}

std::vector<std::string> fieldsOf(const design::Parsed& p) {
  std::vector<std::string> out;
  for (const auto& e : p.errors) out.push_back(e.field);
  return out;
}

long coverage(const Raster& r) {
  long sum = 0;
  for (uint8_t a : r.alpha) sum += a;
  return sum;
}

Raster draw(const std::string& query, int px = 300) {
  design::Parsed p = design::parseQuery(query);
  EXPECT_TRUE(p.design) << query << " " << (p.errors.empty() ? "" : p.errors[0].en);
  if (!p.design) return {};
  design::DrawInput in = design::toDrawInput(*p.design);
  return renderStamp(fonts(), in.style, in.text, px);
}

// Opening a template as a design and drawing it gives the template's own bytes, for every
// template, through both written forms (what the page keeps in its link and what it exports).
TEST(Design, EveryTemplateOpensAsADesignThatDrawsTheTemplatesPixels) {
  int checked = 0;
  for (const Template& t : Catalog::builtIn().all()) {
    const std::u32string text = sampleOf(t);
    const design::Design d = design::fromTemplate(t, text);
    design::Parsed viaJson = design::parseJson(design::toJson(d));
    design::Parsed viaQuery = design::parseQuery(design::toQuery(d));
    ASSERT_TRUE(viaJson.design) << t.id << " " << design::errorsJson(viaJson.errors);
    ASSERT_TRUE(viaQuery.design) << t.id << " " << design::errorsJson(viaQuery.errors);
    EXPECT_EQ(*viaJson.design, d) << t.id;
    EXPECT_EQ(*viaQuery.design, d) << t.id;
    const std::string expected = encodePng(renderStamp(fonts(), t.style, text, 300), t.style.color, true);
    EXPECT_EQ(renderDesign(fonts(), *viaJson.design, "png", 300), expected) << t.id;
    if (t.id % 7 == 0) {  // vectors over a seventh of the catalogue: the same path, slower to compare
      EXPECT_EQ(renderDesign(fonts(), *viaQuery.design, "svg", 0), renderStampVector(fonts(), t.style, text, VectorFormat::Svg))
          << t.id;
    }
    ++checked;
  }
  EXPECT_EQ(checked, 281);
}

// A template's horizontal line given with the text ("name|line") becomes the design's line.
TEST(Design, TemplateLineTakenFromTheText) {
  const Template& t = templ(364);
  ASSERT_EQ(t.style.bottom, Bottom::Text);
  design::Design d = design::fromTemplate(t, U"天宝印章有限公司|财务专用章");
  ASSERT_EQ(d.lines.size(), 1u);
  EXPECT_EQ(d.lines[0].text, U"财务专用章");
  EXPECT_EQ(d.text.text, U"天宝印章有限公司");
  EXPECT_EQ(renderDesign(fonts(), d, "png", 300),
            encodePng(renderStamp(fonts(), t.style, U"天宝印章有限公司|财务专用章", 300), t.style.color, true));
}

TEST(Design, EachFaultIsNamedByFieldInBothLanguages) {
  struct Case {
    std::string query;
    std::vector<std::string> fields;
  } cases[] = {
      {"v=2", {"version"}},
      {"shape=hexagon", {"shape"}},
      {"w=9", {"width"}},
      {"w=61", {"width"}},
      {"w=abc", {"width"}},
      {"w=nan", {"width"}},
      {"shape=round&w=40&h=38", {"height"}},
      {"shape=oval&w=40", {"height"}},
      {"shape=cloud&w=60&h=20&t=ab", {"width"}},
      {"color=red", {"color"}},
      {"color=%23D0101", {"color"}},
      {"b=dotted", {"border.style"}},
      {"bw=5", {"border.width"}},
      {"bw=3.9&w=20", {"border.width"}},  // over an eighth of the shorter side
      {"t=" + std::string(41, 'a'), {"text.value"}},
      {"t=a%01b", {"text.value"}},
      {"t=%FF%FE", {"text.value"}},
      {"tf=comic", {"text.font"}},
      {"ts=0.5", {"text.size"}},
      {"ts=18", {"text.size"}},  // over a third of 42 mm
      {"ta=-100", {"text.end"}},
      {"ta=100&tb=-100", {"text.end"}},
      {"ta=-200&tb=10", {"text.start"}},
      {"c=moon", {"centre.kind"}},
      {"c=text", {"centre.value"}},
      {"c=text&ct=" + text::percentEncode("一二三四五六七八九十"), {"centre.value"}},
      {"l1f=hei", {"lines[0].value"}},
      {"l2=" + text::percentEncode("第二行"), {"lines[0].value"}},  // lines keep their order
      {"l1=" + text::percentEncode("一二三四五六七八九十一二三四五六七八九十一"), {"lines[0].value"}},
      {"l1=a&l1o=31", {"lines[0].offset"}},
      {"k=12345%2B", {"code.value"}},
      {"k=" + std::string(25, '1'), {"code.value"}},
      {"ks=7", {"code.size"}},
      {"a=101", {"aged.intensity"}},
      {"s=-1", {"aged.seed"}},
      {"shape=square&t=ab&c=star", {"centre.kind"}},
      {"shape=rect&t=ab&k=1", {"code.value"}},
      {"shape=square&t=" + text::percentEncode("一二三四五六七八九十一二三四五六七八九十一"), {"text.value"}},
      {"shape=cloud&t=" + text::percentEncode("吉祥如意"), {"text.value"}},
      {"px=5000", {"px"}},
      {"zoom=2", {"zoom"}},
      {"lines[=1", {"lines["}},  // unknown keys that look like a line's are named as they came
      {"lines[0].valu=1", {"lines[0].valu"}},
      {"w=40&w=41", {"width"}},
      {"w=70&bw=9&tf=x", {"width", "border.width", "text.font"}},
  };
  for (const Case& c : cases) {
    design::Parsed p = design::parseQuery(c.query);
    EXPECT_FALSE(p.design) << c.query;
    EXPECT_EQ(fieldsOf(p), c.fields) << c.query << "\n" << design::errorsJson(p.errors);
    for (const auto& e : p.errors) {
      EXPECT_FALSE(e.zh.empty()) << c.query;
      EXPECT_NE(e.en.find(e.field), std::string::npos) << e.en;
      // The Chinese message is Chinese: it holds at least one CJK character.
      auto zh = text::decodeUtf8(e.zh);
      ASSERT_TRUE(zh);
      auto cjk = [](char32_t ch) { return ch >= 0x4E00 && ch <= 0x9FFF; };
      EXPECT_TRUE(std::any_of(zh->begin(), zh->end(), cjk)) << e.zh;
      // Latin letters and digits stand apart from Chinese words (a space, or quotes around them).
      for (size_t i = 1; i < zh->size(); ++i) {
        auto latin = [](char32_t ch) { return ch < 0x80 && std::isalnum(static_cast<int>(ch)); };
        EXPECT_FALSE((cjk((*zh)[i - 1]) && latin((*zh)[i])) || (latin((*zh)[i - 1]) && cjk((*zh)[i]))) << e.zh;
      }
    }
  }
}

TEST(Design, JsonFaultsAreFieldErrorsToo) {
  struct Case {
    std::string json;
    std::string field;
  } cases[] = {
      {"", "design"},
      {"[1]", "design"},
      {"{\"version\":1,", "design"},
      {"{\"text\":{\"value\":\"ab\",\"colour\":1}}", "text.colour"},
      {"{\"text\":\"ab\"}", "text"},
      {"{\"width\":true}", "width"},
      {"{\"lines\":[{},{},{},{}]}", "lines"},
      {"{\"lines\":{\"value\":\"x\"}}", "lines"},
      {"{\"lines\":[\"x\"]}", "lines[0].value"},
      {"{\"border\":{\"width\":\"thick\"}}", "border.width"},
      {"{\"a\":{\"b\":{\"c\":{\"d\":{\"e\":{\"f\":{\"g\":{\"h\":{\"i\":1}}}}}}}}}", "design"},  // nesting bounded
      {std::string("{\"text\":{\"value\":\"") + std::string(9000, 'a') + "\"}}", "design"},  // size bounded first
  };
  for (const Case& c : cases) {
    design::Parsed p = design::parseJson(c.json);
    EXPECT_FALSE(p.design) << c.json.substr(0, 80);
    ASSERT_FALSE(p.errors.empty()) << c.json.substr(0, 80);
    EXPECT_EQ(p.errors[0].field, c.field) << c.json.substr(0, 80);
  }
}

// Both forms say the same; null is auto; the canonical query is one per design.
TEST(Design, JsonAndQueryAgreeAndTheQueryIsCanonical) {
  const std::string json = R"({"version":1,"shape":"oval","width":40.004,"height":30,"color":"#1a2b3c","relief":"yin",
    "border":{"style":"double","width":1.5,"inner":0.5,"gap":null},
    "text":{"value":" 天宝 Trading 公司 ","font":"hei","size":5,"spacing":null,"start":-110,"end":110},
    "inner":{"value":"内环文字","font":"kai","size":2.5},
    "centre":{"kind":"text","size":8,"value":"财务","font":"song"},
    "lines":[{"value":"合同专用章","font":null,"size":3.5,"offset":6}],
    "code":{"value":"1234567890123","font":"song","size":2},
    "aged":{"intensity":70,"seed":42}})";
  design::Parsed p = design::parseJson(json);
  ASSERT_TRUE(p.design) << design::errorsJson(p.errors);
  const design::Design& d = *p.design;
  EXPECT_EQ(d.width, 40);  // hundredths of a millimetre
  EXPECT_EQ(d.color, 0x1A2B3Cu);
  EXPECT_EQ(d.text.text, U"天宝 Trading 公司");  // trimmed at both ends only
  EXPECT_FALSE(d.lines[0].font);
  EXPECT_EQ(d.innerGap, -1);
  const std::string q = design::toQuery(d);
  EXPECT_EQ(q.find("ig="), std::string::npos) << "auto values stay out of the query: " << q;
  design::Parsed back = design::parseQuery(q);
  ASSERT_TRUE(back.design) << q;
  EXPECT_EQ(*back.design, d);
  EXPECT_EQ(design::toQuery(*back.design), q);
  EXPECT_EQ(design::toJson(*back.design), design::toJson(d));
  design::Parsed again = design::parseJson(design::toJson(d));
  ASSERT_TRUE(again.design);
  EXPECT_EQ(*again.design, d);
  // Pure ASCII, so a link survives any client.
  EXPECT_TRUE(std::all_of(q.begin(), q.end(), [](char c) { return c > 0x20 && c < 0x7F; })) << q;
}

// What only a design has shows in the picture, and the same design is always the same picture.
TEST(Design, EveryPartOfTheLayoutShowsInThePicture) {
  const std::string base = "shape=round&t=" + text::percentEncode("天宝印章有限公司") + "&c=star";
  const long plain = coverage(draw(base));
  struct Case {
    std::string extra;
  } cases[] = {{"&l1=" + text::percentEncode("合同专用章")},
               {"&k=1234567890123"},
               {"&i=" + text::percentEncode("内环文字测试")},
               {"&bw=2.5"},
               {"&ir=0.5"},
               {"&ts=4"},
               {"&tsp=4"},
               {"&ta=-60&tb=60"},
               {"&cs=20"},
               {"&tf=hei"},
               {"&relief=yin"}};
  for (const Case& c : cases) {
    Raster r = draw(base + c.extra);
    EXPECT_NE(coverage(r), plain) << c.extra;
  }
  // Explicit digits replace the derived code; the same digits draw the same picture.
  const std::string auto_ = base + "&k=";
  const std::string given = base + "&k=0000000000000";
  EXPECT_NE(draw(auto_).alpha, draw(given).alpha);
  EXPECT_EQ(draw(given).alpha, draw(given).alpha);
  // Ageing: more intensity takes more ink away; the seed chooses where.
  const long a0 = coverage(draw(base)), a30 = coverage(draw(base + "&a=30")), a100 = coverage(draw(base + "&a=100"));
  EXPECT_GT(a0, a30);
  EXPECT_GT(a30, a100);
  EXPECT_NE(draw(base + "&a=60&s=1").alpha, draw(base + "&a=60&s=2").alpha);
  EXPECT_EQ(draw(base + "&a=60&s=1").alpha, draw(base + "&a=60&s=1").alpha);
  // Each of three lines is drawn: every further line (of a fixed size) adds ink.
  const std::string l1 = "&l1=" + text::percentEncode("合同专用章") + "&l1s=3";
  const std::string l2 = l1 + "&l2=" + text::percentEncode("第二行") + "&l2s=3";
  const std::string l3 = l2 + "&l3=" + text::percentEncode("第三") + "&l3s=3";
  EXPECT_LT(coverage(draw(base + l1)), coverage(draw(base + l2)));
  EXPECT_LT(coverage(draw(base + l2)), coverage(draw(base + l3)));
}

// A design's own size is the picture's real size: PNG pHYs, SVG and PDF page in millimetres.
// A part may name a face family and one of its weights; both forms say it the same way, the
// weight is checked against the family, and each part is drawn in exactly that face.
TEST(Design, FacesAndWeightsPerPart) {
  const std::string base = "v=1&shape=round&t=" + text::percentEncode("天宝印章制作有限公司") + "&c=star&l1=" +
                           text::percentEncode("合同专用章");
  struct Case {
    std::string extra;
    std::vector<std::string> faults;  // empty: accepted
  } cases[] = {
      {"&tf=noto-serif&tw=700", {}},
      {"&tf=noto-sans&tw=100&l1f=lxgw-wenkai&l1w=300", {}},
      {"&tf=wqy-zenhei", {}},
      {"&tf=noto-serif&tw=650", {"text.weight"}},          // not a weight the family has
      {"&tf=song&tw=700", {"text.weight"}},                // a script has no weights to choose
      {"&l1w=700", {"lines[0].weight"}},                   // nor does a part without a face
      {"&tf=comic-sans", {"text.font"}},
      {"&tf=noto-serif&tw=abc", {"text.weight"}},
  };
  for (const Case& c : cases) {
    design::Parsed p = design::parseQuery(base + c.extra);
    EXPECT_EQ(fieldsOf(p), c.faults) << c.extra;
    if (!p.design) continue;
    // The canonical forms keep the face and weight, and read back to the same design.
    design::Parsed again = design::parseJson(design::toJson(*p.design));
    ASSERT_TRUE(again.design) << design::toJson(*p.design);
    EXPECT_EQ(*again.design, *p.design) << c.extra;
    EXPECT_EQ(design::toQuery(*again.design), design::toQuery(*p.design));
  }
  // The weight without one given is the family's regular one, written out.
  EXPECT_NE(design::toQuery(*design::parseQuery(base + "&tf=noto-serif").design).find("tf=noto-serif&tw=400"),
            std::string::npos);
  // Heavier weights carry more ink; where a family is not installed the test says so.
  if (!fonts().hasVariant(findFaceVariant("noto-serif", 200)) || !fonts().hasVariant(findFaceVariant("noto-serif", 900)))
    GTEST_SKIP() << "fonts-noto-cjk-extra is not installed (scripts/setup.sh)";
  const long light = coverage(draw(base + "&tf=noto-serif&tw=200"));
  const long regular = coverage(draw(base + "&tf=noto-serif&tw=400"));
  const long black = coverage(draw(base + "&tf=noto-serif&tw=900"));
  EXPECT_LT(light, regular);
  EXPECT_LT(regular, black);
  // A line in another face than the ring text is drawn in it.
  EXPECT_NE(coverage(draw(base + "&tf=noto-serif&tw=400&l1f=noto-serif&l1w=900")), regular);
}

// A face the service has not loaded is refused by name, never drawn in another.
TEST(Design, MissingFaceIsNamedNotReplaced) {
  design::Parsed p = design::parseQuery("v=1&shape=round&t=" + text::percentEncode("天宝印章") + "&tf=lxgw-wenkai&tw=700");
  ASSERT_TRUE(p.design);
  EXPECT_EQ(design::missingFaces(*p.design, fonts()).empty(), fonts().hasVariant(findFaceVariant("lxgw-wenkai", 700)));
  // A set without system fonts has none of the families: the error names the face asked for.
  std::string log;
  auto none = FontSet::load({"/usr/share/fonts/truetype/wqy"}, &log, false);
  ASSERT_TRUE(none);
  std::vector<design::FieldError> missing = design::missingFaces(*p.design, *none);
  ASSERT_EQ(missing.size(), 1u);
  EXPECT_EQ(missing[0].field, "text.font");
  EXPECT_NE(missing[0].zh.find("霞鹜文楷"), std::string::npos) << missing[0].zh;
  EXPECT_NE(missing[0].en.find("lxgw-wenkai 700"), std::string::npos) << missing[0].en;
  LruCache cache(1 << 20);
  DesignService service(Catalog::builtIn(), *none, cache);
  Response r = service.handle("GET", "/design.png?" + design::toQuery(*p.design), "").value();
  EXPECT_EQ(r.status, 400);
  EXPECT_NE(r.body->find("lxgw-wenkai"), std::string::npos) << *r.body;
}

TEST(Design, OwnSizePrintsAtThatSize) {
  for (auto [query, w, h] : {std::tuple{"shape=round&w=50&t=ab", 50.0, 50.0}, std::tuple{"shape=oval&w=40&h=30&t=ab", 40.0, 30.0},
                             std::tuple{"shape=rect&w=50&h=15&t=ab", 50.0, 15.0}}) {
    Raster r = draw(query, 600);
    // The longer side has the pixels asked for, the picture the seal's proportions, and the seal
    // with its 0.5 mm margins fits in it.
    EXPECT_EQ(std::max(r.width, r.height), 600) << query;
    EXPECT_NEAR(static_cast<double>(r.width) / r.height, w / h, 0.01) << query;
    EXPECT_NEAR(r.pxPerMm, std::min(r.width / (w + 1), r.height / (h + 1)), 1e-9) << query;
    design::Parsed p = design::parseQuery(query);
    const std::string svg = renderDesign(fonts(), *p.design, "svg", 0);
    char size[64];
    std::snprintf(size, sizeof size, "width=\"%gmm\" height=\"%gmm\"", w, h);
    EXPECT_NE(svg.find(size), std::string::npos) << query << " " << svg.substr(0, 300);
    EXPECT_TRUE(renderDesign(fonts(), *p.design, "pdf", 0).starts_with("%PDF-")) << query;
  }
}

class DesignSite : public ::testing::Test {
 protected:
  static ServiceOptions options() {
    ServiceOptions o;
    o.pairKey = "k";
    o.replyKey = "r";
    return o;
  }
  StampService service_{Catalog::builtIn(), fonts(), options()};
  Site site_{service_, WebOptions{}};
};

std::string header(const Response& r, std::string_view name) {
  for (const auto& [k, v] : r.headers)
    if (k == name) return v;
  return {};
}

TEST_F(DesignSite, PicturesByQueryAndByJsonAreTheSameAndCached) {
  const std::string q = "v=1&shape=round&t=" + text::percentEncode("天宝印章有限公司") + "&c=star&l1=" +
                        text::percentEncode("合同专用章") + "&k=1234567890123";
  for (const StampFormat& f : kStampFormats) {
    Response get = site_.handle("GET", "/design." + std::string(f.extension) + "?" + q + "&px=400");
    ASSERT_EQ(get.status, 200) << f.extension << " " << *get.body;
    EXPECT_EQ(get.contentType, f.contentType);
    EXPECT_EQ(header(get, "Cache-Control"), "public, max-age=31536000, immutable");
    Response json = site_.handle("GET", "/design.json?" + q);
    ASSERT_EQ(json.status, 200);
    Response post = site_.handle("POST", "/design." + std::string(f.extension) + "?px=400", *json.body);
    ASSERT_EQ(post.status, 200) << *post.body;
    EXPECT_EQ(*post.body, *get.body) << f.extension;
    EXPECT_EQ(post.body.get(), get.body.get()) << "the second answer is the cached picture";
    EXPECT_EQ(header(post, "Cache-Control"), "no-store");
  }
  Response png = site_.handle("GET", "/design.png?" + q + "&px=400");
  Raster r = draw(q, 400);
  EXPECT_EQ(*png.body, encodePng(r, 0xD01010, true));
  EXPECT_NE(png.body->find("pHYs"), std::string::npos);
}

TEST_F(DesignSite, FaultsAnswer400WithTheFieldsAndOnlyDesignsTakePost) {
  Response bad = site_.handle("GET", "/design.png?w=99&tf=x");
  EXPECT_EQ(bad.status, 400);
  EXPECT_EQ(bad.contentType, "application/json; charset=utf-8");
  EXPECT_NE(bad.body->find("\"field\":\"width\""), std::string::npos) << *bad.body;
  EXPECT_NE(bad.body->find("\"field\":\"text.font\""), std::string::npos) << *bad.body;
  EXPECT_NE(bad.body->find("宽度"), std::string::npos) << *bad.body;
  Response badPost = site_.handle("POST", "/design.svg", "{\"shape\":1}");
  EXPECT_EQ(badPost.status, 400);
  EXPECT_EQ(site_.handle("POST", "/design.png?px=9", "{}").status, 400);
  EXPECT_EQ(site_.handle("POST", "/aosbegin.php", "").status, 405);
  EXPECT_EQ(site_.handle("POST", "/design/fonts.json", "").status, 405);
  EXPECT_EQ(site_.handle("PUT", "/design.png", "{}").status, 405);
  EXPECT_EQ(site_.handle("GET", "/design.gif").status, 404);
  EXPECT_EQ(Site::bodyLimit("POST", "/design.png?px=300"), design::Limits::kMaxJsonBytes);
  EXPECT_EQ(Site::bodyLimit("GET", "/design.png"), 0u);
  EXPECT_EQ(Site::bodyLimit("POST", "/aosbegin.php"), 0u);
}

TEST_F(DesignSite, FontsAndTemplatesAsDesigns) {
  Response fontsList = site_.handle("GET", "/design/fonts.json");
  ASSERT_EQ(fontsList.status, 200);
  for (const char* id : {"\"song\"", "\"hei\"", "\"kai\"", "\"li\"", "\"zhuan\""})
    EXPECT_NE(fontsList.body->find(id), std::string::npos) << id;
  EXPECT_NE(fontsList.body->find("Noto Serif CJK SC"), std::string::npos);
  Response t = site_.handle("GET", "/design/template.json?id=369&text=" + text::percentEncode("天宝印章有限公司"));
  ASSERT_EQ(t.status, 200) << *t.body;
  design::Parsed p = design::parseJson(*t.body);
  ASSERT_TRUE(p.design);
  EXPECT_EQ(renderDesign(fonts(), *p.design, "png", 300),
            encodePng(renderStamp(fonts(), templ(369).style, U"天宝印章有限公司", 300), templ(369).style.color, true));
  EXPECT_EQ(site_.handle("GET", "/design/template.json?id=1").status, 404);
  EXPECT_EQ(site_.handle("GET", "/design/template.json?id=368").status, 200) << "the sample when no text is given";
}

// Each of these took the process down (a framed seal with no text counted its columns by
// dividing by zero) or drew off the picture at any cost; each is now refused by the field
// that does not fit, in both written forms and every format.
TEST_F(DesignSite, DesignsThatCrashedOrLeftTheSealAreRefusedByField) {
  struct Case {
    std::string query;
    std::string field;
  } cases[] = {
      {"shape=square", "text.value"},
      {"shape=square&t=%E3%80%80", "text.value"},  // an ideographic space is no text either
      {"shape=rect", "text.value"},
      {"shape=long&t=%20", "text.value"},
      {"shape=cloud", "text.value"},
      {"shape=round&w=10&ir=3&ig=5&t=" + text::percentEncode("国"), "border.gap"},
      {"shape=round&w=10&bw=1.25&b=double&ir=1", "border.inner"},
      {"shape=square&w=10&bw=1.2&ir=0.6&ig=0.5&t=ab", "border.gap"},
      {"w=60&l1=" + text::percentEncode("国") + "&l1o=30&l1s=20", "lines[0].size"},
      {"w=60&l1=" + text::percentEncode("国") + "&l1o=30", "lines[0].offset"},
      {"shape=round&w=10&l1=" + text::percentEncode("国国国") + "&l1s=20&px=2048", "lines[0].size"},
      {"shape=round&w=10&t=" + text::percentEncode("天宝印章") + "&ts=3.3", "text.size"},
      {"shape=round&w=10&b=double&t=" + text::percentEncode("天宝印章") + "&i=" + text::percentEncode("内环"), "inner.value"},
      {"shape=round&t=" + text::percentEncode("天宝印章") + "&i=" + text::percentEncode("内环") + "&is=8", "inner.size"},
      {"shape=round&c=star&cs=33", "centre.size"},
      {"shape=round&w=20&k=&ks=4", "code.size"},
  };
  for (const Case& c : cases) {
    design::Parsed p = design::parseQuery(c.query);
    ASSERT_FALSE(p.design) << c.query;
    EXPECT_EQ(fieldsOf(p).front(), c.field) << c.query << "\n" << design::errorsJson(p.errors);
    for (const StampFormat& f : kStampFormats) {
      Response r = site_.handle("GET", "/design." + std::string(f.extension) + "?" + c.query);
      EXPECT_EQ(r.status, 400) << c.query;
      EXPECT_NE(r.body->find("\"field\":\"" + c.field + "\""), std::string::npos) << *r.body;
    }
  }
  Response post = site_.handle("POST", "/design.png", "{\"shape\":\"square\"}");
  EXPECT_EQ(post.status, 400);
  EXPECT_NE(post.body->find("\"field\":\"text.value\""), std::string::npos) << *post.body;
  // The drawing holds even where the checks are passed by: no text sets no lines.
  EXPECT_TRUE(draw::squareColumns(0).empty());
  EXPECT_TRUE(draw::splitLines(0, 0).empty());
  StampStyle square = templ(366).style;
  EXPECT_EQ(coverage(renderStamp(fonts(), square, U"", 64)), coverage(renderStamp(fonts(), square, U"\u3000", 64)));
}

// The most a refusal names is accepted, and drawn inside the seal: the checks and the drawing
// measure the same room.
TEST(Design, TheLargestSizeAcceptedIsDrawnInsideTheSeal) {
  const std::string ring = "t=" + text::percentEncode("天宝印章有限公司合同专用") + "&";
  const std::string cases[] = {
      "shape=round&w=10&" + ring + "ts=",
      "shape=round&w=10&b=double&" + ring + "ts=",
      "shape=oval&w=30&h=14&relief=yin&b=none&" + ring + "ts=",
      "shape=round&w=30&" + ring + "i=" + text::percentEncode("内环文字测试") + "&is=",
      "shape=round&w=60&" + ring + "l1=" + text::percentEncode("合同专用章") + "&l2=ab&c=star&cs=",
      "shape=round&w=14&" + ring + "k=&ks=",
      "shape=round&w=60&l1=" + text::percentEncode("国国国国国国国国") + "&l1s=",
  };
  for (const std::string& prefix : cases) {
    // Ask for too much, read the most from each refusal in turn, ask for that.
    std::string value = "40";
    design::Parsed p = design::parseQuery(prefix + value);
    ASSERT_FALSE(p.design) << prefix;
    for (int step = 0; step < 4 && !p.design; ++step) {
      const std::string& en = p.errors.front().en;
      const size_t from = en.find("exceed") != std::string::npos ? en.find("exceed") : en.find(" to ");
      ASSERT_NE(from, std::string::npos) << en;
      const size_t at = en.find_first_of("0123456789", from);
      value = en.substr(at, en.find(' ', at) - at);
      p = design::parseQuery(prefix + value);
    }
    ASSERT_TRUE(p.design) << prefix + value << "\n" << design::errorsJson(p.errors);
    const design::DrawInput in = design::toDrawInput(*p.design);
    EXPECT_LE(inkOverreachMm(fonts(), in.style, in.text), 0.05) << prefix + value;
  }
}

// A refusal's messages are valid JSON whatever bytes the request held, and the Chinese reads
// as Chinese: a field name the client made up is quoted, never run into the words.
TEST_F(DesignSite, RefusalsAreValidUtf8AndReadAsChinese) {
  for (const char* target : {"/design.json?%FF=1", "/design.png?%C3%28=1&t=ab", "/design.json?t=%FF"}) {
    Response r = site_.handle("GET", target);
    ASSERT_EQ(r.status, 400) << target;
    EXPECT_TRUE(text::decodeUtf8(*r.body)) << target << ": " << *r.body;
  }
  EXPECT_NE(site_.handle("GET", "/design.json?%FF=1").body->find("\\ufffd"), std::string::npos);
  struct Case {
    std::string json, zh;
  } cases[] = {
      {"[1]", "设计内容不是有效的 JSON 对象"},
      {"{\"zoom\":2}", "“zoom”不是设计中的字段"},
  };
  for (const Case& c : cases) {
    design::Parsed p = design::parseJson(c.json);
    ASSERT_FALSE(p.errors.empty());
    EXPECT_EQ(p.errors[0].zh, c.zh);
  }
  Response px = site_.handle("POST", "/design.png?px=9", "{}");
  EXPECT_NE(px.body->find("图片尺寸（px）须为"), std::string::npos) << *px.body;
}

// Raw bytes to the real server and what comes back until it closes.
std::string exchange(unsigned short port, const std::string& bytes) {
  namespace asio = boost::asio;
  asio::io_context io;
  asio::ip::tcp::socket socket(io);
  socket.connect({asio::ip::make_address("127.0.0.1"), port});
  timeval tv{10, 0};
  setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  asio::write(socket, asio::buffer(bytes));
  std::string out;
  boost::system::error_code ec;
  char buf[8192];
  for (;;) {
    size_t n = socket.read_some(asio::buffer(buf), ec);
    if (ec) break;
    out.append(buf, n);
  }
  return out;
}

// The server reads a body for a design POST alone, and only a small one; every other body is
// still refused before it is read, and keep-alive goes on after a design.
TEST_F(DesignSite, ServerReadsOnlyASmallDesignBody) {
  ServerOptions o;
  o.address = "127.0.0.1";
  o.port = 0;
  o.threads = 1;
  o.accessLog = nullptr;
  o.timeout = std::chrono::milliseconds(2000);
  HttpServer server(site_, o);
  std::string error;
  ASSERT_TRUE(server.listen(&error)) << error;
  std::thread thread([&] { server.run(); });
  const std::string json = *site_.handle("GET", "/design.json?t=ab").body;
  auto post = [](const std::string& target, const std::string& body, const std::string& extra = "") {
    return "POST " + target + " HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n" + extra + "\r\n" + body;
  };
  const std::string next = "GET /healthz HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
  std::string reply = exchange(server.port(), post("/design.png?px=200", json) + next);
  EXPECT_TRUE(reply.starts_with("HTTP/1.1 200")) << reply.substr(0, 200);
  EXPECT_NE(reply.find("image/png"), std::string::npos);
  EXPECT_NE(reply.find("\r\n\r\nok\n"), std::string::npos) << "the next request on the connection is answered";
  // Chunked works too.
  char chunk[16];
  std::snprintf(chunk, sizeof chunk, "%zx\r\n", json.size());
  reply = exchange(server.port(), "POST /design.svg HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n" +
                                      std::string(chunk) + json + "\r\n0\r\n\r\n");
  EXPECT_TRUE(reply.starts_with("HTTP/1.1 200")) << reply.substr(0, 200);
  EXPECT_NE(reply.find("image/svg+xml"), std::string::npos);
  // Too large, announced or sent in chunks; a body anywhere else; POST elsewhere.
  const std::string big(design::Limits::kMaxJsonBytes + 1, ' ');
  EXPECT_TRUE(exchange(server.port(), post("/design.png", big)).starts_with("HTTP/1.1 413"));
  std::snprintf(chunk, sizeof chunk, "%zx\r\n", big.size());
  EXPECT_TRUE(exchange(server.port(), "POST /design.png HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n" +
                                          std::string(chunk) + big + "\r\n0\r\n\r\n")
                  .starts_with("HTTP/1.1 413"));
  EXPECT_TRUE(exchange(server.port(), post("/healthz", "{}")).starts_with("HTTP/1.1 413"));
  EXPECT_TRUE(exchange(server.port(), "GET /design.png?t=ab HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n\r\n{}")
                  .starts_with("HTTP/1.1 413"));
  EXPECT_TRUE(exchange(server.port(), post("/aosbegin.php", "", "Connection: close\r\n")).starts_with("HTTP/1.1 405"));
  reply = exchange(server.port(), post("/design.png", "{\"width\":5}", "Connection: close\r\n"));
  EXPECT_TRUE(reply.starts_with("HTTP/1.1 400")) << reply.substr(0, 200);
  EXPECT_NE(reply.find("\"field\":\"width\""), std::string::npos);
  server.stop();
  thread.join();
}

}  // namespace
}  // namespace tambrel
