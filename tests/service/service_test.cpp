// Request handling without the network: parameter rules, the bad-input table, picture paths,
// thumbnails and caching.
#include <gtest/gtest.h>

#include "draw/render.h"
#include "stamps/stamp_service.h"
#include "test_support.h"
#include "text/text.h"
#include "web/site.h"

namespace tambrel {
namespace {

using testing_support::fonts;

TEST(SignSize, Rules) {
  struct Case {
    const char* raw;
    int size;
  } cases[] = {
      {"0", 0},       {"", 0},        {"abc", 0},     {"3.5", 0},    {"300", 300},    {"64", 64},
      {"63", 64},     {"1", 64},      {"-5", 64},     {"2048", 2048}, {"2049", 2048},
      {"99999999999999999999", 2048}, {"%33%30%30", 300}, {" 500 ", 500},
  };
  for (const Case& c : cases) EXPECT_EQ(normaliseSignSize(c.raw), c.size) << "signsize=" << c.raw;
}

class ServiceTest : public ::testing::Test {
 protected:
  ServiceTest() : service_(Catalog::builtIn(), fonts(), options()) {}
  static ServiceOptions options() {
    ServiceOptions o;
    o.pairKey = "TambrelSealKey2026";
    o.replyKey = "ReplyKeyForTests-2026";
    o.cacheBytes = 8u << 20;
    return o;
  }
  static std::string picturePath(const Response& r) {
    const std::string& body = *r.body;
    size_t a = body.find("<outputimg>.");
    size_t b = body.find("</outputimg>");
    if (a == std::string::npos || b == std::string::npos) return {};
    return body.substr(a + 12, b - a - 12);
  }
  StampService service_;
  Site site_{service_, WebOptions{}};  // the page and /download in front of the stamp endpoints
};

TEST_F(ServiceTest, GenerationRepliesWithSelfDescribingAsciiPath) {
  struct Case {
    std::string query;
    std::string path;
  } cases[] = {
      {"text=%E5%BC%A0%E4%B8%89&id=368&signsize=0&rnd=0.3", "/stamp/368/0/%E5%BC%A0%E4%B8%89.png"},
      {"text=\xE5\xBC\xA0\xE4\xB8\x89&id=368&signsize=0&rnd=1", "/stamp/368/0/%E5%BC%A0%E4%B8%89.png"},  // raw UTF-8
      {"text=\xD5\xC5\xC8\xFD&id=368&signsize=&rnd=0.1", "/stamp/368/0/%E5%BC%A0%E4%B8%89.png"},        // raw GBK
      {"text=%D5%C5%C8%FD&id=368&signsize=abc&rnd=0.5", "/stamp/368/0/%E5%BC%A0%E4%B8%89.png"},         // escaped GBK
      {"text=Tambrel&id=369&signsize=0&rnd=0.3", "/stamp/369/0/Tambrel.png"},
      {"text=AB&id=368&signsize=300&rnd=0.2", "/stamp/368/300/AB.png"},
      {"text=AB&id=368&signsize=99999999999&rnd=0.2", "/stamp/368/2048/AB.png"},
      {"text=AB&id=368&signsize=-5&rnd=0.2", "/stamp/368/64/AB.png"},
      {"text=%20%20AB%E3%80%80&id=368", "/stamp/368/0/AB.png"},  // spaces trimmed, no signsize
      {"text=A&B&id=368&signsize=0&rnd=0.4", "/stamp/368/0/A%26B.png"},  // unencoded '&' in the text
      {"id=368&signsize=0&text=AB&rnd=0.4", "/stamp/368/0/AB.png"},      // any order
      // Two Latin letters share a cell: the desktop tool's default text fits its first template.
      {"text=Tambrel&id=368&signsize=0&rnd=0.3", "/stamp/368/0/Tambrel.png"},
      {"text=ABCDEFGH&id=366", "/stamp/366/0/ABCDEFGH.png"},                        // 8 letters, 4 cells
      {"text=%E5%BC%A0%E4%B8%89Ab&id=368", "/stamp/368/0/%E5%BC%A0%E4%B8%89Ab.png"},  // 张三Ab: 3 cells
      {"text=Li Wu&id=368", "/stamp/368/0/Li%20Wu.png"},                           // 3 cells
      {"text=Tambre&id=356", "/stamp/356/0/Tambre.png"},                           // 3 cells, 3-cell seal
      {"text=AB&id=124", "/stamp/124/0/AB.png"},                                   // one cloud each
      {"text=Tamb&id=124", "/stamp/124/0/Tamb.png"},
  };
  for (const Case& c : cases) {
    Response r = service_.handle("GET", "/aosbegin.php?" + c.query);
    EXPECT_EQ(r.status, 200) << c.query << "\n" << *r.body;
    EXPECT_EQ(picturePath(r), c.path) << c.query;
  }
}

TEST_F(ServiceTest, BadInputIsRejectedWithoutPicturePath) {
  std::string longText(10000, 'A');
  std::string rawLongText;
  for (int i = 0; i < 1000; ++i) rawLongText += "\xE5\xAD\x97";
  struct Case {
    std::string target;
    int status;
  } cases[] = {
      {"/aosbegin.php?id=368&signsize=0&rnd=0.1", 400},                       // missing text
      {"/aosbegin.php?text=AB&signsize=0&rnd=0.1", 400},                      // missing id
      {"/aosbegin.php", 400},                                                 // nothing
      {"/aosbegin.php?text=AB&text=CD&id=368", 400},                          // repeated text
      {"/aosbegin.php?text=AB&id=368&id=369", 400},                           // repeated id
      {"/aosbegin.php?text=AB&id=368&signsize=1&signsize=2", 400},            // repeated size
      {"/aosbegin.php?text=AB&id=368&rnd=1&rnd=2", 400},                      // repeated rnd
      {"/aosbegin.php?text=A&id=368", 400},                                   // one character
      {"/aosbegin.php?text=%20A%20&id=368", 400},                             // one after trimming
      {"/aosbegin.php?text=ABCDEFGHI&id=368", 400},                           // 5 cells in a 4-cell seal
      {"/aosbegin.php?text=%E5%AD%97%E5%AD%97%E5%AD%97%E5%AD%97%E5%AD%97&id=368", 400},  // 5 CJK characters
      {"/aosbegin.php?text=%E5%AD%97%E5%AD%97%E5%AD%97%E5%AD%97A&id=368", 400},  // 4 + half a cell
      {"/aosbegin.php?text=A%E5%AD%97B%E5%AD%97%E5%AD%97&id=368", 400},  // runs round up: 5 cells
      {"/aosbegin.php?text=Tambrel&id=356", 400},                             // 4 cells in a 3-cell seal
      {"/aosbegin.php?text=Tambrel&id=124", 400},                             // 4 cells, two clouds
      {"/aosbegin.php?text=A&id=124", 400},                                   // one letter is not a name
      {"/aosbegin.php?text=" + longText + "&id=369", 414},                    // 10,000 characters
      {"/aosbegin.php?text=" + rawLongText + "&id=369", 400},                 // 1,000 under the limit
      {"/aosbegin.php?text=%FF%FE%FD&id=368", 400},                           // neither UTF-8 nor GBK
      {"/aosbegin.php?text=A%00B&id=368", 400},                               // NUL byte
      {"/aosbegin.php?text=A%0AB&id=368", 400},                               // line feed
      {"/aosbegin.php?text=A%C2%85B&id=368", 400},                            // C1 control
      {"/aosbegin.php?text=AB&id=999", 400},                                  // unknown id
      {"/aosbegin.php?text=AB&id=360", 400},                                  // a gap in the ids
      {"/aosbegin.php?text=AB&id=abc", 400},                                  // not a number
      {"/aosbegin.php?text=AB&id=-368", 400},
      {"/aosbegin.php?text=AB&id=", 400},
  };
  for (const Case& c : cases) {
    Response r = service_.handle("GET", c.target);
    EXPECT_EQ(r.status, c.status) << c.target.substr(0, 120);
    EXPECT_EQ(r.body->find("<outputimg>"), std::string::npos) << c.target.substr(0, 120);
    if (c.status == 400) {
      EXPECT_NE(r.body->find("<error>"), std::string::npos) << c.target.substr(0, 120);
    }
  }
}

// The line after '|' of a template with a line under the star has a capacity of its own: an
// unbounded one made a picture's cost (and its path's length) grow without limit. Within it
// the picture renders; past it the answer is 400 before any drawing.
TEST_F(ServiceTest, LineAfterBarIsBoundedLikeTheName) {
  auto cjk = [](int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += "%E5%AD%97";
    return s;
  };
  auto rawCjk = [](int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += "\xE5\xAD\x97";
    return s;
  };
  struct Case {
    std::string text;
    int id;
    int status;
  } cases[] = {
      {cjk(22) + "%7C" + cjk(kMaxLineCells), 364, 200},      // a full ring and a full line
      {cjk(4) + "%7C" + std::string(2 * kMaxLineCells, 'A'), 364, 200},  // Latin: two a cell
      {cjk(4) + "%7C" + cjk(kMaxLineCells + 1), 364, 400},
      {cjk(4) + "%7C" + std::string(2 * kMaxLineCells + 1, 'A'), 364, 400},
      {cjk(22) + "|" + rawCjk(1250), 364, 400},                 // the 2.8 MB SVG of old
      {cjk(4) + "%7C" + cjk(kMaxLineCells + 1), 359, 400},      // oval with a line
      {cjk(2) + "%7C" + cjk(1), 368, 200},                      // no line here: '|' takes a half cell
      {cjk(3) + "%7C" + cjk(1), 368, 400},
  };
  for (const Case& c : cases) {
    std::string target = "/aosbegin.php?text=" + c.text + "&id=" + std::to_string(c.id);
    Response r = service_.handle("GET", target);
    EXPECT_EQ(r.status, c.status) << target.substr(0, 160) << "\n" << *r.body;
    if (c.status == 400 && c.id != 368) {
      EXPECT_NE(r.body->find("at most"), std::string::npos) << *r.body;
    }
  }
}

// Whatever text the generation request accepts, the path it answers with is one the service
// then serves (through the same front door as any request): texts with dots, slashes and
// backslashes, and the longest text of the largest template.
TEST_F(ServiceTest, GenerationOnlyAnswersPathsItServes) {
  std::string longest;
  for (int i = 0; i < 32; ++i) longest += "%E5%AD%97";
  std::string longestLine = longest.substr(0, 22 * 9) + "%7C" + longest.substr(0, kMaxLineCells * 9);
  struct Case {
    std::string text;
    int id;
  } cases[] = {
      {"A..B", 368}, {"..", 368}, {"A%5CB", 368}, {"..%5Cx", 368}, {"..%2Fx", 368}, {"%2F%2F", 368},
      {"A%2F..%2FB", 369}, {"%2E%2E%2F%2E%2E", 368}, {"%25%3F%23", 368}, {longestLine, 364},
  };
  int longestId = 0, mostChars = 0;
  for (const Template& t : Catalog::builtIn().all())
    if (t.style.maxChars > mostChars) mostChars = t.style.maxChars, longestId = t.id;
  std::string most;
  for (int i = 0; i < mostChars; ++i) most += "%E5%AD%97";
  std::vector<Case> all(std::begin(cases), std::end(cases));
  all.push_back({most, longestId});
  for (const Case& c : all) {
    Response gen = site_.handle("GET", "/aosbegin.php?text=" + c.text + "&id=" + std::to_string(c.id));
    ASSERT_EQ(gen.status, 200) << c.text << ": " << *gen.body;
    size_t a = gen.body->find("<outputimg>.") + 12, b = gen.body->find("</outputimg>");
    std::string path = gen.body->substr(a, b - a);
    EXPECT_LE(path.size() + 64, 4096u) << path;
    for (const StampFormat& f : kStampFormats) {
      std::string target = path.substr(0, path.size() - 3) + std::string(f.extension);
      Response picture = site_.handle("GET", target);
      EXPECT_EQ(picture.status, 200) << c.text << " -> " << target << ": " << (picture.body ? *picture.body : "");
    }
  }
}

TEST_F(ServiceTest, PathsAndMethods) {
  struct Case {
    std::string method;
    std::string target;
    int status;
  } cases[] = {
      {"GET", "/", 200},
      {"GET", "/download", 200},
      {"GET", "/healthz", 200},
      {"HEAD", "/healthz", 200},
      {"GET", "/nothing", 404},
      {"POST", "/aosbegin.php?text=AB&id=368", 405},
      {"DELETE", "/", 405},
      {"GET", "/maker/thumbnails/../../etc/passwd", 400},
      {"GET", "/maker/thumbnails/%2e%2e/%2e%2e/etc/passwd", 400},
      {"GET", "/maker/thumbnails/%2E%2E", 400},
      {"GET", "/maker/thumbnails/a\\..\\b.png", 400},  // a raw backslash is never a real client's
      // An encoded '/' is data inside its segment, not a separator: no file is named by it, and
      // a stamp text may hold one ("../../x" is a text the generation request accepts).
      {"GET", "/maker/thumbnails/%2E%2E%2Fstyles.txt", 404},
      {"GET", "/stamp/368/0/..%2F..%2Fx.png", 200},
      {"GET", "/stamp/368/0/A..B.png", 200},
      {"GET", "/stamp/368/0/A%5CB.png", 200},
      {"GET", "/maker/thumbnails/nothing.png", 404},
      {"GET", "/maker/thumbnails/", 404},
      {"GET", "/maker/thumbnails/C_1350448345617.bmp", 404},
      {"GET", "/aosbegin.php?text=AB&id=368&x=" + std::string(5000, 'a'), 414},
      {"GET", "relative", 400},
      {"GET", "/stamp/368/0/AB.png", 200},
      {"GET", "/stamp/368/300/AB.png", 200},
      {"GET", "/stamp/368/5/AB.png", 404},       // sizes this service never hands out
      {"GET", "/stamp/368/9999/AB.png", 404},
      {"GET", "/stamp/368/-1/AB.png", 404},
      {"GET", "/stamp/368/+300/AB.png", 404},
      {"GET", "/stamp/999/0/AB.png", 404},
      {"GET", "/stamp/368/0/AB.gif", 404},
      {"GET", "/stamp/368/0/x/AB.png", 404},
      {"GET", "/stamp/368/0/A.png", 400},
      {"GET", "/stamp/368/0/A%00B.png", 400},
      {"GET", "/stamp/368/0/AB.svg", 200},
      {"HEAD", "/stamp/368/300/AB.pdf", 200},
      {"GET", "/stamp/368/5/AB.svg", 404},
      {"GET", "/stamp/368/0/AB.svgz", 404},
      {"GET", "/stamp/368/0/AB.SVG", 404},
      {"GET", "/stamp/368/0/.pdf", 400},
      {"GET", "/stamp/368/0/A.pdf", 400},
  };
  for (const Case& c : cases) {
    Response r = site_.handle(c.method, c.target);
    EXPECT_EQ(r.status, c.status) << c.method << " " << c.target.substr(0, 100);
  }
}

TEST_F(ServiceTest, StampPictureIsCachedImmutablePng) {
  Response gen = service_.handle("GET", "/aosbegin.php?text=%E5%BC%A0%E4%B8%89&id=365&signsize=400&rnd=0.1");
  ASSERT_EQ(gen.status, 200);
  const std::string path = picturePath(gen);
  size_t entries = service_.cache().entries();
  EXPECT_GE(entries, 1u);
  Response pic = service_.handle("GET", path);
  ASSERT_EQ(pic.status, 200);
  EXPECT_EQ(pic.contentType, "image/png");
  ASSERT_GT(pic.body->size(), 8u);
  EXPECT_EQ(pic.body->substr(0, 8), "\x89PNG\r\n\x1a\n");
  bool immutable = false;
  for (auto& [k, v] : pic.headers)
    if (k == "Cache-Control") immutable = v == "public, max-age=31536000, immutable";
  EXPECT_TRUE(immutable);
  EXPECT_EQ(service_.cache().entries(), entries) << "the fetch after generation must be a cache hit";
  // A fresh instance (no shared state) renders the same path to the same bytes.
  StampService other(Catalog::builtIn(), fonts(), options());
  Response again = other.handle("GET", path);
  ASSERT_EQ(again.status, 200);
  EXPECT_EQ(*again.body, *pic.body);
}

TEST_F(ServiceTest, EveryFormatIsServedImmutableThroughTheCache) {
  const std::string stem = "/stamp/365/300/%E5%A4%A9%E5%AE%9D%E5%8D%B0%E7%AB%A0.";
  for (const StampFormat& f : kStampFormats) {
    const std::string path = stem + std::string(f.extension);
    const size_t before = service_.cache().entries();
    Response r = service_.handle("GET", path);
    ASSERT_EQ(r.status, 200) << path;
    EXPECT_EQ(r.contentType, f.contentType) << path;
    const std::string magic = std::string_view(f.extension) == "png"   ? "\x89PNG"
                              : std::string_view(f.extension) == "svg" ? "<?xml"
                                                                       : "%PDF-";
    EXPECT_EQ(r.body->substr(0, magic.size()), magic) << path;
    bool immutable = false;
    for (auto& [k, v] : r.headers)
      if (k == "Cache-Control") immutable = v == "public, max-age=31536000, immutable";
    EXPECT_TRUE(immutable) << path;
    EXPECT_EQ(service_.cache().entries(), before + 1) << path;
    Response head = service_.handle("HEAD", path);
    EXPECT_EQ(head.status, 200) << path;
    EXPECT_EQ(head.contentType, f.contentType) << path;
    EXPECT_EQ(head.body, r.body) << path << ": HEAD is answered from the cache";
    EXPECT_EQ(service_.cache().entries(), before + 1) << path;
  }
  // The vectors are the seal's real size whatever the pixel size in the path.
  EXPECT_EQ(*service_.handle("GET", stem + "svg").body,
            *service_.handle("GET", "/stamp/365/1000/%E5%A4%A9%E5%AE%9D%E5%8D%B0%E7%AB%A0.svg").body);
  // The generation reply keeps naming the PNG, and the web page learns every format.
  Response gen = service_.handle("GET", "/aosbegin.php?text=%E5%A4%A9%E5%AE%9D&id=365&signsize=300");
  EXPECT_TRUE(picturePath(gen).ends_with(".png")) << *gen.body;
  EXPECT_TRUE(site_.handle("GET", "/templates.json").body->starts_with("{\"formats\":[\"png\",\"svg\",\"pdf\"]"));
}

// pHYs of a PNG in pixels per metre, 0 when it has none.
uint32_t pixelsPerMetre(const std::string& png) {
  size_t at = png.find("pHYs");
  if (at == std::string::npos || at + 13 > png.size()) return 0;
  auto u32 = [&](size_t i) {
    return static_cast<uint32_t>(static_cast<unsigned char>(png[i])) << 24 |
           static_cast<uint32_t>(static_cast<unsigned char>(png[i + 1])) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(png[i + 2])) << 8 | static_cast<unsigned char>(png[i + 3]);
  };
  EXPECT_EQ(png[at + 12], 1) << "unit: metre";
  EXPECT_EQ(u32(at + 4), u32(at + 8)) << "square pixels";
  return u32(at + 4);
}

TEST_F(ServiceTest, PngPrintsAtTheSealsRealSizeWhateverItsPixels) {
  // The picture adds 0.5 mm on each side of the seal; its longer side keeps the pixel size, so
  // the seal fills one direction exactly and the other with room to spare.
  for (int id : {365, 359, 362, 361, 356, 124}) {
    const SealSizeMm seal = sealSizeMm(testing_support::templ(id).style.shape);
    for (int px : {0, 300, 1000, 2048}) {
      Response r = service_.handle("GET", "/stamp/" + std::to_string(id) + "/" + std::to_string(px) + "/AB.png");
      ASSERT_EQ(r.status, 200) << id << " " << px;
      const std::string& b = *r.body;
      const uint32_t w = (static_cast<unsigned char>(b[18]) << 8) | static_cast<unsigned char>(b[19]);
      const uint32_t h = (static_cast<unsigned char>(b[22]) << 8) | static_cast<unsigned char>(b[23]);
      const uint32_t ppm = pixelsPerMetre(b);
      ASSERT_GT(ppm, 0u) << id << " " << px;
      const double roomW = w * 1000.0 / ppm - (seal.width + 1), roomH = h * 1000.0 / ppm - (seal.height + 1);
      EXPECT_NEAR(std::min(roomW, roomH), 0, 0.1) << id << " at " << px << " px";
      EXPECT_GE(std::max(roomW, roomH), -0.1) << id << " at " << px << " px";
    }
  }
  // Thumbnails stay as the desktop tool has always received them.
  for (const Template& t : Catalog::builtIn().all())
    if (t.thumbnail.ends_with(".png")) {
      EXPECT_EQ(pixelsPerMetre(*service_.handle("GET", "/maker/thumbnails/" + t.thumbnail).body), 0u) << t.thumbnail;
      break;
    }
}

TEST_F(ServiceTest, EveryThumbnailRendersInItsFormatWithinPreviewSize) {
  for (const Template& t : Catalog::builtIn().all()) {
    Response r = service_.handle("GET", "/maker/thumbnails/" + t.thumbnail);
    ASSERT_EQ(r.status, 200) << t.thumbnail;
    const std::string& b = *r.body;
    int w = 0, h = 0;
    if (t.thumbnail.ends_with(".png")) {
      ASSERT_EQ(b.substr(1, 3), "PNG") << t.thumbnail;
      w = (static_cast<unsigned char>(b[18]) << 8) | static_cast<unsigned char>(b[19]);
      h = (static_cast<unsigned char>(b[22]) << 8) | static_cast<unsigned char>(b[23]);
    } else if (t.thumbnail.ends_with(".gif")) {
      ASSERT_EQ(b.substr(0, 3), "GIF") << t.thumbnail;
      w = static_cast<unsigned char>(b[6]) | (static_cast<unsigned char>(b[7]) << 8);
      h = static_cast<unsigned char>(b[8]) | (static_cast<unsigned char>(b[9]) << 8);
    } else {
      ASSERT_EQ(b.substr(0, 2), "\xFF\xD8") << t.thumbnail;
      w = h = 1;  // size checked through the renderer below
    }
    EXPECT_LE(w, kThumbnailMax) << t.thumbnail;
    EXPECT_LE(h, kThumbnailMax) << t.thumbnail;
    EXPECT_GT(w, 0) << t.thumbnail;
  }
}

TEST_F(ServiceTest, CacheStaysWithinItsCapAndRendersAgainAfterEviction) {
  ServiceOptions o = options();
  o.cacheBytes = 200 * 1024;
  StampService small(Catalog::builtIn(), fonts(), o);
  Response first = small.handle("GET", "/stamp/369/600/%E5%A4%A9%E5%AE%9D%E5%8D%B0%E7%AB%A0.png");
  ASSERT_EQ(first.status, 200);
  for (int size = 500; size < 1000; size += 20) {
    Response r = small.handle("GET", "/stamp/369/" + std::to_string(size) + "/ABCD.png");
    ASSERT_EQ(r.status, 200);
    EXPECT_LE(small.cache().bytes(), o.cacheBytes);
  }
  Response again = small.handle("GET", "/stamp/369/600/%E5%A4%A9%E5%AE%9D%E5%8D%B0%E7%AB%A0.png");
  ASSERT_EQ(again.status, 200);
  EXPECT_EQ(*again.body, *first.body);
}

}  // namespace
}  // namespace tambrel
