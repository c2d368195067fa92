// The web face without the network: the catalogue as JSON, escaping, validators and /download
// with and without the operator's folder.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "test_support.h"
#include "web/glyph_check.h"
#include "web/site.h"
#include "web/web_pages.h"

namespace tambrel {
namespace {

std::string header(const Response& r, std::string_view name) {
  for (const auto& [k, v] : r.headers)
    if (k == name) return v;
  return {};
}

std::string gunzip(const std::string& packed) {
  z_stream z{};
  if (inflateInit2(&z, 15 + 16) != Z_OK) return {};
  std::string out(1 << 20, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
  z.avail_in = static_cast<uInt>(packed.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  int rc = inflate(&z, Z_FINISH);
  out.resize(z.total_out);
  inflateEnd(&z);
  return rc == Z_STREAM_END ? out : std::string("(not gzip)");
}

// Width and height from a PNG's header.
std::pair<int, int> pngSize(const std::string& png) {
  auto at = [&](size_t i) {
    return (static_cast<unsigned char>(png[i]) << 24) | (static_cast<unsigned char>(png[i + 1]) << 16) |
           (static_cast<unsigned char>(png[i + 2]) << 8) | static_cast<unsigned char>(png[i + 3]);
  };
  return png.size() > 24 ? std::pair<int, int>{at(16), at(20)} : std::pair<int, int>{0, 0};
}

// A folder removed at the end of the test.
struct TempDir {
  TempDir() {
    char pattern[] = "/tmp/stampd-web-XXXXXX";
    path = mkdtemp(pattern);
  }
  ~TempDir() { std::filesystem::remove_all(path); }
  void write(const std::string& name, const std::string& bytes) const {
    std::ofstream(path / name, std::ios::binary) << bytes;
  }
  std::filesystem::path path;
};

TEST(WebText, Escaping) {
  EXPECT_EQ(htmlEscape("<img src=x onerror=\"a('1')\">&"), "&lt;img src=x onerror=&quot;a(&#39;1&#39;)&quot;&gt;&amp;");
  EXPECT_EQ(jsonString("a\"b\\c\n\x01</script>"), "\"a\\\"b\\\\c\\u000a\\u0001\\u003c/script\\u003e\"");
  EXPECT_EQ(jsonString("张三"), "\"张三\"");
}

TEST(WebValidators, IfNoneMatchTable) {
  const std::string tag = etagOf("body");
  EXPECT_EQ(tag, etagOf("body"));
  EXPECT_NE(tag, etagOf("body2"));
  EXPECT_EQ(tag.size(), 18u);
  struct Case {
    std::string ifNoneMatch;
    bool match;
  } cases[] = {
      {tag, true},
      {"W/" + tag, true},
      {"\"other\", " + tag, true},
      {"\"other\"," + tag + ",\"x\"", true},
      {"*", true},
      {"\"other\"", false},
      {"", false},
      {tag.substr(1, tag.size() - 2), false},  // unquoted
      {tag.substr(0, tag.size() - 1), false},  // unterminated
      {"\"other\" garbage " + tag, false},
  };
  for (const Case& c : cases) EXPECT_EQ(etagMatches(c.ifNoneMatch, tag), c.match) << "If-None-Match: " << c.ifNoneMatch;
}

TEST(WebValidators, OnlyAnswersWithTheirETagBecome304) {
  WebPages pages(Catalog::builtIn(), {});
  Response page = *pages.handle("/");
  const std::string tag = header(page, "ETag");
  Response same = page;
  applyConditional(same, tag);
  EXPECT_EQ(same.status, 304);
  EXPECT_FALSE(same.body);
  Response changed = page;
  applyConditional(changed, "\"0000000000000000\"");
  EXPECT_EQ(changed.status, 200);
  Response error;
  error.status = 404;
  error.headers.emplace_back("ETag", tag);
  applyConditional(error, tag);
  EXPECT_EQ(error.status, 404);
}

TEST(WebPagesTest, TemplatesJsonListsTheCatalogueInDisplayOrder) {
  const Catalog& catalog = Catalog::builtIn();
  std::string json = templatesJson(catalog);
  EXPECT_TRUE(json.starts_with("{\"formats\":[\"png\",\"svg\",\"pdf\"],\"minChars\":2,\"minSize\":64,\"maxSize\":2048,"
                              "\"thumbnailSmall\":128,\"thumbnailVersion\":\"\",\"downloads\":false,\"templates\":["))
      << json.substr(0, 160);
  EXPECT_NE(templatesJson(catalog, {"abc", true}).find("\"thumbnailVersion\":\"abc\",\"downloads\":true,"), std::string::npos);
  size_t at = 0, count = 0, lines = 0;
  for (const Template& t : catalog.all()) {
    // A template whose line under the star the text may replace ("name|line") says so.
    const bool line = t.style.bottom == Bottom::Text;
    lines += line;
    std::string record = "{\"id\":" + std::to_string(t.id) + ",\"title\":" + jsonString(t.title) +
                         ",\"thumbnail\":" + jsonString(t.thumbnail) +
                         ",\"capacity\":" + std::to_string(t.style.maxChars) + (line ? ",\"line\":true}" : "}");
    size_t found = json.find(record, at);
    ASSERT_NE(found, std::string::npos) << record;
    at = found + record.size();
    ++count;
  }
  EXPECT_EQ(count, 281u);
  EXPECT_GT(lines, 0u);
  EXPECT_NE(json.find("\"id\":368,\"title\":\"很酷的简约好看印章\",\"thumbnail\":\"C_1350448345617.png\",\"capacity\":4}"),
            std::string::npos);
}

TEST(WebPagesTest, PagesCarryPolicyTypeAndValidator) {
  WebPages pages(Catalog::builtIn(), {});
  struct Case {
    const char* path;
    const char* type;
  } cases[] = {
      {"/", "text/html; charset=utf-8"},
      {"/index.html", "text/html; charset=utf-8"},
      {"/maker.js", "text/javascript; charset=utf-8"},
      {"/maker.css", "text/css; charset=utf-8"},
      {"/templates.json", "application/json"},
      {"/download", "text/html; charset=utf-8"},
  };
  for (const Case& c : cases) {
    auto r = pages.handle(c.path);
    ASSERT_TRUE(r) << c.path;
    EXPECT_EQ(r->status, 200) << c.path;
    EXPECT_EQ(r->contentType, c.type) << c.path;
    EXPECT_TRUE(header(*r, "Content-Security-Policy").starts_with("default-src 'self';")) << c.path;
    EXPECT_EQ(header(*r, "ETag"), etagOf(*r->body)) << c.path;
  }
  EXPECT_NE(pages.handle("/")->body->find("合法用途"), std::string::npos);
  EXPECT_FALSE(pages.handle("/maker"));
  EXPECT_FALSE(pages.handle("/aosbegin.php"));
}

TEST(WebPagesTest, DownloadWithoutFolderSaysSo) {
  WebPages pages(Catalog::builtIn(), {});
  std::string page = *pages.handle("/download")->body;
  EXPECT_NE(page.find("没有提供安装包"), std::string::npos);
  EXPECT_EQ(page.find("/download/Tambrel"), std::string::npos);
  EXPECT_EQ(pages.handle("/download/Tambrel-1.0-setup.exe")->status, 404);
}

// A download's content: the file it streams, read here through its descriptor.
std::string content(const Response& r) {
  if (!r.file) return r.body ? *r.body : std::string();
  std::string out(r.file->size, '\0');
  if (pread(r.file->fd, out.data(), out.size(), 0) != static_cast<ssize_t>(out.size())) return "(short read)";
  return out;
}

TEST(WebPagesTest, DownloadOffersOnlyTheNamedFilesOfTheFolder) {
  TempDir dir;
  dir.write("Tambrel-2.0-setup.exe", "MZ-installer");
  dir.write("secret.txt", "not offered");
  WebPages pages(Catalog::builtIn(), {"2.0", dir.path.string()});
  std::string page = *pages.handle("/download")->body;
  EXPECT_NE(page.find("href=\"/download/Tambrel-2.0-setup.exe\""), std::string::npos);
  EXPECT_EQ(page.find("win64.zip"), std::string::npos) << "a missing file is not offered";
  EXPECT_EQ(page.find("没有提供安装包"), std::string::npos);

  auto exe = pages.handle("/download/Tambrel-2.0-setup.exe");
  ASSERT_EQ(exe->status, 200);
  EXPECT_EQ(exe->body, nullptr) << "sent from the file in pieces, not held in memory";
  EXPECT_EQ(content(*exe), "MZ-installer");
  EXPECT_EQ(header(*exe, "Content-Disposition"), "attachment; filename=\"Tambrel-2.0-setup.exe\"");
  const std::string tag = header(*exe, "ETag");
  // Replaced by the operator: new bytes and a new validator without a restart.
  dir.write("Tambrel-2.0-setup.exe", "MZ-installer, second build");
  auto again = pages.handle("/download/Tambrel-2.0-setup.exe");
  EXPECT_EQ(content(*again), "MZ-installer, second build");
  EXPECT_NE(header(*again, "ETag"), tag);

  for (const char* path : {"/download/secret.txt", "/download/Tambrel-2.0-win64.zip", "/download/",
                           "/download/../secret.txt", "/download/Tambrel-1.0-setup.exe"}) {
    auto r = pages.handle(path);
    ASSERT_TRUE(r) << path;
    if (std::string_view(path) == "/download/") continue;  // the page itself
    EXPECT_EQ(r->status, 404) << path;
  }
}

// An offered name that is a symlink (to a file outside the folder, or inside) or no regular
// file is neither listed nor served.
TEST(WebPagesTest, DownloadServesNoSymlinkOrSpecialFile) {
  TempDir dir, outside;
  outside.write("secret.txt", "outside the folder");
  std::filesystem::create_symlink(outside.path / "secret.txt", dir.path / "Tambrel-2.0-setup.exe");
  ASSERT_EQ(mkfifo((dir.path / "Tambrel-2.0-win64.zip").c_str(), 0644), 0);
  WebPages pages(Catalog::builtIn(), {"2.0", dir.path.string()});
  EXPECT_EQ(pages.handle("/download/Tambrel-2.0-setup.exe")->status, 404);
  EXPECT_EQ(pages.handle("/download/Tambrel-2.0-win64.zip")->status, 404);
  std::string page = *pages.handle("/download")->body;
  EXPECT_EQ(page.find("href=\"/download/Tambrel"), std::string::npos) << page;
}

TEST(WebPagesTest, VersionIsEscapedAndCannotNameAnotherFile) {
  TempDir dir;
  dir.write("Tambrel-x-setup.exe", "x");
  WebPages pages(Catalog::builtIn(), {"<b>1/../x</b>", dir.path.string()});
  std::string page = *pages.handle("/download")->body;
  EXPECT_NE(page.find("&lt;b&gt;1/../x&lt;/b&gt;"), std::string::npos);
  EXPECT_EQ(page.find("<b>"), std::string::npos);
  EXPECT_TRUE(pages.offeredNames().empty());
  EXPECT_NE(page.find("没有提供安装包"), std::string::npos);
}


TEST(WebCompression, AcceptEncodingTable) {
  struct Case {
    const char* header;
    bool gzip;
  } cases[] = {
      {"gzip", true},
      {"gzip, deflate, br", true},
      {"br;q=1.0, GZIP;q=0.5", true},
      {"x-gzip", true},
      {"*", true},
      {"deflate, br", false},
      {"", false},
      {"gzip;q=0", false},
      {"gzip; q=0.000", false},
      {"gzip;q=0.001", true},
      {"identity", false},
      {"gzipx", false},
  };
  for (const Case& c : cases) EXPECT_EQ(acceptsGzip(c.header), c.gzip) << "Accept-Encoding: " << c.header;
}

TEST(WebCompression, TextFilesGoGzippedToBrowsersThatAcceptIt) {
  WebPages pages(Catalog::builtIn(), {});
  for (const char* path : {"/", "/maker.js", "/maker.css", "/templates.json"}) {
    Response plain = *pages.handle(path);
    Response packed = *pages.handle(path, "gzip, deflate, br");
    EXPECT_EQ(header(plain, "Content-Encoding"), "") << path;
    EXPECT_EQ(header(packed, "Content-Encoding"), "gzip") << path;
    EXPECT_EQ(header(plain, "Vary"), "Accept-Encoding") << path;
    EXPECT_EQ(header(packed, "Vary"), "Accept-Encoding") << path;
    EXPECT_EQ(gunzip(*packed.body), *plain.body) << path;
    EXPECT_LT(packed.body->size(), plain.body->size() * 6 / 10) << path;
    // Each form its own validator, so a 304 always confirms the form the browser holds.
    EXPECT_EQ(header(packed, "ETag"), etagOf(*packed.body)) << path;
    EXPECT_NE(header(packed, "ETag"), header(plain, "ETag")) << path;
    EXPECT_EQ(pages.handle(path, "gzip;q=0")->body, plain.body) << path;
  }
}

TEST(WebPagesTest, CatalogueSaysWhetherThereIsSomethingToDownload) {
  TempDir dir;
  WebPages pages(Catalog::builtIn(), {"2.0", dir.path.string()});
  EXPECT_NE(pages.handle("/templates.json")->body->find("\"downloads\":false"), std::string::npos);
  dir.write("Tambrel-2.0-win64.zip", "PK");
  EXPECT_NE(pages.handle("/templates.json")->body->find("\"downloads\":true"), std::string::npos);
  WebPages none(Catalog::builtIn(), {});
  EXPECT_NE(none.handle("/templates.json")->body->find("\"downloads\":false"), std::string::npos);
}

TEST(GlyphCheckTest, NamesWhatNoFaceHasOnceInOrder) {
  GlyphCheck check(testing_support::fonts());
  EXPECT_EQ(check.missing(U"张三 Tambrel 公司（）|合同专用章"), U"");
  EXPECT_EQ(check.missing(U"😀公司😀🎉"), U"😀🎉");
  EXPECT_EQ(check.missing(U"\U000F0000印"), U"\U000F0000");  // a private-use character no face has

  Response ok = check.answer("text=%F0%9F%98%80%E5%85%AC%E5%8F%B8");
  EXPECT_EQ(ok.status, 200);
  EXPECT_EQ(ok.contentType, "application/json");
  EXPECT_EQ(*ok.body, "{\"missing\":[\"😀\"]}\n");
  EXPECT_EQ(*check.answer("text=%E5%BC%A0%E4%B8%89").body, "{\"missing\":[]}\n");
  EXPECT_EQ(*check.answer("").body, "{\"missing\":[]}\n");
  EXPECT_EQ(check.answer("text=%FF%FE").status, 400);
  EXPECT_EQ(check.answer("text=" + std::string(GlyphCheck::kMaxCharacters + 1, 'a')).status, 400);
}

class SiteTest : public ::testing::Test {
 protected:
  StampService stamps{Catalog::builtIn(), testing_support::fonts(), {}};
  Site site{stamps, {}};
};

TEST_F(SiteTest, ThumbnailsAtTheSmallSizeAndKeptAYearUnderThisBuildsVersion) {
  const std::string file = "/maker/thumbnails/C_1350448345617.png";
  const std::string small = "/maker/thumbnails/128/C_1350448345617.png";
  ASSERT_EQ(site.thumbnailVersion().size(), 16u);
  Response full = site.handle("GET", file);
  Response little = site.handle("GET", small + "?v=" + site.thumbnailVersion());
  ASSERT_EQ(full.status, 200);
  ASSERT_EQ(little.status, 200);
  auto [w, h] = pngSize(*little.body);
  EXPECT_EQ(std::max(w, h), 128);
  EXPECT_GT(std::max(pngSize(*full.body).first, pngSize(*full.body).second), 128);
  EXPECT_EQ(header(little, "Cache-Control"), "public, max-age=31536000, immutable");
  EXPECT_EQ(header(full, "Cache-Control"), "public, max-age=86400");
  EXPECT_EQ(header(site.handle("GET", small + "?v=0000000000000000"), "Cache-Control"), "public, max-age=86400");
  // Only the one smaller size is drawn.
  EXPECT_EQ(site.handle("GET", "/maker/thumbnails/64/C_1350448345617.png").status, 404);
  EXPECT_EQ(site.handle("GET", "/maker/thumbnails/128/nothing.png").status, 404);
  // The catalogue names the version the page must ask with.
  EXPECT_NE(site.handle("GET", "/templates.json").body->find("\"thumbnailVersion\":\"" + site.thumbnailVersion() + "\""),
            std::string::npos);
}

TEST_F(SiteTest, IconGlyphsAndCompressionThroughTheFrontDoor) {
  Response icon = site.handle("GET", "/favicon.ico");
  ASSERT_EQ(icon.status, 200);
  EXPECT_EQ(icon.contentType, "image/png");
  EXPECT_EQ(pngSize(*icon.body), (std::pair<int, int>{64, 64}));
  EXPECT_EQ(*site.handle("GET", "/glyphs?text=%F0%9F%98%80").body, "{\"missing\":[\"😀\"]}\n");
  EXPECT_EQ(header(site.handle("GET", "/maker.js", RequestHeaders{"gzip"}), "Content-Encoding"), "gzip");
  EXPECT_EQ(header(site.handle("GET", "/maker.js"), "Content-Encoding"), "");
}

}  // namespace
}  // namespace tambrel
