#include "process/ProcessRunner.h"

#include <cstdio>
#include <cwchar>
#include <memory>
#include <new>

#include "frame/FolderGuard.h"
#include "frame/Log.h"
#include "frame/Owners.h"

namespace runner_seams {
Seam<BOOL(WINAPI*)(HANDLE, LPDWORD)> getExitCodeProcess(&::GetExitCodeProcess);
}

namespace {
// The uninstall-set tool reports success with -2 as well as with 0.
const DWORD kAlsoSuccessful = 0xFFFFFFFE;
}  // namespace

int CreateAndExecuteCmdLineProcessWithOutputToFile(MSIHANDLE hInstall, const wchar_t* commandLine,
                                                   const wchar_t* outputFile, bool redirectOutput) {
  if (commandLine == nullptr) commandLine = L"";
  if (outputFile == nullptr) outputFile = L"";
  InstallLog(L"Function: CreateAndExecuteCmdLineProcessWithOutputToFile Started");
  InstallLog(L"CreateAndExecuteCmdLineProcessWithOutputToFile(), process command line is: %ls", commandLine);

  PROCESS_INFORMATION processInfo;
  ZeroMemory(&processInfo, sizeof(processInfo));
  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof(startup));
  startup.cb = sizeof(startup);
  // Always set: without capture the child then starts with no standard handles at all.
  startup.dwFlags = STARTF_USESTDHANDLES;

  UniqueFile output;
  if (redirectOutput) {
    // The child writes through this handle only, into a file the library has
    // just put under the name through its checked folder: whatever stood
    // there (a link, another file's second name, someone else's file) only
    // lost the name, and what the library's own earlier output left is kept,
    // so that the child's text overwrites it from its first byte.
    std::wstring name;
    const FoundFolder folder = FoundFolder::OfFile(outputFile, name);
    DWORD error = ERROR_SUCCESS;
    if (folder.PlaceFresh(name)) {
      output = folder.OpenFile(name, FILE_WRITE_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                               GuardedFolder::Owner::Trusted, true);
      if (!output) error = GetLastError();
    } else {
      error = GetLastError();
      // Held open, denied, or a folder on the way that is not what it seems: said loudly, but not fatal either.
      if (error != ERROR_PATH_NOT_FOUND) {
        LogOutcome(hInstall,
                   L"CreateAndExecuteCmdLineProcessWithOutputToFile : %s cannot be cleared for the output, error "
                   L"code = %lu, the program runs without it",
                   outputFile, error);
      }
    }
    if (!output) {
      // Not fatal: the program still runs, its output is lost.
      InstallLog(L"CreateAndExecuteCmdLineProcessWithOutputToFile : Failed to create redirection file its OK? error "
                 L"code = %lu",
                 error);
    }
    startup.hStdInput = nullptr;
    startup.hStdOutput = output.get();
    startup.hStdError = output.get();
  }

  // CreateProcessW may write into its command line.
  const size_t length = wcslen(commandLine);
  std::unique_ptr<wchar_t[]> writableCommandLine(new (std::nothrow) wchar_t[length + 1]);
  BOOL started = FALSE;
  DWORD startError = ERROR_NOT_ENOUGH_MEMORY;
  if (writableCommandLine) {
    wmemcpy(writableCommandLine.get(), commandLine, length + 1);
    started = CreateProcessW(nullptr, writableCommandLine.get(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                             nullptr, &startup, &processInfo);
    if (!started) startError = GetLastError();
  }

  int result = 0;
  if (started) {
    const UniqueKernelHandle process(processInfo.hProcess);
    const UniqueKernelHandle thread(processInfo.hThread);
    const std::wstring text = logdetail::FormatText(
        L"CreateAndExecuteCmdLineProcessWithOutputToFile(), Successfully Created process with PID: %lu, with TID: "
        L"%lu\n",
        processInfo.dwProcessId, processInfo.dwThreadId);
    MsiLogInfo(hInstall, text.c_str());
    InstallLog(L"CreateAndExecuteCmdLineProcessWithOutputToFile : %ls", text.c_str());

    WaitForSingleObject(process.get(), INFINITE);

    DWORD exitCode = 0;
    if (!runner_seams::getExitCodeProcess(process.get(), &exitCode)) {
      const DWORD error = GetLastError();
      InstallLog(L" GetExitCodeProcess  failed with error : %d", error);
    } else {
      result = (exitCode == 0 || exitCode == kAlsoSuccessful) ? 1 : 0;
      // Named after the uninstall-set tool whatever program ran; signed, so -2 reads as -2.
      InstallLog(L"Return value of ZPK : %d", exitCode);
    }
  } else {
    const std::wstring text = logdetail::FormatText(
        L"CreateAndExecuteCmdLineProcessWithOutputToFile(), Can't create process, error: %lu", startError);
    MsiLogInfo(hInstall, (text + L"\n").c_str());
    InstallLog(L"%s", text.c_str());
  }

  InstallLog(L"Function: CreateAndExecuteCmdLineProcessWithOutputToFile ended");
  return result;
}
