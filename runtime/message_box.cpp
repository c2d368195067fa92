#include "runtime/message_box.h"

#include <atomic>

#include "runtime/text.h"

namespace tambrel {
namespace {

int show_real_box(HWND owner, const char* text, const char* caption, UINT flags) {
  // Wide, so that the box reads the same on every system locale.
  return MessageBoxW(owner, text_to_wide(text).c_str(), text_to_wide(caption).c_str(), flags);
}

std::atomic<MessageBoxHandler> g_handler{&show_real_box};

}  // namespace

int rt_message_box(HWND owner, const char* text, const char* caption, UINT flags) {
  return g_handler.load()(owner, text ? text : "", caption ? caption : "", flags);
}

MessageBoxHandler set_message_box_handler(MessageBoxHandler handler) {
  return g_handler.exchange(handler ? handler : &show_real_box);
}

}  // namespace tambrel
