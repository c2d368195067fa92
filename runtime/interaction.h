// The commands that reach the user and the window system: the message box and event pumping.
// Every box goes through rt_message_box, so tests record boxes instead of showing them.
#pragma once

#include <cstdint>
#include <optional>

#include "runtime/text.h"

namespace tambrel {

// A box with the value as text (an array shows an empty text) and the caption, "信息" when
// omitted; no owner window. Returns the button code minus 1: OK 0, Cancel 1, Abort 2,
// Retry 3, Ignore 4, Yes 5, No 6.
int32_t show_message(const ArgValue& value, uint32_t flags = 0,
                     std::optional<const char*> caption = std::nullopt);
inline int32_t show_message(const char* text, uint32_t flags = 0,
                            std::optional<const char*> caption = std::nullopt) {
  return show_message(text_arg(text), flags, caption);
}

// Handles every message waiting for this thread's windows. A waiting WM_QUIT stays in the
// queue for the message loop. Belongs on the thread that owns the windows.
void pump_events();

}  // namespace tambrel
