// The three main custom actions: each runs its fixed list of steps in order.
// Only the first step of installation can stop a sequence; every other
// outcome is logged and the next step runs. Each step is guarded on its own:
// one that throws or crashes counts as failed, and the rest still run.
#include "frame/Sequences.h"

#include <exception>

#include "components/Catalog.h"
#include "components/PlatformCore.h"
#include "frame/Exports.h"
#include "frame/Guard.h"
#include "frame/Log.h"
#include "frame/SelfProtection.h"
#include "frame/VendorCall.h"
#include "process/ProcessControl.h"
#include "process/ProductService.h"

namespace {

const int kInstall = 1;
const int kRemove = 0;

int RunStep(SequenceStep step, MSIHANDLE hInstall, int mode) {
  switch (step) {
    case SequenceStep::kKillOldService:
      return killExistingORBProcess();
    case SequenceStep::kRestorePolicy:
      CopyPolicyBackup();
      return 0;
    case SequenceStep::kDeleteLegacyService:
      deleteLegacyService();
      return 0;
    case SequenceStep::kCatalogs:
      return Do_Catalog_Action(hInstall, mode);
    case SequenceStep::kPlatformCore:
      return InstallTessel(hInstall, mode);
    case SequenceStep::kService:
      return InstallORBQVMService(hInstall, static_cast<unsigned int>(mode));
    case SequenceStep::kAuthorizeUninstall:
      AuthorizeProductUninstall(hInstall);
      return 0;
    case SequenceStep::kEndCompanions:
      killBypassAndAboutProcesses(hInstall);
      return 0;
  }
  return 0;
}

const wchar_t* const kStepNames[] = {L"killExistingORBProcess", L"CopyPolicyBackup",
                                     L"deleteLegacyService",    L"Do_Catalog_Action",
                                     L"InstallTessel",          L"InstallORBQVMService",
                                     L"AuthorizeProductUninstall", L"killBypassAndAboutProcesses"};

// One step of `action`: its result, or onFailure (the step's own failure
// answer) after an exception or a fault inside it, which is logged once.
// Vendor faults are taken by the step's own guarded calls; one that reaches
// this guard is a fault of ours, and what the step held may then stay open
// until the process ends: better than taking the installer down.
int Step(const wchar_t* action, SequenceStep step, MSIHANDLE hInstall, int mode, int onFailure) noexcept {
  const wchar_t* name = kStepNames[static_cast<int>(step)];
  int result = onFailure;
  CallVendor(action, name, [&] {
    try {
      result = sequence_seams::step(step, hInstall, mode);
    } catch (const std::exception& e) {
      InstallLog(L"%s : %s ended after an unexpected error: %s", action, name,
                 logdetail::WidenBytes(e.what()).c_str());
    } catch (...) {
      InstallLog(L"%s : %s ended after an unexpected error", action, name);
    }
  });
  return result;
}

void CatalogStep(const wchar_t* action, MSIHANDLE hInstall, int mode) {
  // Reported whenever the step answers non-zero, which is its success.
  if (Step(action, SequenceStep::kCatalogs, hInstall, mode, 0) != 0)
    LogOutcome(hInstall, L"Do_Catalog_Action() returned non-zero\n");
}

void ServiceStep(const wchar_t* action, MSIHANDLE hInstall, int mode) {
  if (Step(action, SequenceStep::kService, hInstall, mode, -1) != 0) {
    MsiLogInfo(hInstall, L"InstallORBQVMService() returned non-zero\n");
    InstallLog(L"InstallORBQVMService() returned non-zero");
  }
}

const wchar_t* const kInstallAction = L"InstallCustomAction";
const wchar_t* const kUninstallAction = L"UninstallCustomAction";
const wchar_t* const kRollbackAction = L"RollbackCustomAction";

}  // namespace

namespace sequence_seams {
Seam<int (*)(SequenceStep, MSIHANDLE, int)> step(&RunStep);
}  // namespace sequence_seams

namespace {

int RunInstall(MSIHANDLE hInstall) {
  InstallLog(L"In InstallCustomAction\n");
  InstallLog(L"InstallCustomAction: Calling killExistingORBProcess");
  const int result = Step(kInstallAction, SequenceStep::kKillOldService, hInstall, kInstall, 0);
  if (result == 0) {
    InstallLog(L"InstallCustomAction : Failed to Stop LynService %d and so returning from here ", result);
    MsiLogInfo(hInstall, L"In InstallCustomAction : Failed to Stop OLD LynService and so returning from here\n ");
    return -1;
  }
  InstallLog(L"InstallCustomAction : Stopped LYNService or it is not present");
  Step(kInstallAction, SequenceStep::kRestorePolicy, hInstall, kInstall, 0);
  Step(kInstallAction, SequenceStep::kDeleteLegacyService, hInstall, kInstall, 0);
  CatalogStep(kInstallAction, hInstall, kInstall);
  if (Step(kInstallAction, SequenceStep::kPlatformCore, hInstall, kInstall, 0) == 0) {
    MsiLogInfo(hInstall, L"InstallTessel() returned FALSE\n");
    InstallLog(L"InstallCustomAction : Tessel Installation get failed");
  }
  ServiceStep(kInstallAction, hInstall, kInstall);
  return 0;
}

int RunUninstall(MSIHANDLE hInstall) {
  InstallLog(L"In UninstallCustomAction");
  Step(kUninstallAction, SequenceStep::kAuthorizeUninstall, hInstall, kRemove, 0);
  CatalogStep(kUninstallAction, hInstall, kRemove);
  Step(kUninstallAction, SequenceStep::kEndCompanions, hInstall, kRemove, 0);
  ServiceStep(kUninstallAction, hInstall, kRemove);
  // The removal answers 1 unless the install folder cannot be read.
  if (Step(kUninstallAction, SequenceStep::kPlatformCore, hInstall, kRemove, 0) != 0) {
    MsiLogInfo(hInstall, L"InstallTessel() returned non-zero\n");
    InstallLog(L"InstallTessel() returned non-zero");
  }
  return 0;
}

int RunRollback(MSIHANDLE hInstall) {
  InstallLog(L"In RollbackCustomAction - Begin\n");
  ServiceStep(kRollbackAction, hInstall, kRemove);
  if (Step(kRollbackAction, SequenceStep::kPlatformCore, hInstall, kRemove, 0) == 0)
    MsiLogInfo(hInstall, L"InstallTessel() is Failed\n");
  CatalogStep(kRollbackAction, hInstall, kRemove);
  InstallLog(L"In RollbackCustomAction - End\n");
  return 0;
}

}  // namespace

int InstallCustomAction(unsigned long hInstall) {
  return GuardAction(kInstallAction, -1, [hInstall] { return RunInstall(hInstall); });
}

int UninstallCustomAction(unsigned long hInstall) {
  return GuardAction(kUninstallAction, 0, [hInstall] { return RunUninstall(hInstall); });
}

int RollbackCustomAction(unsigned long hInstall) {
  return GuardAction(kRollbackAction, 0, [hInstall] { return RunRollback(hInstall); });
}
