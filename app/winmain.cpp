// Process entry of Tambrel.exe: the runtime starts the process and ends it through its exit
// chain; everything in between is the application's main routine.
#include <windows.h>

#include "app/app.h"
#include "runtime/heap.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { tambrel::rt_run(&tambrel::app::appMain); }
