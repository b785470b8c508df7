// A vendor library crashing on request: "av" makes an access violation, "cxx"
// lets an exception of the Microsoft C++ runtime escape, "stack" overflows the
// stack, "0x..." raises that exception code; "probe" faults where the system
// handles it (a pointer probe), and the call goes on.
#pragma once

#include <windows.h>

#include <cstdlib>

inline int OverflowStack(volatile char* caller) {
  volatile char frame[4096];
  frame[0] = *caller;
  return frame[0] == 1 ? 0 : OverflowStack(frame) + frame[1];  // never 1: endless, as the compiler cannot tell
}

inline void CrashIfAsked(const char* how) {
  int* volatile nowhere = nullptr;
  if (lstrcmpA(how, "av") == 0) *nowhere = 0;
  if (lstrcmpA(how, "probe") == 0 && !IsBadReadPtr(reinterpret_cast<void*>(16), 1)) *nowhere = 0;
  const ULONG_PTR thrown[4] = {0x19930520, 0, 0, 0};  // as its throw raises it: magic, object, type, module
  if (lstrcmpA(how, "cxx") == 0) RaiseException(0xE06D7363, EXCEPTION_NONCONTINUABLE, 4, thrown);
  volatile char start = 0;
  if (lstrcmpA(how, "stack") == 0) OverflowStack(&start);
  if (how[0] == '0' && how[1] == 'x') RaiseException(strtoul(how, nullptr, 16), EXCEPTION_NONCONTINUABLE, 0, nullptr);
}
