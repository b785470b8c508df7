// The install, uninstall and rollback sequences with each step a stand-in
// (sequence_seams::step): which steps run, in which order, mode and handle,
// what both logs say and what the action answers when one step fails, throws
// or crashes.
#include "support/TestSupport.h"

#include <new>
#include <regex>

#include "frame/Exports.h"
#include "frame/Sequences.h"

using namespace testsupport;

namespace {

// Steps by letter: K(ill old service), P(olicy), L(egacy service), C(atalogs),
// T (platform core), S(ervice), A(uthorisation), E(nd companions).
const char kLetters[] = "KPLCTSAE";
std::string g_calls;
char g_failing, g_how;  // the row's step: a(nswer) g_answer, t(hrow), c(rash)
int g_answer;
MSIHANDLE g_handle;
int* volatile g_nowhere = nullptr;

// Each step's calls as letter and mode, "!" after one given another handle.
int FakeStep(SequenceStep step, MSIHANDLE handle, int mode) {
  const char letter = kLetters[static_cast<int>(step)];
  g_calls += letter + std::to_string(mode) + (handle == g_handle ? "" : "!");
  if (letter != g_failing) return std::string("KCT").find(letter) != std::string::npos;  // success: 1, or 0
  if (g_how == 't') throw std::bad_alloc();
  if (g_how == 'c') *g_nowhere = 1;
  return g_answer;
}

}  // namespace

TEST(Sequences, AStepThatFailsThrowsOrCrashesIsThatStepsFailureAndTheRestRun) {
  const std::string kIn = "In InstallCustomAction|InstallCustomAction: Calling killExistingORBProcess|",
                    kGone = "InstallCustomAction : Stopped LYNService or it is not present|";
  const std::string kCat = "Do_Catalog_Action() returned non-zero|", kSvc = "InstallORBQVMService() returned non-zero|";
  const std::string kNotStopped = "InstallCustomAction : Failed to Stop LynService 0 and so returning from here |";
  const std::string kNotStoppedRecord =
      "In InstallCustomAction : Failed to Stop OLD LynService and so returning from here| ";
  const std::string kTessel = "InstallTessel() returned non-zero|", kUn = "In UninstallCustomAction|",
                    kRb = "In RollbackCustomAction - Begin|", kRbEnd = "In RollbackCustomAction - End|";
  const std::string kCrashed = " crashed with exception 0xc0000005; the call counts as failed|",
                    kThrew = " ended after an unexpected error: std::bad_alloc|";
  // action: i(nstall), u(ninstall), r(ollback); then the failing step, how,
  // answer; the calls; the result; installer-log records, text-log lines, each line ending in "|".
  const struct {
    const char* name; char action, step, how; int answer; std::string calls; int result; std::string records, text;
  } rows[] = {
      {"install: ending it throws", 'i', 'K', 't', 0, "K1", -1, kNotStoppedRecord,
       kIn + "InstallCustomAction : killExistingORBProcess" + kThrew + kNotStopped},
      {"install: catalogs crash", 'i', 'C', 'c', 0, "K1P1L1C1T1S1", 0, "",
       kIn + kGone + "InstallCustomAction : Do_Catalog_Action" + kCrashed},
      {"install: platform core fails", 'i', 'T', 'a', 0, "K1P1L1C1T1S1", 0, kCat + "InstallTessel() returned FALSE|",
       kIn + kGone + kCat + "InstallCustomAction : Tessel Installation get failed|"},
      {"install: service throws", 'i', 'S', 't', 0, "K1P1L1C1T1S1", 0, kCat + kSvc,
       kIn + kGone + kCat + "InstallCustomAction : InstallORBQVMService" + kThrew + kSvc},
      {"uninstall: InstDir unreadable", 'u', 'T', 'a', 0, "A0C0E0S0T0", 0, kCat, kUn + kCat},
      {"uninstall: service fails", 'u', 'S', 'a', -1, "A0C0E0S0T0", 0, kCat + kSvc + kTessel,
       kUn + kCat + kSvc + kTessel},
      {"rollback: platform core crashes", 'r', 'T', 'c', 0, "S0T0C0", 0, "InstallTessel() is Failed|" + kCat,
       kRb + "RollbackCustomAction : InstallTessel" + kCrashed + kCat + kRbEnd},
  };
  const ScopedSeam<int (*)(SequenceStep, MSIHANDLE, int)> steps(sequence_seams::step, FakeStep);
  try { throw 0; } catch (int) {}  // the process's first exception leaves handles of the runtime's own behind
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    g_calls.clear();
    g_failing = row.step, g_how = row.how, g_answer = row.answer;
    BothLogs logs;
    g_handle = logs.handle();
    auto* action =
        row.action == 'u' ? UninstallCustomAction : row.action == 'r' ? RollbackCustomAction : InstallCustomAction;
    EXPECT_EQ(logs.Run([&] { return action(g_handle); }), row.result);
    EXPECT_EQ(g_calls, row.calls);
    EXPECT_EQ(std::regex_replace(logs.Records(), std::regex("\n\\|?"), "|"), row.records);
    EXPECT_EQ(Joined(logs.Lines(true)) + "|", row.text);
  }
}
