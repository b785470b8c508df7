#include "checks/NtApiCompilerSafe.h"

#include <cwchar>

namespace ntapi_seams {
Seam<FARPROC(WINAPI*)(HMODULE, LPCSTR)> getProcAddress(&::GetProcAddress);
}

namespace {

const NTSTATUS kStatusNotImplemented = static_cast<NTSTATUS>(0xC0000002);

// Both are mapped into every process already: they are borrowed, never loaded.
bool IsSystemModule(const wchar_t* name) {
  return name != nullptr && (_wcsicmp(name, L"ntdll.dll") == 0 || _wcsicmp(name, L"kernel32.dll") == 0);
}

class LockScope {
 public:
  explicit LockScope(CRITICAL_SECTION& lock) : m_lock(lock) { EnterCriticalSection(&m_lock); }
  ~LockScope() { LeaveCriticalSection(&m_lock); }
  LockScope(const LockScope&) = delete;
  LockScope& operator=(const LockScope&) = delete;

 private:
  CRITICAL_SECTION& m_lock;
};

}  // namespace

DynamicDllBaseVersioned::DynamicDllBaseVersioned(const wchar_t* moduleName, bool ownsModule)
    : m_hModule(nullptr),
      m_moduleName(moduleName),
      m_lastFailedFunction(""),
      m_lastError(0),
      m_ownsModule(ownsModule) {
  InitializeCriticalSection(&m_lock);
}

DynamicDllBaseVersioned::~DynamicDllBaseVersioned() {
  UnloadModule();
  DeleteCriticalSection(&m_lock);
}

bool DynamicDllBaseVersioned::EnsureLoaded(const wchar_t* newModuleName) {
  LockScope scope(m_lock);
  if (newModuleName != nullptr) {
    ClearAll();
    UnloadModule();
    m_moduleName = newModuleName;
  }
  bool result;
  if (m_hModule != nullptr) {
    result = true;
  } else {
    LoadModule();
    if (m_hModule == nullptr) {
      m_lastError = GetLastError();
      result = false;
    } else {
      result = ResolveAll();
    }
  }
  if (!result) {
    ClearAll();
    UnloadModule();
  }
  return result;
}

void DynamicDllBaseVersioned::LoadModule() {
  if (IsSystemModule(m_moduleName)) {
    const DWORD flags = m_ownsModule ? 0 : GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    if (!GetModuleHandleExW(flags, m_moduleName, &m_hModule)) {
      m_hModule = nullptr;
    } else if (m_ownsModule) {
      m_reference.reset(m_hModule);
    }
    return;
  }
  // No other module is needed by this library: refuse rather than load
  // something from disk by a bare name.
  SetLastError(ERROR_NOT_SUPPORTED);
}

void DynamicDllBaseVersioned::UnloadModule() {
  if (m_hModule != nullptr && m_ownsModule) {
    m_reference.reset();
    m_hModule = nullptr;
  }
}

bool DynamicDllBaseVersioned::ResolveFunction(const char* name, void** slot) {
  if (name == nullptr || slot == nullptr) return false;
  if (m_hModule == nullptr) {
    {
      LockScope scope(m_lock);
      if (m_hModule == nullptr && m_moduleName != nullptr) LoadModule();
    }
    if (m_hModule == nullptr) {
      m_lastError = GetLastError();
      return false;
    }
  }
  FARPROC address = ntapi_seams::getProcAddress(m_hModule, name);
  *slot = reinterpret_cast<void*>(address);
  if (address != nullptr) return true;
  m_lastError = GetLastError();
  m_lastFailedFunction = name;
  return false;
}

NtApiCompilerSafe::NtApiCompilerSafe() : DynamicDllBaseVersioned(L"ntdll.dll", false) { ClearAll(); }

NtApiCompilerSafe::~NtApiCompilerSafe() = default;

bool NtApiCompilerSafe::ResolveAll() {
  const struct {
    const char* name;
    void** slot;
  } functions[] = {
      {"NtCreateFile", reinterpret_cast<void**>(&m_pNtCreateFile)},
      {"NtQueryInformationFile", reinterpret_cast<void**>(&m_pNtQueryInformationFile)},
      {"NtSetInformationFile", reinterpret_cast<void**>(&m_pNtSetInformationFile)},
      {"RtlInitUnicodeString", reinterpret_cast<void**>(&m_pRtlInitUnicodeString)},
      {"RtlFreeUnicodeString", reinterpret_cast<void**>(&m_pRtlFreeUnicodeString)},
      {"RtlNtStatusToDosError", reinterpret_cast<void**>(&m_pRtlNtStatusToDosError)},
      {"RtlDosPathNameToNtPathName_U", reinterpret_cast<void**>(&m_pRtlDosPathNameToNtPathName_U)},
      {"RtlGetVersion", reinterpret_cast<void**>(&m_pRtlGetVersion)},
      {"NtReadFile", reinterpret_cast<void**>(&m_pNtReadFile)},
      {"NtQueryDirectoryFile", reinterpret_cast<void**>(&m_pNtQueryDirectoryFile)},
      {"RtlCompareUnicodeString", reinterpret_cast<void**>(&m_pRtlCompareUnicodeString)},
      {"RtlUpcaseUnicodeString", reinterpret_cast<void**>(&m_pRtlUpcaseUnicodeString)},
      {"RtlUpcaseUnicodeChar", reinterpret_cast<void**>(&m_pRtlUpcaseUnicodeChar)},
      {"NtFsControlFile", reinterpret_cast<void**>(&m_pNtFsControlFile)},
      {"NtSetEaFile", reinterpret_cast<void**>(&m_pNtSetEaFile)},
      {"NtQueryEaFile", reinterpret_cast<void**>(&m_pNtQueryEaFile)},
      {"RtlGUIDFromString", reinterpret_cast<void**>(&m_pRtlGUIDFromString)},
      {"RtlStringFromGUID", reinterpret_cast<void**>(&m_pRtlStringFromGUID)},
  };
  for (const auto& function : functions) {
    if (!ResolveFunction(function.name, function.slot)) {
      // A partial set is no set: callers see the not-implemented codes instead.
      ClearAll();
      return false;
    }
  }
  return true;
}

void NtApiCompilerSafe::ClearAll() {
  m_pNtCreateFile = nullptr;
  m_pNtQueryInformationFile = nullptr;
  m_pNtSetInformationFile = nullptr;
  m_pRtlInitUnicodeString = nullptr;
  m_pRtlFreeUnicodeString = nullptr;
  m_pRtlNtStatusToDosError = nullptr;
  m_pRtlDosPathNameToNtPathName_U = nullptr;
  m_pRtlGetVersion = nullptr;
  m_pNtReadFile = nullptr;
  m_pNtQueryDirectoryFile = nullptr;
  m_pRtlCompareUnicodeString = nullptr;
  m_pRtlUpcaseUnicodeString = nullptr;
  m_pRtlUpcaseUnicodeChar = nullptr;
  m_pNtFsControlFile = nullptr;
  m_pNtSetEaFile = nullptr;
  m_pNtQueryEaFile = nullptr;
  m_pRtlGUIDFromString = nullptr;
  m_pRtlStringFromGUID = nullptr;
}

NTSTATUS NtApiCompilerSafe::NtQueryInformationFile(HANDLE file, PIO_STATUS_BLOCK ioStatus, PVOID buffer,
                                                   ULONG length, FILE_INFORMATION_CLASS infoClass) {
  if (m_pNtQueryInformationFile == nullptr) return kStatusNotImplemented;
  return m_pNtQueryInformationFile(file, ioStatus, buffer, length, infoClass);
}

ULONG NtApiCompilerSafe::RtlNtStatusToDosError(NTSTATUS status) {
  if (m_pRtlNtStatusToDosError == nullptr) return ERROR_CALL_NOT_IMPLEMENTED;
  return m_pRtlNtStatusToDosError(status);
}
