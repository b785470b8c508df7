#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "checks/NtApiCompilerSafe.h"

namespace {

const std::vector<std::string> kFunctions = {
    "NtCreateFile",         "NtQueryInformationFile",  "NtSetInformationFile",   "RtlInitUnicodeString",
    "RtlFreeUnicodeString", "RtlNtStatusToDosError",   "RtlDosPathNameToNtPathName_U", "RtlGetVersion",
    "NtReadFile",           "NtQueryDirectoryFile",    "RtlCompareUnicodeString", "RtlUpcaseUnicodeString",
    "RtlUpcaseUnicodeChar", "NtFsControlFile",         "NtSetEaFile",            "NtQueryEaFile",
    "RtlGUIDFromString",    "RtlStringFromGUID",
};

// Lookup seam state: every name asked for, and one name that is "missing".
std::vector<std::string> g_lookups;
std::string g_missing;
DWORD g_sleepOnFirstLookupMs = 0;

FARPROC WINAPI RecordingLookup(HMODULE module, LPCSTR name) {
  g_lookups.push_back(name);
  if (g_lookups.size() == 1 && g_sleepOnFirstLookupMs != 0) Sleep(g_sleepOnFirstLookupMs);
  if (name == g_missing) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return GetProcAddress(module, name);
}

std::vector<void*> Slots(const NtApiCompilerSafe& api) {
  return {reinterpret_cast<void*>(api.m_pNtCreateFile),
          reinterpret_cast<void*>(api.m_pNtQueryInformationFile),
          reinterpret_cast<void*>(api.m_pNtSetInformationFile),
          reinterpret_cast<void*>(api.m_pRtlInitUnicodeString),
          reinterpret_cast<void*>(api.m_pRtlFreeUnicodeString),
          reinterpret_cast<void*>(api.m_pRtlNtStatusToDosError),
          reinterpret_cast<void*>(api.m_pRtlDosPathNameToNtPathName_U),
          reinterpret_cast<void*>(api.m_pRtlGetVersion),
          reinterpret_cast<void*>(api.m_pNtReadFile),
          reinterpret_cast<void*>(api.m_pNtQueryDirectoryFile),
          reinterpret_cast<void*>(api.m_pRtlCompareUnicodeString),
          reinterpret_cast<void*>(api.m_pRtlUpcaseUnicodeString),
          reinterpret_cast<void*>(api.m_pRtlUpcaseUnicodeChar),
          reinterpret_cast<void*>(api.m_pNtFsControlFile),
          reinterpret_cast<void*>(api.m_pNtSetEaFile),
          reinterpret_cast<void*>(api.m_pNtQueryEaFile),
          reinterpret_cast<void*>(api.m_pRtlGUIDFromString),
          reinterpret_cast<void*>(api.m_pRtlStringFromGUID)};
}

bool AllNull(const NtApiCompilerSafe& api) {
  for (void* slot : Slots(api))
    if (slot != nullptr) return false;
  return true;
}

bool AllSet(const NtApiCompilerSafe& api) {
  for (void* slot : Slots(api))
    if (slot == nullptr) return false;
  return true;
}

HMODULE Ntdll() { return GetModuleHandleW(L"ntdll.dll"); }

}  // namespace

class NativeLoader : public ::testing::Test {
 protected:
  void SetUp() override {
    g_lookups.clear();
    g_missing.clear();
    g_sleepOnFirstLookupMs = 0;
    ntapi_seams::getProcAddress.Set(&RecordingLookup);
  }
  void TearDown() override { ntapi_seams::getProcAddress.Reset(); }
};

TEST_F(NativeLoader, StartsEmptyAndTheWrappersAnswerNotImplementedWithoutCalling) {
  NtApiCompilerSafe api;
  EXPECT_EQ(api.ModuleHandle(), nullptr);
  EXPECT_STREQ(api.LastFailedFunction(), "");
  EXPECT_EQ(api.LastError(), 0u);
  EXPECT_TRUE(AllNull(api));
  IO_STATUS_BLOCK io = {};
  ULONG flags = 0;
  EXPECT_EQ(static_cast<ULONG>(api.NtQueryInformationFile(GetCurrentProcess(), &io, &flags, sizeof(flags),
                                                          static_cast<FILE_INFORMATION_CLASS>(71))),
            0xC0000002u);
  EXPECT_EQ(api.RtlNtStatusToDosError(static_cast<NTSTATUS>(0xC0000022)), 120u);
  EXPECT_TRUE(g_lookups.empty());
  EXPECT_EQ(api.ModuleHandle(), nullptr) << "a wrapper does not load anything";
}

TEST_F(NativeLoader, BorrowsNtdllAndResolvesTheEighteenFunctionsOnce) {
  NtApiCompilerSafe api;
  ASSERT_TRUE(api.EnsureLoaded());
  EXPECT_EQ(api.ModuleHandle(), Ntdll());
  EXPECT_EQ(g_lookups, kFunctions);
  const std::vector<void*> slots = Slots(api);
  for (size_t i = 0; i < kFunctions.size(); ++i)
    EXPECT_EQ(slots[i], reinterpret_cast<void*>(GetProcAddress(Ntdll(), kFunctions[i].c_str()))) << kFunctions[i];

  EXPECT_TRUE(api.EnsureLoaded());
  EXPECT_EQ(g_lookups.size(), kFunctions.size()) << "the second call resolves nothing";
  EXPECT_EQ(Slots(api), slots);
}

TEST_F(NativeLoader, WrappersPassArgumentsAndAnswersThrough) {
  NtApiCompilerSafe api;
  ASSERT_TRUE(api.EnsureLoaded());
  EXPECT_EQ(api.RtlNtStatusToDosError(static_cast<NTSTATUS>(0xC0000022)), 5u);  // access denied
  EXPECT_EQ(api.RtlNtStatusToDosError(static_cast<NTSTATUS>(0xC000000D)), 87u);  // invalid parameter

  wchar_t windows[MAX_PATH] = {};
  GetWindowsDirectoryW(windows, MAX_PATH);
  HANDLE dir = CreateFileW(windows, 0, 7, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(dir, INVALID_HANDLE_VALUE);
  IO_STATUS_BLOCK io = {};
  FILE_BASIC_INFO basic = {};
  const NTSTATUS status = api.NtQueryInformationFile(dir, &io, &basic, sizeof(basic),
                                                     static_cast<FILE_INFORMATION_CLASS>(4));  // FileBasicInformation
  CloseHandle(dir);
  EXPECT_EQ(status, 0);
  EXPECT_NE(basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

TEST_F(NativeLoader, NtdllIsRecognisedInAnyLetterCase) {
  for (const wchar_t* name : {L"NTDLL.DLL", L"NtDll.Dll", L"ntdll.DLL", L"nTdLl.dLl"}) {
    NtApiCompilerSafe api;
    g_lookups.clear();
    EXPECT_TRUE(api.EnsureLoaded(name)) << testing::PrintToString(std::wstring(name));
    EXPECT_EQ(api.ModuleHandle(), Ntdll());
    EXPECT_EQ(g_lookups, kFunctions);
    EXPECT_FALSE(AllNull(api));
  }
}

TEST_F(NativeLoader, AnyMissingFunctionMakesTheWholeSetUnavailable) {
  for (size_t missing = 0; missing < kFunctions.size(); ++missing) {
    SCOPED_TRACE(kFunctions[missing]);
    NtApiCompilerSafe api;
    g_lookups.clear();
    g_missing = kFunctions[missing];
    EXPECT_FALSE(api.EnsureLoaded());
    EXPECT_STREQ(api.LastFailedFunction(), kFunctions[missing].c_str());
    EXPECT_EQ(api.LastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_EQ(g_lookups.size(), missing + 1) << "lookups stop at the first failure";
    EXPECT_TRUE(AllNull(api));

    // The borrowed handle stays held: later calls answer true at once and
    // the wrappers keep answering their not-implemented codes.
    EXPECT_EQ(api.ModuleHandle(), Ntdll());
    g_missing.clear();
    EXPECT_TRUE(api.EnsureLoaded());
    EXPECT_EQ(g_lookups.size(), missing + 1);
    EXPECT_TRUE(AllNull(api));
    IO_STATUS_BLOCK io = {};
    ULONG flags = 0;
    EXPECT_EQ(static_cast<ULONG>(api.NtQueryInformationFile(GetCurrentProcess(), &io, &flags, sizeof(flags),
                                                            static_cast<FILE_INFORMATION_CLASS>(71))),
              0xC0000002u);
    EXPECT_EQ(api.RtlNtStatusToDosError(static_cast<NTSTATUS>(0xC0000022)), 120u);
  }
}

TEST_F(NativeLoader, ModulesOtherThanTheSystemOnesAreRefused) {
  NtApiCompilerSafe api;
  EXPECT_FALSE(api.EnsureLoaded(L"user32.dll"));
  EXPECT_EQ(api.ModuleHandle(), nullptr);
  EXPECT_EQ(api.LastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  EXPECT_TRUE(g_lookups.empty());
  EXPECT_TRUE(AllNull(api));
}

TEST_F(NativeLoader, Kernel32IsBorrowedButLacksTheNativeFunctions) {
  NtApiCompilerSafe api;
  EXPECT_FALSE(api.EnsureLoaded(L"KERNEL32.dll"));
  EXPECT_EQ(api.ModuleHandle(), GetModuleHandleW(L"kernel32.dll"));
  EXPECT_STREQ(api.LastFailedFunction(), "NtCreateFile");
  EXPECT_TRUE(AllNull(api));
}

namespace {
// 1 when the call answered true and every function was there to be called.
DWORD WINAPI LoadOnThread(LPVOID param) {
  auto* api = static_cast<NtApiCompilerSafe*>(param);
  return api->EnsureLoaded() && AllSet(*api) ? 1 : 0;
}
}  // namespace

TEST_F(NativeLoader, ConcurrentCallerWaitsForTheLoadInProgress) {
  NtApiCompilerSafe api;
  g_sleepOnFirstLookupMs = 200;  // the first loader is still resolving when the second arrives
  HANDLE first = CreateThread(nullptr, 0, &LoadOnThread, &api, 0, nullptr);
  ASSERT_NE(first, nullptr);
  Sleep(50);
  HANDLE second = CreateThread(nullptr, 0, &LoadOnThread, &api, 0, nullptr);
  ASSERT_NE(second, nullptr);
  WaitForSingleObject(first, INFINITE);
  WaitForSingleObject(second, INFINITE);
  DWORD firstResult = 0, secondResult = 0;
  GetExitCodeThread(first, &firstResult);
  GetExitCodeThread(second, &secondResult);
  CloseHandle(first);
  CloseHandle(second);
  EXPECT_EQ(firstResult, 1u);
  EXPECT_EQ(secondResult, 1u);
  EXPECT_EQ(g_lookups, kFunctions);
}

TEST(NativeLoaderInstance, TheProcessWideInstanceServesNtdll) {
  EXPECT_STREQ(g_ntApiCompilerSafe.ModuleName(), L"ntdll.dll");
  EXPECT_TRUE(g_ntApiCompilerSafe.EnsureLoaded());
  EXPECT_EQ(g_ntApiCompilerSafe.ModuleHandle(), Ntdll());
  EXPECT_NE(g_ntApiCompilerSafe.m_pNtQueryInformationFile, nullptr);
  EXPECT_NE(g_ntApiCompilerSafe.m_pRtlNtStatusToDosError, nullptr);
}
