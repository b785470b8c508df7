// Finding and ending the product's processes: by a fragment of the executable
// path, or by a process id that a companion program left in the registry.
// Every process ended here gets the exit code 0xDEAD.
#pragma once

#include <windows.h>
#include <msi.h>

#include <string>

#include "frame/Seam.h"

// The first of the first 2048 processes whose full executable path contains
// name (case-sensitive), opened for terminate, query and read; the caller
// closes it. INVALID_HANDLE_VALUE when none matches or the list cannot be read.
HANDLE getProcessHandleByName(const wchar_t* name);
inline HANDLE getProcessHandleByName(const std::wstring& name) { return getProcessHandleByName(name.c_str()); }

// Ends a running "LynService.exe". Nonzero when it was ended or does not run;
// 0 when it runs and could not be ended.
int killExistingORBProcess();

// 1 when the process was terminated with exitCode, 0 otherwise.
int terminateProcessByPID(MSIHANDLE hInstall, DWORD pid, UINT exitCode);

// Ends "ORBBypass.exe" and then "ORBAbout.exe" by the ids they stored under
// HKLM\Software\Norvale\LYN\General, each only while its id still names that
// program (a process of another name counts as not ended); the values stay.
void killBypassAndAboutProcesses(MSIHANDLE hInstall);

// Listing processes, terminating one and opening a stored id: tests order the
// list, or make the list, a termination or the open fail, which Wine will not
// do on request.
namespace process_seams {
extern Seam<BOOL(WINAPI*)(DWORD*, DWORD, DWORD*)> enumProcesses;
extern Seam<BOOL(WINAPI*)(HANDLE, UINT)> terminateProcess;
extern Seam<decltype(&::OpenProcess)> openStoredProcess;
}  // namespace process_seams
