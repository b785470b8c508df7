#include "housekeeping/PolicyBackup.h"

#include <windows.h>

#include <string>

#include "frame/Exports.h"
#include "frame/Guard.h"
#include "frame/Log.h"
#include "frame/RegistryHelper.h"
#include "frame/Platform.h"
#include "frame/ProductNames.h"
#include "frame/SafeFiles.h"

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

// The common folder as the package wrote it; a value that is not a full drive
// path is refused before anything is made, copied or moved there.
bool ReadCommonFolder(std::wstring& folder, unsigned long view) {
  if (ReadRegistryString(names::kCommonAppDataValue, folder, view) != 0) return false;
  if (IsDrivePath(folder)) return true;
  InstallLog(L"Policy file left alone: CommonAppDataFolder is not a full path: %s", folder.c_str());
  return false;
}

// The backup lies where other users can put files: only the copy this library
// left is moved into the policy folder. A missing one fails as the move would.
BOOL MoveOwnBackup(const std::wstring& backup, const std::wstring& policyFile) {
  if (MoveOwnFile(backup, policyFile)) return TRUE;
  if (GetLastError() == kRefusedFileError) {
    InstallLog(L"Did not restore %s: a link, a file with another name or not owned by the system or administrators",
               backup.c_str());
    SetLastError(kRefusedFileError);
  }
  return FALSE;
}

void RestorePolicyBackup() {
  InstallLog(L"CopyPolicyBackup start");
  // The package writes the value in the platform's own view.
  std::wstring commonFolder;
  if (!ReadCommonFolder(commonFolder, PlatformRegistryView())) return;

  const std::wstring windowsFolder = WindowsFolderOrDefault();
  const std::wstring policyFile = commonFolder + names::kPolicyFile;
  CreateDirectoryTree(commonFolder + names::kPolicyTempSubfolder);

  // No replace flag: a policy file already in place is newer than any backup.
  if (MoveOwnBackup(windowsFolder + kBackupFile, policyFile)) {
    InstallLog(L"Restored policy file in path-> %s  ", policyFile.c_str());
  } else {
    const DWORD error = GetLastError();
    InstallLog(L"Did not restore policy file, Error Code: %d", static_cast<int>(error));
    if (error != ERROR_ALREADY_EXISTS) {
      // A backup left by an upgrade from the older product line.
      if (MoveOwnBackup(windowsFolder + kOlderBackupFile, policyFile)) {
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
  if (!ReadCommonFolder(commonFolder, 0)) return false;

  const std::wstring backupFile = WindowsFolderOrDefault() + kBackupFile;
  // The backup's name may already be taken by a link or another file's second name.
  BOOL copied = CopyToSingleNamedFile(commonFolder + names::kPolicyFile, backupFile);
  LogBackupOutcome(copied);
  if (!copied) {
    // Upgrading from the older product line: its policy is saved under the current name.
    copied = CopyToSingleNamedFile(commonFolder + names::kOlderPolicyFile, backupFile);
    LogBackupOutcome(copied);
  }
  return true;
}

void CopyPolicyBackup(void) { GuardAction(L"CopyPolicyBackup", [] { RestorePolicyBackup(); }); }
