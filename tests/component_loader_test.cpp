#include <gtest/gtest.h>

#include <cstring>

#include "components/ComponentLoader.h"
#include "support/ComponentSupport.h"
#include "support/ScopedSeam.h"

using namespace testsupport;

namespace {

// A forced answer of the verification (0: the real one). The real check runs
// all the same: Wine holds the file open until its state is closed, which the
// handle probe sees.
DWORD g_answer = 0;
LONG WINAPI AnswerChosen(HWND window, GUID* action, LPVOID data) {
  const LONG real = loader_seams::winVerifyTrust.real()(window, action, data);
  const bool opens = static_cast<WINTRUST_DATA*>(data)->dwStateAction == WTD_STATEACTION_VERIFY;
  return opens && g_answer != 0 ? static_cast<LONG>(g_answer) : real;
}

// s signed, u unsigned, t tampered after signing, n signed without the export.
std::wstring Variant(char kind) {
  const wchar_t* const variants[] = {L"signed", L"unsigned", L"tampered", L"noexport"};
  return BuildDir() + L"\\standins\\component\\" + variants[strchr("sutn", kind) - "sutn"] + L"\\ihcomponent.dll";
}

}  // namespace

TEST(ComponentLoader, FindsVerifiesLoadsAndReleasesTheComponentInTheOrderOfItsFolders) {
  const struct {
    const char* name;
    // Per folder (platform, current directory, executable's): a variant or .
    // for none; for the platform also x (no platform key) or L (too long for the name).
    const char* folders;
    DWORD result;
    char from;                                    // from P, C or E (the path of the copy loaded); N null; . untouched
    const wchar_t* library = L"ihcomponent.dll";  // else a path in the current directory
    DWORD answer = 0;
    const char* interfaceName = "ModulePath";
  } rows[] = {
      {"platform folder first", "sss", 0, 'P'},
      {"with the key the current directory is skipped", ".ss", 0, 'E'},
      {"without the key the current directory", "xss", 0, 'C'},
      {"then the executable's folder", "x.s", 0, 'E'},
      {"platform folder too long for the name", "Lss", 0, 'E'},
      {"nowhere", "...", ERROR_FILE_NOT_FOUND, '.'},
      {"unsigned in the platform folder", "uss", 0x800B0100, '.'},
      {"tampered in the platform folder", "tss", 0x80096010, '.'},
      {"unsigned in the current directory", "xus", 0x800B0100, '.'},
      {"tampered in the executable's folder", "..t", 0x80096010, '.'},
      {"a path is the only place", "ss.", 0, 'C', L"C:\\ih-components\\current\\ihcomponent.dll"},
      {"a missing path has no fallback", "s.s", ERROR_FILE_NOT_FOUND, '.', L"C:\\ih-components\\current\\x.dll"},
      {"export missing", "n..", ERROR_PROC_NOT_FOUND, 'N'},
      {"component's own answer", "s..", static_cast<DWORD>(E_NOINTERFACE), 'N', L"ihcomponent.dll", 0, "Other"},
      {"expired signer tolerated", "s..", 0, 'P', L"ihcomponent.dll", 0x800B0101},
      {"security settings tolerated", "s..", 0, 'P', L"ihcomponent.dll", 0x80092026},
      {"revocation failure tolerated", "s..", 0, 'P', L"ihcomponent.dll", 0x800B010E},
      {"untrusted root refused", "s.s", 0x800B0109, '.', L"ihcomponent.dll", 0x800B0109},
      {"empty name", "sss", ERROR_INVALID_PARAMETER, '.', L""},
  };
  ComponentKeys keys;
  ScratchFolder platform(L"platform"), current(L"current");
  const std::wstring folders[] = {platform.path, current.path, BuildDir() + L"\\tests"};
  wchar_t previousDirectory[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, previousDirectory);
  SetCurrentDirectoryW(current.path.c_str());
  ScopedSeam<LONG(WINAPI*)(HWND, GUID*, LPVOID)> verification(loader_seams::winVerifyTrust, &AnswerChosen);
  void* warmUp = nullptr;  // Wine keeps what its first verifications and load set up
  NCGetDllInterface(L"C:\\ih-components\\x.dll", "ModulePath", &warmUp, nullptr);
  NCGetDllInterface(Variant('s').c_str(), "ModulePath", &warmUp, nullptr);
  LocalFree(warmUp);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    keys.Clear();
    if (row.folders[0] != 'x') keys.SetPlatformFolder(row.folders[0] == 'L' ? std::wstring(250, L'a') : platform.path);
    for (int i = 0; i < 3; ++i) {
      DeleteFileW((folders[i] + L"\\ihcomponent.dll").c_str());
      if (strchr("sutn", row.folders[i]))
        CopyFileW(Variant(row.folders[i]).c_str(), (folders[i] + L"\\ihcomponent.dll").c_str(), FALSE);
    }
    g_answer = row.answer;
    void* handedOut = &g_answer;
    HandleProbe probe;
    EXPECT_EQ(NCGetDllInterface(row.library, row.interfaceName, &handedOut, nullptr), row.result);
    EXPECT_TRUE(probe.Unchanged());
    EXPECT_EQ(GetModuleHandleW(L"ihcomponent.dll"), nullptr);  // released again
    const char* from = strchr("PCE", row.from);
    const std::wstring got = !handedOut ? L"N" : handedOut == &g_answer ? L"." : static_cast<wchar_t*>(handedOut);
    EXPECT_EQ(Narrow(got), from ? Narrow(folders[from - "PCE"]) + "\\ihcomponent.dll" : std::string(1, row.from));
    if (handedOut != &g_answer) LocalFree(handedOut);
  }
  DeleteFileW((folders[2] + L"\\ihcomponent.dll").c_str());
  SetCurrentDirectoryW(previousDirectory);
}
