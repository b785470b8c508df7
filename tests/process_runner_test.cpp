#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/Log.h"
#include "process/ProcessRunner.h"
#include "support/ProcessSupport.h"
#include "support/TestSupport.h"

using namespace testsupport;

namespace {

const std::wstring kFolder = L"C:\\ih-runner-test";
const std::string kStarted = "Function: CreateAndExecuteCmdLineProcessWithOutputToFile Started";
const std::string kEnded = "Function: CreateAndExecuteCmdLineProcessWithOutputToFile ended";
const std::string kCommandLinePrefix = "CreateAndExecuteCmdLineProcessWithOutputToFile(), process command line is: ";
const std::string kCreatedPrefix =
    "CreateAndExecuteCmdLineProcessWithOutputToFile(), Successfully Created process with PID: ";

std::wstring Child(const std::wstring& arguments) { return L"\"" + StandInPath(L"child.exe") + L"\" " + arguments; }

// "pid=<n> tid=<m>" as the child wrote it -> the runner's text for that child.
std::string CreatedText(const std::string& ids) {
  const size_t tid = ids.find(" tid=");
  if (ids.compare(0, 4, "pid=") != 0 || tid == std::string::npos) return "bad ids: " + ids;
  return kCreatedPrefix + ids.substr(4, tid - 4) + ", with TID: " + ids.substr(tid + 5);
}

BOOL WINAPI ExitCodeUnreadable(HANDLE, LPDWORD) {
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

}  // namespace

class ProcessRunner : public ::testing::Test {
 protected:
  void SetUp() override {
    RemoveTree(kFolder);
    ASSERT_TRUE(CreateDirectoryW(kFolder.c_str(), nullptr));
  }
  void TearDown() override {
    runner_seams::getExitCodeProcess.Reset();
    RemoveTree(kFolder);
  }
  const std::wstring out = kFolder + L"\\out.txt";
};

TEST_F(ProcessRunner, ExitCodeMinus2SucceedsAndEveryStepIsLoggedInOrderInBothLogs) {
  MsiTestSession session;
  ASSERT_NE(session.handle(), 0u);
  LogCapture log;
  const std::wstring command = Child(L"--ids --exit 0xFFFFFFFE");
  EXPECT_EQ(CreateAndExecuteCmdLineProcessWithOutputToFile(session.handle(), command, out, true), 1);

  // The child's own view of its ids, captured through the redirection file.
  const std::string created = CreatedText(ReadFileBytes(out));
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{kStarted, kCommandLinePrefix + Narrow(command),
                                                   "CreateAndExecuteCmdLineProcessWithOutputToFile : " + created, "",
                                                   "Return value of ZPK : -2", kEnded}));
  EXPECT_EQ(RecordTexts(session), (std::vector<std::wstring>{Widen(created) + L"\n"}));
}

TEST_F(ProcessRunner, OnlyExitCodes0AndMinus2Succeed) {
  const struct {
    const wchar_t* exitCode;
    int result;
    const char* line;
  } cases[] = {
      {L"0", 1, "Return value of ZPK : 0"},
      {L"1", 0, "Return value of ZPK : 1"},
      {L"0xFFFFFFFF", 0, "Return value of ZPK : -1"},
      {L"0xFFFFFFFD", 0, "Return value of ZPK : -3"},
      {L"259", 0, "Return value of ZPK : 259"},
  };
  for (const auto& c : cases) {
    LogCapture log;
    EXPECT_EQ(CreateAndExecuteCmdLineProcessWithOutputToFile(0, Child(std::wstring(L"--exit ") + c.exitCode), out,
                                                             true),
              c.result)
        << Narrow(c.exitCode);
    const auto lines = log.Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], c.line);
    EXPECT_EQ(lines.back(), kEnded);
  }
}

TEST_F(ProcessRunner, StandardOutputAndErrorGoIntoTheFileInTheOrderWritten) {
  EXPECT_EQ(CreateAndExecuteCmdLineProcessWithOutputToFile(
                0, Child(L"--out \"first words\" --err \" error text \" --out last --handles " + kFolder +
                         L"\\handles.txt"),
                out, true),
            1);
  EXPECT_EQ(ReadFileBytes(out), "first words error text last");
  // No standard input; output and error are the file.
  EXPECT_EQ(ReadFileBytes(kFolder + L"\\handles.txt"), "in=null out=file err=file");
}

TEST_F(ProcessRunner, ExistingLongerFileIsOverwrittenFromItsFirstByteAndKeepsItsTail) {
  ASSERT_TRUE(WriteFileBytes(out, "0123456789ABCDEFGHIJ"));
  EXPECT_EQ(CreateAndExecuteCmdLineProcessWithOutputToFile(0, Child(L"--out hello --err !"), out, true), 1);
  EXPECT_EQ(ReadFileBytes(out), "hello!6789ABCDEFGHIJ");
}

TEST_F(ProcessRunner, WithoutCaptureTheFileIsNotTouchedAndTheChildHasNoStandardHandles) {
  ASSERT_TRUE(WriteFileBytes(out, "keep me"));
  const std::wstring handles = kFolder + L"\\handles.txt";
  LogCapture log;
  EXPECT_EQ(CreateAndExecuteCmdLineProcessWithOutputToFile(0, Child(L"--out lost --handles " + handles), out, false),
            1);
  EXPECT_EQ(ReadFileBytes(out), "keep me");
  EXPECT_EQ(ReadFileBytes(handles), "in=null out=null err=null");

  const std::wstring missing = kFolder + L"\\never.txt";
  EXPECT_EQ(CreateAndExecuteCmdLineProcessWithOutputToFile(0, Child(L"--out lost"), missing, false), 1);
  EXPECT_FALSE(PathExists(missing));
  for (const auto& line : log.Lines()) EXPECT_EQ(line.find("redirection"), std::string::npos) << line;
}

TEST_F(ProcessRunner, OutputFolderThatDoesNotExistIsReportedAndTheChildStillRuns) {
  const std::wstring ran = kFolder + L"\\ran.txt";
  const std::wstring missingFolderFile = kFolder + L"\\missing\\out.txt";
  LogCapture log;
  EXPECT_EQ(CreateAndExecuteCmdLineProcessWithOutputToFile(0, Child(L"--touch " + ran + L" --out x"),
                                                           missingFolderFile, true),
            1);
  EXPECT_TRUE(PathExists(ran));
  EXPECT_FALSE(PathExists(kFolder + L"\\missing"));
  const auto lines = log.Lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[2],
            "CreateAndExecuteCmdLineProcessWithOutputToFile : Failed to create redirection file its OK? error code = 3");
  EXPECT_EQ(lines[lines.size() - 2], "Return value of ZPK : 0");
}

TEST_F(ProcessRunner, ProgramThatDoesNotExistGives0AndTheErrorInBothLogs) {
  MsiTestSession session;
  ASSERT_NE(session.handle(), 0u);
  const std::wstring command = L"\"" + StandInPath(L"no-such-program.exe") + L"\" --exit 0";
  LogCapture log;
  EXPECT_EQ(CreateAndExecuteCmdLineProcessWithOutputToFile(session.handle(), command, out, true), 0);
  EXPECT_EQ(log.Lines(),
            (std::vector<std::string>{kStarted, kCommandLinePrefix + Narrow(command),
                                      "CreateAndExecuteCmdLineProcessWithOutputToFile(), Can't create process, error: 2",
                                      kEnded}));
  EXPECT_EQ(RecordTexts(session),
            (std::vector<std::wstring>{
                L"CreateAndExecuteCmdLineProcessWithOutputToFile(), Can't create process, error: 2\n"}));
  // The capture file is opened before the start is tried.
  EXPECT_TRUE(PathExists(out));
  EXPECT_EQ(ReadFileBytes(out), "");
}

TEST_F(ProcessRunner, ZeroInstallerHandleWritesTheSameTextLogAndNothingToTheInstallerLog) {
  MsiTestSession session;
  ASSERT_NE(session.handle(), 0u);
  LogCapture log;
  const std::wstring command = Child(L"--ids");
  EXPECT_EQ(CreateAndExecuteCmdLineProcessWithOutputToFile(0, command, out, true), 1);
  EXPECT_EQ(log.Lines(),
            (std::vector<std::string>{kStarted, kCommandLinePrefix + Narrow(command),
                                      "CreateAndExecuteCmdLineProcessWithOutputToFile : " + CreatedText(ReadFileBytes(out)),
                                      "", "Return value of ZPK : 0", kEnded}));
  EXPECT_EQ(CreateAndExecuteCmdLineProcessWithOutputToFile(0, StandInPath(L"no-such-program.exe"), out, true), 0);
  EXPECT_TRUE(session.records().empty());
}

TEST_F(ProcessRunner, WaitsForTheChildWithoutATimeLimit) {
  const DWORD before = GetTickCount();
  EXPECT_EQ(CreateAndExecuteCmdLineProcessWithOutputToFile(0, Child(L"--sleep 1500 --out late"), out, true), 1);
  EXPECT_GE(GetTickCount() - before, 1500u);
  EXPECT_EQ(ReadFileBytes(out), "late");
}

TEST_F(ProcessRunner, UnreadableExitCodeGives0WithTheErrorAndNoReturnValueLine) {
  runner_seams::getExitCodeProcess.Set(&ExitCodeUnreadable);
  LogCapture log;
  const std::wstring command = Child(L"--ids");
  EXPECT_EQ(CreateAndExecuteCmdLineProcessWithOutputToFile(0, command, out, true), 0);
  EXPECT_EQ(log.Lines(),
            (std::vector<std::string>{kStarted, kCommandLinePrefix + Narrow(command),
                                      "CreateAndExecuteCmdLineProcessWithOutputToFile : " + CreatedText(ReadFileBytes(out)),
                                      "", " GetExitCodeProcess  failed with error : 6", kEnded}));
}

TEST_F(ProcessRunner, EveryPathClosesEveryHandle) {
  MsiTestSession session;
  ASSERT_NE(session.handle(), 0u);
  // A first run lets the system set up what it keeps for later process starts.
  CreateAndExecuteCmdLineProcessWithOutputToFile(session.handle(), Child(L"--exit 0"), out, true);

  const struct {
    const wchar_t* name;
    std::wstring command;
    std::wstring output;
    bool capture;
    bool exitCodeReadable;
  } paths[] = {
      {L"success with capture", Child(L"--out x"), out, true, true},
      {L"failure exit code", Child(L"--exit 7"), out, true, true},
      {L"without capture", Child(L"--exit 0"), out, false, true},
      {L"missing output folder", Child(L"--exit 0"), kFolder + L"\\missing\\out.txt", true, true},
      {L"missing program", StandInPath(L"no-such-program.exe"), out, true, true},
      {L"missing program without capture", StandInPath(L"no-such-program.exe"), out, false, true},
      {L"unreadable exit code", Child(L"--exit 0"), out, true, false},
  };
  for (const auto& path : paths) {
    runner_seams::getExitCodeProcess.Set(path.exitCodeReadable ? &::GetExitCodeProcess : &ExitCodeUnreadable);
    const auto before = NextHandleValues();
    CreateAndExecuteCmdLineProcessWithOutputToFile(session.handle(), path.command, path.output, path.capture);
    EXPECT_EQ(NextHandleValues(), before) << Narrow(path.name);
  }
}
