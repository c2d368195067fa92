#include "picture/native_object.h"

#include "picture/gdiplus_api.h"

TAMBREL_GDIP(GdipAlloc)
TAMBREL_GDIP(GdipFree)

namespace tambrel {
namespace {

// Shared by every object of every class and unguarded: the library is used on the
// user-interface thread only.
GpStatus g_last_status = Gdiplus::Ok;
ULONG_PTR g_gdiplus_token = 0;

}  // namespace

GpStatus LastStatus() { return g_last_status; }

bool RecordStatus(GpStatus status) {
  g_last_status = status;
  return status == Gdiplus::Ok;
}

ULONG_PTR StartGdiPlus(std::optional<UINT32> version) {
  Gdiplus::GdiplusStartupInput input;
  input.GdiplusVersion = version.value_or(1);
  input.DebugEventCallback = nullptr;
  input.SuppressBackgroundThread = FALSE;
  input.SuppressExternalCodecs = FALSE;
  Gdiplus::GdiplusStartup(&g_gdiplus_token, &input, nullptr);
  return g_gdiplus_token;
}

void* NativeObject::NativeAlloc(size_t size) { return gdip::GdipAlloc(size); }
void NativeObject::NativeFree(void* p) { gdip::GdipFree(p); }

}  // namespace tambrel
