#include "app/dpi.h"

namespace tambrel::app {
namespace {

int current = kDesignDpi;

// Present from Windows 10 1607 on; looked up, not imported, so the program starts on Windows 7.
template <class Fn>
Fn user32_function(const char* name) {
  static HMODULE user32 = GetModuleHandleW(L"user32.dll");
  return user32 ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(user32, name))) : nullptr;
}

}  // namespace

int layoutDpi() { return current; }
void setLayoutDpi(int dpi) { current = dpi > 0 ? dpi : kDesignDpi; }
int scaled(int design) { return current == kDesignDpi ? design : MulDiv(design, current, kDesignDpi); }
float layoutScale() { return static_cast<float>(current) / kDesignDpi; }

int dpiOfWindow(HWND hwnd) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto get_dpi = user32_function<GetDpiForWindowFn>("GetDpiForWindow");
  if (get_dpi && hwnd) {
    if (const UINT dpi = get_dpi(hwnd)) return static_cast<int>(dpi);
  }
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : kDesignDpi;
}

SIZE outerSizeFor(HWND hwnd, SIZE client, int dpi) {
  using AdjustForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
  static const auto adjust_for_dpi = user32_function<AdjustForDpiFn>("AdjustWindowRectExForDpi");
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_STYLE));
  const auto ex_style = static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_EXSTYLE));
  RECT r{0, 0, client.cx, client.cy};
  if (adjust_for_dpi) {
    adjust_for_dpi(&r, style, FALSE, ex_style, static_cast<UINT>(dpi));
  } else {
    AdjustWindowRectEx(&r, style, FALSE, ex_style);
  }
  return SIZE{r.right - r.left, r.bottom - r.top};
}

}  // namespace tambrel::app
