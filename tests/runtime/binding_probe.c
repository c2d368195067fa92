/* A small library for the binding tests: the test program never imports it, so only binding
   loads it; it exports by name and by ordinal (binding_probe.def); and it says on stderr when
   it is unloaded by FreeLibrary (a detach with lpReserved == NULL, as opposed to process
   end), which is how a test sees the library exit hook at work. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  if (reason == DLL_PROCESS_DETACH && reserved == NULL) {
    static const char mark[] = "<probe freed>";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), mark, sizeof mark - 1, &written, NULL);
  }
  return TRUE;
}

int probe_add(int a, int b) { return a + b; }
int probe_twice(int a) { return 2 * a; }
