// Facts about the platform the library runs on.
#pragma once

#include <string>

#include "frame/Seam.h"

// 1 on 64-bit Windows (native AMD64, or a 32-bit process under WOW64), else 0.
int Is64BitWindows();

// The registry view of the product's values: KEY_WOW64_64KEY on 64-bit
// Windows, KEY_WOW64_32KEY otherwise.
unsigned long PlatformRegistryView();

// Fills path with the Windows folder (no trailing backslash) and returns 0;
// returns -1 and leaves path unchanged when the process token or the folder
// cannot be had.
int GetWindowsDirectoryPath(std::wstring& path);
// The Windows folder, or "C:\Windows" when it cannot be had.
std::wstring WindowsFolderOrDefault();

// A 64-bit test process on 64-bit Windows only ever sees one answer, so tests
// point this elsewhere to reach the 32-bit platform's choices.
namespace platform_seams {
extern Seam<int (*)()> is64BitWindows;
}
