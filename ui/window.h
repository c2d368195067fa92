// Widget objects over native windows and the dispatch that turns window messages into hooks
// and bound event routines.
//
// A widget object lives independently of its native window: Create… makes the window, teardown
// (on WM_NCDESTROY, or Destroy/Detach) returns the object to its constructed state. Every
// created or attached window is entered in WindowMap and subclassed with one framework
// procedure, which finds the object and calls its HandleMessage; that dispatcher runs the hook
// (a virtual On… function) and the bound routine of each message and passes everything not
// answered to the window procedure it replaced. Notifications that a parent receives from its
// children (WM_COMMAND, WM_NOTIFY, WM_CTLCOLOR*, WM_DRAWITEM, scroll messages) are reflected to
// the child's object, so controls raise their own events. Teardown removes the object from
// WindowMap first, so a torn-down object is never dispatched to again.
//
// Operations that set-or-get take OptionalArg: present sets (even with 0), absent gets.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <type_traits>

#include "runtime/values.h"
#include "ui/handles.h"

namespace tambrel::ui {

// ---- optional arguments and event routines ----------------------------------------------

// An optional argument: a pointer-sized value and whether it was given. A given 0 is a value.
struct OptionalArg {
  intptr_t value = 0;
  bool present = false;

  constexpr OptionalArg() = default;
  template <class T>
    requires(std::is_integral_v<T> || std::is_enum_v<T>)
  constexpr OptionalArg(T v) : value(static_cast<intptr_t>(v)), present(true) {}
  template <class T>
  OptionalArg(T* p) : value(reinterpret_cast<intptr_t>(p)), present(true) {}

  intptr_t value_or(intptr_t fallback) const { return present ? value : fallback; }
  // A text argument: the given text, "" when absent or null.
  const char* text() const { return present && value ? reinterpret_cast<const char*>(value) : ""; }
};

namespace detail {
template <class T>
intptr_t to_word(T v) {
  if constexpr (std::is_pointer_v<T>) return reinterpret_cast<intptr_t>(v);
  else return static_cast<intptr_t>(v);
}
template <class T>
T from_word(intptr_t w) {
  if constexpr (std::is_pointer_v<T>) return reinterpret_cast<T>(w);
  else return static_cast<T>(w);
}
}  // namespace detail

// A bound handler: any function of up to seven integer or pointer parameters returning an
// integer (or nothing, which counts as 0). The framework always supplies seven pointer-sized
// words; the routine takes as many as it declares. An empty routine yields 0 when called.
class EventRoutine {
 public:
  static constexpr int kMaxArgs = 7;

  EventRoutine() = default;
  EventRoutine(std::nullptr_t) {}
  template <class R, class... A>
  EventRoutine(R (*f)(A...)) : fn_(reinterpret_cast<void (*)()>(f)), call_(&thunk<R, A...>) {
    static_assert(sizeof...(A) <= kMaxArgs, "an event routine takes at most seven arguments");
  }

  explicit operator bool() const { return fn_ != nullptr; }
  void* address() const { return reinterpret_cast<void*>(fn_); }
  friend bool operator==(const EventRoutine& a, const EventRoutine& b) { return a.fn_ == b.fn_; }

  template <class... V>
  intptr_t operator()(V... v) const {
    static_assert(sizeof...(V) <= kMaxArgs);
    if (!fn_) return 0;
    const intptr_t words[kMaxArgs] = {detail::to_word(v)...};
    return call_(fn_, words);
  }

 private:
  template <class R, class... A, size_t... I>
  static intptr_t invoke(void (*fn)(), const intptr_t* w, std::index_sequence<I...>) {
    auto f = reinterpret_cast<R (*)(A...)>(fn);
    if constexpr (std::is_void_v<R>) {
      f(detail::from_word<A>(w[I])...);
      return 0;
    } else {
      return detail::to_word(f(detail::from_word<A>(w[I])...));
    }
  }
  template <class R, class... A>
  static intptr_t thunk(void (*fn)(), const intptr_t* w) {
    return invoke<R, A...>(fn, w, std::index_sequence_for<A...>{});
  }

  void (*fn_)() = nullptr;
  intptr_t (*call_)(void (*)(), const intptr_t*) = nullptr;
};

// Modifier keys at dispatch time: 1 = Ctrl, 2 = Shift, 4 = Alt, or-ed.
enum KeyState : int { KEY_CTRL = 1, KEY_SHIFT = 2, KEY_ALT = 4 };
int key_state();

// ---- framework globals --------------------------------------------------------------------

class Window;

// Native window handle -> widget object, looked up on every message.
class WindowMap {
 public:
  static Window* Find(HWND hwnd);
  // Inserts or replaces the entry of hwnd.
  static bool Insert(HWND hwnd, Window* window);
  // Removes hwnd's entry when it still names this object.
  static void Erase(HWND hwnd, const Window* window);
  static size_t Size();
};

// Identifiers of child controls: each control takes the counter plus one.
int control_id_counter();
void set_control_id_counter(int value);
int next_control_id();

// The module instance used for class registration and window creation (GetModuleHandleA(NULL)
// until set).
HINSTANCE module_instance();
void set_module_instance(HINSTANCE instance);

constexpr UINT kDefaultClassStyle = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
// Registers a framework window class (class window procedure, arrow cursor, button-face
// background). A name that is already registered is left as it is.
void RegisterFrameworkClass(const char* class_name, UINT style = kDefaultClassStyle,
                            HICON icon = nullptr);

// The procedure installed on every framework window, and the class procedure of framework
// window classes (exposed for tests that check a window is subclassed).
LRESULT CALLBACK FrameworkSubclassProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
LRESULT CALLBACK FrameworkClassProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

// Mouse coordinates of a message: unsigned 16-bit each, never sign-extended.
inline intptr_t mouse_x(LPARAM lp) { return static_cast<intptr_t>(lp & 0xFFFF); }
inline intptr_t mouse_y(LPARAM lp) { return static_cast<intptr_t>((lp >> 16) & 0xFFFF); }

// ---- Window ---------------------------------------------------------------------------------

class Window {
 public:
  Window() = default;
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;
  virtual ~Window();

  // Tears down with the object's own window handle (the native window itself stays).
  virtual void Destroy();
  // A new object of the same class with the same bound routines and settings, without a
  // native window or owned handles (two objects never own one window or one GDI object).
  virtual std::unique_ptr<Window> Copy() const;
  // The per-object dispatcher.
  virtual LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  // The class window procedure of framework-classed windows.
  virtual LRESULT ClassWindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT DefaultMdiChildProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT DefaultProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

  // Hooks called by the dispatcher; the base ones do nothing and return 0 unless stated.
  virtual intptr_t OnReflectedCommand(HWND parent, HWND control, int code, int id);
  virtual intptr_t OnReflectedNotify(HWND parent, HWND source, int code, intptr_t id, LPARAM lparam);
  virtual intptr_t OnReflectedColor(HWND control, HDC dc);  // a brush or 0
  virtual intptr_t OnSetCursor(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  virtual intptr_t OnPaint(HWND hwnd);
  virtual intptr_t OnEraseBackground(HWND hwnd, HDC dc);
  virtual intptr_t OnReflectedScroll(int request, int position, HWND scroll_bar);
  virtual intptr_t OnMouseMove(HWND hwnd, intptr_t x, intptr_t y);  // enter tracking
  virtual intptr_t OnReflectedDrawItem(WPARAM id, DRAWITEMSTRUCT* item);  // base returns 1
  virtual intptr_t OnMouseLeave(HWND hwnd);
  virtual intptr_t OnLeftButtonDown(HWND hwnd, LPARAM lparam);
  virtual intptr_t OnLeftDoubleClick(HWND hwnd, LPARAM lparam);
  virtual intptr_t OnKeyDown(HWND hwnd, WPARAM key);
  virtual intptr_t OnMoving(HWND hwnd, LPARAM lparam);
  virtual intptr_t OnMoved(HWND hwnd, intptr_t x, intptr_t y);
  virtual intptr_t OnLeftButtonUp(HWND hwnd, LPARAM lparam);
  virtual intptr_t OnSizeChanged(int width, int height);
  // Releases what the derived class owns; derived classes call their base's.
  virtual void ClassTeardown(HWND hwnd);
  // Class teardown, window procedure put back, cursor and font released, every field zeroed,
  // and the object taken out of WindowMap.
  void Teardown(HWND hwnd);

  // Creates the native window; 0 when the object already has one or creation fails.
  HWND CreateNative(HWND parent, DWORD ex_style, const char* class_name, const char* text,
                    DWORD style, int x, int y, int width, int height, HMENU menu_or_id,
                    void* param = nullptr);
  void Detach() { Destroy(); }
  bool AttachDialogItem(HWND dialog, int item_id, OptionalArg apply_default_font = {});
  bool AttachHandle(HWND hwnd);

  HWND Handle() const { return hwnd_; }
  Text ClassName() const;
  int ControlId() const;
  bool IsLive() const;
  void Close();
  void Focus();
  bool HasFocus() const;
  RECT ClientRect() const;
  RECT RectInParent() const;
  void SuspendRedraw();
  void ResumeRedraw();
  bool Invalidate(OptionalArg erase = {});
  bool InvalidateArea(const RECT& area);
  bool Validate();
  bool Update();
  bool Move(OptionalArg x = {}, OptionalArg y = {}, OptionalArg width = {},
            OptionalArg height = {}, OptionalArg repaint = {});
  intptr_t Left(OptionalArg x = {}, OptionalArg repaint = {});
  intptr_t Top(OptionalArg y = {}, OptionalArg repaint = {});
  intptr_t Width(OptionalArg width = {}, OptionalArg repaint = {});
  intptr_t Height(OptionalArg height = {}, OptionalArg repaint = {});
  bool ZOrder(OptionalArg position = {});
  LRESULT Send(UINT message, WPARAM wparam = 0, LPARAM lparam = 0) const;
  // A message whose lparam is a text: sent as UTF-16 (the window is a Unicode window), so it
  // reads the same on every system locale.
  LRESULT SendText(UINT message, WPARAM wparam, const char* text) const;
  // The text a message writes into a buffer (LB_GETTEXT, CB_GETLBTEXT) whose length another
  // message gives, read as UTF-16.
  Text ReceiveText(UINT length_message, UINT text_message, WPARAM index) const;
  bool Post(UINT message, WPARAM wparam = 0, LPARAM lparam = 0) const;
  HWND SetParentWindow(HWND parent);
  HWND ParentWindow() const;
  intptr_t Visible(OptionalArg flag = {});
  intptr_t Disabled(OptionalArg flag = {});
  DWORD Style() const;
  void AddStyle(DWORD bits);
  void RemoveStyle(DWORD bits);
  DWORD ExStyle() const;
  void AddExStyle(DWORD bits);
  void RemoveExStyle(DWORD bits);
  Text GetText() const;
  bool SetText(const char* text);
  // Through the runtime's box routine; the result is the box's answer minus 1.
  int ShowMessageBox(const char* text, UINT style, OptionalArg caption = {});
  bool SetProperty(const char* name, HANDLE value);
  HANDLE GetProperty(const char* name) const;
  HANDLE RemoveProperty(const char* name);
  HCURSOR Cursor(OptionalArg cursor = {});
  virtual void SetFont(HFONT font);
  virtual HFONT GetFont() const;
  bool SetRegion(HRGN region, bool redraw = true);
  bool SetRegionFromBitmap(HBITMAP bitmap, OptionalArg transparent = {}, bool redraw = true);
  bool RoundCorners(int ellipse_size);
  void AcceptFiles(bool accept = true);
  intptr_t ClassIcon(OptionalArg icon = {}, OptionalArg big = {});
  intptr_t ClassCursor(OptionalArg cursor = {});
  void SetHandle(HWND hwnd) { hwnd_ = hwnd; }

  EventRoutine BindLeftButtonDown(EventRoutine r) { return events_.left_down = r; }
  EventRoutine BindLeftButtonUp(EventRoutine r) { return events_.left_up = r; }
  EventRoutine BindLeftDoubleClick(EventRoutine r) { return events_.left_double = r; }
  EventRoutine BindRightButtonDown(EventRoutine r) { return events_.right_down = r; }
  EventRoutine BindRightButtonUp(EventRoutine r) { return events_.right_up = r; }
  EventRoutine BindMouseMove(EventRoutine r) { return events_.mouse_move = r; }
  EventRoutine BindFocusGained(EventRoutine r) { return events_.focus_gained = r; }
  EventRoutine BindFocusLost(EventRoutine r) { return events_.focus_lost = r; }
  EventRoutine BindKeyDown(EventRoutine r) { return events_.key_down = r; }
  EventRoutine BindKeyUp(EventRoutine r) { return events_.key_up = r; }
  EventRoutine BindWheel(EventRoutine r) { return events_.wheel = r; }
  EventRoutine BindCharacter(EventRoutine r) { return events_.character = r; }
  EventRoutine BindFilesDropped(EventRoutine r) { return events_.files_dropped = r; }
  EventRoutine BindMouseEnter(EventRoutine r) { return events_.mouse_enter = r; }
  EventRoutine BindMouseLeave(EventRoutine r) { return events_.mouse_leave = r; }
  EventRoutine BindPaint(EventRoutine r) { return events_.paint = r; }

  bool MouseInside() const { return mouse_inside_; }

 protected:
  struct Events {
    EventRoutine left_down, left_up, left_double, right_down, right_up, mouse_move;
    EventRoutine focus_gained, focus_lost, key_down, key_up, character, wheel;
    EventRoutine files_dropped, mouse_enter, mouse_leave, paint;
  };
  // Enters the window in WindowMap and subclasses it (shared by create and attach).
  bool Adopt(HWND hwnd);
  // Copies what Copy() carries over: the bound routines of Window.
  void CopyWindowPartFrom(const Window& other) { events_ = other.events_; }

  HWND hwnd_ = nullptr;
  WNDPROC prev_proc_ = nullptr;
  OwnedCursor cursor_;
  Events events_;
  bool mouse_inside_ = false;
  SharedFont font_;

 private:
  LRESULT PassOn(WNDPROC prev, HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
};

}  // namespace tambrel::ui
