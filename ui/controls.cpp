// Standard controls. See controls.h for the design.
#include "ui/controls.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <cstring>
#include <vector>

#include "runtime/text.h"

namespace tambrel::ui {
namespace {

constexpr DWORD kChildVisible = WS_CHILD | WS_VISIBLE;
constexpr DWORD kTabStop = WS_TABSTOP;
constexpr DWORD kComboFixed = kChildVisible | kTabStop | WS_VSCROLL | CBS_AUTOHSCROLL | CBS_NOINTEGRALHEIGHT;
constexpr DWORD kListFixed = kChildVisible | kTabStop | WS_VSCROLL | WS_HSCROLL | LBS_NOTIFY |
                             LBS_USETABSTOPS | LBS_HASSTRINGS | LBS_OWNERDRAWVARIABLE |
                             LBS_NOINTEGRALHEIGHT;
constexpr int kCodeClick = -2;  // NM_CLICK
constexpr UINT kLinkRecordBytes = sizeof(LITEM);

int as_int(const OptionalArg& a, int fallback) { return static_cast<int>(a.value_or(fallback)); }

// Creation common to the system-classed controls: fixed style bits or-ed with the caller's
// (or the default), x and y by value, default size, identifier from the counter.
struct ControlSpec {
  const char* class_name;
  DWORD fixed_style;
  DWORD default_style;
  int default_width;
  int default_height;
  DWORD default_ex_style;
};

HWND create_control_of(Control& c, const ControlSpec& kind, HWND parent, const char* text,
                      const OptionalArg& style, const OptionalArg& x, const OptionalArg& y,
                      const OptionalArg& width, const OptionalArg& height,
                      const OptionalArg& ex_style, int id) {
  const DWORD s = kind.fixed_style | static_cast<DWORD>(style.value_or(kind.default_style));
  return c.CreateControl(parent, static_cast<DWORD>(ex_style.value_or(kind.default_ex_style)),
                         kind.class_name, text, s, static_cast<int>(x.value),
                         static_cast<int>(y.value), as_int(width, kind.default_width),
                         as_int(height, kind.default_height), id);
}

std::string check_property_name(int index) {
  char name[32];
  std::snprintf(name, sizeof(name), "IsSelect%d", index);
  return name;
}

}  // namespace

// ---- Control -------------------------------------------------------------------------------

Control::~Control() { Destroy(); }
void Control::Destroy() { Teardown(hwnd_); }

void Control::CopyControlPartFrom(const Control& other) {
  CopyWindowPartFrom(other);
  text_color_ = other.text_color_;
  background_color_ = other.background_color_;
}

HWND Control::CreateControl(HWND parent, DWORD ex_style, const char* class_name, const char* text,
                            DWORD style, int x, int y, int width, int height, int id) {
  return CreateNative(parent, ex_style, class_name, text, style, x, y, width, height,
                      reinterpret_cast<HMENU>(static_cast<intptr_t>(id)));
}

intptr_t Control::TextColor(OptionalArg color, OptionalArg redraw) {
  if (!color.present) return text_color_;
  text_color_ = static_cast<COLORREF>(color.value);
  if (hwnd_ && redraw.value_or(1) == 1) Invalidate();
  return 0;
}

intptr_t Control::BackgroundColor(OptionalArg color, OptionalArg redraw) {
  if (!color.present) return background_color_;
  background_brush_.reset();
  background_color_ = static_cast<COLORREF>(color.value);
  if (background_color_ == kTransparent) {
    if (hwnd_) AddExStyle(WS_EX_TRANSPARENT);
    background_brush_.reset(static_cast<HBRUSH>(GetStockObject(NULL_BRUSH)));
  } else {
    if (hwnd_) RemoveExStyle(WS_EX_TRANSPARENT);
    background_brush_.reset(CreateSolidBrush(background_color_));
  }
  if (hwnd_ && redraw.value_or(1) == 1) Invalidate();
  return 0;
}

void Control::CopyParentPixels(HDC dc) const {
  HWND parent = ::GetParent(hwnd_);
  if (!parent) return;
  const RECT r = RectInParent();
  WindowDc parent_dc(parent);
  BitBlt(dc, 0, 0, r.right - r.left, r.bottom - r.top, parent_dc.get(), r.left, r.top, SRCCOPY);
}

intptr_t Control::OnReflectedColor(HWND, HDC dc) {
  if (background_color_ == kTransparent) {
    SetTextColor(dc, text_color_);
    SetBkMode(dc, TRANSPARENT);
    CopyParentPixels(dc);
    return reinterpret_cast<intptr_t>(background_brush_.get());
  }
  if (!background_brush_) return 0;
  SetTextColor(dc, text_color_);
  SetBkColor(dc, background_color_);
  return reinterpret_cast<intptr_t>(background_brush_.get());
}

void Control::ClassTeardown(HWND hwnd) {
  ClearRoutines();
  background_brush_.reset();
  text_color_ = 0;
  background_color_ = 0;
  Window::ClassTeardown(hwnd);
}

// ---- LabelControl --------------------------------------------------------------------------

LabelControl::~LabelControl() { Destroy(); }

std::unique_ptr<Window> LabelControl::Copy() const {
  auto c = std::make_unique<LabelControl>();
  c->CopyControlPartFrom(*this);
  return c;
}

void LabelControl::AfterCreate() { BackgroundColor(static_cast<intptr_t>(GetSysColor(COLOR_BTNFACE))); }

bool LabelControl::Create(HWND parent, OptionalArg text, OptionalArg style, OptionalArg x,
                          OptionalArg y, OptionalArg width, OptionalArg height,
                          OptionalArg ex_style) {
  static constexpr ControlSpec kind{"Static", kChildVisible, SS_CENTERIMAGE, 80, 24, 0};
  const int id = next_control_id();
  if (!create_control_of(*this, kind, parent, text.present ? text.text() : "标签", style, x, y,
                        width, height, ex_style, id)) {
    return false;
  }
  AfterCreate();
  return true;
}

bool LabelControl::AttachItem(HWND dialog, int item_id) {
  if (!AttachDialogItem(dialog, item_id)) return false;
  AfterCreate();
  return true;
}
bool LabelControl::Attach(HWND hwnd) {
  if (!AttachHandle(hwnd)) return false;
  AfterCreate();
  return true;
}

bool LabelControl::SetLabel(const char* text) {
  const bool ok = SetText(text);
  if (background_color_ == kTransparent) {
    // The label draws no background of its own: the parent must repaint under it first, or
    // the old glyphs stay.
    HWND parent = ::GetParent(hwnd_);
    const RECT r = RectInParent();
    InvalidateRect(parent, &r, TRUE);
    UpdateWindow(parent);
  }
  return ok;
}

// ---- EditControl ---------------------------------------------------------------------------

EditControl::~EditControl() { Destroy(); }

std::unique_ptr<Window> EditControl::Copy() const {
  auto c = std::make_unique<EditControl>();
  c->CopyControlPartFrom(*this);
  c->text_changed_ = text_changed_;
  return c;
}

void EditControl::AfterCreate() { BackgroundColor(0xFFFFFF); }

bool EditControl::Create(HWND parent, OptionalArg text, OptionalArg style, OptionalArg x,
                         OptionalArg y, OptionalArg width, OptionalArg height,
                         OptionalArg ex_style) {
  static constexpr ControlSpec kind{"Edit", kChildVisible | kTabStop, ES_AUTOHSCROLL, 80, 20,
                                    WS_EX_CLIENTEDGE};
  const int id = next_control_id();
  if (!create_control_of(*this, kind, parent, text.text(), style, x, y, width, height, ex_style, id)) {
    return false;
  }
  AfterCreate();
  return true;
}

bool EditControl::AttachItem(HWND dialog, int item_id) {
  if (!AttachDialogItem(dialog, item_id)) return false;
  AfterCreate();
  return true;
}
bool EditControl::Attach(HWND hwnd) {
  if (!AttachHandle(hwnd)) return false;
  AfterCreate();
  return true;
}

void EditControl::Select(int start, OptionalArg end) { Send(EM_SETSEL, start, end.value_or(-1)); }
void EditControl::GetSelection(DWORD* start, DWORD* end) const {
  Send(EM_GETSEL, reinterpret_cast<WPARAM>(start), reinterpret_cast<LPARAM>(end));
}
void EditControl::AppendText(const char* text) {
  Send(EM_SETSEL, static_cast<WPARAM>(-2), -1);
  SendText(EM_REPLACESEL, 1, text);
}
void EditControl::ReplaceSelection(const char* text) {
  SendText(EM_REPLACESEL, 1, text);
}
intptr_t EditControl::TextLimit(OptionalArg limit) {
  if (limit.present) return Send(EM_LIMITTEXT, static_cast<WPARAM>(limit.value), 0);
  return Send(EM_GETLIMITTEXT);
}
Text EditControl::PasswordChar() const {
  const char c = static_cast<char>(Send(EM_GETPASSWORDCHAR));
  return c ? Text(&c, 1) : Text();
}
void EditControl::SetPasswordChar(const char* text) {
  Send(EM_SETPASSWORDCHAR, text ? static_cast<unsigned char>(text[0]) : 0);
  Invalidate();
}
bool EditControl::ReadOnly(OptionalArg flag) { return Send(EM_SETREADONLY, flag.value_or(1)) != 0; }
RECT EditControl::FormattingRect() const {
  RECT r{};
  Send(EM_GETRECT, 0, reinterpret_cast<LPARAM>(&r));
  return r;
}
void EditControl::SetFormattingRect(const RECT& r) {
  Send(EM_SETRECTNP, 0, reinterpret_cast<LPARAM>(&r));
}

intptr_t EditControl::OnReflectedCommand(HWND, HWND, int code, int) {
  if (code == EN_CHANGE) text_changed_();
  return 0;
}

// ---- ButtonControl -------------------------------------------------------------------------

ButtonControl::~ButtonControl() { Destroy(); }

std::unique_ptr<Window> ButtonControl::Copy() const {
  auto c = std::make_unique<ButtonControl>();
  c->CopyControlPartFrom(*this);
  c->clicked_ = clicked_;
  return c;
}

bool ButtonControl::Create(HWND parent, OptionalArg text, OptionalArg id, OptionalArg style,
                           OptionalArg x, OptionalArg y, OptionalArg width, OptionalArg height,
                           OptionalArg ex_style) {
  static constexpr ControlSpec kind{"Button", kChildVisible | kTabStop, 0, 80, 32, 0};
  const int counted = next_control_id();
  return create_control_of(*this, kind, parent, text.present ? text.text() : "按钮", style, x, y,
                          width, height, ex_style, as_int(id, counted)) != nullptr;
}

bool ButtonControl::AttachItem(HWND dialog, int item_id) { return AttachDialogItem(dialog, item_id); }
bool ButtonControl::Attach(HWND hwnd) { return AttachHandle(hwnd); }
void ButtonControl::Press() { Send(BM_CLICK); }

HANDLE ButtonControl::SetImage(HANDLE image, bool is_icon) {
  if (is_icon) {
    icon_.reset(static_cast<HICON>(image));
    AddStyle(BS_ICON);
  } else {
    bitmap_.reset(static_cast<HBITMAP>(image));
    AddStyle(BS_BITMAP);
  }
  return reinterpret_cast<HANDLE>(
      Send(BM_SETIMAGE, is_icon ? IMAGE_ICON : IMAGE_BITMAP, reinterpret_cast<LPARAM>(image)));
}
HANDLE ButtonControl::GetImage(bool is_icon) const {
  return reinterpret_cast<HANDLE>(Send(BM_GETIMAGE, is_icon ? IMAGE_ICON : IMAGE_BITMAP));
}

intptr_t ButtonControl::OnReflectedCommand(HWND, HWND, int code, int) {
  if (code == BN_CLICKED) clicked_();
  return 0;
}

void ButtonControl::ClassTeardown(HWND hwnd) {
  bitmap_.reset();
  icon_.reset();
  Control::ClassTeardown(hwnd);
}

// ---- GroupBoxControl -----------------------------------------------------------------------

GroupBoxControl::~GroupBoxControl() { Destroy(); }

std::unique_ptr<Window> GroupBoxControl::Copy() const {
  auto c = std::make_unique<GroupBoxControl>();
  c->CopyControlPartFrom(*this);
  c->group_text_color_ = group_text_color_;
  c->group_background_color_ = group_background_color_;
  return c;
}

void GroupBoxControl::AfterCreate() {
  BackgroundColor(static_cast<intptr_t>(GetSysColor(COLOR_BTNFACE)));
}

bool GroupBoxControl::Create(HWND parent, OptionalArg text, OptionalArg style, OptionalArg x,
                             OptionalArg y, OptionalArg width, OptionalArg height,
                             OptionalArg ex_style) {
  static constexpr ControlSpec kind{"Button", kChildVisible | BS_GROUPBOX, 0, 120, 100, 0};
  const int id = next_control_id();
  if (!create_control_of(*this, kind, parent, text.present ? text.text() : "分组框", style, x, y,
                        width, height, ex_style, id)) {
    return false;
  }
  AfterCreate();
  return true;
}

bool GroupBoxControl::AttachItem(HWND dialog, int item_id) {
  if (!AttachDialogItem(dialog, item_id)) return false;
  AfterCreate();
  return true;
}
bool GroupBoxControl::Attach(HWND hwnd) {
  if (!AttachHandle(hwnd)) return false;
  AfterCreate();
  return true;
}

intptr_t GroupBoxControl::TextColor(OptionalArg color, OptionalArg redraw) {
  if (!color.present) return group_text_color_;
  group_text_color_ = static_cast<COLORREF>(color.value);
  if (hwnd_ && redraw.value_or(1) == 1) Invalidate();
  return 0;
}

intptr_t GroupBoxControl::BackgroundColor(OptionalArg color, OptionalArg redraw) {
  if (!color.present) return group_background_color_;
  group_background_color_ = static_cast<COLORREF>(color.value);
  group_brush_.reset(CreateSolidBrush(group_background_color_));
  if (hwnd_ && redraw.value_or(1) == 1) Invalidate();
  return 0;
}

void GroupBoxControl::ClearRoutines() {
  group_brush_.reset();
  group_text_color_ = 0;
  group_background_color_ = 0;
}

intptr_t GroupBoxControl::OnReflectedColor(HWND, HDC dc) {
  SetTextColor(dc, group_text_color_);
  SetBkColor(dc, group_background_color_);
  return reinterpret_cast<intptr_t>(group_brush_.get());
}

intptr_t GroupBoxControl::OnEraseBackground(HWND hwnd, HDC dc) {
  if (group_brush_) {
    RECT r{};
    GetClientRect(hwnd, &r);
    FillRect(dc, &r, group_brush_.get());
  }
  return 0;
}

// ---- ComboBoxControl -----------------------------------------------------------------------

ComboBoxControl::~ComboBoxControl() { Destroy(); }

std::unique_ptr<Window> ComboBoxControl::Copy() const {
  auto c = std::make_unique<ComboBoxControl>();
  c->CopyControlPartFrom(*this);
  c->routines_ = routines_;
  return c;
}

void ComboBoxControl::AfterCreate() { BackgroundColor(0xFFFFFF); }

bool ComboBoxControl::Create(HWND parent, OptionalArg style, OptionalArg x, OptionalArg y,
                             OptionalArg width, OptionalArg height, OptionalArg ex_style) {
  static constexpr ControlSpec kind{"ComboBox", kComboFixed, CBS_DROPDOWN, 100, 110, 0};
  const int id = next_control_id();
  if (!create_control_of(*this, kind, parent, "", style, x, y, width, height, ex_style, id)) {
    return false;
  }
  AfterCreate();
  return true;
}

bool ComboBoxControl::AttachItem(HWND dialog, int item_id) {
  if (!AttachDialogItem(dialog, item_id)) return false;
  AfterCreate();
  return true;
}
bool ComboBoxControl::Attach(HWND hwnd) {
  if (!AttachHandle(hwnd)) return false;
  AfterCreate();
  return true;
}

intptr_t ComboBoxControl::AddItem(const char* text, intptr_t data) {
  const LRESULT index = SendText(CB_ADDSTRING, 0, text);
  if (index != CB_ERR && index != CB_ERRSPACE) Send(CB_SETITEMDATA, index, data);
  return index;
}
intptr_t ComboBoxControl::InsertItem(int index, const char* text, intptr_t data) {
  const LRESULT at = SendText(CB_INSERTSTRING, index, text);
  if (at != CB_ERR && at != CB_ERRSPACE) Send(CB_SETITEMDATA, at, data);
  return at;
}
intptr_t ComboBoxControl::LimitText(int limit) { return Send(CB_LIMITTEXT, limit); }
Text ComboBoxControl::ItemText(int index) const {
  return ReceiveText(CB_GETLBTEXTLEN, CB_GETLBTEXT, static_cast<WPARAM>(index));
}
intptr_t ComboBoxControl::SelectByPrefix(const char* text, OptionalArg start) {
  return SendText(CB_SELECTSTRING, start.value_or(-1), text);
}
intptr_t ComboBoxControl::Count() const { return Send(CB_GETCOUNT); }
intptr_t ComboBoxControl::CurrentIndex() const { return Send(CB_GETCURSEL); }
bool ComboBoxControl::SetCurrent(int index) { return Send(CB_SETCURSEL, index) != CB_ERR; }
intptr_t ComboBoxControl::ItemData(int index) const { return Send(CB_GETITEMDATA, index); }
intptr_t ComboBoxControl::SetItemData(int index, intptr_t data) {
  return Send(CB_SETITEMDATA, index, data);
}
intptr_t ComboBoxControl::DeleteItem(int index) { return Send(CB_DELETESTRING, index); }
void ComboBoxControl::Clear() { Send(CB_RESETCONTENT); }
intptr_t ComboBoxControl::ShowDropDown(OptionalArg show) { return Send(CB_SHOWDROPDOWN, show.value_or(1)); }
intptr_t ComboBoxControl::FindPrefix(const char* text, OptionalArg start) const {
  return SendText(CB_FINDSTRING, start.value_or(-1), text);
}
intptr_t ComboBoxControl::FindExact(const char* text, OptionalArg start) const {
  return SendText(CB_FINDSTRINGEXACT, start.value_or(-1), text);
}
RECT ComboBoxControl::DroppedRect() const {
  RECT r{};
  Send(CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&r));
  return r;
}
bool ComboBoxControl::DroppedState() const { return Send(CB_GETDROPPEDSTATE) != 0; }
intptr_t ComboBoxControl::DroppedWidth() const { return Send(CB_GETDROPPEDWIDTH); }
intptr_t ComboBoxControl::SetDroppedWidth(int width) { return Send(CB_SETDROPPEDWIDTH, width); }
intptr_t ComboBoxControl::ItemHeight(int index) const { return Send(CB_GETITEMHEIGHT, index); }
intptr_t ComboBoxControl::SetItemHeight(int index, int height) {
  return Send(CB_SETITEMHEIGHT, index, height);
}
intptr_t ComboBoxControl::SetEditSelection(int start, int end) {
  return Send(CB_SETEDITSEL, 0, MAKELPARAM(start, end));
}
void ComboBoxControl::GetEditSelection(DWORD* start, DWORD* end) const {
  Send(CB_GETEDITSEL, reinterpret_cast<WPARAM>(start), reinterpret_cast<LPARAM>(end));
}
intptr_t ComboBoxControl::TopIndex() const { return Send(CB_GETTOPINDEX); }
intptr_t ComboBoxControl::SetTopIndex(int index) { return Send(CB_SETTOPINDEX, index); }
intptr_t ComboBoxControl::Directory(OptionalArg attributes, const char* folder, const char* pattern) {
  constexpr UINT kAll = DDL_EXCLUSIVE | DDL_DRIVES | DDL_DIRECTORY | DDL_HIDDEN | DDL_ARCHIVE |
                        DDL_READONLY | DDL_SYSTEM;
  const UINT attrs = attributes.present ? (DDL_EXCLUSIVE | static_cast<UINT>(attributes.value)) : kAll;
  Text path = text_concat({folder, pattern});
  return SendText(CB_DIR, attrs, path.c_str());
}
intptr_t ComboBoxControl::ExtendedUi(OptionalArg flag) { return Send(CB_SETEXTENDEDUI, flag.value_or(1)); }
bool ComboBoxControl::GetExtendedUi() const { return Send(CB_GETEXTENDEDUI) != 0; }

intptr_t ComboBoxControl::OnReflectedCommand(HWND, HWND, int code, int) {
  switch (code) {
    case CBN_SELCHANGE: routines_.selection_changed(); break;
    case CBN_EDITUPDATE: routines_.edit_changed(); break;
    case CBN_DROPDOWN: routines_.dropped_down(); break;
    case CBN_CLOSEUP: routines_.closed_up(); break;
    case CBN_DBLCLK: routines_.double_clicked(); break;
    default: break;
  }
  return 0;
}

// ---- ListBoxControl ------------------------------------------------------------------------

ListBoxControl::ListBoxControl() = default;
ListBoxControl::~ListBoxControl() { Destroy(); }

std::unique_ptr<Window> ListBoxControl::Copy() const {
  auto c = std::make_unique<ListBoxControl>();
  c->CopyControlPartFrom(*this);
  c->selection_changed_ = selection_changed_;
  c->double_clicked_ = double_clicked_;
  c->check_changed_ = check_changed_;
  c->radio_mode_ = radio_mode_;
  c->highlight_text_color_ = highlight_text_color_;
  c->highlight_color_ = highlight_color_;
  c->show_check_boxes_ = show_check_boxes_;
  c->toggle_on_any_click_ = toggle_on_any_click_;
  return c;
}

bool ListBoxControl::Create(HWND parent, OptionalArg style, OptionalArg x, OptionalArg y,
                            OptionalArg width, OptionalArg height, OptionalArg ex_style) {
  static constexpr ControlSpec kind{"Listbox", kListFixed, 0, 100, 125, WS_EX_CLIENTEDGE};
  const int id = next_control_id();
  if (!create_control_of(*this, kind, parent, "", style, x, y, width, height, ex_style, id)) {
    return false;
  }
  ApplyListDefaults();
  return true;
}

bool ListBoxControl::AttachItem(HWND dialog, int item_id) {
  if (!AttachDialogItem(dialog, item_id)) return false;
  ApplyListDefaults();
  return true;
}
bool ListBoxControl::Attach(HWND hwnd) {
  if (!AttachHandle(hwnd)) return false;
  ApplyListDefaults();
  return true;
}

void ListBoxControl::ApplyListDefaults() {
  AddStyle(LBS_OWNERDRAWFIXED);
  BackgroundColor(0xFFFFFF, 0);
  highlight_text_color_ = GetSysColor(COLOR_HIGHLIGHTTEXT);
  highlight_color_ = GetSysColor(COLOR_HIGHLIGHT);
}

void ListBoxControl::ResetCheckListSettings() {
  check_width_ = 13;
  check_height_ = 13;
  last_checked_ = -1;
  show_check_boxes_ = true;
  radio_mode_ = false;
  toggle_on_any_click_ = false;
  highlight_text_color_ = 0;
  highlight_color_ = 0;
}

void ListBoxControl::ClearRoutines() {
  selection_changed_ = {};
  double_clicked_ = {};
  check_changed_ = {};
  checked_image_.reset();
  unchecked_image_.reset();
  checked_shares_unchecked_ = false;
  ResetCheckListSettings();
}

intptr_t ListBoxControl::AddItem(const char* text, intptr_t data) {
  const LRESULT index = SendText(LB_ADDSTRING, 0, text);
  if (index != LB_ERR && index != LB_ERRSPACE) Send(LB_SETITEMDATA, index, data);
  return index;
}
intptr_t ListBoxControl::InsertItem(const char* text, OptionalArg index, intptr_t data) {
  const LRESULT at = SendText(LB_INSERTSTRING, index.value_or(-1), text);
  if (at != LB_ERR && at != LB_ERRSPACE) Send(LB_SETITEMDATA, at, data);
  return at;
}

intptr_t ListBoxControl::DeleteItem(int index) {
  const LRESULT remaining = Send(LB_DELETESTRING, index);
  if (remaining == LB_ERR) return remaining;
  for (int k = index; k < remaining; ++k) {
    SetProperty(check_property_name(k).c_str(), GetProperty(check_property_name(k + 1).c_str()));
  }
  RemoveProperty(check_property_name(static_cast<int>(remaining)).c_str());
  // The remembered radio item moves with its item (or is gone with it).
  if (last_checked_ == index) last_checked_ = -1;
  else if (last_checked_ > index) --last_checked_;
  return remaining;
}

bool ListBoxControl::Clear() { return Send(LB_RESETCONTENT) != -1; }
intptr_t ListBoxControl::SelectString(const char* text, OptionalArg start) {
  return SendText(LB_SELECTSTRING, start.value_or(-1), text);
}
intptr_t ListBoxControl::SetSelected(int index, OptionalArg flag) {
  return Send(LB_SETSEL, flag.value_or(1), index);
}
intptr_t ListBoxControl::SelectRange(int first, int last, OptionalArg flag) {
  return Send(LB_SELITEMRANGE, flag.value_or(1), MAKELPARAM(first, last));
}
intptr_t ListBoxControl::FindPrefix(const char* text, OptionalArg start) const {
  return SendText(LB_FINDSTRING, start.value_or(-1), text);
}
intptr_t ListBoxControl::FindExact(const char* text, OptionalArg start) const {
  return SendText(LB_FINDSTRINGEXACT, start.value_or(-1), text);
}
intptr_t ListBoxControl::CurrentIndex() const { return Send(LB_GETCURSEL); }
intptr_t ListBoxControl::SetCurrent(int index) { return Send(LB_SETCURSEL, index); }
intptr_t ListBoxControl::Count() const { return Send(LB_GETCOUNT); }
intptr_t ListBoxControl::ItemData(int index) const { return Send(LB_GETITEMDATA, index); }
bool ListBoxControl::SetItemData(int index, intptr_t data) {
  return Send(LB_SETITEMDATA, index, data) != -1;
}
intptr_t ListBoxControl::IsSelected(int index) const { return Send(LB_GETSEL, index); }
intptr_t ListBoxControl::SelectedCount() const { return Send(LB_GETSELCOUNT); }
intptr_t ListBoxControl::SelectedIndexes(std::vector<int>* indexes) const {
  const LRESULT n = Send(LB_GETSELCOUNT);
  if (n == LB_ERR) return -1;
  if (n <= 0) return 0;
  indexes->assign(static_cast<size_t>(n), 0);
  return Send(LB_GETSELITEMS, n, reinterpret_cast<LPARAM>(indexes->data()));
}
Text ListBoxControl::ItemText(int index) const {
  return ReceiveText(LB_GETTEXTLEN, LB_GETTEXT, static_cast<WPARAM>(index));
}
intptr_t ListBoxControl::TopIndex() const { return Send(LB_GETTOPINDEX); }
intptr_t ListBoxControl::SetTopIndex(int index) { return Send(LB_SETTOPINDEX, index); }
intptr_t ListBoxControl::CaretIndex() const { return Send(LB_GETCARETINDEX); }
intptr_t ListBoxControl::SetCaretIndex(int index) { return Send(LB_SETCARETINDEX, index); }
intptr_t ListBoxControl::DefaultItemHeight() const { return Send(LB_GETITEMHEIGHT, static_cast<WPARAM>(-1)); }
RECT ListBoxControl::ItemRect(int index) const {
  RECT r{};
  Send(LB_GETITEMRECT, index, reinterpret_cast<LPARAM>(&r));
  return r;
}
intptr_t ListBoxControl::SetAllItemHeights(int height) {
  return Send(LB_SETITEMHEIGHT, static_cast<WPARAM>(-1), height);
}
intptr_t ListBoxControl::SetColumnWidth(int width) { return Send(LB_SETCOLUMNWIDTH, width); }
intptr_t ListBoxControl::ItemAtPoint(int x, int y) const {
  const LRESULT r = Send(LB_ITEMFROMPOINT, 0, MAKELPARAM(x, y));
  // A set high word means the point lies outside every item.
  return r > 0xFFFF ? -1 : r;
}
bool ListBoxControl::SetItemHeight(int index, int height) {
  return Send(LB_SETITEMHEIGHT, index, height) != -1;
}

intptr_t ListBoxControl::ShowCheckBoxes(OptionalArg flag) {
  if (flag.present) show_check_boxes_ = flag.value != 0;
  return show_check_boxes_;
}
intptr_t ListBoxControl::RadioMode(OptionalArg flag) {
  if (flag.present) radio_mode_ = flag.value != 0;
  return radio_mode_;
}
intptr_t ListBoxControl::HighlightTextColor(OptionalArg color) {
  if (color.present) highlight_text_color_ = static_cast<COLORREF>(color.value);
  return highlight_text_color_;
}
intptr_t ListBoxControl::HighlightColor(OptionalArg color) {
  if (color.present) highlight_color_ = static_cast<COLORREF>(color.value);
  return highlight_color_;
}

bool ListBoxControl::SetCheckImages(HBITMAP unchecked, HBITMAP checked) {
  // Each bitmap has one owner however the two states share them: one bitmap for both states
  // is owned once, and a bitmap of the old pair that the new pair keeps (in either state) is
  // not deleted. The old bitmaps go only after the new ones are held.
  OwnedBitmap old_unchecked(unchecked_image_.release());
  OwnedBitmap old_checked(checked_image_.release());
  for (OwnedBitmap* old : {&old_unchecked, &old_checked}) {
    if (old->get() == unchecked || old->get() == checked) old->release();
  }
  unchecked_image_.reset(unchecked);
  checked_image_.reset(checked != unchecked ? checked : nullptr);
  checked_shares_unchecked_ = checked && checked == unchecked;
  BITMAP info{};
  if (unchecked && GetObjectA(unchecked, sizeof(info), &info)) {
    check_width_ = info.bmWidth;
    check_height_ = info.bmHeight;
  }
  return unchecked && checked;
}

bool ListBoxControl::IsChecked(int index) const {
  return reinterpret_cast<intptr_t>(GetProperty(check_property_name(index).c_str())) == 1;
}

void ListBoxControl::SetStateProperty(int index, bool checked) {
  SetProperty(check_property_name(index).c_str(), reinterpret_cast<HANDLE>(checked ? 1 : 0));
}

void ListBoxControl::RedrawCheckBox(HDC dc, int index) {
  if (!show_check_boxes_) return;
  const RECT r = ItemRect(index);
  DrawCheckBox(dc, index, r);
}

void ListBoxControl::SetCheckState(int index, bool checked) {
  WindowDc dc(hwnd_);
  if (radio_mode_) {
    if (index == last_checked_) return;
    if (last_checked_ >= 0) {
      SetStateProperty(last_checked_, false);
      RedrawCheckBox(dc.get(), last_checked_);
    }
    SetStateProperty(index, true);
    RedrawCheckBox(dc.get(), index);
    last_checked_ = index;
  } else {
    SetStateProperty(index, checked);
    RedrawCheckBox(dc.get(), index);
  }
  check_changed_();
}

bool ListBoxControl::SetChecked(int index, bool checked) {
  if (index < 0 || index >= Count()) return false;
  SetCheckState(index, checked);
  return true;
}

void ListBoxControl::DrawCheckBox(HDC dc, int index, const RECT& item_rect) {
  const int item_height = item_rect.bottom - item_rect.top;
  RECT box;
  box.left = item_rect.left + 2;
  box.top = item_rect.top + (item_height - check_height_) / 2;
  box.right = box.left + check_width_;
  box.bottom = box.top + check_height_;
  const bool checked = IsChecked(index);
  const HBITMAP checked_image = checked_shares_unchecked_ ? unchecked_image_.get()
                                                          : checked_image_.get();
  if (!checked_image || !unchecked_image_) {
    UINT state = radio_mode_ ? DFCS_BUTTONRADIO : DFCS_BUTTONCHECK;
    if (checked) state |= DFCS_CHECKED;
    DrawFrameControl(dc, &box, DFC_BUTTON, state);
    return;
  }
  OwnedMemoryDc memory(CreateCompatibleDC(dc));
  SelectedObject selected(memory.get(), checked ? checked_image : unchecked_image_.get());
  BitBlt(dc, box.left, box.top, check_width_, check_height_, memory.get(), 0, 0, SRCCOPY);
}

void ListBoxControl::DrawItem(HDC dc, UINT, UINT state, int index, const RECT& rect) {
  const bool selected = (state & ODS_SELECTED) != 0;
  const COLORREF fill = selected ? highlight_color_ : background_color_;
  OwnedBrush brush(CreateSolidBrush(fill));
  FillRect(dc, &rect, brush.get());
  SetTextColor(dc, selected ? highlight_text_color_ : text_color_);
  SetBkColor(dc, fill);
  RECT text_rect = rect;
  if (show_check_boxes_) {
    DrawCheckBox(dc, index, rect);
    text_rect.left += check_width_ + 4;
  }
  const Text text = ItemText(index);
  RECT r = text_rect;
  const std::wstring wide = text_to_wide(text.c_str());
  DrawTextW(dc, wide.c_str(), -1, &r, DT_SINGLELINE | DT_VCENTER);
  if (state & ODS_FOCUS) DrawFocusRect(dc, &rect);
}

intptr_t ListBoxControl::OnReflectedDrawItem(WPARAM, DRAWITEMSTRUCT* item) {
  if (item->CtlType != ODT_LISTBOX || item->itemID == static_cast<UINT>(-1)) return 0;
  DrawItem(item->hDC, item->itemAction, item->itemState, static_cast<int>(item->itemID), item->rcItem);
  return 1;
}

intptr_t ListBoxControl::OnLeftButtonDown(HWND, LPARAM lparam) {
  const LRESULT hit = Send(LB_ITEMFROMPOINT, 0, lparam);
  if (hit > 0xFFFF || hit < 0) return 0;
  const int index = static_cast<int>(hit);
  const bool new_state = !IsChecked(index);
  // The selection is read before the list box moves it: the first click selects, a click on
  // the selected item toggles.
  if (toggle_on_any_click_ || CurrentIndex() == index) SetCheckState(index, new_state);
  return 0;
}

intptr_t ListBoxControl::OnLeftDoubleClick(HWND hwnd, LPARAM lparam) {
  return OnLeftButtonDown(hwnd, lparam);
}

intptr_t ListBoxControl::OnReflectedCommand(HWND, HWND, int code, int) {
  if (code == LBN_SELCHANGE) selection_changed_();
  else if (code == LBN_DBLCLK) double_clicked_();
  return 0;
}

// ---- LinkControl ---------------------------------------------------------------------------

LinkControl::LinkControl() {
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_LINK_CLASS};
  InitCommonControlsEx(&icc);
}
LinkControl::~LinkControl() { Destroy(); }
void LinkControl::Destroy() { Teardown(hwnd_); }

std::unique_ptr<Window> LinkControl::Copy() const {
  auto c = std::make_unique<LinkControl>();
  c->CopyWindowPartFrom(*this);
  c->clicked_ = clicked_;
  c->background_color_ = background_color_;
  return c;
}

bool LinkControl::Create(HWND parent, OptionalArg text, OptionalArg style, OptionalArg x,
                         OptionalArg y, OptionalArg width, OptionalArg height,
                         OptionalArg ex_style) {
  const int id = next_control_id();
  const DWORD s = kChildVisible | kTabStop | static_cast<DWORD>(style.value_or(LWS_TRANSPARENT));
  return CreateNative(parent, static_cast<DWORD>(ex_style.value_or(0)), "SysLink", text.text(), s,
                      static_cast<int>(x.value), static_cast<int>(y.value), as_int(width, 150),
                      as_int(height, 20), reinterpret_cast<HMENU>(static_cast<intptr_t>(id))) !=
         nullptr;
}

bool LinkControl::AttachItem(HWND dialog, int item_id) { return AttachDialogItem(dialog, item_id); }
bool LinkControl::Attach(HWND hwnd) { return AttachHandle(hwnd); }

intptr_t LinkControl::BackgroundColor(OptionalArg color, OptionalArg redraw) {
  if (!color.present) {
    LOGBRUSH lb{};
    if (background_brush_ && GetObjectA(background_brush_.get(), sizeof(lb), &lb)) return lb.lbColor;
    return 0;
  }
  background_color_ = static_cast<COLORREF>(color.value);
  background_brush_.reset(CreateSolidBrush(background_color_));
  if (hwnd_ && redraw.value_or(1) == 1) Invalidate();
  return 0;
}

void LinkControl::RepaintParentArea() {
  if (!(Style() & LWS_TRANSPARENT)) return;
  HWND parent = ::GetParent(hwnd_);
  const RECT r = RectInParent();
  InvalidateRect(parent, &r, TRUE);
  UpdateWindow(parent);
}

bool LinkControl::SetMarkup(const char* markup) {
  const bool ok = SetText(markup);
  RepaintParentArea();
  return ok;
}

bool LinkControl::SetLinkUrl(int index, const char* url) {
  auto item = std::make_unique<LITEM>();
  std::memset(item.get(), 0, sizeof(LITEM));
  item->mask = LIF_ITEMINDEX | LIF_URL;
  item->iLink = index;
  // At most what the record's URL field holds, always NUL-terminated.
  const std::wstring converted = text_to_wide(url);
  const size_t keep = std::min<size_t>(converted.size(), L_MAX_URL_LENGTH - 1);
  std::memcpy(item->szUrl, converted.data(), keep * sizeof(wchar_t));
  item->szUrl[keep] = L'\0';
  const bool ok = Send(LM_SETITEM, 0, reinterpret_cast<LPARAM>(item.get())) != 0;
  RepaintParentArea();
  return ok;
}

Text LinkControl::LinkUrl(int index) const {
  auto item = std::make_unique<LITEM>();
  std::memset(item.get(), 0, sizeof(LITEM));
  item->mask = LIF_ITEMINDEX | LIF_URL;
  item->iLink = index;
  if (!Send(LM_GETITEM, 0, reinterpret_cast<LPARAM>(item.get()))) return Text(EMPTY_TEXT);
  item->szUrl[L_MAX_URL_LENGTH - 1] = L'\0';
  if (!item->szUrl[0]) return Text(EMPTY_TEXT);
  return wide_to_text(item->szUrl);
}

intptr_t LinkControl::OnReflectedColor(HWND, HDC dc) {
  if (!background_brush_) return 0;
  SetBkColor(dc, background_color_);
  return reinterpret_cast<intptr_t>(background_brush_.get());
}

intptr_t LinkControl::OnEraseBackground(HWND, HDC dc) {
  if (!(Style() & LWS_TRANSPARENT)) return 0;
  HWND parent = ::GetParent(hwnd_);
  const RECT r = RectInParent();
  WindowDc parent_dc(parent);
  BitBlt(dc, 0, 0, r.right - r.left, r.bottom - r.top, parent_dc.get(), r.left, r.top, SRCCOPY);
  return 1;
}

intptr_t LinkControl::OnReflectedNotify(HWND, HWND, int code, intptr_t, LPARAM lparam) {
  if (code != kCodeClick || !clicked_) return 0;
  NMLINK link;
  std::memcpy(&link, reinterpret_cast<const void*>(lparam), sizeof(link));
  clicked_(link.item.iLink);
  return 1;
}

void LinkControl::ClassTeardown(HWND hwnd) {
  clicked_ = {};
  background_brush_.reset();
  background_color_ = 0;
  Window::ClassTeardown(hwnd);
}

}  // namespace tambrel::ui
