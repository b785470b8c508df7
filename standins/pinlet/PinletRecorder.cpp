// Dependency of the stand-in PinletInstSupp.dll, shipped next to it: appends
// one line per event to the file named by IH_PINLET_RECORD (nothing when unset).
#include <windows.h>

#include <cstdio>

extern "C" __declspec(dllexport) void RecordPinletEvent(const wchar_t* text) {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableW(L"IH_PINLET_RECORD", path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  if (FILE* file = _wfopen(path, L"ab")) {
    fprintf(file, "%ls\r\n", text);
    fclose(file);
  }
}
