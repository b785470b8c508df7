#include "housekeeping/LogsFolder.h"

#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <vector>

#include "frame/Exports.h"
#include "frame/FolderGuard.h"
#include "frame/Guard.h"
#include "frame/Log.h"
#include "frame/ProductNames.h"
#include "frame/RegistryHelper.h"
#include "frame/SafeFiles.h"

namespace {

void RunDeleteOrbLogsFolder() {
  InstallLog(L"DeleteOrbLogsFolder: Start");
  std::wstring commonFolder;
  // A value that is not a full drive path names no folder of ours.
  if (ReadRegistryString(names::kCommonAppDataValue, commonFolder, 0) != 0 || !IsDrivePath(commonFolder)) {
    InstallLog(L"DeleteOrbLogsFolder: ERROR - Not able to find the ORB Logs Directory, This is Un-Expected");
    return;
  }
  const std::wstring logsFolder = commonFolder + names::kLogsSubfolder;
  // Taken from users first (only SYSTEM and the administrators may add to it
  // then) and emptied through folder handles, so that the shell, which deletes
  // by path and may follow links, only meets an empty folder that nobody else
  // can fill. A link in its place or among its parents, or a level of another
  // owner, is left alone.
  FoundFolder::Options options;
  options.toRemove = true;
  const FoundFolder logs = FoundFolder::OfPath(logsFolder, options);
  if (PathFileExistsW(logsFolder.c_str()) != 1) {
    InstallLog(L"DeleteOrbLogsFolder: Failed to Find the ORB logs directory");
  } else if (logs.Empty() && DeletePathWithShell(logsFolder, true)) {
    InstallLog(L"DeleteOrbLogsFolder: Successfully removed the ORB logs directory");
  } else {
    InstallLog(L"DeleteOrbLogsFolder: Not able to remove the ORB logs directory");
  }
  InstallLog(L"DeleteOrbLogsFolder: End");
}

}  // namespace

// The one deletion by path that is left: the shell's own, as the removal of
// the logs folder is made, on a folder emptied and closed to others first.
bool DeletePathWithShell(const std::wstring& path, bool permanent) {
  // The shell takes a list of paths, each ended by a null, the list by another.
  std::vector<wchar_t> from(path.size() + 2, L'\0');
  path.copy(from.data(), path.size());

  SHFILEOPSTRUCTW operation = {};
  operation.hwnd = nullptr;
  operation.wFunc = FO_DELETE;
  operation.pFrom = from.data();
  operation.pTo = nullptr;
  operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION;
  if (!permanent) operation.fFlags |= FOF_ALLOWUNDO;
  operation.fAnyOperationsAborted = FALSE;
  operation.hNameMappings = nullptr;
  operation.lpszProgressTitle = nullptr;
  return SHFileOperationW(&operation) == 0;
}

void DeleteOrbLogsFolder(void) { GuardAction(L"DeleteOrbLogsFolder", [] { RunDeleteOrbLogsFolder(); }); }
