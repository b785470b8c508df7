// Registration of the product's signed catalogs with the system's catalog
// database at installation, and their removal at uninstallation and rollback.
#pragma once

#include <windows.h>
#include <msi.h>
#include <wincrypt.h>
// The catalog API needs the crypto types first.
#include <mscat.h>

#include <string>

#include "frame/Seam.h"

// Install mode (install non-zero) registers "<InstDir>lyn.cat" under the
// member names "lyn.cat" and "lyn_IntelSha256.cat"; uninstall mode removes
// them, or only the older "orb_64.cat"/"orb_32.cat" of a product before 2.2.
// 1 when the last registration or removal succeeded, 0 otherwise.
int Do_Catalog_Action(MSIHANDLE hInstall, int install);

// 1 when the catalog was added under memberName, 0 otherwise. Both strings
// are cut to 259 characters.
int InstallCatalog(const wchar_t* catalogPath, const wchar_t* memberName);
// Non-zero when the catalog database reported the member removed.
int UninstallCatalog(const wchar_t* memberName);

// Reads the first two of the pieces that separators cut text into as signed
// decimal numbers ("2 . 1", "2rc.0"). False, with major and minor untouched,
// when there are fewer than two pieces or one of them does not start with a
// number that fits in 32 bits.
bool ParseMajorMinor(const std::wstring& text, const std::wstring& separators, int& major, int& minor);

// Wine's catalog database reports every removal as done.
namespace catalog_seams {
extern Seam<BOOL(WINAPI*)(HCATADMIN, LPCWSTR, DWORD)> removeCatalog;
}
