#include "process/ProductService.h"

#include <fcntl.h>
#include <io.h>

#include <string>

#include "frame/Exports.h"
#include "frame/FolderGuard.h"
#include "frame/FolderValue.h"
#include "frame/Guard.h"
#include "frame/Log.h"
#include "frame/Owners.h"
#include "frame/ProductNames.h"
#include "process/ProcessControl.h"
#include "process/QvmManager.h"

namespace {

const DWORD kWaitMs = 2000;

// The profile's text as the host expects it: read in text mode (line ends
// become "\n"), each byte widened as it stands. Not through a C++ stream,
// whose one-time set-up leaves the threading runtime holding two handles for
// the calling thread. Read as SYSTEM from a folder users may write in: through
// its checked folder, never a link, a second name of another file or a file
// someone else put there; and consumed through the handle it was read from.
bool ReadAndConsumeProfile(const std::wstring& path, std::wstring& text) {
  std::wstring name;
  UniqueFile file = FoundFolder::OfFile(path, name).OpenFile(name, FILE_READ_DATA | DELETE,
                                                              FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                                                              GuardedFolder::Owner::Trusted);
  const int descriptor = file ? _open_osfhandle(reinterpret_cast<intptr_t>(file.get()), _O_RDONLY | _O_TEXT) : -1;
  if (descriptor == -1) return false;
  const HANDLE handle = file.release();  // the descriptor owns the handle now
  UniqueCrtFile profile(_fdopen(descriptor, "rt"));
  if (!profile) {
    _close(descriptor);
    return false;
  }
  for (int c = fgetc(profile.get()); c != EOF; c = fgetc(profile.get())) text += static_cast<wchar_t>(c);
  // Consumed whether or not the host accepts it.
  DeleteByHandle(handle);
  return true;
}

int InstallIntoHost(MSIHANDLE hInstall) {
  QvmManager host(names::kQvmServiceName, names::kQvmClientName);
  InstallLog(L"Started Installing LynService into QVM");

  // The host runs what the profile says. A missing value, or one that is not
  // a full path, leaves the folder empty: the profile is then looked for at the
  // root of the current drive.
  std::wstring folder;
  ReadFolderValue(names::kInstDirValue, folder, 0);
  const std::wstring path = folder + names::kServiceProfile;

  std::wstring profile;
  if (!ReadAndConsumeProfile(path, profile)) {
    MsiLogInfo(hInstall, (L"Unable to open " + path + L",aborting LYN installation").c_str());
    InstallLog(L"Unable to open %ls aborting LYN installation", path.c_str());
    return -1;
  }
  if (!host.InstallService(profile)) {
    InstallLog(L"objQvmManager.InstallService returned: %ls", host.GetStatusText().c_str());
    MsiLogInfo(hInstall, host.GetStatusText().c_str());
    return -1;
  }
  if (!host.StartService()) {
    InstallLog(L"objQvmManager.StartService returned: %ls", host.GetStatusText().c_str());
    MsiLogInfo(hInstall, host.GetStatusText().c_str());
    return -1;
  }
  InstallLog(L"Completed Installing LynService into QVM Successfully");
  return 0;
}

int UninstallFromHost(MSIHANDLE hInstall) {
  QvmManager host(names::kQvmServiceName, names::kQvmClientName);
  InstallLog(L"Now Uninstalling LynService from QVM");
  MsiLogInfo(hInstall, L"StopService LYNService Using QVM");

  if (!host.StopService()) {
    InstallLog(L"objQvmManager.StopService returned %ls", host.GetStatusText().c_str());
    MsiLogInfo(hInstall, host.GetStatusText().c_str());
    // A service the host could not stop must not keep running: its files go next.
    UniqueFile process(getProcessHandleByName(names::kServiceExe));
    if (process) {
      LogOutcome(hInstall, L"%ls", L"Terminate LYN");
      process_seams::terminateProcess(process.get(), names::kTerminatedExitCode);
    }
  }
  if (host.DeleteService()) return 0;
  LogOutcome(hInstall, L"%ls", host.GetStatusText().c_str());
  return -1;
}

int StopBeforeInstallValidate() {
  InstallLog(L"StopOrbServiceBeforeInstallValidateAction: Now Stopping OrbService from QVM");
  QvmManager host(names::kQvmServiceName, names::kQvmClientName);
  // A host that cannot be reached has no service running either.
  if (!host.IsServiceRunning()) {
    InstallLog(L"StopOrbServiceBeforeInstallValidateAction: OrbService is not running Proceed with Uninstallation");
    return 0;
  }
  if (!host.StopService()) {
    InstallLog(L"StopOrbServiceBeforeInstallValidateAction: Failed to Stop OrbService (vtnorb), error = %ls",
               host.GetStatusText().c_str());
    return -1;
  }
  InstallLog(L"StopOrbServiceBeforeInstallValidateAction: Successful in stopping OrbSerivce From QVM");
  InstallLog(L"StopOrbServiceBeforeInstallValidateAction: Sleeping for 2sec Start");
  qvm_seams::sleep(kWaitMs);
  InstallLog(L"StopOrbServiceBeforeInstallValidateAction: Sleeping for 2sec End");
  return 0;
}

}  // namespace

int InstallORBQVMService(MSIHANDLE hInstall, unsigned int mode) {
  return GuardAction(L"InstallORBQVMService", -1,
                     [hInstall, mode] { return mode != 0 ? InstallIntoHost(hInstall) : UninstallFromHost(hInstall); });
}

int StopOrbServiceBeforeInstallValidateAction(void) {
  return GuardAction(L"StopOrbServiceBeforeInstallValidateAction", -1, [] { return StopBeforeInstallValidate(); });
}

void deleteLegacyService() {
  UniqueService manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) {
    InstallLog(L" OpenSCManager failed %d", static_cast<int>(GetLastError()));
    return;
  }
  UniqueService service(OpenServiceW(manager.get(), names::kLegacyServiceOrb, DELETE));
  if (!service) {
    InstallLog(L" ORBService: OpenService failed %d", static_cast<int>(GetLastError()));
    service.reset(OpenServiceW(manager.get(), names::kLegacyServiceLyn, DELETE));
    if (!service) {
      InstallLog(L" LYNService: OpenService failed %d", static_cast<int>(GetLastError()));
      return;
    }
  }
  if (DeleteService(service.get())) {
    InstallLog(L" Service deleted successfully");
  } else {
    InstallLog(L" DeleteService failed %d", static_cast<int>(GetLastError()));
  }
}
