#include "runtime/message_box.h"

#include <atomic>

namespace tambrel {
namespace {

int show_real_box(HWND owner, const char* text, const char* caption, UINT flags) {
  return MessageBoxA(owner, text, caption, flags);
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
