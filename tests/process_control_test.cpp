#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <string>
#include <vector>

#include "frame/Log.h"
#include "process/ProcessControl.h"
#include "support/ProcessSupport.h"
#include "support/TestSupport.h"

using namespace testsupport;

namespace {

const std::wstring kFolder = L"C:\\ih-process-test";
const wchar_t kGeneralKey[] = L"Software\\Norvale\\LYN\\General";
const std::string kEntered = "getProcessHandleByName: Entered";
const std::string kFound = "getProcessHandleByName: LYN Service Found";
const std::string kEnd = "getProcessHandleByName: Process END";
const std::string kNotRunning = "killExistingORBProcess : could not get process handle for LynService.exe ";
const std::string kProcessLinePrefix = "getProcessHandleByName: process Name = ";
const DWORD kLongRun = 120000;  // cap for a stand-in that a failed test could not end

std::wstring LongRunning(const std::wstring& path) {
  return L"\"" + path + L"\" " + std::to_wstring(kLongRun);
}

std::string ProcessLine(const StartedProcess& process) {
  const std::string path = Narrow(process.ImagePath());
  return kProcessLinePrefix + path + ",process ID = " + std::to_string(process.pid()) + " , return Code is " +
         std::to_string(path.size());
}

std::string OpenFailedText(DWORD pid) {
  return "Failed to Open the Process with PID: " + std::to_string(pid) + ", the process may not be running";
}
std::string TerminatedText(DWORD pid) { return "Terminated Successfully the Process with PID: " + std::to_string(pid); }

// What the process list seam hands out.
std::vector<DWORD> g_ids;
DWORD g_bufferBytes = 0;
BOOL WINAPI ListedIds(DWORD* ids, DWORD bytes, DWORD* returned) {
  g_bufferBytes = bytes;
  DWORD count = 0;
  for (; count < g_ids.size() && count < bytes / sizeof(DWORD); ++count) ids[count] = g_ids[count];
  *returned = count * sizeof(DWORD);
  return TRUE;
}
BOOL WINAPI ListUnavailable(DWORD*, DWORD, DWORD*) {
  SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}
BOOL WINAPI TerminateRefused(HANDLE, UINT) {
  SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}

}  // namespace

class ProcessControl : public ::testing::Test {
 protected:
  void SetUp() override {
    RemoveTree(kFolder);
    ASSERT_TRUE(CreateDirectoryW(kFolder.c_str(), nullptr));
  }
  // The stand-ins a test started have ended by now: their copies can go.
  void TearDown() override {
    process_seams::enumProcesses.Reset(); process_seams::terminateProcess.Reset();
    g_ids.clear();
    RemoveTree(kFolder);
  }

  // A copy of the long-running stand-in under a path of the test's choosing.
  std::wstring CopyOfLongRunner(const std::wstring& relativePath) {
    const std::wstring target = kFolder + L"\\" + relativePath;
    const size_t slash = target.rfind(L'\\');
    CreateDirectoryW(target.substr(0, slash).c_str(), nullptr);
    EXPECT_TRUE(CopyFileW(StandInPath(L"LynService.exe").c_str(), target.c_str(), FALSE)) << Narrow(target);
    return target;
  }
};

// ---- getProcessHandleByName and killExistingORBProcess, real process list ----

TEST_F(ProcessControl, FindsTheRunningLynServiceAndHandsBackAHandleThatQueriesAndTerminates) {
  StartedProcess service(LongRunning(StandInPath(L"LynService.exe")));
  ASSERT_TRUE(service.WaitUntilLoaded());
  LogCapture log;
  HANDLE found = getProcessHandleByName(L"LynService.exe");
  ASSERT_NE(found, INVALID_HANDLE_VALUE);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(GetProcessId(found), service.pid());

  const auto lines = log.Lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines.front(), kEntered);
  EXPECT_EQ(lines[lines.size() - 2], ProcessLine(service));
  EXPECT_EQ(lines.back(), kFound);
  for (size_t i = 1; i + 1 < lines.size(); ++i) EXPECT_EQ(lines[i].find(kProcessLinePrefix), 0u) << lines[i];

  // Opened for query, read and terminate.
  wchar_t path[MAX_PATH + 1] = {};
  EXPECT_GT(K32GetModuleFileNameExW(found, nullptr, path, MAX_PATH), 0u);
  EXPECT_TRUE(TerminateProcess(found, 0x1234));
  EXPECT_EQ(service.WaitForExitCode(), 0x1234u);
  CloseHandle(found);
}

TEST_F(ProcessControl, KillExistingEndsTheRunningLynServiceWith0xDEADAndClosesItsHandle) {
  StartedProcess service(LongRunning(StandInPath(L"LynService.exe")));
  ASSERT_TRUE(service.WaitUntilLoaded());
  LogCapture log;
  const auto before = NextHandleValues();
  EXPECT_EQ(killExistingORBProcess(), 1);
  EXPECT_EQ(NextHandleValues(), before);
  EXPECT_EQ(service.WaitForExitCode(), 0xDEADu);
  const auto lines = log.Lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], kFound);
  EXPECT_EQ(lines.back(), "killExistingORBProcess :Successfully killed existing orb service 1");
}

TEST_F(ProcessControl, WithoutLynServiceEveryOpenableProcessGetsALineAndTheWayIsClear) {
  LogCapture log;
  const auto before = NextHandleValues();
  EXPECT_EQ(killExistingORBProcess(), 1);
  EXPECT_EQ(NextHandleValues(), before);
  const auto lines = log.Lines();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines.front(), kEntered);
  EXPECT_EQ(lines[lines.size() - 2], kEnd);
  EXPECT_EQ(lines.back(), kNotRunning);
  // This test program is among the processes examined, and so is one of Wine's own.
  wchar_t self[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  const std::string selfLine = kProcessLinePrefix + Narrow(self) + ",process ID = " +
                               std::to_string(GetCurrentProcessId()) + " , return Code is " + std::to_string(length);
  bool sawSelf = false, sawServices = false;
  for (size_t i = 1; i + 2 < lines.size(); ++i) {
    EXPECT_EQ(lines[i].find(kProcessLinePrefix), 0u) << lines[i];
    sawSelf = sawSelf || lines[i] == selfLine;
    sawServices = sawServices || lines[i].find("\\services.exe,process ID = ") != std::string::npos;
  }
  EXPECT_TRUE(sawSelf) << selfLine;
  EXPECT_TRUE(sawServices);
}

TEST_F(ProcessControl, NameDifferingOnlyInLetterCaseIsNotFound) {
  StartedProcess lower(LongRunning(CopyOfLongRunner(L"lynservice.exe")));
  StartedProcess upper(LongRunning(CopyOfLongRunner(L"sub\\LYNSERVICE.EXE")));
  ASSERT_TRUE(lower.WaitUntilLoaded());
  ASSERT_TRUE(upper.WaitUntilLoaded());
  LogCapture log;
  EXPECT_EQ(killExistingORBProcess(), 1);
  EXPECT_TRUE(lower.Running());
  EXPECT_TRUE(upper.Running());
  const auto lines = log.Lines();
  // Both were examined and passed over.
  EXPECT_NE(std::find(lines.begin(), lines.end(), ProcessLine(lower)), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), ProcessLine(upper)), lines.end());
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), kNotRunning);
}

TEST_F(ProcessControl, FolderNamedAfterTheProgramMatchesAnyProgramInIt) {
  StartedProcess host(LongRunning(CopyOfLongRunner(L"LynService.exe\\host.exe")));
  ASSERT_TRUE(host.WaitUntilLoaded());
  HANDLE found = getProcessHandleByName(L"LynService.exe");
  ASSERT_NE(found, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetProcessId(found), host.pid());
  CloseHandle(found);
  // Also a fragment of a folder name, with no program name in it at all.
  found = getProcessHandleByName(L"ih-process-test\\LynServ");
  ASSERT_NE(found, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetProcessId(found), host.pid());
  CloseHandle(found);

  EXPECT_EQ(killExistingORBProcess(), 1);
  EXPECT_EQ(host.WaitForExitCode(), 0xDEADu);
}

// ---- the same, with the process list chosen by the test ----

TEST_F(ProcessControl, FirstMatchInListOrderWinsAndIdsThatCannotBeOpenedGiveNoLine) {
  StartedProcess service(LongRunning(StandInPath(L"LynService.exe")));
  StartedProcess host(LongRunning(CopyOfLongRunner(L"LynService.exe\\host.exe")));
  ASSERT_TRUE(service.WaitUntilLoaded());
  ASSERT_TRUE(host.WaitUntilLoaded());
  process_seams::enumProcesses.Set(&ListedIds);

  g_ids = {0, 0x7FFFFFF0, host.pid(), service.pid()};
  LogCapture first;
  HANDLE found = getProcessHandleByName(L"LynService.exe");
  EXPECT_EQ(g_bufferBytes, 8192u);
  ASSERT_NE(found, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetProcessId(found), host.pid());
  CloseHandle(found);
  EXPECT_EQ(first.Lines(), (std::vector<std::string>{kEntered, ProcessLine(host), kFound}));

  g_ids = {GetCurrentProcessId(), service.pid(), host.pid()};
  LogCapture second;
  found = getProcessHandleByName(L"LynService.exe");
  ASSERT_NE(found, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetProcessId(found), service.pid());
  CloseHandle(found);
  const auto lines = second.Lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2], ProcessLine(service));
  EXPECT_EQ(lines[3], kFound);
}

TEST_F(ProcessControl, OnlyTheFirst2048IdsAreExamined) {
  StartedProcess service(LongRunning(StandInPath(L"LynService.exe")));
  ASSERT_TRUE(service.WaitUntilLoaded());
  process_seams::enumProcesses.Set(&ListedIds);
  // 2048 ids that cannot be opened, then the service: it would be found by a
  // lookup that examined more.
  g_ids.assign(2048, 0);
  g_ids.push_back(service.pid());
  LogCapture log;
  EXPECT_EQ(getProcessHandleByName(L"LynService.exe"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{kEntered, kEnd}));

  g_ids.resize(2047);
  g_ids.push_back(service.pid());
  HANDLE found = getProcessHandleByName(L"LynService.exe");
  ASSERT_NE(found, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetProcessId(found), service.pid());
  CloseHandle(found);
}

TEST_F(ProcessControl, UnreadableProcessListLooksLikeNoServiceAndLeavesOnlyTheEnteredLine) {
  StartedProcess service(LongRunning(StandInPath(L"LynService.exe")));
  ASSERT_TRUE(service.WaitUntilLoaded());
  process_seams::enumProcesses.Set(&ListUnavailable);
  LogCapture log;
  EXPECT_EQ(getProcessHandleByName(L"LynService.exe"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{kEntered}));
  LogCapture kill;
  EXPECT_EQ(killExistingORBProcess(), 1);
  EXPECT_EQ(kill.Lines(), (std::vector<std::string>{kEntered, kNotRunning}));
  EXPECT_TRUE(service.Running());
}

TEST_F(ProcessControl, KillExistingGives0WhenTheServiceCannotBeTerminated) {
  StartedProcess service(LongRunning(StandInPath(L"LynService.exe")));
  ASSERT_TRUE(service.WaitUntilLoaded());
  process_seams::terminateProcess.Set(&TerminateRefused);
  LogCapture log;
  const auto before = NextHandleValues();
  EXPECT_EQ(killExistingORBProcess(), 0);
  EXPECT_EQ(NextHandleValues(), before);
  EXPECT_TRUE(service.Running());
  const auto lines = log.Lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], kFound);
  EXPECT_EQ(lines.back(), "killExistingORBProcess : could not terminate LynService.exe 0");
}

// ---- terminateProcessByPID ----

TEST_F(ProcessControl, TerminateByIdEndsTheProcessWithTheGivenExitCodeAndReportsToBothLogs) {
  MsiTestSession session;
  ASSERT_NE(session.handle(), 0u);
  StartedProcess first(LongRunning(StandInPath(L"LynService.exe")));
  StartedProcess second(LongRunning(StandInPath(L"LynService.exe")));
  ASSERT_TRUE(first.started() && second.started());
  LogCapture log;
  const auto before = NextHandleValues();
  EXPECT_EQ(terminateProcessByPID(session.handle(), first.pid(), 0xDEAD), 1);
  EXPECT_EQ(terminateProcessByPID(0, second.pid(), 77), 1);
  EXPECT_EQ(NextHandleValues(), before);
  EXPECT_EQ(first.WaitForExitCode(), 0xDEADu);
  EXPECT_EQ(second.WaitForExitCode(), 77u);
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{TerminatedText(first.pid()), TerminatedText(second.pid())}));
  // The second call had no installer handle.
  EXPECT_EQ(RecordTexts(session), (std::vector<std::wstring>{Widen(TerminatedText(first.pid()))}));
}

TEST_F(ProcessControl, TerminateByIdOfNoProcessReportsThatItCannotBeOpened) {
  MsiTestSession session;
  ASSERT_NE(session.handle(), 0u);
  DWORD endedPid = 0;
  {
    StartedProcess ended(L"\"" + StandInPath(L"child.exe") + L"\" --exit 0");
    ASSERT_EQ(ended.WaitForExitCode(), 0u);
    endedPid = ended.pid();
  }  // its last handle is closed here
  // The system lets go of an ended process a moment after its last handle closes.
  bool gone = false;
  for (int tries = 0; tries < 250 && !gone; ++tries) {
    HANDLE probe = OpenProcess(SYNCHRONIZE, FALSE, endedPid);
    gone = probe == nullptr;
    if (probe != nullptr) CloseHandle(probe);
    if (!gone) Sleep(20);
  }
  ASSERT_TRUE(gone);
  LogCapture log;
  const auto before = NextHandleValues();
  EXPECT_EQ(terminateProcessByPID(session.handle(), 0, 0xDEAD), 0);
  EXPECT_EQ(terminateProcessByPID(session.handle(), endedPid, 0xDEAD), 0);
  EXPECT_EQ(NextHandleValues(), before);
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{OpenFailedText(0), OpenFailedText(endedPid)}));
  EXPECT_EQ(RecordTexts(session),
            (std::vector<std::wstring>{Widen(OpenFailedText(0)), Widen(OpenFailedText(endedPid))}));
}

TEST_F(ProcessControl, TerminateByIdThatFailsIsLoggedWithTheExitCodeInHexAndNotSentToTheInstaller) {
  MsiTestSession session;
  ASSERT_NE(session.handle(), 0u);
  StartedProcess service(LongRunning(StandInPath(L"LynService.exe")));
  ASSERT_TRUE(service.started());
  process_seams::terminateProcess.Set(&TerminateRefused);
  LogCapture log;
  const auto before = NextHandleValues();
  EXPECT_EQ(terminateProcessByPID(session.handle(), service.pid(), 0xDEAD), 0);
  EXPECT_EQ(terminateProcessByPID(session.handle(), service.pid(), 0x00A0B0C), 0);
  EXPECT_EQ(NextHandleValues(), before);
  const std::string pid = std::to_string(service.pid());
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{
                             "Failed to Terminate the Process with PID: " + pid + " exit code = 0xdead",
                             "Failed to Terminate the Process with PID: " + pid + " exit code = 0xa0b0c"}));
  EXPECT_TRUE(session.records().empty());
  EXPECT_TRUE(service.Running());
}

// ---- killBypassAndAboutProcesses ----

class CompanionProcesses : public ProcessControl {
 protected:
  // Whatever the companions or the tests store is put back afterwards, in both views.
  ScopedRegistryValues values64{HKEY_LOCAL_MACHINE, kGeneralKey, {L"LYNBypassExePid", L"ORBAboutExePid"},
                                KEY_WOW64_64KEY};
  ScopedRegistryValues values32{HKEY_LOCAL_MACHINE, kGeneralKey, {L"LYNBypassExePid", L"ORBAboutExePid"},
                                KEY_WOW64_32KEY};
  void SetUp() override {
    ProcessControl::SetUp();
    RegDeleteValueIn(HKEY_LOCAL_MACHINE, kGeneralKey, L"LYNBypassExePid", KEY_WOW64_64KEY);
    RegDeleteValueIn(HKEY_LOCAL_MACHINE, kGeneralKey, L"ORBAboutExePid", KEY_WOW64_64KEY);
  }
  // Starts a companion and waits until it has stored its id.
  static bool StartCompanion(StartedProcess& process, const wchar_t* valueName) {
    return process.started() &&
           WaitForRegistryDword(HKEY_LOCAL_MACHINE, kGeneralKey, valueName, process.pid(), KEY_WOW64_64KEY);
  }
};

TEST_F(CompanionProcesses, BothStoredIdsAreEndedWith0xDEADAndTheValuesStay) {
  MsiTestSession session;
  ASSERT_NE(session.handle(), 0u);
  StartedProcess bypass(LongRunning(StandInPath(L"ORBBypass.exe")));
  StartedProcess about(LongRunning(StandInPath(L"ORBAbout.exe")));
  ASSERT_TRUE(StartCompanion(bypass, L"LYNBypassExePid"));
  ASSERT_TRUE(StartCompanion(about, L"ORBAboutExePid"));
  LogCapture log;
  const auto before = NextHandleValues();
  killBypassAndAboutProcesses(session.handle());
  EXPECT_EQ(NextHandleValues(), before);

  EXPECT_EQ(bypass.WaitForExitCode(), 0xDEADu);
  EXPECT_EQ(about.WaitForExitCode(), 0xDEADu);
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{TerminatedText(bypass.pid()), "Successfully terminated ORBBypass.exe",
                                                   TerminatedText(about.pid()), "Successfully terminated ORBAbout.exe"}));
  EXPECT_EQ(RecordTexts(session),
            (std::vector<std::wstring>{Widen(TerminatedText(bypass.pid())), Widen(TerminatedText(about.pid()))}));
  DWORD value = 0;
  EXPECT_TRUE(RegGetDword(HKEY_LOCAL_MACHINE, kGeneralKey, L"LYNBypassExePid", value, KEY_WOW64_64KEY));
  EXPECT_EQ(value, bypass.pid());
  EXPECT_TRUE(RegGetDword(HKEY_LOCAL_MACHINE, kGeneralKey, L"ORBAboutExePid", value, KEY_WOW64_64KEY));
  EXPECT_EQ(value, about.pid());
}

TEST_F(CompanionProcesses, MissingBypassIdStopsBeforeTheAboutProgram) {
  MsiTestSession session;
  ASSERT_NE(session.handle(), 0u);
  StartedProcess about(LongRunning(StandInPath(L"ORBAbout.exe")));
  ASSERT_TRUE(StartCompanion(about, L"ORBAboutExePid"));
  LogCapture log;
  const auto before = NextHandleValues();
  killBypassAndAboutProcesses(session.handle());
  EXPECT_EQ(NextHandleValues(), before);
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"Failed to get the PID for ORBBypass.exe from registry"}));
  EXPECT_TRUE(session.records().empty());
  Sleep(200);
  EXPECT_TRUE(about.Running());
}

TEST_F(CompanionProcesses, StaleBypassIdAndMissingAboutIdAreEachReported) {
  MsiTestSession session;
  ASSERT_NE(session.handle(), 0u);
  ASSERT_TRUE(RegSetDword(HKEY_LOCAL_MACHINE, kGeneralKey, L"LYNBypassExePid", 0, KEY_WOW64_64KEY));
  LogCapture log;
  killBypassAndAboutProcesses(session.handle());
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{OpenFailedText(0), "Failed to terminate ORBBypass.exe",
                                                   "Failed to get the PID for ORBAbout.exe from registry"}));
  EXPECT_EQ(RecordTexts(session), (std::vector<std::wstring>{Widen(OpenFailedText(0))}));
}

TEST_F(CompanionProcesses, FailedBypassTerminationStillEndsTheAboutProgram) {
  StartedProcess about(LongRunning(StandInPath(L"ORBAbout.exe")));
  ASSERT_TRUE(StartCompanion(about, L"ORBAboutExePid"));
  ASSERT_TRUE(RegSetDword(HKEY_LOCAL_MACHINE, kGeneralKey, L"LYNBypassExePid", 0, KEY_WOW64_64KEY));
  LogCapture log;
  killBypassAndAboutProcesses(0);
  EXPECT_EQ(about.WaitForExitCode(), 0xDEADu);
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{OpenFailedText(0), "Failed to terminate ORBBypass.exe",
                                                   TerminatedText(about.pid()), "Successfully terminated ORBAbout.exe"}));
}

TEST_F(CompanionProcesses, IdsStoredOnlyInThe32BitViewAreNotRead) {
  StartedProcess bypass(LongRunning(StandInPath(L"ORBBypass.exe")));
  StartedProcess about(LongRunning(StandInPath(L"ORBAbout.exe")));
  ASSERT_TRUE(StartCompanion(bypass, L"LYNBypassExePid"));
  ASSERT_TRUE(StartCompanion(about, L"ORBAboutExePid"));
  // Move both ids to the 32-bit view: on 64-bit Windows they are not looked for there.
  ASSERT_TRUE(RegSetDword(HKEY_LOCAL_MACHINE, kGeneralKey, L"LYNBypassExePid", bypass.pid(), KEY_WOW64_32KEY));
  ASSERT_TRUE(RegSetDword(HKEY_LOCAL_MACHINE, kGeneralKey, L"ORBAboutExePid", about.pid(), KEY_WOW64_32KEY));
  ASSERT_TRUE(RegDeleteValueIn(HKEY_LOCAL_MACHINE, kGeneralKey, L"LYNBypassExePid", KEY_WOW64_64KEY));
  ASSERT_TRUE(RegDeleteValueIn(HKEY_LOCAL_MACHINE, kGeneralKey, L"ORBAboutExePid", KEY_WOW64_64KEY));
  LogCapture log;
  killBypassAndAboutProcesses(0);
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"Failed to get the PID for ORBBypass.exe from registry"}));
  Sleep(200);
  EXPECT_TRUE(bypass.Running());
  EXPECT_TRUE(about.Running());
}
