// The message loop: ends on WM_QUIT with its wParam, on the given window's destruction, or
// when the message hook answers; framework start-up and the ATL host class.
#include <gtest/gtest.h>
#include <windows.h>

#include "tests/ui/ui_test_support.h"
#include "ui/message_loop.h"

using namespace tambrel::ui;
using namespace tambrel::ui::test;

namespace {

class MessageLoopTest : public testing::Test {
 protected:
  void SetUp() override { reset_calls(); }
};

TEST_F(MessageLoopTest, StartUpSetsTheCounterAndRegistersTheHostClass) {
  set_control_id_counter(777);
  ASSERT_TRUE(StartFramework());
  EXPECT_EQ(control_id_counter(), 500);
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof(wc);
  EXPECT_TRUE(GetClassInfoExA(nullptr, "AtlAxWin", &wc) || GetClassInfoExA(module_instance(), "AtlAxWin", &wc));
}

TEST_F(MessageLoopTest, EndsOnQuitWithItsWParamEvenAfterEveryWindowIsGone) {
  HostWindow host;
  ASSERT_TRUE(host.Create());
  PostMessageA(host.hwnd(), WM_CLOSE, 0, 0);
  PostQuitMessage(7);
  EXPECT_EQ(RunMessageLoop(), 7);
  EXPECT_FALSE(IsWindow(host.hwnd())) << "messages before the quit were dispatched";
}

TEST_F(MessageLoopTest, WithAWindowEndsOnceThatWindowIsGone) {
  HostWindow host;
  ASSERT_TRUE(host.Create());
  PostMessageA(host.hwnd(), WM_CLOSE, 9, 0);
  PostThreadMessageA(GetCurrentThreadId(), WM_USER + 1, 0, 0);  // still queued at the end
  EXPECT_EQ(RunMessageLoop(host.hwnd()), 9);
  MSG left;
  EXPECT_TRUE(PeekMessageA(&left, nullptr, WM_USER + 1, WM_USER + 1, PM_REMOVE));
}

UINT g_stop_at = 0;
intptr_t hook(MSG* msg) {
  calls().push_back({"hook", {static_cast<intptr_t>(msg->message)}});
  return msg->message == g_stop_at ? 42 : 0;
}

TEST_F(MessageLoopTest, HookEndsTheLoopBeforeTheMessageIsDispatched) {
  HostWindow host;
  ASSERT_TRUE(host.Create());
  host.window.BindCharacter(&record);
  g_stop_at = WM_CHAR;
  PostMessageA(host.hwnd(), WM_USER + 2, 0, 0);
  PostMessageA(host.hwnd(), WM_CHAR, 'a', 0);
  PostMessageA(host.hwnd(), WM_USER + 3, 0, 0);
  EXPECT_EQ(RunMessageLoop({}, {}, {}, &hook), 42);
  bool saw_char = false;
  for (const auto& c : calls()) {
    EXPECT_NE(c.what, "record") << "the answered message was dispatched";
    saw_char |= c.args[0] == WM_CHAR;
  }
  EXPECT_TRUE(saw_char);
  MSG left;
  EXPECT_TRUE(PeekMessageA(&left, nullptr, WM_USER + 3, WM_USER + 3, PM_REMOVE));
  EXPECT_FALSE(PeekMessageA(&left, nullptr, WM_CHAR, WM_CHAR, PM_REMOVE)) << "the message is lost";
}

TEST_F(MessageLoopTest, KeysInsideAnAtlHostAreStillDispatched) {
  ASSERT_TRUE(StartFramework());
  HostWindow host;
  ASSERT_TRUE(host.Create());
  HWND ax = CreateWindowExA(0, "AtlAxWin", "", WS_CHILD | WS_VISIBLE, 0, 0, 100, 100, host.hwnd(),
                            nullptr, GetModuleHandleA(nullptr), nullptr);
  ASSERT_TRUE(ax);
  Window inner;
  ASSERT_TRUE(inner.CreateNative(ax, 0, "Static", "", WS_CHILD | WS_VISIBLE, 0, 0, 50, 50, nullptr));
  inner.BindKeyDown(&record);
  MSG probe{};
  probe.hwnd = inner.Handle();
  probe.message = WM_KEYDOWN;
  EXPECT_TRUE(ForwardKeyToHostedControl(&probe)) << "the host window was not found";
  MSG outside{};
  outside.hwnd = host.hwnd();
  outside.message = WM_KEYDOWN;
  EXPECT_FALSE(ForwardKeyToHostedControl(&outside));
  PostMessageA(inner.Handle(), WM_KEYDOWN, 'K', 0);
  PostQuitMessage(0);
  EXPECT_EQ(RunMessageLoop({}, {}, 1), 0);
  ASSERT_EQ(calls().size(), 1u);
  EXPECT_EQ(calls()[0].args[0], 'K');
}

}  // namespace
