// The message box command and event pumping.
#include "runtime/interaction.h"

#include <windows.h>

#include "runtime/message_box.h"

namespace tambrel {

int32_t show_message(const ArgValue& value, uint32_t flags, std::optional<const char*> caption) {
  Text converted;
  const char* text = EMPTY_TEXT;
  if (value.tag == TYPE_TEXT) {
    if (value.value.ptr) text = static_cast<const char*>(value.value.ptr);
  } else if (!(value.tag & ARRAY_FLAG)) {
    converted = value_to_text(value);
    text = converted.c_str();
  }
  const char* title = caption ? (*caption ? *caption : EMPTY_TEXT) : "信息";
  return rt_message_box(nullptr, text, title, flags) - 1;
}

void pump_events() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE) && msg.message != WM_QUIT) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      // A quit posted between the look and the fetch: put it back for the message loop.
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (got < 0) break;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

}  // namespace tambrel
