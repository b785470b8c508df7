#pragma once

// 1 on 64-bit Windows (native AMD64, or a 32-bit process under WOW64), else 0.
int Is64BitWindows();

// The registry view of the product's values: KEY_WOW64_64KEY on 64-bit
// Windows, KEY_WOW64_32KEY otherwise.
unsigned long PlatformRegistryView();

// Narrow seam: a 64-bit test process on 64-bit Windows only ever sees one
// answer, so tests point this elsewhere to reach the 32-bit platform's
// choices, and put it back with Reset().
namespace platform_seams {
using Is64BitWindowsFn = int (*)();
extern Is64BitWindowsFn is64BitWindows;
void Reset();
}  // namespace platform_seams
