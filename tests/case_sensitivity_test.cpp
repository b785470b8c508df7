#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "checks/CaseSensitivity.h"
#include "checks/NtApiCompilerSafe.h"
#include "frame/Exports.h"
#include "frame/Log.h"
#include "support/FakeShell.h"
#include "support/TestSupport.h"

using namespace testsupport;

namespace {

const std::string kStart = "InstallCheckCaseSentivity : In Case Sensitivity check function";
const std::string kExecute = "InstallCheckCaseSentivity : In Command Execute Function";
const std::string kPopenFailed = "InstallCheckCaseSentivity : In ExeCuteCommand function popen failed";
const std::string kPopenOutput = "InstallCheckCaseSentivity : In ExeCuteCommand function popen output = ";
const std::string kNoVersion = "InstallCheckCaseSentivity : Unable to get Version number, will abort the installation.";
const std::string kExtractError = "InstallCheckCaseSentivity : Error extracting version number";
const std::string kOsVersion = "InstallCheckCaseSentivity : In Case Sensitivity check function OsVersion ";
const std::string kAbove = "InstallCheckCaseSentivity : Os Version Above 10RS4 CaseSenstivity Has to be Checked";
const std::string kNotSupported = "InstallCheckCaseSentivity : Case Sensitivity is Not Supported By OS ";
const std::string kNotEnabled = "InstallCheckCaseSentivity : Case Sensitivity is Not Enabled ";
const std::string kInvalid = "InstallCheckCaseSentivity : In Case Sensitivity ERROR_INVALID_PARAMETER ";
const std::string kQuerying = "InstallCheckCaseSentivity : In Case Sensitivity Check without checking Os Support";
const std::string kInternal = "InstallCheckCaseSentivity : In Case Sensitivity ERROR_INTERNAL_ERROR ";
const std::string kNoHandle = "InstallCheckCaseSentivity : In Case Sensitivity  Did not get proper handle";
const std::string kNotExist = "InstallCheckCaseSentivity : Case Sensitivity Check failed with Because Path does not Exist ";
const std::string kFailed = "InstallCheckCaseSentivity : Case Sensitivity Check failed with Error ";
const std::string kException = "Exception occured getting the OsName,will abort the installation ";

std::string CurrentVersion(const std::string& version) {
  return "InstallCheckCaseSentivity :currentVersion: " + version + " Windows_10_RS4_Version: 10.0.17134 ";
}
std::string Expecting(const std::string& version) {
  return "InstallCheckCaseSentivity : Error extracting version number, expecting maj.min.build win10rs4Version = "
         "10.0.17134, currentVersion = " +
         version;
}

// The directories in the order they must be queried.
const std::vector<std::string> kDirectories = {
    "C:\\ProgramData",
    "C:\\Program Files\\Norvale",
    "C:\\ProgramData\\Norvale",
    "C:\\ProgramData\\Norvale\\LYN",
    "C:\\Program Files\\Norvale\\LYN",
    "C:\\ProgramData\\Norvale\\LYN\\Policy\\Temp",
    "C:\\ProgramData\\Norvale\\LYN\\Policy",
    "C:\\ProgramData\\Norvale\\LYN\\Logs",
    "C:\\Program Files\\Norvale\\LYN\\en",
    "C:\\Program Files\\Norvale\\LYN\\x64",
    "C:\\Program Files\\Norvale\\LYN\\x86",
    "C:\\Program Files\\Norvale\\LYN\\x64\\x64",
    "C:\\Program Files\\Norvale\\LYN\\x64\\x86",
    "C:\\Program Files\\Norvale\\LYN\\x86\\x86",
    "C:\\Program Files\\Norvale\\LYN\\x86\\x64",
};

std::string CaseSensitiveMessage(size_t index) {
  const std::string& path = kDirectories[index];
  if (index == 3)
    return "InstallCheckCaseSentivity : Case Sensitivity is for folder " + path + " hence aborting the installation ";
  if (index == 4) return "InstallCheckCaseSentivity : Case Sensitivity is enabled for folder " + path;
  return "InstallCheckCaseSentivity : Case Sensitivity is enabled for folder " + path +
         " hence aborting the installation";
}

// What "ver" prints on Windows: a blank line, then the bracketed version.
std::string VerText(const std::string& version) {
  return "\r\nMicrosoft Windows [Version " + version + "]\r\n";
}

// How a message carrying that output shows in the log (the pipe is read in
// text mode, so each line break becomes one line end).
std::vector<std::string> Shown(const std::string& message, const std::string& version) {
  return {message, "Microsoft Windows [Version " + version + "]", ""};
}

// The last count lines (all of them when there are fewer), so that a short
// log fails the comparison instead of reading before its start.
std::vector<std::string> Tail(const std::vector<std::string>& lines, size_t count) {
  return std::vector<std::string>(lines.end() - std::min(count, lines.size()), lines.end());
}

std::vector<std::string> Concat(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// A machine without the product: only C:\ProgramData exists, and Wine's file
// system does not know the attribute (the query maps to 87).
std::vector<std::string> FirstInstallationQueries() {
  std::vector<std::string> lines;
  for (const auto& path : kDirectories) {
    lines.push_back(path == "C:\\ProgramData" ? kQuerying : kInvalid);
    lines.push_back(kNotExist + path);
  }
  return lines;
}

// Seam state. Opening: an error to give for chosen paths, every open recorded.
struct OpenCall {
  std::wstring path;
  DWORD access, share, disposition, flags;
  bool securityOrTemplate;
};
std::vector<OpenCall> g_opens;
std::map<std::wstring, DWORD> g_openErrors;
std::map<HANDLE, std::wstring> g_openHandles;

HANDLE WINAPI RecordingCreateFile(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                  DWORD disposition, DWORD flags, HANDLE templateFile) {
  g_opens.push_back({path, access, share, disposition, flags, security != nullptr || templateFile != nullptr});
  auto error = g_openErrors.find(path);
  if (error != g_openErrors.end()) {
    SetLastError(error->second);
    return INVALID_HANDLE_VALUE;
  }
  HANDLE handle = CreateFileW(path, access, share, security, disposition, flags, templateFile);
  if (handle != INVALID_HANDLE_VALUE) g_openHandles[handle] = path;
  return handle;
}

// Querying: status and flags word to answer per path (default: success, no
// flag, as NTFS answers for an ordinary directory).
struct QueryAnswer {
  ULONG status;
  ULONG flags;
};
std::map<std::wstring, QueryAnswer> g_answers;
std::vector<std::pair<ULONG, int>> g_queryShapes;  // (length, class)

NTSTATUS NTAPI FakeQuery(HANDLE file, PIO_STATUS_BLOCK io, PVOID buffer, ULONG length, FILE_INFORMATION_CLASS cls) {
  g_queryShapes.emplace_back(length, static_cast<int>(cls));
  QueryAnswer answer = {0, 0};
  auto opened = g_openHandles.find(file);
  if (opened != g_openHandles.end()) {
    auto chosen = g_answers.find(opened->second);
    if (chosen != g_answers.end()) answer = chosen->second;
  }
  if (static_cast<NTSTATUS>(answer.status) >= 0 && length >= sizeof(ULONG)) *static_cast<ULONG*>(buffer) = answer.flags;
  io->Status = static_cast<NTSTATUS>(answer.status);
  return static_cast<NTSTATUS>(answer.status);
}

const wchar_t kProgramFilesNorvale[] = L"C:\\Program Files\\Norvale";
const wchar_t kProgramDataNorvale[] = L"C:\\ProgramData\\Norvale";

std::vector<std::wstring> OpenedPaths() {
  std::vector<std::wstring> paths;
  for (const auto& call : g_opens) paths.push_back(call.path);
  return paths;
}

std::vector<std::wstring> WideDirectories(size_t count) {
  std::vector<std::wstring> paths;
  for (size_t i = 0; i < count; ++i) paths.push_back(Widen(kDirectories[i]));
  return paths;
}

}  // namespace

// Everything a test changes is put back: the product folders (absent on the
// test machine), the seams, and COMSPEC (by ScopedFakeShell).
class CaseSensitivityCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    RemoveTree(kProgramFilesNorvale);
    RemoveTree(kProgramDataNorvale);
    g_opens.clear();
    g_openErrors.clear();
    g_openHandles.clear();
    g_answers.clear();
    g_queryShapes.clear();
  }
  void TearDown() override {
    case_sensitivity_seams::createFile.Reset(); case_sensitivity_seams::nativeApi.Reset();
    RemoveTree(kProgramFilesNorvale);
    RemoveTree(kProgramDataNorvale);
  }
  static void CreateProductFolders() {
    for (const auto& path : kDirectories) ASSERT_EQ(CreateDirectoryTree(Widen(path)), 1) << path;
  }
  // Directories are opened through the recording seam and queried through a
  // loaded loader of the test's own whose query slot answers from g_answers.
  void UseFakeQuery() {
    ASSERT_TRUE(m_api.EnsureLoaded());
    m_api.m_pNtQueryInformationFile = &FakeQuery;
    case_sensitivity_seams::createFile.Set(&RecordingCreateFile);
    case_sensitivity_seams::nativeApi.Set(&m_api);
  }
  NtApiCompilerSafe m_api;
};

// --- Finding the Windows version through "ver" ---

TEST_F(CaseSensitivityCheck, InterpreterThatCannotBeStartedAbortsWithoutAVersion) {
  ScopedEnvironmentVariable comspec(L"COMSPEC", (BuildDir() + L"\\standins\\no-such-shell.exe").c_str());
  LogCapture log;
  EXPECT_EQ(CheckCaseSentivity(0), -1);
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{kStart, kExecute, kPopenFailed, kNoVersion}));
}

TEST_F(CaseSensitivityCheck, VerPrintingNothingAbortsWithoutAVersion) {
  ScopedFakeShell shell("");
  LogCapture log;
  EXPECT_EQ(CheckCaseSentivity(0), -1);
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{kStart, kExecute, kPopenOutput, kNoVersion}));
  EXPECT_EQ(shell.Calls(), "/c ver\n") << "the interpreter is asked for \"ver\" once";
}

TEST_F(CaseSensitivityCheck, OutputWithoutABracketedVersionLetsTheInstallationGoOn) {
  // Wine's own "ver" text, then a bracket with no blank after it.
  for (const std::string& text : {std::string("Microsoft Windows 6.1.7601\r\n"),
                                  std::string("Microsoft Windows [Version10.0.17134]\r\n")}) {
    SCOPED_TRACE(text);
    ScopedFakeShell shell(text);
    LogCapture log;
    EXPECT_EQ(CheckCaseSentivity(0), 0);
    const std::string shown = text.substr(0, text.size() - 2);
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{kStart, kExecute, kPopenOutput + shown, "", kExtractError,
                                                     kOsVersion + shown, "", kNotSupported, kNotEnabled}));
  }
}

TEST_F(CaseSensitivityCheck, WinesOwnInterpreterGivesNoBracketedVersion) {
  // Wine 8's "ver" prints a blank line and "Microsoft Windows 6.1.7601".
  LogCapture log;
  EXPECT_EQ(CheckCaseSentivity(0), 0);
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{kStart, kExecute, kPopenOutput, "Microsoft Windows 6.1.7601", "",
                                                   kExtractError, kOsVersion, "Microsoft Windows 6.1.7601", "",
                                                   kNotSupported, kNotEnabled}));
}

TEST_F(CaseSensitivityCheck, OlderWindowsIsNotCheckedAndPasses) {
  for (const std::string version : {"10.0.17133", "6.3.9600", "10.0.17133.9999", "9.99.99999"}) {
    SCOPED_TRACE(version);
    CreateProductFolders();
    UseFakeQuery();
    g_answers = {{L"C:\\ProgramData", {0, 1}}};  // would refuse, were it queried
    ScopedFakeShell shell(VerText(version));
    LogCapture log;
    EXPECT_EQ(CheckCaseSentivity(0), 0);
    EXPECT_EQ(log.Lines(), Concat({{kStart, kExecute}, Shown(kPopenOutput, version), {CurrentVersion(version)},
                                   Shown(kOsVersion, version), {kNotSupported, kNotEnabled}}));
    EXPECT_TRUE(g_opens.empty()) << "no directory is looked at";
  }
}

TEST_F(CaseSensitivityCheck, From10RS4OnTheDirectoriesAreQueried) {
  // Equal major, minor and build; a greater major whatever follows; a greater
  // minor; a fourth field that plays no part.
  for (const std::string version : {"10.0.17134.1", "10.0.17134", "11.0.0", "10.1.0", "10.0.19045.3803"}) {
    SCOPED_TRACE(version);
    ScopedFakeShell shell(VerText(version));
    LogCapture log;
    EXPECT_EQ(CheckCaseSentivity(0), 0);
    EXPECT_EQ(log.Lines(), Concat({{kStart, kExecute}, Shown(kPopenOutput, version), {CurrentVersion(version), kAbove},
                                   Shown(kOsVersion, version), FirstInstallationQueries(), {kNotEnabled}}));
  }
}

TEST_F(CaseSensitivityCheck, VersionWithTwoFieldsIsNotCheckedAndPasses) {
  ScopedFakeShell shell(VerText("10.0"));
  LogCapture log;
  EXPECT_EQ(CheckCaseSentivity(0), 0);
  EXPECT_EQ(log.Lines(), Concat({{kStart, kExecute}, Shown(kPopenOutput, "10.0"), {CurrentVersion("10.0")},
                                 {Expecting("10.0")}, Shown(kOsVersion, "10.0"), {kNotSupported, kNotEnabled}}));
}

TEST_F(CaseSensitivityCheck, VersionFieldThatIsNoNumberAbortsThroughTheException) {
  // Not a number in each position, and a number out of the 32-bit range.
  for (const std::string version : {"x.0.17134", "10.x.17134", "10.0.x", "10.0.99999999999"}) {
    SCOPED_TRACE(version);
    ScopedFakeShell shell(VerText(version));
    LogCapture log;
    EXPECT_EQ(CheckCaseSentivity(0), -1);
    EXPECT_EQ(log.Lines(), Concat({{kStart, kExecute}, Shown(kPopenOutput, version), {CurrentVersion(version)},
                                   {kException + "stoi"}}));
  }
}

TEST_F(CaseSensitivityCheck, InterpretersExitStatusIsNotLookedAt) {
  ScopedFakeShell shell(VerText("6.3.9600"), 3);
  LogCapture log;
  EXPECT_EQ(CheckCaseSentivity(0), 0);
  EXPECT_EQ(log.Lines().back(), kNotEnabled);
}

TEST_F(CaseSensitivityCheck, OutputLongerThanOneReadIsKeptWhole) {
  const std::string banner(450, 'b');
  const std::string longLine = std::string(250, 'c') + " [Version 11.0.0]";
  ScopedFakeShell shell(banner + "\r\n" + longLine + "\r\n");
  LogCapture log;
  EXPECT_EQ(CheckCaseSentivity(0), 0);
  const auto lines = log.Lines();
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[2], kPopenOutput + banner);
  EXPECT_EQ(lines[3], longLine);
  EXPECT_EQ(lines[4], "");
  EXPECT_EQ(lines[5], CurrentVersion("11.0.0"));
}

// --- Querying the directories ---

TEST_F(CaseSensitivityCheck, ExistingOrdinaryFoldersAreQueriedInOrderAndPass) {
  CreateProductFolders();
  UseFakeQuery();
  ScopedFakeShell shell(VerText("10.0.17134.1"));
  LogCapture log;
  EXPECT_EQ(CheckCaseSentivity(0), 0);
  EXPECT_EQ(log.Lines(),
            Concat({{kStart, kExecute}, Shown(kPopenOutput, "10.0.17134.1"), {CurrentVersion("10.0.17134.1"), kAbove},
                    Shown(kOsVersion, "10.0.17134.1"), std::vector<std::string>(kDirectories.size(), kQuerying),
                    {kNotEnabled}}));
  EXPECT_EQ(OpenedPaths(), WideDirectories(kDirectories.size()));
  for (const auto& call : g_opens) {
    EXPECT_EQ(call.access, 0u);
    EXPECT_EQ(call.share, 7u);
    EXPECT_EQ(call.disposition, static_cast<DWORD>(OPEN_EXISTING));
    EXPECT_EQ(call.flags, 0x2000000u);
    EXPECT_FALSE(call.securityOrTemplate);
  }
  EXPECT_EQ(g_queryShapes, (std::vector<std::pair<ULONG, int>>(kDirectories.size(), {4u, 71})));
}

TEST_F(CaseSensitivityCheck, FirstCaseSensitiveDirectoryEndsTheCheckWithItsOwnMessage) {
  CreateProductFolders();
  for (size_t i = 0; i < kDirectories.size(); ++i) {
    SCOPED_TRACE(kDirectories[i]);
    g_opens.clear();
    UseFakeQuery();
    g_answers = {{Widen(kDirectories[i]), {0, 1}}};
    if (i + 1 < kDirectories.size()) g_answers[Widen(kDirectories[i + 1])] = {0, 1};
    ScopedFakeShell shell(VerText("10.0.17134.1"));
    LogCapture log;
    EXPECT_EQ(CheckCaseSentivity(0), -1);
    std::vector<std::string> expected = std::vector<std::string>(i + 1, kQuerying);
    expected.push_back(CaseSensitiveMessage(i));
    const auto lines = log.Lines();
    EXPECT_EQ(Tail(lines, expected.size()), expected);
    EXPECT_EQ(OpenedPaths(), WideDirectories(i + 1)) << "later directories are not queried";
  }
}

TEST_F(CaseSensitivityCheck, OnlyTheCaseSensitiveBitOfTheFlagsWordCounts) {
  CreateProductFolders();
  UseFakeQuery();
  // Every other bit set: not case-sensitive. A success status that is not 0
  // (informational) still delivers the flags.
  g_answers = {{L"C:\\ProgramData", {0, 0xFFFFFFFEu}}, {L"C:\\Program Files\\Norvale", {0x00000103u, 3}}};
  ScopedFakeShell shell(VerText("10.0.17134.1"));
  LogCapture log;
  EXPECT_EQ(CheckCaseSentivity(0), -1);
  const auto lines = log.Lines();
  EXPECT_EQ(Tail(lines, 3),
            (std::vector<std::string>{kQuerying, kQuerying, CaseSensitiveMessage(1)}));
}

TEST_F(CaseSensitivityCheck, FailedQueryEndsTheCheckWithTheMappedError) {
  CreateProductFolders();
  const struct {
    ULONG status;
    std::string mapped;
  } cases[] = {
      {0xC0000022u, "5"},    // STATUS_ACCESS_DENIED
      {0x80000005u, "234"},  // STATUS_BUFFER_OVERFLOW: negative, so an error too
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mapped);
    g_opens.clear();
    UseFakeQuery();
    g_answers = {{L"C:\\ProgramData\\Norvale\\LYN", {c.status, 1}}};
    ScopedFakeShell shell(VerText("10.0.17134.1"));
    LogCapture log;
    EXPECT_EQ(CheckCaseSentivity(0), -1);
    const auto lines = log.Lines();
    EXPECT_EQ(Tail(lines, 5),
              (std::vector<std::string>{kQuerying, kQuerying, kQuerying, kQuerying, kFailed + c.mapped}));
    EXPECT_EQ(OpenedPaths(), WideDirectories(4));
  }
}

TEST_F(CaseSensitivityCheck, QueryMappingToInvalidParameterSkipsTheDirectory) {
  CreateProductFolders();
  UseFakeQuery();
  g_answers = {{L"C:\\ProgramData\\Norvale\\LYN", {0xC000000Du, 1}}};  // STATUS_INVALID_PARAMETER
  ScopedFakeShell shell(VerText("10.0.17134.1"));
  LogCapture log;
  EXPECT_EQ(CheckCaseSentivity(0), 0);
  std::vector<std::string> expected(kDirectories.size() + 2, kQuerying);
  expected[4] = kNotExist + "C:\\ProgramData\\Norvale\\LYN";
  expected.back() = kNotEnabled;
  const auto lines = log.Lines();
  EXPECT_EQ(Tail(lines, expected.size()), expected);
}

TEST_F(CaseSensitivityCheck, DirectoryThatCannotBeOpenedEndsTheCheckUnlessTheErrorIs87) {
  CreateProductFolders();
  UseFakeQuery();
  g_openErrors = {{L"C:\\ProgramData\\Norvale", ERROR_ACCESS_DENIED}};
  {
    ScopedFakeShell shell(VerText("10.0.17134.1"));
    LogCapture log;
    EXPECT_EQ(CheckCaseSentivity(0), -1);
    const auto lines = log.Lines();
    EXPECT_EQ(Tail(lines, 5),
              (std::vector<std::string>{kQuerying, kQuerying, kQuerying, kNoHandle, kFailed + "5"}));
    EXPECT_EQ(OpenedPaths(), WideDirectories(3));
  }
  g_opens.clear();
  g_openErrors = {{L"C:\\ProgramData\\Norvale", ERROR_INVALID_PARAMETER}};
  {
    ScopedFakeShell shell(VerText("10.0.17134.1"));
    LogCapture log;
    EXPECT_EQ(CheckCaseSentivity(0), 0);
    std::vector<std::string> expected = {kQuerying, kQuerying, kQuerying, kNoHandle,
                                         kNotExist + "C:\\ProgramData\\Norvale"};
    expected.insert(expected.end(), kDirectories.size() - 3, kQuerying);
    expected.push_back(kNotEnabled);
    const auto lines = log.Lines();
    EXPECT_EQ(Tail(lines, expected.size()), expected);
    EXPECT_EQ(OpenedPaths(), WideDirectories(kDirectories.size()));
  }
}

TEST_F(CaseSensitivityCheck, UnavailableNativeFunctionsEndTheCheckWithInternalError) {
  struct FailingLookup {
    static FARPROC WINAPI Lookup(HMODULE module, LPCSTR name) {
      if (std::string(name) == "RtlGetVersion") {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
      }
      return GetProcAddress(module, name);
    }
  };
  NtApiCompilerSafe api;  // not loaded yet: this check's call does the load
  case_sensitivity_seams::nativeApi.Set(&api);
  ntapi_seams::getProcAddress.Set(&FailingLookup::Lookup);
  {
    ScopedFakeShell shell(VerText("10.0.17134.1"));
    LogCapture log;
    EXPECT_EQ(CheckCaseSentivity(0), -1);
    ntapi_seams::getProcAddress.Reset();
    EXPECT_EQ(log.Lines(), Concat({{kStart, kExecute}, Shown(kPopenOutput, "10.0.17134.1"),
                                   {CurrentVersion("10.0.17134.1"), kAbove}, Shown(kOsVersion, "10.0.17134.1"),
                                   {kQuerying, kInternal, kFailed + "1359"}}));
  }
  // The borrowed handle stays held, so the next check finds the loader
  // "loaded" with empty slots: the wrappers' codes surface as error 120.
  {
    ScopedFakeShell shell(VerText("10.0.17134.1"));
    LogCapture log;
    EXPECT_EQ(CheckCaseSentivity(0), -1);
    const auto lines = log.Lines();
    EXPECT_EQ(Tail(lines, 2),
              (std::vector<std::string>{kQuerying, kFailed + "120"}));
  }
}

TEST_F(CaseSensitivityCheck, PlainFileAtAListedPathIsTreatedAsMissing) {
  CreateProductFolders();
  UseFakeQuery();
  ASSERT_TRUE(RemoveTree(L"C:\\Program Files\\Norvale\\LYN\\en"));
  ASSERT_TRUE(WriteFileBytes(L"C:\\Program Files\\Norvale\\LYN\\en", "not a folder"));
  g_answers = {{L"C:\\Program Files\\Norvale\\LYN\\en", {0, 1}}};  // never asked: it is not opened
  ScopedFakeShell shell(VerText("10.0.17134.1"));
  LogCapture log;
  EXPECT_EQ(CheckCaseSentivity(0), 0);
  std::vector<std::string> expected(kDirectories.size() + 2, kQuerying);
  expected[8] = kInvalid;
  expected[9] = kNotExist + "C:\\Program Files\\Norvale\\LYN\\en";
  expected.back() = kNotEnabled;
  const auto lines = log.Lines();
  EXPECT_EQ(Tail(lines, expected.size()), expected);
  for (const auto& opened : OpenedPaths()) EXPECT_NE(opened, L"C:\\Program Files\\Norvale\\LYN\\en");
}

// --- The exported action in the shipped library ---

TEST_F(CaseSensitivityCheck, ExportedActionWorksFromTheLoadedLibrary) {
  HMODULE library = LoadLibraryW((BuildDir() + L"\\InstallHelper.dll").c_str());
  ASSERT_NE(library, nullptr);
  auto action = reinterpret_cast<int (*)(unsigned long)>(
      reinterpret_cast<void*>(GetProcAddress(library, "?CheckCaseSentivity@@YAHK@Z")));
  ASSERT_NE(action, nullptr);
  {
    ScopedFakeShell shell(VerText("10.0.17134.1"));
    LogCapture log;
    EXPECT_EQ(action(0), 0);
    EXPECT_EQ(log.Lines(), Concat({{kStart, kExecute}, Shown(kPopenOutput, "10.0.17134.1"),
                                   {CurrentVersion("10.0.17134.1"), kAbove}, Shown(kOsVersion, "10.0.17134.1"),
                                   FirstInstallationQueries(), {kNotEnabled}}));
  }
  {
    ScopedFakeShell shell("");
    EXPECT_EQ(action(0), -1);
  }
  EXPECT_TRUE(FreeLibrary(library));  // unloading destroys the library's own loader and version text
}

// --- The single steps ---

TEST(CaseSensitivitySteps, SplitStringKeepsEveryPieceIncludingEmptyOnes) {
  using Pieces = std::vector<std::wstring>;
  EXPECT_EQ(SplitString(L"10.0.17134", L'.'), (Pieces{L"10", L"0", L"17134"}));
  EXPECT_EQ(SplitString(L"no separator", L'.'), (Pieces{L"no separator"}));
  EXPECT_EQ(SplitString(L"", L'.'), (Pieces{L""}));
  EXPECT_EQ(SplitString(L".", L'.'), (Pieces{L"", L""}));
  EXPECT_EQ(SplitString(L"a..b.", L'.'), (Pieces{L"a", L"", L"b", L""}));
  EXPECT_EQ(SplitString(L"x [Version 1] [y", L'['), (Pieces{L"x ", L"Version 1] ", L"y"}));
}

TEST(CaseSensitivitySteps, VersionComparisonAgainst10RS4) {
  EXPECT_EQ(win10rs4Version, L"10.0.17134");
  const struct {
    const wchar_t* version;
    bool atLeast;
  } cases[] = {
      {L"10.0.17134", true},    {L"10.0.17134.1", true},  {L"10.0.17135", true},  {L"10.0.17133", false},
      {L"10.1.0", true},        {L"11.0.0", true},        {L"9.99.99999", false}, {L"6.3.9600", false},
      {L"-10.0.17134", false},  {L" 10.0.17134", true},   {L"+10.0.17134", true}, {L"10.0.17134abc", true},
      {L"10.0.17134.x", true},  {L"10.0.17133.99999", false},
  };
  for (const auto& c : cases) {
    LogCapture log;
    EXPECT_EQ(IsVersionAtLeast(c.version), c.atLeast) << Narrow(c.version);
    EXPECT_EQ(log.Raw(), "") << "a comparison writes nothing";
  }
}

TEST(CaseSensitivitySteps, VersionWithFewerThanThreeFieldsIsBelowAndSaysSo) {
  for (const std::string version : {"10.0", "10", ""}) {
    LogCapture log;
    EXPECT_FALSE(IsVersionAtLeast(Widen(version)));
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{Expecting(version)}));
  }
}

TEST(CaseSensitivitySteps, VersionFieldsThatAreNoNumbersThrow) {
  EXPECT_THROW(IsVersionAtLeast(L"10.x.17134"), std::invalid_argument);
  EXPECT_THROW(IsVersionAtLeast(L"10..17134"), std::invalid_argument);
  EXPECT_THROW(IsVersionAtLeast(L"10.0.99999999999"), std::out_of_range);
}

TEST(CaseSensitivitySteps, VersionIsTakenAfterTheFirstBracketAndBlank) {
  LogCapture log;
  EXPECT_TRUE(IsCaseSensitivitySupportedByOs(L"\nMicrosoft Windows [Version 10.0.19045.3803]\n"));
  EXPECT_FALSE(IsCaseSensitivitySupportedByOs(L"[Version 6.3.9600] [Version 11.0.0]"));
  EXPECT_TRUE(IsCaseSensitivitySupportedByOs(L"[Version 11.0.0"));        // no closing bracket: all of it
  EXPECT_TRUE(IsCaseSensitivitySupportedByOs(L"[Version 10.0.17134]]"));  // cut before the last one
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{CurrentVersion("10.0.19045.3803"), kAbove,
                                                   CurrentVersion("6.3.9600"), CurrentVersion("11.0.0"), kAbove,
                                                   CurrentVersion("10.0.17134]"), kAbove}));
}

TEST(CaseSensitivitySteps, DirectoryQueryResetsTheFlagAndClosesItsHandle) {
  InstallLog(L"warm up %s", L"");  // the log's own first-use work is not the query's
  unsigned char flag = 1;
  EXPECT_EQ(GetDirectoryCaseSensitivity(L"C:\\no-such-folder-ih", flag), 87u);
  EXPECT_EQ(flag, 0);

  // C:\ProgramData exists; Wine answers the query with STATUS_INVALID_INFO_CLASS.
  flag = 1;
  auto before = NextHandleValues();
  EXPECT_EQ(GetDirectoryCaseSensitivity(L"C:\\ProgramData", flag), 87u);
  EXPECT_EQ(flag, 0);
  EXPECT_EQ(NextHandleValues(), before);

  NtApiCompilerSafe api;
  ASSERT_TRUE(api.EnsureLoaded());
  api.m_pNtQueryInformationFile = &FakeQuery;
  case_sensitivity_seams::nativeApi.Set(&api);
  case_sensitivity_seams::createFile.Set(&RecordingCreateFile);
  for (const QueryAnswer answer : {QueryAnswer{0, 1}, QueryAnswer{0xC0000022u, 0}}) {
    g_answers = {{L"C:\\ProgramData", answer}};
    flag = 0;
    before = NextHandleValues();
    const DWORD result = GetDirectoryCaseSensitivity(L"C:\\ProgramData", flag);
    EXPECT_EQ(NextHandleValues(), before);
    EXPECT_EQ(result, answer.status == 0 ? 0u : 5u);
    EXPECT_EQ(flag, answer.status == 0 ? 1 : 0);
  }
  case_sensitivity_seams::createFile.Reset(); case_sensitivity_seams::nativeApi.Reset();
}
