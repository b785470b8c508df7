// Narrow seam for the housekeeping actions: the platform question that picks
// a registry view. A 64-bit test process on 64-bit Windows can only ever see
// one answer, so tests point this elsewhere to reach the 32-bit platform's
// choice, and put it back with Reset().
#pragma once

namespace housekeeping_seams {
using Is64BitWindowsFn = int (*)();
extern Is64BitWindowsFn is64BitWindows;
void Reset();
}  // namespace housekeeping_seams

// KEY_WOW64_64KEY on 64-bit Windows, KEY_WOW64_32KEY otherwise.
unsigned long PlatformRegistryView();
