// Keeps the product's policy file across an upgrade: BackupPolicyFile saves it
// under the Windows folder's Temp before the old product goes, and the export
// CopyPolicyBackup (frame/Exports.h) moves it back once the new one is in.
#pragma once

#include <windows.h>

#include "frame/Seam.h"

// Copies the policy file (or, failing that, the older product line's policy
// file) to the backup, replacing an earlier backup only once the copy is
// complete. Reports nothing to the
// caller. Returns false only when "CommonAppDataFolder" could not be read, so
// that UpgradeFix can leave out its end line.
bool BackupPolicyFile();

// The short waits while the product holds its policy; a test lets the policy go meanwhile.
namespace policy_seams {
extern Seam<decltype(&::Sleep)> sleep;
}
