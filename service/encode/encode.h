// Encoders from a coverage raster and one colour to picture files.
// PNG: 8-bit palette whose entry i is the colour at opacity i (tRNS), so the coverage bytes are
// the pixel indexes; deflated fast (run-length matching, deflate_runs.h) because encoding time,
// not size, dominates the service's cost. JPEG (libturbojpeg) and GIF (giflib) have no alpha
// worth the name, so they are composed on white; GIF keeps index 0 transparent.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "draw/render.h"

namespace tambrel {

enum class ImageFormat { Png, Jpeg, Gif };

// From a file name's extension (case-insensitive): .png, .jpg/.jpeg, .gif.
std::optional<ImageFormat> formatFromName(std::string_view name);
const char* contentType(ImageFormat format);

// Empty string on failure (out of memory inside a codec).
std::string encode(const Raster& raster, uint32_t rgb, ImageFormat format);
// physicalSize adds a pHYs chunk from raster.pxPerMm, so that documents insert the picture at
// the seal's real size whatever its pixel size.
std::string encodePng(const Raster& raster, uint32_t rgb, bool physicalSize = false);
std::string encodeJpeg(const Raster& raster, uint32_t rgb, int quality = 90);
std::string encodeGif(const Raster& raster, uint32_t rgb);

}  // namespace tambrel
