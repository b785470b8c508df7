// Refuses installation when a product directory, or a parent of the two main
// ones, is a junction (any directory reparse point whose tag shares a bit with
// IO_REPARSE_TAG_MOUNT_POINT).
#pragma once

#include <windows.h>

// 0 when the path is not a junction (or does not exist), -1 otherwise.
int CheckPathForJunction(const wchar_t* path);

// Narrow seam: the two file-system queries the check depends on. Wine cannot
// report a reparse tag or an access-denied directory, so tests point these
// elsewhere and put them back with ResetJunctionSeams().
namespace junction_seams {
using GetFileAttributesFn = DWORD(WINAPI*)(LPCWSTR);
using FindFirstFileFn = HANDLE(WINAPI*)(LPCWSTR, LPWIN32_FIND_DATAW);
extern GetFileAttributesFn getFileAttributes;
extern FindFirstFileFn findFirstFile;
void Reset();
}  // namespace junction_seams
