#include "checks/CaseSensitivity.h"

#include <winternl.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "checks/NtApiCompilerSafe.h"
#include "frame/Exports.h"
#include "frame/Guard.h"
#include "frame/Log.h"
#include "frame/Owners.h"
#include "frame/ProductNames.h"

namespace case_sensitivity_seams {
Seam<HANDLE(WINAPI*)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)> createFile(&::CreateFileW);
Seam<NtApiCompilerSafe*> nativeApi(&g_ntApiCompilerSafe);
}

namespace {

// Not in the toolchain's headers: the answer of information class 71.
struct FILE_CASE_SENSITIVE_INFORMATION {
  ULONG Flags;
};
const ULONG FILE_CS_FLAG_CASE_SENSITIVE_DIR = 0x00000001;
const FILE_INFORMATION_CLASS kFileCaseSensitiveInformation = static_cast<FILE_INFORMATION_CLASS>(71);
const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

const wchar_t kEnabledAborting[] =
    L"InstallCheckCaseSentivity : Case Sensitivity is enabled for folder %s hence aborting the installation";

struct CheckedDirectory {
  const wchar_t* path;
  const wchar_t* message;  // logged when the directory is case-sensitive
};

// Queried in this order; the first case-sensitive one ends the check.
const CheckedDirectory kDirectories[] = {
    {names::kProgramData, kEnabledAborting},
    {names::kProgramFilesMaker, kEnabledAborting},
    {names::kProgramDataMaker, kEnabledAborting},
    {names::kProgramDataLyn,
     L"InstallCheckCaseSentivity : Case Sensitivity is for folder %s hence aborting the installation "},
    {names::kProgramFilesLyn, L"InstallCheckCaseSentivity : Case Sensitivity is enabled for folder %s"},
    {names::kPolicyTempFolder, kEnabledAborting},
    {names::kPolicyFolder, kEnabledAborting},
    {names::kLogsFolder, kEnabledAborting},
    {names::kLangFolder, kEnabledAborting},
    {names::kX64Folder, kEnabledAborting},
    {names::kX86Folder, kEnabledAborting},
    {names::kX64X64Folder, kEnabledAborting},
    {names::kX64X86Folder, kEnabledAborting},
    {names::kX86X86Folder, kEnabledAborting},
    {names::kX86X64Folder, kEnabledAborting},
};

const int kVersionFields = 3;  // major.minor.build; anything after is ignored

int RunCaseSensitivityCheck() {
  InstallLog(L"InstallCheckCaseSentivity : In Case Sensitivity check function");
  bool supported = false;
  // Only the version steps are guarded: a version field that is not a number
  // means we cannot tell, and the installation must not go on.
  try {
    const std::wstring output = ExeCuteCommand();
    if (output.empty()) {
      InstallLog(L"InstallCheckCaseSentivity : Unable to get Version number, will abort the installation.");
      return -1;
    }
    supported = IsCaseSensitivitySupportedByOs(output);
    InstallLog(L"InstallCheckCaseSentivity : In Case Sensitivity check function OsVersion %ls", output.c_str());
  } catch (const std::exception& e) {
    InstallLog(L"Exception occured getting the OsName,will abort the installation %s", e.what());
    return -1;
  }

  if (supported) {
    for (const CheckedDirectory& directory : kDirectories) {
      unsigned char caseSensitive = 0;
      const DWORD result = GetDirectoryCaseSensitivity(directory.path, caseSensitive);
      if (result == ERROR_SUCCESS) {
        if (caseSensitive != 0) {
          InstallLog(directory.message, directory.path);
          return -1;
        }
      } else if (result == ERROR_INVALID_PARAMETER) {
        // Not there yet (first installation), not a directory, or a file
        // system without the attribute: nothing to refuse.
        InstallLog(L"InstallCheckCaseSentivity : Case Sensitivity Check failed with Because Path does not Exist %s",
                   directory.path);
      } else {
        InstallLog(L"InstallCheckCaseSentivity : Case Sensitivity Check failed with Error %d", result);
        return -1;
      }
    }
  } else {
    InstallLog(L"InstallCheckCaseSentivity : Case Sensitivity is Not Supported By OS ");
  }
  InstallLog(L"InstallCheckCaseSentivity : Case Sensitivity is Not Enabled ");
  return 0;
}

}  // namespace

std::vector<std::wstring> SplitString(const std::wstring& text, wchar_t separator) {
  std::vector<std::wstring> pieces;
  size_t start = 0;
  for (size_t found = text.find(separator); found != std::wstring::npos; found = text.find(separator, start)) {
    pieces.push_back(text.substr(start, found - start));
    start = found + 1;
  }
  pieces.push_back(text.substr(start));
  return pieces;
}

std::wstring ExeCuteCommand() {
  InstallLog(L"InstallCheckCaseSentivity : In Command Execute Function");
  FILE* pipe = _wpopen(L"ver", L"r");
  if (pipe == nullptr) {
    InstallLog(L"InstallCheckCaseSentivity : In ExeCuteCommand function popen failed");
    return std::wstring();
  }
  std::wstring output;
  wchar_t buffer[200];
  while (!feof(pipe)) {
    if (fgetws(buffer, 200, pipe) != nullptr) {
      output += buffer;
    } else if (ferror(pipe)) {
      break;  // a broken pipe never reaches its end: keep what was read
    }
  }
  _pclose(pipe);  // the interpreter's exit status says nothing about the version text
  InstallLog(L"InstallCheckCaseSentivity : In ExeCuteCommand function popen output = %ls", output.c_str());
  return output;
}

bool IsCaseSensitivitySupportedByOs(std::wstring commandOutput) {
  // "Microsoft Windows [Version 10.0.19045.3803]"
  const std::vector<std::wstring> bracketPieces = SplitString(commandOutput, L'[');
  if (bracketPieces.size() < 2) {
    InstallLog(L"InstallCheckCaseSentivity : Error extracting version number");
    return false;
  }
  const std::vector<std::wstring> words = SplitString(bracketPieces[1], L' ');
  if (words.size() < 2) {
    InstallLog(L"InstallCheckCaseSentivity : Error extracting version number");
    return false;
  }
  std::wstring currentVersion = words[1];
  const size_t closing = currentVersion.rfind(L']');
  if (closing != std::wstring::npos) currentVersion.erase(closing);

  InstallLog(L"InstallCheckCaseSentivity :currentVersion: %ls Windows_10_RS4_Version: %ls ", currentVersion.c_str(),
             win10rs4Version.c_str());
  if (IsVersionAtLeast(currentVersion)) {
    InstallLog(L"InstallCheckCaseSentivity : Os Version Above 10RS4 CaseSenstivity Has to be Checked");
    return true;
  }
  return false;
}

bool IsVersionAtLeast(const std::wstring& currentVersion) {
  const std::vector<std::wstring> threshold = SplitString(win10rs4Version, L'.');
  const std::vector<std::wstring> current = SplitString(currentVersion, L'.');
  if (threshold.size() < kVersionFields || current.size() < kVersionFields) {
    InstallLog(
        L"InstallCheckCaseSentivity : Error extracting version number, expecting maj.min.build win10rs4Version = "
        L"%ls, currentVersion = %ls",
        win10rs4Version.c_str(), currentVersion.c_str());
    return false;
  }
  // std::stoi throws for a field without leading digits or out of range.
  const int thresholdMajor = std::stoi(threshold[0], nullptr, 10);
  const int thresholdMinor = std::stoi(threshold[1], nullptr, 10);
  const int thresholdBuild = std::stoi(threshold[2], nullptr, 10);
  const int currentMajor = std::stoi(current[0], nullptr, 10);
  const int currentMinor = std::stoi(current[1], nullptr, 10);
  const int currentBuild = std::stoi(current[2], nullptr, 10);

  if (currentMajor > thresholdMajor) return true;
  if (currentMajor == thresholdMajor && currentMinor > thresholdMinor) return true;
  return currentMajor == thresholdMajor && currentMinor == thresholdMinor && currentBuild >= thresholdBuild;
}

DWORD GetDirectoryCaseSensitivity(const std::wstring& path, unsigned char& caseSensitive) {
  caseSensitive = 0;
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    InstallLog(L"InstallCheckCaseSentivity : In Case Sensitivity ERROR_INVALID_PARAMETER ");
    return ERROR_INVALID_PARAMETER;
  }
  InstallLog(L"InstallCheckCaseSentivity : In Case Sensitivity Check without checking Os Support");

  NtApiCompilerSafe* nativeApi = case_sensitivity_seams::nativeApi.get();
  if (!nativeApi->EnsureLoaded()) {
    InstallLog(L"InstallCheckCaseSentivity : In Case Sensitivity ERROR_INTERNAL_ERROR ");
    return ERROR_INTERNAL_ERROR;
  }

  const UniqueFile directory(case_sensitivity_seams::createFile(path.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                                                FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!directory) {
    const DWORD error = GetLastError();
    InstallLog(L"InstallCheckCaseSentivity : In Case Sensitivity  Did not get proper handle");
    return error;
  }

  IO_STATUS_BLOCK ioStatus = {};
  FILE_CASE_SENSITIVE_INFORMATION information = {};
  const NTSTATUS status = nativeApi->NtQueryInformationFile(directory.get(), &ioStatus, &information, sizeof(information),
                                                            kFileCaseSensitiveInformation);
  DWORD result = ERROR_SUCCESS;
  if (status < 0) {
    result = nativeApi->RtlNtStatusToDosError(status);
  } else {
    caseSensitive = static_cast<unsigned char>(information.Flags & FILE_CS_FLAG_CASE_SENSITIVE_DIR);
  }
  return result;
}

int CheckCaseSentivity(unsigned long hInstall) {
  return GuardAction(L"CheckCaseSentivity", -1, [] { return RunCaseSensitivityCheck(); });
}
