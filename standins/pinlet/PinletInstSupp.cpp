// Stand-in for the tray application's install-support library. It offers the
// two entry points the installer relies on (one wide string in, 0 for
// success), records every call with its argument and its own load and unload
// through PinletRecorder.dll, and answers what the test asks for:
// IH_PINLET_PREP_RESULT and IH_PINLET_COMPLETE_RESULT (decimal, default 0).
// PINLET_WITHOUT_PREP / PINLET_WITHOUT_COMPLETE build variants lacking one entry point.
#include <windows.h>

#include <cwchar>
#include <cstdlib>

#include "pinlet/PinletRecorder.h"

namespace {

int ResultFrom(const wchar_t* variable) {
  wchar_t value[32] = {};
  const DWORD length = GetEnvironmentVariableW(variable, value, 32);
  if (length == 0 || length >= 32) return 0;
  return static_cast<int>(wcstol(value, nullptr, 10));
}

void Record(const wchar_t* function, const wchar_t* argument, int result) {
  wchar_t line[1024] = {};
  _snwprintf(line, 1023, L"PinletInstSupp: %ls(%ls) -> %d", function, argument ? argument : L"(null)", result);
  RecordPinletEvent(line);
}

}  // namespace

#ifndef PINLET_WITHOUT_PREP
extern "C" __declspec(dllexport) int PluginUninstallPrep(const wchar_t* pluginPath) {
  const int result = ResultFrom(L"IH_PINLET_PREP_RESULT");
  Record(L"PluginUninstallPrep", pluginPath, result);
  return result;
}
#endif

#ifndef PINLET_WITHOUT_COMPLETE
extern "C" __declspec(dllexport) int PluginUninstallComplete(const wchar_t* pluginName) {
  const int result = ResultFrom(L"IH_PINLET_COMPLETE_RESULT");
  Record(L"PluginUninstallComplete", pluginName, result);
  return result;
}
#endif

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  // At process exit (reserved non-null) the recorder may already be gone.
  if (reason == DLL_PROCESS_ATTACH) RecordPinletEvent(L"PinletInstSupp: loaded");
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) RecordPinletEvent(L"PinletInstSupp: unloaded");
  return TRUE;
}
