// What a stamp request is: the limits, the parsing and checking of /aosbegin.php's query and of
// a picture path's text, the picture path itself and the formats it names. Pure functions of
// the catalogue, so the web page's catalogue listing and the service share one definition.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "catalog/catalog.h"

namespace tambrel {

// Limits of a stamp request.
constexpr int kMinSignSize = 64;
constexpr int kMaxSignSize = 2048;
constexpr int kMinChars = 2;
constexpr int kThumbnailMax = 300;
// The smaller thumbnail a page asks for as /maker/thumbnails/{kThumbnailSmall}/{file}, for
// galleries that show it at that size (the plain path's picture is for screens with denser pixels).
constexpr int kThumbnailSmall = 128;
// The line under the star of templates that have one (合同专用章): "name|line" replaces it. It
// is drawn across the seal's middle and shrinks with every character, so it holds a title's
// worth, counted in cells like the name.
constexpr int kMaxLineCells = 12;
// No picture within the text limits comes near this (a 2048 px PNG is under 2 MB, an SVG or
// PDF of the longest text a few hundred KB); a larger one is refused, never cached.
constexpr size_t kMaxPictureBytes = 4u << 20;

// Parsed and validated /aosbegin.php parameters.
struct StampRequest {
  const Template* tmpl = nullptr;
  std::u32string text;  // trimmed, at least 2 characters in at most maxChars cells, no control characters
  int size = 0;         // 0: natural size; else 64..2048
};

// signsize rules: "0", empty or not a number → 0 (natural); otherwise clamped to 64..2048.
int normaliseSignSize(std::string_view raw);

// Decodes a stamp text parameter (percent-escapes, then UTF-8 or GBK), trims spaces and checks
// it against the template; on failure returns nullopt and a message for the client.
std::optional<std::u32string> decodeStampText(std::string_view raw, const Template& tmpl, std::string* error);

// Parses the query of /aosbegin.php. The desktop tool does not encode its text, so an '&' in a
// text splits it; parts after "text=" that are not one of the known keys are joined back
// into the text. Missing text or id, a repeated key, bad text or an unknown id fail.
std::optional<StampRequest> parseStampQuery(std::string_view query, const Catalog& catalog, std::string* error);

// "/stamp/368/0/%E5%BC%A0%E4%B8%89.png": pure ASCII, self-describing.
std::string stampPath(const StampRequest& request, std::string_view extension = "png");

// The picture formats /stamp/{id}/{size}/{text}.{extension} serves, one list for the route
// and the web page (which offers a download button for each, read from /templates.json). PNG
// is the picture the desktop tool asks for, {size} pixels on its longer side; SVG and PDF are
// the same stamp as vectors at the seal's real size in millimetres, whatever {size} says.
struct StampFormat {
  std::string_view extension;
  std::string_view contentType;
};
inline constexpr std::array<StampFormat, 3> kStampFormats = {{
    {"png", "image/png"},
    {"svg", "image/svg+xml"},
    {"pdf", "application/pdf"},
}};

}  // namespace tambrel
