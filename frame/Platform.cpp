#include "frame/Platform.h"

#include <windows.h>
#include <shlobj.h>

#include "frame/Owners.h"

int Is64BitWindows() {
  SYSTEM_INFO info = {};
  GetSystemInfo(&info);
  if (info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64) return 1;

  // Looked up by name: older systems do not have it.
  typedef BOOL(WINAPI * IsWow64ProcessFn)(HANDLE, PBOOL);
  HMODULE kernel = GetModuleHandleW(L"kernel32");
  if (kernel == nullptr) return 0;
  auto isWow64 = reinterpret_cast<IsWow64ProcessFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")));
  if (isWow64 == nullptr) return 0;
  BOOL wow64 = FALSE;
  if (!isWow64(GetCurrentProcess(), &wow64)) return 0;
  return wow64 ? 1 : 0;
}

namespace platform_seams {
Seam<int (*)()> is64BitWindows(&::Is64BitWindows);
}

unsigned long PlatformRegistryView() {
  return platform_seams::is64BitWindows() != 0 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

int GetWindowsDirectoryPath(std::wstring& path) {
  UniqueKernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_IMPERSONATE | TOKEN_QUERY, token.put())) return -1;
  wchar_t buffer[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_WINDOWS, token.get(), SHGFP_TYPE_CURRENT, buffer))) return -1;
  path = buffer;
  return 0;
}

std::wstring WindowsFolderOrDefault() {
  std::wstring folder;
  if (GetWindowsDirectoryPath(folder) != 0) folder = L"C:\\Windows";
  return folder;
}
