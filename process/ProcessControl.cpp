#include "process/ProcessControl.h"

#include <psapi.h>

#include <cstdio>
#include <cwchar>

#include "frame/Guard.h"
#include "frame/Log.h"
#include "frame/Platform.h"
#include "frame/RegistryHelper.h"

namespace process_seams {
EnumProcessesFn enumProcesses = &::K32EnumProcesses;
TerminateProcessFn terminateProcess = &::TerminateProcess;
void Reset() {
  enumProcesses = &::K32EnumProcesses;
  terminateProcess = &::TerminateProcess;
}
}  // namespace process_seams

namespace {

const DWORD kMaxProcessIds = 2048;
const DWORD kLookupAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | PROCESS_TERMINATE;  // 0x411
const wchar_t kBypassPidValue[] = L"HKEY_LOCAL_MACHINE\\Software\\Norvale\\LYN\\General\\\\LYNBypassExePid";
const wchar_t kAboutPidValue[] = L"HKEY_LOCAL_MACHINE\\Software\\Norvale\\LYN\\General\\\\ORBAboutExePid";

}  // namespace

HANDLE getProcessHandleByName(const wchar_t* name) {
  if (name == nullptr) name = L"";
  InstallLog(L"getProcessHandleByName: Entered");

  DWORD ids[kMaxProcessIds] = {};
  DWORD bytes = 0;
  if (!process_seams::enumProcesses(ids, sizeof(ids), &bytes)) return INVALID_HANDLE_VALUE;
  DWORD count = bytes / sizeof(DWORD);
  if (count > kMaxProcessIds) count = kMaxProcessIds;

  for (DWORD i = 0; i < count; ++i) {
    // Protected, system and meanwhile ended processes cannot be opened: skipped without a line.
    HANDLE process = OpenProcess(kLookupAccess, FALSE, ids[i]);
    if (process == nullptr) continue;

    // One spare character keeps a path cut at 260 terminated.
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = K32GetModuleFileNameExW(process, nullptr, path, MAX_PATH);
    InstallLog(L"getProcessHandleByName: process Name = %ls,process ID = %d , return Code is %d", path, ids[i],
               length);
    // Anywhere in the full path, folders included, with case significant.
    if (path[0] != L'\0' && wcsstr(path, name) != nullptr) {
      InstallLog(L"getProcessHandleByName: LYN Service Found");
      return process;
    }
    CloseHandle(process);
  }
  InstallLog(L"getProcessHandleByName: Process END");
  return INVALID_HANDLE_VALUE;
}

int killExistingORBProcess() {
  HANDLE process = getProcessHandleByName(L"LynService.exe");
  if (process == INVALID_HANDLE_VALUE) {
    InstallLog(L"killExistingORBProcess : could not get process handle for LynService.exe ");
    return 1;  // not running: the way is clear
  }
  const int terminated = static_cast<int>(process_seams::terminateProcess(process, kTerminatedExitCode));
  if (terminated) {
    InstallLog(L"killExistingORBProcess :Successfully killed existing orb service %d", terminated);
  } else {
    InstallLog(L"killExistingORBProcess : could not terminate LynService.exe %d", terminated);
  }
  CloseHandle(process);
  return terminated;
}

int terminateProcessByPID(MSIHANDLE hInstall, DWORD pid, UINT exitCode) {
  wchar_t text[160] = {};
  const size_t capacity = sizeof(text) / sizeof(text[0]);
  HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
  if (process == nullptr) {
    swprintf(text, capacity, L"Failed to Open the Process with PID: %lu, the process may not be running", pid);
    MsiLogInfo(hInstall, text);
    InstallLog(L"%s", text);
    return 0;
  }

  int result = 0;
  if (process_seams::terminateProcess(process, exitCode)) {
    swprintf(text, capacity, L"Terminated Successfully the Process with PID: %lu", pid);
    MsiLogInfo(hInstall, text);
    InstallLog(L"%s", text);
    result = 1;
  } else {
    swprintf(text, capacity, L"Failed to Terminate the Process with PID: %lu exit code = 0x%x", pid, exitCode);
    InstallLog(L"%s", text);
  }
  CloseHandle(process);
  return result;
}

void killBypassAndAboutProcesses(MSIHANDLE hInstall) {
  GuardAction(L"killBypassAndAboutProcesses", [hInstall] {
    // The companions store their ids in the native view of the system.
    const DWORD view = PlatformRegistryView();

    DWORD bypassPid = 0;
    if (ReadRegistryDword(kBypassPidValue, bypassPid, view) != 0) {
      InstallLog(L"Failed to get the PID for ORBBypass.exe from registry");
      return;  // the About program is then left alone
    }
    if (terminateProcessByPID(hInstall, bypassPid, kTerminatedExitCode) == 1) {
      InstallLog(L"Successfully terminated ORBBypass.exe");
    } else {
      InstallLog(L"Failed to terminate ORBBypass.exe");
    }

    DWORD aboutPid = 0;
    if (ReadRegistryDword(kAboutPidValue, aboutPid, view) != 0) {
      InstallLog(L"Failed to get the PID for ORBAbout.exe from registry");
      return;
    }
    if (terminateProcessByPID(hInstall, aboutPid, kTerminatedExitCode) == 1) {
      InstallLog(L"Successfully terminated ORBAbout.exe");
    } else {
      InstallLog(L"Failed to terminate ORBAbout.exe");
    }
  });
}
