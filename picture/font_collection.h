// A font collection: the families a font can be looked up in. An empty collection (no native
// collection) means the installed fonts. The collection itself belongs to GDI+ (the installed
// collection is never deleted), so this object only refers to it.
#pragma once

#include <vector>

#include "picture/native_object.h"

namespace tambrel {

class FontFamily;

class FontCollection : public NativeObject {
 public:
  FontCollection() = default;
  FontCollection(FontCollection&& o) noexcept { TakeNative(o); }
  FontCollection& operator=(FontCollection&& o) noexcept {
    if (this != &o) TakeNative(o);
    return *this;
  }

  gp::GpFontCollection* collection() const { return collection_; }

  // Refers to the collection of installed fonts.
  bool CreateInstalled();
  // One family object per family of the collection; each owns a copy of its family.
  bool GetFamilies(std::vector<FontFamily>& families) const;

 protected:
  void StoreNative(void* h) override { collection_ = static_cast<gp::GpFontCollection*>(h); }

 private:
  gp::GpFontCollection* collection_ = nullptr;
};

}  // namespace tambrel
