#include "components/ComponentLoader.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <new>

#include "frame/ProductNames.h"
#include "frame/VendorCall.h"

namespace loader_seams {
Seam<LONG(WINAPI*)(HWND, GUID*, LPVOID)> winVerifyTrust(&::WinVerifyTrust);
}

namespace {

const size_t kMaxNameChars = 32768;
const size_t kMinPathChars = 261;
const DWORD kFileError = 0x80092003;  // CRYPT_E_FILE_ERROR: the file could not be read
// WINTRUST_ACTION_GENERIC_VERIFY_V2
const GUID kVerifyAction = {0x00aac56b, 0xcd44, 0x11d0, {0x8c, 0xc2, 0x00, 0xc0, 0x4f, 0xc2, 0x95, 0xee}};
// The structure without the signature settings that newer systems append.
const DWORD kTrustDataSize = 80;
static_assert(sizeof(WINTRUST_DATA) >= kTrustDataSize, "WINTRUST_DATA is the form with dwUIContext last");

void DebugLine(const wchar_t* format, ...) {
  wchar_t line[1024];
  va_list args;
  va_start(args, format);
  _vsnwprintf(line, 1023, format, args);
  va_end(args);
  line[1023] = L'\0';
  OutputDebugStringW(line);
}

// Expired or unrevocable signers and locked-down security settings do not
// keep the platform's own components from loading.
bool Accepted(DWORD result) {
  return result == 0 || result == 0x80092026 /* CRYPT_E_SECURITY_SETTINGS */ ||
         result == 0x800B0101 /* CERT_E_EXPIRED */ || result == 0x800B010E /* CERT_E_REVOCATION_FAILURE */;
}

DWORD VerifyFile(const wchar_t* path) {
  TrustVerifier verifier(path);
  return verifier.Verify();
}

// folder + "\" + name into path; false when it does not fit.
bool JoinPath(PathBuffer& path, const wchar_t* folder, const wchar_t* name) {
  const int written = _snwprintf(path.get(), path.size(), L"%ls\\%ls", folder, name);
  return written >= 0 && static_cast<size_t>(written) < path.size();
}

bool Append(wchar_t* buffer, size_t bufferChars, const wchar_t* text) {
  const size_t length = wcslen(buffer);
  const size_t added = wcslen(text);
  if (length + added + 1 > bufferChars) return false;
  wmemcpy(buffer + length, text, added + 1);
  return true;
}

DWORD ReadBasaltInstallDir(const wchar_t* fileName, wchar_t* buffer, size_t bufferChars) {
  if (buffer == nullptr || bufferChars == 0) return ERROR_INVALID_PARAMETER;
  UniqueRegKey key;
  LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, names::kBasaltKey, 0, KEY_READ | KEY_WOW64_32KEY, key.put());
  if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
  DWORD bytes = static_cast<DWORD>(std::min<size_t>(bufferChars, kMaxNameChars) * sizeof(wchar_t));
  status =
      RegQueryValueExW(key.get(), names::kBasaltFolderValue, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &bytes);
  if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
  // A stored string need not end in a terminator.
  const size_t length = wcsnlen(buffer, bytes / sizeof(wchar_t));
  if (length >= bufferChars) return ERROR_BUFFER_OVERFLOW;
  buffer[length] = L'\0';
  if (!Append(buffer, bufferChars, L"\\")) return ERROR_BUFFER_OVERFLOW;
  if (fileName != nullptr && !Append(buffer, bufferChars, fileName)) return ERROR_BUFFER_OVERFLOW;
  return 0;
}

DWORD VerifyInCurrentDirectory(DllLoadRequest& request) {
  DebugLine(L"NCPrivateLoadAndValidateZPKDll: Looking in current directory\n");
  const DWORD needed = GetCurrentDirectoryW(0, nullptr);  // with the terminator
  if (needed == 0) return GetLastError();
  PathBuffer directory;
  if (!directory.Allocate(needed)) return ERROR_OUTOFMEMORY;
  const DWORD length = GetCurrentDirectoryW(needed, directory.get());
  if (length == 0) return GetLastError();
  if (length >= needed) return ERROR_BUFFER_OVERFLOW;  // it changed meanwhile
  if (!request.path.Allocate(length + request.nameLength + 2)) return ERROR_OUTOFMEMORY;
  if (!JoinPath(request.path, directory.get(), request.name)) return ERROR_BUFFER_OVERFLOW;
  return VerifyFile(request.path.get());
}

DWORD VerifyInExeFolder(DllLoadRequest& request, ModuleLocation& exe, DWORD earlierResult) {
  DebugLine(L"NCPrivateLoadAndValidateZPKDll: Looking in EXE directory\n");
  DWORD error = 0;
  const wchar_t* folder = exe.Folder(error);
  if (folder == nullptr) return earlierResult;
  const size_t needed = exe.FolderLength() + request.nameLength + 2;
  if (request.path.size() < needed && !request.path.Allocate(needed)) return ERROR_OUTOFMEMORY;
  if (!JoinPath(request.path, folder, request.name)) return ERROR_BUFFER_OVERFLOW;
  return VerifyFile(request.path.get());
}

}  // namespace

bool PathBuffer::Allocate(size_t chars) {
  m_chars.reset(chars != 0 ? new (std::nothrow) wchar_t[chars] : nullptr);
  m_size = m_chars ? chars : 0;
  if (m_chars) m_chars[0] = L'\0';
  return chars == 0 || m_chars != nullptr;
}

bool GetBasaltInstallDir(const wchar_t* fileName, wchar_t* buffer, size_t bufferChars) {
  // Set once the key is closed again, so nothing in between overwrites it.
  const DWORD error = ReadBasaltInstallDir(fileName, buffer, bufferChars);
  if (error != 0) SetLastError(error);
  return error == 0;
}

TrustVerifier::TrustVerifier(const wchar_t* path) noexcept : m_path(path) {
  ZeroMemory(&m_fileInfo, sizeof(m_fileInfo));
  ZeroMemory(&m_trustData, sizeof(m_trustData));
}

DWORD TrustVerifier::Verify() {
  if (m_verified) return m_result;
  m_fileInfo.cbStruct = sizeof(m_fileInfo);
  m_fileInfo.pcwszFilePath = m_path;
  m_trustData.cbStruct = kTrustDataSize;
  m_trustData.dwUIChoice = WTD_UI_NONE;
  m_trustData.fdwRevocationChecks = WTD_REVOKE_NONE;
  m_trustData.dwUnionChoice = WTD_CHOICE_FILE;
  m_trustData.pFile = &m_fileInfo;
  m_trustData.dwStateAction = WTD_STATEACTION_VERIFY;
  m_trustData.dwProvFlags = WTD_REVOCATION_CHECK_NONE | WTD_CACHE_ONLY_URL_RETRIEVAL;
  GUID action = kVerifyAction;
  // No interactive user: never ask.
  m_result =
      static_cast<DWORD>(loader_seams::winVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &m_trustData));
  m_verified = true;
  return m_result;
}

TrustVerifier::~TrustVerifier() {
  if (!m_verified) return;
  m_trustData.dwStateAction = WTD_STATEACTION_CLOSE;
  GUID action = kVerifyAction;
  loader_seams::winVerifyTrust(nullptr, &action, &m_trustData);
}

const wchar_t* ModuleLocation::FullFileName(DWORD& error) {
  if (m_fullName.held()) return m_fullName.get();
  for (size_t size = MAX_PATH; size <= 2 * kMaxNameChars; size *= 2) {
    if (!m_fullName.Allocate(size)) {
      error = ERROR_OUTOFMEMORY;
      return nullptr;
    }
    const DWORD length = GetModuleFileNameW(m_module, m_fullName.get(), static_cast<DWORD>(size));
    if (length == 0) {
      error = GetLastError();
      m_fullName.Free();
      return nullptr;
    }
    if (length < size || GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
      m_fullNameLength = length;
      return m_fullName.get();
    }
  }
  m_fullName.Free();
  error = ERROR_INSUFFICIENT_BUFFER;
  return nullptr;
}

const wchar_t* ModuleLocation::Folder(DWORD& error) {
  if (m_folder.held()) return m_folder.get();
  const wchar_t* fullName = FullFileName(error);
  if (fullName == nullptr) return nullptr;
  const wchar_t* lastBackslash = wcsrchr(fullName, L'\\');
  if (lastBackslash == nullptr) {
    error = 0;
    return nullptr;
  }
  const size_t length = static_cast<size_t>(lastBackslash - fullName);
  if (!m_folder.Allocate(length + 1)) {
    error = ERROR_INTERNAL_ERROR;
    return nullptr;
  }
  wmemcpy(m_folder.get(), fullName, length);
  m_folder.get()[length] = L'\0';
  m_folderLength = length;
  return m_folder.get();
}

DWORD NCPrivateLoadAndValidateZPKDll(DllLoadRequest* request) {
  if (request == nullptr) return ERROR_INVALID_PARAMETER;
  request->path.Free();
  const wchar_t* name = request->name;
  const size_t nameLength = request->nameLength;
  if (name == nullptr || nameLength == 0 || nameLength > kMaxNameChars) return ERROR_INVALID_PARAMETER;
  if (!request->path.Allocate(std::max(nameLength + 1, kMinPathChars))) return ERROR_OUTOFMEMORY;

  // Anything that is not a plain file name is taken as the one place to look.
  const bool bareName = nameLength > 2 && name[0] != L'\\' && name[1] != L':';
  DWORD result = ERROR_FILE_NOT_FOUND;
  if (!bareName) {
    wmemcpy(request->path.get(), name, nameLength);
    request->path.get()[nameLength] = L'\0';
    result = VerifyFile(request->path.get());
  } else if (GetBasaltInstallDir(name, request->path.get(), request->path.size())) {
    result = VerifyFile(request->path.get());
  } else {
    // A platform folder too long for the name is not a reason to trust the current directory.
    const bool platformFolderTooLong = GetLastError() == ERROR_BUFFER_OVERFLOW;
    request->path.Free();
    if (!platformFolderTooLong) result = VerifyInCurrentDirectory(*request);
  }

  ModuleLocation exe(request->exeDirModule);
  if (bareName && (result == ERROR_FILE_NOT_FOUND || result == kFileError)) {
    result = VerifyInExeFolder(*request, exe, result);
  }
  if (!Accepted(result)) {
    DWORD error = 0;
    if (const wchar_t* exeName = exe.FullFileName(error)) {
      DebugLine(L"NotComDllGetInterface: %ls loading %ls, WinVerifyTrust failed with %08x\n", exeName,
                request->path.held() ? request->path.get() : name, result);
    }
    request->path.Free();
    return result;
  }

  if (!request->path.held()) return ERROR_INTERNAL_ERROR;
  request->module.reset(LoadVendorLibrary(request->path.get()));
  if (!request->module) {
    const DWORD error = GetLastError();
    request->path.Free();
    return error;
  }
  return 0;
}

DWORD NCGetDllInterface(const wchar_t* libraryName, const char* interfaceName, void** interfaceOut,
                        HMODULE exeDirModule) {
  if (interfaceOut == nullptr) return ERROR_INVALID_PARAMETER;
  DllLoadRequest request;
  request.name = libraryName;
  request.exeDirModule = exeDirModule;
  if (libraryName != nullptr) {
    request.nameLength = wcsnlen(libraryName, kMaxNameChars);
    if (request.nameLength == kMaxNameChars) return ERROR_INVALID_PARAMETER;  // no terminator within the limit
  }
  const DWORD loaded = NCPrivateLoadAndValidateZPKDll(&request);
  if (loaded != 0) return loaded;

  *interfaceOut = nullptr;
  if (!request.module) {
    const DWORD error = GetLastError();
    return error != 0 ? error : ERROR_FILE_NOT_FOUND;
  }
  const auto getInterface = reinterpret_cast<NotComDllGetInterfaceFn>(
      reinterpret_cast<void*>(GetProcAddress(request.module.get(), "NotComDllGetInterface")));
  DWORD result = kVendorCrashed;  // the answer of a component that crashed
  void* answer = nullptr;          // handed on only once the call has returned
  if (getInterface == nullptr) {
    result = GetLastError();
  } else if (CallVendor(request.path.get(), L"NotComDllGetInterface",
                        [&] { result = getInterface(interfaceName, &answer); })) {
    *interfaceOut = answer;
  }
  // The component keeps itself loaded for as long as the interfaces it handed out live.
  request.module.reset();
  return result;
}
