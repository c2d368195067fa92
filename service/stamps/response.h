// The answer to one request, as every handler gives it and the HTTP server writes it: status,
// content type, extra headers and a body that is shared, never copied (a picture's body is the
// cache entry itself).
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tambrel {

struct Response {
  int status = 200;
  std::string contentType = "text/plain; charset=utf-8";
  std::shared_ptr<const std::string> body;
  std::vector<std::pair<std::string, std::string>> headers;  // extra headers
};

}  // namespace tambrel
