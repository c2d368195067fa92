// A picture: one GDI+ image, decoded from a byte block or a file, with its queries, frames,
// properties, palette and saving.
//
// A picture decoded from bytes keeps the encoded bytes in its stream for as long as it holds
// the image, because GDI+ may decode again from them at any time; Dispose releases image and
// stream together. Loading, cloning or taking a thumbnail into a picture that already holds an
// image disposes that image first, so a picture never leaks what it held.
#pragma once

#include <windows.h>
#include "picture/gdiplus_types.h"

#include <cstdint>
#include <optional>
#include <vector>

#include "picture/codecs.h"
#include "picture/memory_stream.h"
#include "picture/native_object.h"
#include "runtime/values.h"

namespace tambrel {

// A palette copied out of GDI+: its flags and colours.
struct PaletteRecord {
  uint32_t Flags = 0;
  std::vector<ARGB> Entries;
};

// A property item copied out of GDI+ (or to be written into it).
struct PropertyItemRecord {
  uint32_t Id = 0;
  uint32_t Length = 0;
  uint16_t Type = 0;
  Bytes Value;
};

class Picture : public NativeObject {
 public:
  Picture() = default;
  Picture(Picture&& o) noexcept { *this = std::move(o); }
  // Disposes what this picture holds, then takes the other's image and stream.
  Picture& operator=(Picture&& o) noexcept;
  ~Picture() override { Picture::Dispose(); }

  Gdiplus::GpImage* image() const { return image_; }
  const MemoryStream& stream() const { return const_cast<Picture*>(this)->OwnStream(); }

  // False when empty (no native call); else disposes the image and closes the stream.
  virtual bool Dispose();
  virtual bool LoadFromFile(const char* file_name, std::optional<bool> use_icm = std::nullopt);
  virtual bool LoadFromFileW(const wchar_t* file_name, std::optional<bool> use_icm = std::nullopt);
  // Decodes an encoded picture (PNG, JPEG, GIF, BMP, ...). An empty or undecodable block
  // fails and leaves the picture empty.
  // Decodes the whole picture now. Windows' GDI+ reads a stream lazily: a PNG whose header is
  // intact and whose body is cut off loads, gives its size, and fails only when drawn. False
  // when the picture does not decode to the end.
  bool ForceValidation();
  virtual bool LoadFromBytes(const BytesBlock* bytes, std::optional<bool> use_icm = std::nullopt);
  bool LoadFromBytes(const Bytes& bytes, std::optional<bool> use_icm = std::nullopt) {
    return LoadFromBytes(bytes.block(), use_icm);
  }
  bool CloneTo(Picture& target) const;
  bool GetEncoderParameterList(const char* encoder_clsid, EncoderParameterSet& parameters) const;
  // Writes the picture in the given format (BMP when absent).
  bool SaveToFile(const char* file_name, const char* format = nullptr,
                  const EncoderParameterSet* parameters = nullptr) const;
  bool SaveToFileW(const wchar_t* file_name, const char* format = nullptr,
                   const EncoderParameterSet* parameters = nullptr) const;
  // The encoded picture in the given format (the picture's own format when absent); an empty
  // block when no encoder takes the format or encoding fails.
  Bytes SaveToBytes(const char* format = nullptr, const EncoderParameterSet* parameters = nullptr) const;
  bool SaveAdd(const EncoderParameterSet& parameters);
  bool SaveAddImage(const Picture& picture, const EncoderParameterSet& parameters);
  int GetType() const;
  Gdiplus::SizeF GetPhysicalDimension() const;
  bool GetBounds(Gdiplus::RectF& rectangle, Gdiplus::Unit& unit) const;
  // Pixels; 0 for an empty picture.
  int GetWidth() const;
  int GetHeight() const;
  float GetHorizontalResolution() const;
  float GetVerticalResolution() const;
  int GetFlags() const;
  // GUID text of the file format; the all-zero GUID's text for an empty picture.
  Text GetRawFormat() const;
  int GetPixelFormat() const;
  bool GetPalette(PaletteRecord& palette) const;
  bool SetPalette(const PaletteRecord& palette);
  bool GetThumbnail(int width, int height, Picture& target) const;
  int GetFrameCount(const char* dimension) const;
  int GetFrameDimensionsList(TextArray& dimensions) const;
  bool SelectActiveFrame(const char* dimension, int index);
  bool RotateFlip(int rotate_flip_type);
  // Frame delays in hundredths of a second, from the frame-delay property.
  bool GetFrameDelays(std::vector<int32_t>& delays) const;
  bool GetPropertyItem(uint32_t id, PropertyItemRecord& item) const;
  bool SetPropertyItem(const PropertyItemRecord& item);
  bool RemovePropertyItem(uint32_t id);
  bool GetPropertyIdList(std::vector<int32_t>& ids) const;

 protected:
  void StoreNative(void* h) override {
    image_ = static_cast<Gdiplus::GpImage*>(h);
    AfterStore(h);
  }
  // Lets a derived class keep its own typed copy of the handle.
  virtual void AfterStore(void* h) {}
  // The stream that holds the bytes this picture was decoded from.
  virtual MemoryStream& OwnStream() { return stream_; }
  // Disposes a held image (and its stream) before a new one is made for this picture.
  void PrepareForNew() {
    if (image_) Dispose();
    OwnStream().Close();
  }

 private:
  Gdiplus::GpImage* image_ = nullptr;
  MemoryStream stream_;
};

// The frame-delay property tag.
inline constexpr uint32_t kFrameDelayProperty = 0x5100;

}  // namespace tambrel
