// Colours: the program holds Windows colour values (0x00BBGGRR); GDI+ takes ARGB
// (0xAARRGGBB). ToArgb swaps red and blue and puts the opacity on top.
#pragma once

#include <cstdint>
#include <optional>

namespace tambrel {

// Only the low byte of the alpha is used; the colour's top byte is ignored. Opaque (255)
// unless an alpha is given.
constexpr uint32_t ToArgb(uint32_t colour, std::optional<int32_t> alpha = std::nullopt) {
  const uint32_t red = colour & 0xFF, green = (colour >> 8) & 0xFF, blue = (colour >> 16) & 0xFF;
  const uint32_t a = static_cast<uint32_t>(alpha.value_or(255)) & 0xFF;
  return (a << 24) | (red << 16) | (green << 8) | blue;
}

}  // namespace tambrel
