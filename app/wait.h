// The tool's waits. The system's HTTP request object runs the thread's message loop while it
// waits for an answer, and so does the save dialog: without care, the main window's handlers run
// again in the middle of a request and refill the gallery under the handler that waits.
//
// A wait for the stamp service (`WaitKind::Request`) takes the main window away from the user
// for its duration: the window is disabled (mouse input goes nowhere), the keyboard focus is
// taken from the control that holds it (a disabled parent does not stop keystrokes reaching a
// focused child) and given back afterwards, the cursor shows that the tool is busy, and closing
// the window is put off until the wait is over. The window still repaints. A wait on the save
// dialog (`WaitKind::Dialog`) leaves disabling to the dialog, which owns the window for that
// time. Both make `waiting()` true, which every handler that changes the gallery or starts a
// request checks first, so a message that still arrives (a posted one) changes nothing.
#pragma once

#include <windows.h>

namespace tambrel::app {

enum class WaitKind { Request, Dialog };

class WaitScope {
 public:
  explicit WaitScope(WaitKind kind);
  ~WaitScope();
  WaitScope(const WaitScope&) = delete;
  WaitScope& operator=(const WaitScope&) = delete;

 private:
  WaitKind kind_;
  HWND focus_ = nullptr;  // the control that had the keyboard focus before the wait
  bool disabled_ = false;  // this scope disabled the main window
};

// True while a request or the save dialog waits.
bool waiting();
// True while a request waits: the cursor over the main window shows that the tool is busy.
bool showingBusyCursor();
// The main window's close query: while the tool waits, closing is put off until the wait is
// over (non-zero = refused for now).
intptr_t onCloseQuery();
// A system command that arrives while a request waits (the taskbar's "close" or "minimise"):
// closing and minimising are put off until the wait is over, not lost; true when put off.
// Other commands (the system menu, moving by keyboard) are refused for the wait.
bool putOffSystemCommand(WPARAM command);

}  // namespace tambrel::app
