// Top-level windows on the virtual display: default size and show flag, created routine then
// WM_SIZE, first activation before activated and only once, close query, background painting,
// teardown of the top-level routines, the modal loop.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>

#include "tests/ui/ui_test_support.h"
#include "ui/top_level_window.h"

using namespace tambrel::ui;
using namespace tambrel::ui::test;

namespace {

constexpr char kCreated[] = "created", kResized[] = "resized", kFirst[] = "first",
               kActivated[] = "activated", kDeactivated[] = "deactivated", kDestroyed[] = "destroyed",
               kShown[] = "shown", kQuery[] = "query";

std::vector<std::string> names() {
  std::vector<std::string> v;
  for (const auto& c : calls()) v.push_back(c.what);
  return v;
}

class TopLevelTest : public testing::Test {
 protected:
  void SetUp() override { reset_calls(); }
  void TearDown() override {
    for (TopLevelWindow* w : {&a, &b}) {
      if (IsWindow(w->Handle())) DestroyWindow(w->Handle());
    }
    pump();
  }
  TopLevelWindow a, b;
};

TEST_F(TopLevelTest, DefaultsAre380By250ShownWithTheDefaultClassAndStyle) {
  HWND h = a.CreateAndShow();
  ASSERT_TRUE(h);
  RECT r;
  GetWindowRect(h, &r);
  EXPECT_EQ(r.right - r.left, 380);
  EXPECT_EQ(r.bottom - r.top, 250);
  EXPECT_TRUE(IsWindowVisible(h));
  char cls[64];
  GetClassNameA(h, cls, sizeof(cls));
  EXPECT_STREQ(cls, "WTWindow");
  EXPECT_EQ(a.Style() & kTopLevelStyle, kTopLevelStyle);
  EXPECT_EQ(a.BackgroundColorValue(), GetSysColor(COLOR_BTNFACE));
}

TEST_F(TopLevelTest, ShowFlagOtherThanOneLeavesTheWindowHidden) {
  for (intptr_t flag : {0, 2}) {
    TopLevelOptions o;
    o.show = flag;
    o.class_name = "TestHidden";
    HWND h = a.CreateAndShow(o);
    ASSERT_TRUE(h);
    EXPECT_FALSE(IsWindowVisible(h)) << "show flag " << flag;
    DestroyWindow(h);
  }
}

TEST_F(TopLevelTest, CreatedRoutineRunsThenWmSizeCarriesTheClientSize) {
  a.BindResized(&named<kResized>);
  TopLevelOptions o;
  o.created = &named<kCreated>;
  o.width = 500;
  o.height = 300;
  HWND h = a.CreateAndShow(o);
  ASSERT_TRUE(h);
  ASSERT_GE(calls().size(), 2u);
  EXPECT_EQ(calls()[0].what, "created");
  EXPECT_EQ(calls()[0].args[0], reinterpret_cast<intptr_t>(h));
  EXPECT_EQ(calls()[1].what, "resized");
  RECT client;
  GetClientRect(h, &client);
  EXPECT_EQ(calls()[1].args[0], client.right);
  EXPECT_EQ(calls()[1].args[1], client.bottom);
}

TEST_F(TopLevelTest, FirstActivationRunsOnceAndBeforeActivated) {
  a.BindFirstActivation(&named<kFirst>);
  a.BindActivated(&named<kActivated>);
  a.BindDeactivated(&named<kDeactivated>);
  TopLevelOptions o;
  o.x = 10;
  o.y = 10;
  ASSERT_TRUE(a.CreateAndShow(o));
  o.x = 450;
  ASSERT_TRUE(b.CreateAndShow(o));
  // No window manager runs on the virtual display: activation is driven by the program.
  for (HWND target : {a.Handle(), b.Handle(), a.Handle(), b.Handle(), a.Handle()}) {
    SetActiveWindow(target);
    SetForegroundWindow(target);
    pump_until([&] { return GetActiveWindow() == target; });
    EXPECT_EQ(GetActiveWindow(), target);
  }
  const auto log = names();
  ASSERT_FALSE(log.empty());
  auto first = std::find(log.begin(), log.end(), "first");
  ASSERT_NE(first, log.end());
  EXPECT_EQ(std::count(log.begin(), log.end(), "first"), 1);
  ASSERT_NE(first + 1, log.end());
  EXPECT_EQ(*(first + 1), "activated") << "first activation must precede that activation's routine";
  EXPECT_EQ(std::find(log.begin(), first, "activated"), first) << "activated before first activation";
  EXPECT_GE(std::count(log.begin(), log.end(), "activated"), 3);
  EXPECT_GE(std::count(log.begin(), log.end(), "deactivated"), 2);
}

TEST_F(TopLevelTest, FirstActivationRunsAgainOnlyForANewWindow) {
  a.BindFirstActivation(&named<kFirst>);
  ASSERT_TRUE(a.CreateAndShow());
  SendMessageA(a.Handle(), WM_ACTIVATE, WA_ACTIVE, 0);
  SendMessageA(a.Handle(), WM_ACTIVATE, WA_CLICKACTIVE, 0);
  EXPECT_EQ(calls().size(), 1u);
  DestroyWindow(a.Handle());
  // Teardown cleared the routine with the window; bound again, the new window starts afresh.
  reset_calls();
  a.BindFirstActivation(&named<kFirst>);
  ASSERT_TRUE(a.CreateAndShow());
  SendMessageA(a.Handle(), WM_ACTIVATE, WA_ACTIVE, 0);
  EXPECT_EQ(calls().size(), 1u);
}

intptr_t keep_open() {
  calls().push_back({"query", {}});
  return 1;
}

TEST_F(TopLevelTest, CloseQueryKeepsTheWindowAndAnswersOne) {
  ASSERT_TRUE(a.CreateAndShow());
  a.BindCloseQuery(&keep_open);
  a.BindDestroyed(&named<kDestroyed>);
  EXPECT_EQ(SendMessageA(a.Handle(), WM_CLOSE, 0, 0), 1);
  EXPECT_TRUE(IsWindow(a.Handle()));
  EXPECT_EQ(names(), (std::vector<std::string>{"query"}));

  reset_calls(0);
  a.BindCloseQuery(&named<kQuery>);  // answers 0: the window goes
  HWND h = a.Handle();
  a.Close();
  EXPECT_FALSE(IsWindow(h));
  EXPECT_EQ(names(), (std::vector<std::string>{"query", "destroyed"}));
  EXPECT_EQ(a.Handle(), nullptr);
}

TEST_F(TopLevelTest, BackgroundColourIsPaintedByTheEraseHook) {
  TopLevelOptions o;
  o.x = 30;
  o.y = 30;
  ASSERT_TRUE(a.CreateAndShow(o));
  a.BackgroundColor(RGB(0, 128, 255));
  UpdateWindow(a.Handle());
  EXPECT_EQ(client_pixel(a.Handle(), 5, 5), RGB(0, 128, 255));
  EXPECT_EQ(client_pixel(a.Handle(), 100, 80), RGB(0, 128, 255));
}

TEST_F(TopLevelTest, BackgroundPictureTopLeftOverTheColour) {
  TopLevelOptions o;
  o.x = 30;
  o.y = 30;
  ASSERT_TRUE(a.CreateAndShow(o));
  a.BackgroundColor(RGB(255, 255, 0), 0);
  // A 10 × 10 red bitmap drawn once at the top-left.
  HDC screen = GetDC(nullptr);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, 10, 10);
  HDC memory = CreateCompatibleDC(screen);
  HGDIOBJ old = SelectObject(memory, bitmap);
  RECT all{0, 0, 10, 10};
  HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
  FillRect(memory, &all, red);
  DeleteObject(red);
  SelectObject(memory, old);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);

  ASSERT_TRUE(a.BackgroundPicture(bitmap, BACKGROUND_TOP_LEFT));
  UpdateWindow(a.Handle());
  EXPECT_EQ(client_pixel(a.Handle(), 3, 3), RGB(255, 0, 0));
  EXPECT_EQ(client_pixel(a.Handle(), 30, 30), RGB(255, 255, 0));
}

TEST_F(TopLevelTest, WindowLevelEventsCarryTheirArguments) {
  static constexpr char kMoved[] = "moved", kMenu[] = "menu", kHotKey[] = "hotkey", kTray[] = "tray";
  ASSERT_TRUE(a.CreateAndShow());
  a.BindMoved(&named<kMoved>);
  a.BindMenuCommand(&named<kMenu>);
  a.BindHotKey(&named<kHotKey>);
  a.BindTrayIcon(&named<kTray>);
  a.BindShown(&named<kShown>);
  SendMessageA(a.Handle(), WM_MOVE, 0, MAKELPARAM(40, 50));
  SendMessageA(a.Handle(), WM_COMMAND, MAKEWPARAM(1001, 0), 0);
  SendMessageA(a.Handle(), WM_COMMAND, MAKEWPARAM(1002, 5), 0);  // not a menu or accelerator
  SendMessageA(a.Handle(), WM_HOTKEY, 3, MAKELPARAM(MOD_CONTROL, 'K'));
  SendMessageA(a.Handle(), WM_TRAY_CALLBACK, 1, WM_RBUTTONDOWN);
  SendMessageA(a.Handle(), WM_TRAY_CALLBACK, 1, WM_KEYDOWN);
  SendMessageA(a.Handle(), WM_SHOWWINDOW, 1, 0);
  ASSERT_EQ(names(), (std::vector<std::string>{"moved", "menu", "hotkey", "tray", "tray", "shown"}));
  EXPECT_EQ(calls()[0].args[0], 40);
  EXPECT_EQ(calls()[0].args[1], 50);
  EXPECT_EQ(calls()[1].args[0], 1001);
  EXPECT_EQ(calls()[2].args[0], 3);
  EXPECT_EQ(calls()[2].args[1], MOD_CONTROL);
  EXPECT_EQ(calls()[2].args[2], 'K');
  EXPECT_EQ(calls()[3].args[0], 2);
  EXPECT_EQ(calls()[4].args[0], 0);
}

TEST_F(TopLevelTest, KeepCaptionActiveSwallowsDeactivationPaint) {
  ASSERT_TRUE(a.CreateAndShow());
  a.KeepCaptionActive(1);
  EXPECT_EQ(SendMessageA(a.Handle(), WM_NCACTIVATE, 0, 0), 1);
  a.KeepCaptionActive(0);
  EXPECT_EQ(SendMessageA(a.Handle(), WM_NCACTIVATE, 1, 0), TRUE);  // the system's own answer
}

TEST_F(TopLevelTest, TrayRecordIsSizedByTheSystemStructure) {
  ASSERT_TRUE(a.CreateAndShow());
  a.AddTrayIcon(LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION)), "tip text");
  ASSERT_NE(a.TrayRecord(), nullptr);
  EXPECT_EQ(a.TrayRecord()->cbSize, sizeof(NOTIFYICONDATAA));
  EXPECT_EQ(a.TrayRecord()->uCallbackMessage, WM_TRAY_CALLBACK);
  EXPECT_STREQ(a.TrayRecord()->szTip, "tip text");
  EXPECT_EQ(a.TaskbarCreatedMessage(), RegisterWindowMessageA("TaskbarCreated"));
  DestroyWindow(a.Handle());
  EXPECT_EQ(a.TrayRecord(), nullptr);
}

HWND g_modal_owner = nullptr;
bool g_owner_disabled_inside = false;

void CALLBACK close_soon(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  g_owner_disabled_inside = !IsWindowEnabled(g_modal_owner);
  if (HWND modal = FindWindowA("TestModal", nullptr)) PostMessageA(modal, WM_CLOSE, 0, 0);
}

TEST_F(TopLevelTest, ModalWindowDisablesItsOwnerUntilItIsGone) {
  ASSERT_TRUE(a.CreateAndShow());
  g_modal_owner = a.Handle();
  g_owner_disabled_inside = false;
  SetTimer(nullptr, 0, 50, &close_soon);
  TopLevelOptions o;
  o.owner = a.Handle();
  o.modal = 1;
  o.class_name = "TestModal";
  HWND h = b.CreateAndShow(o);
  EXPECT_TRUE(h);
  EXPECT_FALSE(IsWindow(h)) << "the modal loop returned while its window lives";
  EXPECT_TRUE(g_owner_disabled_inside);
  EXPECT_TRUE(IsWindowEnabled(a.Handle()));
}

// Is `upper` in front of `lower` in the z-order of top-level windows?
bool in_front_of(HWND upper, HWND lower) {
  for (HWND w = GetWindow(upper, GW_HWNDNEXT); w; w = GetWindow(w, GW_HWNDNEXT)) {
    if (w == lower) return true;
  }
  return false;
}

TEST_F(TopLevelTest, CentringMovesTheWindowToTheMiddleAndToTheTop) {
  TopLevelOptions corner;
  corner.x = 0;
  corner.y = 0;
  ASSERT_TRUE(a.CreateAndShow(corner));
  ASSERT_TRUE(b.CreateAndShow());
  // The active window behind another one: activation alone would not raise it.
  SetActiveWindow(a.Handle());
  SetWindowPos(b.Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  pump();
  ASSERT_EQ(GetActiveWindow(), a.Handle());
  ASSERT_TRUE(in_front_of(b.Handle(), a.Handle()));

  EXPECT_TRUE(a.WindowState(3));
  RECT r;
  GetWindowRect(a.Handle(), &r);
  EXPECT_EQ(r.left, (GetSystemMetrics(SM_CXSCREEN) - 380) / 2);
  EXPECT_EQ(r.top, (GetSystemMetrics(SM_CYSCREEN) - 250) / 2);
  EXPECT_EQ(r.right - r.left, 380) << "centring keeps the size";
  EXPECT_TRUE(in_front_of(a.Handle(), b.Handle())) << "a centred window comes to the top";
}

}  // namespace
