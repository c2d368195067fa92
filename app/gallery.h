// The template gallery: one catalogue page of four templates between a "上一页" and a "下一页"
// row, in an owner-drawn list box. The component hooks two window procedures: the main
// window's, to draw the rows itself, and the list box's, for clicks, hover and background.
// Each hook passes every message it does not answer to the procedure it replaced.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>

#include "picture/bitmap_picture.h"
#include "picture/font_family.h"
#include "picture/picture.h"
#include "runtime/values.h"

namespace tambrel::app {

enum RowState : int { ROW_NORMAL = 0, ROW_HOVER = 1, ROW_SELECTED = 2 };
// The state a row of the shown page is in: selected, under the pointer, or neither.
RowState rowStateOf(int row);

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

  // The row picture decoded and scaled onto its white 72 x 72 square, or null when it is empty
  // or does not decode. Decoding a picture file on every repaint costs more than the rest of the
  // row together, so the result is kept per thumbnail file for as long as the bytes are the
  // same (a generated stamp replaces them).
  const BitmapPicture* ScaledPicture(const char* thumbnailFile, const Bytes& image);
  // The row picture decoded (for the preview), or null when it is empty or does not decode.
  const Picture* DecodedPicture(const char* thumbnailFile, const Bytes& image);
  // Row pictures are made at the layout DPI: after a change of DPI they are made again.
  void ForgetScaledPictures();
  // The family the rows are drawn in: "微软雅黑", or the face the system maps that name to.
  const FontFamily& RowFamily();

 private:
  static LRESULT CALLBACK ParentProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK ListProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  void OnClick(LPARAM lparam);
  void OnHover(LPARAM row);
  void EraseBelowRows(HWND list, HDC dc);

  struct ScaledEntry {
    Bytes source;
    std::unique_ptr<Picture> decoded;       // null: the bytes do not decode
    std::unique_ptr<BitmapPicture> scaled;  // made on first use
  };
  ScaledEntry* Entry(const char* thumbnailFile, const Bytes& image);
  std::map<std::string, ScaledEntry> scaled_;
  FontFamily row_family_;

  HWND parent_ = nullptr;
  HWND list_ = nullptr;
  WNDPROC parent_prev_ = nullptr;
  WNDPROC list_prev_ = nullptr;
};

}  // namespace tambrel::app
