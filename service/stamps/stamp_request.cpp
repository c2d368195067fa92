// Stamp request parsing; see stamp_request.h.
#include "stamps/stamp_request.h"

#include "text/text.h"

namespace tambrel {

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
  // The optional "|line" of templates with a horizontal line does not count against the ring,
  // but has a capacity of its own: every character costs drawing time and output size.
  std::u32string_view counted = t;
  if (tmpl.style.bottom == Bottom::Text) {
    size_t bar = t.find(U'|');
    if (bar != std::u32string::npos) {
      counted = counted.substr(0, bar);
      if (text::cellCount(std::u32string_view(t).substr(bar + 1)) > kMaxLineCells) {
        *error = "the line after '|' holds at most " + std::to_string(kMaxLineCells) + " characters for template " +
                 std::to_string(tmpl.id) + " (two Latin letters or digits count as one)";
        return std::nullopt;
      }
    }
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

std::string stampPath(const StampRequest& request, std::string_view extension) {
  return "/stamp/" + std::to_string(request.tmpl->id) + "/" + std::to_string(request.size) + "/" +
         text::percentEncode(text::encodeUtf8(request.text)) + "." + std::string(extension);
}

}  // namespace tambrel
