// The main window: controls at fixed positions (no layout manager, no resizing), the shared
// font and icon, and the events bound at the first activation.
#include <windows.h>
#include <shellapi.h>

#include <vector>

#include "app/app.h"
#include "app/config.h"
#include "app/dpi.h"
#include "app/gallery.h"
#include "app/update_check.h"
#include "app/wait.h"
#include "runtime/files.h"
#include "runtime/text.h"

namespace tambrel::app {
namespace {

constexpr DWORD kPageSelectorStyle = 0x50000203;  // child, visible, drop-down list, has strings

void onMainWindowDestroyed() { PostQuitMessage(0); }

}  // namespace

namespace {

// Where each control sits in the 96-DPI design, in its parent's client area: x, y, width,
// height (the selector's height is its dropped-down list's).
struct Placement {
  ui::Window* window;
  int x, y, width, height;
};

std::vector<Placement> placements() {
  return {
      {galleryList.get(), 0, 0, 280, 440},
      {pageSelector.get(), 230, 420, 50, 200},
      {stampPreview.get(), 285, 0, 300, 300},  // then sized to its picture
      {inputGroup.get(), 285, 300, 300, 140},
      {textLabel.get(), 12, 14, 36, 20},
      {sizeLabel.get(), 12, 38, 36, 20},
      {textBox.get(), 54, 14, 80, 20},
      {sizeBox.get(), 54, 38, 80, 20},
      {generateButton.get(), 54, 70, 80, 24},
      {saveButton.get(), 54, 98, 80, 24},
      {homeLink.get(), 180, 118, 100, 24},
  };
}

// The label, edit box and button font: 18 pixels at 96 DPI. The framework releases a font after
// the last control holding it is gone or holds another.
void setControlFont() {
  HFONT font = CreateFontW(scaled(18), 0, 0, 0, 0, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"微软雅黑");
  for (ui::Window* w : std::initializer_list<ui::Window*>{textLabel.get(), sizeLabel.get(), textBox.get(),
                                                          sizeBox.get(), generateButton.get(),
                                                          saveButton.get()}) {
    w->SetFont(font);
  }
}

// The selector, the group and the link use the system's GUI font, which is made for the
// system's DPI; on a monitor of another DPI they get that font scaled to it (and the stock font
// again where the two agree, as at 96 DPI on a 96-DPI system).
void setSystemFontControlsFont() {
  HDC screen = GetDC(nullptr);
  const int system_dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  auto* stock = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  HFONT font = stock;
  if (system_dpi > 0 && layoutDpi() != system_dpi) {
    LOGFONTW lf{};
    GetObjectW(stock, sizeof lf, &lf);
    lf.lfHeight = MulDiv(lf.lfHeight, layoutDpi(), system_dpi);
    font = CreateFontIndirectW(&lf);
  }
  for (ui::Window* w : std::initializer_list<ui::Window*>{pageSelector.get(), inputGroup.get(), homeLink.get()}) {
    w->SetFont(font);
  }
}

// The client area of the 96-DPI design (the window is 594 x 480 with its frame at 96 DPI).
SIZE designClientSize(HWND main) {
  const SIZE frame = outerSizeFor(main, SIZE{0, 0}, kDesignDpi);
  return SIZE{kMainWindowWidth - frame.cx, kMainWindowHeight - frame.cy};
}

}  // namespace

void buildControls() {
  HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kIconResource));
  mainWindow->Send(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));

  HWND main = mainWindow->Handle();
  // At 96 DPI every position is the design's own; elsewhere the window's client area and every
  // control grow with the resolution of the monitor the window opened on.
  setLayoutDpi(dpiOfWindow(main));
  if (layoutDpi() != kDesignDpi) {
    const SIZE client = designClientSize(main);
    const SIZE outer = outerSizeFor(main, SIZE{scaled(client.cx), scaled(client.cy)}, layoutDpi());
    SetWindowPos(main, nullptr, 0, 0, outer.cx, outer.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  createGallery(main, 0, 0, scaled(280), galleryHeight());

  pageSelector->Create(main, bit_or({2, 3, 0x200, 1, 0x40000000, 0, 0x10000000}), scaled(230), scaled(420),
                       scaled(50), scaled(200));
  static_assert(kPageSelectorStyle == (2 | 3 | 0x200 | 1 | 0x40000000 | 0x10000000));
  // It covers the gallery's lower right corner and must stay visible above it.
  SetWindowPos(pageSelector->Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);

  stampPreview->Create(main, scaled(285), 0, scaled(300), scaled(300));

  inputGroup->Create(main, "", {}, scaled(285), scaled(300), scaled(300), scaled(140));
  HWND group = inputGroup->Handle();
  textLabel->Create(group, "文本：", {}, scaled(12), scaled(14), scaled(36), scaled(20));
  sizeLabel->Create(group, "尺寸：", {}, scaled(12), scaled(38), scaled(36), scaled(20));
  textBox->Create(group, "Tambrel", {}, scaled(54), scaled(14), scaled(80), scaled(20));
  sizeBox->Create(group, "0", {}, scaled(54), scaled(38), scaled(80), scaled(20));
  generateButton->Create(group, "生成", {}, {}, scaled(54), scaled(70), scaled(80), scaled(24));
  saveButton->Create(group, "保存", {}, {}, scaled(54), scaled(98), scaled(80), scaled(24));
  homeLink->Create(group, HOME_LINK_MARKUP, {}, scaled(180), scaled(118), scaled(100), scaled(24));
  setControlFont();
  // Opened on a monitor whose DPI is not the system's (only then: the stock font stays as is).
  HDC screen = GetDC(nullptr);
  const int system_dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  if (layoutDpi() != system_dpi) setSystemFontControlsFont();

  stampPreview->BackgroundColor(0);
  mainWindow->BindFirstActivation(&onFirstActivate);
}

void onDpiChanged(int dpi, const RECT* suggested) {
  setLayoutDpi(dpi);
  HWND main = mainWindow->Handle();
  // The system's suggestion keeps the window where the user dragged it, at the new size;
  // without one, the design's client area at the new DPI.
  if (suggested) {
    SetWindowPos(main, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
  } else {
    // Around the frame the window has now.
    const SIZE client = designClientSize(main);
    RECT outer{}, inner{};
    GetWindowRect(main, &outer);
    GetClientRect(main, &inner);
    SetWindowPos(main, nullptr, 0, 0, scaled(client.cx) + (outer.right - outer.left) - inner.right,
                 scaled(client.cy) + (outer.bottom - outer.top) - inner.bottom,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  for (const Placement& p : placements()) {
    const int height = p.window == galleryList.get() ? galleryHeight() : scaled(p.height);
    SetWindowPos(p.window->Handle(), nullptr, scaled(p.x), scaled(p.y), scaled(p.width), height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  setControlFont();
  setSystemFontControlsFont();
  relayoutGallery();
  drawPreview();
  InvalidateRect(main, nullptr, TRUE);
}

void bindEvents() {
  mainWindow->BindDestroyed(&onMainWindowDestroyed);
  mainWindow->BindCloseQuery(&onCloseQuery);  // put off while the tool waits
  pageSelector->BindSelectionChanged(&onPageSelected);
  stampPreview->BindRedraw(&drawPreview);
  generateButton->BindClicked(&generateStamp);
  saveButton->BindClicked(&saveStamp);
  homeLink->BindClicked(&openHomeLink);
  showPage(1);
  fillPageSelector();
}

void onFirstActivate() {
  // A run that ended between writing a thumbnail and putting it in place left its temporary
  // file in the cache; a thumbnail once cached is never written again, so nothing else would
  // remove it.
  remove_abandoned_writes(text_concat({program_folder().c_str(), "\\tmp"}).c_str());
  loadTemplateCatalog();
  bindEvents();
  // Nobody waits for the thread: it ends with the process if the window closes first.
  HANDLE thread = CreateThread(nullptr, 0, &checkForUpdate, nullptr, 0, nullptr);
  if (thread) CloseHandle(thread);
}

void openHomeLink() {
  if (waiting()) return;
  Text url = homeLink->LinkUrl(0);
  openAddress(url.c_str());
}

}  // namespace tambrel::app
