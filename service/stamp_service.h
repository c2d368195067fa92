// Request handling of the stamp service, apart from the network layer so that tests and the
// fuzzer drive it directly: a method and a raw request target in, a complete response out.
//
// Endpoints: GET /maker/thumbnails/{file}, /aosbegin.php, /stamp/{id}/{size}/{text}.png,
// /check/md5.php, /, /download, /healthz; HEAD for each. Picture paths name everything the
// picture depends on, so any instance can render any path and nothing is shared but code.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "catalog.h"
#include "fonts.h"
#include "lru_cache.h"

namespace tambrel {

struct ServiceOptions {
  std::string latestVersion = "1.0";
  std::string pairKey;
  std::string replyKey;
  std::string homeUrl;
  std::string downloadUrl;
  std::string downloadsDir;  // folder with the Windows installer and zip for /download; empty: none
  long long updateTimeOffset = 0;  // seconds added to the update reply's issue time
  size_t cacheBytes = 64u << 20;
  size_t maxTargetLength = 4096;
};

struct Response {
  int status = 200;
  std::string contentType = "text/plain; charset=utf-8";
  std::shared_ptr<const std::string> body;
  std::vector<std::pair<std::string, std::string>> headers;  // extra headers
};

// Limits of a stamp request.
constexpr int kMinSignSize = 64;
constexpr int kMaxSignSize = 2048;
constexpr int kMinChars = 2;
constexpr int kThumbnailMax = 300;

// Parsed and validated /aosbegin.php parameters.
struct StampRequest {
  const Template* tmpl = nullptr;
  std::u32string text;  // trimmed, at least 2 characters in at most maxChars cells, no control characters
  int size = 0;         // 0: natural size; else 64..2048
};

// signsize rules: "0", empty or not a number → 0 (natural); otherwise clamped to 64..2048.
int normaliseSignSize(std::string_view raw);

// Decodes a stamp text parameter (percent-escapes, then UTF-8 or GBK), trims spaces and checks
// it against the template; on failure returns nullopt and a message for the client.
std::optional<std::u32string> decodeStampText(std::string_view raw, const Template& tmpl, std::string* error);

// Parses the query of /aosbegin.php. The desktop tool does not encode its text, so an '&' in a
// text splits it; parts after "text=" that are not one of the known keys are joined back
// into the text. Missing text or id, a repeated key, bad text or an unknown id fail.
std::optional<StampRequest> parseStampQuery(std::string_view query, const Catalog& catalog, std::string* error);

// "/stamp/368/0/%E5%BC%A0%E4%B8%89.png": pure ASCII, self-describing.
std::string stampPath(const StampRequest& request);

// The picture formats /stamp/{id}/{size}/{text}.{format} serves. The web page offers a
// download button for each, read from /templates.json.
inline constexpr std::array<std::string_view, 1> kStampFormats = {"png"};

class WebPages;

class StampService {
 public:
  StampService(const Catalog& catalog, const FontSet& fonts, ServiceOptions options);
  ~StampService();

  Response handle(std::string_view method, std::string_view target);

  const LruCache& cache() const { return cache_; }
  const ServiceOptions& options() const { return options_; }

 private:
  Response aosbegin(std::string_view query);
  Response stamp(std::string_view path);
  Response thumbnail(std::string_view name);
  Response update();
  std::shared_ptr<const std::string> renderPng(const StampRequest& request, const std::string& key);

  const Catalog& catalog_;
  const FontSet& fonts_;
  ServiceOptions options_;
  LruCache cache_;
  std::unique_ptr<WebPages> web_;  // "/", its files, /templates.json, /download
};

}  // namespace tambrel
