#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/Exports.h"
#include "frame/Log.h"
#include "housekeeping/PolicyBackup.h"
#include "frame/Platform.h"
#include "frame/Platform.h"
#include "support/HousekeepingSupport.h"
#include "support/TestSupport.h"

using namespace testsupport;

namespace {

const wchar_t kGeneralKey[] = L"Software\\Norvale\\LYN\\General";
const wchar_t kTrayPluginKey[] = L"SOFTWARE\\Veltan\\Pinlet\\Plugins\\ORBPinletPlugin";

int Report32BitWindows() { return 0; }

}  // namespace

TEST(WindowsFolderPath, IsTheSystemsWindowsFolderWithoutTrailingBackslashAndClosesTheToken) {
  std::wstring path = L"unchanged";
  GetWindowsDirectoryPath(path);  // first use loads the shell's own libraries
  const auto before = NextHandleValues();
  path = L"unchanged";
  EXPECT_EQ(GetWindowsDirectoryPath(path), 0);
  EXPECT_EQ(NextHandleValues(), before);
  EXPECT_EQ(_wcsicmp(path.c_str(), WindowsFolder().c_str()), 0) << Narrow(path);
  ASSERT_FALSE(path.empty());
  EXPECT_NE(path.back(), L'\\');
}

class PolicyBackup : public ::testing::Test {
 protected:
  void TearDown() override { platform_seams::is64BitWindows.Reset(); }

  HousekeepingMachineState machine;
  const std::wstring common = HousekeepingTestRoot() + L"\\Common\\";
  const std::wstring policyFolder = common + L"Norvale\\LYN\\Policy";
  const std::wstring policyFile = policyFolder + L"\\LYNPolicy.opg";
  const std::wstring olderPolicyFile = common + L"Veltan\\ORB\\Policy\\ORBPolicy.opg";
  const std::wstring backupFile = WindowsFolder() + L"\\Temp\\LYNPolicy.opg";
  const std::wstring olderBackupFile = WindowsFolder() + L"\\Temp\\ORBPolicy.opg";

  void SetUp() override {
    // Start without any backup, whatever the machine had (put back afterwards).
    DeleteFileW(backupFile.c_str());
    DeleteFileW(olderBackupFile.c_str());
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) RegDeleteTreeInView(HKEY_LOCAL_MACHINE, kGeneralKey, view);
  }

  void SetCommonFolder(const std::wstring& folder, REGSAM view = KEY_WOW64_64KEY) {
    ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, kGeneralKey, L"CommonAppDataFolder", folder, view));
  }
  static void Put(const std::wstring& path, const std::string& content) {
    std::wstring folder = path.substr(0, path.rfind(L'\\'));
    CreateDirectoryTree(folder);
    ASSERT_TRUE(WriteFileBytes(path, content)) << Narrow(path);
  }
  std::string Restored() const { return "Restored policy file in path-> " + Narrow(policyFile) + "  "; }
};

TEST_F(PolicyBackup, RestoreWithoutAnyBackupTriesBothNamesAndStillCreatesThePolicyTempFolder) {
  SetCommonFolder(common);
  LogCapture log;
  CopyPolicyBackup();
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"CopyPolicyBackup start", "Did not restore policy file, Error Code: 2",
                                                   "Did not restore policy file, Error Code: 2", "CopyPolicyBackup end"}));
  const DWORD attributes = GetFileAttributesW((policyFolder + L"\\Temp").c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_FALSE(PathExists(policyFile));
}

TEST_F(PolicyBackup, RestoreMovesTheBackupIntoThePolicyFolder) {
  SetCommonFolder(common);
  Put(backupFile, "saved policy");
  LogCapture log;
  CopyPolicyBackup();
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"CopyPolicyBackup start", Restored(), "CopyPolicyBackup end"}));
  EXPECT_EQ(ReadFileBytes(policyFile), "saved policy");
  EXPECT_FALSE(PathExists(backupFile)) << "moved, not copied";
}

TEST_F(PolicyBackup, RestoreOverAnExistingPolicyFailsWith183AndKeepsTheBackupWithoutTryingTheOlderName) {
  SetCommonFolder(common);
  Put(policyFile, "installed policy");
  Put(backupFile, "saved policy");
  Put(olderBackupFile, "older saved policy");
  LogCapture log;
  CopyPolicyBackup();
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"CopyPolicyBackup start",
                                                   "Did not restore policy file, Error Code: 183",
                                                   "CopyPolicyBackup end"}));
  EXPECT_EQ(ReadFileBytes(policyFile), "installed policy");
  EXPECT_EQ(ReadFileBytes(backupFile), "saved policy");
  EXPECT_EQ(ReadFileBytes(olderBackupFile), "older saved policy");
}

TEST_F(PolicyBackup, RestoreFallsBackToTheOlderProductLinesBackup) {
  SetCommonFolder(common);
  Put(olderBackupFile, "older saved policy");
  LogCapture log;
  CopyPolicyBackup();
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"CopyPolicyBackup start", "Did not restore policy file, Error Code: 2",
                                                   Restored(), "CopyPolicyBackup end"}));
  EXPECT_EQ(ReadFileBytes(policyFile), "older saved policy");
  EXPECT_FALSE(PathExists(olderBackupFile));
}

TEST_F(PolicyBackup, RestoreWithoutTheCommonFolderValueTouchesNothing) {
  Put(backupFile, "saved policy");
  LogCapture log;
  CopyPolicyBackup();
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"CopyPolicyBackup start"}));
  EXPECT_EQ(ReadFileBytes(backupFile), "saved policy");
  EXPECT_FALSE(PathExists(HousekeepingTestRoot()));
}

TEST_F(PolicyBackup, BackupCopiesThePolicyFileAndOverwritesAnEarlierBackupSilently) {
  SetCommonFolder(common);
  Put(policyFile, "current policy");
  Put(backupFile, "backup from an earlier upgrade");
  LogCapture log;
  EXPECT_TRUE(BackupPolicyFile());
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"Backed-up policy file"}));
  EXPECT_EQ(ReadFileBytes(backupFile), "current policy");
  EXPECT_EQ(ReadFileBytes(policyFile), "current policy") << "copied, not moved";
}

TEST_F(PolicyBackup, BackupTakesTheOlderProductsPolicyUnderTheCurrentName) {
  SetCommonFolder(common);
  Put(olderPolicyFile, "older product policy");
  LogCapture missingFolder;
  EXPECT_TRUE(BackupPolicyFile());
  EXPECT_EQ(missingFolder.Lines(), (std::vector<std::string>{"Failed to backup policy file, Error Code: 3",
                                                             "Backed-up policy file"}));
  EXPECT_EQ(ReadFileBytes(backupFile), "older product policy");
  EXPECT_FALSE(PathExists(olderBackupFile));
  EXPECT_EQ(ReadFileBytes(olderPolicyFile), "older product policy");

  // With the policy folder present but empty the first error is "file not found".
  CreateDirectoryTree(policyFolder);
  DeleteFileW(backupFile.c_str());
  LogCapture missingFile;
  EXPECT_TRUE(BackupPolicyFile());
  EXPECT_EQ(missingFile.Lines(), (std::vector<std::string>{"Failed to backup policy file, Error Code: 2",
                                                           "Backed-up policy file"}));
  EXPECT_EQ(ReadFileBytes(backupFile), "older product policy");
}

TEST_F(PolicyBackup, BackupWithNeitherPolicyLogsBothFailuresAndLeavesAnEarlierBackupAlone) {
  SetCommonFolder(common);
  Put(backupFile, "backup from an earlier upgrade");
  LogCapture log;
  EXPECT_TRUE(BackupPolicyFile());
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"Failed to backup policy file, Error Code: 3",
                                                   "Failed to backup policy file, Error Code: 3"}));
  EXPECT_EQ(ReadFileBytes(backupFile), "backup from an earlier upgrade");
}

TEST_F(PolicyBackup, BackupWithoutTheCommonFolderValueIsSilent) {
  LogCapture log;
  EXPECT_FALSE(BackupPolicyFile());
  EXPECT_EQ(log.Raw(), "");
  EXPECT_FALSE(PathExists(backupFile));
}

// The package writes "CommonAppDataFolder" in the platform's view; the restore
// reads it there, the backup in the default view of this 64-bit library.
TEST_F(PolicyBackup, RestoreReadsThePlatformsViewAndBackupTheDefaultView) {
  const std::wstring other = HousekeepingTestRoot() + L"\\Other\\";
  SetCommonFolder(common, KEY_WOW64_64KEY);
  SetCommonFolder(other, KEY_WOW64_32KEY);
  Put(policyFile, "policy in the 64-bit view's folder");
  Put(other + L"Norvale\\LYN\\Policy\\LYNPolicy.opg", "policy in the 32-bit view's folder");

  // On 64-bit Windows both read the 64-bit view.
  EXPECT_TRUE(BackupPolicyFile());
  EXPECT_EQ(ReadFileBytes(backupFile), "policy in the 64-bit view's folder");
  DeleteFileW(policyFile.c_str());
  CopyPolicyBackup();
  EXPECT_EQ(ReadFileBytes(policyFile), "policy in the 64-bit view's folder");

  // On 32-bit Windows the restore turns to the 32-bit view; the backup does not.
  platform_seams::is64BitWindows.Set(&Report32BitWindows);
  EXPECT_TRUE(BackupPolicyFile());
  EXPECT_EQ(ReadFileBytes(backupFile), "policy in the 64-bit view's folder");
  const std::wstring otherPolicy = other + L"Norvale\\LYN\\Policy\\LYNPolicy.opg";
  DeleteFileW(otherPolicy.c_str());
  LogCapture log;
  CopyPolicyBackup();
  EXPECT_EQ(log.Lines()[1], "Restored policy file in path-> " + Narrow(otherPolicy) + "  ");
  EXPECT_EQ(ReadFileBytes(otherPolicy), "policy in the 64-bit view's folder");
  EXPECT_TRUE(PathExists(policyFile));

  // A value only in the 32-bit view is not seen by the backup at all.
  RegDeleteTreeInView(HKEY_LOCAL_MACHINE, kGeneralKey, KEY_WOW64_64KEY);
  EXPECT_FALSE(BackupPolicyFile());
}

class UpgradeFixAction : public PolicyBackup {};

TEST_F(UpgradeFixAction, DeletesTheTrayPluginKeyInThePlatformsViewAndBacksUpThePolicy) {
  SetCommonFolder(common);
  Put(policyFile, "current policy");
  for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY})
    ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, kTrayPluginKey, L"Path", L"C:\\OrbPinletPlugin.dll", view));

  const std::vector<std::string> expected = {"UpgradeFix started", "Backed-up policy file", "UpgradeFix end"};
  LogCapture log;
  UpgradeFix();
  EXPECT_EQ(log.Lines(), expected);
  EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, kTrayPluginKey, KEY_WOW64_64KEY));
  EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, kTrayPluginKey, KEY_WOW64_32KEY));
  EXPECT_EQ(ReadFileBytes(backupFile), "current policy");
  EXPECT_EQ(ReadFileBytes(policyFile), "current policy");

  // Without the key the action says exactly the same.
  LogCapture again;
  UpgradeFix();
  EXPECT_EQ(again.Lines(), expected);

  // On 32-bit Windows the key is the one in the 32-bit view.
  ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, kTrayPluginKey, L"Path", L"C:\\OrbPinletPlugin.dll", KEY_WOW64_64KEY));
  platform_seams::is64BitWindows.Set(&Report32BitWindows);
  UpgradeFix();
  EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, kTrayPluginKey, KEY_WOW64_32KEY));
  EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, kTrayPluginKey, KEY_WOW64_64KEY));
}

TEST_F(UpgradeFixAction, WithoutTheCommonFolderValueLogsOnlyItsStartButStillDeletesTheKey) {
  ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, kTrayPluginKey, L"Path", L"C:\\OrbPinletPlugin.dll", KEY_WOW64_64KEY));
  LogCapture log;
  UpgradeFix();
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"UpgradeFix started"}));
  EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, kTrayPluginKey, KEY_WOW64_64KEY));
  EXPECT_FALSE(PathExists(backupFile));
}

// Every combination of the four files an upgrade can meet, through the upgrade
// fix and the restore, with and without the old product removing its policy
// file in between: the newest policy must survive in the policy file or in a
// backup. Newest first: the current policy, the older product's policy, the
// backup of an earlier upgrade, the older line's backup.
TEST_F(UpgradeFixAction, NothingIsLostInAnyCombinationOfPolicyAndBackups) {
  SetCommonFolder(common);
  struct Source {
    const std::wstring* path;
    const char* content;
  };
  const Source sources[] = {{&policyFile, "current policy"},
                            {&olderPolicyFile, "older product policy"},
                            {&backupFile, "earlier backup"},
                            {&olderBackupFile, "older line backup"}};
  for (int removedInBetween = 0; removedInBetween < 2; ++removedInBetween) {
    for (int mask = 1; mask < 16; ++mask) {
      SCOPED_TRACE("files present (bit 0 = policy, 1 = older policy, 2 = backup, 3 = older backup): " +
                   std::to_string(mask) + (removedInBetween ? ", policy removed by the old product" : ""));
      RemoveTree(HousekeepingTestRoot());
      DeleteFileW(backupFile.c_str());
      DeleteFileW(olderBackupFile.c_str());
      const char* newest = nullptr;
      for (int i = 0; i < 4; ++i) {
        if ((mask & (1 << i)) == 0) continue;
        Put(*sources[i].path, sources[i].content);
        if (newest == nullptr) newest = sources[i].content;
      }

      UpgradeFix();
      if (removedInBetween) DeleteFileW(policyFile.c_str());
      CopyPolicyBackup();

      const bool kept = ReadFileBytes(policyFile) == newest || ReadFileBytes(backupFile) == newest ||
                        ReadFileBytes(olderBackupFile) == newest;
      EXPECT_TRUE(kept) << "lost: " << newest;
      // After a real upgrade (old policy file gone) the newest policy is back in place.
      if (removedInBetween) {
        EXPECT_EQ(ReadFileBytes(policyFile), newest);
      }
    }
  }
}
