// The message box command (through the recorder of the test main, so nothing waits for a
// click) and event pumping with a real window on the test display.
#include "runtime/interaction.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "tests/support/message_recorder.h"

using namespace tambrel;
using tambrel::test::clear_recorded_boxes;
using tambrel::test::recorded_boxes;
using tambrel::test::set_box_answer;

namespace {

TEST(ShowMessage, ResultIsTheButtonCodeMinusOne) {
  struct Case {
    int button;
    int32_t expected;
  };
  const Case cases[] = {{IDOK, 0},     {IDCANCEL, 1}, {IDABORT, 2}, {IDRETRY, 3},
                        {IDIGNORE, 4}, {IDYES, 5},    {IDNO, 6}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.button);
    set_box_answer(c.button);
    EXPECT_EQ(show_message("继续吗？", MB_OKCANCEL), c.expected);
  }
  set_box_answer(IDOK);
}

TEST(ShowMessage, TextsCaptionsAndFlags) {
  const int32_t array[] = {1, 1, 0x41};
  struct Case {
    ArgValue value;
    std::optional<const char*> caption;
    const char* text;
    const char* expected_caption;
  };
  const Case cases[] = {
      {text_arg("保存成功"), {}, "保存成功", "信息"},
      {text_arg(nullptr), {}, "", "信息"},
      {text_arg("x"), "标题", "x", "标题"},
      {text_arg("x"), "", "x", ""},
      {double_arg(2.0), {}, "2", "信息"},
      {bool_arg(false), {}, "假", "信息"},
      {array_arg(TYPE_INT, array), {}, "", "信息"},  // an array shows an empty box
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    clear_recorded_boxes();
    show_message(c.value, MB_ICONINFORMATION | MB_OK, c.caption);
    const auto boxes = recorded_boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, c.text);
    EXPECT_EQ(boxes[0].caption, c.expected_caption);
    EXPECT_EQ(boxes[0].flags, static_cast<unsigned>(MB_ICONINFORMATION | MB_OK));
  }
}

constexpr UINT kPing = WM_APP + 1;
constexpr UINT kPingTwice = WM_APP + 2;
int g_pings = 0;

LRESULT CALLBACK counting_proc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == kPing) {
    ++g_pings;
    return 0;
  }
  if (message == kPingTwice) {
    // A message posted while handling one is still waiting, so the same pump handles it.
    ++g_pings;
    PostMessageA(window, kPing, 0, 0);
    return 0;
  }
  return DefWindowProcA(window, message, w, l);
}

class PumpEvents : public testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSA wc{};
    wc.lpfnWndProc = &counting_proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "TambrelPumpTest";
    RegisterClassA(&wc);
    window_ = CreateWindowExA(0, "TambrelPumpTest", "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                              nullptr, wc.hInstance, nullptr);
    ASSERT_NE(window_, nullptr) << "needs the test display";
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);  // creation traffic
    g_pings = 0;
  }
  void TearDown() override {
    if (window_) DestroyWindow(window_);
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
  HWND window_ = nullptr;
};

TEST_F(PumpEvents, HandlesEveryWaitingMessage) {
  for (int i = 0; i < 3; ++i) PostMessageA(window_, kPing, 0, 0);
  PostMessageA(window_, kPingTwice, 0, 0);
  pump_events();
  EXPECT_EQ(g_pings, 5);
  MSG m;
  EXPECT_FALSE(PeekMessageA(&m, window_, kPing, kPingTwice, PM_NOREMOVE)) << "queue drained";
  pump_events();  // nothing waiting: returns at once
  EXPECT_EQ(g_pings, 5);
}

TEST_F(PumpEvents, LeavesAWaitingQuitForTheMessageLoop) {
  PostMessageA(window_, kPing, 0, 0);
  PostQuitMessage(7);
  PostMessageA(window_, kPing, 0, 0);
  pump_events();
  EXPECT_EQ(g_pings, 2) << "posted messages come before the quit";
  MSG m;
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(m.wParam, 7u);
}

}  // namespace
