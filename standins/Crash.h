// A vendor library crashing on request: "av" makes an access violation, "cxx"
// lets an exception of the Microsoft C++ runtime escape; "probe" faults where
// the system handles it (a pointer probe), and the call goes on.
#pragma once

#include <windows.h>

inline void CrashIfAsked(const char* how) {
  int* volatile nowhere = nullptr;
  if (lstrcmpA(how, "av") == 0) *nowhere = 0;
  if (lstrcmpA(how, "probe") == 0 && !IsBadReadPtr(reinterpret_cast<void*>(16), 1)) *nowhere = 0;
  const ULONG_PTR thrown[4] = {0x19930520, 0, 0, 0};  // as its throw raises it: magic, object, type, module
  if (lstrcmpA(how, "cxx") == 0) RaiseException(0xE06D7363, EXCEPTION_NONCONTINUABLE, 4, thrown);
}
