// The service as the network sees it: every request passes the common checks, then goes to the
// page and its files (/, /templates.json, /download), the design endpoints (/design.*) or the
// stamp endpoints. POST is taken only by the design endpoints, with a small JSON body. This is the one
// place that knows both, so neither of them needs the other.
#pragma once

#include <string_view>

#include "design/design_service.h"
#include "stamps/response.h"
#include "stamps/stamp_service.h"
#include "web/web_pages.h"

namespace tambrel {

class Site {
 public:
  Site(StampService& stamps, WebOptions options);

  Response handle(std::string_view method, std::string_view target, std::string_view body = {});
  // The largest body any request may have, and the one this request may have (0: none).
  static constexpr size_t kMaxBodyBytes = design::Limits::kMaxJsonBytes;
  static size_t bodyLimit(std::string_view method, std::string_view target) {
    return DesignService::bodyLimit(method, target);
  }

  StampService& stamps() { return stamps_; }

 private:
  StampService& stamps_;
  WebPages pages_;
  DesignService designs_;
};

}  // namespace tambrel
