// Holds a file open, sharing nothing, on behalf of a test: another process
// than the one under test. Usage: FileHolder <file> <ready event> <release event>.
// Signals the ready event once the file is open (exit code 2 when it cannot
// be opened), then waits up to a minute for the release event.
#include <windows.h>
#include <shellapi.h>

int main() {
  int count = 0;
  wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
  if (args == nullptr) return 1;
  if (count != 4) {
    LocalFree(args);
    return 1;
  }
  HANDLE file = CreateFileW(args[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, args[2]);
  HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, args[3]);
  LocalFree(args);
  int status = 0;
  if (file == INVALID_HANDLE_VALUE || ready == nullptr || release == nullptr) {
    status = 2;
  } else {
    SetEvent(ready);
    if (WaitForSingleObject(release, 60000) != WAIT_OBJECT_0) status = 3;
  }
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  if (ready != nullptr) CloseHandle(ready);
  if (release != nullptr) CloseHandle(release);
  return status;
}
