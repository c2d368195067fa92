// In-process figures of the application's drawing paths, run against a live stamp service
// (scripts/bench-app.sh starts one). Prints medians; asserts nothing about time.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include "app/app.h"
#include "app/gallery.h"
#include "runtime/interaction.h"
#include "runtime/message_box.h"

using namespace tambrel;
using namespace tambrel::app;

namespace {

double median_ms(int runs, const std::function<void(int)>& work) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    work(i);
    times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

void activate(HWND w) {
  SetActiveWindow(w);
  SetForegroundWindow(w);
  pump_events();
}

// A box would stop the run; the bench reports it instead.
int report_box(HWND, const char* text, const char* caption, UINT) {
  std::printf("message box [%s]: %s\n", caption, text);
  return IDOK;
}

void phase(const char* name) {
  std::fprintf(stderr, "%s...\n", name);
  std::fflush(stderr);
}

}  // namespace

int main() {
  set_message_box_handler(&report_box);
  const auto start = std::chrono::steady_clock::now();
  createApplication();
  activate(mainWindow->Handle());
  for (int i = 0; i < 200 && galleryList->Count() < 6; ++i) {
    Sleep(10);
    pump_events();
  }
  UpdateWindow(galleryList->Handle());
  const double first_page =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  if (galleryList->Count() < 6) {
    std::printf("the gallery did not fill: is the stamp service running?\n");
    return 1;
  }

  phase("warming the cache");
  // Warm the thumbnail cache for every page, then time page switches from the cache.
  // Every page is shown and drawn once first, so the timed pass finds the thumbnail files on
  // disk and their pictures decoded.
  for (int p = 1; p <= kPageCount; ++p) {
    showPage(p);
    UpdateWindow(galleryList->Handle());
  }
  const double page_switch = median_ms(kPageCount, [](int i) {
    showPage(i % kPageCount + 1);
    UpdateWindow(galleryList->Handle());
  });
  phase("rows");
  const double fill_only = median_ms(kPageCount, [](int i) { showPage(i % kPageCount + 1); });
  const double draw_only = median_ms(kPageCount, [](int i) {
    galleryList->Invalidate(1);
    UpdateWindow(galleryList->Handle());
  });
  showPage(1);
  UpdateWindow(galleryList->Handle());
  const double row_repaint = median_ms(300, [](int i) {
    gallery->DrawRow(1 + i % 4, static_cast<RowState>(i % 3));
  });
  phase("preview");
  const double preview = median_ms(100, [](int) { drawPreview(); });
  phase("generation");
  const double generation = median_ms(20, [](int) { generateStamp(); });

  std::printf("start to first page (in-process, warm cache): %.1f ms\n", first_page);
  std::printf("page switch, warm cache (median of %d):       %.2f ms\n", kPageCount, page_switch);
  std::printf("  of which filling the rows %.2f ms, drawing the six rows %.2f ms\n", fill_only, draw_only);
  std::printf("one row repaint (median of 300):              %.3f ms\n", row_repaint);
  std::printf("preview redraw (median of 100):               %.3f ms\n", preview);
  std::printf("generation round trip on loopback (median):   %.2f ms\n", generation);
  DestroyWindow(mainWindow->Handle());
  return 0;
}
