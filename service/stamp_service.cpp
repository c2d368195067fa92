// Request handling; see stamp_service.h.
#include "stamp_service.h"

#include <ctime>

#include "encode.h"
#include "render.h"
#include "text.h"
#include "update.h"
#include "web_pages.h"

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

int normaliseSignSize(std::string_view raw) {
  auto value = text::parseInteger(text::percentDecode(raw));
  if (!value || *value == 0) return 0;
  if (*value < kMinSignSize) return kMinSignSize;
  if (*value > kMaxSignSize) return kMaxSignSize;
  return static_cast<int>(*value);
}

std::optional<std::u32string> decodeStampText(std::string_view raw, const Template& tmpl, std::string* error) {
  auto utf8 = text::toUtf8(text::percentDecode(raw));
  if (!utf8) {
    *error = "text is neither UTF-8 nor GBK";
    return std::nullopt;
  }
  auto decoded = text::decodeUtf8(*utf8);
  std::u32string t = text::trimSpaces(*decoded);
  for (char32_t c : t) {
    if (text::isControl(c)) {
      *error = "text contains control characters";
      return std::nullopt;
    }
  }
  // The optional "|line" of templates with a horizontal line does not count against the ring.
  std::u32string_view counted = t;
  if (tmpl.style.bottom == Bottom::Text) {
    size_t bar = t.find(U'|');
    if (bar != std::u32string::npos) counted = counted.substr(0, bar);
  }
  // A seal is full when its cells are: two Latin letters share the cell of one CJK character,
  // so "Tambrel" fits a four-character seal. The minimum counts real characters: "ab" is a
  // name, "a" is not.
  if (counted.size() < static_cast<size_t>(kMinChars) || text::cellCount(counted) > tmpl.style.maxChars) {
    const int most = tmpl.style.maxChars;
    *error = "text must have " + std::to_string(kMinChars) + (most > kMinChars ? " to " + std::to_string(most) : "") +
             " characters for template " + std::to_string(tmpl.id) + " (two Latin letters or digits count as one)";
    return std::nullopt;
  }
  return t;
}

std::optional<StampRequest> parseStampQuery(std::string_view query, const Catalog& catalog, std::string* error) {
  std::optional<std::string> text, id, signsize;
  bool haveRnd = false;
  std::string* last = nullptr;  // the value that stray parts are joined to
  for (text::QueryParam& p : text::splitQuery(query)) {
    std::optional<std::string>* slot = nullptr;
    if (p.key == "text") slot = &text;
    if (p.key == "id") slot = &id;
    if (p.key == "signsize") slot = &signsize;
    if (p.key == "rnd") {
      if (haveRnd) {
        *error = "parameter rnd is repeated";
        return std::nullopt;
      }
      haveRnd = true;
      last = nullptr;
      continue;
    }
    if (!slot) {
      // Not a key of ours: a piece of an unencoded text that contained '&'.
      if (last) *last += "&" + p.raw;
      continue;
    }
    if (slot->has_value()) {
      *error = "parameter " + p.key + " is repeated";
      return std::nullopt;
    }
    *slot = p.value;
    last = (slot == &text) ? &**slot : nullptr;
  }
  if (!text || !id) {
    *error = !text ? "parameter text is missing" : "parameter id is missing";
    return std::nullopt;
  }
  auto idValue = text::parseInteger(text::percentDecode(*id));
  const Template* tmpl = idValue && *idValue > 0 && *idValue < 1000000 ? catalog.byId(static_cast<int>(*idValue)) : nullptr;
  if (!tmpl) {
    *error = "unknown template id";
    return std::nullopt;
  }
  auto decoded = decodeStampText(*text, *tmpl, error);
  if (!decoded) return std::nullopt;
  StampRequest r;
  r.tmpl = tmpl;
  r.text = std::move(*decoded);
  r.size = signsize ? normaliseSignSize(*signsize) : 0;
  return r;
}

std::string stampPath(const StampRequest& request) {
  return "/stamp/" + std::to_string(request.tmpl->id) + "/" + std::to_string(request.size) + "/" +
         text::percentEncode(text::encodeUtf8(request.text)) + ".png";
}

StampService::StampService(const Catalog& catalog, const FontSet& fonts, ServiceOptions options)
    : catalog_(catalog),
      fonts_(fonts),
      options_(std::move(options)),
      cache_(options_.cacheBytes),
      web_(std::make_unique<WebPages>(catalog_, WebOptions{options_.latestVersion, options_.downloadsDir})) {}

StampService::~StampService() = default;

Response StampService::handle(std::string_view method, std::string_view target) {
  if (method != "GET" && method != "HEAD") {
    Response r = plain(405, "method not allowed");
    r.headers.emplace_back("Allow", "GET, HEAD");
    return r;
  }
  if (target.size() > options_.maxTargetLength) return plain(414, "request target too long");
  if (target.empty() || target.front() != '/') return plain(400, "bad request target");
  size_t q = target.find('?');
  std::string_view path = target.substr(0, q);
  std::string_view query = q == std::string_view::npos ? std::string_view() : target.substr(q + 1);
  // No endpoint reads files, but a path that climbs is never a real client's request.
  std::string decodedPath = text::percentDecode(path);
  if (decodedPath.find("..") != std::string::npos || decodedPath.find('\0') != std::string::npos ||
      decodedPath.find('\\') != std::string::npos)
    return plain(400, "bad path");

  if (path == "/aosbegin.php") return aosbegin(query);
  if (path.starts_with("/stamp/")) return stamp(path);
  if (path.starts_with("/maker/thumbnails/")) return thumbnail(decodedPath.substr(18));
  if (path == "/check/md5.php") return update();
  if (path == "/healthz") return plain(200, "ok");
  if (auto page = web_->handle(path)) return std::move(*page);
  return plain(404, "not found");
}

std::shared_ptr<const std::string> StampService::renderPng(const StampRequest& request, const std::string& key) {
  if (auto hit = cache_.get(key)) return hit;
  Raster raster = renderStamp(fonts_, request.tmpl->style, request.text, request.size);
  std::string png = encodePng(raster, request.tmpl->style.color);
  if (png.empty()) return nullptr;
  auto body = makeBody(std::move(png));
  cache_.put(key, body);
  return body;
}

Response StampService::aosbegin(std::string_view query) {
  std::string error;
  auto request = parseStampQuery(query, catalog_, &error);
  if (!request) return xmlError(error);
  std::string path = stampPath(*request);
  // Rendering now validates the request fully and leaves the picture in the cache for the
  // fetch that follows.
  if (!renderPng(*request, path)) {
    Response r = xmlError("rendering failed");
    r.status = 500;
    return r;
  }
  Response r;
  r.contentType = "text/xml; charset=utf-8";
  r.headers.emplace_back("Cache-Control", "no-store");
  r.body = makeBody("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<stamp><id>" + std::to_string(request->tmpl->id) +
                    "</id><outputimg>." + path + "</outputimg></stamp>\n");
  return r;
}

Response StampService::stamp(std::string_view path) {
  // /stamp/{id}/{size}/{text}.png
  std::string_view rest = path.substr(7);
  size_t s1 = rest.find('/');
  size_t s2 = s1 == std::string_view::npos ? s1 : rest.find('/', s1 + 1);
  if (s2 == std::string_view::npos || rest.find('/', s2 + 1) != std::string_view::npos || !rest.ends_with(".png"))
    return plain(404, "not found");
  std::string_view idPart = rest.substr(0, s1), sizePart = rest.substr(s1 + 1, s2 - s1 - 1);
  std::string_view textPart = rest.substr(s2 + 1, rest.size() - s2 - 1 - 4);
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
  auto body = renderPng(request, stampPath(request));
  if (!body) return plain(500, "rendering failed");
  Response r;
  r.contentType = "image/png";
  r.headers.emplace_back("Cache-Control", "public, max-age=31536000, immutable");
  r.body = std::move(body);
  return r;
}

Response StampService::thumbnail(std::string_view name) {
  const Template* tmpl = catalog_.byThumbnail(name);
  auto format = formatFromName(name);
  if (!tmpl || !format) return plain(404, "not found");
  std::string key = "/maker/thumbnails/" + std::string(name);
  auto body = cache_.get(key);
  if (!body) {
    auto sample = text::decodeUtf8(tmpl->style.sample);
    std::u32string t = sample && sample->size() >= 2 ? *sample : U"天宝";
    while (text::cellCount(t) > tmpl->style.maxChars) t.pop_back();
    NaturalSize nat = naturalSize(tmpl->style.shape);
    int longSide = std::min(kThumbnailMax, std::max(nat.width, nat.height));
    Raster raster = renderStamp(fonts_, tmpl->style, t, longSide);
    std::string bytes = encode(raster, tmpl->style.color, *format);
    if (bytes.empty()) return plain(500, "encoding failed");
    body = makeBody(std::move(bytes));
    cache_.put(key, body);
  }
  Response r;
  r.contentType = contentType(*format);
  r.headers.emplace_back("Cache-Control", "public, max-age=86400");
  r.body = std::move(body);
  return r;
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
