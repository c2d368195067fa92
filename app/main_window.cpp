// The main window: controls at fixed positions (no layout manager, no resizing), the shared
// font and icon, and the events bound at the first activation.
#include <windows.h>
#include <shellapi.h>

#include "app/app.h"
#include "app/config.h"
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

void buildControls() {
  HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kIconResource));
  mainWindow->Send(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));

  HWND main = mainWindow->Handle();
  createGallery(main, 0, 0, 280, 440);

  pageSelector->Create(main, bit_or({2, 3, 0x200, 1, 0x40000000, 0, 0x10000000}), 230, 420, 50, 200);
  static_assert(kPageSelectorStyle == (2 | 3 | 0x200 | 1 | 0x40000000 | 0x10000000));
  // It covers the gallery's lower right corner and must stay visible above it.
  SetWindowPos(pageSelector->Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);

  stampPreview->Create(main, 285, 0, 300, 300);

  inputGroup->Create(main, "", {}, 285, 300, 300, 140);
  HWND group = inputGroup->Handle();
  textLabel->Create(group, "文本：", {}, 12, 14, 36, 20);
  sizeLabel->Create(group, "尺寸：", {}, 12, 38, 36, 20);
  textBox->Create(group, "Tambrel", {}, 54, 14, 80, 20);
  sizeBox->Create(group, "0", {}, 54, 38, 80, 20);
  generateButton->Create(group, "生成", {}, {}, 54, 70, 80, 24);
  saveButton->Create(group, "保存", {}, {}, 54, 98, 80, 24);
  homeLink->Create(group, HOME_LINK_MARKUP, {}, 180, 118, 100, 24);

  // One font for six controls; the framework releases it after the last of them is gone.
  HFONT font = CreateFontA(18, 0, 0, 0, 0, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "微软雅黑");
  for (ui::Window* w : std::initializer_list<ui::Window*>{textLabel.get(), sizeLabel.get(), textBox.get(),
                                                          sizeBox.get(), generateButton.get(),
                                                          saveButton.get()}) {
    w->SetFont(font);
  }

  stampPreview->BackgroundColor(0);
  mainWindow->BindFirstActivation(&onFirstActivate);
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
  ShellExecuteA(nullptr, "open", url.c_str(), "", "", SW_SHOWNORMAL);
}

}  // namespace tambrel::app
