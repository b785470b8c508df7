#include "housekeeping/WindowsFolder.h"

#include <windows.h>
#include <shlobj.h>

int GetWindowsDirectoryPath(std::wstring& path) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_IMPERSONATE | TOKEN_QUERY, &token)) return -1;
  wchar_t buffer[MAX_PATH] = {};
  const HRESULT result = SHGetFolderPathW(nullptr, CSIDL_WINDOWS, token, SHGFP_TYPE_CURRENT, buffer);
  CloseHandle(token);
  if (FAILED(result)) return -1;
  path = buffer;
  return 0;
}
