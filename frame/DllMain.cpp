#include <windows.h>

#include "frame/Module.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) g_hInstallHelperModule = instance;
  return TRUE;
}
