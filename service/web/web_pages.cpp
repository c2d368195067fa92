// The service's web face; see web_pages.h.
#include "web/web_pages.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <zlib.h>

#include "text/text.h"
#include "web/web_assets.h"

namespace tambrel {
namespace {

// Scripts, styles, pictures and requests from the page's own origin only; no inline code, no
// plugins, no framing.
constexpr char kContentSecurityPolicy[] =
    "default-src 'self'; img-src 'self'; object-src 'none'; base-uri 'none'; form-action 'self'; "
    "frame-ancestors 'none'";

// Larger files are not what /download is for; refusing them keeps a misconfigured folder from
// filling the memory.
constexpr std::uintmax_t kMaxDownloadBytes = 512u << 20;

void addPageHeaders(Response& r) {
  r.headers.emplace_back("Content-Security-Policy", kContentSecurityPolicy);
  r.headers.emplace_back("X-Content-Type-Options", "nosniff");
  r.headers.emplace_back("Referrer-Policy", "no-referrer");
}

// Small answers a browser keeps and revalidates on every use: the ETag makes that a 304.
Response cacheable(std::string contentType, std::string body) {
  Response r;
  r.contentType = std::move(contentType);
  addPageHeaders(r);
  r.headers.emplace_back("Cache-Control", "no-cache");
  r.headers.emplace_back("ETag", etagOf(body));
  r.body = std::make_shared<const std::string>(std::move(body));
  return r;
}

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string humanSize(std::uintmax_t bytes) {
  char buf[32];
  if (bytes >= (1u << 20))
    std::snprintf(buf, sizeof buf, "%.1f MB", static_cast<double>(bytes) / (1u << 20));
  else
    std::snprintf(buf, sizeof buf, "%.0f KB", static_cast<double>(bytes) / 1024 + 0.5);
  return buf;
}

}  // namespace

// Files offered for download are opened on each request, so an operator can replace them
// without restarting the service.
struct WebPages::FileCache {};

std::string htmlEscape(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string jsonString(std::string_view s) { return text::jsonString(s); }

std::string etagOf(std::string_view bytes) {
  std::uint64_t h = 14695981039346656037ull;
  for (unsigned char c : bytes) {
    h ^= c;
    h *= 1099511628211ull;
  }
  char buf[24];
  std::snprintf(buf, sizeof buf, "\"%016" PRIx64 "\"", h);
  return buf;
}

bool etagMatches(std::string_view ifNoneMatch, std::string_view etag) {
  // If-None-Match compares weakly: W/"x" names "x".
  if (etag.starts_with("W/")) etag.remove_prefix(2);
  size_t i = 0;
  while (i < ifNoneMatch.size()) {
    while (i < ifNoneMatch.size() && (ifNoneMatch[i] == ' ' || ifNoneMatch[i] == '\t' || ifNoneMatch[i] == ','))
      ++i;
    if (i >= ifNoneMatch.size()) break;
    if (ifNoneMatch[i] == '*') return true;
    if (ifNoneMatch.substr(i).starts_with("W/")) i += 2;
    if (i >= ifNoneMatch.size() || ifNoneMatch[i] != '"') return false;  // malformed: no match
    size_t end = ifNoneMatch.find('"', i + 1);
    if (end == std::string_view::npos) return false;
    if (ifNoneMatch.substr(i, end - i + 1) == etag) return true;
    i = end + 1;
  }
  return false;
}

void applyConditional(Response& response, std::string_view ifNoneMatch) {
  if (response.status != 200 || ifNoneMatch.empty()) return;
  for (const auto& [name, value] : response.headers) {
    if (name == "ETag" && etagMatches(ifNoneMatch, value)) {
      response.status = 304;
      response.body.reset();
      response.file.reset();
      return;
    }
  }
}

std::string templatesJson(const Catalog& catalog, const CatalogueExtras& extras) {
  std::string out = "{\"formats\":[";
  for (size_t i = 0; i < kStampFormats.size(); ++i) out += (i ? "," : "") + jsonString(kStampFormats[i].extension);
  out += "],\"minChars\":" + std::to_string(kMinChars) + ",\"minSize\":" + std::to_string(kMinSignSize) +
         ",\"maxSize\":" + std::to_string(kMaxSignSize) + ",\"thumbnailSmall\":" + std::to_string(kThumbnailSmall) +
         ",\"thumbnailVersion\":" + jsonString(extras.thumbnailVersion) +
         ",\"downloads\":" + (extras.downloads ? "true" : "false") + ",\"templates\":[";
  bool first = true;
  for (const Template& t : catalog.all()) {
    out += first ? "\n" : ",\n";
    first = false;
    out += "{\"id\":" + std::to_string(t.id) + ",\"title\":" + jsonString(t.title) +
           ",\"thumbnail\":" + jsonString(t.thumbnail) + ",\"capacity\":" + std::to_string(t.style.maxChars) +
           (t.style.bottom == Bottom::Text ? ",\"line\":true}" : "}");
  }
  return out + "\n]}\n";
}

bool acceptsGzip(std::string_view header) {
  size_t i = 0;
  while (i < header.size()) {
    size_t end = header.find(',', i);
    if (end == std::string_view::npos) end = header.size();
    std::string item = lower(header.substr(i, end - i));
    i = end + 1;
    item.erase(std::remove_if(item.begin(), item.end(), [](char c) { return c == ' ' || c == '\t'; }), item.end());
    std::string coding = item.substr(0, item.find(';'));
    if (coding != "gzip" && coding != "x-gzip" && coding != "*") continue;
    // q=0 (0.0, 0.00, 0.000) refuses the coding; any other weight accepts it.
    size_t q = item.find(";q=");
    if (q == std::string::npos) return true;
    std::string weight = item.substr(q + 3);
    weight = weight.substr(0, weight.find(';'));
    if (weight.find_first_not_of("0.") != std::string::npos) return true;
  }
  return false;
}

std::string gzipBytes(std::string_view bytes) {
  z_stream z{};
  // windowBits 15 + 16: a gzip wrapper (no name, no time stamp) around the deflate stream.
  if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) != Z_OK) return {};
  std::string out(deflateBound(&z, bytes.size()) + 32, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  z.avail_in = static_cast<uInt>(bytes.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  int rc = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return rc == Z_STREAM_END ? out : std::string();
}

const Response& WebPages::Variants::pick(std::string_view acceptEncoding) const {
  return gzip && acceptsGzip(acceptEncoding) ? *gzip : plain;
}

WebPages::Variants WebPages::variants(std::string contentType, std::string body, std::string gzipped) {
  Variants v;
  const bool packed = !gzipped.empty() && gzipped.size() < body.size();
  v.plain = cacheable(contentType, std::move(body));
  if (packed) {
    // Each form has its own validator: a cache that kept one form revalidates that form.
    v.plain.headers.emplace_back("Vary", "Accept-Encoding");
    v.gzip = cacheable(std::move(contentType), std::move(gzipped));
    v.gzip->headers.emplace_back("Content-Encoding", "gzip");
    v.gzip->headers.emplace_back("Vary", "Accept-Encoding");
  }
  return v;
}

WebPages::WebPages(const Catalog& catalog, WebOptions options)
    : options_(std::move(options)), files_(std::make_unique<FileCache>()) {
  for (size_t i = 0; i < web::kAssetCount; ++i) {
    const web::Asset& a = web::kAssets[i];
    fixed_.emplace(a.path, variants(a.contentType, std::string(a.data, a.size),
                                    a.gzipData ? std::string(a.gzipData, a.gzipSize) : std::string()));
  }
  fixed_.emplace("/index.html", fixed_.at("/"));
  for (bool offered : {false, true}) {
    std::string json = templatesJson(catalog, {options_.thumbnailVersion, offered});
    std::string packed = gzipBytes(json);
    catalogue_[offered] = variants("application/json", std::move(json), std::move(packed));
  }
}

WebPages::~WebPages() = default;

std::vector<std::string> WebPages::offeredNames() const {
  // A version that could climb out of the folder names no file.
  if (options_.version.find_first_of("/\\") != std::string::npos || options_.version.find("..") != std::string::npos)
    return {};
  return {"Tambrel-" + options_.version + "-setup.exe", "Tambrel-" + options_.version + "-win64.zip"};
}

// The page shows its link to /download only while there is something to download there.
bool WebPages::anythingOffered() const {
  if (options_.downloadsDir.empty()) return false;
  for (const std::string& name : offeredNames()) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(std::filesystem::path(options_.downloadsDir) / name, ec)) return true;
  }
  return false;
}

std::optional<Response> WebPages::handle(std::string_view path, std::string_view acceptEncoding) const {
  if (auto it = fixed_.find(path); it != fixed_.end()) return it->second.pick(acceptEncoding);
  if (path == "/templates.json") return catalogue_[anythingOffered()].pick(acceptEncoding);
  if (path == "/download" || path == "/download/") return downloadPage();
  if (path.starts_with("/download/")) {
    auto r = downloadFile(path.substr(10));
    if (r) return r;
    Response missing;
    missing.status = 404;
    missing.body = std::make_shared<const std::string>("not found\n");
    return missing;
  }
  return std::nullopt;
}

std::optional<Response> WebPages::downloadFile(std::string_view name) const {
  if (options_.downloadsDir.empty()) return std::nullopt;
  auto names = offeredNames();
  auto it = std::find(names.begin(), names.end(), name);
  if (it == names.end()) return std::nullopt;  // only the offered names, never a path from the request
  std::filesystem::path file = std::filesystem::path(options_.downloadsDir) / *it;
  // Only a regular file that is itself in the folder: O_NOFOLLOW refuses a symlink (which could
  // lead anywhere the service may read), O_NONBLOCK a FIFO that would hold the thread, and the
  // open descriptor is what gets checked and sent, so a swap after the check changes nothing.
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<std::uintmax_t>(st.st_size) > kMaxDownloadBytes) {
    ::close(fd);
    return std::nullopt;
  }
  // The file is sent in pieces as the connection takes them (FileBody), never read whole.
  auto body = std::make_shared<FileBody>(fd, static_cast<uint64_t>(st.st_size));
  Response r;
  r.contentType = it->ends_with(".zip") ? "application/zip" : "application/vnd.microsoft.portable-executable";
  r.headers.emplace_back("Content-Disposition", "attachment; filename=\"" + *it + "\"");
  r.headers.emplace_back("X-Content-Type-Options", "nosniff");
  r.headers.emplace_back("Cache-Control", "no-cache");
  char tag[64];
  std::snprintf(tag, sizeof tag, "\"%jx-%jx\"", static_cast<std::uintmax_t>(st.st_size),
                static_cast<std::uintmax_t>(st.st_mtim.tv_sec) * 1000000000u + static_cast<std::uintmax_t>(st.st_mtim.tv_nsec));
  r.headers.emplace_back("ETag", tag);
  r.file = std::move(body);
  return r;
}

Response WebPages::downloadPage() const {
  std::string list;
  if (!options_.downloadsDir.empty()) {
    const char* labels[] = {"安装程序", "免安装压缩包"};
    auto names = offeredNames();
    for (size_t i = 0; i < names.size(); ++i) {
      std::error_code ec;
      std::filesystem::path file = std::filesystem::path(options_.downloadsDir) / names[i];
      if (!std::filesystem::is_regular_file(std::filesystem::symlink_status(file, ec))) continue;
      std::uintmax_t size = std::filesystem::file_size(file, ec);
      if (ec || size > kMaxDownloadBytes) continue;
      list += "<li><a href=\"/download/" + htmlEscape(names[i]) + "\" download>" + htmlEscape(names[i]) +
              "</a> <span class=\"muted\">" + labels[i] + "，" + humanSize(size) + "</span></li>\n";
    }
  }
  std::string version = htmlEscape(options_.version);
  std::string body = R"(<!DOCTYPE html>
<html lang="zh-CN"><head><meta charset="utf-8"><meta name="viewport" content="width=device-width, initial-scale=1">
<title>下载 Tambrel</title><link rel="stylesheet" href="/maker.css"></head><body>
<header class="top"><h1>下载 Tambrel</h1><a href="/">返回印章制作</a></header>
<main class="narrow">
<p>Tambrel 是制作印章图片的 Windows 桌面工具，最新版本：)" + version + R"(。</p>
)";
  if (list.empty())
    body += "<p class=\"notice\" id=\"no-downloads\">本服务目前没有提供安装包。请向您的管理员索取，或直接在 <a href=\"/\">印章制作</a> 页面在线生成印章。</p>\n";
  else
    body += "<ul class=\"downloads\" id=\"downloads\">\n" + list + "</ul>\n";
  body += R"(<p class="notice">生成的印章图片仅供合法用途（艺术创作、个人印章与闲章、教学演示、样章展示），请勿用于伪造公章、合同章、财务章或任何具有法律效力的印鉴。</p>
</main></body></html>
)";
  Response r = cacheable("text/html; charset=utf-8", std::move(body));
  return r;
}

}  // namespace tambrel
