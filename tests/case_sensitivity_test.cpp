#include "support/TestSupport.h"

#include <cstring>
#include <map>

#include "checks/CaseSensitivity.h"
#include "checks/NtApiCompilerSafe.h"
#include "frame/Exports.h"
#include "frame/Log.h"

using namespace testsupport;

namespace {

const std::string P = "InstallCheckCaseSentivity : ", kOut = P + "In ExeCuteCommand function popen output = ",
                  kOs = P + "In Case Sensitivity check function OsVersion ",
                  kPass = P + "Case Sensitivity is Not Enabled ",
                  kOlder = P + "Case Sensitivity is Not Supported By OS ",
                  kExtract = P + "Error extracting version number",
                  kAbove = P + "Os Version Above 10RS4 CaseSenstivity Has to be Checked",
                  kTight = "InstallCheckCaseSentivity :",
                  kNoVersion = P + "Unable to get Version number, will abort the installation.",
                  kAborting = " hence aborting the installation",
                  kQuery = P + "In Case Sensitivity Check without checking Os Support",
                  kFailed = P + "Case Sensitivity Check failed with Error ",
                  kStoi = "Exception occured getting the OsName,will abort the installation stoi";
// The version message alone has no blank after the colon.
std::string Cur(std::string v) { return kTight + "currentVersion: " + v + " Windows_10_RS4_Version: 10.0.17134 "; }
std::string Ver(const std::string& v) { return "\r\nMicrosoft Windows [Version " + v + "]\r\n"; }
std::string Enabled(const std::string& dir) { return P + "Case Sensitivity is enabled for folder " + dir; }

const std::vector<std::string> kDirectories = {
    "C:\\ProgramData", PF, PD, PD + "\\LYN", LYN, PD + "\\LYN\\Policy\\Temp", PD + "\\LYN\\Policy", PD + "\\LYN\\Logs",
    LYN + "\\en", LYN + "\\x64", LYN + "\\x86", LYN + "\\x64\\x64", LYN + "\\x64\\x86",
    LYN + "\\x86\\x86", LYN + "\\x86\\x64"};

// Per directory opened (1 for the first): the error of its opening, the query's status and flags word.
struct Answer { DWORD openError; ULONG status, flags; };
std::map<size_t, Answer> g_answers;
size_t g_opens = 0;

// Opens only as the check must (no access, full sharing, backup semantics for a folder);
// the n-th open and its query get the n-th answer.
HANDLE WINAPI FakeOpen(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD how, DWORD flags,
                       HANDLE model) {
  const bool asRequired = !access && share == 7 && !sa && how == OPEN_EXISTING && flags == 0x2000000 && !model;
  SetLastError(asRequired ? g_answers[++g_opens].openError : ERROR_INVALID_FUNCTION);
  return GetLastError() ? INVALID_HANDLE_VALUE : CreateFileW(path, 0, 7, nullptr, OPEN_EXISTING, flags, nullptr);
}

// Answers only the case-sensitivity class with its 4-byte structure, as Windows does.
NTSTATUS NTAPI FakeQuery(HANDLE, PIO_STATUS_BLOCK, PVOID buffer, ULONG length, FILE_INFORMATION_CLASS type) {
  if (type != 71 || length != 4) return static_cast<NTSTATUS>(0xC0000003);  // STATUS_INVALID_INFO_CLASS
  *static_cast<ULONG*>(buffer) = g_answers[g_opens].flags;
  return static_cast<NTSTATUS>(g_answers[g_opens].status);
}

// ntdll without its last function, and with the test's own query, which would show in a slot left filled.
FARPROC WINAPI WithoutTheLast(HMODULE ntdll, LPCSTR name) {
  if (!strcmp(name, "NtQueryInformationFile")) return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&FakeQuery));
  return strcmp(name, "RtlStringFromGUID") == 0 ? nullptr : GetProcAddress(ntdll, name);
}

}  // namespace

// Every product folder exists, "en" as a plain file. "ver" is the stand-in interpreter's (child.exe);
// the opening is checked and counted, the query answers as the row says.
TEST(CaseSensitivityCheck, VersionAndFirstCaseSensitiveOrFailingDirectoryDecide) {
  ScopeExit cleanup([] { RemoveTree(Widen(PF)); RemoveTree(Widen(PD)); });
  for (const auto& dir : kDirectories) ASSERT_EQ(CreateDirectoryTree(Widen(dir)), 1);
  ASSERT_TRUE(RemoveTree(Widen(LYN + "\\en")) && WriteFileBytes(Widen(LYN + "\\en"), "not a folder"));
  std::vector<std::string> transcript = {P + "In Case Sensitivity check function", P + "In Command Execute Function",
                                         kOut, Cur("10.0.17134"), kAbove, kOs};
  for (const auto& dir : kDirectories)
    transcript.insert(transcript.end(),
                      {dir == LYN + "\\en" ? P + "In Case Sensitivity ERROR_INVALID_PARAMETER " : kQuery,
                       P + "Case Sensitivity Check failed with Because Path does not Exist " + dir});
  transcript.push_back(kPass);
  const std::string banner(450, 'b');  // longer than one read
  // lines: found together in the log; ver "-": no interpreter at all; module null: ntdll without its last
  // function; real: the library's own loader and opening.
  const struct {
    const char* name; std::map<size_t, Answer> answers; int result; size_t opens; std::vector<std::string> lines;
    std::string ver = Ver("10.0.17134"); const wchar_t* module = L"ntdll.dll"; bool real = false;
  } rows[] = {
      // Which Windows "ver" reports.
      {"no interpreter", {}, -1, 0, {P + "In ExeCuteCommand function popen failed", kNoVersion}, "-"},
      {"ver prints nothing", {}, -1, 0, {kOut, kNoVersion}, ""},
      {"no bracket", {}, 0, 0, {kOut, kExtract, kOs, kOlder, kPass}, "\r\nMicrosoft Windows 6.1.7601\r\n"},
      {"no blank after the bracket", {}, 0, 0, {kOut, kExtract, kOs, kOlder, kPass}, "\r\n[Version10.0.17134]\r\n"},
      {"older build", {}, 0, 0, {kOut, Cur("10.0.17133"), kOs, kOlder, kPass}, Ver("10.0.17133")},
      {"older major, greater minor", {}, 0, 0, {Cur("9.99.99999"), kOs, kOlder, kPass}, Ver("9.99.99999")},
      {"two fields", {}, 0, 0,
       {Cur("10.0"), kExtract + ", expecting maj.min.build win10rs4Version = 10.0.17134, currentVersion = 10.0", kOs,
        kOlder, kPass},
       Ver("10.0")},
      {"field out of range", {}, -1, 0, {kOut, Cur("10.0.99999999999"), kStoi}, Ver("10.0.99999999999")},
      {"trailing text and an empty fourth field", {}, 0, 14, {Cur("10.0.17134x."), kAbove}, Ver("10.0.17134x.")},
      {"greater minor", {}, 0, 14, {Cur("10.1.0"), kAbove, kOs, kQuery}, Ver("10.1.0")},
      {"long output, greater major", {}, 0, 14, {kOut + banner, Cur("11.0.0"), kAbove, kOs + banner, kQuery},
       banner + "\r\n" + std::string(250, 'c') + " [Version 11.0.0]\r\n"},
      // Which directory ends the check, and how.
      {"ordinary folders, every bit but the first", {{1, {0, 0, 0xFFFFFFFE}}}, 0, 14, {kQuery, kQuery, kPass}},
      {"informational status", {{2, {0, 0x103, 3}}}, -1, 2, {kQuery, kQuery, Enabled(PF) + kAborting}},
      {"product data folder", {{4, {0, 0, 1}}}, -1, 4,
       {kQuery, P + "Case Sensitivity is for folder " + PD + "\\LYN" + kAborting + " "}},
      {"product folder", {{5, {0, 0, 1}}}, -1, 5, {kQuery, Enabled(LYN)}, Ver("10.0.17134"), L"NtDll.DLL"},
      {"last folder", {{14, {0, 0, 1}}}, -1, 14, {kQuery, Enabled(LYN + "\\x86\\x64") + kAborting}},
      {"query fails", {{3, {0, 0xC0000022, 1}}}, -1, 3, {kQuery, kFailed + "5"}},
      {"open fails", {{3, {ERROR_ACCESS_DENIED, 0, 1}}}, -1, 3,
       {kQuery, P + "In Case Sensitivity  Did not get proper handle", kFailed + "5"}},
      // What the native function loader can offer.
      {"native functions not loadable", {}, -1, 0,
       {kQuery, P + "In Case Sensitivity ERROR_INTERNAL_ERROR ", kFailed + "1359"}, Ver("10.0.17134"), L"user32.dll"},
      {"one native function missing", {}, -1, 1, {kQuery, kFailed + "120"}, Ver("10.0.17134"), nullptr},
      {"the full transcript: Wine's file system knows no such attribute", {}, 0, 0, transcript,
       Ver("10.0.17134"), L"ntdll.dll", true},
  };
  try { throw 0; } catch (int) {}  // the process's first exception leaves a handle of the runtime's own behind
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    g_answers = row.answers;
    g_opens = 0;
    ScopedSeam lookup(ntapi_seams::getProcAddress, row.module ? ntapi_seams::getProcAddress.real() : &WithoutTheLast);
    NtApiCompilerSafe api;
    if (api.EnsureLoaded(row.module)) api.m_pNtQueryInformationFile = &FakeQuery;
    ScopedSeam open(case_sensitivity_seams::createFile, row.real ? &CreateFileW : &FakeOpen);
    ScopedSeam native(case_sensitivity_seams::nativeApi, row.real ? &g_ntApiCompilerSafe : &api);
    // The child prints the text and ends with 101 on "/c", which says nothing about the version.
    const std::wstring interpreter = row.ver == "-" ? BuildDir() + L"\\none.exe" : StandInPath(L"child.exe");
    ScopedEnvironmentVariable shell(L"COMSPEC", interpreter.c_str()),
        output(L"IH_CHILD_PRINTS", Widen(row.ver).c_str());
    BothLogs logs;
    EXPECT_EQ(logs.Run([] { return CheckCaseSentivity(0); }), row.result);
    EXPECT_TRUE(Follow(logs.Lines(true), row.lines));
    EXPECT_EQ(g_opens, row.opens);
  }
}
