#include "components/PlatformCore.h"

#include <shlwapi.h>

#include <string>

#include "components/UninstallSet.h"
#include "frame/FolderGuard.h"
#include "frame/FolderValue.h"
#include "frame/Log.h"
#include "frame/Platform.h"
#include "frame/ProductNames.h"
#include "process/ProcessRunner.h"

namespace {

const wchar_t kPlatformProduct[] = L"{FC04F053-70E4-46B8-B2D9-B78F3AE001E3}";
const wchar_t kCabinet[] = L"lyn_tesselfiles.cab";
const wchar_t kTesselLogStem[] = L"lyn_tessel_";
// The tool and its captures are where the platform puts them, whatever the
// product's own folders are.
const wchar_t kTrvInfo[] = L"C:\\Program Files\\Common Files\\Veltan\\Basalt\\trvinfo.exe";
const wchar_t kSearchPathCapture[] = L"C:\\Windows\\Temp\\NorvaleLogs\\orb_trvinfo_out.txt";
const wchar_t kLoadCertsCapture[] = L"C:\\Windows\\Temp\\NorvaleLogs\\orb_trvinfo_loadcerts.txt";

int InstallPlatformCore(MSIHANDLE hInstall, const std::wstring& platformFolder, const wchar_t* searchPathSuffix,
                        const std::wstring& logPrefix, const std::wstring& windowsFolder) {
  // Without the certificates the platform core still installs; it checks them itself later.
  if (!InstallVeltanCerts(hInstall, searchPathSuffix)) {
    LogOutcome(hInstall, L"InstallTessel: Failed to Install Certificates");
  }
  const std::wstring commandLine = platformFolder + L"vtnhidin.exe -c " + kCabinet + L" -l " + logPrefix +
                                   L".log -etl " + logPrefix + L".etl -t ORBINSTALL -g " + kPlatformProduct;
  const std::wstring capture = windowsFolder + names::kLogFolderSuffix + L"\\lynInst_vtnhidin_cmdout.txt";
  InstallLog(L"InstallTessel: %ls", commandLine.c_str());
  return CreateAndExecuteCmdLineProcessWithOutputToFile(hInstall, commandLine, capture, true);
}

}  // namespace

bool IsTrvInfoPresent(const wchar_t* path) {
  const bool present = PathFileExistsW(path) == TRUE;
  InstallLog(
      present ? L"IsTrvInfoPresent(): trvinfo.exe FOUND at %s" : L"IsTrvInfoPresent(): trvinfo.exe NOT FOUND at %s",
      path);
  return present;
}

int InstallVeltanCerts(MSIHANDLE hInstall, const wchar_t* searchPathSuffix) {
  InstallLog(L"InstallVeltanCerts: Start\n");
  if (!IsTrvInfoPresent(kTrvInfo)) {
    // Older platforms come without the tool and load their certificates themselves.
    InstallLog(L"InstallVeltanCerts: Failed as trvinfo.exe is not found %ls", kTrvInfo);
    InstallLog(L"trvinfo.exe is not found on the machine, still returning SUCCESS");
    return 1;
  }
  const std::wstring searchPath = std::wstring(kTrvInfo) + L" /SetSearchPath \"" + names::kProgramFilesLyn +
                                  (searchPathSuffix != nullptr ? searchPathSuffix : L"") + L"\"";
  if (!CreateAndExecuteCmdLineProcessWithOutputToFile(hInstall, searchPath, kSearchPathCapture, true)) {
    MsiLogInfo(hInstall, (L"InstallVeltanCerts: Failed to /SetSearchPath" + searchPath).c_str());
    InstallLog(L"InstallVeltanCerts: Failed to /SetSearchPath %ls", searchPath.c_str());
    return 0;
  }
  const std::wstring loadCerts = std::wstring(kTrvInfo) + L" /LoadCerts ";
  if (!CreateAndExecuteCmdLineProcessWithOutputToFile(hInstall, loadCerts, kLoadCertsCapture, true)) {
    MsiLogInfo(hInstall, (L"InstallVeltanCerts: Failed" + loadCerts).c_str());
    InstallLog(L"InstallVeltanCerts: Failed %ls", loadCerts.c_str());
    return 0;
  }
  InstallLog(L"InstallVeltanCerts: End");
  return 1;
}

void LogTesselMessage(const wchar_t* text, bool isError) {
  InstallLog(isError ? L"TESSEL: [ERROR] %s" : L"TESSEL: [INFO] %s", text != nullptr ? text : L"");
}

int InstallTessel(MSIHANDLE hInstall, int isInstall) {
  InstallLog(L"InstallTessel: Start , isInstall= %d\n ", isInstall);
  const std::wstring windowsFolder = WindowsFolderOrDefault();
  std::wstring installDir;
  // The vendor's installer is started from below it: a folder that is not a full path counts as none.
  if (ReadFolderValue(names::kInstDirValue, installDir, KEY_WOW64_64KEY) != 0) {
    InstallLog(L"InstallTessel : Unable to get LYN installation directory");
    MsiLogInfo(hInstall, L"InstallTessel: Unable to get the LYN install directory");
    return 0;
  }
  const bool is64Bit = platform_seams::is64BitWindows() != 0;
  const std::wstring platformFolder = installDir + (is64Bit ? L"x64\\" : L"x86\\");
  const std::wstring logPrefix = windowsFolder + names::kLogFolderSuffix + L"\\" + kTesselLogStem;

  // The vendor's installer writes its log and trace itself, by path, as
  // SYSTEM, in a folder where users may add files. So the library makes each
  // name first: a fresh file, private (SYSTEM and the administrators), with
  // one name, in the log folder whose list it has just set, where users may
  // neither delete nor rename what is not theirs. The name is then safe by its
  // list alone and nothing is held: the program opens it as it likes (a new
  // file over it, no sharing), since SYSTEM may do anything to it and no
  // handle of ours stands in its way.
  const std::wstring kind = isInstall == 1 ? L"inst_" : L"uninst_";
  const OwnFolder logs(windowsFolder + names::kWindowsTempSuffix, names::kLogFolderName,
                       OwnFolder::Use::SystemLogs, true);
  for (const wchar_t* extension : {L".log", L".etl"}) {
    const std::wstring name = kTesselLogStem + kind + names::kProductVersion + extension;
    if (!logs.PlaceFresh(name)) {
      const int error = static_cast<int>(GetLastError());
      LogOutcome(hInstall, L"InstallTessel: %s cannot be made ready for the platform installer, Error Code: %d, it is "
                 L"not run", (windowsFolder + names::kLogFolderSuffix + L"\\" + name).c_str(), error);
      return 0;
    }
  }
  int result = 1;
  if (isInstall == 1) {
    result = InstallPlatformCore(hInstall, platformFolder, is64Bit ? L"\\x64" : L"\\x86",
                                 logPrefix + kind + names::kProductVersion, windowsFolder);
  } else {
    // Reported through the callback; the uninstallation goes on whatever happened.
    const std::wstring uninstallPrefix = logPrefix + kind + names::kProductVersion;
    DWORD exitCode = 0;
    uninstallTessel(kPlatformProduct, exitCode, (uninstallPrefix + L".log").c_str(),
                    (uninstallPrefix + L".etl").c_str(), INFINITE, LogTesselMessage, nullptr);
  }
  InstallLog(L"InstallTessel: End");
  return result;
}
