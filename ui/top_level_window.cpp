// Top-level windows. See top_level_window.h for the design.
#include "ui/top_level_window.h"

#include "runtime/text.h"

#include <cstring>

namespace tambrel::ui {
namespace {

int g_hot_key_counter = 0;

void copy_truncated(char* dest, size_t capacity, const char* text) {
  if (!capacity) return;
  const size_t n = text ? strnlen(text, capacity - 1) : 0;
  if (n) std::memcpy(dest, text, n);
  dest[n] = '\0';
}

// Tray callback mouse messages -> the codes the tray-icon routine receives.
int tray_code(LPARAM lparam) {
  switch (lparam) {
    case WM_LBUTTONDOWN: return 1;
    case WM_RBUTTONDOWN: return 2;
    case WM_MBUTTONDOWN: return 3;
    case WM_LBUTTONDBLCLK: return 4;
    case WM_RBUTTONDBLCLK: return 5;
    case WM_MBUTTONDBLCLK: return 6;
    case WM_MOUSEMOVE: return 7;
    case 0x0402: return 8;  // NIN_BALLOONSHOW
    case 0x0404: return 9;  // NIN_BALLOONTIMEOUT
    case 0x0405: return 10; // NIN_BALLOONUSERCLICK
    default: return 0;
  }
}

}  // namespace

TopLevelWindow::~TopLevelWindow() { Destroy(); }

void TopLevelWindow::Destroy() { Teardown(hwnd_); }

std::unique_ptr<Window> TopLevelWindow::Copy() const {
  auto copy = std::make_unique<TopLevelWindow>();
  copy->CopyWindowPartFrom(*this);
  copy->top_ = top_;
  copy->background_color_ = background_color_;
  copy->background_mode_ = background_mode_;
  copy->keep_caption_active_ = keep_caption_active_;
  copy->drag_by_client_area_ = drag_by_client_area_;
  return copy;
}

void TopLevelWindow::ClearRoutines() {
  top_.created = {};
  top_.close_query = {};
}

void TopLevelWindow::ClassTeardown(HWND hwnd) {
  ClearRoutines();
  background_brush_.reset();
  background_bitmap_.reset();
  if (tray_) {
    NotifyTray(NIM_DELETE, 0);
    tray_.reset();
  }
  tray_icon_.reset();
  background_color_ = 0;
  background_mode_ = BACKGROUND_TILED;
  taskbar_created_ = 0;
  top_ = Routines{};
  keep_caption_active_ = 0;
  drag_by_client_area_ = 0;
  first_activation_done_ = false;
  // Destroying the owner would take a still-live window with it: only when ours is going.
  if (destroying_) hidden_owner_.reset();
  else hidden_owner_.release();
  destroying_ = false;
  Window::ClassTeardown(hwnd);
}

// ---- background ----------------------------------------------------------------------------

void TopLevelWindow::PaintBackground(HDC dc, const RECT& area) {
  if (background_brush_) FillRect(dc, &area, background_brush_.get());
  if (!background_bitmap_ || background_mode_ == BACKGROUND_TILED) return;
  BITMAP info{};
  GetObjectA(background_bitmap_.get(), sizeof(info), &info);
  OwnedMemoryDc memory(CreateCompatibleDC(dc));
  SelectedObject selected(memory.get(), background_bitmap_.get());
  if (background_mode_ == BACKGROUND_TOP_LEFT) {
    BitBlt(dc, area.left, area.top, info.bmWidth, info.bmHeight, memory.get(), 0, 0, SRCCOPY);
  } else if (background_mode_ == BACKGROUND_STRETCHED) {
    SetStretchBltMode(dc, HALFTONE);
    StretchBlt(dc, area.left, area.top, area.right - area.left, area.bottom - area.top,
               memory.get(), 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
  }
}

intptr_t TopLevelWindow::OnEraseBackground(HWND hwnd, HDC dc) {
  RECT r{};
  GetClientRect(hwnd, &r);
  PaintBackground(dc, r);
  return 1;
}

bool TopLevelWindow::RebuildBackgroundBrush() {
  if (background_bitmap_ && background_mode_ == BACKGROUND_TILED) {
    background_brush_.reset(CreatePatternBrush(background_bitmap_.get()));
  } else {
    background_brush_.reset(CreateSolidBrush(background_color_));
  }
  return static_cast<bool>(background_brush_);
}

intptr_t TopLevelWindow::BackgroundColor(OptionalArg color, OptionalArg redraw) {
  if (!color.present) return background_color_;
  background_color_ = static_cast<COLORREF>(color.value);
  background_brush_.reset(CreateSolidBrush(background_color_));
  if (hwnd_ && redraw.value_or(1) == 1) InvalidateRect(hwnd_, nullptr, TRUE);
  return 0;
}

bool TopLevelWindow::BackgroundPicture(OptionalArg bitmap, int mode, OptionalArg redraw) {
  background_bitmap_.reset(reinterpret_cast<HBITMAP>(bitmap.value_or(0)));
  background_mode_ = mode;
  const bool ok = RebuildBackgroundBrush();
  if (hwnd_ && redraw.value_or(1) == 1) InvalidateRect(hwnd_, nullptr, TRUE);
  return ok;
}

intptr_t TopLevelWindow::OnLeftButtonDown(HWND hwnd, LPARAM) {
  if (drag_by_client_area_) {
    ReleaseCapture();
    SendMessageW(hwnd, WM_NCLBUTTONDOWN, HTCAPTION, 0);
  }
  return 0;
}

// ---- window state, icon, menu --------------------------------------------------------------

intptr_t TopLevelWindow::WindowState(OptionalArg state) {
  if (!state.present) {
    if (IsIconic(hwnd_)) return 1;
    if (IsZoomed(hwnd_)) return 2;
    return 0;
  }
  switch (state.value) {
    case 0: return ShowWindow(hwnd_, SW_SHOWNORMAL);
    case 1: return ShowWindow(hwnd_, SW_MINIMIZE);
    case 2: return ShowWindow(hwnd_, SW_MAXIMIZE);
    case 3: {
      RECT r{};
      GetWindowRect(hwnd_, &r);
      const int x = (GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2;
      const int y = (GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 2;
      // Centring also brings the window to the top: it is what the user is asked to look at.
      return SetWindowPos(hwnd_, HWND_TOP, x, y, 0, 0,
                          SWP_NOSIZE | SWP_NOOWNERZORDER | SWP_SHOWWINDOW);
    }
    default: return ShowWindow(hwnd_, SW_HIDE);
  }
}

intptr_t TopLevelWindow::Icon(OptionalArg icon, OptionalArg which) {
  const WPARAM kind = which.value_or(0) ? ICON_BIG : ICON_SMALL;
  if (icon.present) return Send(WM_SETICON, kind, icon.value);
  return Send(WM_GETICON, kind, 0);
}

HMENU TopLevelWindow::MenuBar() const { return GetMenu(hwnd_); }
bool TopLevelWindow::SetMenuBar(HMENU menu) { return SetMenu(hwnd_, menu); }
bool TopLevelWindow::RedrawMenuBar() { return DrawMenuBar(hwnd_); }

// ---- tray icon -----------------------------------------------------------------------------

bool TopLevelWindow::NotifyTray(DWORD action, UINT flags) {
  if (!tray_) return false;
  tray_->uFlags = flags;
  return Shell_NotifyIconA(action, tray_.get());
}

bool TopLevelWindow::AddTrayIcon(HICON icon, OptionalArg tip) {
  if (!hwnd_) return false;
  if (!taskbar_created_) taskbar_created_ = RegisterWindowMessageA("TaskbarCreated");
  if (tray_) NotifyTray(NIM_DELETE, 0);
  tray_ = std::make_unique<NOTIFYICONDATAA>();
  std::memset(tray_.get(), 0, sizeof(NOTIFYICONDATAA));
  tray_->cbSize = sizeof(NOTIFYICONDATAA);
  tray_->hWnd = hwnd_;
  tray_->uID = 1;
  tray_->uCallbackMessage = WM_TRAY_CALLBACK;
  tray_icon_.reset(icon);
  tray_->hIcon = icon;
  copy_truncated(tray_->szTip, sizeof(tray_->szTip), tip.text());
  return NotifyTray(NIM_ADD, NIF_MESSAGE | NIF_ICON | NIF_TIP);
}

bool TopLevelWindow::SetTrayTip(const char* tip) {
  if (!tray_) return false;
  copy_truncated(tray_->szTip, sizeof(tray_->szTip), tip);
  return NotifyTray(NIM_MODIFY, NIF_TIP);
}

bool TopLevelWindow::SetTrayIcon(HICON icon) {
  if (!tray_) return false;
  tray_icon_.reset(icon);
  tray_->hIcon = icon;
  return NotifyTray(NIM_MODIFY, NIF_ICON);
}

bool TopLevelWindow::ShowTrayBalloon(const char* text, const char* title, UINT timeout_ms,
                                     DWORD icon_kind) {
  if (!tray_) return false;
  copy_truncated(tray_->szInfo, sizeof(tray_->szInfo), text);
  copy_truncated(tray_->szInfoTitle, sizeof(tray_->szInfoTitle), title);
  tray_->uTimeout = timeout_ms;
  tray_->dwInfoFlags = icon_kind;
  return NotifyTray(NIM_MODIFY, NIF_INFO);
}

bool TopLevelWindow::RemoveTrayIcon() {
  if (!tray_) return false;
  const bool ok = NotifyTray(NIM_DELETE, 0);
  tray_.reset();
  tray_icon_.reset();
  return ok;
}

intptr_t TopLevelWindow::KeepCaptionActive(OptionalArg flag) {
  if (flag.present) keep_caption_active_ = flag.value;
  return keep_caption_active_;
}
intptr_t TopLevelWindow::DragByClientArea(OptionalArg flag) {
  if (flag.present) drag_by_client_area_ = flag.value;
  return drag_by_client_area_;
}

int TopLevelWindow::AddHotKey(UINT modifiers, UINT virtual_key) {
  const int id = ++g_hot_key_counter;
  return ::RegisterHotKey(hwnd_, id, modifiers, virtual_key) ? id : 0;
}
bool TopLevelWindow::RemoveHotKey(int id) { return ::UnregisterHotKey(hwnd_, id); }

// ---- messages ------------------------------------------------------------------------------

LRESULT TopLevelWindow::ClassWindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_FRAMEWORK_CREATED) {
    if (top_.created) {
      top_.created(hwnd);
      RECT r{};
      GetClientRect(hwnd, &r);
      SendMessageW(hwnd, WM_SIZE, 0, MAKELPARAM(r.right - r.left, r.bottom - r.top));
    }
    return DefWindowProcW(hwnd, message, wparam, lparam);
  }
  if (message == WM_CLOSE) {
    if (top_.close_query && top_.close_query()) return 1;
    DestroyWindow(hwnd);
    return 0;
  }
  if (TopLevelEvents(hwnd, message, wparam, lparam)) return 1;
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

intptr_t TopLevelWindow::TopLevelEvents(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_MOVE:
      top_.moved(LOWORD(lparam), HIWORD(lparam));
      return 0;
    case WM_SIZE:
      top_.resized(LOWORD(lparam), HIWORD(lparam));
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wparam)) {
        if (!first_activation_done_) {
          first_activation_done_ = true;
          top_.first_activation();
        }
        top_.activated();
      } else {
        top_.deactivated();
      }
      return 0;
    case WM_SHOWWINDOW:
      if (wparam) top_.shown();
      else top_.hidden();
      return 0;
    case WM_DESTROY:
      destroying_ = true;
      top_.destroyed();
      return 0;
    case WM_TRAY_CALLBACK:
      top_.tray_icon(tray_code(lparam));
      return 0;
    case WM_NCACTIVATE:
      return wparam == 0 && keep_caption_active_ == 1 ? 1 : 0;
    case WM_COMMAND:
      if (HIWORD(wparam) <= 1 && lparam == 0) top_.menu_command(LOWORD(wparam));
      return 0;
    case WM_HOTKEY:
      top_.hot_key(wparam, LOWORD(lparam), HIWORD(lparam));
      return 0;
    default:
      if (taskbar_created_ && message == taskbar_created_ && tray_) {
        NotifyTray(NIM_DELETE, 0);
        NotifyTray(NIM_ADD, NIF_MESSAGE | NIF_ICON | NIF_TIP);
      }
      return 0;
  }
}

// ---- creation ------------------------------------------------------------------------------

HWND TopLevelWindow::CreateTopLevel(HWND owner, const char* title, DWORD style, DWORD ex_style,
                                    int x, int y, int width, int height, const char* class_name) {
  if (hwnd_) return nullptr;
  BackgroundColor(static_cast<intptr_t>(GetSysColor(COLOR_BTNFACE)));
  HWND h = CreateNative(owner, ex_style, class_name, title, style, x, y, width, height, nullptr);
  if (h && owner) {
    for (WPARAM kind : {WPARAM{ICON_SMALL}, WPARAM{ICON_BIG}}) {
      LRESULT icon = SendMessageW(owner, WM_GETICON, kind, 0);
      SendMessageW(h, WM_SETICON, kind, icon);
    }
  }
  return h;
}

HWND TopLevelWindow::CreateAndShow(const TopLevelOptions& o) {
  if (hwnd_) return nullptr;
  const char* class_name = o.class_name.present ? o.class_name.text() : kTopLevelClass;
  RegisterFrameworkClass(class_name);
  if (o.created) top_.created = o.created;

  HWND owner = reinterpret_cast<HWND>(o.owner.value_or(0));
  OwnedWindow made_owner;
  if (!o.owner.present && o.real_owner.value_or(1) == 0) {
    made_owner.reset(CreateWindowExW(0, text_to_wide(class_name).c_str(), L"", 0, 0, 0, 250, 110, nullptr,
                                     nullptr, module_instance(), nullptr));
    owner = made_owner.get();
  }

  HWND h = CreateTopLevel(owner, o.title.text(), static_cast<DWORD>(o.style.value_or(kTopLevelStyle)),
                          static_cast<DWORD>(o.ex_style.value),
                          static_cast<int>(o.x.value_or(CW_USEDEFAULT)),
                          static_cast<int>(o.y.value_or(CW_USEDEFAULT)),
                          static_cast<int>(o.width.value_or(380)),
                          static_cast<int>(o.height.value_or(250)), class_name);
  if (!h) return nullptr;  // the hidden owner goes with made_owner
  hidden_owner_ = std::move(made_owner);

  SendMessageW(h, WM_FRAMEWORK_CREATED, 0, 0);
  if (!o.show.present || o.show.value == 1) {
    ShowWindow(h, SW_SHOW);
    UpdateWindow(h);
  }

  if (o.modal.value_or(0)) {
    const bool disable_owner = o.owner.present && owner && IsWindow(owner);
    if (disable_owner) EnableWindow(owner, FALSE);
    auto accelerators = reinterpret_cast<HACCEL>(o.accelerators.value_or(0));
    MSG msg;
    while (IsWindow(h)) {
      const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
      if (got == -1) continue;
      if (got == 0) {
        // The quit message belongs to the outer loop too: put it back so that it ends as well.
        PostQuitMessage(static_cast<int>(msg.wParam));
        break;
      }
      if (TranslateAcceleratorW(h, accelerators, &msg)) continue;
      if (IsDialogMessageW(h, &msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (disable_owner && IsWindow(owner)) {
      EnableWindow(owner, TRUE);
      SetActiveWindow(owner);
    }
  }
  return h;
}

}  // namespace tambrel::ui
