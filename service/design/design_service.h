// The design endpoints, apart from the network like the stamp endpoints: a method, a target and
// a body in, a Response out; a picture not yet in the cache comes back deferred
// (stamps/response.h), everything else (checks, fonts, templates, cache hits) complete.
//   GET|HEAD /design.{png,svg,pdf}?{query}    the design drawn (PNG: px= pixels on the longer side)
//   POST     /design.{png,svg,pdf}[?px=N]     the same, the design as JSON in the body
//   GET /design.json?{query}, POST /design.json   the design checked and written as canonical JSON
//   GET /design/template.json?id=&text=      a template with a text as a starting design
//   GET /design/fonts.json                   the faces, shapes, borders, centres and bounds
// A design that does not pass its checks is answered 400 with {"errors":[{field, zh, en}…]}.
// Pictures go through the service's picture cache, keyed by the design's canonical query, and
// are held to the same size cap as the stamps' (kMaxPictureBytes).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "catalog/catalog.h"
#include "catalog/fonts.h"
#include "design/design.h"
#include "stamps/lru_cache.h"
#include "stamps/response.h"

namespace tambrel {

// A design drawn in a format ("png", "svg", "pdf"): a pure function of its arguments, so the
// work can run wherever costly work runs. Empty on failure.
std::string renderDesign(const FontSet& fonts, const design::Design& d, std::string_view extension, int px);

class DesignService {
 public:
  DesignService(const Catalog& catalog, const FontSet& fonts, LruCache& cache);

  // nullopt for paths that are not the design endpoints'.
  std::optional<Response> handle(std::string_view method, std::string_view target, std::string_view body);

  // The largest request body accepted for this request: POST to a design path only.
  static size_t bodyLimit(std::string_view method, std::string_view target);

 private:
  Response picture(const design::Parsed& parsed, std::string_view extension, bool post);

  const Catalog& catalog_;
  const FontSet& fonts_;
  LruCache& cache_;
  std::string fontsJson_;
};

}  // namespace tambrel
