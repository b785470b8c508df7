// The steps of the install, uninstall and rollback custom actions. Each runs
// through one seam, so that a test can make any of them answer failure, throw
// or crash and see what the sequence does next.
#pragma once

#include <windows.h>
#include <msi.h>

#include "frame/Seam.h"

enum class SequenceStep {
  kKillOldService,       // killExistingORBProcess
  kRestorePolicy,        // CopyPolicyBackup
  kDeleteLegacyService,  // deleteLegacyService
  kCatalogs,             // Do_Catalog_Action
  kPlatformCore,         // InstallTessel
  kService,              // InstallORBQVMService
  kAuthorizeUninstall,   // AuthorizeProductUninstall
  kEndCompanions,        // killBypassAndAboutProcesses
};

namespace sequence_seams {
// Runs one step with the mode the sequence gives it (1 install, 0 removal) and
// answers its result as the sequences test it; 0 for the steps without one.
extern Seam<int (*)(SequenceStep, MSIHANDLE, int)> step;
}  // namespace sequence_seams
