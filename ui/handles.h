// Owners for the native objects the window framework holds: the runtime's move-only owner, one
// name per kind of handle. Each owner keeps what its release needs (the window for ReleaseDC),
// so no widget field can forget it.
//
// Fonts are the one shared case: the application sets one font on several controls and each
// control "owns" the font it holds. SharedFont counts holders per handle in one process-wide
// table and deletes the font when the last holder lets go, so the handle is deleted exactly once.
#pragma once

#include <windows.h>

#include <utility>

#include "runtime/unique_handle.h"

namespace tambrel::ui {

inline void destroy_window_if_alive(HWND h) {
  if (IsWindow(h)) DestroyWindow(h);
}

using OwnedBrush = UniqueHandle<HBRUSH, &DeleteObject>;
using OwnedPen = UniqueHandle<HPEN, &DeleteObject>;
using OwnedBitmap = UniqueHandle<HBITMAP, &DeleteObject>;
using OwnedRegion = UniqueHandle<HRGN, &DeleteObject>;
using OwnedCursor = UniqueHandle<HCURSOR, &DestroyCursor>;
using OwnedIcon = UniqueHandle<HICON, &DestroyIcon>;
using OwnedMemoryDc = UniqueHandle<HDC, &DeleteDC>;
using OwnedWindow = UniqueHandle<HWND, &destroy_window_if_alive>;

// A device context from GetDC, released with the window it came from.
class WindowDc {
 public:
  WindowDc() = default;
  explicit WindowDc(HWND hwnd) : hwnd_(hwnd), dc_(hwnd ? GetDC(hwnd) : nullptr) {}
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  WindowDc(WindowDc&& o) noexcept
      : hwnd_(std::exchange(o.hwnd_, nullptr)), dc_(std::exchange(o.dc_, nullptr)) {}
  WindowDc& operator=(WindowDc&& o) noexcept {
    if (this != &o) {
      reset();
      hwnd_ = std::exchange(o.hwnd_, nullptr);
      dc_ = std::exchange(o.dc_, nullptr);
    }
    return *this;
  }
  ~WindowDc() { reset(); }
  HDC get() const { return dc_; }
  void reset() {
    if (dc_) ReleaseDC(hwnd_, dc_);
    dc_ = nullptr;
    hwnd_ = nullptr;
  }

 private:
  HWND hwnd_ = nullptr;
  HDC dc_ = nullptr;
};

// Selects an object into a context and puts the previous one back when it goes away.
class SelectedObject {
 public:
  SelectedObject(HDC dc, HGDIOBJ obj) : dc_(dc), old_(dc && obj ? SelectObject(dc, obj) : nullptr) {}
  SelectedObject(const SelectedObject&) = delete;
  SelectedObject& operator=(const SelectedObject&) = delete;
  ~SelectedObject() {
    if (dc_ && old_) SelectObject(dc_, old_);
  }

 private:
  HDC dc_;
  HGDIOBJ old_;
};

// A font handle held by several widgets; deleted when the last holder releases it.
class SharedFont {
 public:
  SharedFont() = default;
  explicit SharedFont(HFONT h);  // adds a holder
  SharedFont(const SharedFont& o) : SharedFont(o.h_) {}
  SharedFont& operator=(const SharedFont& o) {
    if (this != &o) reset(o.h_);
    return *this;
  }
  SharedFont(SharedFont&& o) noexcept : h_(std::exchange(o.h_, nullptr)) {}
  SharedFont& operator=(SharedFont&& o) noexcept {
    if (this != &o) {
      reset();
      h_ = std::exchange(o.h_, nullptr);
    }
    return *this;
  }
  ~SharedFont() { reset(); }

  HFONT get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }
  // Holds h instead (h may be the same handle: the count then stays as it was).
  void reset(HFONT h = nullptr);

  // Number of framework holders of a handle (0 once it has been deleted).
  static int holders(HFONT h);

 private:
  HFONT h_ = nullptr;
};

}  // namespace tambrel::ui
