// Loads a vendor component library only once its Authenticode signature has
// been checked, and obtains an interface from its one export,
// "NotComDllGetInterface". Diagnostics go to the debugger output only.
#pragma once

#include <windows.h>
#include <wintrust.h>

#include <cstddef>
#include <memory>

#include "frame/Owners.h"
#include "frame/Seam.h"

// The component's export: narrow interface name, address of the interface pointer; 0 on success.
typedef DWORD (*NotComDllGetInterfaceFn)(const char* interfaceName, void** interfaceOut);

// Finds libraryName (a bare name: in the platform folder, else the current
// directory, then the folder of exeDirModule, null meaning the executable;
// a path: only there), verifies its signature, loads it, asks it for the
// interface and releases it again. 0 with *interfaceOut set, or a Windows
// error code, a verification result or the component's own answer.
DWORD NCGetDllInterface(const wchar_t* libraryName, const char* interfaceName, void** interfaceOut,
                        HMODULE exeDirModule);

// A wide-character buffer that knows its size; empty when nothing is held.
class PathBuffer {
 public:
  bool Allocate(size_t chars);  // false when out of memory; the old content is dropped either way
  void Free() { Allocate(0); }
  wchar_t* get() const { return m_chars.get(); }
  size_t size() const { return m_size; }
  bool held() const { return m_size != 0; }

 private:
  std::unique_ptr<wchar_t[]> m_chars;
  size_t m_size = 0;
};

struct DllLoadRequest {
  const wchar_t* name = nullptr;   // not owned
  size_t nameLength = 0;           // in characters
  HMODULE exeDirModule = nullptr;  // whose folder is the last place looked in
  PathBuffer path;                 // where the library was found
  UniqueModule module;             // the loaded library, on success
};

// Locates, verifies and loads request->name. 0 with path and module set;
// otherwise the code, with no path held and nothing loaded.
DWORD NCPrivateLoadAndValidateZPKDll(DllLoadRequest* request);

// The platform's folder from "szInstallDir64" (32-bit view) with a backslash
// and, when given, fileName behind it. On false the last error tells why:
// 111 when the backslash or the name did not fit behind the folder.
bool GetBasaltInstallDir(const wchar_t* fileName, wchar_t* buffer, size_t bufferChars);

// One signature check of one file. The verification state it opens is closed
// again by the destructor.
class TrustVerifier {
 public:
  explicit TrustVerifier(const wchar_t* path) noexcept;
  ~TrustVerifier();
  TrustVerifier(const TrustVerifier&) = delete;
  TrustVerifier& operator=(const TrustVerifier&) = delete;
  // The answer of WinVerifyTrust, 0 when trusted; asked once.
  DWORD Verify();

 private:
  bool m_verified = false;
  DWORD m_result = 0;
  WINTRUST_FILE_INFO m_fileInfo;
  WINTRUST_DATA m_trustData;
  const wchar_t* m_path;
};

// The full file name and the folder of a module (null: the executable),
// found on first use and kept.
class ModuleLocation {
 public:
  explicit ModuleLocation(HMODULE module) : m_module(module) {}
  // Null when it cannot be had; error then holds the reason (0 for a name without a folder).
  const wchar_t* FullFileName(DWORD& error);
  const wchar_t* Folder(DWORD& error);
  size_t FolderLength() const { return m_folderLength; }

 private:
  HMODULE m_module;
  PathBuffer m_fullName;
  size_t m_fullNameLength = 0;
  PathBuffer m_folder;
  size_t m_folderLength = 0;
};

// Wine trusts an expired or untrusted signer and cannot fail a revocation
// check: tests choose those answers here.
namespace loader_seams {
extern Seam<LONG(WINAPI*)(HWND, GUID*, LPVOID)> winVerifyTrust;
}
