// Stands in for the module-service host's client library "vtnqvma.dll". The
// host lives under HKLM\Software\InstallHelperTests\QvmHost, so every process
// and every installer run sees one host. A subkey per installed service holds
// its Profile (here: the service's command line), State (1 stopped, 3 stop
// pending, 4 running), the Pid of its process and the status Queries since the
// last stop request. Every interface handed out holds the library loaded until
// it is released, so a loaded library tells of an interface not given back.
// A test chooses the behaviour there: Fail<Function> is an error
// code to refuse that function with, Crash<Function> a crash in it (Crash.h),
// StopOnQuery the status query that finds a stop completed (1 when absent, 0
// never: the process then keeps running); a broken host: NullControl (success
// without an interface), NoTable (a manager without a table).
#include <windows.h>
#include <winsvc.h>

#include <string>

#include "../Crash.h"

namespace {

const std::wstring kHost = L"Software\\InstallHelperTests\\QvmHost";
HMODULE g_self;

DWORD Get(const std::wstring& key, const wchar_t* name, DWORD absent = 0) {
  DWORD value = absent, size = sizeof(value);
  RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size);
  return value;
}
void Put(const std::wstring& key, const wchar_t* name, DWORD value) {
  RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, REG_DWORD, &value, sizeof(value));
}
// The error the test chose for this function, else the host's own; true (with
// the last error set) when there is one.
bool Fails(const wchar_t* function, DWORD ownError) {
  wchar_t crash[16] = {};
  DWORD size = sizeof(crash);
  RegGetValueW(HKEY_LOCAL_MACHINE, kHost.c_str(), (L"Crash" + std::wstring(function)).c_str(), RRF_RT_REG_SZ, nullptr,
               crash, &size);
  CrashIfAsked(std::string(crash, crash + lstrlenW(crash)).c_str());
  const DWORD chosen = Get(kHost, (L"Fail" + std::wstring(function)).c_str());
  SetLastError(chosen ? chosen : ownError);
  return chosen || ownError;
}

struct Object {
  void* const* table;
  std::wstring key;  // the service's
};
void* New(void* const* table, const wchar_t* service = L"") {  // holds this library loaded
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&g_self), &g_self);
  return new Object{table, kHost + L"\\" + service};
}
}  // namespace

// Release ends in FreeLibrary, which returns straight to the caller: no code
// of this library runs once it may be unloaded.
extern "C" __attribute__((used)) HMODULE Forget(Object* object) {
  delete object;
  return g_self;
}
extern "C" ULONG WINAPI Release(Object*);
asm(".globl Release\nRelease:\n  subq $40, %rsp\n  call Forget\n  addq $40, %rsp\n"
    "  movq %rax, %rcx\n  jmp *__imp_FreeLibrary(%rip)\n");

namespace {

DWORD WINAPI Control(Object* o, DWORD control, DWORD* state) {
  *state = Get(o->key, L"State");
  if (Fails(L"ControlService", control != SERVICE_CONTROL_STOP ? ERROR_INVALID_SERVICE_CONTROL
                               : *state != SERVICE_RUNNING      ? ERROR_SERVICE_NOT_ACTIVE : 0))
    return FALSE;
  HANDLE process = Get(kHost, L"StopOnQuery", 1) ? OpenProcess(PROCESS_TERMINATE, FALSE, Get(o->key, L"Pid")) : nullptr;
  if (process) {
    TerminateProcess(process, 0);
    CloseHandle(process);
  }
  Put(o->key, L"State", *state = SERVICE_STOP_PENDING);
  Put(o->key, L"Queries", 0);
  return TRUE;
}
DWORD WINAPI Query(Object* o, DWORD* state) {
  if (Fails(L"QueryServiceStatus", 0)) return FALSE;
  const DWORD queries = Get(o->key, L"Queries") + 1, stopOn = Get(kHost, L"StopOnQuery", 1);
  Put(o->key, L"Queries", queries);
  if (Get(o->key, L"State") == SERVICE_STOP_PENDING && stopOn && queries >= stopOn)
    Put(o->key, L"State", SERVICE_STOPPED);
  *state = Get(o->key, L"State");
  return TRUE;
}
DWORD WINAPI Delete(Object* o) {
  return !Fails(L"DeleteService", 0) && RegDeleteTreeW(HKEY_LOCAL_MACHINE, o->key.c_str()) == ERROR_SUCCESS;
}
DWORD WINAPI Start(Object* o, DWORD count, const wchar_t** arguments) {
  if (Fails(L"StartService", count || arguments ? ERROR_INVALID_PARAMETER
                             : Get(o->key, L"State") == SERVICE_RUNNING ? ERROR_SERVICE_ALREADY_RUNNING : 0))
    return FALSE;
  wchar_t command[1024] = {};
  DWORD size = sizeof(command) - sizeof(wchar_t);
  RegGetValueW(HKEY_LOCAL_MACHINE, o->key.c_str(), L"Profile", RRF_RT_REG_SZ, nullptr, command, &size);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started;
  if (!CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) return FALSE;
  CloseHandle(started.hThread);
  CloseHandle(started.hProcess);
  Put(o->key, L"Pid", started.dwProcessId);
  Put(o->key, L"State", SERVICE_RUNNING);
  return TRUE;
}
void* const kService[] = {nullptr,        (void*)Release, nullptr,      nullptr,
                          (void*)Control, (void*)Delete,  (void*)Query, (void*)Start};

void* WINAPI Create(Object* manager, const wchar_t* name, const wchar_t* profile) {
  const std::wstring key = manager->key + name;
  if (Fails(L"CreateService", Get(key, L"State") ? ERROR_SERVICE_EXISTS : 0)) return nullptr;
  RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"Profile", REG_SZ, profile, (lstrlenW(profile) + 1) * 2);
  Put(key, L"State", SERVICE_STOPPED);
  return New(kService, name);
}
void* WINAPI Open(Object* manager, const wchar_t* name, DWORD reserved) {
  const DWORD error = reserved                             ? ERROR_INVALID_PARAMETER
                      : Get(manager->key + name, L"State") ? 0
                                                           : ERROR_SERVICE_DOES_NOT_EXIST;
  return Fails(L"OpenService", error) ? nullptr : New(kService, name);
}
void* const kManager[] = {nullptr, (void*)Release, (void*)Create, nullptr, (void*)Open};

void* WINAPI Manager(Object*) {
  if (Get(kHost, L"NoTable")) return new Object{nullptr, L""};  // holds nothing loaded
  return Fails(L"OpenMSManager", 0) ? nullptr : New(kManager);
}
void* const kControl[] = {nullptr, (void*)Release, (void*)Manager};

}  // namespace

extern "C" __declspec(dllexport) DWORD NotComDllGetInterface(const char* name, void** out) {
  if (lstrcmpA(name, "QvmControl") != 0) return static_cast<DWORD>(E_NOINTERFACE);
  *out = Get(kHost, L"NullControl") ? nullptr : New(kControl);
  return 0;
}
