// Picture encoders; see encode.h.
#include "encode.h"

#include <gif_lib.h>
#include <spng.h>
#include <turbojpeg.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace tambrel {
namespace {

struct SpngDeleter {
  void operator()(spng_ctx* c) const { spng_ctx_free(c); }
};
struct TjDeleter {
  void operator()(void* h) const { tjDestroy(h); }
};

uint8_t blendOnWhite(int channel, int alpha) { return static_cast<uint8_t>(255 - ((255 - channel) * alpha + 127) / 255); }

}  // namespace

std::optional<ImageFormat> formatFromName(std::string_view name) {
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return std::nullopt;
  std::string ext(name.substr(dot + 1));
  for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  if (ext == "png") return ImageFormat::Png;
  if (ext == "jpg" || ext == "jpeg") return ImageFormat::Jpeg;
  if (ext == "gif") return ImageFormat::Gif;
  return std::nullopt;
}

const char* contentType(ImageFormat format) {
  switch (format) {
    case ImageFormat::Png: return "image/png";
    case ImageFormat::Jpeg: return "image/jpeg";
    case ImageFormat::Gif: return "image/gif";
  }
  return "application/octet-stream";
}

std::string encode(const Raster& raster, uint32_t rgb, ImageFormat format) {
  switch (format) {
    case ImageFormat::Png: return encodePng(raster, rgb);
    case ImageFormat::Jpeg: return encodeJpeg(raster, rgb);
    case ImageFormat::Gif: return encodeGif(raster, rgb);
  }
  return {};
}

std::string encodePng(const Raster& raster, uint32_t rgb, bool physicalSize) {
  std::unique_ptr<spng_ctx, SpngDeleter> ctx(spng_ctx_new(SPNG_CTX_ENCODER));
  if (!ctx) return {};
  spng_set_option(ctx.get(), SPNG_ENCODE_TO_BUFFER, 1);
  spng_set_option(ctx.get(), SPNG_IMG_COMPRESSION_LEVEL, 1);
  // Run-length matching only: coverage rows are long runs of 0 and 255, and RLE is several
  // times faster than a full match search for nearly the same size.
  spng_set_option(ctx.get(), SPNG_IMG_COMPRESSION_STRATEGY, 3 /* Z_RLE */);
  // Mostly-empty rows compress well unfiltered; adaptive filtering costs more than it saves.
  spng_set_option(ctx.get(), SPNG_FILTER_CHOICE, SPNG_FILTER_CHOICE_NONE);
  spng_ihdr ihdr{};
  ihdr.width = static_cast<uint32_t>(raster.width);
  ihdr.height = static_cast<uint32_t>(raster.height);
  ihdr.bit_depth = 8;
  ihdr.color_type = SPNG_COLOR_TYPE_INDEXED;
  spng_set_ihdr(ctx.get(), &ihdr);
  spng_plte plte{};
  plte.n_entries = 256;
  spng_trns trns{};
  trns.n_type3_entries = 256;
  for (int i = 0; i < 256; ++i) {
    plte.entries[i] = {static_cast<uint8_t>(rgb >> 16), static_cast<uint8_t>(rgb >> 8), static_cast<uint8_t>(rgb), 255};
    trns.type3_alpha[i] = static_cast<uint8_t>(i);
  }
  spng_set_plte(ctx.get(), &plte);
  spng_set_trns(ctx.get(), &trns);
  if (physicalSize && raster.pxPerMm > 0) {
    spng_phys phys{};
    phys.ppu_x = phys.ppu_y = static_cast<uint32_t>(std::lround(raster.pxPerMm * 1000));
    phys.unit_specifier = 1;  // metre
    spng_set_phys(ctx.get(), &phys);
  }
  if (spng_encode_image(ctx.get(), nullptr, 0, SPNG_FMT_PNG, SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE) != 0) return {};
  for (int y = 0; y < raster.height; ++y) {
    if (spng_encode_row(ctx.get(), raster.alpha.data() + static_cast<size_t>(y) * raster.stride,
                        static_cast<size_t>(raster.width)) != 0 &&
        y != raster.height - 1)
      return {};
  }
  size_t size = 0;
  int err = 0;
  void* buffer = spng_get_png_buffer(ctx.get(), &size, &err);
  if (!buffer) return {};
  std::string out(static_cast<const char*>(buffer), size);
  free(buffer);
  return out;
}

std::string encodeJpeg(const Raster& raster, uint32_t rgb, int quality) {
  std::unique_ptr<void, TjDeleter> tj(tjInitCompress());
  if (!tj) return {};
  const int r = (rgb >> 16) & 255, g = (rgb >> 8) & 255, b = rgb & 255;
  std::vector<uint8_t> pixels(static_cast<size_t>(raster.width) * raster.height * 3);
  uint8_t lut[256][3];
  for (int a = 0; a < 256; ++a) lut[a][0] = blendOnWhite(r, a), lut[a][1] = blendOnWhite(g, a), lut[a][2] = blendOnWhite(b, a);
  for (int y = 0; y < raster.height; ++y)
    for (int x = 0; x < raster.width; ++x) std::memcpy(&pixels[(static_cast<size_t>(y) * raster.width + x) * 3], lut[raster.at(x, y)], 3);
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  if (tjCompress2(tj.get(), pixels.data(), raster.width, 0, raster.height, TJPF_RGB, &jpeg, &size, TJSAMP_444, quality,
                  TJFLAG_FASTDCT) != 0) {
    tjFree(jpeg);
    return {};
  }
  std::string out(reinterpret_cast<const char*>(jpeg), size);
  tjFree(jpeg);
  return out;
}

std::string encodeGif(const Raster& raster, uint32_t rgb) {
  std::string out;
  int err = 0;
  auto write = [](GifFileType* gif, const GifByteType* data, int len) -> int {
    static_cast<std::string*>(gif->UserData)->append(reinterpret_cast<const char*>(data), static_cast<size_t>(len));
    return len;
  };
  GifFileType* gif = EGifOpen(&out, write, &err);
  if (!gif) return {};
  const int r = (rgb >> 16) & 255, g = (rgb >> 8) & 255, b = rgb & 255;
  GifColorType colors[256];
  for (int a = 0; a < 256; ++a) colors[a] = {blendOnWhite(r, a), blendOnWhite(g, a), blendOnWhite(b, a)};
  ColorMapObject* map = GifMakeMapObject(256, colors);
  bool ok = map && EGifPutScreenDesc(gif, raster.width, raster.height, 8, 0, map) == GIF_OK;
  if (ok) {
    GraphicsControlBlock gcb{};
    gcb.DisposalMode = DISPOSAL_UNSPECIFIED;
    gcb.TransparentColor = 0;
    GifByteType ext[4];
    size_t len = EGifGCBToExtension(&gcb, ext);
    ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(len), ext) == GIF_OK &&
         EGifPutImageDesc(gif, 0, 0, raster.width, raster.height, false, nullptr) == GIF_OK;
  }
  for (int y = 0; ok && y < raster.height; ++y)
    ok = EGifPutLine(gif, const_cast<GifPixelType*>(raster.alpha.data() + static_cast<size_t>(y) * raster.stride),
                     raster.width) == GIF_OK;
  GifFreeMapObject(map);
  if (EGifCloseFile(gif, &err) != GIF_OK) ok = false;
  return ok ? out : std::string();
}

}  // namespace tambrel
