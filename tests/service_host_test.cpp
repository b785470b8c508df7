// The proxy service in the module-service host, through the stand-in host
// (standins/qvmhost): the client's operations with their outcome texts and
// interaction log, and what of the install, uninstall and pre-validation
// actions an installer run does not show: the waits, the host's refusals and
// a service that will not stop.

#include "support/ComponentSupport.h"

#include <regex>
#include <sstream>

#include "frame/Exports.h"
#include "frame/Log.h"
#include "process/ProductService.h"
#include "process/QvmManager.h"

using namespace testsupport;

namespace {

const std::wstring kHost = L"Software\\InstallHelperTests\\QvmHost", kService = kHost + L"\\vtnorb";
const std::wstring kLogs = L"C:\\ProgramData\\Norvale\\LYN\\Logs";
const DWORD kSame = ~0u;       // the service's state is what it was
std::vector<DWORD> g_sleeps;
void WINAPI CountSleep(DWORD ms) { g_sleeps.push_back(ms); }
DWORD Value(const std::wstring& key, const wchar_t* name, DWORD value = 0, DWORD size = 4) {
  RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size);
  return value;
}

// setup: the host's library (s signed, u unsigned, m missing), the state of its
// service when it has one (a digit; 3 and 4 run a real LynService.exe), p for a
// profile under "InstDir" (r: the same, but "InstDir" names it drive-relative,
// no folder to use), x for a LynService.exe the host does not know, then
// " Knob=value"s for the host's behaviour (standins/qvmhost). All of it is gone
// again at the end.
struct Scene {
  ComponentKeys keys;
  ScopedSeam<void(WINAPI*)(DWORD)> sleeps{qvm_seams::sleep, CountSleep};
  ScratchFolder folder{L"svc"};
  std::wstring command = L"\"" + StandInPath(L"LynService.exe") + L"\" --sleep 60000 --exit 3";
  std::unique_ptr<StartedProcess> process;
  DWORD state;
  bool dirRefused = false;
  explicit Scene(const std::string& setup) : state(isdigit(setup[1]) ? setup[1] - '0' : 0) {
    const std::string flags = setup.substr(0, setup.find(' ')), knob = setup.substr(flags.size());
    RemoveTree(kLogs);
    CreateDirectoryTree(kLogs);
    const wchar_t* library = setup[0] == 's' ? L"signed" : setup[0] == 'u' ? L"unsigned" : L"";
    keys.SetPlatformFolder(BuildDir() + L"\\standins\\qvmhost\\" + library);
    if (flags.find_first_of("pr") != std::string::npos) {
      dirRefused = flags.find('r') != std::string::npos;
      keys.SetProduct(L"InstDir", dirRefused ? L"C:ih-components\\svc\\" : folder.path + L"\\");
      WriteFileBytes(folder / L"QVMProfileForLYNService.xml", Narrow(command) + "\r\n");
    }
    std::istringstream knobs(knob);
    for (std::string k; knobs >> k;)
      RegSetDword(HKEY_LOCAL_MACHINE, kHost, Widen(k.substr(0, k.find('='))), std::stoul(k.substr(k.find('=') + 1)));
    if (state) {
      RegSetString(HKEY_LOCAL_MACHINE, kService, L"Profile", command);
      RegSetDword(HKEY_LOCAL_MACHINE, kService, L"State", state);
    }
    if (state >= SERVICE_STOP_PENDING || flags.find('x') != std::string::npos)
      process.reset(new StartedProcess(StandInPath(L"LynService.exe"), L"--sleep 60000 --exit 3"));
    if (state >= SERVICE_STOP_PENDING) RegSetDword(HKEY_LOCAL_MACHINE, kService, L"Pid", process->pid());
    g_sleeps.clear();
  }
  ~Scene() {
    UniqueKernelHandle started(OpenProcess(PROCESS_TERMINATE, FALSE, Value(kService, L"Pid")));
    if (Value(kService, L"State") == SERVICE_RUNNING) TerminateProcess(started.get(), 1);
    RemoveTree(L"C:\\ProgramData\\Norvale");  // the logs and the folders made for them
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

// The host's operations I(nstall, twice on one client) S(tart) sto(P) D(elete) R(unning) and none
// (-) on a client of its own, with the status text; the actions i(nstall
// mode), u(ninstall mode) and v(alidation stop), with the installer-log records.
int RunAction(char action, MSIHANDLE handle, std::wstring& status) {
  if (action == 'i' || action == 'u') return InstallORBQVMService(handle, action == 'i');
  if (action == 'v') return StopOrbServiceBeforeInstallValidateAction();
  QvmManager host(L"vtnorb", L"INSTALLHELPER");
  const bool done = action == 'I'   ? host.InstallService(L"profile") && host.InstallService(L"other")
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
      "@GetMSManager returned true|",
                    kClosed = "@In Destructor Stopped QVM Module|#";
  const std::string kQuery = "StopService: Doing QueryServiceStatus ",
                    kVal = "StopOrbServiceBeforeInstallValidateAction: ";
  const std::string kStop = "StopService LYNService Using QVM|", kNoHandle = "Unable to get service handle, unable to ";
  const std::string kNoProfile = "Unable to open \\QVMProfileForLYNService.xml,aborting LYN installation",
                    kNoProfileLogged = "|Unable to open \\QVMProfileForLYNService.xml aborting LYN installation";
  const auto polled = [&](int n, const std::string& status) {  // one status query of the stop's loop
    const std::string query = kQuery + std::to_string(n) + "th time";
    return query + " |" + query + ", dwCurrentStatus = " + status + "|";
  };
  const auto unable = [](const std::string& what, int error) {
    return "Unable to " + what + " QVM Service :: vtnorb, error code :: " + std::to_string(error) + " ";
  };
  // said: the status text, or the installer-log records; logged: found in the
  // interaction log + "#" + the text log, "..." for any text between; sleeps: 2000 ms each. A service left
  // running or stop pending keeps its process; a process the host stopped ends
  // with 0, one the library terminated with 0xDEAD.
  const struct {
    const char *name, *setup; char action; int result; std::string said, logged = ""; size_t sleeps = 0;
    DWORD stateAfter = kSame;
  } rows[] = {
      {"install: exists", "s1", 'I', 1, "Qvm service already installed."},
      {"install twice: the interface held", "s", 'I', 1, "Successfully installed QVM service :: vtnorb",
       kOpen + kClosed, 0, 1},
      {"install: library missing", "m", 'I', 0, "Unable to CreateService ORB",
       "@In Constructor Started QVM Module|Failed to get QVM control|@GetQVMControl returned false|" + kClosed},
      {"broken: no control", "s NullControl=1", 'I', 0, "Unable to CreateService ORB", "|Failed to get QVM control|"},
      {"broken: manager without table", "s NoTable=1", 'I', 0, unable("install", 574),
       "#vtnqvma.dll : CreateService crashed...|vtnqvma.dll : Release crashed with exception 0xc0000005"},
      {"no manager", "s FailOpenMSManager=8", '-', 0, "Failed to open QVM Manager",
       "@GetQVMControl returned true|GetMSManager: Failed to  OpenMSManager()|@GetMSManager returned false|@In"},
      {"start", "s1", 'S', 1, "QVM service :: vtnorb started successfully.", "|GetQVMService: Successful vtnorb|@In",
       1, 4},
      {"start: running", "s4", 'S', 1, "Qvm service already Running.", "", 1},
      {"start: not installed", "s", 'S', 0, kNoHandle + "start qvm service",
       "|GetQVMService: Failed to open QVM Service vtnorb, with err = 1060|@In", 1},
      {"stop: on the third query", "s4 StopOnQuery=3", 'P', 1, "Successfully stopped QVM service :: vtnorb",
       "|StopService: Doing  SERVICE_CONTROL_STOP |" + polled(0, "3") + polled(1, "3") + polled(2, "1") + kQuery +
       "2th time, dwCurrentStatus = SERVICE_STOPPED|StopService: Successfully stopped QVM service :: vtnorb|"
       "StopService: Successfully stopped QVM service :: vtnorbReturning TRUE|", 3, 1},
      {"stop: already stopped", "s1", 'P', 1, "Successfully stopped QVM service :: vtnorb",
       "|StopService: Failed ControlService |StopService: Failed ControlService error = 1062|StopService: Failed "
       "ControlService error = 1062|" + polled(0, "1"), 1},
      {"delete: gone meanwhile", "s1 FailDeleteService=1060", 'D', 1, "Qvm service deosn't not exists."},
      {"delete: refused", "s1 FailDeleteService=5", 'D', 0, unable("delete", 5)},
      {"running: stop pending", "s3 StopOnQuery=0", 'R', 0, ""},
      {"running: query refused", "s4 FailQueryServiceStatus=5", 'R', 0, unable("getting status", 5)},
      {"running: not installed", "s", 'R', 0, kNoHandle + "get qvm service", "|Unable to get QVM Service: vtnorb|@In"},
      {"install mode: running", "s4p", 'i', 0, "", "|Completed Installing LynService into QVM Successfully", 1},
      {"install mode: no InstDir", "s", 'i', -1, kNoProfile, kNoProfileLogged},
      {"install mode: relative InstDir", "sr", 'i', -1, kNoProfile, kNoProfileLogged},
      {"install mode: refused", "sp FailCreateService=5", 'i', -1, unable("install", 5),
       "|" + unable("install", 5) + "|@In Destructor...#...|objQvmManager.InstallService returned: " +
           unable("install", 5)},
      {"install mode: start refused", "sp FailStartService=1053", 'i', -1, unable("start", 1053),
       "|objQvmManager.StartService returned: " + unable("start", 1053), 1, 1},
      {"uninstall mode: never stops", "s4 StopOnQuery=0", 'u', 0,
       kStop + "Unable to stop QVM service :: vtnorb|Terminate LYN", "14th time, dwCurrentStatus = 3|StopService: "
       "Doing QueryServiceStatus , dwCurrentStatus != SERVICE_STOPPED returning false vtnorb|...#...|objQvmManager."
       "StopService returned Unable to stop QVM service :: vtnorb|", 16, 0},
      {"uninstall mode: not in the host", "sx", 'u', -1, kStop + kNoHandle + "stop qvm service|Terminate LYN|" +
       kNoHandle + "delete qvm service", "|StopService: Unable to get service handle, unable to stop qvm service |"
       "...#...|Terminate LYN|", 1},
      {"uninstall mode: library unsigned", "u1", 'u', -1, kStop + kNoHandle + "stop qvm service|" + kNoHandle +
       "delete qvm service", "|QVM is not communicating because m_pControl == NULL || m_pMgr == NULL|", 1},
      {"validation stop", "s4", 'v', 0, "", kVal + "Sleeping for 2sec Start|" + kVal + "Sleeping for 2sec End", 2, 1},
      {"validation stop: refused", "s4 FailControlService=5", 'v', -1, "",
       "|StopService: Failed ControlService error = 5|" + unable("stop", 5) + "|@In...#..." + kVal +
       "Failed to Stop OrbService (vtnorb), error = " + unable("stop", 5), 1},
  };
  // Wine keeps what its first signature check and its first failed search set up.
  for (const char* library : {"m", "s"}) {
    Scene scene(library);
    QvmManager host(L"vtnorb", L"INSTALLHELPER");
  }
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Scene scene(row.setup);
    BothLogs logs;
    std::wstring status;
    EXPECT_EQ(logs.Run([&] { return RunAction(row.action, logs.handle(), status); }), row.result);
    EXPECT_EQ(GetModuleHandleW(L"vtnqvma.dll"), nullptr);  // every interface given back
    EXPECT_EQ(Narrow(status) + logs.Records(), row.said);
    const std::string logged = scene.Interactions() + "#" + logs.Text();
    EXPECT_TRUE(Matches(logged, "..." + row.logged + "..."));
    const DWORD after = Value(kService, L"State");
    EXPECT_EQ(after, row.stateAfter == kSame ? scene.state : row.stateAfter);
    EXPECT_EQ(g_sleeps, std::vector<DWORD>(row.sleeps, 2000));
    EXPECT_EQ(PathExists(scene.folder / L"QVMProfileForLYNService.xml"), scene.dirRefused);
    if (after == SERVICE_RUNNING || after == SERVICE_STOP_PENDING) {
      const UniqueKernelHandle service(OpenProcess(SYNCHRONIZE, FALSE, Value(kService, L"Pid")));
      EXPECT_EQ(WaitForSingleObject(service.get(), 0), WAIT_TIMEOUT);
    } else if (scene.process) {
      EXPECT_EQ(scene.process->WaitForExitCode(), row.said.find("Terminate LYN") != std::string::npos ? 0xDEADu : 0u);
    }
  }
}
