// The real Tambrel.exe as a user on some system locale meets it, against the real stamp service:
// ctest runs this program in Wine prefixes whose locale (and so the ANSI code page) is
// zh_CN.UTF-8 (936), en_US.UTF-8 (1252) and ja_JP.UTF-8 (932). Whatever the code page, the
// controls, the gallery's titles and the message boxes read in Chinese, and what the user types
// (GBK names, emoji, CJK Extension B, Hangul) reaches the service as itself, percent-encoded
// UTF-8; a stamp saved under a Chinese name is written under that name.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

// GDI+ needs the COM and property declarations that WIN32_LEAN_AND_MEAN leaves out.
#include <objidl.h>
#include <propidl.h>
#include <gdiplus.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/catalog.h"
#include "tests/e2e/driver.h"

using namespace tambrel;
using namespace tambrel::e2e;
using testing::ElementsAreArray;

namespace {

// The percent-encoded UTF-8 of a text, as the request must carry it (letters and digits as
// themselves).
std::string percent_utf8(const std::wstring& text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), utf8.data(), n, nullptr, nullptr);
  std::string out;
  for (unsigned char c : utf8) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return out;
}

// A normal (white) gallery row's title as the tool draws it: the same face, size, rendering
// hint, colour and place, drawn here by GDI+ onto white. Pixels in BGRX.
std::vector<uint32_t> expected_title(const std::wstring& title, int width, int height) {
  namespace gp = Gdiplus;
  static const bool started = [] {
    ULONG_PTR token = 0;
    gp::GdiplusStartupInput input;
    return gp::GdiplusStartup(&token, &input, nullptr) == gp::Ok;
  }();
  std::vector<uint32_t> pixels;
  if (!started) return pixels;
  gp::Bitmap canvas(width, height, PixelFormat32bppRGB);
  {
    gp::Graphics g(&canvas);
    g.SetTextRenderingHint(gp::TextRenderingHintClearTypeGridFit);
    gp::SolidBrush white(gp::Color(255, 255, 255, 255));
    g.FillRectangle(&white, 0, 0, width, height);
    gp::FontFamily family(L"微软雅黑");
    gp::Font font(&family, 13, gp::FontStyleRegular, gp::UnitWorld);
    gp::SolidBrush ink(gp::Color(230, 0, 0, 0));
    g.DrawString(title.c_str(), -1, &font, gp::RectF(100, 6.5f, static_cast<float>(width - 3),
                                                      static_cast<float>(height - 3)),
                 nullptr, &ink);
  }
  gp::Rect all(0, 0, width, height);
  gp::BitmapData data{};
  if (canvas.LockBits(&all, gp::ImageLockModeRead, PixelFormat32bppRGB, &data) != gp::Ok) return pixels;
  pixels.resize(static_cast<size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(static_cast<const char*>(data.Scan0) + y * data.Stride);
    for (int x = 0; x < width; ++x) pixels[static_cast<size_t>(y) * width + x] = row[x] & 0xFFFFFF;
  }
  canvas.UnlockBits(&data);
  return pixels;
}

struct TitleMatch {
  int compared = 0, same = 0, ink_on_screen = 0, ink_expected = 0;
  bool good() const { return ink_expected >= 30 && ink_on_screen >= 30 && same * 100 >= compared * 97; }
};

std::ostream& operator<<(std::ostream& os, const TitleMatch& m) {
  return os << m.same << "/" << m.compared << " pixels alike, ink " << m.ink_on_screen << " on the screen, "
            << m.ink_expected << " expected";
}

TitleMatch match_title(const Tool& tool, int row, const std::wstring& title) {
  RECT client{};
  GetClientRect(tool.list(), &client);
  const RECT r = tool.row_rect(row);
  const int width = client.right, height = r.bottom - r.top + 1;
  const std::vector<uint32_t> expected = expected_title(title, width, height);
  TitleMatch m;
  if (expected.empty()) return m;
  const ScreenShot shot(tool.list(), RECT{0, r.top, width, r.bottom});
  auto dark = [](int r, int g, int b) { return r < 140 && g < 140 && b < 140; };
  for (int y = 2; y < 30; ++y) {
    for (int x = 96; x < width - 4; ++x) {
      const Rgb s = shot.at(x, y);
      const uint32_t e = expected[static_cast<size_t>(y) * width + x];
      const int er = static_cast<int>(e >> 16 & 0xFF), eg = static_cast<int>(e >> 8 & 0xFF), eb = static_cast<int>(e & 0xFF);
      ++m.compared;
      m.same += std::abs(s.r - er) <= 24 && std::abs(s.g - eg) <= 24 && std::abs(s.b - eb) <= 24;
      m.ink_on_screen += dark(s.r, s.g, s.b);
      m.ink_expected += dark(er, eg, eb);
    }
  }
  return m;
}

class OnThisLocale : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    app::TemplateCatalog.redim(app::kTemplateCount);
    app::loadTemplateCatalog();
    if (environment("TAMBREL_TOOL").empty() || environment("TAMBREL_STAMPD").empty()) return;
    folder_ = new TempFolder;
    service_ = new StampService(environment("TAMBREL_STAMPD"), *folder_);
  }
  static void TearDownTestSuite() {
    delete service_;
    service_ = nullptr;
    delete folder_;
    folder_ = nullptr;
  }
  void SetUp() override {
    if (!service_) GTEST_SKIP() << "TAMBREL_TOOL or TAMBREL_STAMPD is not set";
    ASSERT_TRUE(wait_until([] { return !port_accepts(kServicePort); }, seconds(60)))
        << "something else listens on 127.0.0.1:8077";
    move_pointer_away();
  }
  static TempFolder* folder_;
  static StampService* service_;
};

TempFolder* OnThisLocale::folder_ = nullptr;
StampService* OnThisLocale::service_ = nullptr;

struct TypedCase {
  const wchar_t* text;
  const char* what;
};

TEST_F(OnThisLocale, TextsTitlesBoxesTypedCharactersAndSaving) {
  std::printf("ANSI code page of this prefix: %u\n", GetACP());
  if (!environment("TAMBREL_EXPECT_ACP").empty()) {
    ASSERT_EQ(GetACP(), static_cast<UINT>(std::atoi(environment("TAMBREL_EXPECT_ACP").c_str())))
        << "the prefix does not run in the locale this entry is for";
  }
  ASSERT_TRUE(service_->start());
  const std::string out = folder_->make_subfolder("saved");
  Tool tool(environment("TAMBREL_TOOL"), folder_->make_subfolder("tool"));
  ASSERT_TRUE(tool.started()) << "no main window";
  ASSERT_TRUE(tool.wait_for_page()) << "the first page was not shown";

  // The controls' texts and the gallery's strings.
  EXPECT_EQ(window_text(tool.main()), L"Tambrel v1.0");
  EXPECT_EQ(window_text(tool.control(kTextLabelId)), L"文本：");
  EXPECT_EQ(window_text(tool.control(kSizeLabelId)), L"尺寸：");
  EXPECT_EQ(window_text(tool.control(kGenerateId)), L"生成");
  EXPECT_EQ(window_text(tool.control(kSaveId)), L"保存");
  EXPECT_EQ(window_text(tool.control(kTextBoxId)), L"Tambrel");
  EXPECT_EQ(tool.selector_text(), L"1");
  const std::vector<std::wstring> rows = page_rows(1);
  EXPECT_THAT(tool.rows(), ElementsAreArray(rows));

  // The titles on the screen, drawn as GDI+ draws those characters (rows 2 to 4 are white; row
  // 1 is the selected one, and the navigation rows are bold).
  for (int row = 2; row <= 4; ++row) {
    SCOPED_TRACE(row);
    TitleMatch m;
    EXPECT_TRUE(wait_until([&] { return (m = match_title(tool, row, rows[static_cast<size_t>(row)])).good(); },
                           seconds(5)))
        << m;
  }

  // Typed texts: the box shows them, the request carries them as UTF-8, and the stamp comes
  // back, or the service's failure is said.
  HWND text_box = tool.control(kTextBoxId);
  const TypedCase typed[] = {
      {L"王小明", "a GBK name"},
      {L"印章\U0001F600", "an emoji"},
      {L"\U00020000印", "CJK Extension B"},
      {L"한글", "Hangul"},
  };
  std::string wang_stamp;
  for (const TypedCase& c : typed) {
    SCOPED_TRACE(c.what);
    tool.set_text(kTextBoxId, L"");
    if (focus_of(tool.main()) != text_box) click_at(text_box, POINT{20, 8});
    ASSERT_TRUE(wait_until([&] { return focus_of(tool.main()) == text_box; }, seconds(5)))
        << "the text box took no focus: focus " << focus_of(tool.main()) << " (" << class_name(focus_of(tool.main()))
        << "), text box " << text_box << ", main enabled " << IsWindowEnabled(tool.main()) << ", boxes "
        << tool.dialogs().size() << ", capture " << [&] {
             GUITHREADINFO info{};
             info.cbSize = sizeof info;
             GetGUIThreadInfo(GetWindowThreadProcessId(tool.main(), nullptr), &info);
             return info.hwndCapture;
           }() << ", generate button " << tool.control(kGenerateId);
    type_text(c.text);
    EXPECT_TRUE(wait_until([&] { return window_text(text_box) == c.text; }, seconds(5)))
        << "the box shows " << testing::PrintToString(window_text(text_box));
    const std::string encoded = percent_utf8(c.text);
    const size_t mark = service_->targets().size();
    // The button's notification, as a click sends it, without moving the focus to the button:
    // the next text is typed into the box again.
    PostMessageW(tool.control(kGroupId), WM_COMMAND, MAKEWPARAM(kGenerateId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(tool.control(kGenerateId)));
    const std::optional<std::string> request = service_->wait_for_target("/aosbegin.php", mark, seconds(20));
    ASSERT_TRUE(request) << "no generation request";
    EXPECT_EQ(request->substr(0, request->find("&id=")), "/aosbegin.php?text=" + encoded);
    std::optional<std::string> fetched;
    HWND box = nullptr;
    wait_until(
        [&] {
          fetched = service_->wait_for_target("/stamp/368/0/" + encoded + ".png", mark, milliseconds(0));
          if (!fetched) box = tool.wait_for_dialog(milliseconds(0));
          return fetched || box;
        },
        seconds(20));
    if (box) {
      // The service has no face for a character: the failure, said, not a stamp of boxes.
      const MessageBoxView view = read_message_box(box);
      std::printf("%s: the tool says %s\n", c.what, testing::PrintToString(view.text).c_str());
      EXPECT_EQ(view.text, L"图章生成失败，至少输入两个字符！");
      press_dialog_button(box, IDOK);
      ASSERT_TRUE(wait_until([&] { return tool.dialogs().empty(); }, seconds(5)));
      EXPECT_NE(std::wstring(c.text), L"王小明") << "王小明 was not rendered";
      continue;
    }
    ASSERT_TRUE(fetched) << "neither a stamp nor a message";
    std::printf("%s: rendered\n", c.what);
    const HttpResult served = http_get(kServicePort, *fetched);
    ASSERT_EQ(served.status, 200);
    EXPECT_TRUE(wait_until([&] { return read_file(tool.cache_folder() + "\\" +
                                              app::TemplateCatalog[2].thumbnailFile.c_str()) == served.body; },
                           seconds(10)));
    if (std::wstring(c.text) == L"王小明") wang_stamp = served.body;
  }

  // "保存" after 王小明: the dialog proposes 王小明.png, and the file is written under that name.
  ASSERT_FALSE(wang_stamp.empty());
  tool.set_text(kTextBoxId, L"王小明");
  // The last stamp shown is 王小明's only if the later ones failed; generate it again so the
  // row holds it.
  {
    const size_t mark = service_->targets().size();
    tool.press(kGenerateId);
    ASSERT_TRUE(service_->wait_for_target("/stamp/368/0/" + percent_utf8(L"王小明"), mark, seconds(20)));
    ASSERT_TRUE(wait_until([&] { return read_file(tool.cache_folder() + "\\" +
                                             app::TemplateCatalog[2].thumbnailFile.c_str()) == wang_stamp; },
                           seconds(10)));
  }
  tool.press(kSaveId);
  HWND dialog = tool.wait_for_dialog(seconds(10), [](HWND d) { return save_dialog_name_box(d) != nullptr; });
  ASSERT_NE(dialog, nullptr) << "no save dialog";
  HWND name = save_dialog_name_box(dialog);
  EXPECT_EQ(window_text(name), L"王小明.png");
  const std::wstring target = gbk_to_wide(out) + L"\\王小明.png";
  SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(target.c_str()));
  PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  EXPECT_TRUE(wait_until([&] { return read_file(target) == wang_stamp; }, seconds(10)))
      << "王小明.png does not hold the stamp";
  ASSERT_TRUE(wait_until([&] { return tool.dialogs().empty(); }, seconds(5)));

  // A message box: a text too long for the template.
  tool.set_text(kTextBoxId, L"甲乙丙丁戊");
  tool.press(kGenerateId);
  HWND box = tool.wait_for_dialog(seconds(20));
  ASSERT_NE(box, nullptr) << "no message for a failed generation";
  const MessageBoxView view = read_message_box(box);
  EXPECT_EQ(view.title, L"信息");
  EXPECT_EQ(view.text, L"图章生成失败，至少输入两个字符！");
  press_dialog_button(box, IDOK);
  ASSERT_TRUE(wait_until([&] { return tool.dialogs().empty(); }, seconds(5)));

  const std::optional<DWORD> code = tool.close();
  ASSERT_TRUE(code.has_value());
  EXPECT_EQ(*code, 0u);
}

}  // namespace
