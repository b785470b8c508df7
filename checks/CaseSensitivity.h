// Refuses installation when a product directory, a maker folder above it or
// C:\ProgramData carries the per-directory case-sensitivity attribute, which
// Windows offers from 10.0.17134 ("10RS4") on.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "frame/Seam.h"

class NtApiCompilerSafe;

// The first Windows version with the attribute; process-wide (ProcessObjects.cpp).
extern const std::wstring win10rs4Version;

// The whole output of the interpreter's "ver", or "" when it cannot be run.
std::wstring ExeCuteCommand();
// True when the version in the "ver" output is at least win10rs4Version.
bool IsCaseSensitivitySupportedByOs(std::wstring commandOutput);
// True when the dotted version is not below win10rs4Version. A field that is
// not a number throws (std::invalid_argument / std::out_of_range).
bool IsVersionAtLeast(const std::wstring& currentVersion);
// Cuts at every separator; empty pieces are kept, the last piece always.
std::vector<std::wstring> SplitString(const std::wstring& text, wchar_t separator);
// Windows error code (0 for success); caseSensitive receives 0 or 1.
DWORD GetDirectoryCaseSensitivity(const std::wstring& path, unsigned char& caseSensitive);

// Wine cannot produce a case-sensitive directory, a directory that will not
// open, or a failing query: tests open directories through their own function
// and hand the check a loader whose query slot they replace.
namespace case_sensitivity_seams {
extern Seam<HANDLE(WINAPI*)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)> createFile;
extern Seam<NtApiCompilerSafe*> nativeApi;
}
