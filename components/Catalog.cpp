#include "components/Catalog.h"

#include <cerrno>
#include <cwchar>
#include <vector>

#include "frame/Log.h"
#include "frame/Owners.h"
#include "frame/Platform.h"
#include "frame/ProductNames.h"
#include "frame/RegistryHelper.h"

namespace catalog_seams {
Seam<BOOL(WINAPI*)(HCATADMIN, LPCWSTR, DWORD)> removeCatalog(&::CryptCATAdminRemoveCatalog);
}

namespace {

const wchar_t kMainCatalog[] = L"lyn.cat";
const wchar_t kSha256Catalog[] = L"lyn_IntelSha256.cat";
const size_t kNameChars = 260;
// DRIVER_ACTION_VERIFY: the subsystem the product's catalogs belong to.
const GUID kCatalogSubsystem = {0xf750e6c3, 0x38ee, 0x11d1, {0x85, 0xe5, 0x00, 0xc0, 0x4f, 0xc2, 0x95, 0xee}};

// The catalog API takes writable strings of at most 259 characters.
struct BoundedName {
  explicit BoundedName(const wchar_t* text) {
    wcsncpy(chars, text != nullptr ? text : L"", kNameChars - 1);
    chars[kNameChars - 1] = L'\0';
  }
  wchar_t chars[kNameChars];
};

// The two logs do not always carry the same words for one event.
void Report(MSIHANDLE hInstall, const wchar_t* installerText, const wchar_t* textLogText) {
  MsiLogInfo(hInstall, installerText);
  InstallLog(textLogText);
}

std::vector<std::wstring> SplitTrimmed(const std::wstring& text, const std::wstring& separators) {
  std::vector<std::wstring> pieces;
  size_t position = 0;
  while (position < text.size()) {
    const size_t separator = text.find_first_of(separators, position);
    std::wstring piece =
        text.substr(position, separator == std::wstring::npos ? std::wstring::npos : separator - position);
    const size_t first = piece.find_first_not_of(L' ');
    piece =
        first == std::wstring::npos ? std::wstring() : piece.substr(first, piece.find_last_not_of(L' ') - first + 1);
    pieces.push_back(piece);
    if (separator == std::wstring::npos) break;
    position = separator + 1;
    // A text ending in a separator ends in an empty piece.
    if (position == text.size()) pieces.emplace_back();
  }
  return pieces;
}

// A leading signed decimal number; anything after it is ignored.
bool ReadNumber(const std::wstring& piece, int& value) {
  const wchar_t* begin = piece.c_str();
  wchar_t* end = nullptr;
  errno = 0;
  const long number = wcstol(begin, &end, 10);  // long is 32 bits on Windows
  if (end == begin || errno == ERANGE) return false;
  value = static_cast<int>(number);
  return true;
}

bool IsBefore2_2(const std::wstring& version, MSIHANDLE hInstall) {
  if (version.empty()) {
    Report(hInstall, L"LYN installed version is NOT found\n", L"LYN installed version is NOT found");
    return false;
  }
  int major = 0;
  int minor = 0;
  if (!ParseMajorMinor(version, L".", major, minor)) {
    Report(hInstall, L"Not able to find Major and Minor versions\n", L"Not able to find Major and Minor versions");
    return false;
  }
  return major < 2 || (major == 2 && minor < 2);
}

int InstallBoth(MSIHANDLE hInstall, const std::wstring& installDir) {
  const std::wstring catalogPath = installDir + kMainCatalog;
  if (InstallCatalog(catalogPath.c_str(), kMainCatalog)) {
    Report(hInstall, L"Successfully installed lyn catalog file\n", L"Successfully installed LYN catalog file\n");
  } else {
    Report(hInstall, L"Installing LYN catalog file failed\n", L"Installing LYN catalog file failed\n");
  }
  // The same file again, under the name the SHA-256 signed builds look for.
  if (InstallCatalog(catalogPath.c_str(), kSha256Catalog)) {
    Report(hInstall, L"Successfully installed lyn_IntelSha256.cat catalog file\n",
           L"Successfully installed lyn_IntelSha256.cat catalog file");
    return 1;
  }
  Report(hInstall, L"Installing lyn_IntelSha256.cat catalog file failed\n",
         L"Installing lyn_IntelSha256.cat catalog file failed\n");
  return 0;
}

int UninstallOld(MSIHANDLE hInstall) {
  // Products before 2.2 registered one catalog named after the platform.
  const bool is64Bit = platform_seams::is64BitWindows() != 0;
  if (is64Bit) {
    Report(hInstall, L"ORB version prior to 2.2 found, using orb_64.cat \n",
           L"ORB version prior to 2.2 found, using orb_64.cat");
  } else {
    Report(hInstall, L"ORB version prior to 2.2 found, using orb_32.cat \n",
           L"ORB version prior to 2.2 found, using orb_32.cat");
  }
  if (UninstallCatalog(is64Bit ? L"orb_64.cat" : L"orb_32.cat")) {
    Report(hInstall, L"Successfully uninstalled LYN catalog file\n", L"Successfully uninstalled LYN catalog file");
    return 1;
  }
  Report(hInstall, L"UnInstalling LYN catalog file failed\n", L"UnInstalling LYN catalog file failed");
  return 0;
}

int UninstallBoth(MSIHANDLE hInstall) {
  if (UninstallCatalog(kMainCatalog)) {
    Report(hInstall, L"Successfully uninstalled LYN catalog file\n", L"Successfully uninstalled LYN catalog file");
  } else {
    Report(hInstall, L"UnInstalling LYN catalog file failed\n", L"UnInstalling LYN catalog file failed");
  }
  if (UninstallCatalog(kSha256Catalog)) {
    Report(hInstall, L"Successfully uninstalled catFileNameForIntelSha256.cat catalog file\n",
           L"Successfully uninstalled catFileNameForIntelSha256.cat catalog file");
    return 1;
  }
  Report(hInstall, L"UnInstalling LYN catFileNameForIntelSha256.cat file failed\n",
         L"UnInstalling LYN catFileNameForIntelSha256.cat file failed");
  return 0;
}

}  // namespace

int InstallCatalog(const wchar_t* catalogPath, const wchar_t* memberName) {
  BoundedName path(catalogPath);
  BoundedName member(memberName);
  UniqueCatalogAdmin admin;
  if (!CryptCATAdminAcquireContext(admin.put(), &kCatalogSubsystem, 0)) return 0;
  const UniqueCatalog catalog({admin.get(), CryptCATAdminAddCatalog(admin.get(), path.chars, member.chars, 0)});
  return catalog.valid() ? 1 : 0;
}

int UninstallCatalog(const wchar_t* memberName) {
  const BoundedName member(memberName);
  UniqueCatalogAdmin admin;
  if (!CryptCATAdminAcquireContext(admin.put(), &kCatalogSubsystem, 0)) return 0;
  return catalog_seams::removeCatalog(admin.get(), member.chars, 0);
}

bool ParseMajorMinor(const std::wstring& text, const std::wstring& separators, int& major, int& minor) {
  try {
    const std::vector<std::wstring> pieces = SplitTrimmed(text, separators);
    int readMajor = 0;
    int readMinor = 0;
    if (pieces.size() < 2 || !ReadNumber(pieces[0], readMajor) || !ReadNumber(pieces[1], readMinor)) return false;
    major = readMajor;
    minor = readMinor;
    return true;
  } catch (...) {
    return false;  // out of memory reads as no version
  }
}

int Do_Catalog_Action(MSIHANDLE hInstall, int install) {
  // Missing, the folder reads as empty and the bare name is tried all the same.
  std::wstring installDir;
  ReadRegistryString(names::kInstDirValue, installDir, 0);
  if (install != 0) return InstallBoth(hInstall, installDir);

  std::wstring version;
  ReadRegistryString(names::kVersionValue, version, 0);
  return IsBefore2_2(version, hInstall) ? UninstallOld(hInstall) : UninstallBoth(hInstall);
}
