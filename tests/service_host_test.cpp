// The proxy service in the module-service host, through the stand-in host
// (standins/qvmhost): the client's operations with their outcome texts and
// interaction log, the install, uninstall and pre-validation actions built on
// them, and the removal of the earlier releases' service from Wine's service
// control manager.

#include "support/ComponentSupport.h"

#include <regex>

#include "frame/Exports.h"
#include "frame/Log.h"
#include "frame/RegistryHelper.h"
#include "process/ProductService.h"
#include "process/QvmManager.h"

using namespace testsupport;

namespace {

const std::wstring kHost = L"Software\\InstallHelperTests\\QvmHost", kService = kHost + L"\\vtnorb";
const std::wstring kLogs = L"C:\\ProgramData\\Norvale\\LYN\\Logs";
const size_t kRealTime = ~0u;  // the waits really waited, not counted
std::vector<DWORD> g_sleeps;
void WINAPI CountSleep(DWORD ms) { g_sleeps.push_back(ms); }
DWORD Value(const std::wstring& key, const wchar_t* name, DWORD value = 0, DWORD size = 4) {
  RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size);
  return value;
}

// setup: the host's library (s signed, u unsigned, m missing), then p for a
// profile under "InstDir", x for a LynService.exe
// the host does not know, - for no interaction-log folder. A running service
// (state 4) runs a real LynService.exe. All of it is gone again at the end.
struct Scene {
  ComponentKeys keys;
  ScopedSeam<void(WINAPI*)(DWORD)> sleeps{qvm_seams::sleep, CountSleep};
  ScratchFolder folder{L"svc"};
  std::wstring command = L"\"" + StandInPath(L"LynService.exe") + L"\" 60000";
  std::unique_ptr<StartedProcess> process;
  Scene(const std::string& setup, const std::vector<std::pair<const wchar_t*, DWORD>>& knobs, DWORD state) {
    RemoveTree(kLogs);
    if (setup.find('-') == std::string::npos) CreateDirectoryTree(kLogs);
    keys.SetPlatformFolder(BuildDir() + L"\\standins\\qvmhost\\" +
                           (setup[0] == 's'   ? L"signed"
                            : setup[0] == 'u' ? L"unsigned"
                                              : L""));
    if (setup.find('p') != std::string::npos) {
      keys.SetProduct(L"InstDir", folder.path + L"\\");
      WriteFileBytes(folder / L"QVMProfileForLYNService.xml", Narrow(command) + "\r\n");
    }
    for (const auto& knob : knobs) RegSetDword(HKEY_LOCAL_MACHINE, kHost, knob.first, knob.second);
    if (state) {
      RegSetString(HKEY_LOCAL_MACHINE, kService, L"Profile", command);
      RegSetDword(HKEY_LOCAL_MACHINE, kService, L"State", state);
    }
    if (state == SERVICE_RUNNING || setup.find('x') != std::string::npos)
      process.reset(new StartedProcess(StandInPath(L"LynService.exe"), L"60000"));
    if (state == SERVICE_RUNNING) RegSetDword(HKEY_LOCAL_MACHINE, kService, L"Pid", process->pid());
    g_sleeps.clear();
  }
  ~Scene() {
    UniqueKernelHandle started(OpenProcess(PROCESS_TERMINATE, FALSE, Value(kService, L"Pid")));
    if (Value(kService, L"State") == SERVICE_RUNNING) TerminateProcess(started.get(), 1);
    RemoveTree(kLogs);
    RemoveDirectoryW(L"C:\\ProgramData\\Norvale\\LYN");
    RemoveDirectoryW(L"C:\\ProgramData\\Norvale");
  }
  // Lines end in "|"; a timed line shows as "@" and its text when its fields
  // are today's, day first; the manager's address as P.
  std::string Interactions() const {
    SYSTEMTIME t;
    GetLocalTime(&t);
    const std::string today =
        "\\[" + std::to_string(t.wDay) + "-" + std::to_string(t.wMonth) + "-" + std::to_string(t.wYear) + "\\] ";
    std::string text =
        std::regex_replace(ReadFileBytes(kLogs + L"\\qvm_interaction_logs_INSTALLHELPER.txt"), std::regex("\r\n"), "|");
    text = std::regex_replace(text, std::regex(today + "([01]?\\d|2[0-3])(:[0-5]?\\d){2}:\\d{1,3} "), "@");
    return std::regex_replace(text, std::regex("= [0-9A-F]{16}\\|"), "= P|");
  }
};

// The host's operations I(nstall) S(tart) sto(P) D(elete) R(unning) and none
// (-) on a client of its own, with the status text; the actions i(nstall
// mode), u(ninstall mode) and v(alidation stop), with the installer-log records.
int RunAction(char action, MSIHANDLE handle, std::wstring& status) {
  if (action == 'i' || action == 'u') return InstallORBQVMService(handle, action == 'i');
  if (action == 'v') return StopOrbServiceBeforeInstallValidateAction();
  QvmManager host(L"vtnorb", L"INSTALLHELPER");
  const bool done = action == 'I'   ? host.InstallService(L"profile")
                    : action == 'S' ? host.StartService()
                    : action == 'P' ? host.StopService()
                    : action == 'D' ? host.DeleteService()
                                    : action == 'R' && host.IsServiceRunning();
  status = host.GetStatusText();
  return done;
}

}  // namespace

TEST(QvmHost, OperationsAndActionsAnswerSayAndLogWhatTheHostDid) {
  const std::string kOpen =
      "@In Constructor Started QVM Module|@GetQVMControl returned true|GetMSManager: Successful to get m_pMgr = P|"
      "@GetMSManager returned true|";
  const std::string kQuery = "StopService: Doing QueryServiceStatus ",
                    kVal = "StopOrbServiceBeforeInstallValidateAction: ";
  const std::string kStop = "StopService LYNService Using QVM|", kNoHandle = "Unable to get service handle, unable to ";
  const auto polled = [&](int n, const std::string& status) {  // one status query of the stop's loop
    const std::string query = kQuery + std::to_string(n) + "th time";
    return query + " |" + query + ", dwCurrentStatus = " + status + "|";
  };
  const auto unable = [](const std::string& what, int error) {
    return "Unable to " + what + " QVM Service :: vtnorb, error code :: " + std::to_string(error) + " ";
  };
  // said: the status text, or the installer-log records; logged: found in the
  // interaction log + "#" + the text log; process: the host's service Runs,
  // was ended by the host (0) or Killed with 0xDEAD; sleeps: 2000 ms each.
  const struct {
    const char *name, *setup; std::vector<std::pair<const wchar_t*, DWORD>> knobs; DWORD state; char action;
    int result; std::string said, logged; DWORD stateAfter; char process; size_t sleeps;
  } rows[] = {
      {"install", "s", {}, 0, 'I', 1, "Successfully installed QVM service :: vtnorb",
       kOpen + "@In Destructor Stopped QVM Module|#", 1, '-', 0},
      {"install: exists", "s", {}, 1, 'I', 1, "Qvm service already installed.", "", 1, '-', 0},
      {"install: refused", "s", {{L"FailCreateService", 5}}, 0, 'I', 0, unable("install", 5),
       "|" + unable("install", 5) + "|@In Destructor", 0, '-', 0},
      {"install: library missing", "m", {}, 0, 'I', 0, "Unable to CreateService ORB",
       "@In Constructor Started QVM Module|Failed to get QVM control|@GetQVMControl returned false|@In Destructor "
       "Stopped QVM Module|#", 0, '-', 0},
      {"no manager", "s", {{L"FailOpenMSManager", 8}}, 0, '-', 0, "Failed to open QVM Manager",
       "@GetQVMControl returned true|GetMSManager: Failed to  OpenMSManager()|@GetMSManager "
       "returned false|@In", 0, '-', 0},
      {"start", "s", {}, 1, 'S', 1, "QVM service :: vtnorb started successfully.",
       "|GetQVMService: Successful vtnorb|@In", 4, 'R', 1},
      {"start: running", "s", {}, 4, 'S', 1, "Qvm service already Running.", "", 4, 'R', 1},
      {"start: refused", "s", {{L"FailStartService", 1053}}, 1, 'S', 0, unable("start", 1053), "", 1, '-', 1},
      {"start: not installed", "s", {}, 0, 'S', 0, kNoHandle + "start qvm service",
       "|GetQVMService: Failed to open QVM Service vtnorb, with err = 1060|@In", 0, '-', 1},
      {"start: library unsigned", "u", {}, 1, 'S', 0, kNoHandle + "start qvm service",
       "|QVM is not communicating because m_pControl == NULL || m_pMgr == NULL|@In", 1, '-', 1},
      {"stop: on the third query", "s", {{L"StopOnQuery", 3}}, 4, 'P', 1, "Successfully stopped QVM service :: vtnorb",
       kOpen + "GetQVMService: Successful vtnorb|StopService: Doing  SERVICE_CONTROL_STOP |" + polled(0, "3") +
       polled(1, "3") + polled(2, "1") + kQuery + "2th time, dwCurrentStatus = SERVICE_STOPPED|" +
       "StopService: Successfully stopped QVM service :: vtnorb|StopService: Successfully stopped QVM service :: "
       "vtnorbReturning TRUE|@In Destructor Stopped QVM Module|#", 1, '0', kRealTime},
      {"stop: already stopped", "s", {}, 1, 'P', 1, "Successfully stopped QVM service :: vtnorb",
       "|StopService: Failed ControlService |StopService: Failed ControlService error = 1062|StopService: Failed "
       "ControlService error = 1062|" + polled(0, "1"), 1, '-', 1},
      {"stop: never", "s", {{L"StopOnQuery", 0}}, 4, 'P', 0, "Unable to stop QVM service :: vtnorb",
       "14th time, dwCurrentStatus = 3|StopService: Doing QueryServiceStatus , dwCurrentStatus != SERVICE_STOPPED "
       "returning false vtnorb|@In", 3, 'R', 16},
      {"stop: refused", "s", {{L"FailControlService", 5}}, 4, 'P', 0, unable("stop", 5),
       "|StopService: Failed ControlService error = 5|" + unable("stop", 5) + "|@In", 4, 'R', 1},
      {"stop: not installed", "s", {}, 0, 'P', 0, kNoHandle + "stop qvm service",
       "|StopService: Unable to get service handle, unable to stop qvm service |@In", 0, '-', 1},
      {"delete", "s", {}, 1, 'D', 1, "Successfully deleted QVM service :: vtnorb", "", 0, '-', 0},
      {"delete: gone meanwhile", "s", {{L"FailDeleteService", 1060}}, 1, 'D', 1,
       "Qvm service deosn't not exists.", "", 1, '-', 0},
      {"delete: refused", "s", {{L"FailDeleteService", 5}}, 1, 'D', 0, unable("delete", 5), "", 1, '-', 0},
      {"delete: not installed", "s", {}, 0, 'D', 0, kNoHandle + "delete qvm service", "", 0, '-', 0},
      {"running", "s", {}, 4, 'R', 1, "", "", 4, 'R', 0},
      {"running: start pending", "s", {}, 2, 'R', 0, "", "", 2, '-', 0},
      {"running: query refused", "s", {{L"FailQueryServiceStatus", 5}}, 4, 'R', 0, unable("getting status", 5), "", 4,
       'R', 0},
      {"running: not installed", "s", {}, 0, 'R', 0, kNoHandle + "get qvm service",
       "|Unable to get QVM Service: vtnorb|@In", 0, '-', 0},
      {"install mode", "sp", {}, 0, 'i', 0, "", "#Started Installing LynService into QVM|Completed Installing "
       "LynService into QVM Successfully", 4, 'R', 1},
      {"install mode: present and running", "sp", {}, 4, 'i', 0, "",
       "|Completed Installing LynService into QVM Successfully", 4, 'R', 1},
      {"install mode: no InstDir", "s", {}, 0, 'i', -1,
       "Unable to open \\QVMProfileForLYNService.xml,aborting LYN installation",
       "|Unable to open \\QVMProfileForLYNService.xml aborting LYN installation", 0, '-', 0},
      {"install mode: refused", "sp", {{L"FailCreateService", 5}}, 0, 'i', -1, unable("install", 5),
       "|objQvmManager.InstallService returned: " + unable("install", 5), 0, '-', 0},
      {"install mode: start refused", "sp", {{L"FailStartService", 1053}}, 0, 'i', -1, unable("start", 1053),
       "|objQvmManager.StartService returned: " + unable("start", 1053), 1, '-', 1},
      {"uninstall mode", "s", {}, 4, 'u', 0, kStop.substr(0, kStop.size() - 1),
       "#Now Uninstalling LynService from QVM", 0, '0', 1},
      {"uninstall mode: never stops", "s", {{L"StopOnQuery", 0}}, 4, 'u', 0,
       kStop + "Unable to stop QVM service :: vtnorb|Terminate LYN",
       "|objQvmManager.StopService returned Unable to stop QVM service :: vtnorb|", 0, 'K', 16},
      {"uninstall mode: not in the host", "sx", {}, 0, 'u', -1, kStop + kNoHandle + "stop qvm service|Terminate LYN|" +
       kNoHandle + "delete qvm service", "|Terminate LYN|" + kNoHandle + "delete qvm service", 0, 'K', 1},
      {"uninstall mode: library missing", "m", {}, 0, 'u', -1, kStop + kNoHandle + "stop qvm service|" + kNoHandle +
       "delete qvm service", "", 0, '-', 1},
      {"validation stop", "s", {}, 4, 'v', 0, "", kVal + "Successful in stopping OrbSerivce From QVM|" + kVal +
       "Sleeping for 2sec Start|" + kVal + "Sleeping for 2sec End", 1, '0', 2},
      {"validation stop: refused", "s", {{L"FailControlService", 5}}, 4, 'v', -1, "",
       kVal + "Failed to Stop OrbService (vtnorb), error = " + unable("stop", 5), 4, 'R', 1},
      {"validation stop: no host, no log folder", "m-", {}, 0, 'v', 0, "",
       kVal + "Now Stopping OrbService from QVM|" + kVal +
       "OrbService is not running Proceed with Uninstallation", 0, '-', 0},
  };
  // Wine keeps what its first signature check and its first failed search set up.
  for (const char* library : {"m", "s"}) {
    Scene scene(library, {}, 0);
    QvmManager host(L"vtnorb", L"INSTALLHELPER");
  }
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Scene scene(row.setup, row.knobs, row.state);
    if (row.sleeps == kRealTime) qvm_seams::sleep.Reset();
    BothLogs logs;
    const DWORD began = GetTickCount();
    std::wstring status;
    EXPECT_EQ(logs.Run([&] { return RunAction(row.action, logs.handle(), status); }), row.result);
    EXPECT_EQ(GetModuleHandleW(L"vtnqvma.dll"), nullptr);  // every interface given back
    EXPECT_EQ(Narrow(status) + logs.Records(), row.said);
    const std::string logged = scene.Interactions() + "#" + logs.Text();
    EXPECT_NE(logged.find(row.logged), std::string::npos) << logged;
    EXPECT_EQ(Value(kService, L"State"), row.stateAfter);
    EXPECT_TRUE(row.sleeps == kRealTime ? GetTickCount() - began >= 6000u
                                        : g_sleeps == std::vector<DWORD>(row.sleeps, 2000))
        << g_sleeps.size();
    EXPECT_FALSE(PathExists(scene.folder / L"QVMProfileForLYNService.xml"));
    EXPECT_EQ(PathExists(kLogs), strchr(row.setup, '-') == nullptr);
    std::wstring profile;
    ReadRegistryString(L"HKEY_LOCAL_MACHINE\\" + kService + L"\\\\Profile", profile, 0);
    if (row.action == 'i' && !row.state && row.stateAfter) { EXPECT_EQ(profile, scene.command + L"\n"); }
    if (row.process == 'R') {
      EXPECT_EQ(
          WaitForSingleObject(UniqueKernelHandle(OpenProcess(SYNCHRONIZE, FALSE, Value(kService, L"Pid"))).get(), 0),
          WAIT_TIMEOUT);
    }
    if (strchr("0K", row.process)) { EXPECT_EQ(scene.process->WaitForExitCode(), row.process == 'K' ? 0xDEADu : 0u); }
  }
}

TEST(LegacyService, OnlyOneIsDeletedORBServiceFirst) {
  const struct {
    const char *name, *before, *after; std::string logged;  // O ORBService, L LYNService
  } rows[] = {
      {"both", "OL", "L", " Service deleted successfully"},
      {"LYNService alone", "L", "", " ORBService: OpenService failed 1060| Service deleted successfully"},
  };
  UniqueService manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    for (const wchar_t* name : {L"ORBService", L"LYNService"})
      if (strchr(row.before, name[0]))
        UniqueService(CreateServiceW(manager.get(), name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                     SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, L"C:\\legacy.exe", nullptr, nullptr,
                                     nullptr, nullptr, nullptr));
    BothLogs logs;
    logs.Run(deleteLegacyService);
    EXPECT_EQ(logs.Text(), row.logged);
    std::string after;
    for (const wchar_t* name : {L"ORBService", L"LYNService"}) {
      UniqueService left(OpenServiceW(manager.get(), name, DELETE));
      if (left && DeleteService(left.get())) after += static_cast<char>(name[0]);
    }
    EXPECT_EQ(after, row.after);
  }
}
