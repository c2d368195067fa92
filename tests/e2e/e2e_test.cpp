// The stamp tool end to end: the real Tambrel.exe, started in a folder of its own, operated
// from outside with window messages and read back through window messages and screen pixels,
// against the real stamp service on the tool's fixed address 127.0.0.1:8077.
//
// Every launch of the tool costs seconds under Wine, so each test groups the checks that one
// run of the tool can make: start-up and cache (plus a second, offline run), paging and hover,
// generation and saving, and the update check's boxes. The service is started by each test
// with the options it needs and stopped after it; the access log shows what the tool sent.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include <shlobj.h>

#include "app/catalog.h"
#include "tests/e2e/driver.h"

using namespace tambrel;
using namespace tambrel::e2e;
using testing::ElementsAreArray;

namespace {

std::string thumbnail_file(int position) { return app::TemplateCatalog[position].thumbnailFile.c_str(); }

// Every template row of the shown page draws a picture in its thumbnail square.
void expect_row_pictures(const Tool& tool) {
  for (int row = 1; row <= 4; ++row) {
    SCOPED_TRACE(row);
    const RECT r = tool.row_rect(row);
    EXPECT_TRUE(wait_until([&] { return ScreenShot(tool.list(), r).count([](Rgb c) { return !is_near_white(c); },
                                                                         RECT{8, 8, 76, 76}) >= 100; },
                           seconds(5)))
        << "the row shows no picture";
  }
}

// Screen colours of a row's background at a point left of the title and below it, where only
// the row's fill shows: white in the normal state, the blue gradient when hovered, the yellow
// gradient when selected.
constexpr POINT kRowFillPoint{90, 60};
bool is_normal_fill(Rgb c) { return is_near_white(c); }
bool is_hover_fill(Rgb c) { return c.r >= 220 && c.r <= 247 && c.g >= 240 && c.g <= 254 && c.b >= 250; }
bool is_selected_fill(Rgb c) { return c.r >= 240 && c.g >= 220 && c.g <= 250 && c.b <= 225; }

Rgb row_fill(const Tool& tool, int row) {
  const RECT r = tool.row_rect(row);
  ScreenShot shot(tool.list(), RECT{kRowFillPoint.x, r.top + kRowFillPoint.y, kRowFillPoint.x + 1,
                                    r.top + kRowFillPoint.y + 1});
  return shot.at(0, 0);
}

void hover_over(const Tool& tool, int row) {
  const RECT r = tool.row_rect(row);
  move_pointer_to(tool.list(), POINT{150, r.top + 40});
  tool.responsive();  // the first move is handled before the second comes
  move_pointer_to(tool.list(), POINT{160, r.top + 50});
}

bool wait_for_fill(const Tool& tool, int row, bool (*state)(Rgb)) {
  return wait_until([&] { return state(row_fill(tool, row)); }, seconds(5));
}

// How well the preview on the screen shows a picture: sampled points where the picture is
// solid red must be red on the screen, points where it is fully transparent must not be.
struct PreviewMatch {
  int width = 0, height = 0;
  int red_samples = 0, red_hits = 0;
  int clear_samples = 0, clear_hits = 0;
  bool good() const {
    return red_samples >= 50 && red_hits * 100 >= red_samples * 95 && clear_hits * 100 >= clear_samples * 95;
  }
};

PreviewMatch match_preview(const Tool& tool, const DecodedPicture& picture) {
  PreviewMatch m;
  HWND preview = tool.control(kPreviewId);
  RECT client{};
  GetClientRect(preview, &client);
  ScreenShot shot(preview, client);
  m.width = shot.width();
  m.height = shot.height();
  if (!picture.ok() || m.width < 1 || m.height < 1) return m;
  const int radius = std::max(1, (std::max(picture.width(), picture.height()) + 299) / 300);
  auto solid = [&](int sx, int sy, auto pred) {
    for (int dy = -radius; dy <= radius; ++dy) {
      for (int dx = -radius; dx <= radius; ++dx) {
        const int x = sx + dx, y = sy + dy;
        if (x < 0 || y < 0 || x >= picture.width() || y >= picture.height() || !pred(picture.at(x, y))) return false;
      }
    }
    return true;
  };
  for (int y = 0; y < m.height; y += 2) {
    for (int x = 0; x < m.width; x += 2) {
      const int sx = x * picture.width() / m.width, sy = y * picture.height() / m.height;
      const bool on_screen_red = is_red(shot.at(x, y));
      if (solid(sx, sy, [](Argb p) { return p.a >= 250 && p.r >= 150 && p.g <= 100 && p.b <= 100; })) {
        ++m.red_samples;
        m.red_hits += on_screen_red;
      } else if (solid(sx, sy, [](Argb p) { return p.a == 0; })) {
        ++m.clear_samples;
        m.clear_hits += !on_screen_red;
      }
    }
  }
  return m;
}

std::ostream& operator<<(std::ostream& os, const PreviewMatch& m) {
  return os << m.width << "x" << m.height << " red " << m.red_hits << "/" << m.red_samples << " clear "
            << m.clear_hits << "/" << m.clear_samples;
}

class EndToEnd : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Unbuffered, so that ctest gets every line even if the program is ended from outside.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    app::TemplateCatalog.redim(app::kTemplateCount);
    app::loadTemplateCatalog();
    tool_ = environment("TAMBREL_TOOL");
    const std::string stampd = environment("TAMBREL_STAMPD");
    if (tool_.empty() || stampd.empty()) return;
    folder_ = new TempFolder;
    service_ = new StampService(stampd, *folder_);
  }
  static void TearDownTestSuite() {
    delete service_;  // stops the service
    service_ = nullptr;
    delete folder_;
    folder_ = nullptr;
  }

  void SetUp() override {
    if (environment("TAMBREL_STAMPD").empty()) {
      GTEST_SKIP() << "TAMBREL_STAMPD is not set: build the native stamp service (cmake --preset native "
                      "&& cmake --build --preset native --target stampd) and configure with "
                      "-DTAMBREL_STAMPD=<path of stampd>";
    }
    if (tool_.empty()) GTEST_SKIP() << "TAMBREL_TOOL is not set";
    // The port is the tool's fixed service address; another program may hold it for a while,
    // but once it was found taken the other tests do not wait again.
    static bool port_taken = false;
    ASSERT_FALSE(port_taken) << "something else listens on 127.0.0.1:8077";
    port_taken = !wait_until([] { return !port_accepts(kServicePort); }, seconds(60));
    ASSERT_FALSE(port_taken) << "something else listens on 127.0.0.1:8077";
    move_pointer_away();
  }
  void TearDown() override {
    if (service_) { EXPECT_TRUE(service_->stop()) << "the service did not stop"; }
  }

  static StampService& service() { return *service_; }
  static const std::string& tool_path() { return tool_; }
  // A new empty folder for one copy of the tool.
  static std::string fresh_folder(const std::string& name) {
    static int n = 0;
    return folder_->make_subfolder(name + "-" + std::to_string(++n));
  }

  static std::string tool_;
  static TempFolder* folder_;
  static StampService* service_;
};

std::string EndToEnd::tool_;
TempFolder* EndToEnd::folder_ = nullptr;
StampService* EndToEnd::service_ = nullptr;

// ---- start-up, layout, first page, cache, second activation, exit; then a run without service

struct ControlSpec {
  int id;
  int parent_id;  // 0: the main window
  const char* window_class;
  const wchar_t* text;  // nullptr: not checked
  RECT rect;            // in the parent's client area
};

TEST_F(EndToEnd, StartUpLayoutCacheAndAnOfflineSecondRun) {
  ASSERT_TRUE(service().start());
  const std::string folder = fresh_folder("start");
  std::vector<std::string> first_page_files;
  for (int k = 2; k <= 5; ++k) first_page_files.push_back(thumbnail_file(k));
  std::sort(first_page_files.begin(), first_page_files.end());

  {
    const auto launched = Clock::now();
    Tool tool(tool_path(), folder);
    ASSERT_TRUE(tool.started()) << "no main window";
    ASSERT_TRUE(tool.wait_for_page()) << "the first page was not shown";
    std::printf("start to first page, empty cache: %lld ms\n",
                static_cast<long long>(std::chrono::duration_cast<milliseconds>(Clock::now() - launched).count()));

    // The one main window.
    EXPECT_EQ(process_windows(tool.pid(), "GdiPlusWin").size(), 1u);
    EXPECT_EQ(class_name(tool.main()), "GdiPlusWin");
    EXPECT_EQ(window_text(tool.main()), L"Tambrel v1.0");
    RECT outer{};
    GetWindowRect(tool.main(), &outer);
    EXPECT_EQ(outer.right - outer.left, 594);
    EXPECT_EQ(outer.bottom - outer.top, 480);

    // The controls, in creation order from identifier 501. The selector's closed box is as high
    // as the system makes it; the preview follows the size of its picture.
    const ControlSpec controls[] = {
        {kGalleryId, 0, "ListBox", nullptr, {0, 0, 280, 440}},
        {kSelectorId, 0, "ComboBox", L"1", {230, 420, 280, -1}},
        {kPreviewId, 0, "EDrawBar", nullptr, {285, 0, -1, -1}},
        {kGroupId, 0, "Button", L"", {285, 300, 585, 440}},
        {kTextLabelId, kGroupId, "Static", L"文本：", {12, 14, 48, 34}},
        {kSizeLabelId, kGroupId, "Static", L"尺寸：", {12, 38, 48, 58}},
        {kTextBoxId, kGroupId, "Edit", L"Tambrel", {54, 14, 134, 34}},
        {kSizeBoxId, kGroupId, "Edit", L"0", {54, 38, 134, 58}},
        {kGenerateId, kGroupId, "Button", L"生成", {54, 70, 134, 94}},
        {kSaveId, kGroupId, "Button", L"保存", {54, 98, 134, 122}},
        {kLinkId, kGroupId, "SysLink", L"<a href=\"http://127.0.0.1:8077/\">127.0.0.1:8077/</a>", {180, 118, 280, 142}},
    };
    for (const ControlSpec& c : controls) {
      SCOPED_TRACE(c.id);
      HWND hwnd = tool.control(c.id);
      ASSERT_NE(hwnd, nullptr) << "no control with this identifier";
      EXPECT_EQ(GetParent(hwnd), c.parent_id ? tool.control(c.parent_id) : tool.main());
      EXPECT_EQ(GetDlgCtrlID(hwnd), c.id);
      EXPECT_STRCASEEQ(class_name(hwnd).c_str(), c.window_class);
      if (c.text) { EXPECT_EQ(window_text(hwnd), c.text); }
      const RECT r = rect_in_parent(hwnd);
      EXPECT_EQ(r.left, c.rect.left);
      EXPECT_EQ(r.top, c.rect.top);
      if (c.rect.right >= 0) { EXPECT_EQ(r.right, c.rect.right); }
      if (c.rect.bottom >= 0) { EXPECT_EQ(r.bottom, c.rect.bottom); }
    }
    // The preview was sized to the selected thumbnail, at most 300 x 300.
    const RECT preview = rect_in_parent(tool.control(kPreviewId));
    EXPECT_GT(preview.right - preview.left, 0);
    EXPECT_LE(preview.right - preview.left, 300);
    EXPECT_LE(preview.bottom - preview.top, 300);

    // The page selector lies over the gallery's lower right corner, above it in the z-order,
    // so the corner shows the selector.
    HWND selector = tool.control(kSelectorId);
    int selector_place = -1, gallery_place = -1, place = 0;
    for (HWND w = GetWindow(tool.main(), GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT), ++place) {
      if (w == selector) selector_place = place;
      if (w == tool.list()) gallery_place = place;
    }
    EXPECT_GE(selector_place, 0);
    EXPECT_LT(selector_place, gallery_place) << "the selector is below the gallery";
    for (POINT corner : {POINT{232, 422}, POINT{255, 430}, POINT{278, 438}}) {
      ClientToScreen(tool.main(), &corner);
      EXPECT_EQ(WindowFromPoint(corner), selector);
    }

    // Page 1: templates 368 to 365, row 1 selected, the selector on "1" of 70 pages.
    EXPECT_THAT(tool.rows(), ElementsAreArray(page_rows(1)));
    EXPECT_EQ(tool.selected_row(), 1);
    EXPECT_EQ(tool.selector_count(), 70);
    EXPECT_EQ(tool.selector_index(), 0);
    EXPECT_TRUE(wait_for_fill(tool, 1, is_selected_fill)) << "row 1 is not drawn selected";
    for (int row : {2, 3, 4}) EXPECT_TRUE(wait_for_fill(tool, row, is_normal_fill)) << row;

    // The cache: a fresh "tmp" folder holding the four thumbnails, exactly as served.
    EXPECT_THAT(list_files(tool.cache_folder()), ElementsAreArray(first_page_files));
    for (const std::string& name : first_page_files) {
      SCOPED_TRACE(name);
      const HttpResult served = http_get(kServicePort, "/maker/thumbnails/" + name);
      ASSERT_EQ(served.status, 200);
      EXPECT_FALSE(served.body.empty());
      EXPECT_TRUE(read_file(tool.cache_folder() + "\\" + name) == served.body) << "cached bytes differ";
    }

    // One update check; the service says 1.0, so no box.
    ASSERT_TRUE(service().wait_for_target("/check/", 0, seconds(20))) << "no update check";
    EXPECT_EQ(tool.wait_for_dialog(milliseconds(1500)), nullptr) << "a box appeared for the current version";

    // A second activation loads nothing: go to page 2, take the activation away and give it
    // back; the page, the selector's 70 entries and the one update check stay.
    tool.choose_page(1);
    ASSERT_TRUE(tool.wait_for_rows(page_rows(2)));
    {
      OwnWindow other;
      ASSERT_NE(other.hwnd(), nullptr);
      SetForegroundWindow(other.hwnd());
      EXPECT_TRUE(wait_until([&] { return GetForegroundWindow() == other.hwnd(); }, seconds(5)));
      SetForegroundWindow(tool.main());
      EXPECT_TRUE(wait_until([&] { return GetForegroundWindow() == tool.main(); }, seconds(5)))
          << "the main window was not activated again";
    }
    EXPECT_TRUE(tool.responsive());
    EXPECT_THAT(tool.rows(), ElementsAreArray(page_rows(2)));
    EXPECT_EQ(tool.selector_count(), 70);
    EXPECT_EQ(tool.selector_index(), 1);
    // Give a second update thread time to be seen before counting.
    EXPECT_FALSE(wait_until([] { return service().count_targets_starting_with("/check/") > 1; }, seconds(2)))
        << "a second update check ran";
    EXPECT_EQ(service().count_targets_starting_with("/check/"), 1u);

    // Closing ends the process with exit code 0.
    const auto closing = Clock::now();
    const std::optional<DWORD> code = tool.close();
    ASSERT_TRUE(code.has_value()) << "the process did not end after the window was closed";
    EXPECT_EQ(*code, 0u);
    std::printf("close to process end: %lld ms\n",
                static_cast<long long>(std::chrono::duration_cast<milliseconds>(Clock::now() - closing).count()));
  }

  // Second run, same folder, service stopped: page 1 comes from the cache, with pictures.
  ASSERT_TRUE(service().stop());
  const std::string cached_368 = read_file(folder + "\\tmp\\" + thumbnail_file(2));
  // What a run that ended between writing a thumbnail and putting it in place leaves behind
  // (its writer's process id is one no process has): the start clears it from the cache.
  const std::string abandoned = folder + "\\tmp\\" + thumbnail_file(2) + ".~tmbfffffff0-7";
  std::ofstream(abandoned, std::ios::binary) << "half a picture";
  ASSERT_TRUE(file_exists(abandoned));
  Tool tool(tool_path(), folder);
  ASSERT_TRUE(tool.started());
  ASSERT_TRUE(tool.wait_for_page());
  EXPECT_THAT(tool.rows(), ElementsAreArray(page_rows(1)));
  EXPECT_FALSE(file_exists(abandoned)) << "an abandoned write was left in the cache";
  for (int row = 1; row <= 4; ++row) {
    SCOPED_TRACE(row);
    const RECT r = tool.row_rect(row);
    const RECT inside{8, r.top + 8, 76, r.top + 76};  // inside the thumbnail's frame
    EXPECT_TRUE(wait_until(
        [&] { return ScreenShot(tool.list(), r).count([](Rgb c) { return !is_near_white(c); },
                                                      RECT{inside.left, 8, inside.right, 76}) >= 100; },
        seconds(5)))
        << "the row shows no picture";
  }
  const DecodedPicture thumbnail(cached_368);
  ASSERT_TRUE(thumbnail.ok());
  ASSERT_TRUE(wait_until([&] { return match_preview(tool, thumbnail).good(); }, seconds(5)))
      << match_preview(tool, thumbnail);
  HWND preview = tool.control(kPreviewId);
  RECT preview_client{};
  GetClientRect(preview, &preview_client);
  const ScreenShot before(preview, preview_client);

  // Generation without the service: the box, the preview keeps its picture, the cache file
  // is untouched.
  tool.press(kGenerateId);
  HWND box = tool.wait_for_dialog(seconds(20));
  ASSERT_NE(box, nullptr) << "no message for a failed generation";
  MessageBoxView view = read_message_box(box);
  EXPECT_EQ(view.title, L"信息");
  EXPECT_EQ(view.text, L"图章生成失败，至少输入两个字符！");
  EXPECT_EQ(GetWindow(box, GW_OWNER), nullptr);
  press_dialog_button(box, IDOK);
  ASSERT_TRUE(wait_until([&] { return tool.dialogs().empty(); }, seconds(5)));
  EXPECT_TRUE(wait_until([&] { return ScreenShot(preview, preview_client) == before; }, seconds(5)))
      << "the preview lost its picture";
  EXPECT_TRUE(read_file(folder + "\\tmp\\" + thumbnail_file(2)) == cached_368);

  // A server that accepts and never answers: the window answers again after the request's
  // time-out, with the same message.
  {
    SilentServer silent;
    ASSERT_TRUE(silent.listening());
    const auto pressed = Clock::now();
    tool.press(kGenerateId);
    box = tool.wait_for_dialog(seconds(40));
    const auto waited = std::chrono::duration_cast<milliseconds>(Clock::now() - pressed);
    ASSERT_NE(box, nullptr) << "no message after a request that was never answered";
    std::printf("generation against a server that never answers: %lld ms\n", static_cast<long long>(waited.count()));
    EXPECT_LE(waited.count(), 20000) << "the request was not bounded at about 15 s";
    EXPECT_GE(silent.accepted(), 1) << "the request never reached the listener";
    EXPECT_TRUE(tool.responsive(seconds(2)));
    EXPECT_EQ(read_message_box(box).text, L"图章生成失败，至少输入两个字符！");
    press_dialog_button(box, IDOK);
    ASSERT_TRUE(wait_until([&] { return tool.dialogs().empty(); }, seconds(5)));
    EXPECT_TRUE(wait_until([&] { return ScreenShot(preview, preview_client) == before; }, seconds(5)));
    const std::optional<DWORD> code = tool.close();
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 0u);
  }
}

// ---- paging and hover ---------------------------------------------------------------------------

// A first start while the service is down, then paging and hover once it is up.
TEST_F(EndToEnd, OfflineFirstStartThenPagingAndHover) {
  Tool tool(tool_path(), fresh_folder("paging"));
  ASSERT_TRUE(tool.started());
  ASSERT_TRUE(tool.wait_for_page());

  // No thumbnails to be had: the rows show no pictures, and nothing is cached (an empty file
  // would stand for the template from then on).
  EXPECT_THAT(tool.rows(), ElementsAreArray(page_rows(1)));
  for (int row = 1; row <= 4; ++row) {
    SCOPED_TRACE(row);
    const RECT r = tool.row_rect(row);
    EXPECT_TRUE(wait_until([&] { return ScreenShot(tool.list(), r).count([](Rgb c) { return !is_near_white(c); },
                                                                         RECT{8, 8, 76, 76}) == 0; },
                           seconds(5)))
        << "the row shows a picture it cannot have";
  }
  EXPECT_THAT(list_files(tool.cache_folder()), testing::IsEmpty());
  // Saving a row without a picture says so and writes nothing.
  tool.press(kSaveId);
  HWND box = tool.wait_for_dialog(seconds(10));
  ASSERT_NE(box, nullptr) << "no message when saving a row without a picture";
  EXPECT_EQ(save_dialog_name_box(box), nullptr) << "a save dialog opened for a row without a picture";
  EXPECT_EQ(read_message_box(box).title, L"信息");
  EXPECT_FALSE(read_message_box(box).text.empty());
  press_dialog_button(box, IDOK);
  ASSERT_TRUE(wait_until([&] { return tool.dialogs().empty(); }, seconds(5)));

  // With the service up, showing page 1 again fetches and caches its thumbnails.
  ASSERT_TRUE(service().start());
  tool.choose_page(1);
  ASSERT_TRUE(tool.wait_for_rows(page_rows(2)));
  tool.choose_page(0);
  ASSERT_TRUE(tool.wait_for_rows(page_rows(1)));
  EXPECT_EQ(list_files(tool.cache_folder()).size(), 8u) << "pages 1 and 2 were not cached";
  EXPECT_TRUE(file_exists(tool.cache_folder() + "\\" + thumbnail_file(2)));
  expect_row_pictures(tool);

  // Entry "10" of the selector: catalogue positions 38 to 41.
  auto title = [](int position) { return gbk_to_wide(app::TemplateCatalog[position].title.c_str()); };
  tool.choose_page(9);
  ASSERT_TRUE(tool.wait_for_rows({L"上一页", title(38), title(39), title(40), title(41), L"下一页"}))
      << "entry 10 did not show catalogue positions 38 to 41";
  EXPECT_EQ(tool.selector_text(), L"10");

  // "下一页" on page 69 shows page 70 and moves the selector to "70".
  tool.choose_page(68);
  ASSERT_TRUE(tool.wait_for_rows(page_rows(69)));
  tool.click_row(5);
  ASSERT_TRUE(tool.wait_for_rows(page_rows(70))) << "下一页 on page 69 did not show page 70";
  EXPECT_EQ(tool.selector_text(), L"70");
  EXPECT_EQ(tool.selector_index(), 69);

  // Navigation rows at the ends change only the selection, back to row 1.
  struct EndCase {
    int page;
    int navigation_row;
    const wchar_t* selector;
  };
  for (const EndCase& c : {EndCase{70, 5, L"70"}, EndCase{1, 0, L"1"}}) {
    SCOPED_TRACE(c.page);
    if (tool.selector_index() != c.page - 1) {
      tool.choose_page(c.page - 1);
      ASSERT_TRUE(tool.wait_for_rows(page_rows(c.page)));
    }
    tool.click_row(3);
    ASSERT_TRUE(wait_until([&] { return tool.selected_row() == 3; }, seconds(5))) << "a row click did not select";
    tool.click_row(c.navigation_row);
    ASSERT_TRUE(wait_until([&] { return tool.selected_row() == 1; }, seconds(10)));
    EXPECT_THAT(tool.rows(), ElementsAreArray(page_rows(c.page)));
    EXPECT_EQ(tool.selector_text(), c.selector);
    EXPECT_TRUE(wait_for_fill(tool, 1, is_selected_fill));
    EXPECT_TRUE(wait_for_fill(tool, 3, is_normal_fill));
  }

  // Hover: the row under the pointer is drawn in the hover colours, the one left behind is
  // drawn normal again, and leaving the list restores the last one; the selected row stays.
  // A hand on the mouse sends several moves inside a row; two are enough.
  ASSERT_TRUE(wait_for_fill(tool, 2, is_normal_fill));
  hover_over(tool, 2);
  EXPECT_TRUE(wait_for_fill(tool, 2, is_hover_fill)) << "row 2 is not drawn hovered";
  hover_over(tool, 3);
  EXPECT_TRUE(wait_for_fill(tool, 3, is_hover_fill)) << "row 3 is not drawn hovered";
  EXPECT_TRUE(wait_for_fill(tool, 2, is_normal_fill)) << "row 2 kept its hover colours";
  hover_over(tool, 1);  // the selected row
  EXPECT_TRUE(wait_for_fill(tool, 3, is_normal_fill)) << "row 3 kept its hover colours";
  EXPECT_TRUE(wait_for_fill(tool, 1, is_selected_fill));
  hover_over(tool, 4);
  EXPECT_TRUE(wait_for_fill(tool, 4, is_hover_fill));
  move_pointer_away();
  EXPECT_TRUE(wait_for_fill(tool, 4, is_normal_fill)) << "leaving the list did not restore row 4";
  EXPECT_TRUE(wait_for_fill(tool, 1, is_selected_fill));

  const std::optional<DWORD> code = tool.close();
  ASSERT_TRUE(code.has_value());
  EXPECT_EQ(*code, 0u);
}

// ---- generation and saving --------------------------------------------------------------------

// What the tool sends for a stamp text: UTF-8, percent-encoded except the unreserved characters.
// Template 368 holds four character cells (two Latin letters to a cell); for a longer text the
// service answers with an error and no picture path, which the tool must treat as a failed
// generation.
struct GenerationCase {
  const wchar_t* text;
  const char* encoded;
  bool renders;
};

TEST_F(EndToEnd, GenerationAndSaving) {
  ASSERT_TRUE(service().start());
  const std::string folder = fresh_folder("generate");
  const std::string out = fresh_folder("saved");
  Tool tool(tool_path(), folder);
  ASSERT_TRUE(tool.started());
  ASSERT_TRUE(tool.wait_for_page());
  const std::string cache_file = tool.cache_folder() + "\\" + thumbnail_file(2);  // template 368, row 1
  std::string row_picture = read_file(cache_file);  // what row 1 shows: its thumbnail so far
  ASSERT_FALSE(row_picture.empty());

  const GenerationCase cases[] = {
      {L"Tambrel", "Tambrel", true},                        // the text the tool starts with
      {L"甲乙丙丁戊", "%E7%94%B2%E4%B9%99%E4%B8%99%E4%B8%81%E6%88%8A", false},  // too long for 368
      {L"张&三", "%E5%BC%A0%26%E4%B8%89", true},            // "&" must not end the value
      {L"甲 #乙", "%E7%94%B2%20%23%E4%B9%99", true},        // nor may a space or "#"
      {L"+=丙", "%2B%3D%E4%B8%99", true},                   // nor "+" or "="
  };
  for (const GenerationCase& c : cases) {
    SCOPED_TRACE(c.encoded);
    tool.set_text(kTextBoxId, c.text);
    HWND preview = tool.control(kPreviewId);
    RECT preview_client{};
    GetClientRect(preview, &preview_client);
    const ScreenShot before(preview, preview_client);
    const size_t mark = service().targets().size();
    tool.press(kGenerateId);

    const std::optional<std::string> request = service().wait_for_target("/aosbegin.php", mark, seconds(20));
    ASSERT_TRUE(request) << "the service saw no generation request";
    const std::string expected_prefix = std::string("/aosbegin.php?text=") + c.encoded + "&id=368&signsize=0&rnd=";
    ASSERT_EQ(request->substr(0, expected_prefix.size()), expected_prefix);
    EXPECT_TRUE(std::regex_match(request->substr(expected_prefix.size()), std::regex("0\\.[1-9]|1"))) << *request;

    if (!c.renders) {
      // No picture path in the reply: the message, nothing fetched, nothing written, and the
      // row and the preview keep the picture they had.
      HWND box = tool.wait_for_dialog(seconds(20));
      ASSERT_NE(box, nullptr) << "no message for a reply without a picture";
      EXPECT_EQ(read_message_box(box).text, L"图章生成失败，至少输入两个字符！");
      press_dialog_button(box, IDOK);
      ASSERT_TRUE(wait_until([&] { return tool.dialogs().empty(); }, seconds(5)));
      EXPECT_THAT(service().targets_since(mark), ElementsAreArray({*request}));
      EXPECT_TRUE(read_file(cache_file) == row_picture);
      const DecodedPicture kept(row_picture);
      EXPECT_TRUE(wait_until([&] { return match_preview(tool, kept).good(); }, seconds(5)))
          << match_preview(tool, kept);
      continue;
    }

    // The service read the text whole: the picture path it answered with names the same text.
    const std::optional<std::string> picture_target = service().wait_for_target("/stamp/", mark, seconds(20));
    ASSERT_TRUE(picture_target) << "the tool did not fetch the picture; the service saw: "
                                << testing::PrintToString(service().targets_since(mark))
                                << (tool.dialogs().empty() ? "" : "; a box is open");
    EXPECT_EQ(*picture_target, std::string("/stamp/368/0/") + c.encoded + ".png");
    const HttpResult served = http_get(kServicePort, *picture_target);
    ASSERT_EQ(served.status, 200);
    const DecodedPicture stamp(served.body);
    ASSERT_TRUE(stamp.ok());

    // The preview shows the stamp as the service drew it, and the cache holds it.
    EXPECT_TRUE(wait_until(
        [&] {
          RECT now{};
          GetClientRect(preview, &now);
          return !(ScreenShot(preview, now) == before);
        },
        seconds(10)))
        << "the preview was not redrawn";
    PreviewMatch match;
    EXPECT_TRUE(wait_until([&] { return (match = match_preview(tool, stamp)).good(); }, seconds(10))) << match;
    EXPECT_EQ(match.width, std::min(stamp.width(), 300));
    EXPECT_EQ(match.height, std::min(stamp.height(), 300));
    EXPECT_TRUE(wait_until([&] { return read_file(cache_file) == served.body; }, seconds(5)))
        << "the cache file does not hold the stamp";
    EXPECT_TRUE(tool.dialogs().empty()) << "a box appeared for a good generation";
    row_picture = served.body;
  }

  // Saving writes the row's picture (the last stamp) byte for byte; the proposed name comes
  // from the text box.
  tool.set_text(kTextBoxId, L"Tambrel");
  auto open_save_dialog = [&]() -> HWND {
    tool.press(kSaveId);
    return tool.wait_for_dialog(seconds(10), [](HWND d) { return save_dialog_name_box(d) != nullptr; });
  };
  HWND dialog = open_save_dialog();
  ASSERT_NE(dialog, nullptr) << "no save dialog";
  HWND name = save_dialog_name_box(dialog);
  EXPECT_EQ(window_text(name), L"Tambrel.png");
  // A name without an extension gets ".png".
  const std::wstring typed = gbk_to_wide(out + "\\stamp");
  SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(typed.c_str()));
  PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  EXPECT_TRUE(wait_until([&] { return read_file(out + "\\stamp.png") == row_picture; }, seconds(10)))
      << "the saved file is not the served picture";
  ASSERT_TRUE(wait_until([&] { return tool.dialogs().empty(); }, seconds(5)));
  EXPECT_THAT(list_files(out), ElementsAreArray({std::string("stamp.png")}));

  // Cancel writes nothing, anywhere the tool could have put "Tambrel.png".
  const std::vector<std::string> tool_files = list_files(folder);
  dialog = open_save_dialog();
  ASSERT_NE(dialog, nullptr);
  PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  ASSERT_TRUE(wait_until([&] { return tool.dialogs().empty(); }, seconds(5)));
  EXPECT_TRUE(tool.responsive(seconds(10)));  // a dialog takes a while to go away without a window manager
  EXPECT_THAT(list_files(out), ElementsAreArray({std::string("stamp.png")}));
  EXPECT_EQ(list_files(folder), tool_files);

  const std::optional<DWORD> code = tool.close();
  ASSERT_TRUE(code.has_value());
  EXPECT_EQ(*code, 0u);
}

// ---- update check -------------------------------------------------------------------------------

struct UpdateCase {
  const char* name;
  ServiceOptions service;
  const wchar_t* title;
  const wchar_t* text;
  int answer;  // the button pressed
};

TEST_F(EndToEnd, UpdateCheckBoxes) {
  const UpdateCase cases[] = {
      {"newer version", {"1.1", 0}, L"发现新版本！",
       L"\r\n当前版本：1.0\r\n最新版本：1.1\r\n\r\n是否打开下载页面？", IDNO},
      {"expired key", {"1.0", -90000}, L"信息", L"无法解密数据,Key时间错误", IDOK},
  };
  for (const UpdateCase& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(service().start(c.service));
    const size_t mark = service().targets().size();
    Tool tool(tool_path(), fresh_folder("update"));
    ASSERT_TRUE(tool.started());
    ASSERT_TRUE(tool.wait_for_page());
    HWND box = tool.wait_for_dialog(seconds(20));
    ASSERT_NE(box, nullptr) << "no box";
    const MessageBoxView view = read_message_box(box);
    EXPECT_EQ(view.title, c.title);
    EXPECT_EQ(view.text, c.text);
    EXPECT_EQ(GetWindow(box, GW_OWNER), nullptr);
    EXPECT_NE(GetDlgItem(box, c.answer), nullptr);
    if (c.answer == IDNO) { EXPECT_NE(GetDlgItem(box, IDYES), nullptr); }
    press_dialog_button(box, c.answer);
    EXPECT_TRUE(wait_until([&] { return tool.dialogs().empty(); }, seconds(5)));
    EXPECT_TRUE(tool.responsive());
    const std::vector<std::string> seen = service().targets_since(mark);
    EXPECT_EQ(std::count_if(seen.begin(), seen.end(),
                            [](const std::string& t) { return t.rfind("/check/", 0) == 0; }),
              1);
    const std::optional<DWORD> code = tool.close();
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 0u);
    EXPECT_FALSE(service().wait_for_target("/download", mark, milliseconds(0))) << "the download page was opened";
    ASSERT_TRUE(service().stop());
  }
}

}  // namespace

// ---- waits: the window takes no input while a request waits or the save dialog is open ----------

namespace {

constexpr uint16_t kBackendPort = 18077;  // the real service, behind the stand-in on the tool's port

// The screen point of a control's centre, in its own client coordinates.
POINT centre_of(HWND hwnd) {
  RECT r{};
  GetClientRect(hwnd, &r);
  return POINT{r.right / 2, r.bottom / 2};
}

void click_row_by_hand(const Tool& tool, int row) {
  const RECT r = tool.row_rect(row);
  click_at(tool.list(), POINT{50, (r.top + r.bottom) / 2});
}

// Rows 1 to 4 show titles drawn in some font: dark pixels right of the thumbnail.
int title_ink(const Tool& tool, int row) {
  const RECT r = tool.row_rect(row);
  ScreenShot shot(tool.list(), RECT{100, r.top + 4, 270, r.top + 26});
  return shot.count([](Rgb c) { return c.r < 120 && c.g < 120 && c.b < 120; }, RECT{0, 0, 170, 22});
}

// A block of bytes that no picture decoder takes: random, with no picture signature in front.
std::string random_bytes(size_t n) {
  std::string s(n, '\0');
  uint32_t x = 2463534242u;
  for (char& c : s) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  s[0] = 'R';
  return s;
}

}  // namespace

// The three ways in which the tool used to run a handler again in the middle of a wait, all
// with real input (posted messages would reach a disabled window all the same): "生成" while
// page 1 still loads its thumbnails, "下一页" behind the open save dialog, "下一页" and typing
// while a generation waits for a slow service. Then a reply that is no picture.
TEST_F(EndToEnd, WaitsTakeNoInputAndKeepTheRightRow) {
  ServiceOptions backend;
  backend.port = kBackendPort;
  ASSERT_TRUE(service().start(backend));
  StandInServer stand_in(kBackendPort);
  ASSERT_TRUE(stand_in.listening());
  // Page 1 takes about 2.4 s to load: time to press "生成" by hand in the middle of it.
  stand_in.set_rules({{"/maker/thumbnails/", milliseconds(600), std::nullopt}});
  const std::string folder = fresh_folder("waits");
  const std::string out = fresh_folder("waits-saved");
  Tool tool(tool_path(), folder);
  ASSERT_TRUE(tool.started());
  ASSERT_TRUE(stand_in.wait_for_target("/maker/thumbnails/", 0, seconds(30))) << "page 1 was never asked for";
  const DWORD process = tool.pid();

  // 1. "生成" while page 1 loads: the window takes no input (the cursor shows the wait); no
  //    request, no fatal error, and the page completes.
  EXPECT_FALSE(IsWindowEnabled(tool.main())) << "the window takes input while page 1 loads";
  click_at(tool.control(kGenerateId), centre_of(tool.control(kGenerateId)));
  ASSERT_TRUE(tool.wait_for_page()) << "page 1 did not complete";
  EXPECT_TRUE(wait_until([&] { return IsWindowEnabled(tool.main()) != FALSE; }, seconds(5)));
  EXPECT_THAT(tool.rows(), ElementsAreArray(page_rows(1)));
  EXPECT_TRUE(tool.responsive(seconds(2)));
  EXPECT_TRUE(tool.running());
  EXPECT_TRUE(tool.dialogs().empty()) << "a box appeared: " << (tool.dialogs().empty() ? L"" : read_message_box(tool.dialogs().front()).text);
  EXPECT_EQ(stand_in.count_targets_starting_with("/aosbegin.php"), 0u) << "a generation ran while page 1 loaded";
  EXPECT_EQ(list_files(tool.cache_folder()).size(), 4u);
  stand_in.set_rules({});

  const std::string cache_file = tool.cache_folder() + "\\" + thumbnail_file(2);  // template 368, row 1
  const std::string thumbnail = read_file(cache_file);
  ASSERT_FALSE(thumbnail.empty());

  // 2. "保存" before any generation, "下一页" behind the dialog, then OK: the dialog is modal to
  //    the main window, the page stays, and the file holds the thumbnail's bytes.
  tool.press(kSaveId);
  HWND dialog = tool.wait_for_dialog(seconds(10), [](HWND d) { return save_dialog_name_box(d) != nullptr; });
  ASSERT_NE(dialog, nullptr) << "no save dialog";
  EXPECT_EQ(GetWindow(dialog, GW_OWNER), tool.main()) << "the save dialog has no owner";
  EXPECT_FALSE(IsWindowEnabled(tool.main()));
  // Without a window manager the dialog may open over the gallery: out of the way with it.
  SetWindowPos(dialog, nullptr, 700, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  click_row_by_hand(tool, 5);
  EXPECT_FALSE(wait_until([&] { return tool.rows() != page_rows(1); }, milliseconds(1500)))
      << "下一页 changed the page behind the save dialog";
  const std::wstring name = gbk_to_wide(out + "\\before-generation.png");
  SendMessageW(save_dialog_name_box(dialog), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name.c_str()));
  PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  EXPECT_TRUE(wait_until([&] { return read_file(out + "\\before-generation.png") == thumbnail; }, seconds(10)))
      << "the saved file is not the thumbnail";
  ASSERT_TRUE(wait_until([&] { return tool.dialogs().empty(); }, seconds(5)));
  EXPECT_TRUE(tool.responsive(seconds(10)));
  EXPECT_TRUE(tool.running());
  EXPECT_THAT(tool.rows(), ElementsAreArray(page_rows(1)));
  EXPECT_EQ(tool.selector_index(), 0);

  // 3. "生成" against a service that answers after 2 s, with the focus in the text box; during
  //    the wait "下一页" by hand, keys typed and space (which would press a focused button). The
  //    stamp goes into template 368's cache file, row and preview; nothing else changes, and
  //    the focus comes back to the text box.
  HWND text_box = tool.control(kTextBoxId);
  click_at(text_box, centre_of(text_box));
  ASSERT_TRUE(wait_until([&] { return focus_of(tool.main()) == text_box; }, seconds(5))) << "the text box took no focus";
  stand_in.set_rules({{"/aosbegin.php", milliseconds(2000), std::nullopt}});
  const size_t mark = stand_in.targets().size();
  // The button's notification, as a click sends it, but without the click moving the focus to
  // the button (as a posted BM_CLICK would).
  PostMessageW(tool.control(kGroupId), WM_COMMAND, MAKEWPARAM(kGenerateId, BN_CLICKED),
               reinterpret_cast<LPARAM>(tool.control(kGenerateId)));
  ASSERT_TRUE(stand_in.wait_for_target("/aosbegin.php", mark, seconds(10))) << "no generation request";
  EXPECT_FALSE(IsWindowEnabled(tool.main())) << "the window takes input while the generation waits";
  EXPECT_NE(focus_of(tool.main()), text_box) << "the text box keeps the keyboard during the wait";
  click_row_by_hand(tool, 5);
  type_keys("xy ");
  const std::optional<std::string> picture_target = stand_in.wait_for_target("/stamp/", mark, seconds(20));
  ASSERT_TRUE(picture_target) << "the picture was not fetched";
  const HttpResult served = http_get(kBackendPort, *picture_target);
  ASSERT_EQ(served.status, 200);
  EXPECT_TRUE(wait_until([&] { return read_file(cache_file) == served.body; }, seconds(10)))
      << "the stamp is not in template 368's cache file";
  EXPECT_TRUE(wait_until([&] { return IsWindowEnabled(tool.main()) != FALSE; }, seconds(5)));
  EXPECT_TRUE(tool.responsive(seconds(2)));
  EXPECT_TRUE(tool.running());
  EXPECT_THAT(tool.rows(), ElementsAreArray(page_rows(1))) << "下一页 was taken during the wait";
  EXPECT_EQ(tool.selected_row(), 1);
  EXPECT_EQ(tool.selector_index(), 0);
  EXPECT_EQ(window_text(text_box), L"Tambrel") << "keys were typed into the text box during the wait";
  EXPECT_EQ(stand_in.count_targets_starting_with("/aosbegin.php"), 1u) << "a second generation ran";
  EXPECT_TRUE(tool.dialogs().empty());
  EXPECT_TRUE(wait_until([&] { return focus_of(tool.main()) == text_box; }, seconds(5)))
      << "the focus did not come back to the text box; focus " << focus_of(tool.main()) << ", text box " << text_box
      << ", main " << tool.main() << ", active " << [&] {
           GUITHREADINFO info{};
           info.cbSize = sizeof info;
           GetGUIThreadInfo(GetWindowThreadProcessId(tool.main(), nullptr), &info);
           return info.hwndActive;
         }();
  const DecodedPicture stamp(served.body);
  ASSERT_TRUE(stamp.ok());
  EXPECT_TRUE(wait_until([&] { return match_preview(tool, stamp).good(); }, seconds(10))) << match_preview(tool, stamp);

  // Saving over an existing file (the thumbnail saved above) replaces it once the user agrees.
  tool.press(kSaveId);
  dialog = tool.wait_for_dialog(seconds(10), [](HWND d) { return save_dialog_name_box(d) != nullptr; });
  ASSERT_NE(dialog, nullptr) << "no save dialog";
  SendMessageW(save_dialog_name_box(dialog), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name.c_str()));
  PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  HWND prompt = tool.wait_for_dialog(seconds(10), [](HWND d) { return save_dialog_name_box(d) == nullptr; });
  ASSERT_NE(prompt, nullptr) << "no overwrite prompt";
  press_dialog_button(prompt, IDYES);
  EXPECT_TRUE(wait_until([&] { return read_file(out + "\\before-generation.png") == served.body; }, seconds(10)))
      << "the existing file was not replaced by the stamp";
  EXPECT_TRUE(wait_until([&] { return tool.dialogs().empty(); }, seconds(5))) << "a dialog stayed open (a prompt?)";
  EXPECT_THAT(list_files(out), ElementsAreArray({std::string("before-generation.png")}));
  EXPECT_TRUE(tool.responsive(seconds(10)));

  // 4. A 20 MB reply that is no picture: the failure message; the cache file, the row and the
  //    preview keep the stamp.
  stand_in.set_rules({{"/stamp/", milliseconds(0), random_bytes(20u << 20)}});
  const size_t mark2 = stand_in.targets().size();
  tool.press(kGenerateId);
  HWND box = tool.wait_for_dialog(seconds(30));
  ASSERT_NE(box, nullptr) << "no message for a reply that is no picture";
  EXPECT_TRUE(stand_in.wait_for_target("/stamp/", mark2, milliseconds(0))) << "the picture was not fetched";
  EXPECT_EQ(read_message_box(box).text, L"图章生成失败，至少输入两个字符！");
  press_dialog_button(box, IDOK);
  ASSERT_TRUE(wait_until([&] { return tool.dialogs().empty(); }, seconds(5)));
  EXPECT_TRUE(read_file(cache_file) == served.body) << "the reply was stored as the template's picture";
  EXPECT_TRUE(wait_until([&] { return match_preview(tool, stamp).good(); }, seconds(10))) << match_preview(tool, stamp);
  // The row still draws its picture.
  EXPECT_GE(ScreenShot(tool.list(), tool.row_rect(1)).count([](Rgb c) { return is_red(c); }, RECT{8, 8, 76, 76}), 50);

  // 5. Thumbnails that are no picture (an error page) are not cached; the next showing fetches
  //    them again.
  stand_in.set_rules({{"/maker/thumbnails/", milliseconds(0), std::string("<html>503</html>")}});
  tool.choose_page(1);
  ASSERT_TRUE(tool.wait_for_rows(page_rows(2)));
  EXPECT_EQ(list_files(tool.cache_folder()).size(), 4u) << "an error page was cached as a thumbnail";
  stand_in.set_rules({});
  tool.choose_page(0);
  ASSERT_TRUE(tool.wait_for_rows(page_rows(1)));
  tool.choose_page(1);
  ASSERT_TRUE(tool.wait_for_rows(page_rows(2)));
  EXPECT_EQ(list_files(tool.cache_folder()).size(), 8u) << "page 2 was not fetched again";

  const std::optional<DWORD> code = tool.close();
  ASSERT_TRUE(code.has_value()) << "process " << process << " did not end";
  EXPECT_EQ(*code, 0u);
}

// ---- fonts ----------------------------------------------------------------------------------------

namespace {

// Takes the prefix's mapping of the row font away for the processes started while it lives
// (the prefix maps "微软雅黑", which is not installed, to an installed face); puts it back after.
class RowFontUnmapped {
 public:
  RowFontUnmapped() {
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key_) != ERROR_SUCCESS) {
      key_ = nullptr;
      return;
    }
    wchar_t value[256] = {};
    DWORD size = sizeof value - sizeof(wchar_t);
    DWORD type = 0;
    if (RegQueryValueExW(key_, kFace, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS &&
        type == REG_SZ) {
      saved_ = value;
    }
    RegDeleteValueW(key_, kFace);
  }
  ~RowFontUnmapped() {
    if (!key_) return;
    if (!saved_.empty()) {
      RegSetValueExW(key_, kFace, 0, REG_SZ, reinterpret_cast<const BYTE*>(saved_.c_str()),
                     static_cast<DWORD>((saved_.size() + 1) * sizeof(wchar_t)));
    }
    RegCloseKey(key_);
  }
  bool unmapped() const {
    return key_ && RegQueryValueExW(key_, kFace, nullptr, nullptr, nullptr, nullptr) == ERROR_FILE_NOT_FOUND;
  }

 private:
  static constexpr const wchar_t* kKey = L"Software\\Wine\\Fonts\\Replacements";
  static constexpr const wchar_t* kFace = L"微软雅黑";
  HKEY key_ = nullptr;
  std::wstring saved_;
};

}  // namespace

// Where "微软雅黑" is not installed, the rows are drawn in the face the system maps it to: every
// row shows its title (the controls fall back by themselves).
TEST_F(EndToEnd, RowsShowTheirTitlesWithoutTheRowFont) {
  RowFontUnmapped unmapped;
  ASSERT_TRUE(unmapped.unmapped()) << "the prefix still maps the row font";
  Tool tool(tool_path(), fresh_folder("fonts"));  // no service: rows without pictures, quickly
  ASSERT_TRUE(tool.started());
  ASSERT_TRUE(tool.wait_for_page());
  EXPECT_THAT(tool.rows(), ElementsAreArray(page_rows(1)));
  for (int row = 0; row < 6; ++row) {
    SCOPED_TRACE(row);
    EXPECT_TRUE(wait_until([&] { return title_ink(tool, row) >= 20; }, seconds(5)))
        << "row " << row << " shows no title (" << title_ink(tool, row) << " dark pixels)";
  }
  const std::optional<DWORD> code = tool.close();
  ASSERT_TRUE(code.has_value());
  EXPECT_EQ(*code, 0u);
}

// ---- the shell --------------------------------------------------------------------------------------

namespace {

// Points the prefix's "open" command of http addresses at a recorder (cmd appending the address
// to a file) instead of the browser, for as long as it lives; puts the old command back after.
class HttpOpenRecorded {
 public:
  explicit HttpOpenRecorded(const std::string& record_file) {
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, L"http\\shell\\open\\command", 0, nullptr, 0,
                        KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key_, nullptr) != ERROR_SUCCESS) {
      key_ = nullptr;
      return;
    }
    wchar_t value[1024] = {};
    DWORD size = sizeof value - sizeof(wchar_t);
    DWORD type = 0;
    had_value_ = RegQueryValueExW(key_, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS;
    saved_ = value;
    saved_type_ = type;
    const std::wstring command = L"C:\\windows\\system32\\cmd.exe /c echo %1>>" + gbk_to_wide(record_file);
    set(command, REG_SZ);
  }
  ~HttpOpenRecorded() {
    if (!key_) return;
    if (had_value_) {
      set(saved_, saved_type_);
    } else {
      RegDeleteValueW(key_, nullptr);
    }
    RegCloseKey(key_);
  }
  bool ready() const { return key_ != nullptr; }

 private:
  void set(const std::wstring& v, DWORD type) {
    RegSetValueExW(key_, nullptr, 0, type, reinterpret_cast<const BYTE*>(v.c_str()),
                   static_cast<DWORD>((v.size() + 1) * sizeof(wchar_t)));
  }
  HKEY key_ = nullptr;
  bool had_value_ = false;
  std::wstring saved_;
  DWORD saved_type_ = REG_SZ;
};

}  // namespace

// "Yes" in the update box opens the download page, and the link opens the home page, through
// the shell (observed through the prefix's command for http addresses, no browser opens).
TEST_F(EndToEnd, TheShellOpensTheDownloadAndHomePages) {
  const std::string record = fresh_folder("shell") + "\\opened.txt";
  HttpOpenRecorded recorder(record);
  ASSERT_TRUE(recorder.ready());
  ServiceOptions newer;
  newer.latest_version = "1.1";
  ASSERT_TRUE(service().start(newer));
  Tool tool(tool_path(), fresh_folder("shell-tool"));
  ASSERT_TRUE(tool.started());
  ASSERT_TRUE(tool.wait_for_page());
  HWND box = tool.wait_for_dialog(seconds(20));
  ASSERT_NE(box, nullptr) << "no update box";
  press_dialog_button(box, IDYES);
  EXPECT_TRUE(wait_until([&] { return read_file(record).find("http://127.0.0.1:8077/download") != std::string::npos; },
                         seconds(15)))
      << "the shell was not asked to open the download page; recorded: " << read_file(record);
  ASSERT_TRUE(wait_until([&] { return tool.dialogs().empty(); }, seconds(5)));

  // The link's text starts at its left edge: a click there is a click on the link.
  HWND link = tool.control(kLinkId);
  click_at(link, POINT{8, 6});
  EXPECT_TRUE(wait_until(
      [&] {
        const std::string r = read_file(record);
        return std::count(r.begin(), r.end(), '\n') >= 2 && r.find("http://127.0.0.1:8077/\r") != std::string::npos;
      },
      seconds(15)))
      << "the shell was not asked to open the home page; recorded: " << read_file(record);
  const std::optional<DWORD> code = tool.close();
  ASSERT_TRUE(code.has_value());
  EXPECT_EQ(*code, 0u);
}

// ---- the first click after a pause ---------------------------------------------------------------

namespace {

// Pauses as a person does between two clicks: nothing happens for that long.
void pause_for(milliseconds length) {
  wait_until([] { return false; }, length);
}

// Presses "生成" with the text in the box and waits until the tool has fetched the picture the
// service rendered for that text and put it into the template's cache file. A box instead (the
// stale answer of a closed connection read as the reply) fails with its text.
void expect_generation(const Tool& tool, const StampService& service, const std::wstring& text,
                       const std::string& encoded, const std::string& cache_file) {
  SCOPED_TRACE(encoded);
  tool.set_text(kTextBoxId, text);
  const size_t mark = service.targets().size();
  tool.press(kGenerateId);
  const std::string picture = std::string("/stamp/368/0/") + encoded + ".png";
  std::optional<std::string> fetched;
  HWND box = nullptr;
  wait_until(
      [&] {
        fetched = service.wait_for_target(picture, mark, milliseconds(0));
        if (!fetched) box = tool.wait_for_dialog(milliseconds(0));
        return fetched || box;
      },
      seconds(25));
  if (box) {
    const std::wstring said = read_message_box(box).text;
    press_dialog_button(box, IDOK);
    FAIL() << "a box instead of the stamp: " << testing::PrintToString(said) << "; the service saw "
           << testing::PrintToString(service.targets_since(mark));
  }
  ASSERT_TRUE(fetched) << "the stamp was never fetched; the service saw "
                       << testing::PrintToString(service.targets_since(mark));
  const HttpResult served = http_get(kServicePort, picture);
  ASSERT_EQ(served.status, 200);
  EXPECT_TRUE(wait_until([&] { return read_file(cache_file) == served.body; }, seconds(10)))
      << "the cache file does not hold the stamp";
  EXPECT_TRUE(tool.dialogs().empty()) << "a box appeared for a good generation";
}

}  // namespace

// The service closes a keep-alive connection that stays idle past its time-out. The request
// after such a pause (a generation, or the thumbnails of a page not seen yet) must get its own
// answer, never whatever the closed connection held: the service runs with a 2 s time-out and
// the tool pauses 3.5 s before each step, several times over.
TEST_F(EndToEnd, GenerationAndPagingAfterAPauseLongerThanTheServiceTimeOut) {
  ServiceOptions quick;
  quick.timeout_ms = 2000;
  ASSERT_TRUE(service().start(quick));
  const size_t launched = service().targets().size();
  Tool tool(tool_path(), fresh_folder("pause"));
  ASSERT_TRUE(tool.started());
  ASSERT_TRUE(tool.wait_for_page());
  ASSERT_TRUE(service().wait_for_target("/check/", launched, seconds(20))) << "no update check";
  const std::string cache_file = tool.cache_folder() + "\\" + thumbnail_file(2);  // template 368, row 1

  const milliseconds pause(3500);
  const char* texts[] = {"ab12", "cd34", "ef56"};
  for (const char* text : texts) {
    pause_for(pause);
    expect_generation(tool, service(), gbk_to_wide(text), text, cache_file);
    if (HasFatalFailure()) return;
  }
  // Pages not seen yet, each after a pause: every thumbnail arrives, is drawn and is cached.
  for (int page = 2; page <= 3; ++page) {
    SCOPED_TRACE(page);
    pause_for(pause);
    tool.choose_page(page - 1);
    ASSERT_TRUE(tool.wait_for_rows(page_rows(page)));
    EXPECT_TRUE(tool.dialogs().empty());
    EXPECT_EQ(list_files(tool.cache_folder()).size(), 4u * page) << "a thumbnail of page " << page << " is missing";
    expect_row_pictures(tool);
  }
  const std::optional<DWORD> code = tool.close();
  ASSERT_TRUE(code.has_value());
  EXPECT_EQ(*code, 0u);
}

// The same once with the service's own time-out (15 s): a person who takes longer than that to
// type the text.
TEST_F(EndToEnd, GenerationAfterAPauseLongerThanTheDefaultTimeOut) {
  ASSERT_TRUE(service().start());
  const size_t launched = service().targets().size();
  Tool tool(tool_path(), fresh_folder("long-pause"));
  ASSERT_TRUE(tool.started());
  ASSERT_TRUE(tool.wait_for_page());
  ASSERT_TRUE(service().wait_for_target("/check/", launched, seconds(20))) << "no update check";
  pause_for(milliseconds(16500));
  expect_generation(tool, service(), L"gh78", "gh78", tool.cache_folder() + "\\" + thumbnail_file(2));
  const std::optional<DWORD> code = tool.close();
  ASSERT_TRUE(code.has_value());
  EXPECT_EQ(*code, 0u);
}

// ---- row states, the stamp's cache file, commands and a close put off ---------------------------

// A first start while the service is down (no cache folder yet), then: a generation makes the
// cache folder and shows the stamp in its row too; a row clicked while hovered keeps its
// selected look once the pointer leaves the list; the taskbar's minimise and close during a
// wait are done after it, not lost; a close put off behind the save dialog waits for the
// "保存失败" box too; a stamp text with characters no file name may hold proposes a cleaned
// name; a cache write that fails is said.
TEST_F(EndToEnd, RowStatesCacheFileCommandsAndCloseAfterAFailedSave) {
  StandInServer stand_in(kBackendPort);  // in front of a service that is not there yet
  ASSERT_TRUE(stand_in.listening());
  const std::string out = fresh_folder("commands-saved");
  Tool tool(tool_path(), fresh_folder("commands"));
  ASSERT_TRUE(tool.started());
  ASSERT_TRUE(tool.wait_for_page());
  EXPECT_FALSE(file_exists(tool.cache_folder())) << "a cache folder without a thumbnail";

  // The service comes up; the first stamp makes the cache folder and goes into it, into the
  // row (which had no picture) and into the preview.
  ServiceOptions backend;
  backend.port = kBackendPort;
  ASSERT_TRUE(service().start(backend));
  const std::string cache_file = tool.cache_folder() + "\\" + thumbnail_file(2);
  const RECT row1 = tool.row_rect(1);
  ASSERT_EQ(ScreenShot(tool.list(), row1).count([](Rgb c) { return is_red(c); }, RECT{8, 8, 76, 76}), 0);
  tool.set_text(kTextBoxId, L"ab12");
  size_t mark = stand_in.targets().size();
  tool.press(kGenerateId);
  std::optional<std::string> picture = stand_in.wait_for_target("/stamp/", mark, seconds(20));
  ASSERT_TRUE(picture) << "the stamp was not fetched";
  const HttpResult served = http_get(kBackendPort, *picture);
  ASSERT_EQ(served.status, 200);
  EXPECT_TRUE(wait_until([&] { return read_file(cache_file) == served.body; }, seconds(10)))
      << "the stamp is not in the cache (was the folder made?)";
  EXPECT_TRUE(tool.dialogs().empty());
  EXPECT_TRUE(wait_until([&] { return ScreenShot(tool.list(), row1).count([](Rgb c) { return is_red(c); },
                                                                          RECT{8, 8, 76, 76}) >= 50; },
                         seconds(5)))
      << "the row does not show the new stamp";

  // A row hovered, clicked, then left: it is drawn selected, and stays so.
  ASSERT_TRUE(wait_for_fill(tool, 2, is_normal_fill));
  hover_over(tool, 2);
  ASSERT_TRUE(wait_for_fill(tool, 2, is_hover_fill));
  click_row_by_hand(tool, 2);
  ASSERT_TRUE(wait_until([&] { return tool.selected_row() == 2; }, seconds(5)));
  EXPECT_TRUE(wait_for_fill(tool, 2, is_selected_fill));
  move_pointer_away();
  EXPECT_TRUE(tool.responsive());
  EXPECT_FALSE(wait_until([&] { return !is_selected_fill(row_fill(tool, 2)); }, milliseconds(1500)))
      << "the selected row lost its look when the pointer left the list";
  EXPECT_TRUE(wait_for_fill(tool, 1, is_normal_fill));
  click_row_by_hand(tool, 1);
  ASSERT_TRUE(wait_until([&] { return tool.selected_row() == 1; }, seconds(5)));
  move_pointer_away();

  // The taskbar's "minimise" while a generation waits: done once the answer is in.
  stand_in.set_rules({{"/aosbegin.php", milliseconds(2000), std::nullopt}});
  mark = stand_in.targets().size();
  tool.press(kGenerateId);
  ASSERT_TRUE(stand_in.wait_for_target("/aosbegin.php", mark, seconds(10)));
  PostMessageW(tool.main(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
  EXPECT_FALSE(wait_until([&] { return IsIconic(tool.main()) != FALSE; }, milliseconds(800)))
      << "minimised in the middle of the wait";
  EXPECT_TRUE(stand_in.wait_for_target("/stamp/", mark, seconds(20)));
  EXPECT_TRUE(wait_until([&] { return IsIconic(tool.main()) != FALSE; }, seconds(5))) << "the minimise was lost";
  PostMessageW(tool.main(), WM_SYSCOMMAND, SC_RESTORE, 0);
  ASSERT_TRUE(wait_until([&] { return !IsIconic(tool.main()); }, seconds(5)));
  stand_in.set_rules({});
  ASSERT_TRUE(tool.wait_for_page());

  // "保存" for a text no file name may hold: a cleaned name is proposed. Then a close while the
  // dialog is open, and a file that cannot be written: the failure box stays until it is
  // answered, and only then does the window close.
  tool.set_text(kTextBoxId, L"a:b?c*\"d<e>f|g/h\\i");
  tool.press(kSaveId);
  HWND dialog = tool.wait_for_dialog(seconds(10), [](HWND d) { return save_dialog_name_box(d) != nullptr; });
  ASSERT_NE(dialog, nullptr) << "no save dialog";
  EXPECT_EQ(window_text(save_dialog_name_box(dialog)), L"a_b_c__d_e_f_g_h_i.png");
  const std::string locked = out + "\\locked.png";
  std::ofstream(locked, std::ios::binary) << "kept";
  SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_READONLY);
  PostMessageW(tool.main(), WM_CLOSE, 0, 0);
  EXPECT_TRUE(tool.responsive(seconds(5)));
  const std::wstring name = gbk_to_wide(locked);
  SendMessageW(save_dialog_name_box(dialog), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name.c_str()));
  PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  // The file exists: the user is asked first, and says yes.
  HWND prompt = tool.wait_for_dialog(seconds(10), [](HWND d) { return save_dialog_name_box(d) == nullptr; });
  ASSERT_NE(prompt, nullptr) << "no overwrite prompt";
  press_dialog_button(prompt, IDYES);
  ASSERT_TRUE(wait_until([&] { return !IsWindow(prompt); }, seconds(5)));
  HWND box = tool.wait_for_dialog(seconds(10), [](HWND d) { return save_dialog_name_box(d) == nullptr; });
  ASSERT_NE(box, nullptr) << "no failure box (the window closed?), running " << tool.running();
  EXPECT_EQ(read_message_box(box).text, L"保存失败：无法写入所选文件。");
  EXPECT_FALSE(wait_until([&] { return !IsWindow(box) || !tool.running(); }, milliseconds(1500)))
      << "the box went away unanswered";
  EXPECT_EQ(read_file(locked), "kept");
  press_dialog_button(box, IDOK);
  EXPECT_TRUE(wait_until([&] { return !tool.running(); }, seconds(15))) << "the close put off was lost";
  SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_NORMAL);

  // A cache write that fails ("tmp" is a file here) is said; the stamp is shown all the same.
  const std::string folder = fresh_folder("uncacheable");
  std::ofstream(folder + "\\tmp", std::ios::binary) << "not a folder";
  Tool second(tool_path(), folder);
  ASSERT_TRUE(second.started());
  ASSERT_TRUE(second.wait_for_page());
  second.set_text(kTextBoxId, L"cd34");
  mark = stand_in.targets().size();
  second.press(kGenerateId);
  picture = stand_in.wait_for_target("/stamp/", mark, seconds(20));
  ASSERT_TRUE(picture);
  box = second.wait_for_dialog(seconds(15));
  ASSERT_NE(box, nullptr) << "a cache write that failed was not said";
  EXPECT_EQ(read_message_box(box).text.rfind(L"图章已生成，但无法写入缓存文件", 0), 0u) << testing::PrintToString(read_message_box(box).text);
  const DecodedPicture stamp(http_get(kBackendPort, *picture).body);
  ASSERT_TRUE(stamp.ok());
  EXPECT_TRUE(wait_until([&] { return match_preview(second, stamp).good(); }, seconds(10))) << match_preview(second, stamp);
  press_dialog_button(box, IDOK);
  ASSERT_TRUE(wait_until([&] { return second.dialogs().empty(); }, seconds(5)));

  // The taskbar's "close" while a generation waits: the window closes once the answer is in.
  stand_in.set_rules({{"/aosbegin.php", milliseconds(2000), std::nullopt}});
  second.set_text(kTextBoxId, L"ef56");
  mark = stand_in.targets().size();
  second.press(kGenerateId);
  ASSERT_TRUE(stand_in.wait_for_target("/aosbegin.php", mark, seconds(10)));
  PostMessageW(second.main(), WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_FALSE(wait_until([&] { return !second.running(); }, milliseconds(800))) << "closed in the middle of the wait";
  // The cache write fails again and says so; the close comes after that box.
  box = second.wait_for_dialog(seconds(15));
  if (box) press_dialog_button(box, IDOK);
  EXPECT_TRUE(wait_until([&] { return !second.running(); }, seconds(15))) << "the close was lost";
}

namespace {

// The user's Pictures folder as the system names it (the tool's process sees the same).
std::string pictures_folder() {
  wchar_t path[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_MYPICTURES, nullptr, SHGFP_TYPE_CURRENT, path))) return {};
  char narrow[MAX_PATH * 2] = {};
  WideCharToMultiByte(CP_ACP, 0, path, -1, narrow, sizeof narrow, nullptr, nullptr);
  return narrow;
}

}  // namespace

// Saving as a Windows user expects: the dialog opens in the Pictures folder the first time and
// where the user last saved afterwards; an existing file is replaced only after the user says
// so; a device name is never proposed; a long stamp text gives a whole name ending in ".png".
TEST_F(EndToEnd, SaveDialogFolderOverwritePromptAndNames) {
  ASSERT_TRUE(service().start());
  const std::string folder = fresh_folder("saving");
  const std::string out = fresh_folder("saving-out");
  const std::string pictures = pictures_folder();
  ASSERT_FALSE(pictures.empty());
  CreateDirectoryA(pictures.c_str(), nullptr);
  Tool tool(tool_path(), folder);
  ASSERT_TRUE(tool.started());
  ASSERT_TRUE(tool.wait_for_page());
  const std::string row_picture = read_file(tool.cache_folder() + "\\" + thumbnail_file(2));
  ASSERT_FALSE(row_picture.empty());
  auto open_save_dialog = [&]() -> HWND {
    tool.press(kSaveId);
    return tool.wait_for_dialog(seconds(10), [](HWND d) { return save_dialog_name_box(d) != nullptr; });
  };
  auto save_as = [&](HWND dialog, const std::wstring& name) {
    SendMessageW(save_dialog_name_box(dialog), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name.c_str()));
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  };

  // 1. The first time: a bare name lands in the Pictures folder (not in the program's folder,
  //    where the tool was started).
  tool.set_text(kTextBoxId, L"first");
  HWND dialog = open_save_dialog();
  ASSERT_NE(dialog, nullptr) << "no save dialog";
  EXPECT_EQ(window_text(save_dialog_name_box(dialog)), L"first.png");
  const std::string in_pictures = pictures + "\\tambrel-e2e-first.png";
  DeleteFileA(in_pictures.c_str());
  save_as(dialog, L"tambrel-e2e-first");
  EXPECT_TRUE(wait_until([&] { return read_file(in_pictures) == row_picture; }, seconds(10)))
      << "not saved in the Pictures folder " << pictures << "; the tool's folder holds "
      << testing::PrintToString(list_files(folder));
  ASSERT_TRUE(wait_until([&] { return tool.dialogs().empty(); }, seconds(5)));
  DeleteFileA(in_pictures.c_str());

  // 2. Saved elsewhere by a full path; the next bare name lands there.
  dialog = open_save_dialog();
  ASSERT_NE(dialog, nullptr);
  save_as(dialog, gbk_to_wide(out + "\\one"));
  EXPECT_TRUE(wait_until([&] { return read_file(out + "\\one.png") == row_picture; }, seconds(10)));
  ASSERT_TRUE(wait_until([&] { return tool.dialogs().empty(); }, seconds(5)));
  dialog = open_save_dialog();
  ASSERT_NE(dialog, nullptr);
  save_as(dialog, L"two");
  EXPECT_TRUE(wait_until([&] { return read_file(out + "\\two.png") == row_picture; }, seconds(10)))
      << "not saved where the user last saved; there: " << testing::PrintToString(list_files(out));
  ASSERT_TRUE(wait_until([&] { return tool.dialogs().empty(); }, seconds(5)));

  // 3. An existing file: the user is asked; "No" keeps it, and the dialog stays for another name.
  std::ofstream(out + "\\kept.png", std::ios::binary) << "another template's stamp";
  dialog = open_save_dialog();
  ASSERT_NE(dialog, nullptr);
  save_as(dialog, L"kept.png");
  HWND prompt = tool.wait_for_dialog(seconds(10), [](HWND d) { return save_dialog_name_box(d) == nullptr; });
  ASSERT_NE(prompt, nullptr) << "no overwrite prompt; the file now holds "
                             << (read_file(out + "\\kept.png") == row_picture ? "the row's picture" : "its old content");
  press_dialog_button(prompt, IDNO);
  EXPECT_TRUE(wait_until([&] { return !IsWindow(prompt); }, seconds(5)));
  EXPECT_EQ(read_file(out + "\\kept.png"), "another template's stamp");
  ASSERT_TRUE(IsWindow(dialog)) << "the dialog went away after \"No\"";
  // "Yes" replaces it.
  save_as(dialog, L"kept.png");
  prompt = tool.wait_for_dialog(seconds(10), [](HWND d) { return save_dialog_name_box(d) == nullptr; });
  ASSERT_NE(prompt, nullptr);
  press_dialog_button(prompt, IDYES);
  EXPECT_TRUE(wait_until([&] { return read_file(out + "\\kept.png") == row_picture; }, seconds(10)));
  ASSERT_TRUE(wait_until([&] { return tool.dialogs().empty(); }, seconds(5)));

  // 4. Device names are made safe; a long text keeps ".png" and stays a valid name.
  struct NameCase {
    std::wstring text, proposed;
  };
  const NameCase names[] = {
      {L"CON", L"CON_.png"},
      {L"com1", L"com1_.png"},
      {L"NUL.txt", L"NUL_.txt.png"},
      {std::wstring(300, L'印'), std::wstring(251, L'印') + L".png"},
  };
  for (const NameCase& c : names) {
    tool.set_text(kTextBoxId, c.text);
    dialog = open_save_dialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(window_text(save_dialog_name_box(dialog)), c.proposed);
    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    ASSERT_TRUE(wait_until([&] { return tool.dialogs().empty(); }, seconds(5)));
    EXPECT_TRUE(tool.responsive(seconds(10)));
  }
  EXPECT_THAT(list_files(out), ElementsAreArray({std::string("kept.png"), std::string("one.png"), std::string("two.png")}));

  const std::optional<DWORD> code = tool.close();
  ASSERT_TRUE(code.has_value());
  EXPECT_EQ(*code, 0u);
}

// Two instances on one cache: a thumbnail the one downloads never replaces a stamp the other
// generated into the same cache file meanwhile; that instance shows its stamp again after
// a page visit, and the other shows it too.
TEST_F(EndToEnd, TwoInstancesOnOneCacheNeverUndoEachOthersStamps) {
  ServiceOptions backend;
  backend.port = kBackendPort;
  ASSERT_TRUE(service().start(backend));
  StandInServer stand_in(kBackendPort);
  ASSERT_TRUE(stand_in.listening());
  const std::string folder = fresh_folder("shared-cache");
  Tool first(tool_path(), folder);
  ASSERT_TRUE(first.started());
  ASSERT_TRUE(first.wait_for_page());
  const std::string cache_file = first.cache_folder() + "\\" + thumbnail_file(2);  // template 368, row 1
  const std::string thumbnail = read_file(cache_file);
  ASSERT_FALSE(thumbnail.empty());

  // The second instance finds row 1's cache file missing (an empty cache for that template)
  // and downloads its thumbnail, slowly.
  ASSERT_TRUE(DeleteFileA(cache_file.c_str()));
  const std::string thumbnail_target = "/maker/thumbnails/" + thumbnail_file(2);
  stand_in.set_rules({{thumbnail_target, milliseconds(4000), std::nullopt}});
  size_t mark = stand_in.targets().size();
  Tool second(folder + "\\Tambrel.exe", folder);  // the same program, the same cache
  ASSERT_TRUE(second.started());
  ASSERT_TRUE(stand_in.wait_for_target(thumbnail_target, mark, seconds(30))) << "the second instance fetched nothing";

  // Meanwhile the first generates a stamp for that template.
  first.set_text(kTextBoxId, L"ab12");
  mark = stand_in.targets().size();
  first.press(kGenerateId);
  const std::optional<std::string> picture = stand_in.wait_for_target("/stamp/", mark, seconds(20));
  ASSERT_TRUE(picture) << "no stamp fetched";
  const HttpResult served = http_get(kBackendPort, *picture);
  ASSERT_EQ(served.status, 200);
  ASSERT_TRUE(wait_until([&] { return read_file(cache_file) == served.body; }, seconds(10)))
      << "the stamp is not in the cache";

  // The thumbnail arrives after the stamp: the cache keeps the stamp.
  ASSERT_TRUE(second.wait_for_page(seconds(30)));
  stand_in.set_rules({});
  EXPECT_TRUE(read_file(cache_file) == served.body) << "the thumbnail replaced the stamp";
  EXPECT_THAT(list_files(first.cache_folder()).size(), 4u) << "a temporary file was left behind";

  // The first instance leaves the page and comes back: its stamp is still there; the second
  // shows it after the same visit.
  for (Tool* tool : {&first, &second}) {
    tool->choose_page(1);
    ASSERT_TRUE(tool->wait_for_rows(page_rows(2)));
    tool->choose_page(0);
    ASSERT_TRUE(tool->wait_for_rows(page_rows(1)));
  }
  EXPECT_TRUE(read_file(cache_file) == served.body);
  for (Tool* tool : {&first, &second}) {
    const std::optional<DWORD> code = tool->close();
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 0u);
  }
}
