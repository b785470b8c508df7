// The vendor platform's programs "vtnhidin.exe" and "trvinfo.exe": one source,
// two names. Each run appends "<folder it ran from>|<command line>" and a line
// end to the file named by IH_VENDOR_RECORD. IH_VENDOR_EXIT holds rules
// "word=code;word=code": the first word found in the command line chooses the
// exit code (decimal or 0x hex), or "wait" to run until the event
// IH_VENDOR_FINISH is set (a minute at most); 0 when no rule matches.
#include <windows.h>

#include <cwchar>
#include <string>

static std::wstring Variable(const wchar_t* name) {
  wchar_t value[4096] = {};
  GetEnvironmentVariableW(name, value, 4096);
  return value;
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  const std::wstring commandLine = GetCommandLineW();
  const std::wstring line = std::wstring(self, wcsrchr(self, L'\\')) + L"|" + commandLine + L"\r\n";
  HANDLE record = CreateFileW(Variable(L"IH_VENDOR_RECORD").c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(record, std::string(line.begin(), line.end()).c_str(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(record);

  const std::wstring rules = Variable(L"IH_VENDOR_EXIT") + L";";
  for (size_t start = 0, end; (end = rules.find(L';', start)) != std::wstring::npos; start = end + 1) {
    const size_t equals = rules.find(L'=', start);
    if (equals > end || commandLine.find(rules.substr(start, equals - start)) == std::wstring::npos) continue;
    if (rules.compare(equals + 1, end - equals - 1, L"wait") != 0) return wcstoul(&rules[equals + 1], nullptr, 0);
    WaitForSingleObject(CreateEventW(nullptr, TRUE, FALSE, L"IH_VENDOR_FINISH"), 60000);
    return 0;  // the event's handle closes with the process
  }
  return 0;
}
