#include "picture/picture.h"

#include <cstring>

#include "picture/gdiplus_api.h"
#include "runtime/text.h"

TAMBREL_GDIP(GdipDisposeImage)
TAMBREL_GDIP(GdipLoadImageFromFileICM)
TAMBREL_GDIP(GdipLoadImageFromFile)
TAMBREL_GDIP(GdipCloneImage)
TAMBREL_GDIP(GdipImageForceValidation)
TAMBREL_GDIP(GdipGetEncoderParameterListSize)
TAMBREL_GDIP(GdipGetEncoderParameterList)
TAMBREL_GDIP(GdipSaveImageToFile)
TAMBREL_GDIP(GdipSaveAdd)
TAMBREL_GDIP(GdipSaveAddImage)
TAMBREL_GDIP(GdipGetImageType)
TAMBREL_GDIP(GdipGetImageDimension)
TAMBREL_GDIP(GdipGetImageBounds)
TAMBREL_GDIP(GdipGetImageWidth)
TAMBREL_GDIP(GdipGetImageHeight)
TAMBREL_GDIP(GdipGetImageHorizontalResolution)
TAMBREL_GDIP(GdipGetImageVerticalResolution)
TAMBREL_GDIP(GdipGetImageFlags)
TAMBREL_GDIP(GdipGetImageRawFormat)
TAMBREL_GDIP(GdipGetImagePixelFormat)
TAMBREL_GDIP(GdipGetImagePaletteSize)
TAMBREL_GDIP(GdipGetImagePalette)
TAMBREL_GDIP(GdipSetImagePalette)
TAMBREL_GDIP(GdipGetImageThumbnail)
TAMBREL_GDIP(GdipImageGetFrameCount)
TAMBREL_GDIP(GdipImageGetFrameDimensionsCount)
TAMBREL_GDIP(GdipImageGetFrameDimensionsList)
TAMBREL_GDIP(GdipImageSelectActiveFrame)
TAMBREL_GDIP(GdipImageRotateFlip)
TAMBREL_GDIP(GdipGetPropertyItemSize)
TAMBREL_GDIP(GdipGetPropertyItem)
TAMBREL_GDIP(GdipSetPropertyItem)
TAMBREL_GDIP(GdipRemovePropertyItem)
TAMBREL_GDIP(GdipGetPropertyCount)
TAMBREL_GDIP(GdipGetPropertyIdList)

namespace tambrel {

using namespace picture_detail;

namespace {

// 8-byte aligned scratch for the variable-sized structures GDI+ fills in.
std::vector<uint64_t> scratch(UINT bytes) { return std::vector<uint64_t>((bytes + 7) / 8 + 1, 0); }

}  // namespace

Picture& Picture::operator=(Picture&& o) noexcept {
  if (this != &o) {
    Dispose();
    MemoryStream stream = std::move(o.OwnStream());
    TakeNative(o);
    OwnStream() = std::move(stream);
  }
  return *this;
}

bool Picture::Dispose() {
  if (!image_) return false;
  const bool ok = RecordStatus(gdip::GdipDisposeImage(image_));
  SetNativeHandle(nullptr);
  // Only now: GDI+ may have read the encoded bytes up to the moment the image went away.
  OwnStream().Close();
  return ok;
}

bool Picture::LoadFromFile(const char* file_name, std::optional<bool> use_icm) {
  return LoadFromFileW(text_to_wide(file_name).c_str(), use_icm);
}

bool Picture::LoadFromFileW(const wchar_t* file_name, std::optional<bool> use_icm) {
  PrepareForNew();
  Gdiplus::GpImage* image = nullptr;
  return StoreNew(use_icm.value_or(false) ? gdip::GdipLoadImageFromFileICM(file_name, &image)
                                          : gdip::GdipLoadImageFromFile(file_name, &image),
                  image);
}

bool Picture::LoadFromBytes(const BytesBlock* bytes, std::optional<bool> use_icm) {
  PrepareForNew();
  IStream* stream = OwnStream().OpenFromBytes(bytes);
  Gdiplus::GpImage* image = nullptr;
  GpStatus status = Gdiplus::OutOfMemory;
  if (stream) {
    status = use_icm.value_or(false) ? GdipLoadImageFromStreamICM(stream, &image)
                                     : GdipLoadImageFromStream(stream, &image);
  }
  const bool ok = StoreNew(status, image);
  // An empty picture holds no stream.
  if (!ok) OwnStream().Close();
  return ok;
}

bool Picture::ForceValidation() { return image_ && RecordStatus(gdip::GdipImageForceValidation(image_)); }

bool Picture::CloneTo(Picture& target) const {
  Gdiplus::GpImage* clone = nullptr;
  if (!RecordStatus(gdip::GdipCloneImage(image_, &clone))) return false;
  target.PrepareForNew();
  return target.StoreNew(Gdiplus::Ok, clone);
}

bool Picture::GetEncoderParameterList(const char* encoder_clsid, EncoderParameterSet& parameters) const {
  const GUID clsid = guid_from_text(encoder_clsid);
  UINT size = 0;
  if (!RecordStatus(gdip::GdipGetEncoderParameterListSize(image_, &clsid, &size))) return false;
  auto block = scratch(size);
  auto* native = reinterpret_cast<Gdiplus::EncoderParameters*>(block.data());
  if (!RecordStatus(gdip::GdipGetEncoderParameterList(image_, &clsid, size, native))) return false;
  read_encoder_parameters(*native, parameters);
  return true;
}

bool Picture::SaveToFile(const char* file_name, const char* format, const EncoderParameterSet* parameters) const {
  return SaveToFileW(text_to_wide(file_name).c_str(), format, parameters);
}

bool Picture::SaveToFileW(const wchar_t* file_name, const char* format,
                          const EncoderParameterSet* parameters) const {
  const GUID clsid = guid_from_text(FindEncoderClsid(format ? format : kBmpFormatGuid).c_str());
  NativeEncoderParameters native(parameters);
  return RecordStatus(gdip::GdipSaveImageToFile(image_, file_name, &clsid, native.get()));
}

Bytes Picture::SaveToBytes(const char* format, const EncoderParameterSet* parameters) const {
  const Text format_text = format ? Text(format) : GetRawFormat();
  const GUID clsid = guid_from_text(FindEncoderClsid(format_text.c_str()).c_str());
  MemoryStream output;
  IStream* stream = output.OpenFromBytes(&EMPTY_BYTES, 0);  // grows with every write
  if (!stream) {
    RecordStatus(Gdiplus::OutOfMemory);
    return {};
  }
  NativeEncoderParameters native(parameters);
  // A failed save may have written a part of a file; that is no picture.
  if (!RecordStatus(GdipSaveImageToStream(image_, stream, &clsid, native.get()))) return {};
  return output.ReadAllBytes();
}

bool Picture::SaveAdd(const EncoderParameterSet& parameters) {
  NativeEncoderParameters native(&parameters);
  return RecordStatus(gdip::GdipSaveAdd(image_, native.get()));
}

bool Picture::SaveAddImage(const Picture& picture, const EncoderParameterSet& parameters) {
  NativeEncoderParameters native(&parameters);
  return RecordStatus(gdip::GdipSaveAddImage(image_, picture.image_, native.get()));
}

int Picture::GetType() const {
  Gdiplus::ImageType type = Gdiplus::ImageTypeUnknown;
  RecordStatus(gdip::GdipGetImageType(image_, &type));
  return type;
}

Gdiplus::SizeF Picture::GetPhysicalDimension() const {
  Gdiplus::REAL width = 0, height = 0;
  RecordStatus(gdip::GdipGetImageDimension(image_, &width, &height));
  return Gdiplus::SizeF(width, height);
}

bool Picture::GetBounds(Gdiplus::RectF& rectangle, Gdiplus::Unit& unit) const {
  return RecordStatus(gdip::GdipGetImageBounds(image_, &rectangle, &unit));
}

int Picture::GetWidth() const {
  UINT width = 0;
  RecordStatus(gdip::GdipGetImageWidth(image_, &width));
  return static_cast<int>(width);
}

int Picture::GetHeight() const {
  UINT height = 0;
  RecordStatus(gdip::GdipGetImageHeight(image_, &height));
  return static_cast<int>(height);
}

float Picture::GetHorizontalResolution() const {
  Gdiplus::REAL dpi = 0;
  RecordStatus(gdip::GdipGetImageHorizontalResolution(image_, &dpi));
  return dpi;
}

float Picture::GetVerticalResolution() const {
  Gdiplus::REAL dpi = 0;
  RecordStatus(gdip::GdipGetImageVerticalResolution(image_, &dpi));
  return dpi;
}

int Picture::GetFlags() const {
  UINT flags = 0;
  RecordStatus(gdip::GdipGetImageFlags(image_, &flags));
  return static_cast<int>(flags);
}

Text Picture::GetRawFormat() const {
  GUID format{};
  if (!RecordStatus(gdip::GdipGetImageRawFormat(image_, &format))) format = GUID{};
  return guid_text(format);
}

int Picture::GetPixelFormat() const {
  Gdiplus::PixelFormat format = 0;
  RecordStatus(gdip::GdipGetImagePixelFormat(image_, &format));
  return static_cast<int>(format);
}

bool Picture::GetPalette(PaletteRecord& palette) const {
  INT size = 0;
  if (!RecordStatus(gdip::GdipGetImagePaletteSize(image_, &size))) return false;
  if (size < static_cast<INT>(sizeof(Gdiplus::ColorPalette) - sizeof(ARGB))) return RecordStatus(Gdiplus::GenericError);
  auto block = scratch(static_cast<UINT>(size));
  auto* native = reinterpret_cast<Gdiplus::ColorPalette*>(block.data());
  if (!RecordStatus(gdip::GdipGetImagePalette(image_, native, size))) return false;
  palette.Flags = native->Flags;
  palette.Entries.assign(native->Entries, native->Entries + native->Count);
  return true;
}

bool Picture::SetPalette(const PaletteRecord& palette) {
  const UINT bytes = static_cast<UINT>(sizeof(Gdiplus::ColorPalette) + palette.Entries.size() * sizeof(ARGB));
  auto block = scratch(bytes);
  auto* native = reinterpret_cast<Gdiplus::ColorPalette*>(block.data());
  native->Flags = palette.Flags;
  native->Count = static_cast<UINT>(palette.Entries.size());
  if (!palette.Entries.empty()) std::memcpy(native->Entries, palette.Entries.data(), palette.Entries.size() * sizeof(ARGB));
  return RecordStatus(gdip::GdipSetImagePalette(image_, native));
}

bool Picture::GetThumbnail(int width, int height, Picture& target) const {
  Gdiplus::GpImage* thumbnail = nullptr;
  if (!RecordStatus(gdip::GdipGetImageThumbnail(image_, width, height, &thumbnail, nullptr, nullptr))) return false;
  target.PrepareForNew();
  return target.StoreNew(Gdiplus::Ok, thumbnail);
}

int Picture::GetFrameCount(const char* dimension) const {
  const GUID id = guid_from_text(dimension);
  UINT count = 0;
  RecordStatus(gdip::GdipImageGetFrameCount(image_, &id, &count));
  return static_cast<int>(count);
}

int Picture::GetFrameDimensionsList(TextArray& dimensions) const {
  UINT count = 0;
  if (!RecordStatus(gdip::GdipImageGetFrameDimensionsCount(image_, &count))) return 0;
  std::vector<GUID> ids(count);
  if (count && !RecordStatus(gdip::GdipImageGetFrameDimensionsList(image_, ids.data(), count))) return 0;
  std::vector<char*> texts;
  for (const GUID& id : ids) texts.push_back(guid_text(id).release());
  dimensions = TextArray::from(std::move(texts));
  return static_cast<int>(count);
}

bool Picture::SelectActiveFrame(const char* dimension, int index) {
  const GUID id = guid_from_text(dimension);
  return RecordStatus(gdip::GdipImageSelectActiveFrame(image_, &id, static_cast<UINT>(index)));
}

bool Picture::RotateFlip(int rotate_flip_type) {
  return RecordStatus(gdip::GdipImageRotateFlip(image_, static_cast<Gdiplus::RotateFlipType>(rotate_flip_type)));
}

bool Picture::GetFrameDelays(std::vector<int32_t>& delays) const {
  PropertyItemRecord item;
  if (!GetPropertyItem(kFrameDelayProperty, item)) return false;
  delays.assign(item.Value.size() / 4, 0);
  if (!delays.empty()) std::memcpy(delays.data(), item.Value.data(), delays.size() * 4);
  return true;
}

bool Picture::GetPropertyItem(uint32_t id, PropertyItemRecord& item) const {
  UINT size = 0;
  if (!RecordStatus(gdip::GdipGetPropertyItemSize(image_, id, &size))) return false;
  auto block = scratch(size);
  auto* native = reinterpret_cast<Gdiplus::PropertyItem*>(block.data());
  if (!RecordStatus(gdip::GdipGetPropertyItem(image_, id, size, native))) return false;
  item.Id = native->id;
  item.Length = native->length;
  item.Type = native->type;
  item.Value = native->value && native->length ? Bytes(native->value, native->length) : Bytes();
  return true;
}

bool Picture::SetPropertyItem(const PropertyItemRecord& item) {
  Gdiplus::PropertyItem native{};
  native.id = item.Id;
  // GDI+ reads `length` bytes: never more than the record holds.
  native.length = std::min<ULONG>(item.Length, static_cast<ULONG>(item.Value.size()));
  native.type = item.Type;
  native.value = item.Value.data();
  return RecordStatus(gdip::GdipSetPropertyItem(image_, &native));
}

bool Picture::RemovePropertyItem(uint32_t id) { return RecordStatus(gdip::GdipRemovePropertyItem(image_, id)); }

bool Picture::GetPropertyIdList(std::vector<int32_t>& ids) const {
  UINT count = 0;
  if (!RecordStatus(gdip::GdipGetPropertyCount(image_, &count))) return false;
  std::vector<PROPID> native(count);
  if (count && !RecordStatus(gdip::GdipGetPropertyIdList(image_, count, native.data()))) return false;
  ids.assign(native.begin(), native.end());
  return true;
}

}  // namespace tambrel
