// Stand-in for the tray application's install-support library. It offers the
// two entry points the installer relies on (one wide string in, 0 for
// success), records every call with its argument and its own load and unload
// through PinletRecorder.dll, and answers what the test asks for:
// IH_PINLET_PREP_RESULT and IH_PINLET_COMPLETE_RESULT (decimal, default 0; or
// a crash, as in Crash.h).
// PINLET_WITHOUT_PREP / PINLET_WITHOUT_COMPLETE build variants lacking one entry point.
#include <windows.h>

#include <string>

#include "Crash.h"
#include "pinlet/PinletRecorder.h"

static int Call(const wchar_t* function, const wchar_t* argument, const char* resultVariable) {
  char value[32] = {};
  GetEnvironmentVariableA(resultVariable, value, 32);
  CrashIfAsked(value);
  RecordPinletEvent((L"PinletInstSupp: " + std::wstring(function) + L"(" + argument + L") -> " +
                     std::to_wstring(atoi(value))).c_str());
  return atoi(value);
}

#ifndef PINLET_WITHOUT_PREP
extern "C" __declspec(dllexport) int PluginUninstallPrep(const wchar_t* path) {
  return Call(L"PluginUninstallPrep", path, "IH_PINLET_PREP_RESULT");
}
#endif
#ifndef PINLET_WITHOUT_COMPLETE
extern "C" __declspec(dllexport) int PluginUninstallComplete(const wchar_t* name) {
  return Call(L"PluginUninstallComplete", name, "IH_PINLET_COMPLETE_RESULT");
}
#endif

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  // At process exit (reserved non-null) the recorder may already be gone.
  if (reason == DLL_PROCESS_ATTACH) RecordPinletEvent(L"PinletInstSupp: loaded");
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) RecordPinletEvent(L"PinletInstSupp: unloaded");
  return TRUE;
}
