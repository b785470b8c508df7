#include "support/ComponentSupport.h"

#include "components/Catalog.h"
#include "components/ComponentLoader.h"
#include "components/PlatformCore.h"
#include "components/UninstallSet.h"
#include "frame/Platform.h"
#include "frame/SafeFiles.h"

using namespace testsupport;

namespace {

// The real catalog database, one letter per member: 0 nothing, o an earlier
// catalog, P the product's, D a folder in the way.
const wchar_t* const kMembers[] = {L"lyn.cat", L"lyn_IntelSha256.cat", L"orb_64.cat", L"orb_32.cat"};
const std::wstring kDatabase = L"C:\\windows\\system32\\catroot\\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}\\";
// Sets the database to the given state, when one is given, and reads it back. A fresh prefix has no database
// folder until the first catalog is added.
std::string Database(const std::string& set = "") {
  std::string state;
  if (!set.empty()) SHCreateDirectoryExW(nullptr, kDatabase.c_str(), nullptr);
  for (size_t i = 0; i < 4; ++i) {
    const std::wstring path = kDatabase + kMembers[i];
    if (!set.empty() && RemoveTree(path) && set[i] != '0')
      set[i] == 'D' ? CreateDirectoryW(path.c_str(), nullptr) : WriteFileBytes(path, "o");
    state += (ReadFileBytes(path) + "D0")[PathExists(path) ? 0 : 1];  // a folder reads as no bytes, and so does no file
  }
  return state;
}
// Wine's removal reports success whatever it found: here a folder in the member's place refuses it.
BOOL WINAPI RemoveUnlessFolder(HCATADMIN admin, LPCWSTR member, DWORD flags) {
  if (PathIsDirectoryW((kDatabase + member).c_str())) return FALSE;
  return catalog_seams::removeCatalog.real()(admin, member, flags);
}

// A forced answer of the signature check (0: the real one). The real check
// runs all the same: Wine holds the file open until its state is closed,
// which the handle probe sees.
DWORD g_answer = 0;
const wchar_t* const kVariants[] = {L"signed", L"unsigned", L"tampered", L"noexport"};  // of the component
LONG WINAPI AnswerChosen(HWND window, GUID* action, LPVOID data) {
  const LONG real = loader_seams::winVerifyTrust.real()(window, action, data);
  const bool opens = static_cast<WINTRUST_DATA*>(data)->dwStateAction == WTD_STATEACTION_VERIFY;
  return opens && g_answer != 0 ? static_cast<LONG>(g_answer) : real;
}

// Whether a file or folder matches the pattern.
bool Found(const std::wstring& pattern) {
  WIN32_FIND_DATAW found;
  return UniqueFind(FindFirstFileW(pattern.c_str(), &found)).valid();
}
// The random source's draws for the set folder's name (two bytes), one a call, the last one repeated; the fresh
// files' longer names come from the real source.
std::vector<USHORT> g_draws;
BOOLEAN WINAPI Drawn(PVOID buffer, ULONG size) {
  if (size != sizeof(USHORT)) return file_seams::systemRandom.real()(buffer, size);
  memset(buffer, 0, size);
  memcpy(buffer, &g_draws.front(), std::min<ULONG>(size, sizeof(USHORT)));
  if (g_draws.size() > 1) g_draws.erase(g_draws.begin());
  return TRUE;
}
// Both vendor programs are the same stand-in: every file named is a copy of it.
void Place(const std::wstring& folder, const std::vector<std::wstring>& files) {
  RemoveTree(folder);
  SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
  for (const std::wstring& file : files)
    CopyFileW((BuildDir() + L"\\standins\\vendor\\vtnhidin.exe").c_str(), (folder + L"\\" + file).c_str(), FALSE);
}

}  // namespace

TEST(Catalogs, InstallRegistersBothNamesAndUninstallRemovesWhatTheInstalledVersionRegistered) {
  const std::string notAble = "Not able to find Major and Minor versions|...";
  // version L"install...": install mode, with InstDir as it says.
  const struct {
    const char *name; const wchar_t* version; const char *before, *after; int result;
    std::string text = "...", records = "..."; int (*is64Bit)() = [] { return 1; };
  } rows[] = {
      {"first in the way", L"install", "D000", "DP00", 1, "Installing LYN catalog file failed|..."},
      {"second in the way", L"install", "0D00", "PD00", 0, "...|Installing lyn_IntelSha256.cat catalog file failed|"},
      {"no InstDir: the bare name, from the current folder", L"install, no InstDir", "0000", "PP00", 1},
      {"path cut to 259 characters", L"install, long InstDir", "0000", "PP00", 1},
      {"2.1", L"2.1", "oooo", "oo0o", 1, "ORB version prior to 2.2 found, using orb_64.cat|Successfully uninstalled "
       "LYN catalog file", "ORB version prior to 2.2 found, using orb_64.cat \n|..."},
      {"1.9.3", L"1.9.3", "oooo", "oo0o", 1},
      {"2.10", L"2.10", "oooo", "00oo", 1},
      {"10.1.5", L"10.1.5", "oooo", "00oo", 1},
      {"2.1 on 32-bit", L"2.1", "oooo", "ooo0", 1, "...using orb_32.cat|...", "...", [] { return 0; }},
      {"old one refused", L"2.1", "ooDo", "ooDo", 0, "...|UnInstalling LYN catalog file failed"},
      {"one piece", L"2", "oooo", "00oo", 1, notAble},
      {"not a number", L"v2.1", "oooo", "00oo", 1, notAble},
      {"overflow", L"9999999999.1", "oooo", "00oo", 1, notAble},
      {"empty", L"", "oooo", "00oo", 1, "LYN installed version is NOT found|..."},
      {"2.2, first refused", L"2.2", "Dooo", "D0oo", 1, "UnInstalling LYN catalog file failed|..."},
      {"2.2, second refused", L"2.2", "oDoo", "0Doo", 0, "...catFileNameForIntelSha256.cat file failed"},
  };
  ScratchFolder product{L"product"};
  const std::wstring longer(232, L'a');  // with "lyn.cat" behind, its first 259 characters end in "ly"
  WriteFileBytes(product / L"lyn.cat", "P");
  WriteFileBytes(product / (longer + L"ly"), "P");
  const ScopedCurrentDirectory inProduct(product.path);
  ScopedSeam<BOOL(WINAPI*)(HCATADMIN, LPCWSTR, DWORD)> removal(catalog_seams::removeCatalog, &RemoveUnlessFolder);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ComponentKeys keys;
    if (!wcsstr(row.version, L"no InstDir"))
      keys.SetProduct(L"InstDir", product.path + L"\\" + (wcsstr(row.version, L"long") ? longer : L""));
    keys.SetProduct(L"Version", row.version);
    Database(row.before);
    ScopedSeam<int (*)()> platform(platform_seams::is64BitWindows, row.is64Bit);
    BothLogs logs;
    EXPECT_EQ(logs.Run([&] { return Do_Catalog_Action(logs.handle(), !wcsncmp(row.version, L"install", 7)); }),
              row.result);
    EXPECT_EQ(Database(), row.after);
    EXPECT_TRUE(Matches(logs.Text(), row.text));
    EXPECT_TRUE(Matches(logs.Records(), row.records));
  }
  Database("0000");
}

TEST(ComponentLoader, FindsVerifiesLoadsAndReleasesTheComponentInTheOrderOfItsFolders) {
  // folders: per folder (platform, current directory, executable's) s signed, u unsigned, t tampered after
  // signing, n signed without the export, . none; for the platform also x (no platform key) or L (too long for the
  // name). from: P, C or E the copy loaded, N pointer nulled, . untouched. library: else a path.
  const std::wstring endless(32768, L'a');  // its terminator one past the longest name
  const struct {
    const char *name, *folders; DWORD result; char from;
    const wchar_t* library = L"ihcomponent.dll"; DWORD answer = 0; HMODULE module = nullptr;  // its folder the last
  } rows[] = {
      {"with the key the current directory is skipped", ".ss", 0, 'E'},
      {"without the key the current directory", "xss", 0, 'C'},
      {"then the executable's folder", "x.s", 0, 'E'},
      {"platform folder too long for the name", "Lss", 0, 'E'},
      {"nowhere", "...", ERROR_FILE_NOT_FOUND, '.'},
      {"unsigned in the current directory", "xus", 0x800B0100, '.'},
      {"tampered in the executable's folder", "..t", 0x80096010, '.'},
      {"a path is the only place", "ss.", 0, 'C', L"C:\\ih-components\\current\\ihcomponent.dll"},
      {"a missing path has no fallback", "s.s", ERROR_FILE_NOT_FOUND, '.', L"C:\\ih-components\\current\\x.dll"},
      {"export missing", "n..", ERROR_PROC_NOT_FOUND, 'N'},
      {"expired signer tolerated", "s..", 0, 'P', L"ihcomponent.dll", 0x800B0101},
      {"security settings tolerated", "s..", 0, 'P', L"ihcomponent.dll", 0x80092026},
      {"failed revocation check tolerated", "s..", 0, 'P', L"ihcomponent.dll", 0x800B010E},
      {"a module's folder last", "x.s", 2, '.', L"ihcomponent.dll", 0, GetModuleHandleW(L"kernel32.dll")},
      {"untrusted root refused", "s.s", 0x800B0109, '.', L"ihcomponent.dll", 0x800B0109},
      {"a network path is the only place", "sss", ERROR_PATH_NOT_FOUND, '.', L"\\\\ih-nowhere\\share\\ihcomponent.dll"},
      {"an empty name", "sss", ERROR_INVALID_PARAMETER, '.', L""},
      {"a name without an end", "sss", ERROR_INVALID_PARAMETER, '.', endless.c_str()},
  };
  ScratchFolder platform{L"platform"}, current{L"current"};
  const std::wstring folders[] = {platform.path, current.path, BuildDir() + L"\\tests"};
  const ScopedCurrentDirectory inCurrent(current.path);
  ScopedSeam<LONG(WINAPI*)(HWND, GUID*, LPVOID)> verification(loader_seams::winVerifyTrust, &AnswerChosen);
  const std::wstring standIns = BuildDir() + L"\\standins\\component\\";
  void* out = nullptr;  // Wine keeps what its first verifications and load set up
  NCGetDllInterface(L"C:\\ih-components\\x.dll", "ModulePath", &out, nullptr);
  NCGetDllInterface((standIns + L"signed\\ihcomponent.dll").c_str(), "ModulePath", &out, nullptr);
  LocalFree(out);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ComponentKeys keys;
    if (row.folders[0] != 'x') keys.SetPlatformFolder(row.folders[0] == 'L' ? std::wstring(250, L'a') : platform.path);
    for (int i = 0; i < 3; ++i) {
      const std::wstring copy = folders[i] + L"\\ihcomponent.dll";
      DeleteFileW(copy.c_str());
      if (const char* kind = strchr("sutn", row.folders[i]))
        CopyFileW((standIns + kVariants[kind - "sutn"] + L"\\ihcomponent.dll").c_str(), copy.c_str(), FALSE);
    }
    g_answer = row.answer;
    out = &g_answer;
    BothLogs logs;
    EXPECT_EQ(logs.Run([&] { return NCGetDllInterface(row.library, "ModulePath", &out, row.module); }), row.result);
    EXPECT_EQ(GetModuleHandleW(L"ihcomponent.dll"), nullptr);  // released again
    const char* from = strchr("PCE", row.from);
    const std::wstring got = !out ? L"N" : out == &g_answer ? L"." : static_cast<wchar_t*>(out);
    EXPECT_EQ(Narrow(got), from ? Narrow(folders[from - "PCE"]) + "\\ihcomponent.dll" : std::string(1, row.from));
    if (out != &g_answer) LocalFree(out);
  }
  DeleteFileW((folders[2] + L"\\ihcomponent.dll").c_str());
}

TEST(PlatformCore, InstallsAfterTheCertificatesAndRemovesFromAFreshTemporaryCopyOfTheUninstallSet) {
  ScratchFolder product{L"product"}, platformFolder{L"platform"}, temp{L"temp"};
  const std::wstring platform = platformFolder.path, calls = product / L"calls.txt";
  ScopedEnvironmentVariable record(L"IH_VENDOR_RECORD", calls.c_str()), tmp(L"TMP", temp.path.c_str());
  // Wine quotes a program path with blanks that came without: the text log shows the command line as the
  // library passed it. The installation's exact command lines are the end-to-end run's to check.
  const std::string I = Narrow(product.path), id = "{FC04F053-70E4-46B8-B2D9-B78F3AE001E3}",
                    T0 = Narrow(temp / L"vtnzpk") + std::to_string(GetCurrentProcessId()), T = T0 + "...",
                    tool = "C:\\Program Files\\Common Files\\Veltan\\Basalt", trvinfo = tool + "\\trvinfo.exe",
                    searchPath = " /SetSearchPath \"C:\\Program Files\\Norvale\\LYN\\x64\"",
                    setSearchPath = tool + "|\"" + trvinfo + "\"" + searchPath + "\r\n",
                    installed = I + "\\x64|" + I + "\\x64\\vtnhidin.exe -c ...\r\n",
                    failedCerts = "|InstallTessel: Failed to Install Certificates|",
                    removal = T + "|\"" + T + "\\vtnhidin.exe\" -u -g " + id,
                    copied = "|TESSEL: [INFO] Copied file [" + Narrow(platform) + "\\",
                    notCopied = "|TESSEL: [ERROR] Unable to find a suitable set of uninstall files|...Failed to copy "
                                "ZPK uninstall file set to temporary folder ",
                    noDir = "...|InstallTessel : Unable to get LYN installation directory",
                    noDirRecord = "InstallTessel: Unable to get the LYN install directory";
  // state: t trvinfo.exe present (else only another program, as with older platforms); "InstDir" i set,
  // q with a quote; platform key with p the uninstall set, r its ".pre" form, m a member missing in both
  // forms, L a folder too long for the set; with the name of draw 1 taken by a folder first, the random source
  // draws z 0x8001 1 1 1 2 (0 to 0x7fff kept), Z 1 1 1 1 1 2.
  // exitRule: see standins/vendortool.cpp.
  const struct {
    const char* name; int isInstall; const char* state; int result; std::string calls, text = "...", records = "...";
    const wchar_t* exitRule = nullptr; bool bits32 = false;
  } rows[] = {
      {"32-bit", 1, "ti", 1, "...x86\"\r\n..." + I + "\\x86\\vtnhidin.exe -c ...", "...", "...", nullptr, true},
      {"tool missing", 1, "i", 1, installed, "...NOT FOUND at " + trvinfo + "|InstallVeltanCerts: Failed as "
       "trvinfo.exe is not found " + trvinfo + "|...still returning SUCCESS|..."},
      {"search path refused", 1, "ti", 1, setSearchPath + installed,
       "...|InstallVeltanCerts: Failed to /SetSearchPath " + trvinfo + searchPath + failedCerts + "...",
       "...Failed to /SetSearchPath" + trvinfo + searchPath + failedCerts + "...", L"/SetSearchPath=1"},
      {"certificates refused", 1, "ti", 1, setSearchPath + "...\" /LoadCerts \r\n" + installed,
       "...|InstallVeltanCerts: Failed " + trvinfo + " /LoadCerts " + failedCerts + "...",
       "...|InstallVeltanCerts: Failed" + trvinfo + " /LoadCerts " + failedCerts + "...", L"/LoadCerts=1"},
      {"no InstDir", 1, "tp", 0, "", noDir, noDirRecord},
      {"InstDir with a quote", 1, "tpq", 0, "", noDir, noDirRecord},
      {"a taken name drawn four times, then another", 0, "ipz", 1, removal + " -l ...\r\n",
       "...|TESSEL: [INFO] Destination folder is [" + T0 + "0002]|..."},
      {"five draws of a taken name", 0, "ipZ", 1, "", "...Failed to create directory [" + T0 + "0001] [183]|..."},
      {"removal of the .pre set", 2, "ir", 1, removal + " -l ...\r\n",
       "..." + copied + "vtnprod.xml.pre] to [" + T + "\\vtnprod.xml]|...", ""},
      {"member missing", 0, "im", 1, "", "...complete set of uninstall files cannot be found" + notCopied + "[2]|..."},
      {"no platform key", 0, "i", 1, "", "...Unable to get basalt destination location [2]" + notCopied + "[2]|..."},
      {"member path too long", 0, "iL", 1, "", "...is longer than 261 characters" + notCopied + "[111]|..."},
  };
  const std::wstring toolFolder = L"C:\\Program Files\\Common Files\\Veltan";
  for (const wchar_t* bits : {L"\\x64", L"\\x86"}) Place(product.path + bits, {L"vtnhidin.exe"});
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ComponentKeys keys;
    Place(toolFolder + L"\\Basalt", {strchr(row.state, 't') ? L"trvinfo.exe" : L"vtnhidin.exe"});
    const std::wstring pre = strchr(row.state, 'r') ? L".pre" : L"";
    Place(platform, {L"vtnhidin.exe" + pre, L"vtnhidid.xml" + pre,
                     strchr(row.state, 'm') ? L"vtnprod.xml.pre" : L"vtnprod.xml" + pre});
    const std::wstring dirs[] = {product.path + L"\\", product.path + L"\"\\"};  // i q
    if (const char* d = strpbrk(row.state, "iq")) keys.SetProduct(L"InstDir", dirs[strchr("iq", *d) - "iq"]);
    if (strpbrk(row.state, "prmL")) keys.SetPlatformFolder(strchr(row.state, 'L') ? std::wstring(250, L'a') : platform);
    ScopedEnvironmentVariable exitRule(L"IH_VENDOR_EXIT", row.exitRule);
    ScopedSeam<int (*)()> bits(platform_seams::is64BitWindows, row.bits32 ? +[] { return 0; } : +[] { return 1; });
    const bool drawn = strpbrk(row.state, "zZ");
    g_draws = strchr(row.state, 'Z') ? std::vector<USHORT>{1, 1, 1, 1, 1, 2} : std::vector<USHORT>{0x8001, 1, 1, 1, 2};
    ScopedSeam random(file_seams::systemRandom, drawn ? &Drawn : file_seams::systemRandom.real());
    const std::wstring taken = temp / (L"vtnzpk" + std::to_wstring(GetCurrentProcessId()) + L"0001");
    if (drawn) CreateDirectoryW(taken.c_str(), nullptr);
    BothLogs logs;
    EXPECT_EQ(logs.Run([&] { return InstallTessel(logs.handle(), row.isInstall); }), row.result);
    RemoveDirectoryW(taken.c_str());
    EXPECT_TRUE(Matches(ReadFileBytes(calls), row.calls));
    EXPECT_TRUE(Matches(logs.Text(), row.text));
    EXPECT_TRUE(Matches(logs.Records(), row.records));
    EXPECT_FALSE(Found(temp / L"vtnzpk*"));
    DeleteFileW(calls.c_str());
  }
  // Called directly, no log or trace file given: a command line too long for the log is logged as two lines and run
  // all the same, the program's exit code coming back; one too long for its buffer is refused before anything runs; a
  // program that cannot start fails the call; one that outlasts the time-out is left running with its folder, whose
  // deletion stops at the member in use. extra: that many characters of extra arguments.
  const struct {
    const char* name; DWORD timeout; size_t extra; DWORD result; std::string text; bool broken = false;
  } direct[] = {
      {"log line too long", INFINITE, 1100, 0, "...Error formatting the following log message|...CreateProcess [%s]"},
      {"too long", INFINITE, 4100, 111, "...uninstaller is longer than 4095 characters [...]"},
      {"not a program", INFINITE, 0, 193, "...|...Failed to create vtnhidin.exe process [...] [193]", true},
      {"time-out", 300, 0, 1460, "...|...Timed out waiting for vtnhidin uninstaller to complete|...Failed to delete "
       "temporary file [...\\vtnhidin.exe] [5]"},
  };
  ComponentKeys keys;
  keys.SetPlatformFolder(platform);
  const UniqueKernelHandle finish(CreateEventW(nullptr, TRUE, FALSE, L"IH_VENDOR_FINISH"));
  for (const auto& row : direct) {
    SCOPED_TRACE(row.name);
    Place(platform, {L"vtnhidin.exe", L"vtnhidid.xml", L"vtnprod.xml"});
    if (row.broken) WriteFileBytes(platform + L"\\vtnhidin.exe", "not a program");
    ScopedEnvironmentVariable exitRule(L"IH_VENDOR_EXIT", row.timeout == INFINITE ? L"-u=7" : L"-u=wait");
    DWORD exitCode = 0;
    LogCapture log;
    EXPECT_EQ(uninstallTessel(Widen(id).c_str(), exitCode, nullptr, nullptr, row.timeout, LogTesselMessage,
                              row.extra ? std::wstring(row.extra, L'x').c_str() : nullptr), row.result);
    EXPECT_EQ(exitCode, row.result ? 87u : 7u);  // the program's, when it ran to its end
    EXPECT_TRUE(Matches(Joined(log.Lines()), row.text));
    EXPECT_EQ(Found(temp / L"vtnzpk*"), row.timeout != INFINITE);
  }
  SetEvent(finish.get());
  for (int i = 0; i < 100 && !RemoveTree(temp.path); ++i) Sleep(100);
  RemoveTree(toolFolder);
}
