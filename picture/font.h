// A font: a family at a size, style and unit. The gallery painter makes its fonts by family
// name; creating a font into an object that holds one disposes the old font first.
#pragma once

#include <windows.h>

#include <optional>

#include "picture/native_object.h"

namespace tambrel {

class DrawingSurface;
class FontFamily;

class Font : public NativeObject {
 public:
  Font() = default;
  Font(Font&& o) noexcept { TakeNative(o); }
  Font& operator=(Font&& o) noexcept {
    if (this != &o) {
      Dispose();
      TakeNative(o);
    }
    return *this;
  }
  ~Font() override { Dispose(); }

  gp::GpFont* font() const { return font_; }

  bool Dispose();
  // Style regular (0) and unit world (0) unless given.
  bool Create(const FontFamily& family, float size, std::optional<int> style = std::nullopt,
              std::optional<int> unit = std::nullopt);
  // The system's default GUI font.
  bool CreateDefault();
  // From an installed family of that name; false when no such family is installed.
  bool CreateByName(const char* family_name, float size, std::optional<int> style = std::nullopt,
                    std::optional<int> unit = std::nullopt);
  bool CreateByNameW(const wchar_t* family_name, float size, std::optional<int> style = std::nullopt,
                     std::optional<int> unit = std::nullopt);
  bool CreateFromDC(HDC dc);
  // The font's LOGFONT read from the HFONT; the DC's font when `font` is null.
  bool CreateFromHFONT(HDC dc, HFONT font);
  bool CreateFromLogfontA(HDC dc, const LOGFONTA& logfont);
  bool CreateFromLogfontW(HDC dc, const LOGFONTW& logfont);
  bool CloneTo(Font& target) const;
  bool GetLogFontA(const DrawingSurface& surface, LOGFONTA& logfont) const;
  bool GetLogFontW(const DrawingSurface& surface, LOGFONTW& logfont) const;
  // `family` receives a family object of its own.
  bool GetFamily(FontFamily& family) const;
  int GetStyle() const;
  float GetSize() const;
  int GetUnit() const;
  float GetHeight(const DrawingSurface& surface) const;
  float GetHeightGivenDPI(float dpi) const;

 protected:
  void StoreNative(void* h) override { font_ = static_cast<gp::GpFont*>(h); }

 private:
  gp::GpFont* font_ = nullptr;
};

}  // namespace tambrel
