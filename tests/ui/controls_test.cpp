// Standard controls on real windows: creation defaults, item operations, the check list
// (click toggling, radio mode, deletion shift), colour requests, the link label's click.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "tests/ui/ui_test_support.h"
#include "ui/controls.h"

using namespace tambrel;
using namespace tambrel::ui;
using namespace tambrel::ui::test;

namespace {

constexpr DWORD kComboKindBits = CBS_SIMPLE | CBS_DROPDOWN | CBS_DROPDOWNLIST;  // 0x3

class ControlsTest : public testing::Test {
 protected:
  void SetUp() override {
    reset_calls();
    ASSERT_TRUE(host.Create(500, 400));
  }
  HostWindow host;
};

TEST_F(ControlsTest, CreationDefaults) {
  struct Case {
    const char* name;
    Control* control;
    bool (*create)(Control&, HWND);
    const char* class_name;
    const char* text;
    int width, height;
    DWORD style_bits;
    DWORD ex_bits;
  };
  LabelControl label;
  EditControl edit;
  ButtonControl button;
  GroupBoxControl group;
  ComboBoxControl combo;
  ListBoxControl list;
  const Case cases[] = {
      {"label", &label, [](Control& c, HWND p) { return static_cast<LabelControl&>(c).Create(p); },
       "Static", "标签", 80, 24, WS_CHILD | WS_VISIBLE | SS_CENTERIMAGE, 0},
      {"edit", &edit, [](Control& c, HWND p) { return static_cast<EditControl&>(c).Create(p); },
       "Edit", "", 80, 20, WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE},
      {"button", &button, [](Control& c, HWND p) { return static_cast<ButtonControl&>(c).Create(p); },
       "Button", "按钮", 80, 32, WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0},
      {"group", &group, [](Control& c, HWND p) { return static_cast<GroupBoxControl&>(c).Create(p); },
       "Button", "分组框", 120, 100, WS_CHILD | WS_VISIBLE | BS_GROUPBOX, 0},
      {"combo", &combo, [](Control& c, HWND p) { return static_cast<ComboBoxControl&>(c).Create(p); },
       "ComboBox", "", 100, 0, WS_CHILD | WS_VISIBLE | CBS_DROPDOWN | CBS_AUTOHSCROLL, 0},
      {"list", &list, [](Control& c, HWND p) { return static_cast<ListBoxControl&>(c).Create(p); },
       "ListBox", "", 100, 125, WS_CHILD | WS_VISIBLE | LBS_NOTIFY | LBS_HASSTRINGS | LBS_OWNERDRAWFIXED,
       WS_EX_CLIENTEDGE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(c.create(*c.control, host.hwnd()));
    EXPECT_EQ(_stricmp(c.control->ClassName().c_str(), c.class_name), 0) << c.control->ClassName().c_str();
    EXPECT_EQ(std::string(c.control->GetText().c_str()), c.text);
    EXPECT_EQ(c.control->Width(), c.width);
    if (c.height) {
      EXPECT_EQ(c.control->Height(), c.height);
    }
    EXPECT_EQ(c.control->Style() & c.style_bits, c.style_bits);
    EXPECT_EQ(c.control->ExStyle() & c.ex_bits, c.ex_bits);
  }
  EXPECT_EQ(label.BackgroundColor(), static_cast<intptr_t>(GetSysColor(COLOR_BTNFACE)));
  EXPECT_EQ(edit.BackgroundColor(), 0xFFFFFF);
  EXPECT_EQ(combo.BackgroundColor(), 0xFFFFFF);
  EXPECT_EQ(combo.Style() & kComboKindBits, static_cast<DWORD>(CBS_DROPDOWN))
      << "the default combo box is an editable drop-down, not a list or a simple box";
  EXPECT_EQ(list.BackgroundColor(), 0xFFFFFF);
  EXPECT_EQ(list.HighlightColor(), static_cast<intptr_t>(GetSysColor(COLOR_HIGHLIGHT)));
}

TEST_F(ControlsTest, ColourRequestsAreAnsweredWithTheControlsBrush) {
  EditControl edit;
  ASSERT_TRUE(edit.Create(host.hwnd(), "e", {}, 10, 10));
  edit.TextColor(RGB(200, 0, 0));
  edit.BackgroundColor(RGB(0, 0, 90));
  HDC dc = GetDC(edit.Handle());
  const LRESULT brush = SendMessageA(host.hwnd(), WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc),
                                     reinterpret_cast<LPARAM>(edit.Handle()));
  EXPECT_NE(brush, 0);
  LOGBRUSH lb{};
  ASSERT_TRUE(GetObjectA(reinterpret_cast<HBRUSH>(brush), sizeof(lb), &lb));
  EXPECT_EQ(lb.lbColor, RGB(0, 0, 90));
  EXPECT_EQ(GetTextColor(dc), RGB(200, 0, 0));
  EXPECT_EQ(GetBkColor(dc), RGB(0, 0, 90));

  // Transparent: the brush is the null brush and text is drawn without a background.
  edit.BackgroundColor(kTransparent);
  EXPECT_TRUE(edit.ExStyle() & WS_EX_TRANSPARENT);
  const LRESULT hollow = SendMessageA(host.hwnd(), WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc),
                                      reinterpret_cast<LPARAM>(edit.Handle()));
  EXPECT_EQ(reinterpret_cast<HGDIOBJ>(hollow), GetStockObject(NULL_BRUSH));
  EXPECT_EQ(GetBkMode(dc), TRANSPARENT);
  ReleaseDC(edit.Handle(), dc);
}

TEST_F(ControlsTest, ComboItemsAddSelectAndCarryData) {
  ComboBoxControl combo;
  ASSERT_TRUE(combo.Create(host.hwnd(), CBS_DROPDOWNLIST | CBS_HASSTRINGS, 10, 10, 80, 200));
  // The kind of a combo box is a two-bit field (simple 1, drop-down 2, drop-down list 3): it
  // is compared whole, since a drop-down list also has the drop-down bit.
  EXPECT_EQ(combo.Style() & kComboKindBits, static_cast<DWORD>(CBS_DROPDOWNLIST));
  for (int n = 1; n <= 5; ++n) {
    const std::string text = std::to_string(n);
    EXPECT_EQ(combo.AddItem(text.c_str(), n * 10), n - 1);
  }
  EXPECT_EQ(combo.Count(), 5);
  EXPECT_EQ(combo.ItemData(3), 40);
  EXPECT_EQ(std::string(combo.ItemText(2).c_str()), "3");
  EXPECT_EQ(combo.CurrentIndex(), CB_ERR);
  EXPECT_TRUE(combo.SetCurrent(4));
  EXPECT_EQ(combo.CurrentIndex(), 4);
  EXPECT_FALSE(combo.SetCurrent(9));
  EXPECT_EQ(combo.FindExact("2"), 1);
  EXPECT_EQ(combo.InsertItem(0, "zero", 7), 0);
  EXPECT_EQ(combo.ItemData(0), 7);
  EXPECT_EQ(std::string(combo.ItemText(1).c_str()), "1");
  EXPECT_EQ(combo.DeleteItem(0), 5);
  EXPECT_TRUE(combo.ItemText(99).empty());

  // Selecting from code raises no event; the list's own selection change does.
  combo.BindSelectionChanged(&record);
  combo.SetCurrent(1);
  EXPECT_TRUE(calls().empty());
  SendMessageA(host.hwnd(), WM_COMMAND, MAKEWPARAM(combo.ControlId(), CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(combo.Handle()));
  EXPECT_EQ(calls().size(), 1u);
}

TEST_F(ControlsTest, ListItemsAddInsertAndCarryData) {
  ListBoxControl list;
  ASSERT_TRUE(list.Create(host.hwnd(), {}, 10, 10, 150, 200));
  EXPECT_EQ(list.AddItem("a", 100), 0);
  EXPECT_EQ(list.AddItem("b", 200), 1);
  EXPECT_EQ(list.InsertItem("first", 0, 50), 0);
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(list.ItemData(0), 50);
  EXPECT_EQ(list.ItemData(2), 200);
  EXPECT_EQ(std::string(list.ItemText(1).c_str()), "a");
  EXPECT_TRUE(list.SetItemData(1, 111));
  EXPECT_EQ(list.ItemData(1), 111);
  EXPECT_EQ(list.SetCurrent(2), 2);
  EXPECT_EQ(list.CurrentIndex(), 2);
  EXPECT_EQ(list.ItemAtPoint(5, 400), -1);
  EXPECT_TRUE(list.Clear());
  EXPECT_EQ(list.Count(), 0);
}

class CheckListTest : public ControlsTest {
 protected:
  void SetUp() override {
    ControlsTest::SetUp();
    ASSERT_TRUE(list.Create(host.hwnd(), {}, 10, 10, 200, 200));
    for (const char* t : {"zero", "one", "two", "three", "four"}) list.AddItem(t);
    list.BindCheckChanged(&record);
    UpdateWindow(host.hwnd());
  }
  std::vector<bool> states() const {
    std::vector<bool> s;
    for (int i = 0; i < list.Count(); ++i) s.push_back(list.IsChecked(i));
    return s;
  }
  LPARAM point_of(int index) const {
    const RECT r = list.ItemRect(index);
    return MAKELPARAM(r.left + 30, (r.top + r.bottom) / 2);
  }
  ListBoxControl list;
};

TEST_F(CheckListTest, FirstClickSelectsASecondClickToggles) {
  SendMessageA(list.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, point_of(2));
  SendMessageA(list.Handle(), WM_LBUTTONUP, 0, point_of(2));
  EXPECT_EQ(list.CurrentIndex(), 2);
  EXPECT_FALSE(list.IsChecked(2)) << "the first click only selects";
  EXPECT_TRUE(calls().empty());

  SendMessageA(list.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, point_of(2));
  SendMessageA(list.Handle(), WM_LBUTTONUP, 0, point_of(2));
  EXPECT_TRUE(list.IsChecked(2));
  EXPECT_EQ(calls().size(), 1u);
  SendMessageA(list.Handle(), WM_LBUTTONDBLCLK, MK_LBUTTON, point_of(2));
  SendMessageA(list.Handle(), WM_LBUTTONUP, 0, point_of(2));
  EXPECT_FALSE(list.IsChecked(2)) << "a double click on the selected item toggles";

  list.ToggleOnAnyClick(true);
  SendMessageA(list.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, point_of(4));
  SendMessageA(list.Handle(), WM_LBUTTONUP, 0, point_of(4));
  EXPECT_TRUE(list.IsChecked(4)) << "toggle on any click";
  // A click below the last item touches nothing.
  reset_calls();
  SendMessageA(list.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(30, 190));
  SendMessageA(list.Handle(), WM_LBUTTONUP, 0, MAKELPARAM(30, 190));
  EXPECT_TRUE(calls().empty());
}

TEST_F(CheckListTest, RadioModeKeepsExactlyOneItemChecked) {
  list.RadioMode(1);
  EXPECT_TRUE(list.SetChecked(1, true));
  reset_calls();
  EXPECT_TRUE(list.SetChecked(3, true));
  EXPECT_EQ(states(), (std::vector<bool>{false, false, false, true, false}));
  EXPECT_EQ(calls().size(), 1u) << "one check-changed call per change";
  EXPECT_EQ(list.LastCheckedIndex(), 3);
  reset_calls();
  list.SetChecked(3, true);  // already the checked one: nothing happens
  EXPECT_TRUE(calls().empty());
  EXPECT_FALSE(list.SetChecked(5, true)) << "outside the items";
  EXPECT_FALSE(list.SetChecked(-1, true));
}

TEST_F(CheckListTest, DeletingAnItemMovesTheLaterStatesDown) {
  list.SetChecked(3, true);
  list.SetChecked(4, true);
  ASSERT_EQ(states(), (std::vector<bool>{false, false, false, true, true}));
  EXPECT_EQ(list.DeleteItem(2), 4);
  EXPECT_EQ(states(), (std::vector<bool>{false, false, true, true}));
  EXPECT_EQ(GetPropA(list.Handle(), "IsSelect4"), nullptr) << "the old last property stays";
  EXPECT_EQ(std::string(list.ItemText(2).c_str()), "three");
  EXPECT_EQ(list.DeleteItem(10), LB_ERR);
  EXPECT_EQ(states(), (std::vector<bool>{false, false, true, true}));
}

TEST_F(CheckListTest, CheckBoxesAreDrawnIntoTheItems) {
  list.SetChecked(1, true);
  UpdateWindow(list.Handle());
  const RECT r = list.ItemRect(1);
  // The frame of the check box (drawn by the system) sits at item left + 2.
  const COLORREF inside_box = client_pixel(list.Handle(), r.left + 2 + 6, (r.top + r.bottom) / 2);
  const COLORREF beside = client_pixel(list.Handle(), r.left + 2 + 13 + 2, r.top + 1);
  EXPECT_NE(inside_box, beside) << "no check mark drawn";
}

// A solid square bitmap of one colour, compatible with the screen.
HBITMAP square_bitmap(COLORREF color, int size = 13) {
  HDC screen = GetDC(nullptr);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, size, size);
  HDC memory = CreateCompatibleDC(screen);
  HGDIOBJ old = SelectObject(memory, bitmap);
  HBRUSH brush = CreateSolidBrush(color);
  const RECT all{0, 0, size, size};
  FillRect(memory, &all, brush);
  DeleteObject(brush);
  SelectObject(memory, old);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return bitmap;
}

bool alive(HBITMAP h) { return GetObjectType(h) == OBJ_BITMAP; }

TEST_F(CheckListTest, CheckImagesAreOwnedOnceHoweverTheStatesShareThem) {
  HBITMAP red = square_bitmap(RGB(255, 0, 0));
  HBITMAP blue = square_bitmap(RGB(0, 0, 255));
  EXPECT_TRUE(list.SetCheckImages(red, red)) << "one bitmap for both states";
  list.SetChecked(1, true);
  UpdateWindow(list.Handle());
  const RECT r = list.ItemRect(1);
  EXPECT_EQ(client_pixel(list.Handle(), r.left + 2 + 6, (r.top + r.bottom) / 2), RGB(255, 0, 0))
      << "the checked state shows the shared bitmap";

  EXPECT_TRUE(list.SetCheckImages(red, blue));
  EXPECT_TRUE(alive(red)) << "still shown in the unchecked state";
  EXPECT_TRUE(list.SetCheckImages(blue, red));
  EXPECT_TRUE(alive(red) && alive(blue)) << "swapping the states deletes neither";
  EXPECT_TRUE(list.SetCheckImages(red, red));
  EXPECT_FALSE(alive(blue)) << "a bitmap no state shows any more is deleted";
  EXPECT_TRUE(alive(red));

  list.ClearRoutines();  // the teardown of the check-list fields
  EXPECT_FALSE(alive(red));
}

// ---- link label ---------------------------------------------------------------------------

class LinkTest : public ControlsTest {
 protected:
  LRESULT send_click(int index) {
    NMLINK link{};
    link.hdr.hwndFrom = this->link.Handle();
    link.hdr.idFrom = static_cast<UINT_PTR>(this->link.ControlId());
    link.hdr.code = NM_CLICK;
    link.item.iLink = index;
    return SendMessageA(host.hwnd(), WM_NOTIFY, link.hdr.idFrom, reinterpret_cast<LPARAM>(&link));
  }
  LinkControl link;
};

TEST_F(LinkTest, ClickIsAnsweredWithOneOnlyWhenBound) {
  ASSERT_TRUE(link.Create(host.hwnd(), "<a href=\"http://example.test/home\">example.test/home</a>",
                          {}, 10, 10, 200, 24));
  EXPECT_EQ(send_click(0), 0) << "unbound: the parent's own procedure answers";
  link.BindClicked(&record);
  reset_calls(0);  // the routine's own result does not matter
  EXPECT_EQ(send_click(3), 1);
  ASSERT_EQ(calls().size(), 1u);
  EXPECT_EQ(calls()[0].args[0], 3);

  // Other codes raise nothing.
  NMHDR other{link.Handle(), static_cast<UINT_PTR>(link.ControlId()), static_cast<UINT>(NM_RETURN)};
  EXPECT_EQ(SendMessageA(host.hwnd(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&other)), 0);
  EXPECT_EQ(calls().size(), 1u);
}

TEST_F(LinkTest, ARealClickOnTheLinkRaisesTheEvent) {
  ASSERT_TRUE(link.Create(host.hwnd(), "<a href=\"http://example.test/\">example.test</a>", {}, 10,
                          10, 200, 24));
  link.BindClicked(&record);
  UpdateWindow(host.hwnd());
  PostMessageA(link.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 8));
  PostMessageA(link.Handle(), WM_LBUTTONUP, 0, MAKELPARAM(10, 8));
  EXPECT_TRUE(pump_until([] { return !calls().empty(); }));
  ASSERT_EQ(calls().size(), 1u);
  EXPECT_EQ(calls()[0].args[0], 0);
}

TEST_F(LinkTest, UrlsAreExchangedInTheAnsiCodePage) {
  ASSERT_TRUE(link.Create(host.hwnd(), "<a href=\"http://example.test/\">example</a>", {}, 10, 10));
  EXPECT_EQ(std::string(link.LinkUrl(0).c_str()), "http://example.test/");
  EXPECT_TRUE(link.SetLinkUrl(0, "http://example.test/印章"));
  EXPECT_EQ(std::string(link.LinkUrl(0).c_str()), "http://example.test/印章");
  EXPECT_EQ(std::string(link.LinkUrl(5).c_str()), "") << "no such link";
  EXPECT_TRUE(link.Style() & LWS_TRANSPARENT);
}

TEST_F(ControlsTest, TransparentLabelShowsItsParentAndRepaintsOnNewText) {
  host.window.BackgroundColor(RGB(0, 160, 0));
  LabelControl label;
  ASSERT_TRUE(label.Create(host.hwnd(), "WWWWWWWW", {}, 20, 20, 120, 30));
  label.BackgroundColor(kTransparent);
  RedrawWindow(host.hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  EXPECT_EQ(client_pixel(label.Handle(), 118, 2), RGB(0, 160, 0)) << "parent not shown through";
  label.SetLabel("");
  UpdateWindow(label.Handle());
  for (int x = 0; x < 120; x += 3) {
    ASSERT_EQ(client_pixel(label.Handle(), x, 15), RGB(0, 160, 0)) << "old glyph left at x " << x;
  }
}

}  // namespace
