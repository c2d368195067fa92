// The service as the network sees it: every request passes the common checks, then goes to the
// page and its files (/, /templates.json, /download, /glyphs, /favicon.ico), the design
// endpoints (/design.*) or the stamp endpoints. POST is taken only by the design endpoints, with
// a small JSON body. This is the one place that knows them all, so none of them needs another.
#pragma once

#include <string>
#include <string_view>

#include "design/design_service.h"
#include "stamps/response.h"
#include "stamps/stamp_service.h"
#include "web/glyph_check.h"
#include "web/web_pages.h"

namespace tambrel {

// The request headers an answer depends on.
struct RequestHeaders {
  std::string_view acceptEncoding;
};

class Site {
 public:
  Site(StampService& stamps, WebOptions options);

  // The answer, or for costly work a deferred one (stamps/response.h) for the server's render
  // pool: the server never renders on the threads that serve connections.
  Response respond(std::string_view method, std::string_view target, const RequestHeaders& headers = {},
                   std::string_view body = {});
  // The same, with deferred work done inline (tests, the fuzzer).
  Response handle(std::string_view method, std::string_view target, const RequestHeaders& headers = {}) {
    return complete(respond(method, target, headers));
  }
  Response handle(std::string_view method, std::string_view target, std::string_view body) {
    return complete(respond(method, target, {}, body));
  }
  // The largest body any request may have, and the one this request may have (0: none).
  static constexpr size_t kMaxBodyBytes = design::Limits::kMaxJsonBytes;
  static size_t bodyLimit(std::string_view method, std::string_view target) {
    return DesignService::bodyLimit(method, target);
  }

  StampService& stamps() { return stamps_; }
  // What this build draws with these fonts, as named in thumbnail addresses (?v=…).
  const std::string& thumbnailVersion() const { return thumbnailVersion_; }

 private:
  StampService& stamps_;
  std::string thumbnailVersion_;
  WebPages pages_;
  GlyphCheck glyphs_;
  DesignService designs_;

  Response design(std::string_view method, std::string_view target, std::string_view body);
};

// A value that changes whenever the pictures this process draws may change: the executable's
// build id (or, without one, the start time) and the font files.
std::string drawingVersion(const FontSet& fonts);

}  // namespace tambrel
