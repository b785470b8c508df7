// Run-time access to native functions of ntdll.dll that the library does not
// import. The functions are looked up by name on first use, and each call
// wrapper answers a not-implemented code instead of calling through a null
// pointer, so a system without one of them never crashes a custom action.
#pragma once

#include <windows.h>
#include <winternl.h>

#include "frame/Owners.h"
#include "frame/Seam.h"

// Module handle, lock and name-based lookup; the function list lives in the
// derived class.
class DynamicDllBaseVersioned {
 public:
  DynamicDllBaseVersioned(const wchar_t* moduleName, bool ownsModule);
  virtual ~DynamicDllBaseVersioned();
  DynamicDllBaseVersioned(const DynamicDllBaseVersioned&) = delete;
  DynamicDllBaseVersioned& operator=(const DynamicDllBaseVersioned&) = delete;

  // True when the module is held and, when this call did the load, every
  // function resolved. A new module name drops what was resolved before.
  bool EnsureLoaded(const wchar_t* newModuleName = nullptr);

  HMODULE ModuleHandle() const { return m_hModule; }
  const wchar_t* ModuleName() const { return m_moduleName; }
  const char* LastFailedFunction() const { return m_lastFailedFunction; }
  DWORD LastError() const { return m_lastError; }

 protected:
  // Only ntdll.dll and kernel32.dll are served, both borrowed from the
  // process; any other name leaves the handle null.
  void LoadModule();
  void UnloadModule();
  bool ResolveFunction(const char* name, void** slot);

  virtual bool ResolveAll() = 0;
  virtual void ClearAll() = 0;

 private:
  HMODULE m_hModule;  // borrowed, or held through m_reference
  UniqueModule m_reference;
  const wchar_t* m_moduleName;
  const char* m_lastFailedFunction;
  DWORD m_lastError;
  bool m_ownsModule;
  CRITICAL_SECTION m_lock;
};

class NtApiCompilerSafe : public DynamicDllBaseVersioned {
 public:
  typedef NTSTATUS(NTAPI* NtCreateFileFn)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                          PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
  typedef NTSTATUS(NTAPI* NtQueryInformationFileFn)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG,
                                                    FILE_INFORMATION_CLASS);
  typedef NTSTATUS(NTAPI* NtSetInformationFileFn)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);
  typedef VOID(NTAPI* RtlInitUnicodeStringFn)(PUNICODE_STRING, PCWSTR);
  typedef VOID(NTAPI* RtlFreeUnicodeStringFn)(PUNICODE_STRING);
  typedef ULONG(NTAPI* RtlNtStatusToDosErrorFn)(NTSTATUS);
  typedef BOOLEAN(NTAPI* RtlDosPathNameToNtPathName_UFn)(PCWSTR, PUNICODE_STRING, PWSTR*, PVOID);
  typedef NTSTATUS(NTAPI* RtlGetVersionFn)(PRTL_OSVERSIONINFOW);
  typedef NTSTATUS(NTAPI* NtReadFileFn)(HANDLE, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG,
                                        PLARGE_INTEGER, PULONG);
  typedef NTSTATUS(NTAPI* NtQueryDirectoryFileFn)(HANDLE, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK, PVOID,
                                                  ULONG, FILE_INFORMATION_CLASS, BOOLEAN, PUNICODE_STRING, BOOLEAN);
  typedef LONG(NTAPI* RtlCompareUnicodeStringFn)(PCUNICODE_STRING, PCUNICODE_STRING, BOOLEAN);
  typedef NTSTATUS(NTAPI* RtlUpcaseUnicodeStringFn)(PUNICODE_STRING, PCUNICODE_STRING, BOOLEAN);
  typedef WCHAR(NTAPI* RtlUpcaseUnicodeCharFn)(WCHAR);
  typedef NTSTATUS(NTAPI* NtFsControlFileFn)(HANDLE, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK, ULONG, PVOID,
                                             ULONG, PVOID, ULONG);
  typedef NTSTATUS(NTAPI* NtSetEaFileFn)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG);
  typedef NTSTATUS(NTAPI* NtQueryEaFileFn)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, BOOLEAN, PVOID, ULONG, PULONG,
                                           BOOLEAN);
  typedef NTSTATUS(NTAPI* RtlGUIDFromStringFn)(PCUNICODE_STRING, GUID*);
  typedef NTSTATUS(NTAPI* RtlStringFromGUIDFn)(REFGUID, PUNICODE_STRING);

  NtApiCompilerSafe();
  ~NtApiCompilerSafe() override;

  // Pass-through wrappers; a missing function answers STATUS_NOT_IMPLEMENTED
  // (0xC0000002) and ERROR_CALL_NOT_IMPLEMENTED (120) respectively.
  NTSTATUS NtQueryInformationFile(HANDLE file, PIO_STATUS_BLOCK ioStatus, PVOID buffer, ULONG length,
                                  FILE_INFORMATION_CLASS infoClass);
  ULONG RtlNtStatusToDosError(NTSTATUS status);

  // The slots, null until resolved: all eighteen or none.
  NtCreateFileFn m_pNtCreateFile;
  NtQueryInformationFileFn m_pNtQueryInformationFile;
  NtSetInformationFileFn m_pNtSetInformationFile;
  RtlInitUnicodeStringFn m_pRtlInitUnicodeString;
  RtlFreeUnicodeStringFn m_pRtlFreeUnicodeString;
  RtlNtStatusToDosErrorFn m_pRtlNtStatusToDosError;
  RtlDosPathNameToNtPathName_UFn m_pRtlDosPathNameToNtPathName_U;
  RtlGetVersionFn m_pRtlGetVersion;
  NtReadFileFn m_pNtReadFile;
  NtQueryDirectoryFileFn m_pNtQueryDirectoryFile;
  RtlCompareUnicodeStringFn m_pRtlCompareUnicodeString;
  RtlUpcaseUnicodeStringFn m_pRtlUpcaseUnicodeString;
  RtlUpcaseUnicodeCharFn m_pRtlUpcaseUnicodeChar;
  NtFsControlFileFn m_pNtFsControlFile;
  NtSetEaFileFn m_pNtSetEaFile;
  NtQueryEaFileFn m_pNtQueryEaFile;
  RtlGUIDFromStringFn m_pRtlGUIDFromString;
  RtlStringFromGUIDFn m_pRtlStringFromGUID;

 protected:
  bool ResolveAll() override;
  void ClearAll() override;
};

// The process-wide instance: built when the library is loaded, destroyed
// when it is unloaded (see ProcessObjects.cpp).
extern NtApiCompilerSafe g_ntApiCompilerSafe;

// The name lookup: tests count lookups or make one name fail.
namespace ntapi_seams {
extern Seam<FARPROC(WINAPI*)(HMODULE, LPCSTR)> getProcAddress;
}
