// Window objects, WindowMap and the dispatcher. See window.h for the design.
#include "ui/window.h"

#include <shellapi.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "runtime/message_box.h"
#include "runtime/text.h"

namespace tambrel::ui {
namespace {

std::unordered_map<HWND, Window*>& window_table() {
  static std::unordered_map<HWND, Window*> table;
  return table;
}

int g_control_id_counter = 500;
HINSTANCE g_instance = nullptr;

constexpr UINT kCtlColorFirst = 0x0132;  // WM_CTLCOLORMSGBOX
constexpr UINT kCtlColorLast = 0x0138;   // WM_CTLCOLORSTATIC

bool pressed(int key) { return (GetAsyncKeyState(key) & 0x8000) != 0; }

}  // namespace

int key_state() {
  return (pressed(VK_CONTROL) ? KEY_CTRL : 0) | (pressed(VK_SHIFT) ? KEY_SHIFT : 0) |
         (pressed(VK_MENU) ? KEY_ALT : 0);
}

// ---- globals -------------------------------------------------------------------------------

Window* WindowMap::Find(HWND hwnd) {
  auto& t = window_table();
  auto it = t.find(hwnd);
  return it == t.end() ? nullptr : it->second;
}

bool WindowMap::Insert(HWND hwnd, Window* window) {
  if (!hwnd || !window) return false;
  window_table()[hwnd] = window;
  return true;
}

void WindowMap::Erase(HWND hwnd, const Window* window) {
  auto& t = window_table();
  auto it = t.find(hwnd);
  if (it != t.end() && it->second == window) t.erase(it);
}

size_t WindowMap::Size() { return window_table().size(); }

int control_id_counter() { return g_control_id_counter; }
void set_control_id_counter(int value) { g_control_id_counter = value; }
int next_control_id() { return ++g_control_id_counter; }

HINSTANCE module_instance() {
  if (!g_instance) g_instance = GetModuleHandleA(nullptr);
  return g_instance;
}
void set_module_instance(HINSTANCE instance) { g_instance = instance; }

void RegisterFrameworkClass(const char* class_name, UINT style, HICON icon) {
  // Unicode windows: texts and typed characters reach them as UTF-16 whatever the system's
  // ANSI code page is.
  const std::wstring name = text_to_wide(class_name);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.style = style;
  wc.lpfnWndProc = &FrameworkClassProc;
  wc.hInstance = module_instance();
  wc.hIcon = icon;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszMenuName = L"";
  wc.lpszClassName = name.c_str();
  RegisterClassExW(&wc);  // a second registration fails and the existing class is used
}

LRESULT CALLBACK FrameworkSubclassProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message != WM_QUIT) {
    if (Window* w = WindowMap::Find(hwnd)) return w->HandleMessage(hwnd, message, wparam, lparam);
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

LRESULT CALLBACK FrameworkClassProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (Window* w = WindowMap::Find(hwnd)) return w->ClassWindowProc(hwnd, message, wparam, lparam);
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

// ---- lifecycle -----------------------------------------------------------------------------

Window::~Window() { Destroy(); }

void Window::Destroy() { Teardown(hwnd_); }

std::unique_ptr<Window> Window::Copy() const {
  auto copy = std::make_unique<Window>();
  copy->CopyWindowPartFrom(*this);
  return copy;
}

void Window::ClassTeardown(HWND) {}

void Window::Teardown(HWND) {
  if (!hwnd_) return;
  HWND h = hwnd_;
  // Out of the map first: nothing sent while the rest is released reaches this object.
  WindowMap::Erase(h, this);
  ClassTeardown(h);
  if (prev_proc_ && IsWindow(h)) {
    SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(prev_proc_));
  }
  cursor_.reset();
  font_.reset();
  hwnd_ = nullptr;
  prev_proc_ = nullptr;
  events_ = Events{};
  mouse_inside_ = false;
}

bool Window::Adopt(HWND hwnd) {
  hwnd_ = hwnd;
  if (!WindowMap::Insert(hwnd, this)) return false;
  auto current = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hwnd, GWLP_WNDPROC));
  if (current != &FrameworkSubclassProc) {
    prev_proc_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&FrameworkSubclassProc)));
  }
  return true;
}

HWND Window::CreateNative(HWND parent, DWORD ex_style, const char* class_name, const char* text,
                          DWORD style, int x, int y, int width, int height, HMENU menu_or_id,
                          void* param) {
  if (hwnd_) return nullptr;
  HWND h = CreateWindowExW(ex_style, text_to_wide(class_name).c_str(), text_to_wide(text).c_str(),
                           style | WS_CLIPSIBLINGS, x, y, width, height, parent, menu_or_id,
                           module_instance(), param);
  if (!h) return nullptr;
  hwnd_ = h;
  if (Adopt(h)) {
    SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), 0);
  }
  return h;
}

bool Window::AttachDialogItem(HWND dialog, int item_id, OptionalArg apply_default_font) {
  HWND item = GetDlgItem(dialog, item_id);
  if (!AttachHandle(item)) return false;
  if (apply_default_font.value_or(1)) {
    SendMessageW(item, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), 1);
  }
  return true;
}

bool Window::AttachHandle(HWND hwnd) {
  if (hwnd_ || !hwnd || !IsWindow(hwnd)) return false;
  return Adopt(hwnd);
}

// ---- dispatch ------------------------------------------------------------------------------

LRESULT Window::PassOn(WNDPROC prev, HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (prev) return CallWindowProcW(prev, hwnd, message, wparam, lparam);
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

LRESULT Window::HandleMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  // Kept before any hook runs: teardown (on WM_NCDESTROY, or by a routine) clears the field,
  // and the message still belongs to the procedure that was in place when it arrived.
  const WNDPROC prev = prev_proc_;
  intptr_t r = 0;
  const intptr_t x = mouse_x(lparam), y = mouse_y(lparam);

  switch (message) {
    case WM_NCDESTROY:
      Teardown(hwnd);
      break;
    case WM_LBUTTONDOWN:
      if ((r = OnLeftButtonDown(hwnd, lparam))) return r;
      if ((r = events_.left_down(x, y, key_state()))) return r;
      break;
    case WM_LBUTTONUP:
      if ((r = OnLeftButtonUp(hwnd, lparam))) return r;
      if ((r = events_.left_up(x, y, key_state()))) return r;
      break;
    case WM_LBUTTONDBLCLK:
      if ((r = OnLeftDoubleClick(hwnd, lparam))) return r;
      if ((r = events_.left_double(x, y, key_state()))) return r;
      break;
    case WM_RBUTTONDOWN:
      if ((r = events_.right_down(x, y, key_state()))) return r;
      break;
    case WM_RBUTTONUP:
      if ((r = events_.right_up(x, y, key_state()))) return r;
      break;
    case WM_MOUSEMOVE:
      if (OnMouseMove(hwnd, x, y)) return 0;
      if ((r = events_.mouse_move(x, y, key_state()))) return r;
      break;
    case WM_SETFOCUS:
      events_.focus_gained();
      break;
    case WM_KILLFOCUS:
      events_.focus_lost();
      break;
    case WM_KEYDOWN:
      if ((r = OnKeyDown(hwnd, wparam))) return r;
      if ((r = events_.key_down(wparam, key_state()))) return r;
      break;
    case WM_KEYUP:
      if ((r = events_.key_up(wparam, key_state()))) return r;
      break;
    case WM_MOUSEWHEEL:
      if ((r = events_.wheel((wparam >> 16) & 0xFFFF, key_state()))) return r;
      break;
    case WM_CHAR:
      if ((r = events_.character(wparam))) return r;
      break;
    case WM_SETCURSOR:
      if ((r = OnSetCursor(hwnd, message, wparam, lparam))) return r;
      break;
    case WM_PAINT:
      if (events_.paint) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        r = events_.paint(dc, ps.rcPaint.left, ps.rcPaint.top, ps.rcPaint.right, ps.rcPaint.bottom);
        EndPaint(hwnd, &ps);
        if (r) return r;
      }
      if ((r = OnPaint(hwnd))) return r;
      break;
    case WM_ERASEBKGND:
      if ((r = OnEraseBackground(hwnd, reinterpret_cast<HDC>(wparam)))) return r;
      break;
    case WM_HSCROLL:
    case WM_VSCROLL:
      if (Window* bar = WindowMap::Find(reinterpret_cast<HWND>(lparam))) {
        if ((r = bar->OnReflectedScroll(LOWORD(wparam), HIWORD(wparam),
                                        reinterpret_cast<HWND>(lparam)))) {
          return r;
        }
      }
      break;
    case WM_COMMAND:
      if (Window* control = WindowMap::Find(reinterpret_cast<HWND>(lparam))) {
        if ((r = control->OnReflectedCommand(hwnd, reinterpret_cast<HWND>(lparam), HIWORD(wparam),
                                             LOWORD(wparam)))) {
          return r;
        }
      }
      break;
    case WM_NOTIFY:
      if (auto* header = reinterpret_cast<NMHDR*>(lparam)) {
        if (Window* source = WindowMap::Find(header->hwndFrom)) {
          if ((r = source->OnReflectedNotify(hwnd, header->hwndFrom, static_cast<int>(header->code),
                                             static_cast<intptr_t>(header->idFrom), lparam))) {
            return r;
          }
        }
      }
      break;
    case WM_DRAWITEM:
      if (auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(lparam)) {
        if (Window* owner = WindowMap::Find(item->hwndItem)) {
          if ((r = owner->OnReflectedDrawItem(wparam, item))) return r;
        }
      }
      break;
    case WM_DROPFILES:
      if (events_.files_dropped) {
        auto drop = reinterpret_cast<HDROP>(wparam);
        std::string names;
        const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
        for (UINT i = 0; i < count; ++i) {
          // Sized per name: a path longer than MAX_PATH is passed whole, not cut.
          std::vector<wchar_t> name(DragQueryFileW(drop, i, nullptr, 0) + 1);
          DragQueryFileW(drop, i, name.data(), static_cast<UINT>(name.size()));
          if (i) names += "\r\n";
          const Text one = wide_to_text(name.data());
          names += one.c_str();
        }
        DragFinish(drop);
        Text text(names);
        events_.files_dropped(text.c_str());
        return 0;  // the drop handle is finished: nothing further may touch it
      }
      break;
    case WM_MOUSELEAVE:
      if ((r = OnMouseLeave(hwnd))) return r;
      break;
    case WM_MOVING:
      if ((r = OnMoving(hwnd, lparam))) return r;
      break;
    case WM_MOVE:
      if ((r = OnMoved(hwnd, x, y))) return r;
      break;
    case WM_SIZE:
      OnSizeChanged(LOWORD(lparam), HIWORD(lparam));
      break;
    default:
      if (message >= kCtlColorFirst && message <= kCtlColorLast) {
        if (Window* control = WindowMap::Find(reinterpret_cast<HWND>(lparam))) {
          if ((r = control->OnReflectedColor(reinterpret_cast<HWND>(lparam),
                                             reinterpret_cast<HDC>(wparam)))) {
            return r;
          }
        }
      }
      break;
  }
  return PassOn(prev, hwnd, message, wparam, lparam);
}

LRESULT Window::ClassWindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcW(hwnd, message, wparam, lparam);
}
LRESULT Window::DefaultMdiChildProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefMDIChildProcW(hwnd, message, wparam, lparam);
}
LRESULT Window::DefaultProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

// ---- hooks ---------------------------------------------------------------------------------

intptr_t Window::OnReflectedCommand(HWND, HWND, int, int) { return 0; }
intptr_t Window::OnReflectedNotify(HWND, HWND, int, intptr_t, LPARAM) { return 0; }
intptr_t Window::OnReflectedColor(HWND, HDC) { return 0; }
intptr_t Window::OnSetCursor(HWND, UINT, WPARAM wparam, LPARAM lparam) {
  if (cursor_ && LOWORD(lparam) == HTCLIENT && reinterpret_cast<HWND>(wparam) == hwnd_) {
    SetCursor(cursor_.get());
    return reinterpret_cast<intptr_t>(cursor_.get());
  }
  return 0;
}
intptr_t Window::OnPaint(HWND) { return 0; }
intptr_t Window::OnEraseBackground(HWND, HDC) { return 0; }
intptr_t Window::OnReflectedScroll(int, int, HWND) { return 0; }
intptr_t Window::OnMouseMove(HWND hwnd, intptr_t, intptr_t) {
  if (!events_.mouse_enter || mouse_inside_) return 0;
  mouse_inside_ = true;
  TRACKMOUSEEVENT tme{sizeof(tme), TME_LEAVE, hwnd, 0};
  TrackMouseEvent(&tme);
  return events_.mouse_enter() ? 1 : 0;
}
intptr_t Window::OnReflectedDrawItem(WPARAM, DRAWITEMSTRUCT*) { return 1; }
intptr_t Window::OnMouseLeave(HWND) {
  mouse_inside_ = false;
  return events_.mouse_leave();
}
intptr_t Window::OnLeftButtonDown(HWND, LPARAM) { return 0; }
intptr_t Window::OnLeftDoubleClick(HWND, LPARAM) { return 0; }
intptr_t Window::OnKeyDown(HWND, WPARAM) { return 0; }
intptr_t Window::OnMoving(HWND, LPARAM) { return 0; }
intptr_t Window::OnMoved(HWND, intptr_t, intptr_t) { return 0; }
intptr_t Window::OnLeftButtonUp(HWND, LPARAM) { return 0; }
intptr_t Window::OnSizeChanged(int, int) { return 0; }

// ---- operations ----------------------------------------------------------------------------

Text Window::ClassName() const {
  wchar_t buffer[256] = {};
  GetClassNameW(hwnd_, buffer, 255);
  return wide_to_text(buffer);
}
int Window::ControlId() const { return static_cast<int>(GetWindowLongPtrW(hwnd_, GWLP_ID)); }
bool Window::IsLive() const { return hwnd_ && IsWindow(hwnd_); }
void Window::Close() {
  if (hwnd_) SendMessageW(hwnd_, WM_CLOSE, 0, 0);
}
void Window::Focus() { ::SetFocus(hwnd_); }
bool Window::HasFocus() const { return hwnd_ && GetFocus() == hwnd_; }

RECT Window::ClientRect() const {
  RECT r{};
  GetClientRect(hwnd_, &r);
  return r;
}

RECT Window::RectInParent() const {
  RECT r{};
  GetWindowRect(hwnd_, &r);
  // A top-level window's "parent" for positions is the screen, even when it has an owner.
  HWND parent = (GetWindowLongPtrW(hwnd_, GWL_STYLE) & WS_CHILD) ? ::GetParent(hwnd_) : nullptr;
  MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

void Window::SuspendRedraw() { Send(WM_SETREDRAW, 0, 0); }
void Window::ResumeRedraw() { Send(WM_SETREDRAW, 1, 0); }
bool Window::Invalidate(OptionalArg erase) {
  return InvalidateRect(hwnd_, nullptr, erase.value_or(1) != 0);
}
bool Window::InvalidateArea(const RECT& area) { return InvalidateRect(hwnd_, &area, TRUE); }
bool Window::Validate() { return ValidateRect(hwnd_, nullptr); }
bool Window::Update() { return UpdateWindow(hwnd_); }

bool Window::Move(OptionalArg x, OptionalArg y, OptionalArg width, OptionalArg height,
                  OptionalArg repaint) {
  const RECT r = RectInParent();
  return MoveWindow(hwnd_, static_cast<int>(x.value_or(r.left)), static_cast<int>(y.value_or(r.top)),
                    static_cast<int>(width.value_or(r.right - r.left)),
                    static_cast<int>(height.value_or(r.bottom - r.top)), repaint.value_or(1) != 0);
}

intptr_t Window::Left(OptionalArg x, OptionalArg repaint) {
  if (x.present) return Move(x, {}, {}, {}, repaint);
  return RectInParent().left;
}
intptr_t Window::Top(OptionalArg y, OptionalArg repaint) {
  if (y.present) return Move({}, y, {}, {}, repaint);
  return RectInParent().top;
}
intptr_t Window::Width(OptionalArg width, OptionalArg repaint) {
  if (width.present) return Move({}, {}, width, {}, repaint);
  const RECT r = RectInParent();
  return r.right - r.left;
}
intptr_t Window::Height(OptionalArg height, OptionalArg repaint) {
  if (height.present) return Move({}, {}, {}, height, repaint);
  const RECT r = RectInParent();
  return r.bottom - r.top;
}

bool Window::ZOrder(OptionalArg position) {
  HWND after = HWND_TOP;
  switch (position.value_or(1)) {
    case 2: after = HWND_BOTTOM; break;
    case 3: after = HWND_TOPMOST; break;
    case 4: after = HWND_NOTOPMOST; break;
    default: break;
  }
  return SetWindowPos(hwnd_, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

LRESULT Window::Send(UINT message, WPARAM wparam, LPARAM lparam) const {
  return SendMessageW(hwnd_, message, wparam, lparam);
}
LRESULT Window::SendText(UINT message, WPARAM wparam, const char* text) const {
  const std::wstring wide = text_to_wide(text);
  return SendMessageW(hwnd_, message, wparam, reinterpret_cast<LPARAM>(wide.c_str()));
}
Text Window::ReceiveText(UINT length_message, UINT text_message, WPARAM index) const {
  const LRESULT n = SendMessageW(hwnd_, length_message, index, 0);
  if (n <= 0) return Text();
  std::vector<wchar_t> buffer(static_cast<size_t>(n) + 1, L'\0');
  const LRESULT got = SendMessageW(hwnd_, text_message, index, reinterpret_cast<LPARAM>(buffer.data()));
  return got > 0 ? wide_to_text(buffer.data(), static_cast<size_t>(got)) : Text();
}
bool Window::Post(UINT message, WPARAM wparam, LPARAM lparam) const {
  return PostMessageW(hwnd_, message, wparam, lparam);
}
HWND Window::SetParentWindow(HWND parent) { return ::SetParent(hwnd_, parent); }
HWND Window::ParentWindow() const { return ::GetParent(hwnd_); }

intptr_t Window::Visible(OptionalArg flag) {
  if (flag.present) return ShowWindow(hwnd_, flag.value ? SW_SHOW : SW_HIDE);
  return IsWindowVisible(hwnd_) ? 1 : 0;
}
intptr_t Window::Disabled(OptionalArg flag) {
  if (flag.present) return EnableWindow(hwnd_, flag.value == 0);
  return IsWindowEnabled(hwnd_) ? 0 : 1;
}

namespace {
void change_long(HWND hwnd, int index, DWORD set, DWORD clear) {
  const auto old = static_cast<DWORD>(GetWindowLongPtrW(hwnd, index));
  SetWindowLongPtrW(hwnd, index, static_cast<LONG_PTR>((old | set) & ~clear));
  SetWindowPos(hwnd, nullptr, 0, 0, 0, 0,
               SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}
}  // namespace

DWORD Window::Style() const { return static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_STYLE)); }
void Window::AddStyle(DWORD bits) { change_long(hwnd_, GWL_STYLE, bits, 0); }
void Window::RemoveStyle(DWORD bits) { change_long(hwnd_, GWL_STYLE, 0, bits); }
DWORD Window::ExStyle() const { return static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_EXSTYLE)); }
void Window::AddExStyle(DWORD bits) { change_long(hwnd_, GWL_EXSTYLE, bits, 0); }
void Window::RemoveExStyle(DWORD bits) { change_long(hwnd_, GWL_EXSTYLE, 0, bits); }

// Read and written as UTF-16 and carried as GB18030: what the user typed (an emoji, a CJK
// Extension B name, Hangul) comes back whole on every system locale.
Text Window::GetText() const {
  const int n = GetWindowTextLengthW(hwnd_) + 1;
  std::vector<wchar_t> buffer(static_cast<size_t>(n), L'\0');
  const int got = GetWindowTextW(hwnd_, buffer.data(), n);
  return got > 0 ? wide_to_text(buffer.data(), static_cast<size_t>(got)) : Text();
}
bool Window::SetText(const char* text) { return SetWindowTextW(hwnd_, text_to_wide(text).c_str()); }

int Window::ShowMessageBox(const char* text, UINT style, OptionalArg caption) {
  return rt_message_box(hwnd_, text ? text : "", caption.present ? caption.text() : "信息：",
                        style) -
         1;
}

bool Window::SetProperty(const char* name, HANDLE value) { return SetPropA(hwnd_, name, value); }
HANDLE Window::GetProperty(const char* name) const { return GetPropA(hwnd_, name); }
HANDLE Window::RemoveProperty(const char* name) { return RemovePropA(hwnd_, name); }

HCURSOR Window::Cursor(OptionalArg cursor) {
  if (cursor.present) cursor_.reset(reinterpret_cast<HCURSOR>(cursor.value));
  return cursor_.get();
}

void Window::SetFont(HFONT font) {
  font_.reset(font);
  Send(WM_SETFONT, reinterpret_cast<WPARAM>(font), 1);
}
HFONT Window::GetFont() const { return reinterpret_cast<HFONT>(Send(WM_GETFONT)); }

bool Window::SetRegion(HRGN region, bool redraw) {
  // After a successful SetWindowRgn the system owns the region; only a refused one is ours.
  if (SetWindowRgn(hwnd_, region, redraw)) return true;
  if (region) DeleteObject(region);
  return false;
}

bool Window::SetRegionFromBitmap(HBITMAP bitmap, OptionalArg transparent, bool redraw) {
  BITMAP info{};
  if (!bitmap || !GetObjectA(bitmap, sizeof(info), &info)) return false;
  const COLORREF key = static_cast<COLORREF>(transparent.value_or(0xFFFFFF));
  const int w = info.bmWidth, h = info.bmHeight;
  BITMAPINFO bi{};
  bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  std::vector<DWORD> pixels(static_cast<size_t>(w) * h);
  HDC dc = GetDC(nullptr);
  const int rows = GetDIBits(dc, bitmap, 0, h, pixels.data(), &bi, DIB_RGB_COLORS);
  ReleaseDC(nullptr, dc);
  if (rows != h) return false;
  const DWORD key_bgr = (GetRValue(key) << 16) | (GetGValue(key) << 8) | GetBValue(key);
  HRGN region = CreateRectRgn(0, 0, 0, 0);
  for (int y = 0; y < h; ++y) {
    int x = 0;
    while (x < w) {
      while (x < w && (pixels[static_cast<size_t>(y) * w + x] & 0xFFFFFF) == key_bgr) ++x;
      const int start = x;
      while (x < w && (pixels[static_cast<size_t>(y) * w + x] & 0xFFFFFF) != key_bgr) ++x;
      if (x > start) {
        OwnedRegion run(CreateRectRgn(start, y, x, y + 1));
        CombineRgn(region, region, run.get(), RGN_OR);
      }
    }
  }
  return SetRegion(region, redraw);
}

bool Window::RoundCorners(int ellipse_size) {
  RECT r{};
  GetWindowRect(hwnd_, &r);
  return SetRegion(CreateRoundRectRgn(0, 0, r.right - r.left + 1, r.bottom - r.top + 1,
                                      ellipse_size, ellipse_size),
                   true);
}

void Window::AcceptFiles(bool accept) { DragAcceptFiles(hwnd_, accept); }

intptr_t Window::ClassIcon(OptionalArg icon, OptionalArg big) {
  const int index = big.present && big.value ? GCLP_HICON : GCLP_HICONSM;
  if (icon.present) return static_cast<intptr_t>(SetClassLongPtrW(hwnd_, index, icon.value));
  return static_cast<intptr_t>(GetClassLongPtrW(hwnd_, index));
}

intptr_t Window::ClassCursor(OptionalArg cursor) {
  // The class keeps using the cursor it is given, so the handle stays alive.
  if (cursor.present) return static_cast<intptr_t>(SetClassLongPtrW(hwnd_, GCLP_HCURSOR, cursor.value));
  return static_cast<intptr_t>(GetClassLongPtrW(hwnd_, GCLP_HCURSOR));
}

}  // namespace tambrel::ui
