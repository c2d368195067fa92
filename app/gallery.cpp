// Gallery pages, thumbnail cache, row drawing and the preview.
#include "app/gallery.h"

#include <windows.h>

#include <optional>

#include "app/app.h"
#include "app/config.h"
#include "app/dpi.h"
#include "app/row_layout.h"
#include "app/wait.h"
#include "picture/argb.h"
#include "picture/bitmap_picture.h"
#include "picture/drawing_surface.h"
#include "picture/font.h"
#include "picture/font_collection.h"
#include "picture/font_family.h"
#include "picture/graphics_path.h"
#include "picture/linear_gradient_brush.h"
#include "picture/native_object.h"
#include "picture/pen.h"
#include "picture/picture.h"
#include "picture/solid_brush.h"
#include "picture/string_format.h"
#include "runtime/binding.h"
#include "runtime/files.h"
#include "runtime/interaction.h"
#include "runtime/text.h"
#include "web/web_request.h"

TAMBREL_BOUND(gallery_user32, "user32", CallWindowProcW)
TAMBREL_BOUND(gallery_user32, "user32", GetClientRect)
TAMBREL_BOUND(gallery_user32, "user32", SetWindowLongPtrW)

namespace tambrel::app {
namespace {

namespace u32 = gallery_user32;

constexpr int kRowCount = 6;
constexpr unsigned kPixelFormat32bppRGB = 0x22009;
constexpr int kTextRenderingClearTypeGridFit = 5;
constexpr int kInterpolationHighQualityBicubic = 7;
constexpr char kRowFont[] = "微软雅黑";

constexpr COLORREF rgb(int r, int g, int b) { return RGB(r, g, b); }

struct RowColours {
  bool background;
  ARGB from, to;
  bool outline;
  ARGB outline_colour;
  ARGB frame;
  ARGB title;
};

RowColours colours_for(RowState state) {
  switch (state) {
    case ROW_HOVER:
      return {true, ToArgb(rgb(242, 251, 255), 255), ToArgb(rgb(220, 243, 255), 255), true,
              ToArgb(rgb(0, 136, 255), 70), ToArgb(rgb(255, 255, 255), 50), ToArgb(0, 255)};
    case ROW_SELECTED:
      return {true, ToArgb(rgb(252, 234, 163), 155), ToArgb(rgb(251, 229, 145), 255), true,
              ToArgb(rgb(252, 193, 49), 255), ToArgb(rgb(170, 206, 198), 200), ToArgb(0, 255)};
    default:
      return {false, 0, 0, false, 0, ToArgb(rgb(255, 255, 255), 100), ToArgb(0, 230)};
  }
}

int selected_row() { return static_cast<int>(galleryList->CurrentIndex()); }

int shownPage = 0;  // the page the rows belong to; 0 before the first one

}  // namespace

bool isPicture(const Bytes& bytes) {
  if (bytes.empty()) return false;
  Picture picture;
  return picture.LoadFromBytes(bytes) && picture.ForceValidation() && picture.GetWidth() > 0 &&
         picture.GetHeight() > 0;
}

std::optional<ChosenTemplate> selectedTemplate() {
  const int row = selected_row();
  if (row < 1 || row > kRowCount - 2 || row >= static_cast<int>(galleryItems.size())) return std::nullopt;
  const GalleryItem& item = galleryItems[row + 1];
  if (item.id.empty()) return std::nullopt;
  return ChosenTemplate{row, Text(item.id.c_str()), Text(item.thumbnailFile.c_str()), shownPage};
}

int rowShowing(const char* templateId) {
  for (int row = 1; row < static_cast<int>(galleryItems.size()); ++row) {
    if (!galleryItems[row + 1].id.empty() && text_compare(galleryItems[row + 1].id.c_str(), templateId) == 0) {
      return row;
    }
  }
  return -1;
}

Text cachePath(const char* thumbnailFile) {
  Text folder = program_folder();
  return text_concat({folder.c_str(), "\\tmp\\", thumbnailFile});
}

bool makeCacheFolder() {
  Text folder = text_concat({program_folder().c_str(), "\\tmp"});
  if (file_exists(folder.c_str())) return true;
  Text with_slash = text_concat({folder.c_str(), "\\"});
  create_folder(with_slash.c_str());
  return file_exists(folder.c_str());
}

// ---- the component --------------------------------------------------------------------------

Gallery::Gallery() { StartGdiPlus(); }

Gallery::~Gallery() {
  // Put the replaced procedures back while the windows still exist.
  if (list_ && IsWindow(list_) && list_prev_) u32::SetWindowLongPtrW(list_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(list_prev_));
  if (parent_ && IsWindow(parent_) && parent_prev_) {
    u32::SetWindowLongPtrW(parent_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(parent_prev_));
  }
}

void Gallery::Hook(HWND parent, HWND list) {
  parent_ = parent;
  list_ = list;
  parent_prev_ = reinterpret_cast<WNDPROC>(
      u32::SetWindowLongPtrW(parent, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ParentProc)));
  list_prev_ = reinterpret_cast<WNDPROC>(
      u32::SetWindowLongPtrW(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ListProc)));
}

LRESULT CALLBACK Gallery::ParentProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  Gallery& g = *gallery;
  if (showingBusyCursor()) {
    switch (message) {
      case WM_SETCURSOR:
        // Asked by the window under the pointer, the disabled main window included.
        SetCursor(LoadCursorA(nullptr, IDC_WAIT));
        return TRUE;
      case WM_KEYDOWN:
      case WM_KEYUP:
      case WM_CHAR:
      case WM_SYSKEYDOWN:
      case WM_SYSKEYUP:
      case WM_SYSCHAR:
        // With the focus taken away, keystrokes come to the active window, and its default
        // handling would open the system menu or close the window in the middle of a request.
        return 0;
      case WM_SYSCOMMAND:
        // Closing or minimising from the taskbar is done once the wait is over; nothing else.
        putOffSystemCommand(wparam);
        return 0;
    }
  }
  if (message == WM_DPICHANGED) {
    // Moved to a monitor of another resolution: laid out again for it.
    onDpiChanged(HIWORD(wparam), reinterpret_cast<const RECT*>(lparam));
    return 0;
  }
  if (message == WM_DRAWITEM) {
    auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(lparam);
    if (item->CtlType == ODT_LISTBOX && item->hwndItem == g.list_) {
      const int row = static_cast<int>(item->itemID);
      if (row >= 0 && row < static_cast<int>(galleryItems.size())) {
        RowState state = ROW_NORMAL;
        if (item->itemState & ODS_SELECTED) {
          state = ROW_SELECTED;
        } else if (row == g.hoverRow - 1) {
          state = ROW_HOVER;
        }
        g.DrawRowIn(row, state, item->rcItem);
      }
    }
    return 0;
  }
  return u32::CallWindowProcW(g.parent_prev_, hwnd, message, wparam, lparam);
}

LRESULT CALLBACK Gallery::ListProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  Gallery& g = *gallery;
  WNDPROC prev = g.list_prev_;
  switch (message) {
    case WM_LBUTTONDOWN:
    case WM_RBUTTONUP:
      return 0;  // the list box never changes the selection by itself
    case WM_LBUTTONDBLCLK:
      return 0;
    case WM_LBUTTONUP:
      if (!waiting()) g.OnClick(lparam);
      break;
    case WM_MOUSEMOVE: {
      const LRESULT row = SendMessageW(hwnd, LB_ITEMFROMPOINT, 0, lparam);
      TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, hwnd, 0};
      TrackMouseEvent(&track);
      g.OnHover(row);
      break;
    }
    case WM_MOUSELEAVE:
      g.OnHover(0x10000);
      break;
    case WM_ERASEBKGND:
      g.EraseBelowRows(hwnd, reinterpret_cast<HDC>(wparam));
      return 0;
  }
  return u32::CallWindowProcW(prev, hwnd, message, wparam, lparam);
}

void Gallery::OnClick(LPARAM lparam) {
  LRESULT row = SendMessageW(list_, LB_ITEMFROMPOINT, 0, lparam);
  if (row < 0 || row > 0xFFFF) return;
  const int page_index = static_cast<int>(pageSelector->CurrentIndex());
  if (row == 0) {
    if (page_index > 0) {
      pageSelector->SetCurrent(page_index - 1);
      showPage(page_index);
    }
    row = 1;
  } else if (row == kRowCount - 1) {
    if (page_index < kPageCount - 1) {
      pageSelector->SetCurrent(page_index + 1);
      showPage(page_index + 2);
    }
    row = 1;
  } else {
    stampPreview->Invalidate(1);
  }
  SendMessageW(list_, LB_SETCURSEL, static_cast<WPARAM>(row), 0);
}

RowState rowStateOf(int row) {
  if (row == selected_row()) return ROW_SELECTED;
  if (gallery && row == gallery->hoverRow - 1) return ROW_HOVER;
  return ROW_NORMAL;
}

// A row the pointer leaves is drawn in the state it has then: a row clicked while hovered is
// the selected row by now, and keeps its selected look.
void Gallery::OnHover(LPARAM row) {
  const int selected = selected_row();
  auto left_behind = [&](int r) { DrawRow(r, r == selected ? ROW_SELECTED : ROW_NORMAL); };
  if (row < 0x10000) {
    bool redraw = false;
    if (hoverRow == 0) {
      hoverRow = static_cast<int>(row) + 1;
      redraw = true;
    }
    if (hoverRow - 1 == selected) hoverRow = 0;
    if (hoverRow != 0 && hoverRow - 1 != selected && hoverRow - 1 != row) {
      left_behind(hoverRow - 1);
      hoverRow = static_cast<int>(row) + 1;
      redraw = true;
    }
    if (redraw && row != selected) DrawRow(static_cast<int>(row), ROW_HOVER);
  } else if (hoverRow != 0) {
    const int last = hoverRow - 1;
    hoverRow = 0;
    left_behind(last);
  }
}

void Gallery::EraseBelowRows(HWND list, HDC dc) {
  const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
  RECT last{};
  SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(count - 1), reinterpret_cast<LPARAM>(&last));
  RECT client{};
  u32::GetClientRect(list, &client);
  if (last.bottom < client.bottom) {
    RECT rest{0, last.bottom, client.right, client.bottom};
    FillRect(dc, &rest, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  }
}

void Gallery::DrawRow(int row, RowState state) {
  if (row < 0 || row >= static_cast<int>(galleryItems.size())) return;
  RECT rect{};
  if (SendMessageW(list_, LB_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&rect)) ==
      LB_ERR) {
    return;
  }
  DrawRowIn(row, state, rect);
}

Gallery::ScaledEntry* Gallery::Entry(const char* thumbnailFile, const Bytes& image) {
  if (image.empty()) return nullptr;
  auto found = scaled_.find(thumbnailFile);
  if (found != scaled_.end() && found->second.source == image) return &found->second;
  auto decoded = std::make_unique<Picture>();
  if (!decoded->LoadFromBytes(image) || !decoded->ForceValidation() || decoded->GetWidth() < 1 ||
      decoded->GetHeight() < 1) {
    // Nothing is kept for bytes that are no picture (an error page, a truncated body).
    if (found != scaled_.end()) scaled_.erase(found);
    return nullptr;
  }
  ScaledEntry& entry = scaled_[thumbnailFile];
  entry.source = image;
  entry.scaled.reset();
  entry.decoded = std::move(decoded);
  return &entry;
}

const FontFamily& Gallery::RowFamily() {
  if (!row_family_.family()) {
    // Where the face is not installed, GDI+ has no family of that name, while GDI's font mapper
    // picks the nearest installed face for the same request (as it does for the controls): the
    // rows are drawn in that face rather than without any text.
    FontCollection installed;
    if (!row_family_.CreateFromName(kRowFont, installed)) {
      LOGFONTW wanted{};
      wanted.lfHeight = -13;
      wanted.lfCharSet = DEFAULT_CHARSET;
      lstrcpynW(wanted.lfFaceName, text_to_wide(kRowFont).c_str(), LF_FACESIZE);
      HDC screen = GetDC(nullptr);
      Font mapped;
      if (mapped.CreateFromLogfontW(screen, wanted)) mapped.GetFamily(row_family_);
      ReleaseDC(nullptr, screen);
    }
  }
  return row_family_;
}

const Picture* Gallery::DecodedPicture(const char* thumbnailFile, const Bytes& image) {
  ScaledEntry* entry = Entry(thumbnailFile, image);
  return entry ? entry->decoded.get() : nullptr;
}

const BitmapPicture* Gallery::ScaledPicture(const char* thumbnailFile, const Bytes& image) {
  ScaledEntry* entry = Entry(thumbnailFile, image);
  if (!entry) return nullptr;
  if (!entry->scaled) {
    // At the screen's resolution: drawn 1:1 into the row, never enlarged.
    const int side = thumbnailPlace(layoutDpi()).side;
    auto picture = std::make_unique<BitmapPicture>();
    picture->Create(side, side, kPixelFormat32bppRGB);
    DrawingSurface surface;
    surface.FromImage(*picture);
    SolidBrush white;
    white.Create(ToArgb(rgb(255, 255, 255)));
    surface.FillRectangle(white, 0, 0, static_cast<float>(side), static_cast<float>(side));
    surface.DrawImageRect(*entry->decoded, 0, 0, static_cast<float>(side), static_cast<float>(side), 2);
    entry->scaled = std::move(picture);
  }
  return entry->scaled.get();
}

void Gallery::ForgetScaledPictures() {
  for (auto& [file, entry] : scaled_) entry.scaled.reset();
}

void Gallery::DrawRowIn(int row, RowState state, const RECT& rect) {
  const GalleryItem& item = galleryItems[row + 1];
  // Away from 96 DPI the row is drawn in its 96-DPI design units through a scaling transform
  // (the DPI's scale, less where the row height is capped): text and shapes at the screen's
  // resolution, the thumbnail (made at that resolution) 1:1 on whole pixels.
  const bool scaling = layoutDpi() != kDesignDpi;
  const float s = rowScale(layoutDpi());
  const int pixel_w = rect.right - rect.left;
  const int pixel_h = rect.bottom - rect.top + 1;
  const int w = scaling ? static_cast<int>(pixel_w / s + 0.5f) : pixel_w;
  const int h = scaling ? static_cast<int>(pixel_h / s + 0.5f) : pixel_h;
  const bool navigation = row == 0 || row == kRowCount - 1;
  const RowColours c = colours_for(state);

  BitmapPicture canvas;
  canvas.Create(pixel_w, pixel_h, kPixelFormat32bppRGB);
  DrawingSurface surface;
  surface.FromImage(canvas);
  surface.SetTextRenderingHint(kTextRenderingClearTypeGridFit);

  SolidBrush white;
  white.Create(ToArgb(rgb(255, 255, 255)));
  surface.FillRectangle(white, 0, 0, static_cast<float>(pixel_w), static_cast<float>(pixel_h));
  if (scaling) surface.ScaleWorldTransform(s, s);

  GraphicsPath outline;
  outline.Create();
  outline.AddRoundedRectangle(1, 1, static_cast<float>(w - 3), static_cast<float>(h - 3), 5);
  const gp::RectF gradient_rect(0, 0, static_cast<float>(w - 3), static_cast<float>(h - 3));
  LinearGradientBrush gradient;
  gradient.CreateFromRect(gradient_rect, c.from, c.to, 0);
  Pen pen;
  pen.Create(ToArgb(0), 1.0f);
  Font font;
  font.Create(RowFamily(), 13, navigation ? 1 : 0);

  if (c.background) {
    gradient.SetLinearColors(c.from, c.to);
    surface.FillRectangle(gradient, 2, 2, static_cast<float>(w - 4), static_cast<float>(h - 4));
  }
  if (c.outline) {
    pen.SetColor(c.outline_colour);
    surface.DrawPath(pen, outline);
  }
  if (!navigation) {
    if (const BitmapPicture* picture = ScaledPicture(item.thumbnailFile.c_str(), item.image)) {
      if (scaling) {
        // In pixels, outside the transform: 6 design units are 7.5 pixels at 125 %, and a
        // picture placed there would be resampled and blurred.
        const ThumbnailPlace place = thumbnailPlace(layoutDpi());
        surface.ResetWorldTransform();
        surface.DrawImageRect(*picture, static_cast<float>(place.x), static_cast<float>(place.y),
                              static_cast<float>(place.side), static_cast<float>(place.side));
        surface.ScaleWorldTransform(s, s);
      } else {
        surface.DrawImage(*picture, kThumbnailInset, kThumbnailInset);
      }
    } else {
      surface.FillRectangle(white, kThumbnailInset, kThumbnailInset, kThumbnailSize, kThumbnailSize);
    }
    outline.Reset();
    outline.AddRoundedRectangle(5, 5, 74, 74, 25);
    pen.SetWidth(0.2f);
    pen.SetColor(c.frame);
    surface.DrawPath(pen, outline);
  }

  SolidBrush text_brush;
  text_brush.Create(c.title);
  const StringFormat default_layout;  // never created: GDI+ lays the text out by default
  surface.DrawString(item.title.c_str(), font, text_brush,
                     gp::RectF(100, 6.5f, gradient_rect.Width, gradient_rect.Height), default_layout);
  if (state == ROW_SELECTED) {
    font.Dispose();
    font.Create(RowFamily(), 12, 0);
    text_brush.SetColor(ToArgb(0, 200));
    surface.DrawString(item.id.c_str(), font, text_brush,
                       gp::RectF(101, 26, gradient_rect.Width, gradient_rect.Height), default_layout);
  }
  surface.Dispose();

  DrawingSurface screen;
  screen.FromWindow(list_);
  if (scaling) {
    // Pixel for pixel: without a size, GDI+ would stretch by the bitmap's and the screen's DPI.
    screen.DrawImageRect(canvas, static_cast<float>(rect.left), static_cast<float>(rect.top),
                         static_cast<float>(pixel_w), static_cast<float>(pixel_h));
  } else {
    screen.DrawImage(canvas, static_cast<float>(rect.left), static_cast<float>(rect.top));
  }
}

// ---- pages -----------------------------------------------------------------------------------

void createGallery(HWND parent, int x, int y, int width, int height) {
  if (!galleryList->Create(parent, 0x10000020, x, y, width, height, 0x20)) {
    show_message("列表框创建失败!请检查参数。  ", 64, "错误#001");
    return;
  }
  galleryList->Send(LB_SETHORIZONTALEXTENT, 1, 0);
  gallery->Hook(parent, galleryList->Handle());
}

void clearRows() {
  galleryItems.redim(0);
  galleryList->Send(LB_RESETCONTENT);
}

void addRow(const GalleryItem& item) {
  galleryItems.append(item);
  const LRESULT index = galleryList->SendText(LB_ADDSTRING, 0, item.title.c_str());
  galleryList->Send(LB_SETITEMDATA, static_cast<WPARAM>(index), 0);
  galleryList->Send(LB_SETITEMHEIGHT, static_cast<WPARAM>(index), rowHeight(kTemplateRowHeight, layoutDpi()));
  galleryList->Send(LB_SETHORIZONTALEXTENT, 1, 0);
  galleryList->Invalidate(1);
  galleryList->Send(LB_SETITEMHEIGHT, 0, rowHeight(kNavigationRowHeight, layoutDpi()));
  galleryList->Send(LB_SETITEMHEIGHT, kRowCount - 1, rowHeight(kNavigationRowHeight, layoutDpi()));
}

int galleryHeight() {
  return 2 * rowHeight(kNavigationRowHeight, layoutDpi()) + (kRowCount - 2) * rowHeight(kTemplateRowHeight, layoutDpi());
}

void relayoutGallery() {
  const int count = static_cast<int>(galleryList->Send(LB_GETCOUNT));
  for (int row = 0; row < count; ++row) {
    const bool navigation = row == 0 || row == kRowCount - 1;
    galleryList->Send(LB_SETITEMHEIGHT, static_cast<WPARAM>(row),
                      rowHeight(navigation ? kNavigationRowHeight : kTemplateRowHeight, layoutDpi()));
  }
  gallery->ForgetScaledPictures();
  galleryList->Invalidate(1);
}

namespace {

// The cached picture of a template, downloaded and cached when missing. A failed download (no
// answer, or an answer that is no picture) is not cached, so the next showing of the page tries
// again; a cache file that holds no picture is downloaded again the same way. The first
// download of a page starts the wait that keeps the user's hands off the gallery until the
// page is full.
//
// Another instance may share the cache: while this one downloads, that one may generate a
// stamp into the same file. A thumbnail therefore only ever creates a missing file (atomically,
// never replacing one); where a file appeared meanwhile, it is the other instance's stamp, and
// that is what the row shows.
Bytes thumbnail_for(const char* thumbnailFile, std::optional<WaitScope>& wait) {
  Text path = cachePath(thumbnailFile);
  if (file_exists(path.c_str())) {
    Bytes cached = read_whole_file(path.c_str());
    if (gallery->DecodedPicture(thumbnailFile, cached)) return cached;
  }
  Text url = text_concat({"http://", SERVICE_HOST, "/maker/thumbnails/", thumbnailFile});
  if (!wait) wait.emplace(WaitKind::Request);
  Bytes image = WebRequest(&url);
  if (!gallery->DecodedPicture(thumbnailFile, image)) return {};
  // A thumbnail that cannot be cached is still shown; the next showing fetches it again.
  if (!makeCacheFolder()) return image;
  if (file_exists(path.c_str())) {
    Bytes now = read_whole_file(path.c_str());
    if (gallery->DecodedPicture(thumbnailFile, now)) return now;  // written meanwhile: it wins
    // Still no picture: the broken file goes, to be created anew below. (Should a stamp land in
    // the moment between this read and the removal, the next generation writes it again; a
    // stamp is never removed for a thumbnail otherwise.)
    DeleteFileW(text_to_wide(path.c_str()).c_str());
  }
  if (!write_new_file(path.c_str(), image.block())) {
    Bytes now = read_whole_file(path.c_str());
    if (gallery->DecodedPicture(thumbnailFile, now)) return now;
  }
  return image;
}

}  // namespace

void showPage(int page) {
  // Six rows go in one at a time, and the heights only add up to the list's height once the
  // last one is in: drawing in between would show and hide a scroll bar and repaint for
  // nothing. The list is drawn once, when the page is complete.
  std::optional<WaitScope> wait;  // until the page is complete, once a download starts
  galleryList->SuspendRedraw();
  clearRows();
  shownPage = page;
  int k = (page - 1) * 4;
  for (int row = 0; row < kRowCount; ++row) {
    ++k;
    GalleryItem item;
    if (row == 0) {
      item.title = Text("上一页");
    } else if (row == kRowCount - 1) {
      item.title = Text("下一页");
    } else {
      const StampTemplate& t = TemplateCatalog[k];
      item.title = t.title;
      item.id = t.id;
      item.thumbnailFile = t.thumbnailFile;
      item.image = thumbnail_for(t.thumbnailFile.c_str(), wait);
    }
    addRow(item);
  }
  galleryList->ResumeRedraw();
  galleryList->Invalidate(1);
  galleryList->Send(LB_SETCURSEL, 1);
  stampPreview->Invalidate(1);
}

void fillPageSelector() {
  for (int n = 1; n <= kPageCount; ++n) {
    Text label = value_to_text(int_arg(n));
    pageSelector->AddItem(label.c_str(), n);
  }
  pageSelector->SetCurrent(0);
}

void onPageSelected() {
  if (waiting()) {
    // Not while a request waits: the selector goes back to the page the gallery shows.
    if (shownPage > 0) pageSelector->SetCurrent(shownPage - 1);
    return;
  }
  showPage(static_cast<int>(pageSelector->CurrentIndex()) + 1);
}

void drawPreview() {
  const int row = selected_row();
  if (row < 0 || row > 0xFFFF) return;
  const GalleryItem& item = galleryItems[row + 1];
  const Picture* decoded = gallery->DecodedPicture(item.thumbnailFile.c_str(), item.image);
  if (!decoded) return;
  const Picture& picture = *decoded;
  const int w = picture.GetWidth();
  const int h = picture.GetHeight();
  if (w < 1 || h < 1) return;
  // At most 300 x 300 at 96 DPI, the same share of the window at any other.
  stampPreview->Width(scaled(w < 300 ? w : 300));
  stampPreview->Height(scaled(h < 300 ? h : 300));

  const int pw = static_cast<int>(stampPreview->Width());
  const int ph = static_cast<int>(stampPreview->Height());
  BitmapPicture canvas;
  canvas.Create(pw, ph, kPixelFormat32bppRGB);
  DrawingSurface surface;
  surface.FromImage(canvas);
  const bool scaling = layoutDpi() != kDesignDpi;
  if (scaling) surface.SetInterpolationMode(kInterpolationHighQualityBicubic);
  surface.DrawImageRect(picture, 0, 0, static_cast<float>(pw), static_cast<float>(ph));
  surface.Dispose();
  DrawingSurface screen;
  screen.FromWindow(stampPreview->Handle());
  if (scaling) {
    screen.DrawImageRect(canvas, 0, 0, static_cast<float>(pw), static_cast<float>(ph));
  } else {
    screen.DrawImage(canvas, 0, 0);
  }
}

}  // namespace tambrel::app
