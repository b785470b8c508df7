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

namespace policy_seams {
Seam<decltype(&::Sleep)> sleep(&::Sleep);
}

namespace {

const wchar_t kBackupFile[] = L"\\Temp\\LYNPolicy.opg";
const wchar_t kOlderBackupFile[] = L"\\Temp\\ORBPolicy.opg";
const int kSharingRetries = 4;
const DWORD kSharingRetryWaitMs = 250;

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
// left is moved into the policy folder, and only into folders held and found
// safe. A missing one fails as the move would.
BOOL MoveOwnBackup(const std::wstring& backup, const std::wstring& policyFile, bool destinationSafe) {
  if (!destinationSafe) {
    SetLastError(kRefusedFileError);
    return FALSE;
  }
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
  // Nothing is made in or moved into a folder that a user made a link or owns.
  HeldFolders destination;
  bool safe = destination.Hold(commonFolder, names::kPolicyTempSubfolder, true);
  if (safe) {
    file_seams::beforeChange();
    CreateDirectoryTree(commonFolder + names::kPolicyTempSubfolder);
    safe = destination.Hold(commonFolder, names::kPolicyTempSubfolder, true);
  }
  if (!safe) {
    InstallLog(L"Did not restore into %s: a link or a folder not owned by the system or administrators",
               policyFile.c_str());
  }

  // No replace flag: a policy file already in place is newer than any backup.
  if (MoveOwnBackup(windowsFolder + kBackupFile, policyFile, safe)) {
    InstallLog(L"Restored policy file in path-> %s  ", policyFile.c_str());
  } else {
    const DWORD error = GetLastError();
    InstallLog(L"Did not restore policy file, Error Code: %d", static_cast<int>(error));
    if (error != ERROR_ALREADY_EXISTS) {
      // A backup left by an upgrade from the older product line.
      if (MoveOwnBackup(windowsFolder + kOlderBackupFile, policyFile, safe)) {
        InstallLog(L"Restored policy file in path-> %s  ", policyFile.c_str());
      } else {
        InstallLog(L"Did not restore policy file, Error Code: %d", static_cast<int>(GetLastError()));
      }
    }
  }
  InstallLog(L"CopyPolicyBackup end");
}

// A policy as SYSTEM reads it below the common folder: no folder on the way a
// link, the file itself trusted (OpenTrustedFile). The product may hold its
// policy for a moment while it writes it.
UniqueFile OpenPolicy(const std::wstring& commonFolder, const wchar_t* relative, int sharingRetries) {
  for (int attempt = 0;; ++attempt) {
    HeldFolders folders;
    UniqueFile policy;
    if (folders.Hold(commonFolder, relative, false)) {
      policy = OpenTrustedFile(commonFolder + relative, FILE_READ_DATA, FILE_SHARE_READ);
    }
    if (policy || GetLastError() != ERROR_SHARING_VIOLATION || attempt == sharingRetries) return policy;
    policy_seams::sleep(kSharingRetryWaitMs);
  }
}

BOOL SavePolicy(const std::wstring& commonFolder, const wchar_t* relative, int sharingRetries,
                const std::wstring& backupFile) {
  const UniqueFile policy = OpenPolicy(commonFolder, relative, sharingRetries);
  if (!policy && GetLastError() == kRefusedFileError) {
    InstallLog(L"Did not read %s: a link on the way, a file with another name or not owned by the system or "
               L"administrators", (commonFolder + relative).c_str());
    SetLastError(kRefusedFileError);
  }
  return policy && CopyIntoPlace(policy.get(), backupFile, true);
}

}  // namespace

bool BackupPolicyFile() {
  std::wstring commonFolder;
  if (!ReadCommonFolder(commonFolder, 0)) return false;

  const std::wstring backupFile = WindowsFolderOrDefault() + kBackupFile;
  // An earlier backup stays whole until the new one is complete (CopyIntoPlace).
  BOOL copied = SavePolicy(commonFolder, names::kPolicyFile, kSharingRetries, backupFile);
  LogBackupOutcome(copied);
  if (!copied) {
    // Upgrading from the older product line: its policy is saved under the current name.
    copied = SavePolicy(commonFolder, names::kOlderPolicyFile, 0, backupFile);
    LogBackupOutcome(copied);
  }
  return true;
}

void CopyPolicyBackup(void) { GuardAction(L"CopyPolicyBackup", [] { RestorePolicyBackup(); }); }
