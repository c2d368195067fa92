// Window objects and dispatch on real windows: every message row with its arguments and its
// "handled" rule, reflection to child objects, the control counter, create-twice, teardown
// (never dispatched to again), the shared font, mouse enter/leave, dropped files.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "tests/ui/ui_test_support.h"
#include "ui/controls.h"
#include "ui/window.h"

using namespace tambrel;
using namespace tambrel::ui;
using namespace tambrel::ui::test;

namespace {

class WindowTest : public testing::Test {
 protected:
  void SetUp() override {
    reset_calls();
    ASSERT_TRUE(host.Create());
  }
  HostWindow host;
};

// ---- message rows -------------------------------------------------------------------------

using Binder = EventRoutine (Window::*)(EventRoutine);

struct RowCase {
  const char* name;
  UINT message;
  WPARAM wparam;
  LPARAM lparam;
  Binder bind;
  std::vector<intptr_t> expected;  // the routine's arguments
  bool result_returned;            // a non-zero routine result answers the message
};

TEST_F(WindowTest, EachRowCallsItsRoutineWithItsArguments) {
  const RowCase cases[] = {
      {"left down", WM_LBUTTONDOWN, 0, MAKELPARAM(12, 34), &Window::BindLeftButtonDown, {12, 34, 0}, true},
      {"left up", WM_LBUTTONUP, 0, MAKELPARAM(5, 6), &Window::BindLeftButtonUp, {5, 6, 0}, true},
      {"left double", WM_LBUTTONDBLCLK, 0, MAKELPARAM(7, 8), &Window::BindLeftDoubleClick, {7, 8, 0}, true},
      {"right down", WM_RBUTTONDOWN, 0, MAKELPARAM(9, 10), &Window::BindRightButtonDown, {9, 10, 0}, true},
      {"right up", WM_RBUTTONUP, 0, MAKELPARAM(11, 12), &Window::BindRightButtonUp, {11, 12, 0}, true},
      {"mouse move", WM_MOUSEMOVE, 0, MAKELPARAM(13, 14), &Window::BindMouseMove, {13, 14, 0}, true},
      {"key down", WM_KEYDOWN, 'A', 0, &Window::BindKeyDown, {'A', 0}, true},
      {"key up", WM_KEYUP, 'B', 0, &Window::BindKeyUp, {'B', 0}, true},
      {"character", WM_CHAR, 'c', 0, &Window::BindCharacter, {'c'}, true},
      {"wheel away", WM_MOUSEWHEEL, MAKEWPARAM(0, 120), 0, &Window::BindWheel, {120, 0}, true},
      {"wheel towards", WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-120)), 0, &Window::BindWheel,
       {65416, 0}, true},
      {"focus gained", WM_SETFOCUS, 0, 0, &Window::BindFocusGained, {}, false},
      {"focus lost", WM_KILLFOCUS, 0, 0, &Window::BindFocusLost, {}, false},
      // Coordinates are unsigned 16-bit: a captured mouse left of / above the window.
      {"negative x", WM_LBUTTONDOWN, 0, MAKELPARAM(-5, 3), &Window::BindLeftButtonDown, {65531, 3, 0}, true},
      {"negative y", WM_MOUSEMOVE, 0, MAKELPARAM(4, -1), &Window::BindMouseMove, {4, 65535, 0}, true},
  };
  // Key state is read from the real keyboard; no modifier is down during the test.
  ASSERT_EQ(key_state(), 0);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Window& w = host.window;
    (w.*c.bind)(&record);
    reset_calls(77);
    const LRESULT r = SendMessageA(w.Handle(), c.message, c.wparam, c.lparam);
    ASSERT_EQ(calls().size(), 1u);
    std::vector<intptr_t> got(calls()[0].args.begin(), calls()[0].args.begin() + c.expected.size());
    EXPECT_EQ(got, c.expected);
    for (size_t i = c.expected.size(); i < 7; ++i) EXPECT_EQ(calls()[0].args[i], 0) << "word " << i;
    if (c.result_returned) EXPECT_EQ(r, 77);
    else EXPECT_NE(r, 77);
    (w.*c.bind)(nullptr);
    reset_calls();
    SendMessageA(w.Handle(), c.message, c.wparam, c.lparam);
    EXPECT_TRUE(calls().empty()) << "unbound routine still called";
  }
}

TEST_F(WindowTest, HandledRoutineSuppressesTheControlsOwnHandling) {
  EditControl edit;
  ASSERT_TRUE(edit.Create(host.hwnd(), "", {}, 10, 10, 100, 24));
  edit.BindCharacter(&record);

  reset_calls(1);  // handled: the edit box never sees the character
  SendMessageA(edit.Handle(), WM_CHAR, 'x', 0);
  EXPECT_EQ(std::string(edit.GetText().c_str()), "");

  reset_calls(0);  // not handled: the edit box inserts it
  SendMessageA(edit.Handle(), WM_CHAR, 'y', 0);
  EXPECT_EQ(std::string(edit.GetText().c_str()), "y");
  EXPECT_EQ(calls().size(), 1u);

  ButtonControl button;
  ASSERT_TRUE(button.Create(host.hwnd(), "b", {}, {}, 10, 50));
  button.BindLeftButtonDown(&record);
  reset_calls(1);
  SendMessageA(button.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  EXPECT_NE(GetCapture(), button.Handle()) << "the button tracked a press it should not see";
  EXPECT_FALSE(SendMessageA(button.Handle(), BM_GETSTATE, 0, 0) & BST_PUSHED);
  reset_calls(0);
  SendMessageA(button.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  EXPECT_EQ(GetCapture(), button.Handle());
  EXPECT_TRUE(SendMessageA(button.Handle(), BM_GETSTATE, 0, 0) & BST_PUSHED);
  SendMessageA(button.Handle(), WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  ReleaseCapture();
}

TEST_F(WindowTest, PaintRoutineGetsTheUpdateRectangle) {
  host.window.BindPaint(&record);
  UpdateWindow(host.hwnd());
  reset_calls(1);
  RECT area{10, 20, 60, 70};
  InvalidateRect(host.hwnd(), &area, FALSE);
  UpdateWindow(host.hwnd());
  ASSERT_EQ(calls().size(), 1u);
  EXPECT_NE(calls()[0].args[0], 0) << "device context";
  EXPECT_EQ(calls()[0].args[1], 10);
  EXPECT_EQ(calls()[0].args[2], 20);
  EXPECT_EQ(calls()[0].args[3], 60);
  EXPECT_EQ(calls()[0].args[4], 70);
  RECT still{};
  EXPECT_FALSE(GetUpdateRect(host.hwnd(), &still, FALSE)) << "the paint left the area invalid";
}

// ---- hooks, reflection ---------------------------------------------------------------------

// Records what the dispatcher hands to the hooks that only derived classes see.
class HookProbe : public Window {
 public:
  intptr_t OnReflectedScroll(int request, int position, HWND bar) override {
    calls().push_back({"scroll", {request, position, reinterpret_cast<intptr_t>(bar)}});
    return 0;
  }
  intptr_t OnReflectedColor(HWND control, HDC dc) override {
    calls().push_back({"color", {reinterpret_cast<intptr_t>(control), reinterpret_cast<intptr_t>(dc)}});
    return 0x55;
  }
  intptr_t OnReflectedNotify(HWND parent, HWND source, int code, intptr_t id, LPARAM) override {
    calls().push_back({"notify", {reinterpret_cast<intptr_t>(parent), reinterpret_cast<intptr_t>(source), code, id}});
    return 0;
  }
  intptr_t OnSizeChanged(int w, int h) override {
    calls().push_back({"size", {w, h}});
    return 5;  // ignored
  }
  intptr_t OnMoved(HWND, intptr_t x, intptr_t y) override {
    calls().push_back({"moved", {x, y}});
    return 0;
  }
};

TEST_F(WindowTest, ParentReflectsNotificationsToTheChildObject) {
  HookProbe bar;
  ASSERT_TRUE(bar.CreateNative(host.hwnd(), 0, "ScrollBar", "", WS_CHILD | WS_VISIBLE, 10, 10, 100,
                               16, reinterpret_cast<HMENU>(7)));
  const auto bar_word = reinterpret_cast<intptr_t>(bar.Handle());

  SendMessageA(host.hwnd(), WM_HSCROLL, MAKEWPARAM(SB_THUMBTRACK, 40), bar_word);
  HDC dc = GetDC(host.hwnd());
  EXPECT_EQ(SendMessageA(host.hwnd(), WM_CTLCOLORSCROLLBAR, reinterpret_cast<WPARAM>(dc), bar_word), 0x55);
  ReleaseDC(host.hwnd(), dc);
  NMHDR header{bar.Handle(), 7, static_cast<UINT>(-12)};
  SendMessageA(host.hwnd(), WM_NOTIFY, 7, reinterpret_cast<LPARAM>(&header));

  ASSERT_EQ(calls().size(), 3u);
  EXPECT_EQ(calls()[0].what, "scroll");
  EXPECT_EQ(calls()[0].args, (std::vector<intptr_t>{SB_THUMBTRACK, 40, bar_word}));
  EXPECT_EQ(calls()[1].what, "color");
  EXPECT_EQ(calls()[1].args[0], bar_word);
  EXPECT_EQ(calls()[2].what, "notify");
  EXPECT_EQ(calls()[2].args,
            (std::vector<intptr_t>{reinterpret_cast<intptr_t>(host.hwnd()), bar_word, -12, 7}));

  // A source that is not a framework window is not reflected, and nothing breaks.
  reset_calls();
  HWND foreign = CreateWindowExA(0, "ScrollBar", "", WS_CHILD, 0, 0, 10, 10, host.hwnd(), nullptr,
                                 nullptr, nullptr);
  SendMessageA(host.hwnd(), WM_HSCROLL, SB_LINEDOWN, reinterpret_cast<LPARAM>(foreign));
  EXPECT_TRUE(calls().empty());
  DestroyWindow(foreign);
}

TEST_F(WindowTest, SizeAndMoveHooksSeeTheWindowsOwnMessages) {
  HookProbe probe;
  ASSERT_TRUE(probe.CreateNative(host.hwnd(), 0, "Static", "", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10,
                                 nullptr));
  reset_calls();
  MoveWindow(probe.Handle(), 15, 25, 120, 45, TRUE);
  bool saw_size = false, saw_move = false;
  for (const auto& c : calls()) {
    if (c.what == "size") {
      saw_size = true;
      EXPECT_EQ(c.args, (std::vector<intptr_t>{120, 45}));
    }
    if (c.what == "moved") {
      saw_move = true;
      EXPECT_EQ(c.args, (std::vector<intptr_t>{15, 25}));
    }
  }
  EXPECT_TRUE(saw_size);
  EXPECT_TRUE(saw_move);
}

TEST_F(WindowTest, ControlsInsideAGroupBoxStillRaiseTheirEvents) {
  GroupBoxControl group;
  ASSERT_TRUE(group.Create(host.hwnd(), "", {}, 10, 10, 200, 150));
  ButtonControl inside;
  ASSERT_TRUE(inside.Create(group.Handle(), "go", {}, {}, 10, 20, 80, 24));
  ButtonControl outside;
  ASSERT_TRUE(outside.Create(host.hwnd(), "out", {}, {}, 250, 20, 80, 24));
  static constexpr char kInside[] = "inside", kOutside[] = "outside";
  inside.BindClicked(&named<kInside>);
  outside.BindClicked(&named<kOutside>);

  SendMessageA(inside.Handle(), BM_CLICK, 0, 0);
  SendMessageA(outside.Handle(), BM_CLICK, 0, 0);
  ASSERT_EQ(calls().size(), 2u);
  EXPECT_EQ(calls()[0].what, "inside");
  EXPECT_EQ(calls()[1].what, "outside");
}

// ---- identity and lifecycle ---------------------------------------------------------------

TEST_F(WindowTest, ControlIdentifiersCountFrom501AcrossClasses) {
  set_control_id_counter(500);
  LabelControl label;
  EditControl edit;
  ButtonControl fixed;
  ComboBoxControl combo;
  ListBoxControl list;
  ASSERT_TRUE(label.Create(host.hwnd()));
  ASSERT_TRUE(edit.Create(host.hwnd()));
  ASSERT_TRUE(fixed.Create(host.hwnd(), "ok", 42));
  ASSERT_TRUE(combo.Create(host.hwnd()));
  ASSERT_TRUE(list.Create(host.hwnd()));
  EXPECT_EQ(label.ControlId(), 501);
  EXPECT_EQ(edit.ControlId(), 502);
  EXPECT_EQ(fixed.ControlId(), 42);
  EXPECT_EQ(combo.ControlId(), 504) << "an explicit identifier still advances the counter";
  EXPECT_EQ(list.ControlId(), 505);
  EXPECT_EQ(control_id_counter(), 505);
}

TEST_F(WindowTest, CreatingTwiceKeepsTheFirstWindow) {
  LabelControl label;
  ASSERT_TRUE(label.Create(host.hwnd(), "first"));
  HWND first = label.Handle();
  EXPECT_FALSE(label.Create(host.hwnd(), "second"));
  EXPECT_EQ(label.Handle(), first);
  EXPECT_EQ(std::string(label.GetText().c_str()), "first");
  EXPECT_EQ(FindWindowExA(host.hwnd(), first, "Static", nullptr), nullptr) << "a second window exists";
  EXPECT_FALSE(host.window.CreateAndShow());
}

TEST_F(WindowTest, CreatedWindowIsMappedSubclassedAndGetsTheDefaultFont) {
  LabelControl label;
  ASSERT_TRUE(label.Create(host.hwnd(), "x"));
  EXPECT_EQ(WindowMap::Find(label.Handle()), &label);
  EXPECT_EQ(reinterpret_cast<WNDPROC>(GetWindowLongPtrW(label.Handle(), GWLP_WNDPROC)),
            &FrameworkSubclassProc);
  EXPECT_EQ(label.GetFont(), GetStockObject(DEFAULT_GUI_FONT));
  EXPECT_TRUE(label.Style() & WS_CLIPSIBLINGS);
  EXPECT_EQ(std::string(label.ClassName().c_str()), "Static");
}

TEST_F(WindowTest, TeardownOnDestroyStopsDispatchAndAllowsCreatingAgain) {
  ButtonControl button;
  ASSERT_TRUE(button.Create(host.hwnd(), "b"));
  button.BindLeftButtonDown(&record);
  button.BindClicked(&record);
  HWND old = button.Handle();
  DestroyWindow(old);
  EXPECT_EQ(button.Handle(), nullptr);
  EXPECT_EQ(WindowMap::Find(old), nullptr);

  // Routines are cleared with the window: a new window starts unbound.
  ASSERT_TRUE(button.Create(host.hwnd(), "again"));
  SendMessageA(button.Handle(), WM_LBUTTONDOWN, 0, 0);
  SendMessageA(button.Handle(), WM_LBUTTONUP, 0, 0);
  SendMessageA(button.Handle(), BM_CLICK, 0, 0);
  EXPECT_TRUE(calls().empty());
}

TEST_F(WindowTest, DetachingALiveWindowPutsItsProcedureBack) {
  EditControl edit;
  ASSERT_TRUE(edit.Create(host.hwnd(), ""));
  HWND h = edit.Handle();
  edit.BindCharacter(&record);
  reset_calls(1);
  edit.Detach();
  EXPECT_EQ(edit.Handle(), nullptr);
  EXPECT_EQ(WindowMap::Find(h), nullptr);
  EXPECT_NE(reinterpret_cast<WNDPROC>(GetWindowLongPtrW(h, GWLP_WNDPROC)), &FrameworkSubclassProc);
  SendMessageA(h, WM_CHAR, 'z', 0);
  EXPECT_TRUE(calls().empty());
  char text[8] = {};
  GetWindowTextA(h, text, sizeof(text));
  EXPECT_STREQ(text, "z") << "the edit box works on its own again";

  // The same handle can be attached to another object.
  EditControl other;
  EXPECT_TRUE(other.Attach(h));
  EXPECT_FALSE(other.Attach(h)) << "already has a window";
  EXPECT_EQ(WindowMap::Find(h), &other);
  DestroyWindow(h);
}

TEST_F(WindowTest, DeletingAnObjectLeavesItsWindowWorking) {
  HWND h;
  {
    auto edit = std::make_unique<EditControl>();
    ASSERT_TRUE(edit->Create(host.hwnd(), ""));
    edit->BindCharacter(&record);
    h = edit->Handle();
  }
  EXPECT_EQ(WindowMap::Find(h), nullptr);
  SendMessageA(h, WM_CHAR, 'q', 0);  // would reach freed memory if still mapped
  EXPECT_TRUE(calls().empty());
  DestroyWindow(h);
}

TEST_F(WindowTest, SharedFontIsDeletedOnceAfterTheLastHolder) {
  HFONT font = CreateFontA(18, 0, 0, 0, 0, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "Arial");
  LabelControl a, b, c;
  ASSERT_TRUE(a.Create(host.hwnd()));
  ASSERT_TRUE(b.Create(host.hwnd()));
  ASSERT_TRUE(c.Create(host.hwnd()));
  a.SetFont(font);
  b.SetFont(font);
  c.SetFont(font);
  EXPECT_EQ(SharedFont::holders(font), 3);
  EXPECT_EQ(b.GetFont(), font);
  LOGFONTA lf;
  DestroyWindow(a.Handle());
  DestroyWindow(b.Handle());
  EXPECT_EQ(SharedFont::holders(font), 1);
  EXPECT_NE(GetObjectA(font, sizeof(lf), &lf), 0) << "deleted while a label still holds it";
  DestroyWindow(c.Handle());
  EXPECT_EQ(SharedFont::holders(font), 0);
  EXPECT_EQ(GetObjectA(font, sizeof(lf), &lf), 0) << "never deleted";

  // Replacing a font releases the old one; setting the same font again keeps it.
  HFONT first = CreateFontA(12, 0, 0, 0, 0, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "Arial");
  HFONT second = CreateFontA(14, 0, 0, 0, 0, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "Arial");
  ASSERT_TRUE(a.Create(host.hwnd()));
  a.SetFont(first);
  a.SetFont(first);
  EXPECT_NE(GetObjectA(first, sizeof(lf), &lf), 0);
  a.SetFont(second);
  EXPECT_EQ(GetObjectA(first, sizeof(lf), &lf), 0);
  a.Destroy();
  EXPECT_EQ(GetObjectA(second, sizeof(lf), &lf), 0);
}

TEST_F(WindowTest, MouseEnterArmsLeaveTrackingOnce) {
  static constexpr char kEnter[] = "enter", kLeave[] = "leave", kMove[] = "move";
  Window& w = host.window;
  w.BindMouseEnter(&named<kEnter>);
  w.BindMouseLeave(&named<kLeave>);
  w.BindMouseMove(&named<kMove>);
  SendMessageA(w.Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
  SendMessageA(w.Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(6, 6));
  EXPECT_TRUE(w.MouseInside());
  SendMessageA(w.Handle(), WM_MOUSELEAVE, 0, 0);
  EXPECT_FALSE(w.MouseInside());
  std::vector<std::string> order;
  for (const auto& c : calls()) order.push_back(c.what);
  EXPECT_EQ(order, (std::vector<std::string>{"enter", "move", "move", "leave"}));

  // An enter routine that answers ends the move there (the move routine does not run).
  reset_calls(1);
  SendMessageA(w.Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
  ASSERT_EQ(calls().size(), 1u);
  EXPECT_EQ(calls()[0].what, "enter");
}

// ---- dropped files ------------------------------------------------------------------------

// A real drop handle as the shell builds it: DROPFILES followed by NUL-separated ANSI names.
HDROP make_drop(const std::vector<std::string>& names) {
  size_t bytes = sizeof(DROPFILES) + 1;
  for (const auto& n : names) bytes += n.size() + 1;
  HGLOBAL g = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
  auto* df = static_cast<DROPFILES*>(GlobalLock(g));
  df->pFiles = sizeof(DROPFILES);
  df->fWide = FALSE;
  char* p = reinterpret_cast<char*>(df + 1);
  for (const auto& n : names) {
    std::memcpy(p, n.c_str(), n.size() + 1);
    p += n.size() + 1;
  }
  GlobalUnlock(g);
  return static_cast<HDROP>(g);
}

std::string g_dropped;
int g_drop_calls = 0;
intptr_t on_drop(const char* text) {
  g_dropped = text;
  ++g_drop_calls;
  return 1;
}

TEST_F(WindowTest, DroppedFilesArriveAsOneTextJoinedWithCrLf) {
  struct Case {
    std::vector<std::string> names;
    std::string expected;
  };
  const Case cases[] = {
      {{"C:\\a.png", "C:\\dir\\b.txt", "D:\\文件.jpg"}, "C:\\a.png\r\nC:\\dir\\b.txt\r\nD:\\文件.jpg"},
      {{"C:\\only.bmp"}, "C:\\only.bmp"},
  };
  host.window.AcceptFiles();
  EXPECT_TRUE(GetWindowLongPtrA(host.hwnd(), GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
  host.window.BindFilesDropped(&on_drop);
  for (const auto& c : cases) {
    g_drop_calls = 0;
    SendMessageA(host.hwnd(), WM_DROPFILES, reinterpret_cast<WPARAM>(make_drop(c.names)), 0);
    EXPECT_EQ(g_drop_calls, 1);
    EXPECT_EQ(g_dropped, c.expected);
  }
}

// ---- operations ---------------------------------------------------------------------------

TEST_F(WindowTest, GeometryOperationsKeepWhatIsNotGiven) {
  LabelControl label;
  ASSERT_TRUE(label.Create(host.hwnd(), "g", {}, 10, 20, 30, 40));
  EXPECT_EQ(label.Left(), 10);
  EXPECT_EQ(label.Top(), 20);
  EXPECT_EQ(label.Width(), 30);
  EXPECT_EQ(label.Height(), 40);
  label.Width(0);  // a given 0 is a value
  EXPECT_EQ(label.Width(), 0);
  label.Move({}, 50);
  EXPECT_EQ(label.Left(), 10);
  EXPECT_EQ(label.Top(), 50);
  label.Left(70);
  EXPECT_EQ(label.Left(), 70);
  EXPECT_EQ(label.Top(), 50);
  EXPECT_EQ(label.Height(), 40);
  EXPECT_EQ(label.Visible(), 1);
  label.Visible(0);
  EXPECT_EQ(label.Visible(), 0);
  label.Disabled(1);
  EXPECT_EQ(label.Disabled(), 1);
  label.AddExStyle(WS_EX_STATICEDGE);
  EXPECT_TRUE(label.ExStyle() & WS_EX_STATICEDGE);
  label.RemoveExStyle(WS_EX_STATICEDGE);
  EXPECT_FALSE(label.ExStyle() & WS_EX_STATICEDGE);
}

}  // namespace
