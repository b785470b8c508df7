// Tests of the process runner and of finding and ending the product's
// processes, with real processes: the stand-ins and copies of them.

#include "support/ComponentSupport.h"

#include <psapi.h>

#include <deque>

#include "frame/Platform.h"
#include "process/ProcessControl.h"
#include "process/ProcessRunner.h"

using namespace testsupport;

using Values = std::vector<std::pair<std::string, std::string>>;
// The placeholders ("$PID") replaced by their values.
static std::vector<std::string> Expand(std::vector<std::string> lines, const Values& values) {
  for (auto& line : lines)
    for (const auto& [name, value] : values)
      for (size_t at; (at = line.find(name)) != std::string::npos;) line.replace(at, name.size(), value);
  return lines;
}

const std::string kRunner = "CreateAndExecuteCmdLineProcessWithOutputToFile";
const std::string kEnded = "Function: " + kRunner + " ended", kNoChild = kRunner + "(), Can't create process, error: 2";
const std::string kCreated = kRunner + "(), Successfully Created process with PID: $PID, with TID: $TID";
static BOOL WINAPI ExitCodeUnreadable(HANDLE, LPDWORD) { SetLastError(ERROR_INVALID_HANDLE); return FALSE; }

// Rows: the child's arguments (empty: a program that does not exist); the
// output file below the test folder, out.txt holding the alphabet before
// (nullptr: out.txt without capture); the result; lines that come one after the
// other in the text log; the installer log where it decides the row; what
// out.txt holds afterwards (nullptr: not checked); how the exit code is read.
// $CMD is the command line, $PID and $TID the ids the child wrote about itself.
TEST(ProcessRunner, RunsTheChildHiddenAndReportsHowItEnded) {
  const std::wstring child = L"\"" + StandInPath(L"child.exe") + L"\" ";
  const struct {
    const char* name; std::wstring arguments; const wchar_t* output; int result; Lines lines, records = {};
    const char* after = nullptr; decltype(&GetExitCodeProcess) exitCode = GetExitCodeProcess;
  } rows[] = {
      {"-2 succeeds", L"--ids --sleep 200 --exit 0xFFFFFFFE", L"out.txt", 1,
       {"Function: " + kRunner + " Started", kRunner + "(), process command line is: $CMD", kRunner + " : " + kCreated,
        "", "Return value of ZPK : -2", kEnded},
       {kCreated + "\n"}},
      {"0 succeeds; output and error overwrite the file from its start", L"--out hello --err !", L"out.txt", 1,
       {"Return value of ZPK : 0"}, {}, "hello!GHIJKLMNOPQRSTUVWXYZ"},
      // The child writes the kinds of the standard handles it was given.
      {"1 fails; without capture", L"--out lost --exit 1 --handles C:\\ih-components\\runner\\out.txt", nullptr, 0,
       {"Return value of ZPK : 1"}, {}, "in=null out=null err=null"},
      {"output folder missing", L"--exit 0", L"missing\\out.txt", 1,
       {kRunner + " : Failed to create redirection file its OK? error code = 3"}},
      {"program missing", L"", L"out.txt", 0, {kNoChild, kEnded}, {kNoChild + "\n"}},
      {"exit code unreadable", L"--exit 0", L"out.txt", 0, {" GetExitCodeProcess  failed with error : 6", kEnded}, {},
       nullptr, ExitCodeUnreadable},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const ScratchFolder folder{L"runner"};
    ASSERT_TRUE(WriteFileBytes(folder / L"out.txt", "ABCDEFGHIJKLMNOPQRSTUVWXYZ"));
    const std::wstring output = folder / (row.output ? row.output : L"out.txt");
    const std::wstring command = row.arguments.empty() ? folder / L"none.exe" : child + row.arguments;
    ScopedSeam exitCode(runner_seams::getExitCodeProcess, row.exitCode);
    BothLogs logs;
    const auto run = [&] {
      return CreateAndExecuteCmdLineProcessWithOutputToFile(logs.handle(), command, output, row.output != nullptr);
    };
    EXPECT_EQ(logs.Run(run), row.result);
    const std::string out = ReadFileBytes(folder / L"out.txt");
    unsigned long pid = 0, tid = 0;
    sscanf(out.c_str(), "pid=%lu tid=%lu", &pid, &tid);
    const Values values = {{"$CMD", Narrow(command)}, {"$PID", std::to_string(pid)}, {"$TID", std::to_string(tid)}};
    EXPECT_TRUE(Follow(logs.Lines(), Expand(row.lines, values)));
    if (!row.records.empty()) { EXPECT_EQ(logs.Records(), Joined(Expand(row.records, values))); }
    if (row.after) { EXPECT_EQ(out, row.after); }
  }
}

const wchar_t kGeneralKey[] = L"Software\\Norvale\\LYN\\General";
const std::string kFound = "getProcessHandleByName: LYN Service Found", kEntered = "getProcessHandleByName: Entered",
                  kNotRunning = "killExistingORBProcess : could not get process handle for LynService.exe ",
                  kTerminated = "Terminated Successfully the Process with PID: ",
                  kKilled = "killExistingORBProcess :Successfully killed existing orb service 1";

static std::vector<DWORD> g_listed;  // what the process list hands out
static BOOL WINAPI Listed(DWORD* ids, DWORD bytes, DWORD* returned) {
  *returned = std::min<DWORD>(bytes, g_listed.size() * sizeof(DWORD));
  std::copy_n(g_listed.begin(), *returned / sizeof(DWORD), ids);
  return TRUE;
}
static BOOL WINAPI Unreadable(DWORD*, DWORD, DWORD*) { return FALSE; }
static BOOL WINAPI Refused(HANDLE, UINT) { return FALSE; }
static HANDLE WINAPI NotOpened(DWORD, BOOL, DWORD) { return nullptr; }
static int ByName(MSIHANDLE) { return killExistingORBProcess(); }
static int ByStoredIds(MSIHANDLE hInstall) { return killBypassAndAboutProcesses(hInstall), 0; }

// Ending the product's processes: the service found by name, the companions by
// the ids they stored. Rows: the call; the programs running, copies of a
// long-running stand-in in a scratch folder ("$N" is then program N's id, "#N" its
// line in a lookup); what LYNBypassExePid and ORBAboutExePid hold (nullptr:
// nothing); the result; the programs ended with 0xDEAD; lines that come one
// after the other in the text log; the whole installer log; the process list
// (the real one, one that cannot be read, or the test's own: that many ids
// nobody can open, then the programs in order); the termination; the platform,
// in whose registry view the ids are stored; the open of a stored id.
TEST(ProcessControl, EndsTheServiceByNameAndTheCompanionsByTheirStoredIds) {
  const ScratchFolder copies{L"processes"};
  const std::string kEnded0 = kTerminated + "$0", kEnded1 = kTerminated + "$1",
                    kRefused = "Not terminating the Process with PID: $0, it runs \"" +
                               Narrow(copies / L"[1]\\other.exe") + "\", not ORBBypass.exe",
                    kNotOpened = "Failed to Open the Process with PID: $0, the process may not be running";
  const std::vector<std::wstring> kService = {L"s\\LynService.exe"}, kCompanions = {L"ORBBypass.exe", L"ORBAbout.exe"};
  const struct {
    const char* name; int (*call)(MSIHANDLE); std::vector<std::wstring> programs; const char *bypass, *about;
    int result; unsigned ended; Lines lines, records; decltype(&K32EnumProcesses) list = Listed; size_t unopenable = 0;
    decltype(&TerminateProcess) terminate = TerminateProcess; int (*platform)() = Is64BitWindows;
    decltype(&OpenProcess) open = OpenProcess;
  } rows[] = {
      {"service ended", ByName, kService, nullptr, nullptr, 1, 0b1, {"#0", kFound, kKilled}, {}, K32EnumProcesses},
      {"the first match in list order; letter case counts; a folder named after it matches", ByName,
       {L"c\\lynservice.exe", L"a\\LYNSERVICE.EXE", L"LynService.exe\\host.exe", L"b\\LynService.exe"}, nullptr,
       nullptr, 1, 0b100, {kEntered, "#0", "#1", "#2", kFound, kKilled}, {}, Listed, 1},
      {"the 2048th id is examined, the next not", ByName, {L"other.exe", L"b\\LynService.exe"}, nullptr, nullptr, 1, 0,
       {kEntered, "#0", "getProcessHandleByName: Process END", kNotRunning}, {}, Listed, 2047},
      {"an unreadable list", ByName, kService, nullptr, nullptr, 1, 0, {kEntered, kNotRunning}, {}, Unreadable},
      {"termination refused", ByName, kService, nullptr, nullptr, 0, 0,
       {kEntered, "#0", kFound, "killExistingORBProcess : could not terminate LynService.exe 0"}, {}, Listed, 0,
       Refused},
      {"both companions ended", ByStoredIds, kCompanions, "$0", "$1", 0, 0b11,
       {kEnded0, "Successfully terminated ORBBypass.exe", kEnded1, "Successfully terminated ORBAbout.exe"},
       {kEnded0, kEnded1}},
      {"ids now of a program in a folder named like a log field, and of About's name in other letter case", ByStoredIds,
       {L"[1]\\other.exe", L"c\\orbabout.EXE"}, "$0", "$1", 0, 0b10, {kRefused, "Failed to terminate ORBBypass.exe",
       kEnded1, "Successfully terminated ORBAbout.exe"}, {kRefused, kEnded1}},
      {"no bypass id: About is left alone", ByStoredIds, kCompanions, nullptr, "$1", 0, 0, {}, {}},
      {"a stale bypass id, then About refused", ByStoredIds, kCompanions, "0", "$1", 0, 0,
       {"Failed to Terminate the Process with PID: $1 exit code = 0xdead", "Failed to terminate ORBAbout.exe"},
       {"Failed to Open the Process with PID: 0, the process may not be running"}, Listed, 0, Refused},
      {"32-bit Windows, no About id", ByStoredIds, kCompanions, "$0", nullptr, 0, 0b1, {}, {kEnded0}, Listed, 0,
       TerminateProcess, [] { return 0; }},
      {"an id that cannot be opened is left alone", ByStoredIds, kCompanions, "$0", nullptr, 0, 0, {kNotOpened,
       "Failed to terminate ORBBypass.exe"}, {kNotOpened}, Listed, 0, TerminateProcess, Is64BitWindows, NotOpened},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const REGSAM view = row.platform() ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
    const MachineKeys keys;  // ids that an earlier run left behind would decide the rows
    ScopedSeam list(process_seams::enumProcesses, row.list);
    ScopedSeam end(process_seams::terminateProcess, row.terminate);
    ScopedSeam platform(platform_seams::is64BitWindows, row.platform);
    ScopedSeam open(process_seams::openStoredProcess, row.open);
    std::deque<StartedProcess> programs;
    g_listed.assign(row.unopenable, 0);
    Values known;
    for (const auto& relative : row.programs) {
      const std::wstring path = copies / relative;
      SHCreateDirectoryExW(nullptr, path.substr(0, path.rfind(L'\\')).c_str(), nullptr);
      ASSERT_TRUE(CopyFileW(StandInPath(L"LynService.exe").c_str(), path.c_str(), FALSE));
      g_listed.push_back(programs.emplace_back(path).pid());
      const std::string n = std::to_string(programs.size() - 1), id = std::to_string(g_listed.back());
      known.push_back({"$" + n, id});
      known.push_back({"#" + n, "getProcessHandleByName: process Name = " + Narrow(path) + ",process ID = " + id +
                                    " , return Code is " + std::to_string(path.size())});
    }
    for (const auto& [name, id] : {std::pair(L"LYNBypassExePid", row.bypass), std::pair(L"ORBAboutExePid", row.about)})
      ASSERT_TRUE(!id || RegSetDword(HKEY_LOCAL_MACHINE, kGeneralKey, name, std::stoul(Expand({id}, known)[0]), view));
    BothLogs logs;
    EXPECT_EQ(logs.Run([&] { return row.call(logs.handle()); }), row.result);
    for (size_t i = 0; i < programs.size(); ++i)
      EXPECT_EQ(programs[i].WaitForExitCode(row.ended >> i & 1 ? 10000 : 100),
                row.ended >> i & 1 ? 0xDEADu : STILL_ACTIVE)
          << i;
    EXPECT_TRUE(Follow(logs.Lines(), Expand(row.lines, known)));
    EXPECT_EQ(logs.Records(), Joined(Expand(row.records, known)));
  }
}
