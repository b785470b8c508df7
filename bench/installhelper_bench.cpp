// What the custom actions cost under Wine beyond what they must spend. For
// each export: its time without the host client's fixed waits (counted, not
// slept) and without the run time of the child processes it waited for, as a
// multiple of an empty call. Then the text log's cost per line, and how the
// process lookup grows with the number of running processes. Run by
// tools/bench.sh in a throw-away prefix: it changes the machine freely.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "components/Catalog.h"
#include "frame/Exports.h"
#include "frame/Log.h"
#include "frame/Owners.h"
#include "frame/ProductNames.h"
#include "process/ProcessControl.h"
#include "process/QvmManager.h"

namespace {

double Now() {  // ns
  static const double tick = [] { LARGE_INTEGER f; QueryPerformanceFrequency(&f); return 1e9 / f.QuadPart; }();
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  return c.QuadPart * tick;
}
double Median(std::vector<double> v) {
  std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
  return v[v.size() / 2];
}

// Every process this one starts lands in its job, and the job reports each
// start and end through a completion port. A marker posted to the port after
// a call is dequeued after every message posted before it, so Sync() leaves
// the record complete up to that moment.
class ChildClock {
 public:
  bool Start() {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;  // nothing outlives the run
    JOBOBJECT_ASSOCIATE_COMPLETION_PORT port = {this, m_port.get()};
    return m_job && m_port && m_synced &&
           SetInformationJobObject(m_job, JobObjectExtendedLimitInformation, &limits, sizeof(limits)) &&
           SetInformationJobObject(m_job, JobObjectAssociateCompletionPortInformation, &port, sizeof(port)) &&
           AssignProcessToJobObject(m_job, GetCurrentProcess()) &&
           (m_thread.reset(CreateThread(nullptr, 0, &ChildClock::Run, this, 0, nullptr)), m_thread.valid());
  }
  void Sync() {
    PostQueuedCompletionStatus(m_port.get(), 0, kMarker, nullptr);
    WaitForSingleObject(m_synced.get(), INFINITE);
  }
  // Processes started and ended within [from, to]: how many, and the union of their run times.
  double Within(double from, double to, int& count) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::pair<double, double>> spans;
    for (const Span& s : m_spans)
      if (s.start >= from && s.end >= 0) spans.push_back({s.start, std::min(s.end, to)});
    m_spans.erase(std::remove_if(m_spans.begin(), m_spans.end(), [](const Span& s) { return s.end >= 0; }), m_spans.end());
    std::sort(spans.begin(), spans.end());
    double total = 0, reach = from;
    for (const auto& s : spans) total += std::max(0.0, s.second - std::max(s.first, reach)), reach = std::max(reach, s.second);
    count = static_cast<int>(spans.size());
    return total;
  }

 private:
  static const ULONG_PTR kMarker = 1;
  struct Span { DWORD pid; double start, end; };
  static DWORD WINAPI Run(void* self) {
    auto* clock = static_cast<ChildClock*>(self);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
    DWORD message;
    ULONG_PTR key;
    OVERLAPPED* value;
    while (GetQueuedCompletionStatus(clock->m_port.get(), &message, &key, &value, INFINITE)) {
      const double at = Now();
      const DWORD pid = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(value));
      std::lock_guard<std::mutex> lock(clock->m_mutex);
      if (key == kMarker) {
        SetEvent(clock->m_synced.get());
      } else if (message == JOB_OBJECT_MSG_NEW_PROCESS) {
        clock->m_spans.push_back({pid, at, -1});
      } else if (message == JOB_OBJECT_MSG_EXIT_PROCESS || message == JOB_OBJECT_MSG_ABNORMAL_EXIT_PROCESS) {
        for (auto s = clock->m_spans.rbegin(); s != clock->m_spans.rend(); ++s)
          if (s->pid == pid && s->end < 0) { s->end = at; break; }
      }
    }
    return 0;
  }
  // Never closed here: closing it would end this process itself, which takes Wine's
  // server down with it; the process's end closes it and ends whatever is left.
  HANDLE m_job = CreateJobObjectW(nullptr, nullptr);
  UniqueKernelHandle m_port{CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1)};
  UniqueKernelHandle m_synced{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
  UniqueKernelHandle m_thread;
  std::mutex m_mutex;
  std::vector<Span> m_spans;
};
ChildClock g_children;

// Fixed waits are counted, not slept.
DWORD g_waitedMs = 0;
void WINAPI CountWait(DWORD ms) { g_waitedMs += ms; }

// ---- The machine as an upgrade of the product finds it ----
const std::wstring kBuild = IH_BUILD_DIR, kProduct = L"C:\\Program Files\\Norvale\\LYN\\";
const std::wstring kPlatform = L"C:\\Program Files\\Common Files\\Veltan\\Basalt";  // the vendor's platform
const std::wstring kPolicy = L"C:\\ProgramData\\Norvale\\LYN\\Policy\\LYNPolicy.opg";
const std::wstring kGeneral = L"Software\\Norvale\\LYN\\General", kHost = L"Software\\InstallHelperTests\\QvmHost\\vtnorb";
// The profile: the service's command line.
const std::wstring kService = L"\"" + kProduct + L"LynService.exe\" --sleep 900000 --exit 3";

void SetValue(const std::wstring& key, const wchar_t* name, const std::wstring& text, REGSAM view = 0) {
  UniqueRegKey k;  // a view other than the process's own is reached only through a key opened in it
  RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, k.put(), nullptr);
  RegSetValueExW(k.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), static_cast<DWORD>(text.size() + 1) * 2);
}
void SetNumber(const std::wstring& key, const wchar_t* name, DWORD value) {
  RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, REG_DWORD, &value, sizeof(value));
}
DWORD Number(const std::wstring& key, const wchar_t* name) {
  DWORD value = 0, size = sizeof(value);
  RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size);
  return value;
}
void WriteText(const std::wstring& path, const std::string& text) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  DWORD written;
  WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}
std::vector<UniqueKernelHandle> g_started;  // ended at the end, whatever happened
DWORD Start(std::wstring commandLine) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) return 0;
  CloseHandle(info.hThread);
  g_started.emplace_back(info.hProcess);
  return info.dwProcessId;
}
void EndStarted() {
  for (auto& process : g_started) TerminateProcess(process.get(), 1), WaitForSingleObject(process.get(), 10000);
  g_started.clear();
}
std::wstring Child(const wchar_t* arguments) { return L"\"" + kBuild + L"\\standins\\child.exe\" " + arguments; }

void LayDownMachine() {
  for (const wchar_t* folder : {names::kLangFolder, names::kX64X64Folder, names::kX64X86Folder, names::kX86X64Folder,
                                names::kX86X86Folder, names::kPolicyTempFolder, kPlatform.c_str()})
    CreateDirectoryTree(folder);
  for (const wchar_t* file : {L"vtnqvma.dll", L"vtnhidin.exe", L"trvinfo.exe", L"vtnhidid.xml", L"vtnprod.xml"})
    CopyFileW((kBuild + L"\\packaging\\platform\\" + file).c_str(), (kPlatform + L"\\" + file).c_str(), FALSE);
  CopyFileW((kBuild + L"\\standins\\LynService.exe").c_str(), (kProduct + L"LynService.exe").c_str(), FALSE);
  CopyFileW((kBuild + L"\\standins\\vendor\\vtnhidin.exe").c_str(), (kProduct + L"x64\\vtnhidin.exe").c_str(), FALSE);
  WriteText(kProduct + L"lyn.cat", "LYN catalog stand-in\n");
  SetValue(kGeneral, L"InstDir", kProduct);
  SetValue(kGeneral, L"Version", names::kProductVersion);
  SetValue(kGeneral, L"CommonAppDataFolder", L"C:\\ProgramData\\");
  SetValue(L"Software\\Veltan\\Basalt", L"szInstallDir64", kPlatform, KEY_WOW64_32KEY);
  // What "ver" prints on Windows 10 (Wine's own says "Microsoft Windows 10.0.19045", without
  // the brackets, and the check would skip its folders): through the stand-in interpreter.
  for (const auto& variable : {std::make_pair(L"COMSPEC", kBuild + L"\\standins\\child.exe"),
                               std::make_pair(L"IH_CHILD_PRINTS", std::wstring(L"\r\nMicrosoft Windows [Version 10.0.19045.3803]\r\n"))})
    SetEnvironmentVariableW(variable.first, variable.second.c_str()), _wputenv((variable.first + (L"=" + variable.second)).c_str());
  SetValue(L"SOFTWARE\\Corvane\\KDX\\Shared Components\\Framework", L"Installed Path",
           kBuild + L"\\standins\\pinlet\\full\\", KEY_WOW64_32KEY);
}
// The host's service: ended (its process too) or running a fresh LynService.exe.
void NoService() {
  if (Number(kHost, L"State") == SERVICE_RUNNING) {
    UniqueKernelHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, Number(kHost, L"Pid")));
    if (process) TerminateProcess(process.get(), 1), WaitForSingleObject(process.get(), 10000);
  }
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kHost.c_str()), RegDeleteKeyW(HKEY_LOCAL_MACHINE, kHost.c_str());
  EndStarted();
}
void RunningService() {
  NoService();
  SetValue(kHost, L"Profile", kService);
  SetNumber(kHost, L"Pid", Start(kService));
  SetNumber(kHost, L"State", SERVICE_RUNNING);
}
void PolicySaved() { DeleteFileW(kPolicy.c_str()), WriteText(L"C:\\Windows\\Temp\\LYNPolicy.opg", std::string(4096, 'p')); }
void CatalogsRegistered() {
  for (const wchar_t* member : {L"lyn.cat", L"lyn_IntelSha256.cat"}) InstallCatalog((kProduct + L"lyn.cat").c_str(), member);
}

// ---- The exports, each on its own path ----
enum Kind { kWithHandle, kInt, kVoid };
struct Action { const char* name; Kind kind; void (*function)(); void (*setup)(); int runs; };
template <typename F>
void (*Erase(F f))() { return reinterpret_cast<void (*)()>(f); }

const Action kActions[] = {
    {"CheckJunction", kWithHandle, Erase(&CheckJunction), [] {}, 200},
    {"CheckCaseSentivity", kWithHandle, Erase(&CheckCaseSentivity), [] {}, 20},
    {"StopOrbServiceBeforeInstallValidateAction", kInt, Erase(&StopOrbServiceBeforeInstallValidateAction), RunningService, 15},
    {"UpgradeFix", kVoid, Erase(&UpgradeFix), [] {
       WriteText(kPolicy, std::string(4096, 'p'));
       RegSetKeyValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Veltan\\Pinlet\\Plugins\\ORBPinletPlugin", L"Path", REG_SZ, L"x", 4);
     }, 200},
    {"CopyPolicyBackup", kVoid, Erase(&CopyPolicyBackup), PolicySaved, 200},
    {"InstallCustomAction", kWithHandle, Erase(&InstallCustomAction), [] {
       NoService(), PolicySaved();
       WriteText(kProduct + names::kServiceProfile, std::string(kService.begin(), kService.end()) + "\r\n");
     }, 10},
    {"RollbackCustomAction", kWithHandle, Erase(&RollbackCustomAction), [] { RunningService(), CatalogsRegistered(); }, 10},
    {"UninstallCustomAction", kWithHandle, Erase(&UninstallCustomAction), [] {
       RunningService(), CatalogsRegistered();  // and the companion programs running
       SetNumber(kGeneral, L"LYNBypassExePid", Start(Child(L"--sleep 600000")));
       SetNumber(kGeneral, L"ORBAboutExePid", Start(Child(L"--sleep 600000")));
     }, 10},
    {"UninstallOrbPinletPlugin", kVoid, Erase(&UninstallOrbPinletPlugin), [] {}, 200},
    {"DeleteOrbLogsFolder", kVoid, Erase(&DeleteOrbLogsFolder), [] {
       CreateDirectoryTree(names::kLogsFolder);
       for (const wchar_t* file : {L"\\LynService.log", L"\\LynService.1.log", L"\\qvm_interaction_logs_INSTALLHELPER.txt"})
         WriteText(names::kLogsFolder + std::wstring(file), std::string(16384, 'l'));
     }, 200},
    {"DeleteOrbWRDPolicy", kInt, Erase(&DeleteOrbWRDPolicy), [] {}, 500},
    {"GetPropertyAction", kWithHandle, Erase(&GetPropertyAction), [] {}, 500},
    {"ExecuteProcessX64", kWithHandle, Erase(&ExecuteProcessX64), [] {}, 500},
    {"ExecuteProcessX86", kWithHandle, Erase(&ExecuteProcessX86), [] {}, 500},
};

int EmptyWithHandle(unsigned long) { return 0; }
int EmptyInt() { return 0; }
void EmptyVoid() {}
const Action kEmpty[] = {{"int f(unsigned long hInstall)", kWithHandle, Erase(&EmptyWithHandle), nullptr, 0},
                         {"int f(void)", kInt, Erase(&EmptyInt), nullptr, 0},
                         {"void f(void)", kVoid, Erase(&EmptyVoid), nullptr, 0}};

// As the installer engine calls an export: through a pointer it looked up.
__attribute__((noinline)) void Call(const Action& action, MSIHANDLE session) {
  void (*function)() = action.function;
  asm volatile("" : "+r"(function));  // no inlining of what the pointer holds
  if (action.kind == kWithHandle) reinterpret_cast<int (*)(unsigned long)>(function)(session);
  else if (action.kind == kInt) reinterpret_cast<int (*)()>(function)();
  else function();
}
double EmptyCallNs(const Action& empty, MSIHANDLE session) {
  std::vector<double> perCall;
  for (int batch = 0; batch < 101; ++batch) {
    const double from = Now();
    for (int i = 0; i < 10000; ++i) Call(empty, session);
    perCall.push_back((Now() - from) / 10000);
  }
  return Median(perCall);
}

// The installer's side of the session: every record read, as its log would.
int g_records = 0;
int WINAPI Engine(LPVOID, UINT, MSIHANDLE record) {
  wchar_t text[4096];
  DWORD size = 4096;
  MsiRecordGetStringW(record, 0, text, &size);
  return ++g_records, 1;
}

const std::wstring kTextLog = logdetail::LogFilePath();
long long Size(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  return GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ? (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow : 0;
}
int LinesSince(long long from) {  // messages appended to the text log: each starts with its "[d-m-y]" prefix
  UniqueFile file(CreateFileW(kTextLog.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  LARGE_INTEGER at;
  at.QuadPart = from;
  SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN);
  std::string text(static_cast<size_t>(Size(kTextLog) - from), '\0');
  DWORD read = 0;
  ReadFile(file.get(), &text[0], static_cast<DWORD>(text.size()), &read, nullptr);
  int lines = 0;
  for (size_t i = 0; i < read; ++i) lines += text[i] == '[' && (i == 0 || text[i - 1] == '\n');
  return lines;
}
std::string Load() {  // the Linux machine's load average, through Wine's Z: drive
  char line[64] = "?";
  if (FILE* f = _wfopen(L"Z:\\proc\\loadavg", L"r")) fgets(line, sizeof(line), f), fclose(f);
  return std::string(line, strcspn(line, " ")) + " (1 min)";
}

void MeasureActions(MSIHANDLE session) {
  double emptyNs[3];
  printf("Empty export call (through a function pointer, median of 101 x 10000 calls):\n");
  for (const Action& empty : kEmpty) printf("  %-32s %6.2f ns\n", empty.name, emptyNs[empty.kind] = EmptyCallNs(empty, session));
  printf("\n%-42s %5s %10s %6s %10s %10s %9s %9s %6s\n", "export", "runs", "wall ms", "child", "child ms", "own ms",
         "x empty", "waits ms", "lines");
  for (const Action& action : kActions) {
    std::vector<double> wall, own, childMs, childCount;
    int lines = 0, records = 0;
    g_waitedMs = 0;
    for (int run = 0; run < action.runs; ++run) {
      CreateDirectoryTree(names::kLogsFolder);  // where the product and the host client log
      action.setup();
      const long long logSize = Size(kTextLog);
      g_children.Sync();
      const int recordsBefore = g_records;
      const double from = Now();
      Call(action, session);
      const double to = Now();
      g_children.Sync();
      int count = 0;
      const double children = g_children.Within(from, to, count);
      wall.push_back(to - from), own.push_back(to - from - children), childMs.push_back(children), childCount.push_back(count);
      lines = LinesSince(logSize), records = g_records - recordsBefore;
    }
    const double ownNs = Median(own);
    printf("%-42s %5d %10.3f %6.0f %10.1f %10.3f %9.3g %9u %3d/%d\n", action.name, action.runs, Median(wall) / 1e6,
           Median(childCount), Median(childMs) / 1e6, ownNs / 1e6, ownNs / emptyNs[action.kind],
           static_cast<unsigned>(g_waitedMs / action.runs), lines, records);
    fflush(stdout);
  }
  NoService();
  printf("  wall: the call as the engine sees it (waits counted, not slept); child: processes started and ended\n"
         "  within the call (median count, union of their run times); own = wall - child; x empty: own / empty\n"
         "  call of the same signature; waits ms: fixed waits asked for per call; lines: text-log/installer-log.\n");
}

void MeasureTextLog() {
  const std::wstring bare = logdetail::LogFolderPath() + L"\\bench-bare.txt";
  const wchar_t kLine[] = L"InstallCustomAction : Stopped LYNService or it is not present";
  std::vector<double> logged, appended;
  // As a custom action writes: its first line checks the folder and holds it for the rest.
  auto action = std::make_unique<LogFolderScope>();
  for (int i = 0; i < 1000; ++i) {
    double from = Now();
    InstallLog(kLine);
    logged.push_back(Now() - from);
    SYSTEMTIME now;  // the bytes InstallLog writes
    GetLocalTime(&now);
    const std::string bytes = logdetail::NarrowForLog(logdetail::FormatLogPrefix(now) + kLine + L"\n");
    from = Now();
    UniqueFile file(CreateFileW(bare.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written;
    WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    file.reset();
    appended.push_back(Now() - from);
  }
  action.reset();
  DeleteFileW(bare.c_str());
  printf("\nText log (%ls), median of 1000 each, alternating:\n", kTextLog.c_str());
  printf("  InstallLog, one line                      %8.1f us\n", Median(logged) / 1e3);
  printf("  open-append-close of the same bytes       %8.1f us   (InstallLog = %.2fx)\n", Median(appended) / 1e3,
         Median(logged) / Median(appended));
  for (int lines : {1, 10, 100}) {
    std::vector<double> sequence;
    for (int repeat = 0; repeat < 3000 / lines + 10; ++repeat) {
      const double from = Now();
      const LogFolderScope action;
      for (int i = 0; i < lines; ++i) InstallLog(L"getProcessHandleByName: process Name = %ls,process ID = %d , return Code is %d", L"C:\\windows\\system32\\services.exe", 32, 33);
      sequence.push_back(Now() - from);
    }
    printf("  %3d log line(s) in one action                %8.1f us   (%.1f us a line)\n", lines, Median(sequence) / 1e3,
           Median(sequence) / 1e3 / lines);
  }
}

void MeasureLookup() {
  printf("\nProcess lookup for \"%ls\" (none running: every listed process is opened, named and logged), median of 15:\n",
         names::kServiceExe);
  printf("  %8s %8s %24s %24s %14s\n", "extra", "listed", "getProcessHandleByName", "killExistingORBProcess", "log lines");
  for (size_t extra : {0, 10, 100, 300}) {
    while (g_started.size() < extra) Start(Child(L"--sleep 3600000"));
    for (auto& process : g_started) {  // each one's main module loaded, so that the lookup can name it
      wchar_t path[MAX_PATH];
      for (int i = 0; i < 1500 && !K32GetModuleFileNameExW(process.get(), nullptr, path, MAX_PATH); ++i) Sleep(20);
    }
    std::vector<double> lookup, kill;
    const long long logSize = Size(kTextLog);
    for (int run = 0; run < 15; ++run) {
      double from = Now();
      UniqueFile found(getProcessHandleByName(names::kServiceExe));
      lookup.push_back(Now() - from);
      from = Now();
      killExistingORBProcess();
      kill.push_back(Now() - from);
    }
    DWORD ids[4096], bytes = 0;
    K32EnumProcesses(ids, sizeof(ids), &bytes);
    printf("  %8zu %8zu %21.3f ms %21.3f ms %14d\n", extra, bytes / sizeof(DWORD), Median(lookup) / 1e6, Median(kill) / 1e6,
           LinesSince(logSize) / 30);
    fflush(stdout);
  }
  EndStarted();
}

}  // namespace

int main(int argc, char** argv) {
  // "textlog": the text log's figures alone.
  if (argc > 1 && strcmp(argv[1], "textlog") == 0) {
    MeasureTextLog();
    return 0;
  }
  setvbuf(stdout, nullptr, _IOLBF, 4096);
  if (!g_children.Start()) return printf("cannot put this process in a job with a completion port (%lu)\n", GetLastError()), 2;
  // The job must report the start and the end of a child, or no child time can be taken out.
  g_children.Sync();
  const double from = Now();
  UniqueKernelHandle probe(OpenProcess(SYNCHRONIZE, FALSE, Start(Child(L"--exit 0"))));
  WaitForSingleObject(probe.get(), 30000);
  const double to = Now();
  g_children.Sync();
  int seen = 0;
  const double probeMs = g_children.Within(from, to, seen) / 1e6;
  EndStarted();
  if (seen != 1) return printf("Wine did not report the child's start and end through the job (%d seen)\n", seen), 2;

  qvm_seams::sleep.Set(&CountWait);
  LayDownMachine();
  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  MsiSetExternalUIRecord(&Engine, INSTALLLOGMODE_INFO, nullptr, nullptr);
  MSIHANDLE session = 0;
  if (MsiOpenPackageW((kBuild + L"\\tests\\tiny.msi").c_str(), &session) != ERROR_SUCCESS) return printf("no installer session\n"), 2;
  MsiSetPropertyW(session, L"INSTALLDIR", kProduct.c_str());
  MsiSetPropertyW(session, L"ProductVersion", names::kProductVersion);

  printf("InstallHelper custom actions under Wine; load average at start %s; job reports child processes\n"
         "(a bare child.exe start-and-wait: %.1f ms, of which the job saw the child run %.1f ms)\n\n", Load().c_str(),
         (to - from) / 1e6, probeMs);
  MeasureActions(session);
  MeasureTextLog();
  MeasureLookup();
  printf("\nload average at the end %s\n", Load().c_str());
  MsiCloseHandle(session);
  return 0;
}
