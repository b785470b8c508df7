// Dependency of the stand-in PinletInstSupp.dll, shipped next to it: appends
// one line per event to the file named by IH_PINLET_RECORD (nothing when unset).
#include <windows.h>

extern "C" __declspec(dllexport) void RecordPinletEvent(const wchar_t* text) {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableW(L"IH_PINLET_RECORD", path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  char line[1024];
  int used = 0;
  for (const wchar_t* p = text; *p && used < 1020; ++p) line[used++] = (*p < 0x80) ? static_cast<char>(*p) : '?';
  line[used++] = '\r';
  line[used++] = '\n';
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line, static_cast<DWORD>(used), &written, nullptr);
  CloseHandle(file);
}
