#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/Exports.h"
#include "frame/Log.h"
#include "housekeeping/LogsFolder.h"
#include "support/HousekeepingSupport.h"
#include "support/TestSupport.h"

using namespace testsupport;

namespace {
const wchar_t kGeneralKey[] = L"Software\\Norvale\\LYN\\General";
}  // namespace

class LogsFolderRemoval : public ::testing::Test {
 protected:
  HousekeepingMachineState machine;
  const std::wstring common = HousekeepingTestRoot() + L"\\Common\\";
  const std::wstring logs = common + L"Norvale\\LYN\\Logs";
  const std::wstring policy = common + L"Norvale\\LYN\\Policy\\LYNPolicy.opg";

  void SetUp() override {
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) RegDeleteTreeInView(HKEY_LOCAL_MACHINE, kGeneralKey, view);
  }
  void SetCommonFolder(REGSAM view = KEY_WOW64_64KEY) {
    ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, kGeneralKey, L"CommonAppDataFolder", common, view));
  }
  static void Put(const std::wstring& path, const std::string& content) {
    CreateDirectoryTree(path.substr(0, path.rfind(L'\\')));
    ASSERT_TRUE(WriteFileBytes(path, content)) << Narrow(path);
  }
  void PutLogsTree() {
    Put(logs + L"\\LYNService.log", "service log");
    Put(logs + L"\\qvm_interaction_logs_INSTALLHELPER.txt", "host log");
    Put(logs + L"\\Archive\\2024\\old.log", "archived");
    Put(policy, "policy");
  }
};

TEST_F(LogsFolderRemoval, RemovesTheFolderWithEverythingInItAndNothingBeside) {
  SetCommonFolder();
  PutLogsTree();
  LogCapture log;
  DeleteOrbLogsFolder();
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"DeleteOrbLogsFolder: Start",
                                                   "DeleteOrbLogsFolder: Successfully removed the ORB logs directory",
                                                   "DeleteOrbLogsFolder: End"}));
  EXPECT_FALSE(PathExists(logs));
  EXPECT_EQ(ReadFileBytes(policy), "policy");
}

TEST_F(LogsFolderRemoval, MissingFolderIsReportedAndNothingIsDeleted) {
  SetCommonFolder();
  Put(policy, "policy");
  LogCapture log;
  DeleteOrbLogsFolder();
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"DeleteOrbLogsFolder: Start",
                                                   "DeleteOrbLogsFolder: Failed to Find the ORB logs directory",
                                                   "DeleteOrbLogsFolder: End"}));
  EXPECT_EQ(ReadFileBytes(policy), "policy");
}

TEST_F(LogsFolderRemoval, MissingRegistryValueEndsTheActionAfterTheErrorLine) {
  PutLogsTree();
  const std::vector<std::string> expected = {
      "DeleteOrbLogsFolder: Start",
      "DeleteOrbLogsFolder: ERROR - Not able to find the ORB Logs Directory, This is Un-Expected"};
  LogCapture missing;
  DeleteOrbLogsFolder();
  EXPECT_EQ(missing.Lines(), expected);

  // The value is read in the default view only.
  SetCommonFolder(KEY_WOW64_32KEY);
  LogCapture otherView;
  DeleteOrbLogsFolder();
  EXPECT_EQ(otherView.Lines(), expected);
  EXPECT_TRUE(PathExists(logs + L"\\LYNService.log"));
}

TEST_F(LogsFolderRemoval, FileHeldOpenByAnotherProcessMakesTheRemovalFailButTheActionEnds) {
  SetCommonFolder();
  PutLogsTree();
  const std::wstring held = logs + L"\\LYNService.log";
  FileHeldByOtherProcess holder(held);
  ASSERT_TRUE(holder.holding());
  LogCapture log;
  DeleteOrbLogsFolder();
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"DeleteOrbLogsFolder: Start",
                                                   "DeleteOrbLogsFolder: Not able to remove the ORB logs directory",
                                                   "DeleteOrbLogsFolder: End"}));
  EXPECT_EQ(holder.Release(), 0u) << "the other process held the file throughout";
  EXPECT_EQ(ReadFileBytes(held), "service log") << "what the shell could not delete stays in place";
  EXPECT_EQ(ReadFileBytes(policy), "policy");
}

TEST_F(LogsFolderRemoval, ShellDeleteTakesFilesAndFoldersAndFailsOnMissingPaths) {
  PutLogsTree();
  EXPECT_TRUE(DeletePathWithShell(logs + L"\\LYNService.log", true));
  EXPECT_FALSE(PathExists(logs + L"\\LYNService.log"));
  EXPECT_TRUE(PathExists(logs + L"\\qvm_interaction_logs_INSTALLHELPER.txt"));
  EXPECT_TRUE(DeletePathWithShell(logs + L"\\Archive", true));
  EXPECT_FALSE(PathExists(logs + L"\\Archive"));
  EXPECT_FALSE(DeletePathWithShell(logs + L"\\Archive", true));
}

// Wine's shell sends what it deletes with "allow undo" to the desktop's trash
// (the recycle bin): the removal must not. Entries are named after the
// deleted item, so each case deletes a uniquely named file and looks for it.
class LogsFolderRecycleBin : public LogsFolderRemoval {
 protected:
  const std::string trash = "\"${XDG_DATA_HOME:-$HOME/.local/share}/Trash\"";
  const std::wstring unique = L"ih-recycle-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(GetTickCount()) + L".log";
  bool trashExisted = false;

  void SetUp() override {
    LogsFolderRemoval::SetUp();
    trashExisted = RunUnix("test -d " + trash) == 0;
  }
  void TearDown() override {
    const std::string name = Narrow(unique);
    RunUnix("rm -rf " + trash + "/files/" + name + " " + trash + "/info/" + name + ".trashinfo");
    if (!trashExisted) RunUnix("rmdir " + trash + "/files " + trash + "/info " + trash);
  }
  bool InTrash() const { return RunUnix("find " + trash + "/files -name '" + Narrow(unique) + "' | grep -q .") == 0; }
};

TEST_F(LogsFolderRecycleBin, RemovedLogsDoNotGoToTheRecycleBin) {
  // The check can see the bin: a delete that allows undo lands there.
  Put(common + unique, "x");
  EXPECT_TRUE(DeletePathWithShell(common + unique, false));
  EXPECT_TRUE(InTrash());
  RunUnix("rm -rf " + trash + "/files/" + Narrow(unique) + " " + trash + "/info/" + Narrow(unique) + ".trashinfo");
  ASSERT_FALSE(InTrash());

  SetCommonFolder();
  Put(logs + L"\\" + unique, "log");
  DeleteOrbLogsFolder();
  EXPECT_FALSE(PathExists(logs));
  EXPECT_FALSE(InTrash());

  Put(common + unique, "x");
  EXPECT_TRUE(DeletePathWithShell(common + unique, true));
  EXPECT_FALSE(InTrash());
}

TEST_F(LogsFolderRemoval, HousekeepingActionsLeaveNoHandleOpen) {
  SetCommonFolder();
  auto runAll = [&] {
    Put(policy, "policy");
    PutLogsTree();
    UpgradeFix();
    DeleteFileW(policy.c_str());
    CopyPolicyBackup();
    DeleteOrbLogsFolder();
  };
  runAll();  // the shell's and the log's own first-use work
  const auto before = NextHandleValues();
  runAll();
  EXPECT_EQ(NextHandleValues(), before);
  EXPECT_EQ(ReadFileBytes(policy), "policy");
  EXPECT_FALSE(PathExists(logs));
}
