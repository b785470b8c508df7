// A vendor component library. Its one interface, "ModulePath", is a
// LocalAlloc'd copy of the library's own full path: it outlives the library,
// so the caller learns which copy was loaded (and frees it). Any other name is
// refused with E_NOINTERFACE, except "av" and "cxx", which crash (Crash.h).
// Built once more without the export.
#include <windows.h>

#include "Crash.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;  // this library's own module

#ifndef IH_COMPONENT_WITHOUT_EXPORT
extern "C" __declspec(dllexport) DWORD NotComDllGetInterface(const char* name, void** out) {
  *out = out;  // a crash leaves half an answer behind
  CrashIfAsked(name);
  *out = nullptr;
  if (lstrcmpA(name, "ModulePath") != 0) return static_cast<DWORD>(E_NOINTERFACE);
  auto* path = static_cast<wchar_t*>(LocalAlloc(LPTR, MAX_PATH * sizeof(wchar_t)));
  GetModuleFileNameW(reinterpret_cast<HMODULE>(&__ImageBase), path, MAX_PATH);
  *out = path;
  return 0;
}
#endif
