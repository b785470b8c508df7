// Removal of the vendor platform core. Its uninstall set (the platform
// installer program and two manifests) is copied from the platform folder to
// a fresh temporary folder, the program is run from there with "-u", and the
// copies are deleted again. Every message goes through the caller's callback.
#pragma once

#include <windows.h>

#include "frame/Log.h"

// Removes the platform product productId: 0 when the program ran to its end
// (its exit code is then in exitCode, which otherwise holds 87), or a Windows
// error code. logPath, etlPath and extraArgs may be null; timeoutMs may be
// INFINITE. exitCode is not touched when productId is null.
DWORD uninstallTessel(const wchar_t* productId, DWORD& exitCode, const wchar_t* logPath, const wchar_t* etlPath,
                      DWORD timeoutMs, LogCallback callback, const wchar_t* extraArgs);

// Copies the set into destFolder; an empty destFolder (of at least 260
// characters) asks for a new temporary folder, whose path is written back.
DWORD copyZpkInstallSetToTmp(const wchar_t* productId, wchar_t* destFolder, DWORD destChars, LogCallback callback);

// The set for productId: program, identifier manifest, product manifest, null.
// One process-wide table, rewritten on every call.
const wchar_t* const* GetUninstallFileSet(const wchar_t* productId);

// 0 when the platform folder holds the whole set, under the plain names or
// (usePre) all with ".pre" appended; otherwise a Windows error code.
DWORD FindUninstallFileSet(LogCallback callback, bool& usePre, const wchar_t* const* fileSet);

// Deletes the set's copies and then the folder; a copy that cannot be deleted
// leaves the folder in place and its code is returned.
DWORD deleteZpkInstallSetFromTmp(LogCallback callback, const wchar_t* folder, const wchar_t* const* fileSet);
