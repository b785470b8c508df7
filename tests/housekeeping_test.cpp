// Upgrade and uninstall housekeeping: the policy saved by the upgrade fix and
// put back at install, the tray plug-in's removal, the log folder's removal.
// The test prefix holds none of the product's, the tray application's or the
// plug-in's keys, no policy backup and no C:\ProgramData\IHHousekeeping: each
// row's scope removes whatever the row made.

#include "support/TestSupport.h"

#include "frame/Exports.h"
#include "frame/Log.h"
#include "frame/Platform.h"
#include "frame/SafeFiles.h"
#include "housekeeping/LogsFolder.h"

using namespace testsupport;

namespace {

const HKEY kLm = HKEY_LOCAL_MACHINE;
const wchar_t kGeneralKey[] = L"Software\\Norvale\\LYN\\General",
              kPluginKey[] = L"SOFTWARE\\Veltan\\Pinlet\\Plugins\\ORBPinletPlugin",
              kTrayKey[] = L"SOFTWARE\\Corvane\\KDX\\Shared Components\\Framework";
const std::wstring kRoot = L"C:\\ProgramData\\IHHousekeeping", kCommon = kRoot + L"\\";  // "CommonAppDataFolder"
const std::wstring kTemp = std::wstring(_wgetenv(L"windir")) + L"\\Temp\\";  // where the backups go
int On64() { return 1; }
int On32() { return 0; }
// A read that fails past a file's start: a copy broken after its first chunk.
BOOL WINAPI FailsPastStart(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED overlapped) {
  LARGE_INTEGER at = {};
  SetFilePointerEx(file, at, &at, FILE_CURRENT);
  if (at.QuadPart > 0) SetLastError(ERROR_READ_FAULT);
  return at.QuadPart == 0 && ReadFile(file, buffer, size, read, overlapped);
}

struct HousekeepingScope : MachineKeys {
  ~HousekeepingScope() {
    RemoveTree(kRoot);
    RemoveTree(kTemp + L"LYNPolicy.opg");
    RemoveTree(kTemp + L"ORBPolicy.opg");
  }
};

void Put(const std::wstring& path, const std::string& content) {
  CreateDirectoryTree(path.substr(0, path.rfind(L'\\')));
  ASSERT_TRUE(WriteFileBytes(path, content)) << Narrow(path);
}

// Wine's shell sends an undoable delete to the trash in XDG_DATA_HOME, which wine-run.sh keeps with the prefix.
// The trash is emptied again.
bool InTrash() {
  const std::wstring trash = L"Z:" + std::wstring(_wgetenv(L"XDG_DATA_HOME")) + L"\\Trash";
  const bool found = PathExists(trash + L"\\info");
  RemoveTree(trash);
  return found;
}

// The four files an upgrade can meet, newest policy first: the policy, the
// older product's policy, the backup, the older line's backup. A row gives
// them as one letter each: the file's content, or '-' when it is absent; a
// fifth letter "t" stands for the policy's temporary folder (and so its parent),
// "T" for one with a private list, as the restore makes it.
const std::wstring kFiles[4] = {kCommon + L"Norvale\\LYN\\Policy\\LYNPolicy.opg",
                                kCommon + L"Veltan\\ORB\\Policy\\ORBPolicy.opg", kTemp + L"LYNPolicy.opg",
                                kTemp + L"ORBPolicy.opg"};
void PutFiles(const std::string& files) {
  for (int i = 0; i < 4; ++i) if (files[i] != '-') Put(kFiles[i], files.substr(i, 1));
  if (files.size() > 4 && files[4] == 't') CreateDirectoryTree(kCommon + L"Norvale\\LYN\\Policy\\Temp");
}
std::string ReadFiles() {
  std::string files;
  for (const auto& file : kFiles) files += PathExists(file) ? ReadFileBytes(file) : "-";
  const std::wstring temp = kCommon + L"Norvale\\LYN\\Policy\\Temp";
  return files + (!PathExists(temp) ? "-" : OpenToEveryone(temp) ? "t" : "T");
}

// The product writes its policy while the restore copies the backup.
BOOL WINAPI PolicyWrittenMeanwhile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED overlapped) {
  if (!PathExists(kFiles[0])) WriteFileBytes(kFiles[0], "n");
  return ReadFile(file, buffer, size, read, overlapped);
}

}  // namespace

TEST(PolicyBackup, SavedByTheUpgradeFixAndPutBackByTheRestore) {
  const std::string fixStart = "UpgradeFix started", fixEnd = "UpgradeFix end", saved = "Backed-up policy file",
                    failed = "Failed to backup policy file, Error Code: ", start = "CopyPolicyBackup start",
                    end = "CopyPolicyBackup end",
                    restored = "Restored policy file in path-> " + Narrow(kFiles[0]) + "  ",
                    notRestored = "Did not restore policy file, Error Code: ";
  // valueView: where "CommonAppDataFolder" is; before, after: the four files and the policy's temporary folder;
  // keysAfter: the views still holding the plug-in key; otherVolume: the common folder on a volume of its own (tmpfs),
  // where the restore copies; read: the copy's read.
  const struct {
    const char* name; void (*action)(); REGSAM valueView; int (*platform)();
    const char *before, *after; REGSAM keysAfter; Lines lines; bool otherVolume = false;
    decltype(&ReadFile) read = ReadFile;
  } rows[] = {
      // clang-format off
      {"policy copied over a backup", UpgradeFix, k64, On64, "p-b-", "p-p--", k32, {fixStart, saved, fixEnd}},
      {"older product's policy", UpgradeFix, k64, On64, "-o--", "-oo--", k32, {fixStart, failed + "3", saved, fixEnd}},
      {"no policy", UpgradeFix, k64, On64, "--b-t", "--b-t", k32, {fixStart, failed + "2", failed + "3", fixEnd}},
      {"32-bit Windows, default view", UpgradeFix, k32, On32, "p---", "p----", k64, {fixStart}},
      {"policy in place", CopyPolicyBackup, k64, On64, "p-bo", "p-boT", k64 | k32, {start, notRestored + "183", end}},
      {"older line's backup", CopyPolicyBackup, k64, On64, "---o", "o---T", k64 | k32,
       {start, notRestored + "2", restored, end}},
      {"value in the 32-bit view", CopyPolicyBackup, k32, On64, "--b-", "--b--", k64 | k32, {start}},
      {"32-bit Windows", CopyPolicyBackup, k32, On32, "--b-", "b---T", k64 | k32, {start, restored, end}},
      {"a read fails mid-copy", UpgradeFix, k64, On64, "p-b-", "p-b--", k32, {fixStart, failed + "30", failed + "3",
       fixEnd}, false, FailsPastStart},
      {"policy written meanwhile, other volume", CopyPolicyBackup, k64, On64, "--b-", "n-b-T", k64 | k32,
       {start, notRestored + "183", end}, true, PolicyWrittenMeanwhile},
      {"a read fails mid-copy, other volume", CopyPolicyBackup, k64, On64, "--b-", "--b-T", k64 | k32,
       {start, notRestored + "30", notRestored + "2", end}, true, FailsPastStart},
      // clang-format on
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    HousekeepingScope scope;
    // The library reaches the other volume as the drive S: (a link below a drive's root it refuses), the test
    // through kRoot, a link to the same folder.
    const std::string volume = "/dev/shm/ih-housekeeping", s = UnixPath(L"C:\\") + "/../dosdevices/s:",
                      root = UnixPath(kRoot);
    const ScopeExit removeVolume([&] { if (row.otherVolume) RunUnix("rm -rf " + volume + " " + s + " " + root); });
    ASSERT_TRUE(!row.otherVolume || RunUnix("mkdir -p " + volume + " && ln -sfn " + volume + " " + s + " && ln -sfn " +
                                            volume + " " + root) == 0);
    ScopedSeam seam(platform_seams::is64BitWindows, row.platform);
    ScopedSeam read(file_seams::readFile, row.read);
    ASSERT_TRUE(RegSetString(kLm, kGeneralKey, L"CommonAppDataFolder", row.otherVolume ? L"S:\\" : kCommon,
                             row.valueView));
    for (REGSAM view : {k64, k32}) ASSERT_TRUE(RegSetString(kLm, kPluginKey, L"Path", L"x", view));
    PutFiles(row.before);
    EXPECT_EQ(BothLogs::LinesOf(row.action), row.lines);
    EXPECT_EQ(ReadFiles(), row.after);
    for (REGSAM view : {k64, k32}) EXPECT_EQ(RegKeyExists(kLm, kPluginKey, view), (row.keysAfter & view) != 0);
  }
}

// The next test's child: the upgrade's backup, the old product's removal and
// the restore, ended before the change numbered IH_POLICY_END_AT.
TEST(PolicyBackup, DISABLED_EndedAtAChange) {
  ScopedSeam end(file_seams::beforeChange, +[] {
    static int changes = 0;
    if (++changes == _wtoi(_wgetenv(L"IH_POLICY_END_AT"))) TerminateProcess(GetCurrentProcess(), 99);
  });
  UpgradeFix();
  DeleteFileW(L"S:\\Norvale\\LYN\\Policy\\LYNPolicy.opg");
  CopyPolicyBackup();
}

// S: is the common folder, on the backup's volume and then on another (tmpfs), where the restore copies.
TEST(PolicyBackup, EndedAtAnyChangeLeavesThePolicyWholeInOnePlace) {
  const std::string p(10000, 'p'), drive = UnixPath(L"C:\\") + "/../dosdevices/s:";
  const std::wstring policy = L"S:\\Norvale\\LYN\\Policy\\LYNPolicy.opg";
  const auto read = [](const std::wstring& path) { return PathExists(path) ? ReadFileBytes(path) : "-"; };
  const std::wstring arguments =
      L"--gtest_brief=1 --gtest_also_run_disabled_tests --gtest_filter=PolicyBackup.DISABLED_EndedAtAChange";
  HousekeepingScope scope;
  ASSERT_TRUE(RegSetString(kLm, kGeneralKey, L"CommonAppDataFolder", L"S:\\", k64));
  for (const std::string& volume : {UnixPath(L"C:\\") + "/ih-policy-s", std::string("/dev/shm/ih-policy-s")}) {
    ASSERT_EQ(RunUnix("mkdir -p " + volume + " && ln -sfn " + volume + " " + drive), 0);
    for (DWORD n = 1, code = 99; code == 99; ++n) {
      Put(policy, p);
      Put(kFiles[2], "old");
      ScopedEnvironmentVariable at(L"IH_POLICY_END_AT", std::to_wstring(n).c_str());
      code = StartedProcess(Widen(_pgmptr), arguments).WaitForExitCode(60000);
      // Never a part anywhere; a run to the end restores.
      const std::string state = read(policy) + "|" + read(kFiles[2]);
      EXPECT_TRUE(code ? code == 99 && (state == p + "|old" || state == p + "|" + p || state == "-|" + p)
                       : state == p + "|-") << volume << " ended at " << n << ": " << code << ", " << state.size();
    }
    RunUnix("rm -rf " + volume + " " + drive + " " + UnixPath(kTemp) + "/LYNPolicy.opg.*.tmp");
  }
}

// The stand-in support libraries (standins/pinlet) write their calls, load
// and unload into the text log, among the action's lines.
TEST(TrayPlugin, UnregistersThroughTheTrayApplicationsLibraryAndReleasesIt) {
  ScopedEnvironmentVariable record(L"IH_PINLET_RECORD", logdetail::LogFilePath().c_str());
  auto standIn = [](const wchar_t* v) -> std::wstring {  // "=": the value as it stands
    return *v == L'=' ? v + 1 : BuildDir() + L"\\standins\\pinlet\\" + v + L"\\"; };
  auto said = [](const std::string& text) { return "UninstallPinletPlugin :  " + text; };
  auto last = [](const Lines& lines, size_t n) { return Lines(lines.end() - std::min(n, lines.size()), lines.end()); };
  const std::string library = Narrow(standIn(L"full")) + "PinletInstSupp.dll", unloaded = "PinletInstSupp: unloaded",
                    done = "UninstallPinletPlugin : successfull in unloading ORB Pinlet plugin",
                    end = "UninstallOrbPinletPlugin end",
                    failed = "UninstallPinletPlugin : failed to unload ORB Pinlet plugin ",
                    noTray = "UninstallPinletPlugin : Unable to get Pinlet installation directory From Regular Node.";
  // What comes before the library is loaded (the protection policy's removal, the lookup in the 32-bit view)
  // the sample package run checks.
  const Lines full = {said(library), "PinletInstSupp: loaded", said("Successfully loaded " + library),
                      "PinletInstSupp: PluginUninstallPrep(" + Narrow(kCommon) + "OrbPinletPlugin.dll) -> 0",
                      said("PluginUninstallPrep success."),
                      "PinletInstSupp: PluginUninstallComplete(ORBPinletPlugin) -> 0",
                      said("PluginUninstallComplete success."), done, unloaded, end};
  // The stand-in named in each view of the tray folder (null: no value), the two entry points' results (null: 0),
  // the product folder's view, the platform, and the last lines of the log.
  const struct {
    const char* name; const wchar_t *tray32, *tray64, *prepResult, *completeResult;
    REGSAM productView; int (*platform)(); Lines last;
  } rows[] = {
      // clang-format off
      {"both calls succeed",  L"full", 0, 0, 0, k64, On64, full},
      {"no library", L"missing", 0, 0, 0, k64, On64, {said("Unable to load PinletInstSupp.dll 126"), failed, end}},
      {"the 32-bit view first", L"noprep", L"full", 0, 0, k64, On64,
       {said("could not load function PluginUninstallPrep."), failed, unloaded, end}},
      {"product folder in the other view", L"full", 0, 0, 0, k32, On64,
       {said("Unable to get ORB installation directory."), done, unloaded, end}},
      {"32-bit Windows", L"full", 0, 0, 0, k32, On32, last(full, 4)},
      {"preparation fails: no completion looked for", L"nocomplete", 0, L"5", 0, k64, On64,
       {said("call to PluginUninstallPrep failed."), failed, unloaded, end}},
      {"no completion", L"nocomplete", 0, 0, 0, k64, On64,
       {said("could not load function PluginUninstallComplete."), failed, unloaded, end}},
      {"completion fails", L"full", 0, 0, L"1", k64, On64,
       {"PinletInstSupp: PluginUninstallComplete(ORBPinletPlugin) -> 1",
        said("call to PluginUninstallComplete failed."), failed, unloaded, end}},
      {"an empty folder is none", L"=", L"full", 0, 0, k64, On64, full},
      {"a relative folder is none", L"=standins\\pinlet\\full\\", 0, 0, 0, k64, On64, {noTray, done, end}},
      // clang-format on
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    HousekeepingScope scope;
    ScopedSeam seam(platform_seams::is64BitWindows, row.platform);
    ScopedEnvironmentVariable prep(L"IH_PINLET_PREP_RESULT", row.prepResult),
        complete(L"IH_PINLET_COMPLETE_RESULT", row.completeResult);
    ASSERT_TRUE(RegSetString(kLm, kGeneralKey, L"InstDir", kCommon, row.productView));
    if (row.tray32) RegSetString(kLm, kTrayKey, L"Installed Path", standIn(row.tray32), k32);
    if (row.tray64) RegSetString(kLm, kTrayKey, L"Installed Path", standIn(row.tray64), k64);
    EXPECT_EQ(last(BothLogs::LinesOf(UninstallOrbPinletPlugin), row.last.size()), row.last);
  }
}

TEST(LogsFolder, RemovesTheFolderWithItsContentForGood) {
  const std::wstring log = kCommon + L"Norvale\\LYN\\Logs\\Archive\\probe.log";
  const std::string d = "DeleteOrbLogsFolder: ", start = d + "Start", end = d + "End";
  const struct {  // logs, held, logLeft: a log put in the folder, held open, still there afterwards
    const char* name; REGSAM valueView; bool logs, held, logLeft; Lines lines;
  } rows[] = {
      // clang-format off
      {"removed",         k64, true,  false, false, {start, d + "Successfully removed the ORB logs directory", end}},
      {"no folder",       k64, false, false, false, {start, d + "Failed to Find the ORB logs directory", end}},
      {"value only in the 32-bit view", k32, true, false, true,
       {start, d + "ERROR - Not able to find the ORB Logs Directory, This is Un-Expected"}},
      {"a log held open", k64, true,  true,  true,  {start, d + "Not able to remove the ORB logs directory", end}},
      // clang-format on
  };
  // The trash check sees what goes there: a delete that is not permanent. The
  // shell's first-use handles, of both kinds of delete, are made before the rows count.
  Put(log, "log");
  EXPECT_TRUE(DeletePathWithShell(log, false));
  EXPECT_TRUE(InTrash());
  RemoveTree(kRoot);
  // The value is read in the default view, whatever the platform.
  ScopedSeam seam(platform_seams::is64BitWindows, On32);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    HousekeepingScope scope;
    ASSERT_TRUE(RegSetString(kLm, kGeneralKey, L"CommonAppDataFolder", kCommon, row.valueView));
    Put(kFiles[0], "policy");
    if (row.logs) Put(log, "log");
    UniqueFile held(row.held ? CreateFileW(log.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)
                             : INVALID_HANDLE_VALUE);
    EXPECT_EQ(BothLogs::LinesOf(DeleteOrbLogsFolder), row.lines);
    EXPECT_EQ(PathExists(log), row.logLeft);
    if (row.logLeft) { EXPECT_EQ(OpenToEveryone(kCommon + L"Norvale\\LYN\\Logs"), !row.held); }  // taken from users
    EXPECT_EQ(ReadFileBytes(kFiles[0]), "policy");
    EXPECT_FALSE(InTrash());
  }
}
