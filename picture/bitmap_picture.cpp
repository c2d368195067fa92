#include "picture/bitmap_picture.h"

#include <algorithm>
#include <cmath>

#include "picture/drawing_surface.h"
#include "picture/gdiplus_api.h"
#include "runtime/text.h"

TAMBREL_GDIP(GdipCreateBitmapFromFileICM)
TAMBREL_GDIP(GdipCreateBitmapFromFile)
TAMBREL_GDIP(GdipCreateBitmapFromScan0)
TAMBREL_GDIP(GdipCreateBitmapFromGraphics)
TAMBREL_GDIP(GdipCreateBitmapFromGdiDib)
TAMBREL_GDIP(GdipCreateBitmapFromHBITMAP)
TAMBREL_GDIP(GdipCreateBitmapFromHICON)
TAMBREL_GDIP(GdipCreateBitmapFromResource)
TAMBREL_GDIP(GdipCreateHBITMAPFromBitmap)
TAMBREL_GDIP(GdipCreateHICONFromBitmap)
TAMBREL_GDIP(GdipCloneBitmapArea)
TAMBREL_GDIP(GdipCloneBitmapAreaI)
TAMBREL_GDIP(GdipBitmapLockBits)
TAMBREL_GDIP(GdipBitmapUnlockBits)
TAMBREL_GDIP(GdipBitmapGetPixel)
TAMBREL_GDIP(GdipBitmapSetPixel)
TAMBREL_GDIP(GdipBitmapSetResolution)
TAMBREL_GDIP(GdipGetImageHorizontalResolution)
TAMBREL_GDIP(GdipGetImageVerticalResolution)
TAMBREL_GDIP(GdipDeleteGraphics)
TAMBREL_GDIP(GdipFillRectangle)
TAMBREL_GDIP(GdipSetInterpolationMode)
TAMBREL_GDIP(GdipCreateMatrix)
TAMBREL_GDIP(GdipTranslateMatrix)
TAMBREL_GDIP(GdipRotateMatrix)
TAMBREL_GDIP(GdipDrawImage)
TAMBREL_GDIP(GdipResetWorldTransform)
TAMBREL_GDIP(GdipDeleteMatrix)
// The only function bound from the library under this name: older GDI+ versions lack it.
TAMBREL_BOUND(gdip_effect, "Gdiplus.dll", GdipBitmapApplyEffect)

namespace tambrel {


BitmapPicture& BitmapPicture::operator=(BitmapPicture&& o) noexcept {
  if (this != &o) {
    Dispose();
    MemoryStream stream = std::move(o.bitmap_stream_);
    TakeNative(o);
    bitmap_stream_ = std::move(stream);
  }
  return *this;
}

bool BitmapPicture::Dispose() { return Picture::Dispose(); }

bool BitmapPicture::LoadFromFile(const char* file_name, std::optional<bool> use_icm) {
  return LoadFromFileW(text_to_wide(file_name).c_str(), use_icm);
}

bool BitmapPicture::LoadFromFileW(const wchar_t* file_name, std::optional<bool> use_icm) {
  PrepareForNew();
  Gdiplus::GpBitmap* bitmap = nullptr;
  return StoreNew(use_icm.value_or(false) ? gdip::GdipCreateBitmapFromFileICM(file_name, &bitmap)
                                          : gdip::GdipCreateBitmapFromFile(file_name, &bitmap),
                  bitmap);
}

bool BitmapPicture::LoadFromBytes(const BytesBlock* bytes, std::optional<bool> use_icm) {
  PrepareForNew();
  IStream* stream = bitmap_stream_.OpenFromBytes(bytes);
  Gdiplus::GpBitmap* bitmap = nullptr;
  GpStatus status = Gdiplus::OutOfMemory;
  if (stream) {
    status = use_icm.value_or(false) ? GdipCreateBitmapFromStreamICM(stream, &bitmap)
                                     : GdipCreateBitmapFromStream(stream, &bitmap);
  }
  const bool ok = StoreNew(status, bitmap);
  if (!ok) bitmap_stream_.Close();
  return ok;
}

bool BitmapPicture::CreateFromScan0(int width, int height, int stride, Gdiplus::PixelFormat format, BYTE* pixels) {
  PrepareForNew();
  Gdiplus::GpBitmap* bitmap = nullptr;
  return StoreNew(gdip::GdipCreateBitmapFromScan0(width, height, stride, format, pixels, &bitmap), bitmap);
}

bool BitmapPicture::Create(int width, int height, std::optional<Gdiplus::PixelFormat> format) {
  return CreateFromScan0(width, height, 0, format.value_or(kPixelFormat32bppARGB), nullptr);
}

bool BitmapPicture::CreateFromGraphics(int width, int height, const DrawingSurface& surface) {
  PrepareForNew();
  Gdiplus::GpBitmap* bitmap = nullptr;
  return StoreNew(gdip::GdipCreateBitmapFromGraphics(width, height, surface.graphics(), &bitmap), bitmap);
}

bool BitmapPicture::CreateFromGdiDib(const BITMAPINFO* info, void* pixels) {
  PrepareForNew();
  Gdiplus::GpBitmap* bitmap = nullptr;
  return StoreNew(gdip::GdipCreateBitmapFromGdiDib(info, pixels, &bitmap), bitmap);
}

bool BitmapPicture::CreateFromHBITMAP(HBITMAP source, HPALETTE palette) {
  PrepareForNew();
  Gdiplus::GpBitmap* bitmap = nullptr;
  return StoreNew(gdip::GdipCreateBitmapFromHBITMAP(source, palette, &bitmap), bitmap);
}

bool BitmapPicture::CreateFromHICON(HICON icon) {
  PrepareForNew();
  Gdiplus::GpBitmap* bitmap = nullptr;
  return StoreNew(gdip::GdipCreateBitmapFromHICON(icon, &bitmap), bitmap);
}

bool BitmapPicture::CreateFromResource(HINSTANCE module, const wchar_t* resource_name) {
  PrepareForNew();
  Gdiplus::GpBitmap* bitmap = nullptr;
  return StoreNew(gdip::GdipCreateBitmapFromResource(module, resource_name, &bitmap), bitmap);
}

HBITMAP BitmapPicture::GetHBITMAP(ARGB background) const {
  HBITMAP result = nullptr;
  if (!RecordStatus(gdip::GdipCreateHBITMAPFromBitmap(bitmap_, &result, background))) return nullptr;
  return result;
}

HICON BitmapPicture::GetHICON() const {
  HICON result = nullptr;
  if (!RecordStatus(gdip::GdipCreateHICONFromBitmap(bitmap_, &result))) return nullptr;
  return result;
}

bool BitmapPicture::CloneArea(float x, float y, float width, float height, Gdiplus::PixelFormat format,
                              BitmapPicture& target) const {
  Gdiplus::GpBitmap* clone = nullptr;
  if (!RecordStatus(gdip::GdipCloneBitmapArea(x, y, width, height, format, bitmap_, &clone))) return false;
  target.PrepareForNew();
  return target.StoreNew(Gdiplus::Ok, clone);
}

bool BitmapPicture::CloneAreaI(int x, int y, int width, int height, Gdiplus::PixelFormat format,
                               BitmapPicture& target) const {
  Gdiplus::GpBitmap* clone = nullptr;
  if (!RecordStatus(gdip::GdipCloneBitmapAreaI(x, y, width, height, format, bitmap_, &clone))) return false;
  target.PrepareForNew();
  return target.StoreNew(Gdiplus::Ok, clone);
}

bool BitmapPicture::LockBits(const Gdiplus::Rect& rectangle, UINT flags, Gdiplus::PixelFormat format,
                             Gdiplus::BitmapData& data) {
  return RecordStatus(gdip::GdipBitmapLockBits(bitmap_, &rectangle, flags, format, &data));
}

bool BitmapPicture::UnlockBits(Gdiplus::BitmapData& data) {
  return RecordStatus(gdip::GdipBitmapUnlockBits(bitmap_, &data));
}

ARGB BitmapPicture::GetPixel(int x, int y) const {
  ARGB colour = 0;
  RecordStatus(gdip::GdipBitmapGetPixel(bitmap_, x, y, &colour));
  return colour;
}

bool BitmapPicture::SetPixel(int x, int y, ARGB colour) {
  return RecordStatus(gdip::GdipBitmapSetPixel(bitmap_, x, y, colour));
}

bool BitmapPicture::SetResolution(float horizontal_dpi, float vertical_dpi) {
  return RecordStatus(gdip::GdipBitmapSetResolution(bitmap_, horizontal_dpi, vertical_dpi));
}

bool BitmapPicture::ApplyEffect(const NativeObject& effect, std::optional<RECT> rectangle) {
  RECT* area = rectangle ? &*rectangle : nullptr;
  return RecordStatus(gdip_effect::GdipBitmapApplyEffect(bitmap_, native_of<Gdiplus::CGpEffect>(effect), area,
                                                         FALSE, nullptr, nullptr));
}

void BitmapPicture::GetRotatedSize(int width, int height, double angle, int& rotated_width, int& rotated_height) {
  const double radians = angle * 3.1415926535 / 180;
  const double c = std::cos(radians), s = std::sin(radians);
  const double hx = (width - 1) / 2.0, hy = (height - 1) / 2.0;
  double min_x = 0, max_x = 0, min_y = 0, max_y = 0;
  bool first = true;
  for (double sx : {-1.0, 1.0}) {
    for (double sy : {-1.0, 1.0}) {
      const double x = sx * hx, y = sy * hy;
      const double rx = x * c + y * s, ry = -x * s + y * c;
      if (first) {
        min_x = max_x = rx;
        min_y = max_y = ry;
        first = false;
      }
      min_x = std::min(min_x, rx), max_x = std::max(max_x, rx);
      min_y = std::min(min_y, ry), max_y = std::max(max_y, ry);
    }
  }
  // Pixel centres span extent + 1 pixels; the epsilon keeps 90-degree turns exact.
  rotated_width = static_cast<int>(std::ceil(max_x - min_x - 1e-6)) + 1;
  rotated_height = static_cast<int>(std::ceil(max_y - min_y - 1e-6)) + 1;
}

bool BitmapPicture::Rotated(float angle, BitmapPicture& target, const RotateOptions& options) const {
  const int width = GetWidth(), height = GetHeight();
  if (!bitmap_ || width < 1 || height < 1) return RecordStatus(Gdiplus::InvalidParameter);
  int new_width = 0, new_height = 0;
  GetRotatedSize(width, height, angle, new_width, new_height);
  BitmapPicture result;
  if (!result.Create(new_width, new_height, kPixelFormat32bppARGB)) return false;
  Gdiplus::REAL dpi_x = 0, dpi_y = 0;
  gdip::GdipGetImageHorizontalResolution(bitmap_, &dpi_x);
  gdip::GdipGetImageVerticalResolution(bitmap_, &dpi_y);
  if (dpi_x > 0 && dpi_y > 0) gdip::GdipBitmapSetResolution(result.bitmap_, dpi_x, dpi_y);

  Gdiplus::GpGraphics* graphics = nullptr;
  if (!RecordStatus(GdipGetImageGraphicsContext(result.image(), &graphics))) return false;
  if (options.background) {
    Gdiplus::GpSolidFill* brush = nullptr;
    if (GdipCreateSolidFill(*options.background, &brush) == Gdiplus::Ok) {
      gdip::GdipFillRectangle(graphics, brush, 0, 0, Gdiplus::REAL(new_width), Gdiplus::REAL(new_height));
      GdipDeleteBrush(brush);
    }
  }
  gdip::GdipSetInterpolationMode(graphics, options.interpolation);
  Gdiplus::GpMatrix* matrix = nullptr;
  GpStatus status = gdip::GdipCreateMatrix(&matrix);
  if (status == Gdiplus::Ok) {
    // Move the old centre to the origin, turn, then move it to the new centre.
    gdip::GdipTranslateMatrix(matrix, new_width / 2.0f, new_height / 2.0f, Gdiplus::MatrixOrderPrepend);
    gdip::GdipRotateMatrix(matrix, angle, Gdiplus::MatrixOrderPrepend);
    gdip::GdipTranslateMatrix(matrix, -width / 2.0f, -height / 2.0f, Gdiplus::MatrixOrderPrepend);
    GdipSetWorldTransform(graphics, matrix);
    status = gdip::GdipDrawImage(graphics, image(), 0, 0);
    gdip::GdipResetWorldTransform(graphics);
    gdip::GdipDeleteMatrix(matrix);
  }
  gdip::GdipDeleteGraphics(graphics);
  if (!RecordStatus(status)) return false;
  target = std::move(result);
  return true;
}

}  // namespace tambrel
