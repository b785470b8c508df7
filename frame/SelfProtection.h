// Steps of the product's own self-protection and uninstall protection.
#pragma once

#include <windows.h>
#include <msi.h>

// Authorises the product's uninstallation; 0 when it may go on.
int AuthorizeProductUninstall(MSIHANDLE hInstall);
