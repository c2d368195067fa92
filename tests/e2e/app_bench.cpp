// Figures of the running tool, measured from outside as the end-to-end tests drive it: start to
// the first page with a warm thumbnail cache, a page switch with a warm cache (until the six
// rows are on the screen), and the generation round trip against the real service on loopback.
// Prints medians; asserts nothing about time.
//
//   scripts/wine-run.sh build/windows/tests/e2e/e2e_bench.exe [runs]
// with TAMBREL_TOOL and TAMBREL_STAMPD in the environment (Unix or Windows paths), on a display.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/catalog.h"
#include "tests/e2e/driver.h"

using namespace tambrel;
using namespace tambrel::e2e;

namespace {

double ms_since(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

void report(const char* what, std::vector<double> v) {
  if (v.empty()) {
    std::printf("%-52s no samples\n", what);
    return;
  }
  std::sort(v.begin(), v.end());
  std::printf("%-52s median %8.2f ms   min %8.2f   max %8.2f   (n=%zu)\n", what, v[v.size() / 2], v.front(),
              v.back(), v.size());
}

// Busy polling with a short yield: the figures are in milliseconds, the test waits' 10 ms
// steps would blur them.
template <class Pred>
bool spin_until(Pred pred, milliseconds limit) {
  const auto end = Clock::now() + limit;
  while (!pred()) {
    if (Clock::now() >= end) return false;
    Sleep(0);
  }
  return true;
}

RECT list_area(const Tool& tool) {
  RECT r{};
  GetClientRect(tool.list(), &r);
  return r;
}

// Fills the selector's choice and waits until the tool has handled it (sent, not posted).
bool switch_page(const Tool& tool, int index) {
  HWND selector = tool.control(kSelectorId);
  DWORD_PTR ignored;
  SendMessageTimeoutW(selector, CB_SETCURSEL, static_cast<WPARAM>(index), 0, SMTO_NORMAL, 20000, &ignored);
  return SendMessageTimeoutW(tool.main(), WM_COMMAND, MAKEWPARAM(kSelectorId, CBN_SELCHANGE),
                             reinterpret_cast<LPARAM>(selector), SMTO_NORMAL, 20000, &ignored) != 0;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(3, std::atoi(argv[1])) : 7;
  const char* tool_env = std::getenv("TAMBREL_TOOL");
  const char* stampd_env = std::getenv("TAMBREL_STAMPD");
  if (!tool_env || !*tool_env || !stampd_env || !*stampd_env) {
    std::fprintf(stderr, "set TAMBREL_TOOL (Tambrel.exe) and TAMBREL_STAMPD (native stampd)\n");
    return 2;
  }
  const std::string tool_path = tool_env;
  const std::string stampd = unix_path(windows_path(stampd_env));

  TempFolder folder;
  StampService service(stampd, folder);
  if (!wait_until([] { return !port_accepts(kServicePort); }, seconds(60)) || !service.start()) {
    std::fprintf(stderr, "cannot start the stamp service on 127.0.0.1:8077\n");
    return 1;
  }
  move_pointer_away();
  const std::string app_folder = folder.make_subfolder("app");

  // Warm the cache: pages 1 to 3 once.
  {
    Tool tool(tool_path, app_folder);
    if (!tool.started() || !tool.wait_for_page()) {
      std::fprintf(stderr, "the tool did not show its first page\n");
      return 1;
    }
    for (int index : {1, 2}) {
      switch_page(tool, index);
      tool.wait_for_page();
    }
    tool.close();
  }

  // Start to the first page drawn (row 1 painted selected), warm cache.
  std::vector<double> start_to_rows, start_to_drawn;
  for (int i = 0; i < runs; ++i) {
    const auto t0 = Clock::now();
    Tool tool(tool_path, app_folder);
    if (!tool.started() || !spin_until([&] { return tool.row_count() == 6 && tool.selected_row() == 1; }, seconds(30))) {
      continue;
    }
    start_to_rows.push_back(ms_since(t0));
    const RECT row1 = tool.row_rect(1);
    if (spin_until(
            [&] {
              ScreenShot s(tool.list(), RECT{90, row1.top + 60, 91, row1.top + 61});
              const Rgb c = s.at(0, 0);
              return c.r >= 240 && c.b <= 225;  // the selected row's yellow
            },
            seconds(10))) {
      start_to_drawn.push_back(ms_since(t0));
    }
    tool.close();
  }

  // Page switches between pages 2 and 3, warm cache: handled (the selector's notification
  // returned) and drawn (the list on the screen equals that page's picture).
  std::vector<double> switch_handled, switch_drawn, capture, round_trips;
  {
    Tool tool(tool_path, app_folder);
    if (tool.started() && tool.wait_for_page()) {
      const RECT area = list_area(tool);
      std::vector<ScreenShot> reference;
      for (int index : {1, 2}) {
        switch_page(tool, index);
        Sleep(500);  // settle once, to take the reference picture of the page
        reference.emplace_back(tool.list(), area);
      }
      // What one look at the screen costs, to read the "drawn" figure against.
      for (int i = 0; i < runs * 3; ++i) {
        const auto t0 = Clock::now();
        ScreenShot look(tool.list(), area);
        capture.push_back(ms_since(t0));
      }
      for (int i = 0; i < runs * 3; ++i) {
        const int which = i % 2;  // 0: page 2, 1: page 3
        const auto t0 = Clock::now();
        if (!switch_page(tool, which + 1)) continue;
        switch_handled.push_back(ms_since(t0));
        if (spin_until([&] { return ScreenShot(tool.list(), area) == reference[which]; }, seconds(5))) {
          switch_drawn.push_back(ms_since(t0));
        }
      }
    }

    // Generation round trips: a new text each time, so the service really renders.
    for (int i = 0; i < runs * 2; ++i) {
      const std::wstring text = L"Tambrel" + std::to_wstring(i);
      DWORD_PTR ignored;
      SendMessageTimeoutW(tool.control(kTextBoxId), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                          SMTO_NORMAL, 5000, &ignored);
      const size_t before = service.count_targets_starting_with("/stamp/");
      const auto t0 = Clock::now();
      // Sent: the click handler runs both requests before the call returns.
      if (!SendMessageTimeoutW(tool.control(kGenerateId), BM_CLICK, 0, 0, SMTO_NORMAL, 40000, &ignored)) continue;
      const double took = ms_since(t0);
      // The access log is written after the answer is sent, so give it a moment.
      const bool fetched =
          spin_until([&] { return service.count_targets_starting_with("/stamp/") == before + 1; }, seconds(2));
      if (!tool.dialogs().empty() || !fetched) {
        std::fprintf(stderr, "generation %d failed\n", i);
        break;
      }
      round_trips.push_back(took);
    }
    tool.close();
  }

  std::printf("Tambrel under Wine, stamp service on loopback, warm thumbnail cache\n");
  report("start to first page (six rows in the list)", start_to_rows);
  report("start to first page drawn (row 1 on the screen)", start_to_drawn);
  report("page switch handled (selector notification)", switch_handled);
  report("page switch drawn (six rows on the screen)", switch_drawn);
  report("  one screen capture of the list (measuring cost)", capture);
  report("generation round trip (click to both requests done)", round_trips);
  service.stop();
  return 0;
}
