// "生成" and "保存": the rendering exchange with the stamp service and writing the selected
// picture to a file the user chooses. Both run on the main thread; each request is bounded by
// the request routine's time-out.
#include <windows.h>
#include <commdlg.h>

#include <cstring>
#include <optional>

#include "app/app.h"
#include "app/config.h"
#include "app/generation_request.h"
#include "app/wait.h"
#include "runtime/files.h"
#include "runtime/interaction.h"
#include "runtime/numbers.h"
#include "runtime/text.h"
#include "web/web_request.h"

namespace tambrel::app {
namespace {

constexpr char kGenerationFailed[] = "图章生成失败，至少输入两个字符！";
constexpr char kNothingToSave[] = "当前选中的模板还没有图片，没有可保存的内容。";
constexpr char kSaveFailed[] = "保存失败：无法写入所选文件。";
constexpr char kSaveFilter[] = "PNG(*.png)|*.png|所有文件|*.*";

Text body_as_text(const Bytes& body) {
  return Text::adopt(static_cast<char*>(read_bytes_value(body.block(), 10).value.ptr));
}

}  // namespace

void generateStamp() {
  if (waiting()) return;
  // Everything the request needs is taken now, by value: while it waits the gallery may have
  // moved on (it cannot by the user's hand, but nothing here relies on that).
  const std::optional<ChosenTemplate> chosen = selectedTemplate();
  if (!chosen) return;  // no template row selected: nothing to generate from

  seed_random();
  const int32_t n = random_int(1, 10);
  Text stamp_text = textBox->GetText();
  Text size_text = sizeBox->GetText();
  Text request = buildGenerateUrl(SERVICE_HOST, stamp_text.c_str(), chosen->id.c_str(), size_text.c_str(), n);

  // A reply without the picture path is a failed generation: nothing is fetched from the bare
  // host. So is a download that is no picture (an error page, a truncated or random body).
  Bytes picture;
  {
    WaitScope wait(WaitKind::Request);
    Text reply = body_as_text(WebRequest(&request));
    Text picture_url = pictureUrlFromReply(SERVICE_HOST, reply.c_str());
    if (picture_url.get()) picture = WebRequest(&picture_url);
  }
  if (!isPicture(picture)) {
    show_message(kGenerationFailed);  // the row keeps the picture it had
    return;
  }
  Text path = cachePath(chosen->thumbnailFile.c_str());
  write_whole_file(path.c_str(), picture.block());
  // The row and the preview show the stamp only while its template is on the shown page.
  const int row = rowShowing(chosen->id.c_str());
  if (row < 0) return;
  galleryItems[row + 1].image = std::move(picture);
  stampPreview->Invalidate(1);
}

void saveStamp() {
  if (waiting()) return;
  const std::optional<ChosenTemplate> chosen = selectedTemplate();
  if (!chosen) return;  // no template row selected: nothing to save
  // A copy: the dialog runs the message loop, and the rows must not be relied on across it.
  const Bytes image = galleryItems[chosen->row + 1].image;
  if (image.empty()) {
    show_message(kNothingToSave, MB_ICONINFORMATION);
    return;
  }

  // The filter's bars become NUL bytes, and the list ends with a second NUL.
  char filter[sizeof kSaveFilter + 1] = {};
  std::memcpy(filter, kSaveFilter, sizeof kSaveFilter);
  for (char* c = filter; *c; ++c) {
    if (*c == '|') *c = '\0';
  }
  char file[260] = {};
  Text proposed = text_concat({textBox->GetText().c_str(), ".png"});
  lstrcpynA(file, proposed.c_str(), sizeof file);
  char file_title[260] = {};

  OPENFILENAMEA dialog{};
  dialog.lStructSize = sizeof(OPENFILENAMEA);
  dialog.hwndOwner = mainWindow->Handle();  // modal: the main window waits for the dialog
  dialog.hInstance = GetModuleHandleA(nullptr);
  dialog.lpstrFilter = filter;
  dialog.nFilterIndex = 0;
  dialog.lpstrFile = file;
  dialog.nMaxFile = sizeof file;
  dialog.lpstrFileTitle = file_title;
  dialog.nMaxFileTitle = sizeof file_title;
  dialog.Flags = OFN_EXPLORER;
  dialog.lpstrDefExt = "png";
  BOOL chosen_file;
  {
    WaitScope wait(WaitKind::Dialog);
    chosen_file = GetSaveFileNameA(&dialog);
  }
  if (!chosen_file) return;

  if (!write_whole_file(file, image.block())) show_message(kSaveFailed, MB_ICONERROR);
}

}  // namespace tambrel::app
