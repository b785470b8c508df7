// The client of the vendor's module-service host: one object drives one named
// service in the host for the length of one custom action. Every operation
// answers true or false and leaves an outcome text; the object also keeps a
// log of its own exchanges with the host.
#pragma once

#include <windows.h>
// Some of the operations share their names with the system's service
// functions, which are macros: every user of this header sees them alike.
#include <winsvc.h>

#include <string>

#include "frame/Owners.h"
#include "frame/Seam.h"

// The host's interfaces: an object whose first word points to its table of
// functions, each taking the object first. Slots this library never calls
// stay unnamed; their positions are part of the host's contract.
struct QvmService;
struct QvmServiceTable {
  void* slot0;
  ULONG(WINAPI* Release)(QvmService* self);
  void* slot2;
  void* slot3;
  DWORD(WINAPI* ControlService)(QvmService* self, DWORD control, DWORD* state);
  DWORD(WINAPI* DeleteService)(QvmService* self);
  DWORD(WINAPI* QueryServiceStatus)(QvmService* self, DWORD* state);
  DWORD(WINAPI* StartService)(QvmService* self, DWORD argumentCount, const wchar_t** arguments);
};
struct QvmService {
  const QvmServiceTable* table;
};

struct QvmMSManager;
struct QvmMSManagerTable {
  void* slot0;
  ULONG(WINAPI* Release)(QvmMSManager* self);
  QvmService*(WINAPI* CreateService)(QvmMSManager* self, const wchar_t* name, const wchar_t* profile);
  void* slot3;
  QvmService*(WINAPI* OpenService)(QvmMSManager* self, const wchar_t* name, DWORD reserved);
};
struct QvmMSManager {
  const QvmMSManagerTable* table;
};

struct QvmControl;
struct QvmControlTable {
  void* slot0;
  ULONG(WINAPI* Release)(QvmControl* self);
  QvmMSManager*(WINAPI* OpenMSManager)(QvmControl* self);
};
struct QvmControl {
  const QvmControlTable* table;
};

class QvmManager {
 public:
  QvmManager(const std::wstring& serviceName, const std::wstring& clientName);
  ~QvmManager();
  QvmManager(const QvmManager&) = delete;
  QvmManager& operator=(const QvmManager&) = delete;

  // A service that exists, runs, is not running or does not exist already
  // counts as the wished outcome.
  bool InstallService(const std::wstring& profile);
  bool StartService();
  bool StopService();
  bool DeleteService();
  // True only when the host reports the service running (state 4).
  bool IsServiceRunning();
  std::wstring GetStatusText() const { return m_statusText; }

  bool GetQVMControl();
  bool GetMSManager();
  bool GetQVMService();
  void LogWithTime(const std::wstring& message);
  void ReportError(const std::wstring& operation, DWORD error);

 private:
  void LogPlain(const std::wstring& text);
  std::wstring QueryLine(int query) const;

  std::wstring m_serviceName;
  std::wstring m_statusText;
  std::wstring m_clientName;
  // Released in reverse order: the service, the manager, then the control.
  UniqueHostInterface<QvmControl> m_pControl;
  UniqueHostInterface<QvmMSManager> m_pMgr;
  UniqueHostInterface<QvmService> m_pService;
  UniqueFile m_log;  // closed before the interfaces are given back
};

// The fixed waits around starts and stops: tests count them instead of
// spending half a minute on a service that never stops.
namespace qvm_seams {
extern Seam<void(WINAPI*)(DWORD)> sleep;
}
