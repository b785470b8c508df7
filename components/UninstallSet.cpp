#include "components/UninstallSet.h"


#include <cstdio>
#include <cwchar>
#include <string>

#include "components/ComponentLoader.h"
#include "frame/FolderGuard.h"
#include "frame/Owners.h"

namespace {

const int kPathChars = 262;
const size_t kCommandLineChars = 4096;
const int kFolderNameAttempts = 5;

const wchar_t kInstallerProgram[] = L"vtnhidin.exe";
const wchar_t kIdentifierManifest[] = L"vtnhidid.xml";
const wchar_t kDefaultProductManifest[] = L"vtnprod.xml";
// The platform products that ship a manifest of their own; any other
// identifier (the proxy's platform core among them) takes the default one.
const struct {
  const wchar_t* productId;
  const wchar_t* manifest;
} kProductManifests[] = {
    {L"{3A7C41E2-5B90-4D18-8E6F-0C2B9A4D7E13}", L"vtnprod_basalt.xml"},
    {L"{8D25F6B1-C4A3-47E9-B0D2-6E1F3C8A5B74}", L"vtnprod_basalt.xml"},
    {L"{1F9E0B37-6A48-4C2D-9E5B-A7D3F2C6081E}", L"vtnprod_orb.xml"},
    {L"{C6B4D820-7E1A-4F93-85C7-2D9B0E4A6F51}", L"vtnprod_pinlet.xml"},
    {L"{5E0A9C73-B12D-4867-A4F0-9C3E7B1D2865}", L"vtnprod_qvm.xml"},
    {L"{E2D7183F-49C6-4B05-9A8E-F16C5D0B3A92}", L"vtnprod_trv.xml"},
};

// Rewritten on every request; one custom action at a time.
const wchar_t* g_uninstallFileSet[4];

// The product's self-protection lets the platform core go: its protection
// components are not part of this package, so there is nothing to ask.
DWORD AuthorizeProductUninstall(const wchar_t* /*productId*/) { return 0; }

DWORD LastErrorOr(DWORD fallback) {
  const DWORD error = GetLastError();
  return error != 0 ? error : fallback;
}

// folder + separator + member + suffix, refused (not cut) when longer than the buffer.
DWORD MemberPath(wchar_t (&path)[kPathChars], LogCallback callback, const wchar_t* folder, const wchar_t* separator,
                 const wchar_t* member, const wchar_t* suffix) {
  const int written = _snwprintf(path, kPathChars, L"%s%s%s%s", folder, separator, member, suffix);
  if (written >= 0 && written < kPathChars) return 0;
  path[0] = L'\0';
  FormatToLogCallback(callback, true, L"Path of uninstall file [%s%s] in [%s] is longer than %d characters", member,
                      suffix, folder, kPathChars - 1);
  return ERROR_BUFFER_OVERFLOW;
}

// From the system's random source, never rand(): every process would draw the same names, and a user who made
// them first would block every removal. 0 to 32767, as before.
bool RandomNamePart(unsigned& part) {
  USHORT random = 0;
  if (!SystemRandom(&random, sizeof(random))) return false;
  part = random & 0x7fffu;
  return true;
}

// The set's folder, held from its making to its deletion, so that what
// SYSTEM runs from it cannot be swapped meanwhile (one action at a time).
OwnFolder g_setFolder;
std::wstring g_setFolderPath;

DWORD CreateTemporaryFolder(const wchar_t* tempPath, wchar_t* folder, DWORD folderChars, LogCallback callback) {
  // The platform's installer runs from here as SYSTEM: nobody else may put a
  // file (or a library) next to it, so only a folder made new is taken.
  for (int attempt = 1;; ++attempt) {
    unsigned part = 0;
    if (!RandomNamePart(part)) {
      FormatToLogCallback(callback, true, L"No random number for the name of the temporary folder");
      return ERROR_GEN_FAILURE;
    }
    _snwprintf(folder, folderChars - 1, L"%svtnzpk%lu%04x", tempPath, GetCurrentProcessId(), part);
    folder[folderChars - 1] = L'\0';
    const std::wstring path = folder;
    g_setFolder = OwnFolder::OfPath(path, OwnFolder::Use::RunFrom);
    if (g_setFolder) {
      g_setFolderPath = path;
      return 0;
    }
    if (attempt == kFolderNameAttempts || g_setFolder.error() != ERROR_ALREADY_EXISTS) break;
  }
  FormatToLogCallback(callback, true, L"Failed to create directory [%s] [%d]", folder, g_setFolder.error());
  return g_setFolder.error();
}

// Copies source into the held folder, as a fresh private file that takes the
// member's name; a failure sets the last error. The source is in the
// platform's folder, which the vendor's installer names in HKLM and only
// administrators can change; the copy is what users could reach.
bool CopyMember(const wchar_t* source, const GuardedFolder& folder, const wchar_t* member) {
  const UniqueFile from(
      CreateFileW(source, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return from && folder.PlaceCopy(from.get(), member, true);
}

DWORD BuildCommandLine(wchar_t (&commandLine)[kCommandLineChars], const wchar_t* folder, const wchar_t* productId,
                       const wchar_t* logPath, const wchar_t* etlPath, const wchar_t* extraArgs, LogCallback callback) {
  std::wstring text = std::wstring(L"\"") + folder + L"\\" + g_uninstallFileSet[0] + L"\" -u -g " + productId;
  if (logPath != nullptr) text = text + L" -l \"" + logPath + L"\"";
  if (etlPath != nullptr) text = text + L" -etl \"" + etlPath + L"\"";
  if (extraArgs != nullptr) text = text + L" " + extraArgs;
  if (text.size() >= kCommandLineChars) {
    FormatToLogCallback(callback, true, L"Command line of the vtnhidin uninstaller is longer than %d characters [%d]",
                        static_cast<int>(kCommandLineChars - 1), static_cast<int>(text.size()));
    return ERROR_BUFFER_OVERFLOW;
  }
  wmemset(commandLine, L'\0', kCommandLineChars);
  wmemcpy(commandLine, text.c_str(), text.size());
  return 0;
}

DWORD RunUninstaller(wchar_t* commandLine, DWORD timeoutMs, DWORD& exitCode, LogCallback callback) {
  FormatToLogCallback(callback, false, L"CreateProcess [%s]", commandLine);
  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof(startup));
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info;
  ZeroMemory(&info, sizeof(info));
  if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                      &info)) {
    const DWORD error = GetLastError();
    FormatToLogCallback(callback, true, L"Failed to create vtnhidin.exe process [%s] [%d]", commandLine, error);
    return error;
  }
  const UniqueKernelHandle process(info.hProcess);
  const UniqueKernelHandle thread(info.hThread);
  const DWORD waited = WaitForSingleObject(process.get(), timeoutMs);
  if (waited == WAIT_OBJECT_0) {
    DWORD code = 0;
    if (GetExitCodeProcess(process.get(), &code)) exitCode = code;
    return 0;
  }
  if (waited == WAIT_TIMEOUT) {
    // Left running: its files stay in use, and so does the temporary folder.
    FormatToLogCallback(callback, true, L"Timed out waiting for vtnhidin uninstaller to complete");
    return ERROR_TIMEOUT;
  }
  if (waited == WAIT_FAILED) {
    const DWORD error = GetLastError();
    FormatToLogCallback(callback, true, L"Wait for vtnhidin uninstaller process failed [%d]", error);
    return error;
  }
  FormatToLogCallback(callback, true, L"Wait for vtnhidin uninstaller process failed with unknown wait result [%d]",
                      waited);
  return ERROR_INVALID_DATA;
}

}  // namespace

const wchar_t* const* GetUninstallFileSet(const wchar_t* productId) {
  const wchar_t* productManifest = kDefaultProductManifest;
  for (const auto& entry : kProductManifests) {
    if (productId != nullptr && _wcsicmp(productId, entry.productId) == 0) productManifest = entry.manifest;
  }
  g_uninstallFileSet[0] = kInstallerProgram;
  g_uninstallFileSet[1] = kIdentifierManifest;
  g_uninstallFileSet[2] = productManifest;
  g_uninstallFileSet[3] = nullptr;
  return g_uninstallFileSet;
}

DWORD FindUninstallFileSet(LogCallback callback, bool& usePre, const wchar_t* const* fileSet) {
  wchar_t source[kPathChars];
  if (!GetBasaltInstallDir(nullptr, source, kPathChars)) {
    const DWORD error = LastErrorOr(ERROR_FILE_NOT_FOUND);
    FormatToLogCallback(callback, true, L"Unable to get basalt destination location [%d]", error);
    return error;
  }
  // A platform update leaves the set it will need under ".pre" names.
  for (const wchar_t* suffix : {L"", L".pre"}) {
    bool complete = true;
    for (const wchar_t* const* member = fileSet; complete && *member != nullptr; ++member) {
      wchar_t path[kPathChars];
      const DWORD refused = MemberPath(path, callback, source, L"", *member, suffix);
      if (refused != 0) return refused;
      complete = GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
    }
    if (complete) {
      usePre = suffix[0] != L'\0';
      return 0;
    }
  }
  FormatToLogCallback(callback, true, L"A complete set of uninstall files cannot be found");
  return ERROR_FILE_NOT_FOUND;
}

DWORD copyZpkInstallSetToTmp(const wchar_t* productId, wchar_t* destFolder, DWORD destChars, LogCallback callback) {
  if (productId == nullptr || destFolder == nullptr || (destFolder[0] == L'\0' && destChars < 260)) {
    FormatToLogCallback(callback, true,
                        L"Invalid parameters passed in to [copyZpkInstallSetToTmp]. You must specify a guid and dest "
                        L"buffer");
    return ERROR_INVALID_PARAMETER;
  }
  const wchar_t* const* fileSet = GetUninstallFileSet(productId);
  bool usePre = false;
  const DWORD found = FindUninstallFileSet(callback, usePre, fileSet);
  if (found != 0) {
    FormatToLogCallback(callback, true, L"Unable to find a suitable set of uninstall files");
    return found;
  }
  wchar_t source[kPathChars];
  if (!GetBasaltInstallDir(nullptr, source, kPathChars)) {
    const DWORD error = LastErrorOr(ERROR_FILE_NOT_FOUND);
    FormatToLogCallback(callback, true, L"Unable to determine basalt install location [%d]", error);
    return error;
  }
  wchar_t tempPath[kPathChars] = {};
  GetTempPathW(kPathChars, tempPath);
  if (destFolder[0] == L'\0') {
    if (!IsDrivePath(tempPath)) {
      FormatToLogCallback(callback, true, L"Temporary path [%s] is not a full drive path", tempPath);
      return ERROR_BAD_PATHNAME;
    }
    const DWORD created = CreateTemporaryFolder(tempPath, destFolder, destChars, callback);
    if (created != 0) return created;
  }
  FormatToLogCallback(callback, false, L"Destination folder is [%s]", destFolder);
  // A folder the caller names is reached the same way, and must exist.
  const bool made = g_setFolder && g_setFolderPath == destFolder;
  const FoundFolder named = made ? FoundFolder() : FoundFolder::OfPath(destFolder, {});
  const GuardedFolder& folder = made ? static_cast<const GuardedFolder&>(g_setFolder) : named;

  for (const wchar_t* const* member = fileSet; *member != nullptr; ++member) {
    wchar_t from[kPathChars];
    wchar_t to[kPathChars];
    DWORD refused = MemberPath(to, callback, destFolder, L"\\", *member, L"");
    if (refused == 0) refused = MemberPath(from, callback, source, L"", *member, usePre ? L".pre" : L"");
    if (refused != 0) return refused;
    if (!CopyMember(from, folder, *member)) {
      const DWORD error = GetLastError();
      FormatToLogCallback(callback, true, L"Failed to copy file [%s] to directory [%s] [%d]", from, to, error);
      return error;
    }
    FormatToLogCallback(callback, false, L"Copied file [%s] to [%s]", from, to);
  }
  return 0;
}

DWORD deleteZpkInstallSetFromTmp(LogCallback callback, const wchar_t* folder, const wchar_t* const* fileSet) {
  // Through the held folder, or one reached without following any link: a
  // link in place of the folder or a member is never followed.
  FoundFolder::Options options;
  options.toRemove = true;
  const bool made = g_setFolder && g_setFolderPath == folder;
  const OwnFolder own = made ? std::move(g_setFolder) : OwnFolder();
  const FoundFolder named = made ? FoundFolder() : FoundFolder::OfPath(folder, options);
  const GuardedFolder& held = made ? static_cast<const GuardedFolder&>(own) : named;
  g_setFolderPath.clear();
  if (!held) {
    FormatToLogCallback(callback, true, L"Failed to delete temporary folder [%s] [%d]", folder, held.error());
    return held.error();
  }
  DWORD failed = 0;
  for (const wchar_t* const* member = fileSet; *member != nullptr; ++member) {
    wchar_t path[kPathChars];
    const DWORD refused = MemberPath(path, callback, folder, L"\\", *member, L"");
    if (refused != 0) {
      failed = refused;
    } else if (!held.RemoveFile(*member)) {
      failed = GetLastError();
      FormatToLogCallback(callback, true, L"Failed to delete temporary file [%s] [%d]", path, failed);
    }
  }
  if (failed != 0) return failed;
  if (!held.RemoveSelf()) {
    const DWORD error = GetLastError();
    FormatToLogCallback(callback, true, L"Failed to delete temporary folder [%s] [%d]", folder, error);
    return error;
  }
  return 0;
}

DWORD uninstallTessel(const wchar_t* productId, DWORD& exitCode, const wchar_t* logPath, const wchar_t* etlPath,
                      DWORD timeoutMs, LogCallback callback, const wchar_t* extraArgs) {
  if (productId == nullptr) return ERROR_INVALID_PARAMETER;
  exitCode = ERROR_INVALID_PARAMETER;
  const DWORD authorised = AuthorizeProductUninstall(productId);
  if (authorised != 0) {
    FormatToLogCallback(callback, true, L"uninstallTessel: Failed to authorize uninstall of product [%s] [%d]",
                        productId, authorised);
    return authorised;
  }
  // A set left behind by a failure is no longer held once this returns.
  const ScopeExit release([] {
    g_setFolder = OwnFolder();
    g_setFolderPath.clear();
  });
  wchar_t folder[kPathChars] = {};
  const DWORD copied = copyZpkInstallSetToTmp(productId, folder, kPathChars, callback);
  if (copied != 0) {
    FormatToLogCallback(callback, true, L"Failed to copy ZPK uninstall file set to temporary folder [%d]", copied);
    return copied;
  }
  wchar_t commandLine[kCommandLineChars];
  DWORD result = BuildCommandLine(commandLine, folder, productId, logPath, etlPath, extraArgs, callback);
  if (result == 0) result = RunUninstaller(commandLine, timeoutMs, exitCode, callback);
  deleteZpkInstallSetFromTmp(callback, folder, GetUninstallFileSet(productId));
  return result;
}
