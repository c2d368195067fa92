#include "picture/wide_text.h"

#include "picture/gdiplus_api.h"

TAMBREL_SYS("kernel32", MultiByteToWideChar)
TAMBREL_SYS("kernel32", WideCharToMultiByte)

namespace tambrel::picture_detail {

std::wstring to_wide(const char* text) {
  if (!text || !*text) return {};
  int n = sys::MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (n <= 1) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  sys::MultiByteToWideChar(CP_ACP, 0, text, -1, out.data(), n);
  out.resize(static_cast<size_t>(n - 1));  // the terminator is kept by std::wstring itself
  return out;
}

Text from_wide(const wchar_t* text) {
  if (!text || !*text) return {};
  int n = sys::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  char* out = static_cast<char*>(rt_alloc(static_cast<size_t>(n)));
  sys::WideCharToMultiByte(CP_ACP, 0, text, -1, out, n, nullptr, nullptr);
  return Text::adopt(out);
}

}  // namespace tambrel::picture_detail
