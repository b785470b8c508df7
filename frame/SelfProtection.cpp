// Steps of the product's own self-protection and uninstall protection. The
// protection components are not part of this package, so each step records
// that it ran and lets the installation go on.
#include "frame/Exports.h"
#include "frame/Log.h"
#include "frame/SelfProtection.h"

int DeleteOrbWRDPolicy(void) {
  InstallLog(L"DeleteOrbWRDPolicy : no protection policy to remove\n");
  return 0;
}

int GetPropertyAction(unsigned long hInstall) {
  InstallLog(L"GetPropertyAction : uninstall authorisation not required\n");
  return 0;
}

int ExecuteProcessX64(unsigned long hInstall) {
  InstallLog(L"ExecuteProcessX64 : uninstall protection step (64-bit) done\n");
  return 0;
}

int ExecuteProcessX86(unsigned long hInstall) {
  InstallLog(L"ExecuteProcessX86 : uninstall protection step (32-bit) done\n");
  return 0;
}

int AuthorizeProductUninstall(MSIHANDLE hInstall) {
  InstallLog(L"UninstallCustomAction : uninstall authorised\n");
  return 0;
}
