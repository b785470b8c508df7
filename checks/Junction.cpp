#include "checks/Junction.h"

#include <shlwapi.h>

#include <cwchar>

#include "frame/Exports.h"
#include "frame/Guard.h"
#include "frame/Log.h"
#include "frame/Owners.h"
#include "frame/ProductNames.h"

namespace junction_seams {
Seam<DWORD(WINAPI*)(LPCWSTR)> getFileAttributes(&::GetFileAttributesW);
Seam<HANDLE(WINAPI*)(LPCWSTR, LPWIN32_FIND_DATAW)> findFirstFile(&::FindFirstFileW);
}

namespace {

const DWORD kJunctionTagMask = 0xA0000003;  // IO_REPARSE_TAG_MOUNT_POINT, applied as a mask

// The install and policy folders: the folder and every parent up to the root.
const wchar_t* const kWalkedPaths[] = {names::kProgramFilesLyn, names::kPolicyTempFolder};

// Folders examined by themselves.
const wchar_t* const kSinglePaths[] = {
    names::kLogsFolder,    names::kLangFolder,    names::kX64Folder,     names::kX64X64Folder,
    names::kX64X86Folder,  names::kX86Folder,     names::kX86X64Folder,  names::kX86X86Folder,
};

int CheckPathAndParents(const wchar_t* path) {
  wchar_t buffer[MAX_PATH] = {};
  wcsncpy(buffer, path, MAX_PATH - 1);
  do {
    if (CheckPathForJunction(buffer) != 0) return -1;
  } while (PathRemoveFileSpecW(buffer));
  return 0;
}

int RunJunctionCheck() {
  InstallLog(L"CheckJunction : Start\n");
  for (const wchar_t* path : kWalkedPaths) {
    if (CheckPathAndParents(path) != 0) return -1;
  }
  for (const wchar_t* path : kSinglePaths) {
    wchar_t buffer[MAX_PATH] = {};
    wcsncpy(buffer, path, MAX_PATH - 1);
    if (CheckPathForJunction(buffer) != 0) return -1;
  }
  InstallLog(L"CheckJunction : End\n");
  return 0;
}

}  // namespace

int CheckPathForJunction(const wchar_t* path) {
  InstallLog(L"Junction check : get attributes of: %ls", path);
  const DWORD attributes = junction_seams::getFileAttributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND) {
      InstallLog(L"Junction check : ERROR_PATH_NOT_FOUND : %d", static_cast<int>(GetLastError()));
      return 0;
    }
    InstallLog(L"Junction check : ERROR_INVALID_PARAMETER : %d", static_cast<int>(GetLastError()));
    return -1;
  }
  InstallLog(L"Junction check : attributes : %x", static_cast<unsigned int>(attributes));
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return 0;

  InstallLog(L"Junction check : Directory is a REPARSE POINT");
  WIN32_FIND_DATAW findData = {};
  const UniqueFind search(junction_seams::findFirstFile(path, &findData));
  if (!search) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) {
      InstallLog(L"FindFirstFile failed for ERROR_FILE_NOT_FOUND(%d)\n", static_cast<int>(error));
      return 0;
    }
    InstallLog(L"FindFirstFile failed (%d)\n", static_cast<int>(error));
    return -1;
  }
  if ((findData.dwReserved0 & kJunctionTagMask) != 0) {
    InstallLog(L"Junction check : Directory is a junction. Abort installation : %d\n", static_cast<int>(GetLastError()));
    return -1;
  }
  return 0;
}

int CheckJunction(unsigned long hInstall) {
  return GuardAction(L"CheckJunction", -1, [] { return RunJunctionCheck(); });
}
