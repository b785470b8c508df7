// The three main custom actions: each runs its fixed list of steps in order.
// Only the first step of installation can stop a sequence; every other
// outcome is logged and the next step runs.
#include "components/Catalog.h"
#include "components/PlatformCore.h"
#include "frame/Exports.h"
#include "frame/Guard.h"
#include "frame/Log.h"
#include "frame/SelfProtection.h"
#include "process/ProcessControl.h"
#include "process/ProductService.h"

namespace {

const int kInstall = 1;
const int kRemove = 0;

void CatalogStep(MSIHANDLE hInstall, int mode) {
  // Reported whenever the step answers non-zero, which is its success.
  if (Do_Catalog_Action(hInstall, mode) != 0) LogOutcome(hInstall, L"Do_Catalog_Action() returned non-zero\n");
}

void ServiceStep(MSIHANDLE hInstall, int mode) {
  if (InstallORBQVMService(hInstall, mode) != 0) {
    MsiLogInfo(hInstall, L"InstallORBQVMService() returned non-zero\n");
    InstallLog(L"InstallORBQVMService() returned non-zero");
  }
}

int RunInstall(MSIHANDLE hInstall) {
  InstallLog(L"In InstallCustomAction\n");
  InstallLog(L"InstallCustomAction: Calling killExistingORBProcess");
  const int result = killExistingORBProcess();
  if (result == 0) {
    InstallLog(L"InstallCustomAction : Failed to Stop LynService %d and so returning from here ", result);
    MsiLogInfo(hInstall, L"In InstallCustomAction : Failed to Stop OLD LynService and so returning from here\n ");
    return -1;
  }
  InstallLog(L"InstallCustomAction : Stopped LYNService or it is not present");
  CopyPolicyBackup();
  deleteLegacyService();
  CatalogStep(hInstall, kInstall);
  if (InstallTessel(hInstall, kInstall) == 0) {
    MsiLogInfo(hInstall, L"InstallTessel() returned FALSE\n");
    InstallLog(L"InstallCustomAction : Tessel Installation get failed");
  }
  ServiceStep(hInstall, kInstall);
  return 0;
}

int RunUninstall(MSIHANDLE hInstall) {
  InstallLog(L"In UninstallCustomAction");
  AuthorizeProductUninstall(hInstall);
  CatalogStep(hInstall, kRemove);
  killBypassAndAboutProcesses(hInstall);
  ServiceStep(hInstall, kRemove);
  // The removal answers 1 unless the install folder cannot be read.
  if (InstallTessel(hInstall, kRemove) != 0) {
    MsiLogInfo(hInstall, L"InstallTessel() returned non-zero\n");
    InstallLog(L"InstallTessel() returned non-zero");
  }
  return 0;
}

int RunRollback(MSIHANDLE hInstall) {
  InstallLog(L"In RollbackCustomAction - Begin\n");
  ServiceStep(hInstall, kRemove);
  if (InstallTessel(hInstall, kRemove) == 0) MsiLogInfo(hInstall, L"InstallTessel() is Failed\n");
  CatalogStep(hInstall, kRemove);
  InstallLog(L"In RollbackCustomAction - End\n");
  return 0;
}

}  // namespace

int InstallCustomAction(unsigned long hInstall) {
  return GuardAction(L"InstallCustomAction", -1, [hInstall] { return RunInstall(hInstall); });
}

int UninstallCustomAction(unsigned long hInstall) {
  return GuardAction(L"UninstallCustomAction", 0, [hInstall] { return RunUninstall(hInstall); });
}

int RollbackCustomAction(unsigned long hInstall) {
  return GuardAction(L"RollbackCustomAction", 0, [hInstall] { return RunRollback(hInstall); });
}
