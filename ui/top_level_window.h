// Top-level windows: a painted background (colour, tiled / top-left / stretched bitmap), the
// window-level events (created, moved, resized, first activation, activated, close query, …),
// a tray icon, hot keys and create-and-show with an optional modal loop.
//
// Window-level messages reach the class window procedure after the generic dispatcher has had
// them, so a message such as WM_SIZE first runs the size hook and then the resized routine.
// The first-activation routine runs once per window lifetime, before that activation's
// activated routine; teardown clears every top-level routine, so a window created again starts
// with no bindings.
#pragma once

#include <windows.h>
// after windows.h, which it needs
#include <shellapi.h>

#include <memory>

#include "ui/window.h"

namespace tambrel::ui {

// The framework's own message sent once the window exists: runs the created routine, then a
// WM_SIZE with the client size.
constexpr UINT WM_FRAMEWORK_CREATED = 0x0402;
// Callback message of the tray icon.
constexpr UINT WM_TRAY_CALLBACK = 0x3019;
constexpr DWORD kTopLevelStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
constexpr const char* kTopLevelClass = "WTWindow";

enum BackgroundMode : int { BACKGROUND_TILED = 0, BACKGROUND_TOP_LEFT = 1, BACKGROUND_STRETCHED = 2 };

// Arguments of CreateAndShow; absent ones take the stated defaults.
struct TopLevelOptions {
  OptionalArg owner;              // none
  OptionalArg title;              // text; ""
  EventRoutine created;           // none; called with the window handle
  OptionalArg modal;              // no
  OptionalArg x;                  // CW_USEDEFAULT
  OptionalArg y;                  // CW_USEDEFAULT
  OptionalArg width;              // 380
  OptionalArg height;             // 250
  OptionalArg style;              // WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN
  OptionalArg ex_style;           // 0 (used whether or not given)
  OptionalArg show;               // 1 = show; any other value leaves the window hidden
  OptionalArg class_name;         // text; "WTWindow"
  OptionalArg accelerators;       // for the modal loop; none
  OptionalArg real_owner;         // 1; 0 without an owner makes a hidden owner window
};

class TopLevelWindow : public Window {
 public:
  TopLevelWindow() = default;
  ~TopLevelWindow() override;

  void Destroy() override;
  std::unique_ptr<Window> Copy() const override;
  LRESULT ClassWindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) override;
  intptr_t OnEraseBackground(HWND hwnd, HDC dc) override;
  intptr_t OnLeftButtonDown(HWND hwnd, LPARAM lparam) override;
  void ClassTeardown(HWND hwnd) override;

  void PaintBackground(HDC dc, const RECT& area);
  // Window-level events; non-zero means the message is answered.
  virtual intptr_t TopLevelEvents(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  void ClearRoutines();
  HWND CreateTopLevel(HWND owner, const char* title, DWORD style, DWORD ex_style, int x, int y,
                      int width, int height, const char* class_name);
  intptr_t BackgroundColor(OptionalArg color = {}, OptionalArg redraw = {});
  bool BackgroundPicture(OptionalArg bitmap, int mode, OptionalArg redraw = {});
  intptr_t WindowState(OptionalArg state = {});
  intptr_t Icon(OptionalArg icon = {}, OptionalArg which = {});
  HMENU MenuBar() const;
  bool SetMenuBar(HMENU menu);
  bool RedrawMenuBar();
  bool AddTrayIcon(HICON icon, OptionalArg tip = {});
  bool SetTrayTip(const char* tip);
  bool SetTrayIcon(HICON icon);
  bool ShowTrayBalloon(const char* text, const char* title, UINT timeout_ms, DWORD icon_kind);
  bool RemoveTrayIcon();
  intptr_t KeepCaptionActive(OptionalArg flag = {});
  intptr_t DragByClientArea(OptionalArg flag = {});
  int AddHotKey(UINT modifiers, UINT virtual_key);
  bool RemoveHotKey(int id);

  EventRoutine BindMenuCommand(EventRoutine r) { return top_.menu_command = r; }
  EventRoutine BindDestroyed(EventRoutine r) { return top_.destroyed = r; }
  EventRoutine BindMoved(EventRoutine r) { return top_.moved = r; }
  EventRoutine BindResized(EventRoutine r) { return top_.resized = r; }
  EventRoutine BindActivated(EventRoutine r) { return top_.activated = r; }
  EventRoutine BindDeactivated(EventRoutine r) { return top_.deactivated = r; }
  EventRoutine BindFirstActivation(EventRoutine r) { return top_.first_activation = r; }
  EventRoutine BindShown(EventRoutine r) { return top_.shown = r; }
  EventRoutine BindHidden(EventRoutine r) { return top_.hidden = r; }
  EventRoutine BindTrayIcon(EventRoutine r) { return top_.tray_icon = r; }
  EventRoutine BindHotKey(EventRoutine r) { return top_.hot_key = r; }
  EventRoutine BindCloseQuery(EventRoutine r) { return top_.close_query = r; }

  // Registers the class, creates the window, sends the created message, shows it and, when
  // modal, runs a private loop until the window is gone. The window handle, or 0.
  HWND CreateAndShow(const TopLevelOptions& options = {});
  bool AttachTopLevel(HWND hwnd) { return AttachHandle(hwnd); }

  const NOTIFYICONDATAA* TrayRecord() const { return tray_.get(); }
  UINT TaskbarCreatedMessage() const { return taskbar_created_; }
  COLORREF BackgroundColorValue() const { return background_color_; }

 private:
  struct Routines {
    EventRoutine destroyed, moved, resized, activated, deactivated, first_activation;
    EventRoutine shown, hidden, tray_icon, menu_command, hot_key, created, close_query;
  };
  bool RebuildBackgroundBrush();
  bool NotifyTray(DWORD action, UINT flags);

  OwnedBrush background_brush_;
  COLORREF background_color_ = 0;
  OwnedBitmap background_bitmap_;
  int background_mode_ = BACKGROUND_TILED;
  std::unique_ptr<NOTIFYICONDATAA> tray_;
  OwnedIcon tray_icon_;
  UINT taskbar_created_ = 0;
  Routines top_;
  intptr_t keep_caption_active_ = 0;
  intptr_t drag_by_client_area_ = 0;
  bool first_activation_done_ = false;
  // A hidden owner made for an ownerless window; destroyed with the window it owns.
  OwnedWindow hidden_owner_;
  bool destroying_ = false;
};

}  // namespace tambrel::ui
