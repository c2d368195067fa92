// The service as the network sees it: every request passes the common checks, then goes to the
// page and its files (/, /templates.json, /download) or to the stamp endpoints. This is the one
// place that knows both, so neither of them needs the other.
#pragma once

#include <string_view>

#include "stamps/response.h"
#include "stamps/stamp_service.h"
#include "web/web_pages.h"

namespace tambrel {

class Site {
 public:
  Site(StampService& stamps, WebOptions options);

  // The answer, or for costly work a deferred one (stamps/response.h) for the server's render
  // pool: the server never renders on the threads that serve connections.
  Response respond(std::string_view method, std::string_view target);
  // The same, with deferred work done inline (tests, the fuzzer).
  Response handle(std::string_view method, std::string_view target) { return complete(respond(method, target)); }

  StampService& stamps() { return stamps_; }

 private:
  StampService& stamps_;
  WebPages pages_;
};

}  // namespace tambrel
