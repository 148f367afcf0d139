#include <windows.h>

#include "frame/startup.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) velto::ModuleStartup();
  return TRUE;  // start-up never fails the load
}
