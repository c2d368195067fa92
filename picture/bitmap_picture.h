// A picture that is a GDI+ pixel bitmap: created at a size and pixel format, from pixels,
// from GDI objects, or decoded from bytes or a file into a bitmap.
//
// The handle, image and bitmap fields always hold the same native bitmap, so every Picture
// query works on it. A bitmap decoded from bytes keeps those bytes in its own stream for the
// bitmap's life.
#pragma once

#include "picture/picture.h"

namespace tambrel {

class DrawingSurface;

// Pixel formats the program names.
inline constexpr Gdiplus::PixelFormat kPixelFormat32bppRGB = 0x22009;   // no alpha
inline constexpr Gdiplus::PixelFormat kPixelFormat32bppARGB = 0x26200A; // Create's default

// How Rotated fills the corners the rotated bitmap leaves uncovered, and how it resamples.
struct RotateOptions {
  std::optional<ARGB> background;  // none: the corners stay transparent
  Gdiplus::InterpolationMode interpolation = Gdiplus::InterpolationModeHighQualityBicubic;
};

class BitmapPicture : public Picture {
 public:
  BitmapPicture() = default;
  BitmapPicture(BitmapPicture&& o) noexcept { *this = std::move(o); }
  BitmapPicture& operator=(BitmapPicture&& o) noexcept;
  // Disposes while the bitmap's own stream still exists.
  ~BitmapPicture() override { BitmapPicture::Dispose(); }

  Gdiplus::GpBitmap* bitmap() const { return bitmap_; }

  bool Dispose() override;
  bool LoadFromFile(const char* file_name, std::optional<bool> use_icm = std::nullopt) override;
  bool LoadFromFileW(const wchar_t* file_name, std::optional<bool> use_icm = std::nullopt) override;
  bool LoadFromBytes(const BytesBlock* bytes, std::optional<bool> use_icm = std::nullopt) override;
  using Picture::LoadFromBytes;

  bool CreateFromScan0(int width, int height, int stride, Gdiplus::PixelFormat format, BYTE* pixels);
  // An empty bitmap; 32 bits per pixel with alpha unless a format is given.
  bool Create(int width, int height, std::optional<Gdiplus::PixelFormat> format = std::nullopt);
  bool CreateFromGraphics(int width, int height, const DrawingSurface& surface);
  bool CreateFromGdiDib(const BITMAPINFO* info, void* pixels);
  bool CreateFromHBITMAP(HBITMAP bitmap, HPALETTE palette);
  bool CreateFromHICON(HICON icon);
  bool CreateFromResource(HINSTANCE module, const wchar_t* resource_name);
  // A new GDI bitmap that the caller deletes; null on failure.
  HBITMAP GetHBITMAP(ARGB background) const;
  // A new icon that the caller destroys; null on failure.
  HICON GetHICON() const;
  bool CloneArea(float x, float y, float width, float height, Gdiplus::PixelFormat format,
                 BitmapPicture& target) const;
  bool CloneAreaI(int x, int y, int width, int height, Gdiplus::PixelFormat format, BitmapPicture& target) const;
  bool LockBits(const Gdiplus::Rect& rectangle, UINT flags, Gdiplus::PixelFormat format, Gdiplus::BitmapData& data);
  bool UnlockBits(Gdiplus::BitmapData& data);
  // ARGB colour of one pixel; 0 on failure.
  ARGB GetPixel(int x, int y) const;
  bool SetPixel(int x, int y, ARGB colour);
  bool SetResolution(float horizontal_dpi, float vertical_dpi);
  bool ApplyEffect(const NativeObject& effect, std::optional<RECT> rectangle = std::nullopt);
  // Makes `target` a new bitmap holding this one rotated by `angle` degrees about its centre,
  // sized to hold all of it.
  bool Rotated(float angle, BitmapPicture& target, const RotateOptions& options = {}) const;
  // Size of the box that holds a width x height rectangle rotated by `angle` degrees.
  static void GetRotatedSize(int width, int height, double angle, int& rotated_width, int& rotated_height);

 protected:
  void AfterStore(void* h) override { bitmap_ = static_cast<Gdiplus::GpBitmap*>(h); }
  MemoryStream& OwnStream() override { return bitmap_stream_; }

 private:
  Gdiplus::GpBitmap* bitmap_ = nullptr;
  MemoryStream bitmap_stream_;
};

}  // namespace tambrel
