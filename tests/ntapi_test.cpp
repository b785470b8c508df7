#include <gtest/gtest.h>

#include <cstring>

#include "checks/NtApiCompilerSafe.h"
#include "support/ScopedSeam.h"

namespace {

size_t g_lookups = 0;
const char* g_missing = "";

FARPROC WINAPI Lookup(HMODULE module, LPCSTR name) {
  ++g_lookups;
  SetLastError(ERROR_PROC_NOT_FOUND);
  return strcmp(name, g_missing) == 0 ? nullptr : GetProcAddress(module, name);
}

// Whether the query wrapper answers "not implemented", and what "access denied" maps to.
std::pair<bool, ULONG> Answers(NtApiCompilerSafe& api) {
  IO_STATUS_BLOCK io = {};
  const NTSTATUS status = api.NtQueryInformationFile(nullptr, &io, nullptr, 0, FileBasicInformation);
  return {status == static_cast<NTSTATUS>(0xC0000002), api.RtlNtStatusToDosError(static_cast<NTSTATUS>(0xC0000022))};
}

}  // namespace

TEST(NativeLoader, ResolvesAllEighteenFunctionsOnceOrNone) {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll"), kernel32 = GetModuleHandleW(L"kernel32.dll");
  const struct {
    const char *name, *missing, *lastFailed;
    const wchar_t* module;  // null: the one given at construction
    bool loaded;
    HMODULE held;  // after the calls; a borrowed module stays held after a failure
    size_t lookups;
    DWORD lastError;
  } rows[] = {
      {"ntdll", "", "", nullptr, true, ntdll, 18, 0},
      {"ntdll in any letter case", "", "", L"NtDll.DLL", true, ntdll, 18, 0},
      {"first function missing", "NtCreateFile", "NtCreateFile", nullptr, false, ntdll, 1, ERROR_PROC_NOT_FOUND},
      {"last function missing", "RtlStringFromGUID", "RtlStringFromGUID", nullptr, false, ntdll, 18, ERROR_PROC_NOT_FOUND},
      {"kernel32 lacks them", "", "NtCreateFile", L"KERNEL32.dll", false, kernel32, 1, ERROR_PROC_NOT_FOUND},
      {"other modules are refused", "", "", L"user32.dll", false, nullptr, 0, ERROR_NOT_SUPPORTED},
  };
  ScopedSeam lookup(ntapi_seams::getProcAddress, &Lookup);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    g_lookups = 0;
    g_missing = row.missing;
    NtApiCompilerSafe api;
    EXPECT_EQ(Answers(api), std::make_pair(true, 120ul));
    EXPECT_EQ(api.EnsureLoaded(row.module), row.loaded);
    EXPECT_EQ(api.EnsureLoaded(), row.held != nullptr);  // a held module is not resolved again
    EXPECT_EQ(g_lookups, row.lookups);
    EXPECT_EQ(api.ModuleHandle(), row.held);
    EXPECT_STREQ(api.LastFailedFunction(), row.lastFailed);
    EXPECT_EQ(api.LastError(), row.lastError);
    EXPECT_EQ(Answers(api), row.loaded ? std::make_pair(false, 5ul) : std::make_pair(true, 120ul));
  }
}
