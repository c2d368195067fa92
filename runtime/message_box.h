// Every message box of the runtime (out of memory, fatal errors, library binding, show_message)
// goes through rt_message_box. The real program shows real boxes; tests install a handler that
// records the box instead, so no test run ever waits for a click.
#pragma once

#include <windows.h>

namespace tambrel {

using MessageBoxHandler = int (*)(HWND owner, const char* text, const char* caption, UINT flags);

int rt_message_box(HWND owner, const char* text, const char* caption, UINT flags);

// Replaces the routine that shows boxes; nullptr restores MessageBoxA. Returns the old one.
MessageBoxHandler set_message_box_handler(MessageBoxHandler handler);

}  // namespace tambrel
