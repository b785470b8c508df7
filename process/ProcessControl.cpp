#include "process/ProcessControl.h"

#include <psapi.h>

#include <cstdio>
#include <cwchar>
#include <vector>

#include "frame/Guard.h"
#include "frame/Log.h"
#include "frame/Owners.h"
#include "frame/Platform.h"
#include "frame/ProductNames.h"
#include "frame/RegistryHelper.h"

namespace process_seams {
Seam<BOOL(WINAPI*)(DWORD*, DWORD, DWORD*)> enumProcesses(&::K32EnumProcesses);
Seam<BOOL(WINAPI*)(HANDLE, UINT)> terminateProcess(&::TerminateProcess);
Seam<decltype(&::OpenProcess)> openStoredProcess(&::OpenProcess);
}  // namespace process_seams

namespace {

const DWORD kMaxProcessIds = 2048;
const DWORD kLookupAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | PROCESS_TERMINATE;  // 0x411

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
    UniqueKernelHandle process(OpenProcess(kLookupAccess, FALSE, ids[i]));
    if (!process) continue;

    // One spare character keeps a path cut at 260 terminated.
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = K32GetModuleFileNameExW(process.get(), nullptr, path, MAX_PATH);
    InstallLog(L"getProcessHandleByName: process Name = %ls,process ID = %d , return Code is %d", path, ids[i],
               length);
    // Anywhere in the full path, folders included, with case significant.
    if (path[0] != L'\0' && wcsstr(path, name) != nullptr) {
      InstallLog(L"getProcessHandleByName: LYN Service Found");
      return process.release();
    }
  }
  InstallLog(L"getProcessHandleByName: Process END");
  return INVALID_HANDLE_VALUE;
}

int killExistingORBProcess() {
  // The lookup answers INVALID_HANDLE_VALUE for "none": the file owner's sentinel.
  UniqueFile process(getProcessHandleByName(names::kServiceExe));
  if (!process) {
    InstallLog(L"killExistingORBProcess : could not get process handle for LynService.exe ");
    return 1;  // not running: the way is clear
  }
  const int terminated = static_cast<int>(process_seams::terminateProcess(process.get(), names::kTerminatedExitCode));
  if (terminated) {
    InstallLog(L"killExistingORBProcess :Successfully killed existing orb service %d", terminated);
  } else {
    InstallLog(L"killExistingORBProcess : could not terminate LynService.exe %d", terminated);
  }
  return terminated;
}

namespace {

// Ends the process opened (null: could not be) under the id given, and says so.
int TerminateOpenedProcess(MSIHANDLE hInstall, HANDLE process, DWORD pid, UINT exitCode) {
  if (process == nullptr) {
    LogOutcome(hInstall, L"Failed to Open the Process with PID: %lu, the process may not be running", pid);
    return 0;
  }
  if (process_seams::terminateProcess(process, exitCode)) {
    LogOutcome(hInstall, L"Terminated Successfully the Process with PID: %lu", pid);
    return 1;
  }
  InstallLog(L"Failed to Terminate the Process with PID: %lu exit code = 0x%x", pid, exitCode);
  return 0;
}

// A stored id may belong to another program by now: only the program it was
// stored for is ended, through the one handle its name was checked on, so that
// the id cannot pass to yet another process in between. An id that cannot be
// opened for both is not ended at all.
int terminateStoredProcess(MSIHANDLE hInstall, DWORD pid, const wchar_t* program) {
  const UniqueKernelHandle process(
      process_seams::openStoredProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, pid));
  if (process) {
    // A program deep in a long path is still found by its name.
    std::vector<wchar_t> image(32768);
    DWORD length = static_cast<DWORD>(image.size());
    if (!QueryFullProcessImageNameW(process.get(), 0, image.data(), &length)) image[0] = L'\0';
    const wchar_t* name = wcsrchr(image.data(), L'\\');
    if (_wcsicmp(name ? name + 1 : image.data(), program) != 0) {
      LogOutcome(hInstall, L"Not terminating the Process with PID: %lu, it runs \"%s\", not %s", pid, image.data(),
                 program);
      return 0;
    }
  }
  return TerminateOpenedProcess(hInstall, process.get(), pid, names::kTerminatedExitCode);
}

}  // namespace

int terminateProcessByPID(MSIHANDLE hInstall, DWORD pid, UINT exitCode) {
  const UniqueKernelHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, pid));
  return TerminateOpenedProcess(hInstall, process.get(), pid, exitCode);
}

void killBypassAndAboutProcesses(MSIHANDLE hInstall) {
  GuardAction(L"killBypassAndAboutProcesses", [hInstall] {
    // The companions store their ids in the native view of the system.
    const DWORD view = PlatformRegistryView();

    DWORD bypassPid = 0;
    if (ReadRegistryDword(names::kBypassPidValue, bypassPid, view) != 0) {
      InstallLog(L"Failed to get the PID for ORBBypass.exe from registry");
      return;  // the About program is then left alone
    }
    if (terminateStoredProcess(hInstall, bypassPid, names::kBypassExe) == 1) {
      InstallLog(L"Successfully terminated ORBBypass.exe");
    } else {
      InstallLog(L"Failed to terminate ORBBypass.exe");
    }

    DWORD aboutPid = 0;
    if (ReadRegistryDword(names::kAboutPidValue, aboutPid, view) != 0) {
      InstallLog(L"Failed to get the PID for ORBAbout.exe from registry");
      return;
    }
    if (terminateStoredProcess(hInstall, aboutPid, names::kAboutExe) == 1) {
      InstallLog(L"Successfully terminated ORBAbout.exe");
    } else {
      InstallLog(L"Failed to terminate ORBAbout.exe");
    }
  });
}
