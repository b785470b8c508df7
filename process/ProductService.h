// The proxy service in the vendor's module-service host, and the service that
// earlier releases registered with the Windows service control manager.
#pragma once

#include <windows.h>
#include <msi.h>

// Install mode (nonzero): hands the service profile laid down by the package
// to the host, then installs and starts the service; the profile file is
// consumed. Uninstall mode (0): stops the service, ending its process when the
// stop fails, and deletes it. 0 on success, -1 otherwise.
int InstallORBQVMService(MSIHANDLE hInstall, unsigned int mode);

// Deletes "ORBService", or when that cannot be opened "LYNService": one at most.
void deleteLegacyService();
