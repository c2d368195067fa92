// "生成" and "保存": the rendering exchange with the stamp service and writing the selected
// picture to a file the user chooses. Both run on the main thread; each request is bounded by
// the request routine's time-out.
#include <windows.h>
#include <commdlg.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <optional>
#include <vector>

#include "app/app.h"
#include "app/config.h"
#include "app/gallery.h"
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
constexpr char kSaveDialogFailed[] = "保存失败：保存对话框出错，没有写入任何文件（错误代码 ";
constexpr char kCacheWriteFailed[] = "图章已生成，但无法写入缓存文件，离开本页后将不再显示：\r\n";

// The longest path the wide file functions take, with its NUL.
constexpr size_t kPathBufferUnits = 32768;
constexpr size_t kMaxNameUnits = 255;  // one name in a path, in UTF-16 units
constexpr size_t kExtensionUnits = 4;  // ".png"

// Where the dialog opened last time the user saved (in this run): the folder of that file.
std::wstring& lastSaveFolder() {
  static std::wstring folder;
  return folder;
}

// The user's Pictures folder the first time, then the folder of the last save.
std::wstring saveFolder() {
  if (!lastSaveFolder().empty()) return lastSaveFolder();
  wchar_t pictures[MAX_PATH] = {};
  if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_MYPICTURES, nullptr, SHGFP_TYPE_CURRENT, pictures))) return pictures;
  return {};
}

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
    showAfterWait(kGenerationFailed);  // the row keeps the picture it had
    return;
  }
  // The stamp lives on in the template's cache file only: a write that fails says so, or the
  // next showing of the page would bring back the old picture without a word.
  Text path = cachePath(chosen->thumbnailFile.c_str());
  const bool cached = makeCacheFolder() && write_whole_file(path.c_str(), picture.block());
  // The row and the preview show the stamp only while its template is on the shown page.
  const int row = rowShowing(chosen->id.c_str());
  if (row >= 0) {
    galleryItems[row + 1].image = std::move(picture);
    stampPreview->Invalidate(1);
    gallery->DrawRow(row, rowStateOf(row));
  }
  if (!cached) showAfterWait(text_concat({kCacheWriteFailed, path.c_str()}).c_str(), MB_ICONWARNING);
}

Text proposedFileName(const char* stampText) {
  // Characters no file name may hold become "_", and so do control characters; trailing dots
  // and spaces, which the file system drops, go. Done on UTF-16, where a GBK trail byte can
  // never be mistaken for "\" or "|".
  std::wstring name = text_to_wide(stampText);
  for (wchar_t& c : name) {
    if (c < 0x20 || std::wcschr(L":\"<>|*?\\/", c)) c = L'_';
  }
  while (!name.empty() && (name.back() == L'.' || name.back() == L' ')) name.pop_back();
  // A name is at most 255 UTF-16 units: a long text is cut before ".png", never inside a
  // surrogate pair (and dots and spaces left at the cut go as above).
  if (name.size() > kMaxNameUnits - kExtensionUnits) {
    size_t keep = kMaxNameUnits - kExtensionUnits;
    if (name[keep - 1] >= 0xD800 && name[keep - 1] <= 0xDBFF) --keep;
    name.resize(keep);
    while (!name.empty() && (name.back() == L'.' || name.back() == L' ')) name.pop_back();
  }
  // "CON", "NUL", "COM1" ... are devices on Windows 10 and before, with any extension: "CON_.png".
  if (const size_t device = device_name_length(name + L".png")) name.insert(device, L"_");
  name += L".png";
  return wide_to_text(name.c_str());
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

  // The filter's bars become NUL characters, and the list ends with a second NUL.
  std::wstring filter = text_to_wide(kSaveFilter);
  for (wchar_t& c : filter) {
    if (c == L'|') c = L'\0';
  }
  filter.push_back(L'\0');
  // Room for the longest path the system takes (\\?\ paths, long-path aware systems), not
  // MAX_PATH: a long name or a deep folder must not fail the dialog.
  std::vector<wchar_t> file(kPathBufferUnits, L'\0');
  const std::wstring proposed = text_to_wide(proposedFileName(textBox->GetText().c_str()).c_str());
  std::copy(proposed.begin(), proposed.end(), file.begin());

  // Wide, so that any name in any folder can be chosen whatever the system's code page.
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof(OPENFILENAMEW);
  dialog.hwndOwner = mainWindow->Handle();  // modal: the main window waits for the dialog
  dialog.hInstance = GetModuleHandleW(nullptr);
  dialog.lpstrFilter = filter.c_str();
  dialog.nFilterIndex = 0;
  dialog.lpstrFile = file.data();
  dialog.nMaxFile = static_cast<DWORD>(file.size());
  const std::wstring folder = saveFolder();
  dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
  // Replacing a file is the user's decision; the working folder stays where the program started.
  dialog.Flags = OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
  dialog.lpstrDefExt = L"png";
  // The wait lasts until the failure box is gone too: a close put off during the dialog must
  // not be handled inside that box's loop, which would take the box away unread.
  WaitScope wait(WaitKind::Dialog);
  if (!GetSaveFileNameW(&dialog)) {
    // Cancelled is 0; anything else means the dialog failed, and nothing was saved.
    if (const DWORD error = CommDlgExtendedError()) {
      char code[16];
      std::snprintf(code, sizeof code, "0x%04lX", static_cast<unsigned long>(error));
      show_message(text_concat({kSaveDialogFailed, code, "）。"}).c_str(), MB_ICONERROR);
    }
    return;
  }
  const Text path = wide_to_text(file.data());
  if (dialog.nFileOffset > 0) lastSaveFolder().assign(file.data(), dialog.nFileOffset - 1);
  if (!write_whole_file(path.c_str(), image.block())) show_message(kSaveFailed, MB_ICONERROR);
}

void showAfterWait(const char* text, UINT flags) {
  // A close put off during the wait is posted as the wait ends; this box's loop would handle it
  // and take the box away unread. It is put off again until the box is gone.
  WaitScope box(WaitKind::Dialog);
  show_message(text, flags);
}

}  // namespace tambrel::app
