// The custom actions the installer engine calls. The export table
// (InstallHelper.def) publishes each under its MSVC-decorated name, mapping it
// to these undecorated C names, so MSVC and mingw-w64 builds export the same.
#pragma once

extern "C" {
int CheckCaseSentivity(unsigned long hInstall);
int CheckJunction(unsigned long hInstall);
void CopyPolicyBackup(void);
int DeleteOrbWRDPolicy(void);
void DeleteOrbLogsFolder(void);
int ExecuteProcessX64(unsigned long hInstall);
int ExecuteProcessX86(unsigned long hInstall);
int GetPropertyAction(unsigned long hInstall);
int InstallCustomAction(unsigned long hInstall);
int RollbackCustomAction(unsigned long hInstall);
int StopOrbServiceBeforeInstallValidateAction(void);
int UninstallCustomAction(unsigned long hInstall);
void UninstallOrbPinletPlugin(void);
void UpgradeFix(void);
}
