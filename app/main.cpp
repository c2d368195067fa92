// The application's main routine and its exit routine.
#include <float.h>
#include <windows.h>

#include "app/app.h"
#include "app/gallery.h"
#include "app/update_check.h"
#include "runtime/heap.h"
#include "ui/message_loop.h"

namespace tambrel::app {

std::unique_ptr<ui::TopLevelWindow> mainWindow;
std::unique_ptr<Gallery> gallery;
std::unique_ptr<ui::ComboBoxControl> pageSelector;
std::unique_ptr<ui::PictureBox> stampPreview;
std::unique_ptr<ui::GroupBoxControl> inputGroup;
std::unique_ptr<ui::LabelControl> textLabel;
std::unique_ptr<ui::LabelControl> sizeLabel;
std::unique_ptr<ui::EditControl> textBox;
std::unique_ptr<ui::EditControl> sizeBox;
std::unique_ptr<ui::ButtonControl> generateButton;
std::unique_ptr<ui::ButtonControl> saveButton;
std::unique_ptr<ui::LinkControl> homeLink;
std::unique_ptr<ui::ListBoxControl> galleryList;
RecordArray<GalleryItem> galleryItems;

void createApplication() {
  // Reset the floating-point unit: the GDI+ and COM code called later expects the default.
  _fpreset();

  mainWindow = std::make_unique<ui::TopLevelWindow>();
  gallery = std::make_unique<Gallery>();  // starts GDI+ for the process
  pageSelector = std::make_unique<ui::ComboBoxControl>();
  stampPreview = std::make_unique<ui::PictureBox>();
  inputGroup = std::make_unique<ui::GroupBoxControl>();
  textLabel = std::make_unique<ui::LabelControl>();
  sizeLabel = std::make_unique<ui::LabelControl>();
  textBox = std::make_unique<ui::EditControl>();
  sizeBox = std::make_unique<ui::EditControl>();
  generateButton = std::make_unique<ui::ButtonControl>();
  saveButton = std::make_unique<ui::ButtonControl>();
  homeLink = std::make_unique<ui::LinkControl>();
  TemplateCatalog.redim(kTemplateCount);
  galleryList = std::make_unique<ui::ListBoxControl>();
  galleryItems.redim(0);

  set_exit_hook(&appExit);
  ui::StartFramework();

  ui::TopLevelOptions options;
  options.title = kMainWindowTitle;
  options.created = &buildControls;
  options.width = kMainWindowWidth;
  options.height = kMainWindowHeight;
  options.class_name = kMainWindowClass;
  options.show = 1;
  options.modal = 0;
  mainWindow->CreateAndShow(options);
}

int appMain() {
  createApplication();
  ui::RunMessageLoop();
  return 0;
}

void appExit() {
  mainWindow.reset();
  gallery.reset();
  pageSelector.reset();
  stampPreview.reset();
  inputGroup.reset();
  textLabel.reset();
  sizeLabel.reset();
  textBox.reset();
  sizeBox.reset();
  generateButton.reset();
  saveButton.reset();
  homeLink.reset();
  TemplateCatalog.clear();
  galleryList.reset();
  galleryItems.clear();
}

}  // namespace tambrel::app
