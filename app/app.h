// The application's global objects and routines. Everything lives in globals created by the
// main routine before the main window exists and destroyed by the exit routine, in the order
// of construction; all of it is touched on the main thread only (the update check runs on its
// own thread and uses none of it).
#pragma once

#include <windows.h>

#include <memory>
#include <optional>

#include "app/catalog.h"
#include "runtime/values.h"
#include "ui/controls.h"
#include "ui/picture_box.h"
#include "ui/top_level_window.h"

namespace tambrel::app {

// One row of the current gallery page: the picture file content (thumbnail, or the generated
// stamp), the text drawn, and the template it stands for ("" for the navigation rows).
struct GalleryItem {
  Bytes image;
  Text title;
  Text id;
  Text thumbnailFile;
};

class Gallery;

extern std::unique_ptr<ui::TopLevelWindow> mainWindow;
extern std::unique_ptr<Gallery> gallery;
extern std::unique_ptr<ui::ComboBoxControl> pageSelector;
extern std::unique_ptr<ui::PictureBox> stampPreview;
extern std::unique_ptr<ui::GroupBoxControl> inputGroup;
extern std::unique_ptr<ui::LabelControl> textLabel;
extern std::unique_ptr<ui::LabelControl> sizeLabel;
extern std::unique_ptr<ui::EditControl> textBox;
extern std::unique_ptr<ui::EditControl> sizeBox;
extern std::unique_ptr<ui::ButtonControl> generateButton;
extern std::unique_ptr<ui::ButtonControl> saveButton;
extern std::unique_ptr<ui::LinkControl> homeLink;
extern std::unique_ptr<ui::ListBoxControl> galleryList;
extern RecordArray<GalleryItem> galleryItems;

constexpr const char kMainWindowClass[] = "GdiPlusWin";
constexpr const char kMainWindowTitle[] = "Tambrel v1.0";
constexpr int kMainWindowWidth = 594;
constexpr int kMainWindowHeight = 480;
constexpr int kIconResource = 129;
constexpr int kPageCount = 70;

// The main routine: builds the globals, opens the main window, runs the loop; always 0.
int appMain();
// Its first half: the globals built and the main window open, before the loop.
void createApplication();
// Destroys the globals in construction order; registered as the runtime's exit hook.
void appExit();

void buildControls();
// The window moved to a monitor of another DPI (WM_DPICHANGED): everything laid out again for it.
void onDpiChanged(int dpi, const RECT* suggested);
void bindEvents();
void onFirstActivate();
void openHomeLink();

// Gallery (gallery.cpp).
void createGallery(HWND parent, int x, int y, int width, int height);
// The gallery's height at the layout DPI: the sum of its six rows.
int galleryHeight();
// Row heights and row pictures again for a new DPI.
void relayoutGallery();
void clearRows();
void addRow(const GalleryItem& item);
void showPage(int page);
void fillPageSelector();
void onPageSelected();
void drawPreview();
// Program folder + "\tmp\" + file name: where a template's picture is cached.
Text cachePath(const char* thumbnailFile);
// Makes the cache folder when it is missing; false when it is not there afterwards.
bool makeCacheFolder();

// The template of the selected gallery row, taken by value: a handler that waits for the
// service keeps this, never a reference into the rows, which a page change replaces.
struct ChosenTemplate {
  int row;
  Text id;
  Text thumbnailFile;
  int page;
};
// Null when no template row is selected (none, or a navigation row).
std::optional<ChosenTemplate> selectedTemplate();
// The row of the shown page that holds the template, or -1.
int rowShowing(const char* templateId);
// True when GDI+ decodes the bytes into a picture of at least one pixel.
bool isPicture(const Bytes& bytes);

// Generation and saving.
void generateStamp();
void saveStamp();
// The file name "保存" proposes for a stamp text: the text with the characters no file name may
// hold replaced by "_", and ".png".
Text proposedFileName(const char* stampText);
// A message box shown right after a wait, with closing still put off until it is gone.
void showAfterWait(const char* text, UINT flags = 0);

}  // namespace tambrel::app
