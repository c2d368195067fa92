// The main window built in this process: the fonts its controls carry. (Another process cannot
// read a window's font handle, so the end-to-end tests cannot see this.)
#include <windows.h>

#include <gtest/gtest.h>

#include "app/app.h"
#include "runtime/text.h"

#include <string>

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

// The name "保存" proposes: never a device, never longer than a name may be (255 UTF-16 units),
// always ending in ".png", never cut inside a surrogate pair.
TEST(ProposedFileName, DevicesLongTextsAndCharactersNoNameMayHold) {
  struct Case {
    std::wstring text;
    std::wstring expected;
  };
  const Case cases[] = {
      {L"王小明", L"王小明.png"},
      {L"a:b?c*\"d<e>f|g/h\\i", L"a_b_c__d_e_f_g_h_i.png"},
      {L"CON", L"CON_.png"},
      {L"nul", L"nul_.png"},
      {L"COM1", L"COM1_.png"},
      {L"lpt9", L"lpt9_.png"},
      {L"AUX.txt", L"AUX_.txt.png"},
      {L"PRN. ", L"PRN_.png"},
      {L"CONSOLE", L"CONSOLE.png"},
      {L"刘\u4DAE €\U0001F600", L"刘\u4DAE €\U0001F600.png"},
      {std::wstring(300, L'印'), std::wstring(251, L'印') + L".png"},
      // 250 units, then a pair that would be cut in half at 251.
      {std::wstring(250, L'a') + L"\U0001F600\U0001F600", std::wstring(250, L'a') + L".png"},
      {std::wstring(249, L'a') + L"\U0001F600\U0001F600", std::wstring(249, L'a') + L"\U0001F600.png"},
      {std::wstring(250, L'a') + L"  .xyz", std::wstring(250, L'a') + L".png"},
  };
  for (const Case& c : cases) {
    const Text got = proposedFileName(wide_to_text(c.text.c_str()).c_str());
    const std::wstring name = text_to_wide(got.c_str());
    EXPECT_EQ(name, c.expected) << std::string(got.c_str());
    EXPECT_LE(name.size(), 255u);
  }
}

}  // namespace
