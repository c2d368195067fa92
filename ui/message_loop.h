// Framework start-up and the message loop.
//
// Start-up fixes the module handle, sets the control counter to 500 (the first control gets
// 501) and makes ActiveX hosting available ("AtlAxWin", from ATL.DLL by ordinal). The loop runs
// until WM_QUIT (its result is the quit message's wParam), or until a given window is gone, or
// until the message hook answers non-zero; keyboard messages can first be offered to a control
// hosted in an "AtlAxWin" window.
#pragma once

#include <windows.h>

#include "ui/window.h"

namespace tambrel::ui {

// Runs before the first widget is created; true when the "AtlAxWin" host class is available.
bool StartFramework();

// All arguments optional: the window used for accelerators and dialog navigation whose
// destruction ends the loop, an accelerator table, the forward-keys flag, and a routine called
// with the address of each MSG (non-zero ends the loop with that value, the message unhandled).
intptr_t RunMessageLoop(OptionalArg window = {}, OptionalArg accelerators = {},
                        OptionalArg forward_keys = {}, EventRoutine hook = {});

// Offers a keyboard message to the control hosted in the nearest "AtlAxWin" window around
// msg->hwnd. True when such a window was found (whether or not a control took the key).
bool ForwardKeyToHostedControl(MSG* msg);

}  // namespace tambrel::ui
