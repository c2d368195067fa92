#include "tests/ui/ui_test_support.h"

namespace tambrel::ui::test {
namespace {
std::vector<Call> g_calls;
intptr_t g_answer = 0;
}  // namespace

std::vector<Call>& calls() { return g_calls; }
void reset_calls(intptr_t answer) {
  g_calls.clear();
  g_answer = answer;
}
intptr_t answer() { return g_answer; }

intptr_t record(intptr_t a, intptr_t b, intptr_t c, intptr_t d, intptr_t e, intptr_t f, intptr_t g) {
  g_calls.push_back({"record", {a, b, c, d, e, f, g}});
  return g_answer;
}

void pump() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
    if (msg.message == WM_QUIT) return;
    if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

COLORREF client_pixel(HWND hwnd, int x, int y) {
  HDC dc = GetDC(hwnd);
  const COLORREF c = GetPixel(dc, x, y);
  ReleaseDC(hwnd, dc);
  return c;
}

// Under Wine without a window manager, destroying a shown top-level window waits about two
// seconds for the window manager's answer; child windows are destroyed at once. So hosts are
// children of one stage window that lives as long as the test process.
HWND stage() {
  static HWND h = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
    wc.lpszClassName = "TambrelTestStage";
    RegisterClassA(&wc);
    HWND s = CreateWindowExA(0, wc.lpszClassName, "", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0,
                             900, 700, nullptr, nullptr, wc.hInstance, nullptr);
    UpdateWindow(s);
    return s;
  }();
  return h;
}

HWND HostWindow::Create(int width, int height) {
  TopLevelOptions o;
  o.owner = stage();
  o.title = "host";
  o.style = WS_CHILD | WS_CLIPCHILDREN;
  o.x = 20;
  o.y = 20;
  o.width = width;
  o.height = height;
  return window.CreateAndShow(o);
}

HostWindow::~HostWindow() {
  if (IsWindow(window.Handle())) DestroyWindow(window.Handle());
  pump();
}

}  // namespace tambrel::ui::test
