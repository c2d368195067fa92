// The service's web face: the stamp maker page at "/" with its script and style sheet, the
// catalogue as /templates.json for it, and /download with the Windows installer and zip when
// the operator gives a folder that holds them.
//
// Everything here is answered with a Content-Security-Policy that allows only the service's
// own origin, and with an ETag, so a browser revalidates instead of fetching again
// (applyConditional turns a matching If-None-Match into 304). The page's files and the
// catalogue go gzipped to a browser that accepts it (made once: the files at build time, the
// catalogue at start), with a validator of their own.
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
  // Names this build's thumbnails in /templates.json (?v=…): a thumbnail asked for with it may
  // be kept for a year, since another build or other fonts give another value. Empty: none.
  std::string thumbnailVersion = {};
};

// /templates.json beyond the catalogue: what the page offers around it.
struct CatalogueExtras {
  std::string thumbnailVersion;
  bool downloads = false;  // the download page has a file to offer
};

class WebPages {
 public:
  WebPages(const Catalog& catalog, WebOptions options);
  ~WebPages();

  // The answer for the page's paths; nullopt for every other path. acceptEncoding is the
  // request's Accept-Encoding header.
  std::optional<Response> handle(std::string_view path, std::string_view acceptEncoding = {}) const;

  // The files /download offers, in the order it lists them.
  std::vector<std::string> offeredNames() const;

 private:
  Response downloadPage() const;
  std::optional<Response> downloadFile(std::string_view name) const;

  // An answer as it is and, when smaller, gzipped.
  struct Variants {
    Response plain;
    std::optional<Response> gzip;
    const Response& pick(std::string_view acceptEncoding) const;
  };
  static Variants variants(std::string contentType, std::string body, std::string gzipped);
  bool anythingOffered() const;

  WebOptions options_;
  std::map<std::string, Variants, std::less<>> fixed_;  // page files
  Variants catalogue_[2];  // /templates.json without and with downloads on offer
  struct FileCache;
  std::unique_ptr<FileCache> files_;
};

// /templates.json: the formats /stamp/ serves, the generation limits, the thumbnails' smaller
// size and version, whether /download offers files and, in display order, each template's id,
// title, thumbnail file, capacity in character cells and, for a template whose line under the
// star the text may replace ("name|line"), "line":true.
std::string templatesJson(const Catalog& catalog, const CatalogueExtras& extras = {});

// Whether an Accept-Encoding header accepts gzip (listed, or "*", and not with q=0).
bool acceptsGzip(std::string_view acceptEncoding);
// gzip of the bytes (zlib, best compression).
std::string gzipBytes(std::string_view bytes);

std::string htmlEscape(std::string_view s);
std::string jsonString(std::string_view s);
// A strong validator from the bytes: a quoted 64-bit FNV-1a hash in hex.
std::string etagOf(std::string_view bytes);
// True when an If-None-Match value (a list, weak or strong, or "*") names this ETag.
bool etagMatches(std::string_view ifNoneMatch, std::string_view etag);
// A 200 answer with an ETag that the request's If-None-Match names becomes 304 without a body.
void applyConditional(Response& response, std::string_view ifNoneMatch);

}  // namespace tambrel
