#include <windows.h>

#include <cstdlib>

#include "frame/Module.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) g_hInstallHelperModule = instance;
  return TRUE;
}

#if defined(__GLIBCXX__)
// The static runtime's default terminate handler writes the demangled type of
// the exception to a standard error that no installer shows, and brings the
// whole demangler and a printf into the DLL for it. Every export catches what
// it throws, so terminate can only mean a broken runtime: end as it would.
namespace __gnu_cxx {
[[noreturn]] void __verbose_terminate_handler();
[[noreturn]] void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
#endif
