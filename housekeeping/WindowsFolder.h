// The Windows folder, as the shell reports it for the current process.
#pragma once

#include <string>

// Fills path with the Windows folder (no trailing backslash) and returns 0;
// returns -1 and leaves path unchanged when the process token or the folder
// cannot be had. Callers then use "C:\Windows".
int GetWindowsDirectoryPath(std::wstring& path);
