// The picture box. See picture_box.h for the design.
#include "ui/picture_box.h"

#include "runtime/text.h"

#include <ocidl.h>
#include <olectl.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace tambrel::ui {

PictureBox::PictureBox() {
  font_.reset(static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)));
  background_color_ = GetSysColor(COLOR_BTNFACE);
}
PictureBox::~PictureBox() { Destroy(); }
void PictureBox::Destroy() { Teardown(hwnd_); }

std::unique_ptr<Window> PictureBox::Copy() const {
  auto c = std::make_unique<PictureBox>();
  c->CopyWindowPartFrom(*this);
  c->text_color_ = text_color_;
  c->text_background_ = text_background_;
  c->map_mode_ = map_mode_;
  c->rop_ = rop_;
  c->background_color_ = background_color_;
  c->background_mode_ = background_mode_;
  c->redraw_ = redraw_;
  return c;
}

// ---- contexts ------------------------------------------------------------------------------

void PictureBox::Select(Selection& s, HDC dc) {
  Release(s);
  if (!dc) return;
  s.dc = dc;
  if (pen_) s.old_pen = SelectObject(dc, pen_.get());
  if (brush_) s.old_brush = SelectObject(dc, brush_.get());
  if (font_) s.old_font = SelectObject(dc, font_.get());
  SetTextColor(dc, text_color_);
  if (text_background_ == static_cast<COLORREF>(-1)) {
    SetBkMode(dc, TRANSPARENT);
  } else {
    SetBkMode(dc, OPAQUE);
    SetBkColor(dc, text_background_);
  }
  SetMapMode(dc, map_mode_);
  SetStretchBltMode(dc, HALFTONE);
  if (rop_) SetROP2(dc, rop_);
}

void PictureBox::Release(Selection& s) {
  if (s.dc) {
    if (s.old_pen) SelectObject(s.dc, s.old_pen);
    if (s.old_brush) SelectObject(s.dc, s.old_brush);
    if (s.old_font) SelectObject(s.dc, s.old_font);
  }
  s = Selection{};
}

void PictureBox::MakeCurrent(HDC dc) { Select(current_, dc); }
void PictureBox::MakeSurfaceCurrent(HDC dc) { Select(surface_, dc); }

template <class F>
bool PictureBox::ForEachContext(F draw) {
  bool ok = false;
  if (current_.dc) ok = draw(current_.dc) != 0;
  if (surface_.dc) ok = (draw(surface_.dc) != 0) || (current_.dc && ok);
  return ok;
}

// ---- drawing -------------------------------------------------------------------------------

bool PictureBox::DrawPixel(int x, int y, COLORREF color) {
  return ForEachContext([&](HDC dc) { return SetPixel(dc, x, Y(y), color) != static_cast<COLORREF>(-1); });
}
bool PictureBox::LineTo(int x, int y) {
  return ForEachContext([&](HDC dc) { return ::LineTo(dc, x, Y(y)); });
}
bool PictureBox::Ellipse(int l, int t, int r, int b) {
  return ForEachContext([&](HDC dc) { return ::Ellipse(dc, l, Y(t), r, Y(b)); });
}
bool PictureBox::Arc(int l, int t, int r, int b, int x1, int y1, int x2, int y2) {
  return ForEachContext([&](HDC dc) { return ::Arc(dc, l, Y(t), r, Y(b), x1, Y(y1), x2, Y(y2)); });
}
bool PictureBox::Chord(int l, int t, int r, int b, int x1, int y1, int x2, int y2) {
  return ForEachContext([&](HDC dc) { return ::Chord(dc, l, Y(t), r, Y(b), x1, Y(y1), x2, Y(y2)); });
}
bool PictureBox::Pie(int l, int t, int r, int b, int x1, int y1, int x2, int y2) {
  return ForEachContext([&](HDC dc) { return ::Pie(dc, l, Y(t), r, Y(b), x1, Y(y1), x2, Y(y2)); });
}
bool PictureBox::Rectangle(int l, int t, int r, int b) {
  return ForEachContext([&](HDC dc) { return ::Rectangle(dc, l, Y(t), r, Y(b)); });
}
bool PictureBox::GradientFill(int l, int t, int r, int b, COLORREF from, COLORREF to, bool vertical) {
  TRIVERTEX v[2] = {
      {l, Y(t), static_cast<COLOR16>(GetRValue(from) << 8), static_cast<COLOR16>(GetGValue(from) << 8),
       static_cast<COLOR16>(GetBValue(from) << 8), 0},
      {r, Y(b), static_cast<COLOR16>(GetRValue(to) << 8), static_cast<COLOR16>(GetGValue(to) << 8),
       static_cast<COLOR16>(GetBValue(to) << 8), 0}};
  GRADIENT_RECT rect{0, 1};
  return ForEachContext([&](HDC dc) {
    return ::GdiGradientFill(dc, v, 2, &rect, 1, vertical ? GRADIENT_FILL_RECT_V : GRADIENT_FILL_RECT_H);
  });
}
bool PictureBox::FillArea(int l, int t, int r, int b) {
  const RECT area{l, Y(t), r, Y(b)};
  HBRUSH brush = brush_ ? brush_.get() : static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  return ForEachContext([&](HDC dc) { return ::FillRect(dc, &area, brush); });
}
bool PictureBox::RoundRect(int l, int t, int r, int b, int w, int h) {
  return ForEachContext([&](HDC dc) { return ::RoundRect(dc, l, Y(t), r, Y(b), w, h); });
}
bool PictureBox::Polygon(const std::vector<POINT>& points) {
  std::vector<POINT> p = points;
  for (auto& pt : p) pt.y = Y(pt.y);
  return ForEachContext([&](HDC dc) { return ::Polygon(dc, p.data(), static_cast<int>(p.size())); });
}
bool PictureBox::MoveTo(int x, int y) {
  return ForEachContext([&](HDC dc) { return MoveToEx(dc, x, Y(y), nullptr); });
}
POINT PictureBox::PenPosition() const {
  POINT p{};
  HDC dc = current_.dc ? current_.dc : surface_.dc;
  if (dc) GetCurrentPositionEx(dc, &p);
  p.y = Y(p.y);
  return p;
}
bool PictureBox::TextOutAt(const char* text) {
  const std::string t = text ? text : "";
  return ForEachContext([&](HDC dc) {
    POINT p{};
    GetCurrentPositionEx(dc, &p);
    const std::wstring w = text_to_wide(t.c_str());
    return ::TextOutW(dc, p.x, p.y, w.data(), static_cast<int>(w.size()));
  });
}
bool PictureBox::TextLines(const char* text) {
  const std::string t = text ? text : "";
  return ForEachContext([&](HDC dc) {
    POINT p{};
    GetCurrentPositionEx(dc, &p);
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    const int advance = (tm.tmHeight + tm.tmExternalLeading) * (map_mode_ == MM_TEXT ? 1 : -1);
    size_t start = 0;
    BOOL ok = TRUE;
    int y = p.y;
    while (start <= t.size()) {
      size_t end = t.find("\r\n", start);
      if (end == std::string::npos) end = t.size();
      const std::wstring line = text_to_wide(t.substr(start, end - start).c_str());
      ok = ::TextOutW(dc, p.x, y, line.data(), static_cast<int>(line.size())) && ok;
      y += advance;
      start = end + 2;
    }
    return ok;
  });
}
int PictureBox::DrawTextIn(const char* text, const RECT& area, UINT format) {
  int height = 0;
  ForEachContext([&](HDC dc) {
    RECT r{area.left, Y(area.top), area.right, Y(area.bottom)};
    height = ::DrawTextW(dc, text_to_wide(text).c_str(), -1, &r, format);
    return height;
  });
  return height;
}
bool PictureBox::TextList(const std::vector<const char*>& texts) {
  std::string joined;
  for (size_t i = 0; i < texts.size(); ++i) {
    if (i) joined += "\r\n";
    joined += texts[i] ? texts[i] : "";
  }
  return TextLines(joined.c_str());
}
int PictureBox::TextWidth(const char* text) const {
  HDC dc = current_.dc ? current_.dc : surface_.dc;
  SIZE s{};
  const std::wstring w = text_to_wide(text);
  if (dc && text) GetTextExtentPoint32W(dc, w.c_str(), static_cast<int>(w.size()), &s);
  return s.cx;
}
int PictureBox::TextHeight(const char* text) const {
  HDC dc = current_.dc ? current_.dc : surface_.dc;
  SIZE s{};
  const std::wstring w = text_to_wide(text);
  if (dc && text) GetTextExtentPoint32W(dc, w.c_str(), static_cast<int>(w.size()), &s);
  return s.cy;
}

bool PictureBox::DrawBitmap(HBITMAP bitmap, int x, int y, OptionalArg width, OptionalArg height) {
  const int bw = BitmapWidth(bitmap), bh = BitmapHeight(bitmap);
  if (!bw || !bh) return false;
  return ForEachContext([&](HDC dc) {
    OwnedMemoryDc memory(CreateCompatibleDC(dc));
    SelectedObject selected(memory.get(), bitmap);
    if (!width.present && !height.present) {
      return BitBlt(dc, x, Y(y), bw, bh, memory.get(), 0, 0, SRCCOPY);
    }
    return StretchBlt(dc, x, Y(y), static_cast<int>(width.value_or(bw)),
                      static_cast<int>(height.value_or(bh)), memory.get(), 0, 0, bw, bh, SRCCOPY);
  });
}
int PictureBox::BitmapWidth(HBITMAP bitmap) {
  BITMAP b{};
  return bitmap && GetObjectA(bitmap, sizeof(b), &b) ? b.bmWidth : 0;
}
int PictureBox::BitmapHeight(HBITMAP bitmap) {
  BITMAP b{};
  return bitmap && GetObjectA(bitmap, sizeof(b), &b) ? b.bmHeight : 0;
}

bool PictureBox::SetBrush(int style, COLORREF color, int hatch) {
  LOGBRUSH lb{static_cast<UINT>(style), color, static_cast<ULONG_PTR>(hatch)};
  OwnedBrush fresh(CreateBrushIndirect(&lb));
  if (!fresh) return false;
  // Put the old brush out of both contexts before it is deleted.
  HDC cur = current_.dc, sur = surface_.dc;
  Release(current_);
  Release(surface_);
  brush_ = std::move(fresh);
  Select(current_, cur);
  Select(surface_, sur);
  return true;
}

bool PictureBox::SetPen(int style, int width, COLORREF color) {
  OwnedPen fresh(CreatePen(style, width, color));
  if (!fresh) return false;
  HDC cur = current_.dc, sur = surface_.dc;
  Release(current_);
  Release(surface_);
  pen_ = std::move(fresh);
  Select(current_, cur);
  Select(surface_, sur);
  return true;
}

void PictureBox::SetFont(HFONT font) {
  HDC cur = current_.dc, sur = surface_.dc;
  Release(current_);
  Release(surface_);
  font_.reset(font);
  Select(current_, cur);
  Select(surface_, sur);
}
HFONT PictureBox::GetFont() const { return font_.get(); }

intptr_t PictureBox::TextColor(OptionalArg color) {
  if (!color.present) return text_color_;
  text_color_ = static_cast<COLORREF>(color.value);
  for (HDC dc : {current_.dc, surface_.dc}) {
    if (dc) SetTextColor(dc, text_color_);
  }
  return 0;
}

intptr_t PictureBox::TextBackground(OptionalArg color) {
  if (!color.present) return text_background_;
  text_background_ = static_cast<COLORREF>(color.value);
  for (HDC dc : {current_.dc, surface_.dc}) {
    if (!dc) continue;
    if (text_background_ == static_cast<COLORREF>(-1)) {
      SetBkMode(dc, TRANSPARENT);
    } else {
      SetBkMode(dc, OPAQUE);
      SetBkColor(dc, text_background_);
    }
  }
  return 0;
}

intptr_t PictureBox::MapMode(OptionalArg mode) {
  if (!mode.present) return map_mode_;
  map_mode_ = static_cast<int>(mode.value);
  for (HDC dc : {current_.dc, surface_.dc}) {
    if (dc) SetMapMode(dc, map_mode_);
  }
  return 0;
}

int PictureBox::ConvertUnits(int number, int kind) const {
  if (!current_.dc || map_mode_ == MM_TEXT) return number;
  int factor = 0;
  switch (map_mode_) {
    case MM_LOMETRIC: factor = 339; break;
    case MM_HIMETRIC: factor = 3387; break;
    case MM_LOENGLISH: factor = 133; break;
    case MM_HIENGLISH: factor = 1333; break;
    case MM_TWIPS: factor = 1920; break;
    default: factor = 0; break;
  }
  const int px = GetDeviceCaps(current_.dc, LOGPIXELSX);
  const int py = GetDeviceCaps(current_.dc, LOGPIXELSY);
  switch (kind) {
    case 1: return MulDiv(number, px, factor);
    case 2: return MulDiv(number, py, factor);
    case 3: return MulDiv(number, factor, px);
    case 4: return MulDiv(number, factor, py);
    default: return number;
  }
}

intptr_t PictureBox::RasterOperation(OptionalArg rop) {
  if (!rop.present) return rop_;
  rop_ = static_cast<int>(rop.value);
  for (HDC dc : {current_.dc, surface_.dc}) {
    if (dc && rop_) SetROP2(dc, rop_);
  }
  return 0;
}

bool PictureBox::InvertArea(int l, int t, int r, int b) {
  const RECT area{l, Y(t), r, Y(b)};
  return ForEachContext([&](HDC dc) { return ::InvertRect(dc, &area); });
}

bool PictureBox::ClipTo(OptionalArg left, OptionalArg top, OptionalArg right, OptionalArg bottom) {
  const RECT client = ClientRect();
  OwnedRegion region(CreateRectRgn(static_cast<int>(left.value_or(client.left)),
                                   static_cast<int>(top.value_or(client.top)),
                                   static_cast<int>(right.value_or(client.right)),
                                   static_cast<int>(bottom.value_or(client.bottom))));
  return ForEachContext([&](HDC dc) { return SelectClipRgn(dc, region.get()) != ERROR; });
}

COLORREF PictureBox::PixelAt(int x, int y) const {
  HDC dc = surface_.dc ? surface_.dc : current_.dc;
  return dc ? GetPixel(dc, x, Y(y)) : CLR_INVALID;
}

HBITMAP PictureBox::CopyClient(OptionalArg width, OptionalArg height) const {
  const RECT client = ClientRect();
  const int w = static_cast<int>(width.value_or(client.right));
  const int h = static_cast<int>(height.value_or(client.bottom));
  HDC source = surface_memory_ ? surface_memory_.get() : window_dc_.get();
  if (!source || w <= 0 || h <= 0) return nullptr;
  HBITMAP bitmap = CreateCompatibleBitmap(window_dc_.get(), w, h);
  OwnedMemoryDc memory(CreateCompatibleDC(window_dc_.get()));
  SelectedObject selected(memory.get(), bitmap);
  BitBlt(memory.get(), 0, 0, w, h, source, 0, 0, SRCCOPY);
  return bitmap;
}

int PictureBox::ClientWidth() const { return ClientRect().right; }
int PictureBox::ClientHeight() const { return ClientRect().bottom; }

std::vector<uint32_t> PictureBox::BitmapPixels(HBITMAP bitmap) const {
  const int w = BitmapWidth(bitmap), h = BitmapHeight(bitmap);
  std::vector<uint32_t> pixels;
  if (!w || !h) return pixels;
  pixels.resize(static_cast<size_t>(w) * h);
  BITMAPINFO bi{};
  bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  HDC screen = GetDC(nullptr);
  if (GetDIBits(screen, bitmap, 0, h, pixels.data(), &bi, DIB_RGB_COLORS) != h) pixels.clear();
  ReleaseDC(nullptr, screen);
  return pixels;
}

// ---- background and surface ----------------------------------------------------------------

void PictureBox::PaintBackground(HDC dc, const RECT& area) {
  if (background_brush_) FillRect(dc, &area, background_brush_.get());
  if (!background_picture_ || background_mode_ == PICTURE_NONE) return;
  const int bw = BitmapWidth(background_picture_.get()), bh = BitmapHeight(background_picture_.get());
  OwnedMemoryDc memory(CreateCompatibleDC(dc));
  SelectedObject selected(memory.get(), background_picture_.get());
  const int w = area.right - area.left, h = area.bottom - area.top;
  if (background_mode_ == PICTURE_TOP_LEFT) {
    BitBlt(dc, 0, 0, w, h, memory.get(), 0, 0, SRCCOPY);
  } else if (background_mode_ == PICTURE_STRETCHED) {
    SetStretchBltMode(dc, HALFTONE);
    StretchBlt(dc, area.left, area.top, w, h, memory.get(), 0, 0, bw, bh, SRCCOPY);
  }
}

void PictureBox::DestroySurface() {
  Release(surface_);
  if (surface_memory_ && surface_old_bitmap_) SelectObject(surface_memory_.get(), surface_old_bitmap_);
  surface_old_bitmap_ = nullptr;
  surface_memory_.reset();
  surface_bitmap_.reset();
}

bool PictureBox::CreateSurface() {
  HDC base = window_dc_.get();
  OwnedMemoryDc memory(CreateCompatibleDC(base));
  if (!memory) return false;
  const RECT client = ClientRect();
  const int w = std::max<int>(client.right, 1), h = std::max<int>(client.bottom, 1);
  BITMAPINFO bi{};
  bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  OwnedBitmap bitmap(CreateDIBSection(base, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!bitmap) return false;
  HGDIOBJ old_bitmap = SelectObject(memory.get(), bitmap.get());
  const RECT area{0, 0, w, h};
  PaintBackground(memory.get(), area);

  const bool keep = !(background_picture_ && background_mode_ == PICTURE_STRETCHED);
  if (keep && surface_memory_) {
    // Top-left anchored: only what both surfaces share is carried over, so newly exposed
    // areas keep the background just painted.
    RECT old_size{0, 0, 0, 0};
    BITMAP info{};
    if (GetObjectA(surface_bitmap_.get(), sizeof(info), &info)) {
      old_size.right = info.bmWidth;
      old_size.bottom = info.bmHeight;
    }
    const int saved_mode = SetMapMode(surface_memory_.get(), MM_TEXT);
    BitBlt(memory.get(), 0, 0, std::min<int>(w, old_size.right), std::min<int>(h, old_size.bottom),
           surface_memory_.get(), 0, 0, SRCCOPY);
    SetMapMode(surface_memory_.get(), saved_mode);
  }
  DestroySurface();
  surface_memory_ = std::move(memory);
  surface_bitmap_ = std::move(bitmap);
  surface_old_bitmap_ = old_bitmap;
  MakeSurfaceCurrent(surface_memory_.get());
  return true;
}

intptr_t PictureBox::PersistentSurface(OptionalArg flag) {
  if (!flag.present) return persistent_;
  if (flag.value) {
    persistent_ = true;
    return CreateSurface();
  }
  persistent_ = false;
  DestroySurface();
  return 1;
}

intptr_t PictureBox::BackgroundColor(OptionalArg color) {
  if (!color.present) return background_color_;
  background_color_ = static_cast<COLORREF>(color.value);
  background_brush_.reset(CreateSolidBrush(background_color_));
  if (persistent_ && hwnd_) CreateSurface();
  if (hwnd_) Invalidate(1);
  return background_color_;
}

bool PictureBox::BackgroundPictureFromBitmap(HBITMAP bitmap, int mode) {
  background_picture_.reset(bitmap);
  background_mode_ = mode;
  if (persistent_ && hwnd_) CreateSurface();
  if (hwnd_) Invalidate(1);
  return bitmap != nullptr;
}

bool PictureBox::BackgroundPictureFromBytes(const Bytes& picture, int mode) {
  if (picture.empty()) return false;
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, picture.size());
  if (!memory) return false;
  void* locked = GlobalLock(memory);
  if (!locked) {
    GlobalFree(memory);
    return false;
  }
  std::memcpy(locked, picture.data(), picture.size());
  GlobalUnlock(memory);
  IStream* stream = nullptr;
  if (FAILED(CreateStreamOnHGlobal(memory, TRUE, &stream))) {
    GlobalFree(memory);
    return false;
  }
  IPicture* decoded = nullptr;
  HRESULT hr = OleLoadPicture(stream, static_cast<LONG>(picture.size()), FALSE, IID_IPicture,
                              reinterpret_cast<void**>(&decoded));
  stream->Release();
  if (FAILED(hr) || !decoded) return false;
  OLE_HANDLE handle = 0;
  short type = 0;
  HBITMAP copy = nullptr;
  if (SUCCEEDED(decoded->get_Type(&type)) && type == PICTYPE_BITMAP &&
      SUCCEEDED(decoded->get_Handle(&handle))) {
    // The picture object owns its bitmap; the picture box keeps a copy of its own.
    copy = static_cast<HBITMAP>(CopyImage(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(handle)),
                                          IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  }
  decoded->Release();
  return copy && BackgroundPictureFromBitmap(copy, mode);
}

// ---- hooks ---------------------------------------------------------------------------------

intptr_t PictureBox::OnPaint(HWND hwnd) {
  if (persistent_ && surface_memory_) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    const int saved = SetMapMode(surface_memory_.get(), MM_TEXT);
    BitBlt(dc, 0, 0, ClientWidth(), ClientHeight(), surface_memory_.get(), 0, 0, SRCCOPY);
    SetMapMode(surface_memory_.get(), saved);
    EndPaint(hwnd, &ps);
    return 1;
  }
  if (redraw_) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    MakeCurrent(dc);
    redraw_(ps.rcPaint.left, ps.rcPaint.top, ps.rcPaint.right, ps.rcPaint.bottom);
    MakeCurrent(nullptr);
    EndPaint(hwnd, &ps);
  }
  return 0;
}

intptr_t PictureBox::OnEraseBackground(HWND hwnd, HDC dc) {
  if (!persistent_) {
    RECT r{};
    GetClientRect(hwnd, &r);
    PaintBackground(dc, r);
  }
  return 1;
}

intptr_t PictureBox::OnSizeChanged(int, int) {
  if (persistent_ && window_dc_.get()) CreateSurface();
  return 0;
}

void PictureBox::ClassTeardown(HWND hwnd) {
  Release(current_);
  DestroySurface();
  background_brush_.reset();
  background_picture_.reset();
  window_dc_.reset();
  redraw_ = {};
  background_color_ = 0;
  persistent_ = false;
  Window::ClassTeardown(hwnd);
}

// ---- creation ------------------------------------------------------------------------------

bool PictureBox::SetUp() {
  window_dc_ = WindowDc(hwnd_);
  MakeCurrent(window_dc_.get());
  MapMode(MM_TEXT);
  background_color_ = GetSysColor(COLOR_BTNFACE);
  background_brush_.reset(CreateSolidBrush(background_color_));
  if (!font_) font_.reset(static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)));
  return window_dc_.get() != nullptr;
}

bool PictureBox::Create(HWND parent, OptionalArg x, OptionalArg y, OptionalArg width,
                        OptionalArg height, OptionalArg style, OptionalArg ex_style) {
  RegisterFrameworkClass(kPictureBoxClass);
  const int id = next_control_id();
  if (!CreateNative(parent, static_cast<DWORD>(ex_style.value), kPictureBoxClass, kPictureBoxClass,
                    WS_CHILD | WS_VISIBLE | static_cast<DWORD>(style.value),
                    static_cast<int>(x.value), static_cast<int>(y.value),
                    static_cast<int>(width.value_or(200)), static_cast<int>(height.value_or(100)),
                    reinterpret_cast<HMENU>(static_cast<intptr_t>(id)))) {
    return false;
  }
  return SetUp();
}

bool PictureBox::AttachItem(HWND dialog, int item_id) {
  if (!AttachDialogItem(dialog, item_id)) return false;
  return SetUp();
}

}  // namespace tambrel::ui
