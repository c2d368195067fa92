#include "picture/font_family.h"

#include "picture/font_collection.h"
#include "picture/gdiplus_api.h"
#include "runtime/text.h"

TAMBREL_GDIP(GdipDeleteFontFamily)
TAMBREL_GDIP(GdipCreateFontFamilyFromName)
TAMBREL_GDIP(GdipGetGenericFontFamilySansSerif)
TAMBREL_GDIP(GdipGetGenericFontFamilySerif)
TAMBREL_GDIP(GdipGetGenericFontFamilyMonospace)
TAMBREL_GDIP(GdipCloneFontFamily)
TAMBREL_GDIP(GdipGetFamilyName)
TAMBREL_GDIP(GdipIsStyleAvailable)
TAMBREL_GDIP(GdipGetEmHeight)
TAMBREL_GDIP(GdipGetCellAscent)
TAMBREL_GDIP(GdipGetCellDescent)
TAMBREL_GDIP(GdipGetLineSpacing)

namespace tambrel {


bool FontFamily::Dispose() {
  if (!family_) return false;
  const bool ok = RecordStatus(gdip::GdipDeleteFontFamily(family_));
  SetNativeHandle(nullptr);
  return ok;
}

bool FontFamily::CreateFromName(const char* name, const FontCollection& collection) {
  return CreateFromNameW(text_to_wide(name).c_str(), collection);
}
bool FontFamily::CreateFromNameW(const wchar_t* name, const FontCollection& collection) {
  Dispose();
  gp::GpFontFamily* family = nullptr;
  return StoreNew(gdip::GdipCreateFontFamilyFromName(name ? name : L"", collection.collection(), &family), family);
}
bool FontFamily::GenericSansSerif() {
  Dispose();
  gp::GpFontFamily* family = nullptr;
  return StoreNew(gdip::GdipGetGenericFontFamilySansSerif(&family), family);
}
bool FontFamily::GenericSerif() {
  Dispose();
  gp::GpFontFamily* family = nullptr;
  return StoreNew(gdip::GdipGetGenericFontFamilySerif(&family), family);
}
bool FontFamily::GenericMonospace() {
  Dispose();
  gp::GpFontFamily* family = nullptr;
  return StoreNew(gdip::GdipGetGenericFontFamilyMonospace(&family), family);
}
bool FontFamily::CloneTo(FontFamily& target) const {
  gp::GpFontFamily* clone = nullptr;
  if (!RecordStatus(gdip::GdipCloneFontFamily(family_, &clone))) return false;
  target.Dispose();
  return target.StoreNew(gp::Ok, clone);
}
std::wstring FontFamily::GetFamilyNameW(std::optional<LANGID> language) const {
  WCHAR name[LF_FACESIZE] = {};
  if (!RecordStatus(gdip::GdipGetFamilyName(family_, name, language.value_or(0)))) return {};
  return name;
}
Text FontFamily::GetFamilyName(std::optional<LANGID> language) const {
  return wide_to_text(GetFamilyNameW(language).c_str());
}
bool FontFamily::IsStyleAvailable(int style) const {
  BOOL available = FALSE;
  RecordStatus(gdip::GdipIsStyleAvailable(family_, style, &available));
  return available != FALSE;
}
int FontFamily::GetEmHeight(int style) const {
  UINT16 value = 0;
  RecordStatus(gdip::GdipGetEmHeight(family_, style, &value));
  return value;
}
int FontFamily::GetCellAscent(int style) const {
  UINT16 value = 0;
  RecordStatus(gdip::GdipGetCellAscent(family_, style, &value));
  return value;
}
int FontFamily::GetCellDescent(int style) const {
  UINT16 value = 0;
  RecordStatus(gdip::GdipGetCellDescent(family_, style, &value));
  return value;
}
int FontFamily::GetLineSpacing(int style) const {
  UINT16 value = 0;
  RecordStatus(gdip::GdipGetLineSpacing(family_, style, &value));
  return value;
}

}  // namespace tambrel
