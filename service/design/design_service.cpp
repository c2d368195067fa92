// The design endpoints; see design_service.h.
#include "design/design_service.h"

#include "draw/render.h"
#include "draw/vector.h"
#include "encode/encode.h"
#include "stamps/stamp_request.h"
#include "text/text.h"

namespace tambrel {
namespace {

Response json(int status, std::string body, bool cacheable = false) {
  Response r;
  r.status = status;
  r.contentType = "application/json; charset=utf-8";
  r.headers.emplace_back("Cache-Control", cacheable ? "public, max-age=31536000, immutable" : "no-store");
  r.body = std::make_shared<const std::string>(std::move(body));
  return r;
}

Response plain(int status, std::string text) {
  Response r;
  r.status = status;
  r.body = std::make_shared<const std::string>(std::move(text) + "\n");
  return r;
}

const StampFormat* formatOf(std::string_view path) {
  for (const StampFormat& f : kStampFormats)
    if (path.size() == 8 + f.extension.size() && path.starts_with("/design.") && path.ends_with(f.extension))
      return &f;
  return nullptr;
}

}  // namespace

std::string renderDesign(const FontSet& fonts, const design::Design& d, std::string_view extension, int px) {
  const design::DrawInput in = design::toDrawInput(d);
  if (extension == "png") return encodePng(renderStamp(fonts, in.style, in.text, px), in.style.color, true);
  return renderStampVector(fonts, in.style, in.text, extension == "svg" ? VectorFormat::Svg : VectorFormat::Pdf);
}

DesignService::DesignService(const Catalog& catalog, const FontSet& fonts, LruCache& cache)
    : catalog_(catalog), fonts_(fonts), cache_(cache), fontsJson_(design::fontsJson(fonts)) {}

size_t DesignService::bodyLimit(std::string_view method, std::string_view target) {
  std::string_view path = target.substr(0, target.find('?'));
  if (method == "POST" && (formatOf(path) || path == "/design.json")) return design::Limits::kMaxJsonBytes;
  return 0;
}

Response DesignService::picture(const design::Parsed& parsed, std::string_view extension, bool post) {
  if (!parsed.design) return json(400, design::errorsJson(parsed.errors));
  const design::Design& d = *parsed.design;
  if (auto missing = design::missingFaces(d, fonts_); !missing.empty()) return json(400, design::errorsJson(missing));
  // The canonical query names everything the picture depends on (the PNG also its size).
  std::string key = "/design." + std::string(extension) + "?" + design::toQuery(d);
  if (extension == "png") key += "&px=" + std::to_string(parsed.px);
  Response r;
  for (const StampFormat& f : kStampFormats)
    if (f.extension == extension) r.contentType = std::string(f.contentType);
  // A GET names the whole design, so its answer never changes; a POST's body is not in its URL.
  r.headers.emplace_back("Cache-Control", post ? "no-store" : "public, max-age=31536000, immutable");
  if (auto hit = cache_.find(key)) {
    r.body = std::move(hit);
    return r;
  }
  // Drawing is the costly part: it runs where costly work runs (the server's render pool).
  Response later;
  later.deferred = [this, d, ext = std::string(extension), px = parsed.px, key = std::move(key), r]() mutable {
    auto body = cache_.get(key);  // drawn for another request while this one waited
    // As for the stamps: a picture over the cap is refused rather than cached and sent.
    if (!body) body = cache_.keep(key, renderDesign(fonts_, d, ext, px), kMaxPictureBytes);
    if (!body) return plain(500, "rendering failed");
    r.body = std::move(body);
    return r;
  };
  return later;
}

std::optional<Response> DesignService::handle(std::string_view method, std::string_view target, std::string_view body) {
  const size_t q = target.find('?');
  const std::string_view path = target.substr(0, q);
  const std::string_view query = q == std::string_view::npos ? std::string_view() : target.substr(q + 1);
  const StampFormat* format = formatOf(path);
  const bool isJson = path == "/design.json";
  if (!format && !isJson && path != "/design/fonts.json" && path != "/design/template.json") return std::nullopt;
  const bool post = method == "POST";
  if (post && !format && !isJson) {
    Response r = plain(405, "method not allowed");
    r.headers.emplace_back("Allow", "GET, HEAD");
    return r;
  }
  if (path == "/design/fonts.json") return json(200, fontsJson_);
  if (path == "/design/template.json") {
    const Template* tmpl = nullptr;
    std::u32string text;
    for (const text::QueryParam& p : text::splitQuery(query)) {
      if (p.key == "id") {
        auto id = text::parseInteger(text::percentDecode(p.value));
        if (id && *id > 0 && *id < 1000000) tmpl = catalog_.byId(static_cast<int>(*id));
      } else if (p.key == "text") {
        auto t = text::decodeUtf8(text::percentDecode(p.value));
        if (t) text = text::trimSpaces(*t);
      }
    }
    if (!tmpl) return plain(404, "unknown template id");
    if (text.empty()) text = text::decodeUtf8(tmpl->style.sample).value_or(U"天宝");
    // The template's own text rules: a text it could not hold starts the design from its sample.
    if (text.size() > static_cast<size_t>(design::Limits::kMaxRingChars))
      text = text::decodeUtf8(tmpl->style.sample).value_or(U"天宝");
    design::Design d = design::fromTemplate(*tmpl, text);
    // What the checks refuse (a sample too long for a shape's bounds) starts from the sample's head.
    design::Parsed checked = design::parseQuery(design::toQuery(d));
    if (!checked.design) return json(400, design::errorsJson(checked.errors));
    return json(200, design::toJson(*checked.design));
  }
  design::Parsed parsed;
  if (post) {
    parsed = design::parseJson(body);
    // The PNG's size comes from the query; the body is the design alone.
    for (const text::QueryParam& p : text::splitQuery(query)) {
      if (p.key != "px") continue;
      auto n = text::parseInteger(text::percentDecode(p.value));
      if (!n || (*n != 0 && (*n < kMinSignSize || *n > kMaxSignSize))) {
        parsed.design.reset();
        parsed.errors.push_back({"px", "图片尺寸（px）须为 0 或 64 到 2048 之间的整数", "px must be 0 or a whole number from 64 to 2048"});
      } else {
        parsed.px = static_cast<int>(*n);
      }
    }
  } else {
    parsed = design::parseQuery(query);
  }
  if (isJson) {
    if (!parsed.design) return json(400, design::errorsJson(parsed.errors));
    return json(200, design::toJson(*parsed.design), !post);
  }
  return picture(parsed, format->extension, post);
}

}  // namespace tambrel
