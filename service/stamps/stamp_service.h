// The stamp endpoints, apart from the network layer so that tests and the fuzzer drive them
// directly: a method and a raw request target in, a complete response out.
//
// Endpoints: GET /maker/thumbnails/{file} (and /maker/thumbnails/128/{file}, drawn smaller), /aosbegin.php, /stamp/{id}/{size}/{text}.{png,svg,pdf},
// /check/md5.php, /healthz; HEAD for each (the page and /download are the web layer's, which
// sits above this one). Picture paths name everything the picture depends on, so any instance
// can render any path and nothing is shared but code.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "catalog/catalog.h"
#include "catalog/fonts.h"
#include "stamps/lru_cache.h"
#include "stamps/response.h"
#include "stamps/stamp_request.h"

namespace tambrel {

struct ServiceOptions {
  std::string latestVersion = "1.0";
  std::string pairKey;
  std::string replyKey;
  std::string homeUrl;
  std::string downloadUrl;
  long long updateTimeOffset = 0;  // seconds added to the update reply's issue time
  size_t cacheBytes = 64u << 20;
  size_t maxTargetLength = 4096;
};

// The checks every request passes before it is routed: GET or HEAD (405), a target of at most
// maxTargetLength bytes (414) that starts with '/', and a path that does not climb (400): no
// segment that is "." or ".." once decoded, no raw backslash, no NUL. A percent-encoded '/' or
// '\\' inside a segment is data (a stamp text may hold them), not a separator.
// nullopt when the request may go on.
std::optional<Response> screenRequest(std::string_view method, std::string_view target, size_t maxTargetLength);

class StampService {
 public:
  StampService(const Catalog& catalog, const FontSet& fonts, ServiceOptions options);
  ~StampService();

  // Any target: what the stamp endpoints do not serve is 404. A picture that is not cached yet
  // comes back deferred (response.h): the rendering is left to the caller's render pool.
  Response respond(std::string_view method, std::string_view target);
  // The same, with any rendering done inline.
  Response handle(std::string_view method, std::string_view target) { return complete(respond(method, target)); }

  // Picture cache look-ups that found the picture, and those that had to render (the design
  // endpoints' pictures included: they share the cache).
  unsigned long long cacheHits() const { return cache_.hits(); }
  unsigned long long cacheMisses() const { return cache_.misses(); }

  const LruCache& cache() const { return cache_; }
  // The picture cache and the faces, for the design endpoints beside these.
  LruCache& pictureCache() { return cache_; }
  const FontSet& fonts() const { return fonts_; }
  const Catalog& catalog() const { return catalog_; }
  const ServiceOptions& options() const { return options_; }

 private:
  Response aosbegin(std::string_view query);
  Response stamp(std::string_view path);
  Response thumbnail(std::string_view name);
  Response update();
  // The cached picture under `key`, counting the look-up.
  std::shared_ptr<const std::string> cached(const std::string& key);
  // Renders the picture in the format into the cache (keyed by its path); null on failure.
  std::shared_ptr<const std::string> renderPicture(const StampRequest& request, const StampFormat& format);

  const Catalog& catalog_;
  const FontSet& fonts_;
  ServiceOptions options_;
  LruCache cache_;
};

}  // namespace tambrel
