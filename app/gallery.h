// The template gallery: one catalogue page of four templates between a "上一页" and a "下一页"
// row, in an owner-drawn list box. The component hooks two window procedures: the main
// window's, to draw the rows itself, and the list box's, for clicks, hover and background.
// Each hook passes every message it does not answer to the procedure it replaced.
#pragma once

#include <windows.h>

namespace tambrel::app {

enum RowState : int { ROW_NORMAL = 0, ROW_HOVER = 1, ROW_SELECTED = 2 };

class Gallery {
 public:
  Gallery();  // starts GDI+ once for the process
  ~Gallery();
  Gallery(const Gallery&) = delete;
  Gallery& operator=(const Gallery&) = delete;

  void Hook(HWND parent, HWND list);
  // Draws one row straight into the list box, in the given state.
  void DrawRow(int row, RowState state);
  void DrawRowIn(int row, RowState state, const RECT& rect);

  int hoverRow = 0;  // the row under the pointer plus 1; 0 when none

 private:
  static LRESULT CALLBACK ParentProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK ListProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  void OnClick(LPARAM lparam);
  void OnHover(LPARAM row);
  void EraseBelowRows(HWND list, HDC dc);

  HWND parent_ = nullptr;
  HWND list_ = nullptr;
  WNDPROC parent_prev_ = nullptr;
  WNDPROC list_prev_ = nullptr;
};

}  // namespace tambrel::app
