#include "process/ProcessRunner.h"

#include <cstdio>
#include <cwchar>
#include <memory>
#include <new>

#include "frame/Log.h"

namespace runner_seams {
GetExitCodeProcessFn getExitCodeProcess = &::GetExitCodeProcess;
void Reset() { getExitCodeProcess = &::GetExitCodeProcess; }
}  // namespace runner_seams

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

  HANDLE outputHandle = INVALID_HANDLE_VALUE;
  if (redirectOutput) {
    SECURITY_ATTRIBUTES inheritable = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    // Write-data only and no truncation: the child's text overwrites an old
    // file from its first byte.
    outputHandle = CreateFileW(outputFile, FILE_WRITE_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (outputHandle == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      wchar_t text[96] = {};
      swprintf(text, sizeof(text) / sizeof(text[0]), L"Failed to create redirection file its OK? error code = %lu",
               error);
      // Not fatal: the program still runs, its output is lost.
      InstallLog(L"CreateAndExecuteCmdLineProcessWithOutputToFile : %s", text);
    }
    startup.hStdInput = nullptr;
    startup.hStdOutput = outputHandle;
    startup.hStdError = outputHandle;
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
    wchar_t text[192] = {};
    swprintf(text, sizeof(text) / sizeof(text[0]),
             L"CreateAndExecuteCmdLineProcessWithOutputToFile(), Successfully Created process with PID: %lu, with "
             L"TID: %lu\n",
             processInfo.dwProcessId, processInfo.dwThreadId);
    MsiLogInfo(hInstall, text);
    InstallLog(L"CreateAndExecuteCmdLineProcessWithOutputToFile : %ls", text);

    WaitForSingleObject(processInfo.hProcess, INFINITE);

    DWORD exitCode = 0;
    if (!runner_seams::getExitCodeProcess(processInfo.hProcess, &exitCode)) {
      const DWORD error = GetLastError();
      InstallLog(L" GetExitCodeProcess  failed with error : %d", error);
    } else {
      result = (exitCode == 0 || exitCode == kAlsoSuccessful) ? 1 : 0;
      // Named after the uninstall-set tool whatever program ran; signed, so -2 reads as -2.
      InstallLog(L"Return value of ZPK : %d", exitCode);
    }
    CloseHandle(processInfo.hThread);
    CloseHandle(processInfo.hProcess);
  } else {
    wchar_t code[16] = {};
    swprintf(code, sizeof(code) / sizeof(code[0]), L"%lu", startError);
    wchar_t text[128] = {};
    swprintf(text, sizeof(text) / sizeof(text[0]),
             L"CreateAndExecuteCmdLineProcessWithOutputToFile(), Can't create process, error: %ls\n", code);
    MsiLogInfo(hInstall, text);
    InstallLog(L"CreateAndExecuteCmdLineProcessWithOutputToFile(), Can't create process, error: %ls", code);
  }

  if (outputHandle != INVALID_HANDLE_VALUE) CloseHandle(outputHandle);
  InstallLog(L"Function: CreateAndExecuteCmdLineProcessWithOutputToFile ended");
  return result;
}
