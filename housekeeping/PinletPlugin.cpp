#include "housekeeping/PinletPlugin.h"

#include <string>

#include "frame/Exports.h"
#include "frame/FolderValue.h"
#include "frame/Guard.h"
#include "frame/Log.h"
#include "frame/RegistryHelper.h"
#include "frame/Owners.h"
#include "frame/Platform.h"
#include "frame/ProductNames.h"
#include "frame/VendorCall.h"

namespace {

const wchar_t kSupportLibrary[] = L"PinletInstSupp.dll";
const wchar_t kPluginFile[] = L"OrbPinletPlugin.dll";
const wchar_t kPluginName[] = L"ORBPinletPlugin";

// Both entry points of the support library: one wide string in, 0 for success.
typedef int (*PluginUninstallFn)(const wchar_t*);

PluginUninstallFn FindEntryPoint(HMODULE module, const char* name) {
  return reinterpret_cast<PluginUninstallFn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

void RunUninstallOrbPinletPlugin() {
  InstallLog(L"UninstallOrbPinletPlugin started");
  UniqueModule module;
  int failed = 0;
  UninstallPinletPlugin(module, failed);
  if (failed != 0) {
    InstallLog(L"UninstallPinletPlugin : failed to unload ORB Pinlet plugin ");
  } else {
    InstallLog(L"UninstallPinletPlugin : successfull in unloading ORB Pinlet plugin");
  }
  module.reset();
  InstallLog(L"UninstallOrbPinletPlugin end");
}

}  // namespace

void UninstallPinletPlugin(UniqueModule& module, int& failed) {
  // The protection policy would otherwise keep the tray application from
  // touching the plug-in's files.
  InstallLog(L"UninstallPinletPlugin : Calling DeleteOrbWRDPolicy()");
  DeleteOrbWRDPolicy();
  InstallLog(L"UninstallPinletPlugin : Completed DeleteOrbWRDPolicy()");

  // The tray application is a 32-bit program: its folder is normally
  // registered in the 32-bit view. A folder that is not a full path counts as none.
  std::wstring trayFolder;
  if (ReadFolderValue(names::kTrayFolderValue, trayFolder, KEY_WOW64_32KEY) != 0) {
    InstallLog(L"UninstallPinletPlugin : Unable to get Pinlet installation directory From WOW6432Node Try From "
               L"Normal Node.");
    if (ReadFolderValue(names::kTrayFolderValue, trayFolder, KEY_WOW64_64KEY) != 0) {
      InstallLog(L"UninstallPinletPlugin : Unable to get Pinlet installation directory From Regular Node.");
      return;
    }
  }

  const std::wstring libraryPath = trayFolder + kSupportLibrary;
  InstallLog(L"UninstallPinletPlugin :  %s", libraryPath.c_str());
  // The library's dependencies live next to it, not on our search path.
  module.reset(LoadVendorLibrary(libraryPath.c_str()));
  if (!module) {
    InstallLog(L"UninstallPinletPlugin :  Unable to load PinletInstSupp.dll %d", static_cast<int>(GetLastError()));
    failed = 1;
    return;
  }
  InstallLog(L"UninstallPinletPlugin :  Successfully loaded %s", libraryPath.c_str());

  const PluginUninstallFn prepare = FindEntryPoint(module.get(), "PluginUninstallPrep");
  if (prepare == nullptr) {
    InstallLog(L"UninstallPinletPlugin :  could not load function PluginUninstallPrep.");
    failed = 1;
    return;
  }

  std::wstring productFolder;
  if (ReadRegistryString(names::kInstDirValue, productFolder, PlatformRegistryView()) != 0) {
    InstallLog(L"UninstallPinletPlugin :  Unable to get ORB installation directory.");
    return;
  }
  const std::wstring pluginPath = productFolder + kPluginFile;

  int prepared = 1;  // a call that crashed has failed
  CallVendor(kSupportLibrary, L"PluginUninstallPrep", [&] { prepared = prepare(pluginPath.c_str()); });
  if (prepared != 0) {
    InstallLog(L"UninstallPinletPlugin :  call to PluginUninstallPrep failed.");
    failed = 1;
    return;
  }
  InstallLog(L"UninstallPinletPlugin :  PluginUninstallPrep success.");

  const PluginUninstallFn complete = FindEntryPoint(module.get(), "PluginUninstallComplete");
  if (complete == nullptr) {
    InstallLog(L"UninstallPinletPlugin :  could not load function PluginUninstallComplete.");
    failed = 1;
    return;
  }
  int completed = 1;
  CallVendor(kSupportLibrary, L"PluginUninstallComplete", [&] { completed = complete(kPluginName); });
  if (completed != 0) {
    InstallLog(L"UninstallPinletPlugin :  call to PluginUninstallComplete failed.");
    failed = 1;
    return;
  }
  InstallLog(L"UninstallPinletPlugin :  PluginUninstallComplete success.");
  failed = 0;
}

void UninstallOrbPinletPlugin(void) {
  GuardAction(L"UninstallOrbPinletPlugin", [] { RunUninstallOrbPinletPlugin(); });
}
