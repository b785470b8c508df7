// Stands in for the product's long-running programs ("LynService.exe",
// "ORBBypass.exe", "ORBAbout.exe"): runs until it is ended. Built with
// IH_PID_VALUE, it first stores its own process id under
// HKLM\Software\Norvale\LYN\General as the product's companions do.
// An optional argument caps the run time in milliseconds (exit code 3), so a
// crashed test cannot leave it running for ever.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
#ifdef IH_PID_VALUE
  // The native view: the one the installer's custom actions read on 64-bit Windows.
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Norvale\\LYN\\General", 0, nullptr, 0,
                      KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return 2;
  const DWORD pid = GetCurrentProcessId();
  const LONG status =
      RegSetValueExW(key, IH_PID_VALUE, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&pid), sizeof(pid));
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return 2;
#endif
  if (argc > 1) {
    Sleep(strtoul(argv[1], nullptr, 0));
    return 3;
  }
  for (;;) Sleep(INFINITE);
}
