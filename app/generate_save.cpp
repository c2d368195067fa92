// "生成" and "保存": the rendering exchange with the stamp service and writing the selected
// picture to a file the user chooses. Both run on the main thread; each request is bounded by
// the request routine's time-out.
#include <windows.h>
#include <commdlg.h>

#include <cstring>

#include "app/app.h"
#include "app/config.h"
#include "app/generation_request.h"
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
  const int64_t row = galleryList->CurrentIndex();
  GalleryItem& item = galleryItems[row + 1];

  seed_random();
  const int32_t n = random_int(1, 10);
  Text stamp_text = textBox->GetText();
  Text size_text = sizeBox->GetText();
  Text request = buildGenerateUrl(SERVICE_HOST, stamp_text.c_str(), item.id.c_str(), size_text.c_str(), n);
  Text reply = body_as_text(WebRequest(&request));

  // A reply without the picture path is a failed generation: nothing is fetched from the bare
  // host and the row keeps the picture it had.
  Bytes picture;
  Text picture_url = pictureUrlFromReply(SERVICE_HOST, reply.c_str());
  if (picture_url.get()) picture = WebRequest(&picture_url);
  if (picture.empty()) {
    show_message(kGenerationFailed);
    return;
  }
  item.image = std::move(picture);
  Text path = cachePath(item.thumbnailFile.c_str());
  write_whole_file(path.c_str(), item.image.block());
  stampPreview->Invalidate(1);
}

void saveStamp() {
  const int64_t row = galleryList->CurrentIndex();
  const GalleryItem& item = galleryItems[row + 1];
  if (item.image.empty()) {
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
  dialog.hwndOwner = nullptr;
  dialog.hInstance = GetModuleHandleA(nullptr);
  dialog.lpstrFilter = filter;
  dialog.nFilterIndex = 0;
  dialog.lpstrFile = file;
  dialog.nMaxFile = sizeof file;
  dialog.lpstrFileTitle = file_title;
  dialog.nMaxFileTitle = sizeof file_title;
  dialog.Flags = OFN_EXPLORER;
  dialog.lpstrDefExt = "png";
  if (!GetSaveFileNameA(&dialog)) return;

  if (!write_whole_file(file, item.image.block())) show_message(kSaveFailed, MB_ICONERROR);
}

}  // namespace tambrel::app
