#include "housekeeping/PolicyBackup.h"

#include <windows.h>

#include <string>

#include "frame/Exports.h"
#include "frame/Guard.h"
#include "frame/Log.h"
#include "frame/RegistryHelper.h"
#include "frame/Platform.h"
#include "frame/ProductNames.h"

namespace {

const wchar_t kBackupFile[] = L"\\Temp\\LYNPolicy.opg";
const wchar_t kOlderBackupFile[] = L"\\Temp\\ORBPolicy.opg";

void LogBackupOutcome(BOOL copied) {
  if (copied) {
    InstallLog(L"Backed-up policy file");
  } else {
    InstallLog(L"Failed to backup policy file, Error Code: %d", static_cast<int>(GetLastError()));
  }
}

void RestorePolicyBackup() {
  InstallLog(L"CopyPolicyBackup start");
  // The package writes the value in the platform's own view.
  std::wstring commonFolder;
  if (ReadRegistryString(names::kCommonAppDataValue, commonFolder, PlatformRegistryView()) != 0) return;

  const std::wstring windowsFolder = WindowsFolderOrDefault();
  const std::wstring policyFile = commonFolder + names::kPolicyFile;
  CreateDirectoryTree(commonFolder + names::kPolicyTempSubfolder);

  // No replace flag: a policy file already in place is newer than any backup.
  if (MoveFileW((windowsFolder + kBackupFile).c_str(), policyFile.c_str())) {
    InstallLog(L"Restored policy file in path-> %s  ", policyFile.c_str());
  } else {
    const DWORD error = GetLastError();
    InstallLog(L"Did not restore policy file, Error Code: %d", static_cast<int>(error));
    if (error != ERROR_ALREADY_EXISTS) {
      // A backup left by an upgrade from the older product line.
      if (MoveFileW((windowsFolder + kOlderBackupFile).c_str(), policyFile.c_str())) {
        InstallLog(L"Restored policy file in path-> %s  ", policyFile.c_str());
      } else {
        InstallLog(L"Did not restore policy file, Error Code: %d", static_cast<int>(GetLastError()));
      }
    }
  }
  InstallLog(L"CopyPolicyBackup end");
}

}  // namespace

bool BackupPolicyFile() {
  std::wstring commonFolder;
  if (ReadRegistryString(names::kCommonAppDataValue, commonFolder, 0) != 0) return false;

  const std::wstring backupFile = WindowsFolderOrDefault() + kBackupFile;
  BOOL copied = CopyFileW((commonFolder + names::kPolicyFile).c_str(), backupFile.c_str(), FALSE);
  LogBackupOutcome(copied);
  if (!copied) {
    // Upgrading from the older product line: its policy is saved under the current name.
    copied = CopyFileW((commonFolder + names::kOlderPolicyFile).c_str(), backupFile.c_str(), FALSE);
    LogBackupOutcome(copied);
  }
  return true;
}

void CopyPolicyBackup(void) { GuardAction(L"CopyPolicyBackup", [] { RestorePolicyBackup(); }); }
