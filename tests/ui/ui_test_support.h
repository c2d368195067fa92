// Shared pieces of the framework tests: a recorder routine that keeps every call's seven
// argument words, pumping of pending messages, and pixels read back from real windows.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ui/top_level_window.h"

namespace tambrel::ui::test {

struct Call {
  std::string what;
  std::vector<intptr_t> args;
};

// Every routine below appends to this log; answer() is what they return.
std::vector<Call>& calls();
void reset_calls(intptr_t answer = 0);
intptr_t answer();

// Recorders with a name per event, so the order of events can be checked.
intptr_t record(intptr_t a, intptr_t b, intptr_t c, intptr_t d, intptr_t e, intptr_t f, intptr_t g);
template <const char* Name>
intptr_t named(intptr_t a, intptr_t b, intptr_t c, intptr_t d, intptr_t e, intptr_t f, intptr_t g) {
  calls().push_back({Name, {a, b, c, d, e, f, g}});
  return answer();
}

// Dispatches everything pending for this thread (no WM_QUIT is taken out of the queue).
void pump();
// Pumps until pred() holds or about two seconds have passed.
template <class Pred>
bool pump_until(Pred pred) {
  for (int i = 0; i < 200; ++i) {
    pump();
    if (pred()) return true;
    Sleep(10);
  }
  return pred();
}

// A pixel of a window's client area, read back through a window DC.
COLORREF client_pixel(HWND hwnd, int x, int y);

// A shown host window (a framework top-level window object) at a fixed place on the screen.
struct HostWindow {
  TopLevelWindow window;
  HWND Create(int width = 400, int height = 300);
  HWND hwnd() const { return window.Handle(); }
  ~HostWindow();
};

}  // namespace tambrel::ui::test
