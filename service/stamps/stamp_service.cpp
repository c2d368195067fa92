// Request handling; see stamp_service.h.
#include "stamps/stamp_service.h"

#include <ctime>

#include "draw/render.h"
#include "draw/vector.h"
#include "encode/encode.h"
#include "stamps/update.h"
#include "text/text.h"

namespace tambrel {
namespace {

using Body = std::shared_ptr<const std::string>;

Body makeBody(std::string s) { return std::make_shared<const std::string>(std::move(s)); }

Response plain(int status, std::string text) {
  Response r;
  r.status = status;
  r.body = makeBody(std::move(text) + "\n");
  return r;
}

std::string xmlEscape(std::string_view s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

// Errors carry no <outputimg> element, so a client that looks for the picture path finds none.
Response xmlError(std::string_view message) {
  Response r;
  r.status = 400;
  r.contentType = "text/xml; charset=utf-8";
  r.body = makeBody("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<stamp><error>" + xmlEscape(message) +
                    "</error></stamp>\n");
  return r;
}

}  // namespace

StampService::StampService(const Catalog& catalog, const FontSet& fonts, ServiceOptions options)
    : catalog_(catalog),
      fonts_(fonts),
      options_(std::move(options)),
      cache_(options_.cacheBytes) {}

StampService::~StampService() = default;

std::optional<Response> screenRequest(std::string_view method, std::string_view target, size_t maxTargetLength) {
  if (method != "GET" && method != "HEAD") {
    Response r = plain(405, "method not allowed");
    r.headers.emplace_back("Allow", "GET, HEAD");
    return r;
  }
  if (target.size() > maxTargetLength) return plain(414, "request target too long");
  if (target.empty() || target.front() != '/') return plain(400, "bad request target");
  std::string_view path = target.substr(0, target.find('?'));
  // No endpoint reads files by the request's path, but a path that climbs is never a real
  // client's request. Segments are judged after decoding each on its own: an encoded '/' or
  // '\\' in a stamp text is part of that text, so every path /aosbegin.php hands out passes.
  if (path.find('\\') != std::string_view::npos) return plain(400, "bad path");
  size_t start = 1;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    std::string segment = text::percentDecode(path.substr(start, end - start));
    if (segment == "." || segment == ".." || segment.find('\0') != std::string::npos) return plain(400, "bad path");
    start = end + 1;
  }
  return std::nullopt;
}

Response StampService::respond(std::string_view method, std::string_view target) {
  if (auto refused = screenRequest(method, target, options_.maxTargetLength)) return std::move(*refused);
  size_t q = target.find('?');
  std::string_view path = target.substr(0, q);
  std::string_view query = q == std::string_view::npos ? std::string_view() : target.substr(q + 1);
  std::string decodedPath = text::percentDecode(path);

  if (path == "/aosbegin.php") return aosbegin(query);
  if (path.starts_with("/stamp/")) return stamp(path);
  if (path.starts_with("/maker/thumbnails/")) return thumbnail(decodedPath.substr(18));
  if (path == "/check/md5.php") return update();
  if (path == "/healthz") return plain(200, "ok");
  return plain(404, "not found");
}

std::shared_ptr<const std::string> StampService::cached(const std::string& key) {
  return cache_.find(key);
}

std::shared_ptr<const std::string> StampService::renderPicture(const StampRequest& request, const StampFormat& format) {
  const std::string key = stampPath(request, format.extension);
  // Another request may have rendered it while this one waited for the pool.
  if (auto hit = cache_.get(key)) return hit;
  const std::string_view ext = format.extension;
  std::string bytes;
  if (ext == "png") {
    Raster raster = renderStamp(fonts_, request.tmpl->style, request.text, request.size);
    bytes = encodePng(raster, request.tmpl->style.color, true);
  } else {
    bytes = renderStampVector(fonts_, request.tmpl->style, request.text, ext == "svg" ? VectorFormat::Svg : VectorFormat::Pdf);
  }
  // The text limits keep every picture far below the cap; one that is not is refused.
  return cache_.keep(key, std::move(bytes), kMaxPictureBytes);
}

Response StampService::aosbegin(std::string_view query) {
  std::string error;
  auto request = parseStampQuery(query, catalog_, &error);
  if (!request) return xmlError(error);
  std::string path = stampPath(*request);
  // The reply's path is fetched next, from this instance or another: it must pass the same
  // checks as any request (the text limits keep it short; this holds it by construction).
  if (screenRequest("GET", path, options_.maxTargetLength)) return xmlError("text too long for a picture path");
  auto reply = [id = request->tmpl->id, path] {
    Response r;
    r.contentType = "text/xml; charset=utf-8";
    r.headers.emplace_back("Cache-Control", "no-store");
    r.body = makeBody("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<stamp><id>" + std::to_string(id) +
                      "</id><outputimg>." + path + "</outputimg></stamp>\n");
    return r;
  };
  if (cached(path)) return reply();
  // Rendering validates the request fully and leaves the picture in the cache for the fetch
  // that follows.
  Response later;
  later.deferred = [this, request = std::move(*request), reply] {
    if (!renderPicture(request, kStampFormats[0])) {
      Response r = xmlError("rendering failed");
      r.status = 500;
      return r;
    }
    return reply();
  };
  return later;
}

Response StampService::stamp(std::string_view path) {
  // /stamp/{id}/{size}/{text}.{png,svg,pdf}
  std::string_view rest = path.substr(7);
  size_t s1 = rest.find('/');
  size_t s2 = s1 == std::string_view::npos ? s1 : rest.find('/', s1 + 1);
  if (s2 == std::string_view::npos || rest.find('/', s2 + 1) != std::string_view::npos) return plain(404, "not found");
  const StampFormat* format = nullptr;
  for (const StampFormat& f : kStampFormats)
    if (rest.ends_with("." + std::string(f.extension))) format = &f;
  if (!format) return plain(404, "not found");
  std::string_view idPart = rest.substr(0, s1), sizePart = rest.substr(s1 + 1, s2 - s1 - 1);
  std::string_view textPart = rest.substr(s2 + 1, rest.size() - s2 - 2 - std::string_view(format->extension).size());
  auto id = text::parseInteger(idPart);
  auto size = text::parseInteger(sizePart);
  // Only the forms this service hands out: plain digits, size 0 or within the limits.
  if (!id || !size || idPart.find_first_not_of("0123456789") != std::string_view::npos ||
      sizePart.find_first_not_of("0123456789") != std::string_view::npos)
    return plain(404, "not found");
  if (*size != 0 && (*size < kMinSignSize || *size > kMaxSignSize)) return plain(404, "not found");
  const Template* tmpl = *id > 0 && *id < 1000000 ? catalog_.byId(static_cast<int>(*id)) : nullptr;
  if (!tmpl) return plain(404, "not found");
  std::string error;
  auto decoded = decodeStampText(textPart, *tmpl, &error);
  if (!decoded) return plain(400, error);
  StampRequest request{tmpl, std::move(*decoded), static_cast<int>(*size)};
  auto answer = [contentType = std::string(format->contentType)](std::shared_ptr<const std::string> body) {
    if (!body) return plain(500, "rendering failed");
    Response r;
    r.contentType = contentType;
    r.headers.emplace_back("Cache-Control", "public, max-age=31536000, immutable");
    r.body = std::move(body);
    return r;
  };
  if (auto hit = cached(stampPath(request, format->extension))) return answer(std::move(hit));
  Response later;
  later.deferred = [this, request = std::move(request), format, answer] { return answer(renderPicture(request, *format)); };
  return later;
}

Response StampService::thumbnail(std::string_view name) {
  // "{kThumbnailSmall}/{file}": the same picture drawn smaller; no other size is drawn, so the
  // cache holds at most two pictures per template.
  int most = kThumbnailMax;
  std::string_view file = name;
  if (name.starts_with(std::to_string(kThumbnailSmall) + "/")) {
    most = kThumbnailSmall;
    file = name.substr(name.find('/') + 1);
  }
  const Template* tmpl = catalog_.byThumbnail(file);
  auto format = formatFromName(file);
  if (!tmpl || !format) return plain(404, "not found");
  std::string key = "/maker/thumbnails/" + std::string(name);
  auto answer = [format = *format](std::shared_ptr<const std::string> body) {
    if (!body) return plain(500, "encoding failed");
    Response r;
    r.contentType = contentType(format);
    r.headers.emplace_back("Cache-Control", "public, max-age=86400");
    r.body = std::move(body);
    return r;
  };
  if (auto hit = cached(key)) return answer(std::move(hit));
  Response later;
  later.deferred = [this, tmpl, most, format = *format, key, answer] {
    if (auto hit = cache_.get(key)) return answer(std::move(hit));
    auto sample = text::decodeUtf8(tmpl->style.sample);
    std::u32string t = sample && sample->size() >= 2 ? *sample : U"天宝";
    while (text::cellCount(t) > tmpl->style.maxChars) t.pop_back();
    NaturalSize nat = naturalSize(tmpl->style.shape);
    int longSide = std::min(most, std::max(nat.width, nat.height));
    Raster raster = renderStamp(fonts_, tmpl->style, t, longSide);
    std::string bytes = encode(raster, tmpl->style.color, format);
    if (bytes.empty()) return answer(nullptr);
    auto body = makeBody(std::move(bytes));
    cache_.put(key, body);
    return answer(std::move(body));
  };
  return later;
}

Response StampService::update() {
  long long t = update::toolEpochSeconds(std::time(nullptr)) + options_.updateTimeOffset;
  Response r;
  r.contentType = "text/plain; charset=us-ascii";
  r.headers.emplace_back("Cache-Control", "no-store");
  r.body = makeBody(update::updateReply(options_.latestVersion, options_.pairKey, options_.replyKey, t));
  return r;
}

}  // namespace tambrel
