#include "process/QvmManager.h"

#include <cwchar>

#include "components/ComponentLoader.h"
#include "frame/FolderGuard.h"
#include "frame/Log.h"
#include "frame/ProductNames.h"
#include "frame/VendorCall.h"

namespace qvm_seams {
Seam<void(WINAPI*)(DWORD)> sleep(&::Sleep);
}

namespace {

const DWORD kWaitMs = 2000;
const int kStopQueries = 15;
const DWORD kControlStop = 1;  // SERVICE_CONTROL_STOP
const DWORD kStateStopped = 1;
const DWORD kStateRunning = 4;

// The host's answers that already are the wished outcome.
const DWORD kServiceExists = 1073;
const DWORD kAlreadyRunning = 1056;
const DWORD kNotRunning = 1062;
const DWORD kDoesNotExist = 1060;

// The system's formatter: std::to_wstring would bring the runtime's own printf into the DLL.
std::wstring Number(long long value) {
  wchar_t text[24];
  _snwprintf(text, 23, L"%lld", value);
  text[23] = L'\0';
  return text;
}

// A call into the host through the function at `slot` of the object's table;
// one that crashed has failed: null or FALSE, with kVendorCrashed as its last
// error. The table and the function are read inside the guard: a broken
// object, or one whose library is gone, faults there.
template <typename Object, typename Slot, typename... Args>
auto Host(const wchar_t* function, Object* object, Slot slot, Args... args)
    -> decltype((object->table->*slot)(object, args...)) {
  decltype((object->table->*slot)(object, args...)) result{};
  CallVendor(names::kQvmHostLibrary, function, [&] { result = (object->table->*slot)(object, args...); });
  return result;
}

}  // namespace

QvmManager::QvmManager(const std::wstring& serviceName, const std::wstring& clientName)
    : m_serviceName(serviceName), m_clientName(clientName) {
  // Appended to, never created with its folder: without the folder, or with
  // one that is not the product's own, the host's exchanges go unrecorded.
  const FoundFolder logs(names::kProgramData, names::kLogsBelowCommon, {});
  m_log = logs.OpenFile(names::kQvmInteractionLogStem + m_clientName + L".txt", FILE_APPEND_DATA,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_ALWAYS, GuardedFolder::Owner::Any);
  LogWithTime(L"In Constructor Started QVM Module");
  if (!GetQVMControl()) {
    LogWithTime(L"GetQVMControl returned false");
    return;
  }
  LogWithTime(L"GetQVMControl returned true");
  LogWithTime(GetMSManager() ? L"GetMSManager returned true" : L"GetMSManager returned false");
}

QvmManager::~QvmManager() {
  LogWithTime(L"In Destructor Stopped QVM Module");
  // The members go in reverse order: the log first, then the service, the
  // manager and the control interface.
}

void QvmManager::LogPlain(const std::wstring& text) {
  if (!m_log) return;
  const std::string bytes = logdetail::NarrowForLog(text + L"\n");
  DWORD written = 0;
  WriteFile(m_log.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void QvmManager::LogWithTime(const std::wstring& message) {
  SYSTEMTIME t;
  GetLocalTime(&t);
  wchar_t prefix[MAX_PATH] = {};
  _snwprintf(prefix, MAX_PATH - 1, L"[%d-%d-%d] %d:%d:%d:%d", t.wDay, t.wMonth, t.wYear, t.wHour, t.wMinute,
             t.wSecond, t.wMilliseconds);
  LogPlain(std::wstring(prefix) + L" " + message);
}

void QvmManager::ReportError(const std::wstring& operation, DWORD error) {
  wchar_t text[512] = {};  // cut to the buffer, whatever the names' lengths
  _snwprintf(text, 511, L"Unable to %ls QVM Service :: %ls, error code :: %d ", operation.c_str(),
             m_serviceName.c_str(), static_cast<int>(error));
  m_statusText = text;
  LogPlain(m_statusText);
}

bool QvmManager::GetQVMControl() {
  void* control = nullptr;
  // A host that answers success without an interface has failed all the same.
  if (NCGetDllInterface(names::kQvmHostLibrary, names::kQvmControlInterface, &control, nullptr) != 0 ||
      control == nullptr) {
    LogPlain(L"Failed to get QVM control");
    return false;
  }
  m_pControl.reset(static_cast<QvmControl*>(control));
  return true;
}

bool QvmManager::GetMSManager() {
  m_pMgr.reset(Host(L"OpenMSManager", m_pControl.get(), &QvmControlTable::OpenMSManager));
  if (!m_pMgr) {
    LogPlain(L"GetMSManager: Failed to  OpenMSManager()");
    m_statusText = L"Failed to open QVM Manager";
    return false;
  }
  // Hexadecimal digits as the runtime shows a pointer; not through a C++
  // stream, whose one-time set-up leaves the threading runtime holding two
  // handles for the calling thread.
  wchar_t pointer[32] = {};
  _snwprintf(pointer, 31, L"%p", static_cast<void*>(m_pMgr.get()));
  LogPlain(std::wstring(L"GetMSManager: Successful to get m_pMgr = ") + pointer);
  return true;
}

bool QvmManager::GetQVMService() {
  if (!m_pControl || !m_pMgr) {
    LogPlain(L"QVM is not communicating because m_pControl == NULL || m_pMgr == NULL");
    return false;
  }
  m_pService.reset(
      Host(L"OpenService", m_pMgr.get(), &QvmMSManagerTable::OpenService, m_serviceName.c_str(), 0));
  if (m_pService) {
    LogPlain(L"GetQVMService: Successful " + m_serviceName);
    return true;
  }
  const DWORD error = GetLastError();
  LogPlain(L"GetQVMService: Failed to open QVM Service " + m_serviceName + L", with err = " + Number(error));
  m_statusText = L"Failed to open QVM Service for " + m_serviceName;
  return false;
}

bool QvmManager::InstallService(const std::wstring& profile) {
  if (m_pService) return true;
  if (!m_pMgr) {
    m_statusText = L"Unable to CreateService ORB";
    return false;
  }
  m_pService.reset(Host(L"CreateService", m_pMgr.get(), &QvmMSManagerTable::CreateService, m_serviceName.c_str(),
                        profile.c_str()));
  if (m_pService) {
    m_statusText = L"Successfully installed QVM service :: " + m_serviceName;
    return true;
  }
  const DWORD error = GetLastError();
  if (error == kServiceExists) {
    m_statusText = L"Qvm service already installed.";
    return true;
  }
  ReportError(L"install", error);
  return false;
}

bool QvmManager::StartService() {
  qvm_seams::sleep(kWaitMs);
  if (!GetQVMService()) {
    m_statusText = L"Unable to get service handle, unable to start qvm service";
    return false;
  }
  if (Host(L"StartService", m_pService.get(), &QvmServiceTable::StartService, 0, nullptr)) {
    m_statusText = L"QVM service :: " + m_serviceName + L" started successfully.";
    return true;
  }
  const DWORD error = GetLastError();
  if (error == kAlreadyRunning) {
    m_statusText = L"Qvm service already Running.";
    return true;
  }
  ReportError(L"start", error);
  return false;
}

std::wstring QvmManager::QueryLine(int query) const {
  return L"StopService: Doing QueryServiceStatus " + Number(query) + L"th time";
}

bool QvmManager::StopService() {
  qvm_seams::sleep(kWaitMs);
  if (!GetQVMService()) {
    LogPlain(L"StopService: Unable to get service handle, unable to stop qvm service ");
    m_statusText = L"Unable to get service handle, unable to stop qvm service";
    return false;
  }
  DWORD state = 0;
  LogPlain(L"StopService: Doing  SERVICE_CONTROL_STOP ");
  if (!Host(L"ControlService", m_pService.get(), &QvmServiceTable::ControlService, kControlStop, &state)) {
    const DWORD error = GetLastError();
    LogPlain(L"StopService: Failed ControlService ");
    LogPlain(L"StopService: Failed ControlService error = " + Number(error));
    if (error != kNotRunning) {
      ReportError(L"stop", error);
      return false;
    }
    LogPlain(L"StopService: Failed ControlService error = " + Number(error));
    m_statusText = L"Qvm service not running.";
  }

  // The host is asked even when it said the service was not running.
  state = 0;
  for (int query = 0; query < kStopQueries; ++query) {
    LogPlain(QueryLine(query) + L" ");
    Host(L"QueryServiceStatus", m_pService.get(), &QvmServiceTable::QueryServiceStatus, &state);
    LogPlain(QueryLine(query) + L", dwCurrentStatus = " + Number(state));
    if (state == kStateStopped) {
      LogPlain(QueryLine(query) + L", dwCurrentStatus = SERVICE_STOPPED");
      break;
    }
    qvm_seams::sleep(kWaitMs);
  }

  if (state == kStateStopped) {
    LogPlain(L"StopService: Successfully stopped QVM service :: " + m_serviceName);
    m_statusText = L"Successfully stopped QVM service :: " + m_serviceName;
    LogPlain(L"StopService: Successfully stopped QVM service :: " + m_serviceName + L"Returning TRUE");
    return true;
  }
  m_statusText = L"Unable to stop QVM service :: " + m_serviceName;
  LogPlain(L"StopService: Doing QueryServiceStatus , dwCurrentStatus != SERVICE_STOPPED returning false " +
           m_serviceName);
  return false;
}

bool QvmManager::DeleteService() {
  if (!GetQVMService()) {
    m_statusText = L"Unable to get service handle, unable to delete qvm service";
    return false;
  }
  if (Host(L"DeleteService", m_pService.get(), &QvmServiceTable::DeleteService)) {
    m_statusText = L"Successfully deleted QVM service :: " + m_serviceName;
    return true;
  }
  const DWORD error = GetLastError();
  if (error == kDoesNotExist) {
    m_statusText = L"Qvm service deosn't not exists.";
    return true;
  }
  ReportError(L"delete", error);
  return false;
}

bool QvmManager::IsServiceRunning() {
  if (!GetQVMService()) {
    LogPlain(L"Unable to get QVM Service: " + m_serviceName);
    m_statusText = L"Unable to get service handle, unable to get qvm service";
    return false;
  }
  DWORD state = kStateStopped;
  if (Host(L"QueryServiceStatus", m_pService.get(), &QvmServiceTable::QueryServiceStatus, &state))
    return state == kStateRunning;
  ReportError(L"getting status", GetLastError());
  return false;
}
