// The standard child controls over the system's control classes: label, edit box, button,
// group box, combo box, list box with an owner-drawn check list, and link label.
//
// Each control takes its identifier from the shared control counter, applies its colours after
// creation and raises its events from the notifications its parent reflects to it (WM_COMMAND
// to OnReflectedCommand, WM_NOTIFY to OnReflectedNotify). Control events take no arguments
// (the link click takes the link index), their results are ignored and the notification goes
// on to the parent, except a bound link click, which answers NM_CLICK with 1.
//
// Check states of the check list are window properties "IsSelect<index>" of the list box, so
// they live and die with its window; deleting an item moves the states after it down by one.
#pragma once

#include <windows.h>
// after windows.h, which it needs
#include <commctrl.h>

#include <vector>

#include "ui/window.h"

namespace tambrel::ui {

constexpr COLORREF kTransparent = static_cast<COLORREF>(-1);

// Colours shared by label, edit box, button, group box, combo box and list box.
class Control : public Window {
 public:
  ~Control() override;
  void Destroy() override;

  HWND CreateControl(HWND parent, DWORD ex_style, const char* class_name, const char* text,
                     DWORD style, int x, int y, int width, int height, int id);
  virtual intptr_t TextColor(OptionalArg color = {}, OptionalArg redraw = {});
  // kTransparent (-1) shows the parent through the control.
  virtual intptr_t BackgroundColor(OptionalArg color = {}, OptionalArg redraw = {});
  virtual void ClearRoutines() {}

  intptr_t OnReflectedColor(HWND control, HDC dc) override;
  void ClassTeardown(HWND hwnd) override;

 protected:
  void CopyControlPartFrom(const Control& other);
  // Paints the parent's pixels under this control into dc (transparent backgrounds).
  void CopyParentPixels(HDC dc) const;

  COLORREF text_color_ = 0;
  COLORREF background_color_ = 0;
  OwnedBrush background_brush_;
};

class LabelControl : public Control {
 public:
  ~LabelControl() override;
  std::unique_ptr<Window> Copy() const override;
  // text "标签", style SS_CENTERIMAGE, 80 × 24; background = button face.
  bool Create(HWND parent, OptionalArg text = {}, OptionalArg style = {}, OptionalArg x = {},
              OptionalArg y = {}, OptionalArg width = {}, OptionalArg height = {},
              OptionalArg ex_style = {});
  bool AttachItem(HWND dialog, int item_id);
  bool Attach(HWND hwnd);
  // Get the text, or set it; a transparent label repaints its parent's area first.
  Text GetLabel() const { return GetText(); }
  bool SetLabel(const char* text);

 private:
  void AfterCreate();
};

class EditControl : public Control {
 public:
  ~EditControl() override;
  std::unique_ptr<Window> Copy() const override;
  // style ES_AUTOHSCROLL, 80 × 20, extended style WS_EX_CLIENTEDGE; background white.
  bool Create(HWND parent, OptionalArg text = {}, OptionalArg style = {}, OptionalArg x = {},
              OptionalArg y = {}, OptionalArg width = {}, OptionalArg height = {},
              OptionalArg ex_style = {});
  bool AttachItem(HWND dialog, int item_id);
  bool Attach(HWND hwnd);
  void Select(int start, OptionalArg end = {});
  void GetSelection(DWORD* start, DWORD* end) const;
  void AppendText(const char* text);
  void ReplaceSelection(const char* text);
  intptr_t TextLimit(OptionalArg limit = {});
  Text PasswordChar() const;
  void SetPasswordChar(const char* text);
  bool ReadOnly(OptionalArg flag = {});
  RECT FormattingRect() const;
  void SetFormattingRect(const RECT& r);
  EventRoutine BindTextChanged(EventRoutine r) { return text_changed_ = r; }

  void ClearRoutines() override { text_changed_ = {}; }
  intptr_t OnReflectedCommand(HWND parent, HWND control, int code, int id) override;

 private:
  void AfterCreate();
  EventRoutine text_changed_;
};

class ButtonControl : public Control {
 public:
  ~ButtonControl() override;
  std::unique_ptr<Window> Copy() const override;
  // text "按钮", 80 × 32; an explicit identifier still advances the control counter.
  bool Create(HWND parent, OptionalArg text = {}, OptionalArg id = {}, OptionalArg style = {},
              OptionalArg x = {}, OptionalArg y = {}, OptionalArg width = {},
              OptionalArg height = {}, OptionalArg ex_style = {});
  bool AttachItem(HWND dialog, int item_id);
  bool Attach(HWND hwnd);
  void Press();
  // Owns the image from now on (the previous one of that kind is released).
  HANDLE SetImage(HANDLE image, bool is_icon);
  HANDLE GetImage(bool is_icon) const;
  EventRoutine BindClicked(EventRoutine r) { return clicked_ = r; }

  void ClearRoutines() override { clicked_ = {}; }
  intptr_t OnReflectedCommand(HWND parent, HWND control, int code, int id) override;
  void ClassTeardown(HWND hwnd) override;

 private:
  EventRoutine clicked_;
  OwnedBitmap bitmap_;
  OwnedIcon icon_;
};

class GroupBoxControl : public Control {
 public:
  ~GroupBoxControl() override;
  std::unique_ptr<Window> Copy() const override;
  // text "分组框", 120 × 100; background = button face.
  bool Create(HWND parent, OptionalArg text = {}, OptionalArg style = {}, OptionalArg x = {},
              OptionalArg y = {}, OptionalArg width = {}, OptionalArg height = {},
              OptionalArg ex_style = {});
  bool AttachItem(HWND dialog, int item_id);
  bool Attach(HWND hwnd);

  intptr_t TextColor(OptionalArg color = {}, OptionalArg redraw = {}) override;
  intptr_t BackgroundColor(OptionalArg color = {}, OptionalArg redraw = {}) override;
  void ClearRoutines() override;
  intptr_t OnReflectedColor(HWND control, HDC dc) override;
  intptr_t OnEraseBackground(HWND hwnd, HDC dc) override;

 private:
  void AfterCreate();
  COLORREF group_text_color_ = 0;
  COLORREF group_background_color_ = 0;
  OwnedBrush group_brush_;
};

class ComboBoxControl : public Control {
 public:
  ~ComboBoxControl() override;
  std::unique_ptr<Window> Copy() const override;
  // style CBS_DROPDOWN, 100 × 110 (the dropped-down height); background white.
  bool Create(HWND parent, OptionalArg style = {}, OptionalArg x = {}, OptionalArg y = {},
              OptionalArg width = {}, OptionalArg height = {}, OptionalArg ex_style = {});
  bool AttachItem(HWND dialog, int item_id);
  bool Attach(HWND hwnd);
  intptr_t AddItem(const char* text, intptr_t data = 0);
  intptr_t InsertItem(int index, const char* text, intptr_t data = 0);
  intptr_t LimitText(int limit);
  Text ItemText(int index) const;
  intptr_t SelectByPrefix(const char* text, OptionalArg start = {});
  intptr_t Count() const;
  intptr_t CurrentIndex() const;
  bool SetCurrent(int index);
  intptr_t ItemData(int index) const;
  intptr_t SetItemData(int index, intptr_t data);
  intptr_t DeleteItem(int index);
  void Clear();
  intptr_t ShowDropDown(OptionalArg show = {});
  intptr_t FindPrefix(const char* text, OptionalArg start = {}) const;
  intptr_t FindExact(const char* text, OptionalArg start = {}) const;
  RECT DroppedRect() const;
  bool DroppedState() const;
  intptr_t DroppedWidth() const;
  intptr_t SetDroppedWidth(int width);
  intptr_t ItemHeight(int index = 0) const;
  intptr_t SetItemHeight(int index, int height);
  intptr_t SetEditSelection(int start, int end);
  void GetEditSelection(DWORD* start, DWORD* end) const;
  intptr_t TopIndex() const;
  intptr_t SetTopIndex(int index);
  intptr_t Directory(OptionalArg attributes, const char* folder, const char* pattern);
  intptr_t ExtendedUi(OptionalArg flag = {});
  bool GetExtendedUi() const;

  EventRoutine BindSelectionChanged(EventRoutine r) { return routines_.selection_changed = r; }
  EventRoutine BindEditChanged(EventRoutine r) { return routines_.edit_changed = r; }
  EventRoutine BindDroppedDown(EventRoutine r) { return routines_.dropped_down = r; }
  EventRoutine BindClosedUp(EventRoutine r) { return routines_.closed_up = r; }
  EventRoutine BindDoubleClicked(EventRoutine r) { return routines_.double_clicked = r; }

  void ClearRoutines() override { routines_ = {}; }
  intptr_t OnReflectedCommand(HWND parent, HWND control, int code, int id) override;

 private:
  void AfterCreate();
  struct Routines {
    EventRoutine selection_changed, edit_changed, dropped_down, closed_up, double_clicked;
  } routines_;
};

class ListBoxControl : public Control {
 public:
  ListBoxControl();
  ~ListBoxControl() override;
  std::unique_ptr<Window> Copy() const override;
  // Owner-drawn check list, 100 × 125, extended style WS_EX_CLIENTEDGE; list defaults applied.
  bool Create(HWND parent, OptionalArg style = {}, OptionalArg x = {}, OptionalArg y = {},
              OptionalArg width = {}, OptionalArg height = {}, OptionalArg ex_style = {});
  bool AttachItem(HWND dialog, int item_id);
  bool Attach(HWND hwnd);
  intptr_t AddItem(const char* text, intptr_t data = 0);
  intptr_t InsertItem(const char* text, OptionalArg index = {}, intptr_t data = 0);
  // Deletes the item and moves the check states of the items after it down by one.
  intptr_t DeleteItem(int index);
  bool Clear();
  intptr_t SelectString(const char* text, OptionalArg start = {});
  intptr_t SetSelected(int index, OptionalArg flag = {});
  intptr_t SelectRange(int first, int last, OptionalArg flag = {});
  intptr_t FindPrefix(const char* text, OptionalArg start = {}) const;
  intptr_t FindExact(const char* text, OptionalArg start = {}) const;
  intptr_t CurrentIndex() const;
  intptr_t SetCurrent(int index);
  intptr_t Count() const;
  intptr_t ItemData(int index) const;
  bool SetItemData(int index, intptr_t data);
  intptr_t IsSelected(int index) const;
  intptr_t SelectedCount() const;
  // Fills indexes with the selected items; the count, -1 on error.
  intptr_t SelectedIndexes(std::vector<int>* indexes) const;
  Text ItemText(int index) const;
  intptr_t TopIndex() const;
  intptr_t SetTopIndex(int index);
  intptr_t CaretIndex() const;
  intptr_t SetCaretIndex(int index);
  intptr_t DefaultItemHeight() const;
  RECT ItemRect(int index) const;
  intptr_t SetAllItemHeights(int height);
  intptr_t SetColumnWidth(int width);
  // The item under a client point, -1 when none.
  intptr_t ItemAtPoint(int x, int y) const;
  EventRoutine BindSelectionChanged(EventRoutine r) { return selection_changed_ = r; }
  EventRoutine BindDoubleClicked(EventRoutine r) { return double_clicked_ = r; }

  void DrawItem(HDC dc, UINT action, UINT state, int index, const RECT& rect);
  // Sets the check state and redraws the check box; radio mode keeps one item checked.
  void SetCheckState(int index, bool checked);
  void DrawCheckBox(HDC dc, int index, const RECT& item_rect);
  void ApplyListDefaults();
  void ToggleOnAnyClick(bool flag) { toggle_on_any_click_ = flag; }
  intptr_t ShowCheckBoxes(OptionalArg flag = {});
  // Range-checked: 0 outside 0 <= index < count.
  bool SetChecked(int index, bool checked);
  intptr_t RadioMode(OptionalArg flag = {});
  bool IsChecked(int index) const;
  intptr_t HighlightTextColor(OptionalArg color = {});
  intptr_t HighlightColor(OptionalArg color = {});
  bool SetCheckImages(HBITMAP unchecked, HBITMAP checked);
  bool SetItemHeight(int index, int height);
  EventRoutine BindCheckChanged(EventRoutine r) { return check_changed_ = r; }

  int LastCheckedIndex() const { return last_checked_; }

  void ClearRoutines() override;
  intptr_t OnReflectedCommand(HWND parent, HWND control, int code, int id) override;
  intptr_t OnReflectedDrawItem(WPARAM id, DRAWITEMSTRUCT* item) override;
  intptr_t OnLeftButtonDown(HWND hwnd, LPARAM lparam) override;
  intptr_t OnLeftDoubleClick(HWND hwnd, LPARAM lparam) override;

 private:
  void ResetCheckListSettings();
  void SetStateProperty(int index, bool checked);
  void RedrawCheckBox(HDC dc, int index);

  EventRoutine selection_changed_, double_clicked_, check_changed_;
  bool radio_mode_ = false;
  COLORREF highlight_text_color_ = 0;
  COLORREF highlight_color_ = 0;
  bool show_check_boxes_ = true;
  bool toggle_on_any_click_ = false;
  int last_checked_ = -1;
  OwnedBitmap checked_image_;  // empty when the checked state shows the unchecked bitmap
  OwnedBitmap unchecked_image_;
  bool checked_shares_unchecked_ = false;
  int check_width_ = 13;
  int check_height_ = 13;
};

// "SysLink" label; derives from Window directly and keeps its own background.
class LinkControl : public Window {
 public:
  LinkControl();  // registers the link class with the common controls
  ~LinkControl() override;
  void Destroy() override;
  std::unique_ptr<Window> Copy() const override;
  // text = link markup, style LWS_TRANSPARENT, 150 × 20.
  bool Create(HWND parent, OptionalArg text = {}, OptionalArg style = {}, OptionalArg x = {},
              OptionalArg y = {}, OptionalArg width = {}, OptionalArg height = {},
              OptionalArg ex_style = {});
  bool AttachItem(HWND dialog, int item_id);
  bool Attach(HWND hwnd);
  intptr_t BackgroundColor(OptionalArg color = {}, OptionalArg redraw = {});
  Text GetMarkup() const { return GetText(); }
  bool SetMarkup(const char* markup);
  bool SetLinkUrl(int index, const char* url);
  // The URL of link index (GBK), "" when there is no such link.
  Text LinkUrl(int index) const;
  EventRoutine BindClicked(EventRoutine r) { return clicked_ = r; }

  intptr_t OnReflectedColor(HWND control, HDC dc) override;
  intptr_t OnEraseBackground(HWND hwnd, HDC dc) override;
  intptr_t OnReflectedNotify(HWND parent, HWND source, int code, intptr_t id, LPARAM lparam) override;
  void ClassTeardown(HWND hwnd) override;

 private:
  void RepaintParentArea();
  COLORREF background_color_ = 0;
  OwnedBrush background_brush_;
  EventRoutine clicked_;
};

}  // namespace tambrel::ui
