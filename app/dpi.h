// The main window's resolution. The layout, fonts, gallery and preview are designed at 96 DPI
// (every coordinate in the code is a 96-DPI one); the program is per-monitor DPI aware and
// scales that design to the DPI of the monitor its window is on, so at 96 DPI nothing moves by
// a pixel and at 120, 144 or 192 DPI everything is drawn at the screen's own resolution.
#pragma once

#include <windows.h>

namespace tambrel::app {

constexpr int kDesignDpi = 96;

// The DPI the window is laid out for (96 until the main window knows its own).
int layoutDpi();
void setLayoutDpi(int dpi);
// A 96-DPI length at the layout DPI.
int scaled(int design);
// layoutDpi() / 96.
float layoutScale();
// The DPI of the monitor a window is on: GetDpiForWindow where the system has it (Windows 10
// 1607 on), the screen's otherwise (the whole desktop has one DPI there).
int dpiOfWindow(HWND hwnd);
// The outer size of a window with this style whose client area is `client` at `dpi`.
SIZE outerSizeFor(HWND hwnd, SIZE client, int dpi);

}  // namespace tambrel::app
