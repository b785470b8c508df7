#include "frame/Platform.h"

#include <windows.h>

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
Is64BitWindowsFn is64BitWindows = &::Is64BitWindows;
void Reset() { is64BitWindows = &::Is64BitWindows; }
}  // namespace platform_seams

unsigned long PlatformRegistryView() {
  return platform_seams::is64BitWindows() != 0 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}
