// A font family: the installed typeface a font is made from. Owned like every other native
// object (deleted when the object goes), including the generic families, which GDI+ hands out
// as objects of their own.
#pragma once

#include <optional>
#include <string>

#include "picture/native_object.h"
#include "runtime/values.h"

namespace tambrel {

class FontCollection;

class FontFamily : public NativeObject {
 public:
  FontFamily() = default;
  FontFamily(FontFamily&& o) noexcept { TakeNative(o); }
  FontFamily& operator=(FontFamily&& o) noexcept {
    if (this != &o) {
      Dispose();
      TakeNative(o);
    }
    return *this;
  }
  ~FontFamily() override { Dispose(); }

  gp::GpFontFamily* family() const { return family_; }

  bool Dispose();
  // Looks the name up in the collection, or among the installed fonts when the collection
  // holds no native collection. The creating operations dispose a held family first.
  bool CreateFromName(const char* name, const FontCollection& collection);
  bool CreateFromNameW(const wchar_t* name, const FontCollection& collection);
  bool GenericSansSerif();
  bool GenericSerif();
  bool GenericMonospace();
  bool CloneTo(FontFamily& target) const;
  Text GetFamilyName(std::optional<LANGID> language = std::nullopt) const;
  std::wstring GetFamilyNameW(std::optional<LANGID> language = std::nullopt) const;
  bool IsStyleAvailable(int style) const;
  int GetEmHeight(int style) const;
  int GetCellAscent(int style) const;
  int GetCellDescent(int style) const;
  int GetLineSpacing(int style) const;

 protected:
  void StoreNative(void* h) override { family_ = static_cast<gp::GpFontFamily*>(h); }

 private:
  friend class FontCollection;
  friend class Font;

  gp::GpFontFamily* family_ = nullptr;
};

}  // namespace tambrel
