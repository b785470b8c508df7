// Refuses installation when a product directory, or a parent of the two main
// ones, is a junction (any directory reparse point whose tag shares a bit with
// IO_REPARSE_TAG_MOUNT_POINT).
#pragma once

#include <windows.h>

#include "frame/Seam.h"

// 0 when the path is not a junction (or does not exist), -1 otherwise.
int CheckPathForJunction(const wchar_t* path);

// The two file-system queries the check depends on: Wine cannot report a
// junction's reparse tag or an access-denied directory.
namespace junction_seams {
extern Seam<DWORD(WINAPI*)(LPCWSTR)> getFileAttributes;
extern Seam<HANDLE(WINAPI*)(LPCWSTR, LPWIN32_FIND_DATAW)> findFirstFile;
}
