// Picture encoders; see encode.h.
#include "encode/encode.h"

#include <gif_lib.h>
#include <libdeflate.h>
#include <turbojpeg.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "encode/deflate_runs.h"

namespace tambrel {
namespace {

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

namespace {

void putBe32(std::string& out, uint32_t v) {
  const char b[4] = {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                     static_cast<char>(v)};
  out.append(b, 4);
}

void putChunk(std::string& out, const char type[4], const void* data, size_t size) {
  putBe32(out, static_cast<uint32_t>(size));
  const size_t start = out.size();
  out.append(type, 4);
  if (size) out.append(static_cast<const char*>(data), size);
  putBe32(out, libdeflate_crc32(0, out.data() + start, size + 4));
}

// Scratch kept by each thread between pictures, so a stamp costs no fresh pages; buffers grown
// for a very large picture are given back rather than kept.
struct PngScratch {
  std::vector<uint8_t> rows;  // filter byte + row, for every row
  std::vector<uint8_t> zlib;  // the IDAT payload
  static constexpr size_t kKeepBytes = 2u << 20;
  void trim() {
    if (rows.capacity() > kKeepBytes) std::vector<uint8_t>().swap(rows);
    if (zlib.capacity() > kKeepBytes) std::vector<uint8_t>().swap(zlib);
  }
};

}  // namespace

// The PNG is framed here and its image data compressed by deflateRuns(): coverage rows are long
// runs of 0 and 255 between anti-aliased edges, and matching each byte against the one before
// it alone finds nearly all there is to find. zlib's run-length strategy parses the same way but
// spends about as long again on its general machinery (window slides, a match index it never
// reads, 16-bit bit output); the encode was two fifths of a stamp's time under load. Rows are
// left unfiltered: mostly-empty rows compress well as they are, and filtering costs more than it
// saves. Checksums are libdeflate's vectorised routines.
std::string encodePng(const Raster& raster, uint32_t rgb, bool physicalSize) {
  if (raster.width <= 0 || raster.height <= 0) return {};
  thread_local PngScratch scratch;
  struct Trim {
    ~Trim() { scratch.trim(); }
  } trimAfter;
  const size_t width = static_cast<size_t>(raster.width), height = static_cast<size_t>(raster.height);
  const size_t rowBytes = width + 1;
  scratch.rows.resize(rowBytes * height);
  for (size_t y = 0; y < height; ++y) {
    uint8_t* row = scratch.rows.data() + y * rowBytes;
    row[0] = 0;  // filter: none
    std::memcpy(row + 1, raster.alpha.data() + y * static_cast<size_t>(raster.stride), width);
  }
  // Grown, never shrunk to fit: a resize would clear the bytes deflate is about to write.
  const size_t most = 2 + deflateRunsBound(scratch.rows.size()) + 4;
  if (scratch.zlib.size() < most) scratch.zlib.resize(most);
  scratch.zlib[0] = 0x78, scratch.zlib[1] = 0x01;  // deflate, 32 KB window, fastest level
  size_t idat = 2 + deflateRuns(scratch.rows.data(), scratch.rows.size(), scratch.zlib.data() + 2);
  const uint32_t adler = libdeflate_adler32(1, scratch.rows.data(), scratch.rows.size());
  for (int shift = 24; shift >= 0; shift -= 8) scratch.zlib[idat++] = static_cast<uint8_t>(adler >> shift);

  uint8_t ihdr[13] = {};
  for (int i = 0; i < 4; ++i) {
    ihdr[i] = static_cast<uint8_t>(width >> (24 - 8 * i));
    ihdr[4 + i] = static_cast<uint8_t>(height >> (24 - 8 * i));
  }
  ihdr[8] = 8;  // bits per index
  ihdr[9] = 3;  // palette; compression, filter method and interlace stay 0
  uint8_t plte[256 * 3], trns[256];
  for (int i = 0; i < 256; ++i) {
    plte[3 * i] = static_cast<uint8_t>(rgb >> 16), plte[3 * i + 1] = static_cast<uint8_t>(rgb >> 8),
    plte[3 * i + 2] = static_cast<uint8_t>(rgb);
    trns[i] = static_cast<uint8_t>(i);
  }
  std::string out;
  out.reserve(8 + (12 + sizeof ihdr) + (12 + sizeof plte) + (12 + sizeof trns) + (12 + 9) + (12 + idat) + 12);
  out.append("\x89PNG\r\n\x1a\n", 8);
  putChunk(out, "IHDR", ihdr, sizeof ihdr);
  putChunk(out, "PLTE", plte, sizeof plte);
  putChunk(out, "tRNS", trns, sizeof trns);
  if (physicalSize && raster.pxPerMm > 0) {
    const uint32_t perMetre = static_cast<uint32_t>(std::lround(raster.pxPerMm * 1000));
    uint8_t phys[9];
    for (int i = 0; i < 4; ++i) phys[i] = phys[4 + i] = static_cast<uint8_t>(perMetre >> (24 - 8 * i));
    phys[8] = 1;  // unit: metre
    putChunk(out, "pHYs", phys, sizeof phys);
  }
  putChunk(out, "IDAT", scratch.zlib.data(), idat);
  putChunk(out, "IEND", nullptr, 0);
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
