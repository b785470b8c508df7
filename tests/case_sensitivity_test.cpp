#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>

#include "checks/CaseSensitivity.h"
#include "checks/NtApiCompilerSafe.h"
#include "frame/Exports.h"
#include "frame/Log.h"
#include "support/ScopedSeam.h"
#include "support/TestSupport.h"

using namespace testsupport;

namespace {

const std::string P = "InstallCheckCaseSentivity : ", kOut = P + "In ExeCuteCommand function popen output = ",
                  kOs = P + "In Case Sensitivity check function OsVersion ", kPass = P + "Case Sensitivity is Not Enabled ",
                  kAbove = P + "Os Version Above 10RS4 CaseSenstivity Has to be Checked", kNoVersion = P + "Unable "
                  "to get Version number, will abort the installation.", kExtract = P + "Error extracting version number",
                  kOlder = P + "Case Sensitivity is Not Supported By OS ", kInvalid = P + "In Case Sensitivity "
                  "ERROR_INVALID_PARAMETER ", kQuery = P + "In Case Sensitivity Check without checking Os Support",
                  kMissing = P + "Case Sensitivity Check failed with Because Path does not Exist ",
                  kFailed = P + "Case Sensitivity Check failed with Error ", kAborting = " hence aborting the installation",
                  kStoi = "Exception occured getting the OsName,will abort the installation stoi";
std::string Cur(const std::string& v) { return "InstallCheckCaseSentivity :currentVersion: " + v + " Windows_10_RS4_Version: 10.0.17134 "; }
std::string Ver(const std::string& v) { return "\r\nMicrosoft Windows [Version " + v + "]\r\n"; }
std::string Enabled(const std::string& dir) { return P + "Case Sensitivity is enabled for folder " + dir; }

const std::string PF = "C:\\Program Files\\Norvale", PD = "C:\\ProgramData\\Norvale", LYN = PF + "\\LYN";
const std::vector<std::string> kDirectories = {
    "C:\\ProgramData", PF, PD, PD + "\\LYN", LYN, PD + "\\LYN\\Policy\\Temp", PD + "\\LYN\\Policy", PD + "\\LYN\\Logs",
    LYN + "\\en", LYN + "\\x64", LYN + "\\x86", LYN + "\\x64\\x64", LYN + "\\x64\\x86", LYN + "\\x86\\x86",
    LYN + "\\x86\\x64"};

// The stand-in interpreter (standins/fakeshell.exe) in COMSPEC: "ver" prints the
// chosen bytes and exits with 3, which says nothing about the version.
struct FakeShell {
  explicit FakeShell(const std::string& ver) { WriteFileBytes(verFile, ver); }
  ~FakeShell() { DeleteFileW(verFile.c_str()); }
  const std::wstring verFile = BuildDir() + L"\\fakeshell-ver.txt";
  ScopedEnvironmentVariable comspec{L"COMSPEC", (BuildDir() + L"\\standins\\fakeshell.exe").c_str()};
  ScopedEnvironmentVariable output{L"IH_FAKESHELL_OUTPUT", verFile.c_str()}, exit{L"IH_FAKESHELL_EXIT", L"3"};
};

// Per directory: the error its opening gives, the query's status and flags word.
struct Answer {
  DWORD openError;
  ULONG status, flags;
};
std::map<std::string, Answer> g_answers;
std::map<HANDLE, std::string> g_opened;
size_t g_opens = 0;

HANDLE WINAPI FakeOpen(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                       DWORD flags, HANDLE templateFile) {
  const bool asRequired = access == 0 && share == 7 && !security && disposition == OPEN_EXISTING &&
                          flags == FILE_FLAG_BACKUP_SEMANTICS && !templateFile;
  ++g_opens;
  SetLastError(asRequired ? g_answers[Narrow(path)].openError : ERROR_INVALID_FUNCTION);
  if (GetLastError()) return INVALID_HANDLE_VALUE;
  HANDLE handle = CreateFileW(path, access, share, security, disposition, flags, templateFile);
  g_opened[handle] = Narrow(path);
  return handle;
}

// Answers only the case-sensitivity class with its 4-byte structure, as Windows does.
NTSTATUS NTAPI FakeQuery(HANDLE file, PIO_STATUS_BLOCK, PVOID buffer, ULONG length, FILE_INFORMATION_CLASS type) {
  if (type != 71 || length != 4) return static_cast<NTSTATUS>(0xC0000003);  // STATUS_INVALID_INFO_CLASS
  *static_cast<ULONG*>(buffer) = g_answers[g_opened[file]].flags;
  return static_cast<NTSTATUS>(g_answers[g_opened[file]].status);
}

}  // namespace

// A machine without the product, where Wine's file system knows no such attribute.
TEST(CaseSensitivityCheck, FirstInstallationOnCurrentWindowsPasses) {
  RemoveTree(Widen(PF));
  RemoveTree(Widen(PD));
  FakeShell shell(Ver("10.0.17134.1"));
  LogCapture log;
  EXPECT_EQ(CheckCaseSentivity(0), 0);
  const std::string banner = "Microsoft Windows [Version 10.0.17134.1]";
  std::vector<std::string> expected = {P + "In Case Sensitivity check function", P + "In Command Execute Function",
                                       kOut, banner, "", Cur("10.0.17134.1"), kAbove, kOs, banner, ""};
  for (const auto& dir : kDirectories)
    expected.insert(expected.end(), {dir == "C:\\ProgramData" ? kQuery : kInvalid, kMissing + dir});
  expected.push_back(kPass);
  EXPECT_EQ(log.Lines(), expected);
}

TEST(CaseSensitivityCheck, VersionFromVerDecidesWhetherDirectoriesAreQueried) {
  const std::string banner(450, 'b');  // longer than one read
  const struct {
    const char* name;
    std::string ver;  // "-": no interpreter at all
    int result;
    std::vector<std::string> lines;  // from the third message on
  } rows[] = {
      {"no interpreter", "-", -1, {P + "In ExeCuteCommand function popen failed", kNoVersion}},
      {"ver prints nothing", "", -1, {kOut, kNoVersion}},
      {"no bracket", "\r\nMicrosoft Windows 6.1.7601\r\n", 0, {kOut, kExtract, kOs, kOlder, kPass}},
      {"no blank after the bracket", "\r\n[Version10.0.17134]\r\n", 0, {kOut, kExtract, kOs, kOlder, kPass}},
      {"older build", Ver("10.0.17133"), 0, {kOut, Cur("10.0.17133"), kOs, kOlder, kPass}},
      {"older major, greater minor", Ver("9.99.99999"), 0, {kOut, Cur("9.99.99999"), kOs, kOlder, kPass}},
      {"two fields", Ver("10.0"), 0, {kOut, Cur("10.0"), kExtract + ", expecting maj.min.build win10rs4Version = "
                                      "10.0.17134, currentVersion = 10.0", kOs, kOlder, kPass}},
      {"empty field", Ver("10..17134"), -1, {kOut, Cur("10..17134"), kStoi}},
      {"field out of range", Ver("10.0.99999999999"), -1, {kOut, Cur("10.0.99999999999"), kStoi}},
      {"equal build", Ver("10.0.17134.1"), 0, {kOut, Cur("10.0.17134.1"), kAbove, kOs, kQuery}},
      {"greater major", Ver("11.0.0"), 0, {kOut, Cur("11.0.0"), kAbove, kOs, kQuery}},
      {"greater minor", Ver("10.1.0"), 0, {kOut, Cur("10.1.0"), kAbove, kOs, kQuery}},
      {"long output", banner + "\r\n" + std::string(250, 'c') + " [Version 11.0.0]\r\n", 0,
       {kOut + banner, Cur("11.0.0"), kAbove, kOs + banner, kQuery}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    FakeShell shell(row.ver);
    std::optional<ScopedEnvironmentVariable> noShell;
    if (row.ver == "-") noShell.emplace(L"COMSPEC", L"C:\\no-such-shell.exe");
    LogCapture log;
    EXPECT_EQ(CheckCaseSentivity(0), row.result);
    auto messages = log.Messages();
    messages.resize(2 + row.lines.size());
    EXPECT_EQ(std::vector<std::string>(messages.begin() + 2, messages.end()), row.lines);
  }
}

// Every product folder exists, "en" as a plain file; the real open is checked
// and counted, the query answers what the row chooses.
TEST(CaseSensitivityCheck, FirstCaseSensitiveOrFailingDirectoryEndsTheCheck) {
  for (const auto& dir : kDirectories) ASSERT_EQ(CreateDirectoryTree(Widen(dir)), 1);
  ASSERT_TRUE(RemoveTree(Widen(LYN + "\\en")) && WriteFileBytes(Widen(LYN + "\\en"), "not a folder"));
  const struct {
    const char* name;
    std::map<std::string, Answer> answers;
    int result;
    size_t opens;
    std::vector<std::string> lines;
    const wchar_t* module = L"ntdll.dll";  // another one leaves the loader unable to load
  } rows[] = {
      {"ordinary folders; a plain file is skipped", {{LYN + "\\en", {0, 0, 1}}}, 0, 14,
       {kQuery, kInvalid, kMissing + LYN + "\\en", kQuery}},
      {"C:\\ProgramData", {{"C:\\ProgramData", {0, 0, 1}}}, -1, 1, {kQuery, Enabled("C:\\ProgramData") + kAborting}},
      {"only bit 0 counts; informational status", {{"C:\\ProgramData", {0, 0, 0xFFFFFFFE}}, {PF, {0, 0x103, 3}}}, -1,
       2, {kQuery, kQuery, Enabled(PF) + kAborting}},
      {"product data folder", {{PD + "\\LYN", {0, 0, 1}}}, -1, 4,
       {kQuery, P + "Case Sensitivity is for folder " + PD + "\\LYN" + kAborting + " "}},
      {"product folder", {{LYN, {0, 0, 1}}}, -1, 5, {kQuery, Enabled(LYN)}},
      {"last folder", {{kDirectories[14], {0, 0, 1}}}, -1, 14, {kQuery, Enabled(kDirectories[14]) + kAborting}},
      {"query fails", {{PD, {0, 0xC0000022, 1}}}, -1, 3, {kQuery, kFailed + "5"}},
      {"query maps to 87", {{PD, {0, 0xC000000D, 1}}}, 0, 14, {kQuery, kMissing + PD, kQuery}},
      {"open fails", {{PD, {ERROR_ACCESS_DENIED, 0, 1}}}, -1, 3,
       {kQuery, P + "In Case Sensitivity  Did not get proper handle", kFailed + "5"}},
      {"open fails with 87", {{PD, {ERROR_INVALID_PARAMETER, 0, 1}}}, 0, 14, {kMissing + PD, kQuery}},
      {"native functions missing", {}, -1, 0,
       {kQuery, P + "In Case Sensitivity ERROR_INTERNAL_ERROR ", kFailed + "1359"}, L"user32.dll"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    g_answers = row.answers;
    g_opens = 0;
    NtApiCompilerSafe api;
    api.EnsureLoaded(row.module);
    api.m_pNtQueryInformationFile = &FakeQuery;
    ScopedSeam open(case_sensitivity_seams::createFile, &FakeOpen);
    ScopedSeam native(case_sensitivity_seams::nativeApi, &api);
    FakeShell shell(Ver("10.0.17134"));
    HandleProbe handles;
    LogCapture log;
    EXPECT_EQ(CheckCaseSentivity(0), row.result);
    EXPECT_TRUE(handles.Unchanged());
    const auto lines = log.Messages();
    EXPECT_NE(std::search(lines.begin(), lines.end(), row.lines.begin(), row.lines.end()), lines.end());
    EXPECT_EQ(g_opens, row.opens);
  }
  RemoveTree(Widen(PF));
  RemoveTree(Widen(PD));
}
