// The vendor platform core on which the proxy depends: installed from its
// cabinet by the platform's own installer program once the platform's
// certificates are loaded, and removed through the uninstall set.
#pragma once

#include <windows.h>

#include <msi.h>

// isInstall == 1 installs (1 when the installer program succeeded, else 0);
// any other value removes the platform core (always 1). 0 when "InstDir"
// cannot be read, and then nothing is run.
int InstallTessel(MSIHANDLE hInstall, int isInstall);

// Loads the platform's certificates with "trvinfo.exe" after pointing its
// search path at the product's platform folder. 1 when both runs succeeded or
// the tool is absent, 0 when a run failed.
int InstallVeltanCerts(MSIHANDLE hInstall, const wchar_t* searchPathSuffix);

// True when the path exists; says so in the text log either way.
bool IsTrvInfoPresent(const wchar_t* path);

// The platform removal's messages, into the text log as "TESSEL: [ERROR] ..."
// or "TESSEL: [INFO] ...".
void LogTesselMessage(const wchar_t* text, bool isError);
