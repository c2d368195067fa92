// The main window built in this process: the fonts its controls carry. (Another process cannot
// read a window's font handle, so the end-to-end tests cannot see this.)
#include <windows.h>

#include <gtest/gtest.h>

#include "app/app.h"

using namespace tambrel;
using namespace tambrel::app;

namespace {

TEST(MainWindow, SixControlsShareThe18PixelFontAndTheLinkKeepsTheDefaultGuiFont) {
  createApplication();  // builds the controls; the window is not activated, so nothing is loaded
  ASSERT_NE(mainWindow->Handle(), nullptr);
  ui::Window* six[] = {textLabel.get(), sizeLabel.get(), textBox.get(), sizeBox.get(), generateButton.get(),
                       saveButton.get()};
  const HFONT shared = six[0]->GetFont();
  ASSERT_NE(shared, nullptr);
  for (ui::Window* w : six) EXPECT_EQ(w->GetFont(), shared);
  LOGFONTA logfont{};
  ASSERT_NE(GetObjectA(shared, sizeof logfont, &logfont), 0);
  EXPECT_EQ(logfont.lfHeight, 18);
  EXPECT_EQ(logfont.lfWeight, 0);
  EXPECT_EQ(logfont.lfCharSet, DEFAULT_CHARSET);
  EXPECT_STREQ(logfont.lfFaceName, "微软雅黑");
  const HFONT gui = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  EXPECT_EQ(homeLink->GetFont(), gui);
  EXPECT_EQ(pageSelector->GetFont(), gui);
  EXPECT_NE(shared, gui);
  appExit();
}

}  // namespace
