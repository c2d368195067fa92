// The service's web face: the stamp maker page at "/" with its script and style sheet, the
// catalogue as /templates.json for it, and /download with the Windows installer and zip when
// the operator gives a folder that holds them.
//
// Everything here is answered with a Content-Security-Policy that allows only the service's
// own origin, and with an ETag, so a browser revalidates instead of fetching again
// (applyConditional turns a matching If-None-Match into 304).
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/catalog.h"
#include "stamps/response.h"
#include "stamps/stamp_request.h"

namespace tambrel {

struct WebOptions {
  std::string version = "1.0";  // names the offered files: Tambrel-{version}-setup.exe, -win64.zip
  std::string downloadsDir;     // empty: nothing to download
};

class WebPages {
 public:
  WebPages(const Catalog& catalog, WebOptions options);
  ~WebPages();

  // The answer for the page's paths; nullopt for every other path.
  std::optional<Response> handle(std::string_view path) const;

  // The files /download offers, in the order it lists them.
  std::vector<std::string> offeredNames() const;

 private:
  Response downloadPage() const;
  std::optional<Response> downloadFile(std::string_view name) const;

  WebOptions options_;
  std::map<std::string, Response, std::less<>> fixed_;  // page files and /templates.json
  struct FileCache;
  std::unique_ptr<FileCache> files_;
};

// /templates.json: the formats /stamp/ serves, the generation limits and, in display order,
// each template's id, title, thumbnail file and capacity in character cells.
std::string templatesJson(const Catalog& catalog);

std::string htmlEscape(std::string_view s);
std::string jsonString(std::string_view s);
// A strong validator from the bytes: a quoted 64-bit FNV-1a hash in hex.
std::string etagOf(std::string_view bytes);
// True when an If-None-Match value (a list, weak or strong, or "*") names this ETag.
bool etagMatches(std::string_view ifNoneMatch, std::string_view etag);
// A 200 answer with an ETag that the request's If-None-Match names becomes 304 without a body.
void applyConditional(Response& response, std::string_view ifNoneMatch);

}  // namespace tambrel
