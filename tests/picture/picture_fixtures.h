// Shared by the picture-library tests: GDI+ started once per test process, encoded pictures
// made by GDI+'s own encoders, and pixel checks.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "picture/argb.h"
#include "picture/bitmap_picture.h"
#include "picture/drawing_surface.h"
#include "picture/native_object.h"

namespace tambrel::test {

// The GDI+ image format GUID texts, as GuidToText writes them.
inline constexpr const char* kPngFormat = "{B96B3CAF-0728-11D3-9D7B-0000F81EF32E}";
inline constexpr const char* kJpegFormat = "{B96B3CAE-0728-11D3-9D7B-0000F81EF32E}";
inline constexpr const char* kGifFormat = "{B96B3CB0-0728-11D3-9D7B-0000F81EF32E}";
inline constexpr const char* kBmpFormat = "{B96B3CAB-0728-11D3-9D7B-0000F81EF32E}";
inline constexpr const char* kMemoryBmpFormat = "{B96B3CAA-0728-11D3-9D7B-0000F81EF32E}";

class GdiPlusEnvironment : public testing::Environment {
 public:
  void SetUp() override { ASSERT_NE(StartGdiPlus(), 0u) << "GDI+ did not start"; }
};

// An encoded picture of one colour, made by GDI+'s encoder for `format`.
inline Bytes encoded_picture(const char* format, int width, int height, ARGB colour) {
  BitmapPicture bitmap;
  EXPECT_TRUE(bitmap.Create(width, height, kPixelFormat32bppARGB));
  {
    DrawingSurface surface;
    EXPECT_TRUE(surface.FromImage(bitmap));
    EXPECT_TRUE(surface.Clear(colour));
  }
  Bytes bytes = bitmap.SaveToBytes(format);
  EXPECT_FALSE(bytes.empty()) << "no encoder wrote " << format << ", status " << LastStatus();
  return bytes;
}

// A GIF of one colour, written here byte by byte: Wine's GIF encoder output of a 32-bit
// bitmap does not decode again, so the decoding test does not lean on it. Every pixel code is
// preceded by a clear code, so the LZW code width stays at 3 bits.
inline Bytes handmade_gif(int width, int height, uint8_t r, uint8_t g, uint8_t b) {
  std::string out = "GIF89a";
  auto word = [&](int v) {
    out += char(v & 0xFF);
    out += char((v >> 8) & 0xFF);
  };
  word(width);
  word(height);
  out += char(0x81);  // global colour table of 4 entries
  out += '\0';
  out += '\0';
  const uint8_t table[12] = {r, g, b, 0, 0, 0, 255, 255, 255, 0, 0, 0};
  out.append(reinterpret_cast<const char*>(table), sizeof table);
  out += char(0x2C);
  word(0);
  word(0);
  word(width);
  word(height);
  out += '\0';
  out += char(2);  // LZW minimum code size
  std::string data;
  uint32_t bits = 0;
  int bit_count = 0;
  auto code = [&](uint32_t c) {
    bits |= c << bit_count;
    bit_count += 3;
    while (bit_count >= 8) {
      data += char(bits & 0xFF);
      bits >>= 8;
      bit_count -= 8;
    }
  };
  for (int i = 0; i < width * height; ++i) {
    code(4);  // clear
    code(0);  // colour 0
  }
  code(5);  // end of information
  if (bit_count > 0) data += char(bits & 0xFF);
  for (size_t at = 0; at < data.size(); at += 255) {
    const size_t n = std::min<size_t>(255, data.size() - at);
    out += char(n);
    out.append(data, at, n);
  }
  out += '\0';
  out += char(0x3B);
  return Bytes(out.data(), out.size());
}

struct Rgb {
  int r, g, b;
};
inline Rgb rgb_of(ARGB c) { return {int((c >> 16) & 0xFF), int((c >> 8) & 0xFF), int(c & 0xFF)}; }
inline std::string describe(ARGB c) {
  char text[32];
  Rgb v = rgb_of(c);
  snprintf(text, sizeof text, "rgb(%d,%d,%d)", v.r, v.g, v.b);
  return text;
}
// Within `tolerance` of the expected colour in each channel.
inline bool near_colour(ARGB actual, Rgb expected, int tolerance) {
  Rgb a = rgb_of(actual);
  return std::abs(a.r - expected.r) <= tolerance && std::abs(a.g - expected.g) <= tolerance &&
         std::abs(a.b - expected.b) <= tolerance;
}

}  // namespace tambrel::test
