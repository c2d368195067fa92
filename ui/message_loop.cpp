// Framework start-up and the message loop. ATL's two routines are bound by ordinal on first
// use, so the program imports nothing from ATL.DLL and a missing ATL is reported by name.
#include "ui/message_loop.h"

#include <ole2.h>
#include <oleidl.h>

#include <cstring>

#include "runtime/binding.h"

namespace tambrel::ui {
namespace {

BoundFunction<BOOL()> AtlAxWinInit{"atl", "#42"};
BoundFunction<HRESULT(HWND, IUnknown**)> AtlAxGetControl{"atl", "#47"};

constexpr const char* kHostClass = "AtlAxWin";
constexpr const wchar_t* kInPlaceActiveObject = L"{00000117-0000-0000-C000-000000000046}";

}  // namespace

bool StartFramework() {
  module_instance();
  set_control_id_counter(500);
  if (AtlAxWinInit()) return true;
  // A second initialisation fails under Wine because the class exists already; what matters
  // is that the host class is there.
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof(wc);
  return GetClassInfoExA(nullptr, kHostClass, &wc) ||
         GetClassInfoExA(module_instance(), kHostClass, &wc);
}

bool ForwardKeyToHostedControl(MSG* msg) {
  for (HWND h = msg->hwnd; h; h = GetParent(h)) {
    char name[256] = {};
    GetClassNameA(h, name, 255);
    if (std::strcmp(name, kHostClass) != 0) continue;
    IUnknown* control = nullptr;
    if (SUCCEEDED(AtlAxGetControl(h, &control)) && control) {
      IID iid;
      IOleInPlaceActiveObject* active = nullptr;
      if (SUCCEEDED(CLSIDFromString(kInPlaceActiveObject, &iid)) &&
          control->QueryInterface(iid, reinterpret_cast<void**>(&active)) == S_OK && active) {
        active->TranslateAccelerator(msg);
        active->Release();
      }
      control->Release();
    }
    return true;
  }
  return false;
}

intptr_t RunMessageLoop(OptionalArg window, OptionalArg accelerators, OptionalArg forward_keys,
                        EventRoutine hook) {
  HWND target = reinterpret_cast<HWND>(window.value);
  auto table = reinterpret_cast<HACCEL>(accelerators.value);
  MSG msg{};
  for (;;) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) return static_cast<intptr_t>(msg.wParam);
    if (got == -1) continue;
    if (hook) {
      if (const intptr_t r = hook(&msg)) return r;
    }
    if (forward_keys.value && msg.message >= WM_KEYDOWN && msg.message <= 0x0108) {
      ForwardKeyToHostedControl(&msg);
    }
    if (!TranslateAcceleratorW(target, table, &msg) && !IsDialogMessageW(target, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (target && !IsWindow(target)) return static_cast<intptr_t>(msg.wParam);
  }
}

}  // namespace tambrel::ui
