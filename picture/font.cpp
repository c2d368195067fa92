#include "picture/font.h"

#include "picture/drawing_surface.h"
#include "picture/font_collection.h"
#include "picture/font_family.h"
#include "picture/gdiplus_api.h"
#include "runtime/text.h"

TAMBREL_GDIP(GdipDeleteFont)
TAMBREL_GDIP(GdipCreateFont)
TAMBREL_GDIP(GdipCreateFontFromLogfontA)
TAMBREL_GDIP(GdipCreateFontFromDC)
TAMBREL_GDIP(GdipCreateFontFromLogfontW)
TAMBREL_GDIP(GdipCloneFont)
TAMBREL_GDIP(GdipGetLogFontA)
TAMBREL_GDIP(GdipGetLogFontW)
TAMBREL_GDIP(GdipGetFamily)
TAMBREL_GDIP(GdipGetFontStyle)
TAMBREL_GDIP(GdipGetFontSize)
TAMBREL_GDIP(GdipGetFontUnit)
TAMBREL_GDIP(GdipGetFontHeight)
TAMBREL_GDIP(GdipGetFontHeightGivenDPI)
TAMBREL_SYS("user32", GetDC)
TAMBREL_SYS("user32", ReleaseDC)
TAMBREL_SYS("gdi32", GetStockObject)
TAMBREL_SYS("gdi32", GetObjectA)

namespace tambrel {


bool Font::Dispose() {
  if (!font_) return false;
  const bool ok = RecordStatus(gdip::GdipDeleteFont(font_));
  SetNativeHandle(nullptr);
  return ok;
}

bool Font::Create(const FontFamily& family, float size, std::optional<int> style, std::optional<int> unit) {
  Dispose();
  gp::GpFont* font = nullptr;
  return StoreNew(gdip::GdipCreateFont(family.family(), size, style.value_or(gp::FontStyleRegular),
                                       static_cast<gp::Unit>(unit.value_or(gp::UnitWorld)), &font),
                  font);
}

bool Font::CreateDefault() {
  Dispose();
  auto gui_font = static_cast<HFONT>(sys::GetStockObject(DEFAULT_GUI_FONT));  // 17
  auto* logfont = static_cast<LOGFONTA*>(NativeAlloc(sizeof(LOGFONTA)));      // 60 bytes
  if (!logfont) return RecordStatus(gp::OutOfMemory);
  *logfont = LOGFONTA{};
  sys::GetObjectA(gui_font, sizeof(LOGFONTA), logfont);
  HDC screen = sys::GetDC(nullptr);
  gp::GpFont* font = nullptr;
  const GpStatus status = gdip::GdipCreateFontFromLogfontA(screen, logfont, &font);
  sys::ReleaseDC(nullptr, screen);
  NativeFree(logfont);
  return StoreNew(status, font);
}

bool Font::CreateByName(const char* family_name, float size, std::optional<int> style, std::optional<int> unit) {
  return CreateByNameW(text_to_wide(family_name).c_str(), size, style, unit);
}

bool Font::CreateByNameW(const wchar_t* family_name, float size, std::optional<int> style, std::optional<int> unit) {
  FontFamily family;
  {
    // No native collection: the family is looked up among the installed fonts.
    FontCollection installed;
    family.CreateFromNameW(family_name, installed);
  }
  // A family that is not installed leaves a null family, which GDI+ refuses here.
  return Create(family, size, style, unit);
}

bool Font::CreateFromDC(HDC dc) {
  Dispose();
  gp::GpFont* font = nullptr;
  return StoreNew(gdip::GdipCreateFontFromDC(dc, &font), font);
}

bool Font::CreateFromHFONT(HDC dc, HFONT hfont) {
  if (!hfont) return CreateFromDC(dc);
  LOGFONTA logfont{};
  if (!sys::GetObjectA(hfont, sizeof logfont, &logfont)) {
    Dispose();
    return RecordStatus(gp::InvalidParameter);
  }
  return CreateFromLogfontA(dc, logfont);
}

bool Font::CreateFromLogfontA(HDC dc, const LOGFONTA& logfont) {
  Dispose();
  gp::GpFont* font = nullptr;
  LOGFONTA copy = logfont;
  return StoreNew(gdip::GdipCreateFontFromLogfontA(dc, &copy, &font), font);
}

bool Font::CreateFromLogfontW(HDC dc, const LOGFONTW& logfont) {
  Dispose();
  gp::GpFont* font = nullptr;
  return StoreNew(gdip::GdipCreateFontFromLogfontW(dc, &logfont, &font), font);
}

bool Font::CloneTo(Font& target) const {
  gp::GpFont* clone = nullptr;
  if (!RecordStatus(gdip::GdipCloneFont(font_, &clone))) return false;
  target.Dispose();
  return target.StoreNew(gp::Ok, clone);
}

bool Font::GetLogFontA(const DrawingSurface& surface, LOGFONTA& logfont) const {
  return RecordStatus(gdip::GdipGetLogFontA(font_, surface.graphics(), &logfont));
}
bool Font::GetLogFontW(const DrawingSurface& surface, LOGFONTW& logfont) const {
  return RecordStatus(gdip::GdipGetLogFontW(font_, surface.graphics(), &logfont));
}
bool Font::GetFamily(FontFamily& family) const {
  gp::GpFontFamily* own = nullptr;
  if (!RecordStatus(gdip::GdipGetFamily(font_, &own))) return false;
  family.Dispose();
  return family.StoreNew(gp::Ok, own);
}
int Font::GetStyle() const {
  INT style = 0;
  RecordStatus(gdip::GdipGetFontStyle(font_, &style));
  return style;
}
float Font::GetSize() const {
  gp::REAL size = 0;
  RecordStatus(gdip::GdipGetFontSize(font_, &size));
  return size;
}
int Font::GetUnit() const {
  gp::Unit unit{};
  RecordStatus(gdip::GdipGetFontUnit(font_, &unit));
  return unit;
}
float Font::GetHeight(const DrawingSurface& surface) const {
  gp::REAL height = 0;
  RecordStatus(gdip::GdipGetFontHeight(font_, surface.graphics(), &height));
  return height;
}
float Font::GetHeightGivenDPI(float dpi) const {
  gp::REAL height = 0;
  RecordStatus(gdip::GdipGetFontHeightGivenDPI(font_, dpi, &height));
  return height;
}

}  // namespace tambrel
