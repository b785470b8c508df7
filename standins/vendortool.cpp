// The vendor platform's programs "vtnhidin.exe" and "trvinfo.exe": one source,
// two names. Each run appends "<folder it ran from>|<command line>" and a line
// end to the file named by IH_VENDOR_RECORD. IH_VENDOR_EXIT holds a rule
// "word=code": when the word is in the command line, the exit code (decimal or
// 0x hex), or "wait" to run until the event IH_VENDOR_FINISH is set (a minute
// at most); otherwise the exit code is 0.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t path[MAX_PATH] = {};
  const std::wstring self(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
  const std::wstring commandLine = GetCommandLineW();
  const wchar_t* recordPath = _wgetenv(L"IH_VENDOR_RECORD");
  if (FILE* record = recordPath != nullptr ? _wfopen(recordPath, L"ab") : nullptr) {
    fprintf(record, "%ls|%ls\r\n", self.substr(0, self.rfind(L'\\')).c_str(), commandLine.c_str());  // its folder
    fclose(record);
  }
  const std::wstring rule = _wgetenv(L"IH_VENDOR_EXIT") != nullptr ? _wgetenv(L"IH_VENDOR_EXIT") : L"";
  const size_t equals = rule.find(L'=');
  if (equals == std::wstring::npos || commandLine.find(rule.substr(0, equals)) == std::wstring::npos) return 0;
  if (rule.compare(equals + 1, std::wstring::npos, L"wait") != 0) return wcstoul(&rule[equals + 1], nullptr, 0);
  WaitForSingleObject(CreateEventW(nullptr, TRUE, FALSE, L"IH_VENDOR_FINISH"), 60000);
  return 0;  // the event's handle closes with the process
}
