// The web face without the network: the catalogue as JSON, escaping, validators and /download
// with and without the operator's folder.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "test_support.h"
#include "web/web_pages.h"

namespace tambrel {
namespace {

std::string header(const Response& r, std::string_view name) {
  for (const auto& [k, v] : r.headers)
    if (k == name) return v;
  return {};
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
  EXPECT_TRUE(json.starts_with("{\"formats\":[\"png\",\"svg\",\"pdf\"],\"minChars\":2,\"minSize\":64,\"maxSize\":2048,\"templates\":["))
      << json.substr(0, 120);
  size_t at = 0, count = 0;
  for (const Template& t : catalog.all()) {
    std::string record = "{\"id\":" + std::to_string(t.id) + ",\"title\":" + jsonString(t.title) +
                         ",\"thumbnail\":" + jsonString(t.thumbnail) +
                         ",\"capacity\":" + std::to_string(t.style.maxChars) + "}";
    size_t found = json.find(record, at);
    ASSERT_NE(found, std::string::npos) << record;
    at = found + record.size();
    ++count;
  }
  EXPECT_EQ(count, 281u);
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

}  // namespace
}  // namespace tambrel
