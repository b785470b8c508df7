// What other users can plant where the custom actions write, read and delete: links
// (Unix symbolic links, which Wine shows as directory links), second names of
// another file (hard links), files and folders of a foreign owner. Reused process ids: the ProcessControl test.
#include "support/ComponentSupport.h"

#include <sddl.h>

#include <functional>
#include <regex>

#include "components/PlatformCore.h"
#include "components/UninstallSet.h"
#include "frame/Exports.h"
#include "frame/SafeFiles.h"
#include "housekeeping/PolicyBackup.h"
#include "process/ProcessRunner.h"
#include "process/ProductService.h"
#include "process/QvmManager.h"

using namespace testsupport;

namespace {
const std::wstring kBackup = std::wstring(_wgetenv(L"windir")) + L"\\Temp\\LYNPolicy.opg";
// Quoted for the shell; the last name need not exist yet.
std::string Unix(const std::wstring& path) {
  const size_t cut = path.rfind(L'\\');
  return "'" + UnixPath(path.substr(0, cut)) + "/" + Narrow(path.substr(cut + 1)) + "'";
}

// Wine makes every file the test's own: other owners come through the seam,
// for the files or folders whose paths end in one of g_ownedName's names
// ("a|b"); the rest, the Windows folder among them, is SYSTEM's.
const wchar_t *g_owner, *g_ownedName;  // the owner as SDDL
DWORD WINAPI OwnedBy(HANDLE object, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID* owner, PSID*, PACL*, PACL*,
                     PSECURITY_DESCRIPTOR* descriptor) {
  wchar_t path[MAX_PATH] = {};
  GetFinalPathNameByHandleW(object, path, MAX_PATH, 0);
  // The names as alternatives that end the path, their backslashes and dots taken as they are.
  const std::wregex names(L"(" + std::regex_replace(g_ownedName, std::wregex(L"[\\\\.]"), L"\\$&") + L")$",
                          std::regex::icase);
  const bool owned = std::regex_search(path, names);
  BOOL defaulted = FALSE;
  ConvertStringSecurityDescriptorToSecurityDescriptorW(owned ? g_owner : L"O:SY", SDDL_REVISION_1, descriptor, nullptr);
  return GetSecurityDescriptorOwner(*descriptor, owner, &defaulted) ? ERROR_SUCCESS : ERROR_INVALID_DATA;
}
std::function<void()> Owned(const wchar_t* owner, const wchar_t* name, std::function<void()> step) {
  return [=] {
    g_owner = owner;
    g_ownedName = name;
    ScopedSeam seam(file_seams::getSecurityInfo, &OwnedBy);
    step();
  };
}
}  // namespace

// Each row puts a link to the victim folder $V or its empty subfolder ("ln -s"),
// a second name of its one file ("ln"), a copy of it ("cp") or a file of its own
// where a step writes, reads, deletes or restores from; the victim must stay as it was. Wine will
// not open a link as itself, so a link met by a deletion stays. Relative paths
// are the scratch folder's, the current folder meanwhile.
TEST(PlantedFiles, NeverLeadAWriteADeletionOrARestoreElsewhere) {
  ScratchFolder scratch(L"safety");
  const std::wstring common = scratch / L"common\\", set = scratch / L"set";
  const std::string cd = "cd " + Unix(scratch.path) + " && ", victim = Unix(scratch.path) + "/rel/Norvale/LYN/Logs";
  const std::string d = "DeleteOrbLogsFolder: ", notRemoved = d + "Not able to remove the ORB logs directory";
  const std::string notOwn = "Did not restore " + Narrow(kBackup) +
                             ": a link, a file with another name or not owned by the system or administrators";
  const std::string restored =
      "Restored policy file in path-> " + Narrow(common) + "Norvale\\LYN\\Policy\\LYNPolicy.opg  ";
  const std::wstring child = L"\"" + StandInPath(L"child.exe") + L"\" --out planted";
  const std::string unopened =
      "Unable to open " + Narrow(scratch / L"common\\QVMProfileForLYNService.xml") + " aborting LYN installation";
  const std::string saved = "Backed-up policy file", refused = "Failed to backup policy file, Error Code: 1920",
                    notRestored = "Did not restore policy file, Error Code: 1920";
  const auto log = [] { InstallLog(L"%s", L"planted"); };
  const std::string programData = UnixPath(names::kProgramData), logs = UnixPath(logdetail::LogFolderPath()) + "/",
                    policy = "common/Norvale/LYN/Policy/LYNPolicy.opg",
                    backup = "mkdir -p common/Norvale/LYN/Policy && printf policy >" + Unix(kBackup) + " && ";
  // The names the platform installer's install and removal write and capture into, and the text log: each made
  // the library's own, a single-named file, before anything writes there.
  std::string vendors;
  for (const char* name : {"lyn_tessel_inst_4.9.0.log", "lyn_tessel_inst_4.9.0.etl", "lyn_tessel_uninst_4.9.0.log",
                           "lyn_tessel_uninst_4.9.0.etl", "lynInst_vtnhidin_cmdout.txt"})
    vendors += " '" + logs + name + "'";
  const std::string written = vendors + " '" + logs + "LYNInstLogs_4.9.0.txt'";
  const auto madeFresh = [&] {  // nor does a user's text stay there
    InstallTessel(0, 1);
    InstallTessel(0, 0);
    log();
    InstallLog(L"fresh: %d", RunUnix("for f in" + written + "; do [ -f \"$f\" ] && [ ! -h \"$f\" ] && "
                                     "[ $(stat -c %h \"$f\") = 1 ] && ! grep -q by-a-user \"$f\" || exit 1; done"));
  };
  const std::string held = logs + "lyn_tessel_inst_4.9.0.log", notMade = Narrow(logdetail::LogFolderPath()) +
                           "\\lyn_tessel_inst_4.9.0.log cannot be made ready for the platform installer, Error Code: 5";
  const struct {
    const char* name; std::string link, ln; std::function<void()> step; std::string line; std::wstring value = L"";
  } rows[] = {
      {"a link inside the logs folder", "common/Norvale/LYN/Logs/Archive/old", "ln -s $V/empty",
       DeleteOrbLogsFolder, notRemoved},
      {"the logs folder is a link", "common/Norvale/LYN/Logs", "ln -s $V", DeleteOrbLogsFolder, notRemoved},
      {"the uninstall set's folder is a link", "set", "ln -s $V",
       [&] { deleteZpkInstallSetFromTmp(LogTesselMessage, set.c_str(), GetUninstallFileSet(L"{0}")); },
       "TESSEL: [ERROR] Failed to delete temporary folder [" + Narrow(set) + "] [1920]"},
      {"the text log's folder is a link", Unix(logdetail::LogFolderPath()), "ln -s $V",
       [&] { CreateAndExecuteCmdLineProcessWithOutputToFile(0, child, logdetail::LogFolderPath() + L"\\o.txt", true); },
       ""},
      {"the text log's folder made by another user", Unix(logdetail::LogFolderPath() + L"\\x"),
       "printf earlier >" + Unix(logdetail::LogFilePath()) + " && touch", Owned(L"O:BU", names::kLogFolderName, [&] {
         log();  // its lines go on in the new one
         InstallLog(L"planted: %d, lines kept: %d", int(PathExists(logdetail::LogFolderPath() + L"\\x")),
                    int(ReadFileBytes(logdetail::LogFilePath()).find("earlier") == 0));
       }), "planted: 0, lines kept: 1"},
      {"the host client's log folder is a link", "'" + programData + "/Norvale/LYN/Logs'",
       "mkdir -p '" + programData + "/Norvale/LYN' && ln -s $V", [] { QvmManager(names::kQvmServiceName, L"x"); }, ""},
      {"a parent of the logs folder is a link", "common/Norvale", "ln -s $V/../..", DeleteOrbLogsFolder, notRemoved},
      {"links at the platform installer's, its capture's and the text log's names", written, "ln -s $V/vtnhidin.exe",
       madeFresh, "fresh: 0"},
      {"second names there", written, "ln $V/vtnhidin.exe", madeFresh, "fresh: 0"},
      {"users' files there", vendors, "printf by-a-user >",
       Owned(L"O:BU", L"4.9.0.log|4.9.0.etl|cmdout.txt", madeFresh), "fresh: 0"},
      {"the platform installer's log held open", "'" + held + "'", "touch", [&] {
         const UniqueFile open(CreateFileW((logdetail::LogFolderPath() + L"\\lyn_tessel_inst_4.9.0.log").c_str(),
                                           GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0, OPEN_EXISTING, 0, 0));
         BothLogs both;
         EXPECT_EQ(both.Run([&] { return InstallTessel(both.handle(), 1); }), 0);
         EXPECT_TRUE(Matches(both.Records(), "..." + notMade + ", it is not run"));
       }, "InstallTessel: " + notMade + ", it is not run"},
      {"the older product's policy backed up over a second name", Unix(kBackup), "ln $V/vtnhidin.exe",
       UpgradeFix, saved},
      {"the older product's policy through a folder link", "common/Veltan/ORB/Policy",
       "printf secret >$V/empty/ORBPolicy.opg && ln -s $V/empty", UpgradeFix, refused},
      {"the older product's policy owned by users", "none", "true", Owned(L"O:BU", L"ORBPolicy.opg", UpgradeFix),
       refused},
      {"a service profile a second name", "common/QVMProfileForLYNService.xml", "ln $V/vtnhidin.exe",
       [] { InstallORBQVMService(0, 1); }, unopened},
      {"held levels renamed meanwhile", "none", backup + "true", [&] {
         static const std::wstring lyn = common + L"Norvale\\LYN", temp = lyn + L"\\Policy\\Temp";
         ScopedSeam renaming(file_seams::beforeChange, +[] {
           for (const std::wstring& level : {temp, lyn}) MoveFileW(level.c_str(), (level + L"2").c_str());
         });
         CopyPolicyBackup();
         InstallLog(L"where they belong: %d", int(PathExists(temp) && PathExists(lyn + L"\\Policy\\LYNPolicy.opg")));
       }, "where they belong: 1"},
      {"restored into a folder owned by users", Unix(kBackup), "printf policy >",
       Owned(L"O:BU", L"Norvale\\LYN\\Policy", CopyPolicyBackup), notRestored},
      {"a backup owned by the running account, not SYSTEM", Unix(kBackup), "cp $V/vtnhidin.exe",
       Owned(L"O:S-1-5-21-0-0-0-1000", L"LYNPolicy.opg", CopyPolicyBackup), notOwn},  // Wine's running account
      {"a backup owned by the Windows folder's owner", Unix(kBackup), "cp $V/vtnhidin.exe",
       Owned(L"O:S-1-5-21-7-7-7-1001", L"LYNPolicy.opg|\\windows", CopyPolicyBackup), restored},
      {"a link in the policy's place", policy, backup + "ln -s $V/vtnhidin.exe", CopyPolicyBackup, restored},
      {"a second name in the policy's place", policy, backup + "ln $V/vtnhidin.exe", CopyPolicyBackup, restored},
      {"a user's file in the policy's place", policy, backup + "printf user >",
       Owned(L"O:BU", L"Policy\\LYNPolicy.opg", CopyPolicyBackup), restored},
      {"a backup owned by the administrators", Unix(kBackup), "cp $V/vtnhidin.exe",
       Owned(L"O:BA", L"LYNPolicy.opg", CopyPolicyBackup), restored},
      {"a common folder relative to the drive's current folder", "none", "true", DeleteOrbLogsFolder,
       d + "ERROR - Not able to find the ORB Logs Directory, This is Un-Expected", L"C:rel\\"},
      {"a relative common folder at restore", "none", "true", CopyPolicyBackup,
       "Policy file left alone: CommonAppDataFolder is not a full path: rel\\", L"rel\\"},
  };
  ComponentKeys keys;
  const ScopedCurrentDirectory inScratch(scratch.path);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    keys.SetProduct(L"CommonAppDataFolder", row.value.empty() ? common : row.value);
    keys.SetProduct(L"InstDir", scratch / L"common");
    CreateDirectoryW(logdetail::LogFolderPath().c_str(), nullptr);
    ASSERT_EQ(RunUnix(cd + "V=" + victim + " && rm -rf common set rel && mkdir -p $V/empty common/Veltan/ORB/Policy " +
                      "common/Norvale/LYN/Logs/Archive && printf victim >$V/vtnhidin.exe && printf policy >" +
                      "common/Veltan/ORB/Policy/ORBPolicy.opg && rm -rf " + row.link + " && for f in " + row.link +
                      "; do " + row.ln + " \"$f\"; done"), 0);
    LogCapture capture;
    row.step();
    const Lines lines = capture.Lines();
    RunUnix(cd + "rm -rf " + row.link);
    EXPECT_EQ(
        RunUnix("cd " + victim + " && test \"$(echo $(ls -A) $(cat vtnhidin.exe))\" = 'empty vtnhidin.exe victim'"), 0);
    EXPECT_TRUE(row.line.empty() || std::count(lines.begin(), lines.end(), row.line))
        << ::testing::PrintToString(lines);
  }
  RunUnix("rm -rf '" + programData + "/Norvale'");
}
