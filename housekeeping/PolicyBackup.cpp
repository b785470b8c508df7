#include "housekeeping/PolicyBackup.h"

#include <windows.h>

#include <string>

#include "frame/Exports.h"
#include "frame/Guard.h"
#include "frame/Log.h"
#include "frame/RegistryHelper.h"
#include "frame/Platform.h"
#include "housekeeping/WindowsFolder.h"

namespace {

const wchar_t kCommonAppDataValue[] =
    L"HKEY_LOCAL_MACHINE\\Software\\Norvale\\LYN\\General\\\\CommonAppDataFolder";
const wchar_t kPolicyFile[] = L"Norvale\\LYN\\Policy\\LYNPolicy.opg";
const wchar_t kOlderPolicyFile[] = L"Veltan\\ORB\\Policy\\ORBPolicy.opg";
const wchar_t kPolicyTempFolder[] = L"Norvale\\LYN\\Policy\\Temp\\";
const wchar_t kBackupFile[] = L"\\Temp\\LYNPolicy.opg";
const wchar_t kOlderBackupFile[] = L"\\Temp\\ORBPolicy.opg";

std::wstring WindowsFolderOrDefault() {
  std::wstring folder;
  if (GetWindowsDirectoryPath(folder) != 0) folder = L"C:\\Windows";
  return folder;
}

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
  if (ReadRegistryString(kCommonAppDataValue, commonFolder, PlatformRegistryView()) != 0) return;

  const std::wstring windowsFolder = WindowsFolderOrDefault();
  const std::wstring policyFile = commonFolder + kPolicyFile;
  CreateDirectoryTree(commonFolder + kPolicyTempFolder);

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
  if (ReadRegistryString(kCommonAppDataValue, commonFolder, 0) != 0) return false;

  const std::wstring backupFile = WindowsFolderOrDefault() + kBackupFile;
  BOOL copied = CopyFileW((commonFolder + kPolicyFile).c_str(), backupFile.c_str(), FALSE);
  LogBackupOutcome(copied);
  if (!copied) {
    // Upgrading from the older product line: its policy is saved under the current name.
    copied = CopyFileW((commonFolder + kOlderPolicyFile).c_str(), backupFile.c_str(), FALSE);
    LogBackupOutcome(copied);
  }
  return true;
}

void CopyPolicyBackup(void) { GuardAction(L"CopyPolicyBackup", [] { RestorePolicyBackup(); }); }
