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

std::wstring Variant(char folderState) {
  const char* const variants[] = {"signed", "unsigned", "tampered", "noexport"};
  const char* found = strchr("sutn", folderState);
  return found ? BuildDir() + L"\\standins\\component\\" + Widen(variants[found - "sutn"]) + L"\\ihcomponent.dll" : L"";
}

std::wstring ExeFolder() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::wstring(path).substr(0, std::wstring(path).rfind(L'\\'));
}

}  // namespace

TEST(ComponentLoader, FindsVerifiesLoadsAndReleasesTheComponentInTheOrderOfItsFolders) {
  // Per folder (platform, current directory, executable's folder): s signed,
  // u unsigned, t tampered, n signed without the export, . none; for the
  // platform folder also x no platform key, L a folder too long for the name.
  const struct {
    const char* name;
    const char* folders;
    DWORD answer;
    const wchar_t* library;  // null: the bare name; else a path below the current directory
    const char* interfaceName;
    DWORD result;
    char loadedFrom;  // P, C or E; N loaded but no interface; . nothing loaded
  } rows[] = {
      {"platform folder first", "sss", 0, nullptr, "ModulePath", 0, 'P'},
      {"with the key the current directory is skipped", ".ss", 0, nullptr, "ModulePath", 0, 'E'},
      {"without the key the current directory", "xss", 0, nullptr, "ModulePath", 0, 'C'},
      {"then the executable's folder", "x.s", 0, nullptr, "ModulePath", 0, 'E'},
      {"platform folder too long for the name", "Lss", 0, nullptr, "ModulePath", 0, 'E'},
      {"nowhere", "...", 0, nullptr, "ModulePath", ERROR_FILE_NOT_FOUND, '.'},
      {"unsigned in the platform folder", "uss", 0, nullptr, "ModulePath", 0x800B0100, '.'},
      {"tampered in the platform folder", "tss", 0, nullptr, "ModulePath", 0x80096010, '.'},
      {"unsigned in the current directory", "xus", 0, nullptr, "ModulePath", 0x800B0100, '.'},
      {"tampered in the executable's folder", "..t", 0, nullptr, "ModulePath", 0x80096010, '.'},
      {"a path is the only place", "ss.", 0, L"ihcomponent.dll", "ModulePath", 0, 'C'},
      {"a missing path has no fallback", "s.s", 0, L"missing.dll", "ModulePath", ERROR_FILE_NOT_FOUND, '.'},
      {"export missing", "n..", 0, nullptr, "ModulePath", ERROR_PROC_NOT_FOUND, 'N'},
      {"component's own answer", "s..", 0, nullptr, "Other", static_cast<DWORD>(E_NOINTERFACE), 'N'},
      {"expired signer tolerated", "s..", 0x800B0101, nullptr, "ModulePath", 0, 'P'},
      {"security settings tolerated", "s..", 0x80092026, nullptr, "ModulePath", 0, 'P'},
      {"revocation failure tolerated", "s..", 0x800B010E, nullptr, "ModulePath", 0, 'P'},
      {"untrusted root refused", "s.s", 0x800B0109, nullptr, "ModulePath", 0x800B0109, '.'},
  };
  ComponentKeys keys;
  ScratchFolder platform(L"platform"), current(L"current");
  const std::wstring folders[] = {platform.path(), current.path(), ExeFolder()};
  wchar_t previousDirectory[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, previousDirectory);
  SetCurrentDirectoryW(current.path().c_str());
  ScopedSeam<LONG(WINAPI*)(HWND, GUID*, LPVOID)> verification(loader_seams::winVerifyTrust, &AnswerChosen);
  void* warmUp = nullptr;  // Wine keeps what its first verifications and load set up
  NCGetDllInterface((current / L"missing.dll").c_str(), "ModulePath", &warmUp, nullptr);
  NCGetDllInterface(Variant('s').c_str(), "ModulePath", &warmUp, nullptr);
  LocalFree(warmUp);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    keys.Clear();
    if (row.folders[0] != 'x') {
      keys.SetPlatformFolder(row.folders[0] == 'L' ? L"C:\\" + std::wstring(250, L'a') : platform.path());
    }
    for (int i = 0; i < 3; ++i) {
      DeleteFileW((folders[i] + L"\\ihcomponent.dll").c_str());
      CopyFileW(Variant(row.folders[i]).c_str(), (folders[i] + L"\\ihcomponent.dll").c_str(), FALSE);
    }
    g_answer = row.answer;
    void* interfacePointer = &g_answer;
    const std::wstring library = row.library ? current / row.library : L"ihcomponent.dll";
    HandleProbe probe;
    EXPECT_EQ(NCGetDllInterface(library.c_str(), row.interfaceName, &interfacePointer, nullptr), row.result);
    EXPECT_TRUE(probe.Unchanged());
    EXPECT_EQ(GetModuleHandleW(L"ihcomponent.dll"), nullptr);
    const char* from = strchr("PCE", row.loadedFrom);
    if (from == nullptr) {
      EXPECT_EQ(interfacePointer, row.loadedFrom == 'N' ? nullptr : &g_answer);
    } else if (interfacePointer != &g_answer && interfacePointer != nullptr) {
      EXPECT_EQ(std::wstring(static_cast<wchar_t*>(interfacePointer)), folders[from - "PCE"] + L"\\ihcomponent.dll");
      LocalFree(interfacePointer);
    } else {
      ADD_FAILURE() << "no interface";
    }
  }
  DeleteFileW((ExeFolder() + L"\\ihcomponent.dll").c_str());
  SetCurrentDirectoryW(previousDirectory);
  void* untouched = nullptr;
  EXPECT_EQ(NCGetDllInterface(L"", "ModulePath", &untouched, nullptr), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}
