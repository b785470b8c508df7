#include "housekeeping/PolicyBackup.h"

#include <windows.h>

#include <string>

#include "frame/Exports.h"
#include "frame/FolderGuard.h"
#include "frame/Guard.h"
#include "frame/Log.h"
#include "frame/RegistryHelper.h"
#include "frame/Platform.h"
#include "frame/ProductNames.h"

namespace policy_seams {
Seam<decltype(&::Sleep)> sleep(&::Sleep);
}

namespace {

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

// The Windows folder's Temp, where the backups lie and where other users can
// put files: a fixed root, held as it stands.
FoundFolder BackupFolder(const std::wstring& windowsFolder) {
  return FoundFolder(windowsFolder + names::kWindowsTempSuffix, L"", {});
}

// Only the copy this library left is moved into the policy folder, and only
// into a policy folder held and found safe. A missing one fails as the move would.
BOOL MoveOwnBackup(const FoundFolder& backups, const std::wstring& windowsFolder, const wchar_t* name,
                   const FoundFolder& policyFolder) {
  if (!policyFolder) {
    SetLastError(kRefusedFileError);
    return FALSE;
  }
  const std::wstring backupPath = windowsFolder + names::kWindowsTempSuffix + L"\\" + name;
  const UniqueFile backup = backups.OpenFile(name, FILE_READ_DATA | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                             OPEN_EXISTING, GuardedFolder::Owner::Trusted);
  if (!backup && GetLastError() == kRefusedFileError) {
    InstallLog(L"Did not restore %s: a link, a file with another name or not owned by the system or administrators",
               backupPath.c_str());
    SetLastError(kRefusedFileError);
  }
  DWORD sourceLeft = 0;
  if (!backup || !policyFolder.MoveHere(backup.get(), names::kPolicyName, sourceLeft)) return FALSE;
  if (sourceLeft != 0) {
    InstallLog(L"Restored a copy of %s, which stays where it was, Error Code: %d", backupPath.c_str(),
               static_cast<int>(sourceLeft));
  }
  return TRUE;
}

void RestorePolicyBackup() {
  InstallLog(L"CopyPolicyBackup start");
  // The package writes the value in the platform's own view.
  std::wstring commonFolder;
  if (!ReadCommonFolder(commonFolder, PlatformRegistryView())) return;

  const std::wstring windowsFolder = WindowsFolderOrDefault();
  const std::wstring policyFile = commonFolder + names::kPolicyFile;
  // Checked from the drive's root, each missing level made with a private
  // list; nothing is made in or moved into a folder that is a link or a user's.
  FoundFolder::Options make;
  make.makeMissing = true;
  const FoundFolder temp = FoundFolder::OfPath(commonFolder + names::kPolicyTempBelow, make);
  const FoundFolder policyFolder = temp ? FoundFolder::OfPath(commonFolder + names::kPolicyFolderBelow, {}) : FoundFolder();
  if (!policyFolder) {
    InstallLog(L"Did not restore into %s: a link or a folder not owned by the system or administrators",
               policyFile.c_str());
  }
  const FoundFolder backups = BackupFolder(windowsFolder);

  // A policy file of the system's in place is newer than any backup; anything
  // else there was planted and makes way for the backup.
  if (MoveOwnBackup(backups, windowsFolder, names::kPolicyName, policyFolder)) {
    InstallLog(L"Restored policy file in path-> %s  ", policyFile.c_str());
  } else {
    const DWORD error = GetLastError();
    InstallLog(L"Did not restore policy file, Error Code: %d", static_cast<int>(error));
    if (error != ERROR_ALREADY_EXISTS) {
      // A backup left by an upgrade from the older product line.
      if (MoveOwnBackup(backups, windowsFolder, names::kOlderPolicyName, policyFolder)) {
        InstallLog(L"Restored policy file in path-> %s  ", policyFile.c_str());
      } else {
        InstallLog(L"Did not restore policy file, Error Code: %d", static_cast<int>(GetLastError()));
      }
    }
  }
  InstallLog(L"CopyPolicyBackup end");
}

// A policy as SYSTEM reads it below the common folder: no folder on the way a
// link or of another owner, the file itself trusted. The product may hold its
// policy for a moment while it writes it.
UniqueFile OpenPolicy(const std::wstring& commonFolder, const wchar_t* folder, const wchar_t* name,
                      int sharingRetries) {
  for (int attempt = 0;; ++attempt) {
    UniqueFile policy = FoundFolder::OfPath(commonFolder + folder, {})
                            .OpenFile(name, FILE_READ_DATA, FILE_SHARE_READ, OPEN_EXISTING, GuardedFolder::Owner::Trusted);
    if (policy || GetLastError() != ERROR_SHARING_VIOLATION || attempt == sharingRetries) return policy;
    policy_seams::sleep(kSharingRetryWaitMs);
  }
}

BOOL SavePolicy(const std::wstring& commonFolder, const wchar_t* folder, const wchar_t* name, int sharingRetries,
                const FoundFolder& backups) {
  const UniqueFile policy = OpenPolicy(commonFolder, folder, name, sharingRetries);
  if (!policy && GetLastError() == kRefusedFileError) {
    InstallLog(L"Did not read %s: a link on the way, a file with another name or not owned by the system or "
               L"administrators",
               (commonFolder + folder + L"\\" + name).c_str());
    SetLastError(kRefusedFileError);
  }
  // An earlier backup stays whole until the new one is complete.
  return policy && backups.PlaceCopy(policy.get(), names::kPolicyName, true);
}

}  // namespace

bool BackupPolicyFile() {
  std::wstring commonFolder;
  if (!ReadCommonFolder(commonFolder, 0)) return false;

  const FoundFolder backups = BackupFolder(WindowsFolderOrDefault());
  BOOL copied = SavePolicy(commonFolder, names::kPolicyFolderBelow, names::kPolicyName, kSharingRetries, backups);
  LogBackupOutcome(copied);
  if (!copied) {
    // Upgrading from the older product line: its policy is saved under the current name.
    copied = SavePolicy(commonFolder, names::kOlderPolicyFolderBelow, names::kOlderPolicyName, 0, backups);
    LogBackupOutcome(copied);
  }
  return true;
}

void CopyPolicyBackup(void) { GuardAction(L"CopyPolicyBackup", [] { RestorePolicyBackup(); }); }
