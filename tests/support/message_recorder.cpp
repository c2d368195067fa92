#include "tests/support/message_recorder.h"

#include <windows.h>

#include <cstdio>
#include <mutex>

#include "runtime/message_box.h"

namespace tambrel::test {
namespace {

std::mutex g_mutex;
std::vector<RecordedBox> g_boxes;
int g_answer = IDOK;

int record(HWND, const char* text, const char* caption, UINT flags) {
  std::fprintf(stderr, "[message box] %s | %s\n", caption, text);
  std::fflush(stderr);
  std::lock_guard lock(g_mutex);
  g_boxes.push_back({text, caption, flags});
  return g_answer;
}

}  // namespace

std::vector<RecordedBox> recorded_boxes() {
  std::lock_guard lock(g_mutex);
  return g_boxes;
}

void clear_recorded_boxes() {
  std::lock_guard lock(g_mutex);
  g_boxes.clear();
}

void set_box_answer(int answer) {
  std::lock_guard lock(g_mutex);
  g_answer = answer;
}

void install_message_recorder() { set_message_box_handler(&record); }

}  // namespace tambrel::test
