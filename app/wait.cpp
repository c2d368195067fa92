#include "app/wait.h"

#include "app/app.h"

namespace tambrel::app {
namespace {

int waitDepth = 0;      // scopes of either kind
int requestDepth = 0;   // scopes of kind Request
bool closePutOff = false;
bool minimizePutOff = false;

HWND mainHandle() { return mainWindow ? mainWindow->Handle() : nullptr; }

bool inMainWindow(HWND main, HWND w) { return w && (w == main || IsChild(main, w)); }

// What the system does on the next mouse move, done now: the window under the pointer sets the
// cursor again (the arrow, an I-beam over an edit box) instead of the hourglass staying until
// the mouse moves.
void refreshCursor(HWND main) {
  POINT p{};
  if (!GetCursorPos(&p)) return;
  HWND under = WindowFromPoint(p);
  if (!inMainWindow(main, under)) return;
  const LRESULT hit = SendMessageW(under, WM_NCHITTEST, 0, MAKELPARAM(p.x, p.y));
  SendMessageW(under, WM_SETCURSOR, reinterpret_cast<WPARAM>(under), MAKELPARAM(hit, WM_MOUSEMOVE));
}

}  // namespace

WaitScope::WaitScope(WaitKind kind) : kind_(kind) {
  ++waitDepth;
  if (kind_ != WaitKind::Request) return;
  ++requestDepth;
  HWND main = mainHandle();
  if (!main || requestDepth > 1) return;
  HWND focus = GetFocus();
  if (inMainWindow(main, focus)) {
    focus_ = focus;
    SetFocus(nullptr);
  }
  if (IsWindowEnabled(main)) {
    EnableWindow(main, FALSE);
    disabled_ = true;
  }
  SetCursor(LoadCursorA(nullptr, IDC_WAIT));
}

WaitScope::~WaitScope() {
  --waitDepth;
  if (kind_ == WaitKind::Request) {
    --requestDepth;
    HWND main = mainHandle();
    if (main && IsWindow(main)) {
      if (disabled_) EnableWindow(main, TRUE);
      // The focus goes back only where it was taken from, and only if the user has not moved
      // to another window meanwhile.
      if (focus_ && IsWindow(focus_) && GetActiveWindow() == main && GetFocus() == nullptr) SetFocus(focus_);
      if (requestDepth == 0) refreshCursor(main);
    }
  }
  if (waitDepth == 0 && minimizePutOff) {
    minimizePutOff = false;
    if (HWND main = mainHandle()) PostMessageW(main, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  }
  if (waitDepth == 0 && closePutOff) {
    closePutOff = false;
    if (HWND main = mainHandle()) PostMessageW(main, WM_CLOSE, 0, 0);
  }
}

bool waiting() { return waitDepth > 0; }
bool showingBusyCursor() { return requestDepth > 0; }

bool putOffSystemCommand(WPARAM command) {
  switch (command & 0xFFF0) {
    case SC_CLOSE:
      closePutOff = true;
      return true;
    case SC_MINIMIZE:
      minimizePutOff = true;
      return true;
    default:
      return false;
  }
}

intptr_t onCloseQuery() {
  if (!waiting()) return 0;
  closePutOff = true;
  return 1;
}

}  // namespace tambrel::app
