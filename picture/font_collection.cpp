#include "picture/font_collection.h"

#include "picture/font_family.h"
#include "picture/gdiplus_api.h"

TAMBREL_GDIP(GdipNewInstalledFontCollection)
TAMBREL_GDIP(GdipGetFontCollectionFamilyCount)
TAMBREL_GDIP(GdipGetFontCollectionFamilyList)
TAMBREL_GDIP(GdipCloneFontFamily)

namespace tambrel {

bool FontCollection::CreateInstalled() {
  gp::GpFontCollection* installed = nullptr;
  const bool ok = RecordStatus(gdip::GdipNewInstalledFontCollection(&installed));
  SetNativeHandle(ok ? installed : nullptr);
  return ok;
}

bool FontCollection::GetFamilies(std::vector<FontFamily>& families) const {
  INT count = 0;
  if (!RecordStatus(gdip::GdipGetFontCollectionFamilyCount(collection_, &count))) return false;
  std::vector<gp::GpFontFamily*> list(size_t(count > 0 ? count : 0));
  INT found = 0;
  if (count > 0 && !RecordStatus(gdip::GdipGetFontCollectionFamilyList(collection_, count, list.data(), &found)))
    return false;
  // The listed families stay the collection's; each object gets a copy of its own.
  std::vector<FontFamily> result(size_t(found > 0 ? found : 0));
  for (size_t i = 0; i < result.size(); ++i) {
    gp::GpFontFamily* copy = nullptr;
    if (!result[i].StoreNew(gdip::GdipCloneFontFamily(list[i], &copy), copy)) return false;
  }
  families = std::move(result);
  return RecordStatus(gp::Ok);
}

}  // namespace tambrel
