#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "components/PlatformCore.h"
#include "components/UninstallSet.h"
#include "frame/Owners.h"
#include "frame/Platform.h"
#include "support/ComponentSupport.h"
#include "support/ScopedSeam.h"

using namespace testsupport;

namespace {

std::string g_reported;  // uninstallTessel's messages, "I text" or "E text", each after a "|"
void Capture(const wchar_t* text, bool isError) { g_reported += (isError ? "|E " : "|I ") + Narrow(text); }

// The start of this process's temporary folders, and the one still there (or nothing).
std::wstring TemporaryStart() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  return temp + (L"vtnzpk" + std::to_wstring(GetCurrentProcessId()));
}
std::wstring TemporaryFolderLeft() {
  WIN32_FIND_DATAW found;
  const std::wstring start = TemporaryStart();
  const UniqueFind find(FindFirstFileW((start + L"*").c_str(), &found));
  return find ? start.substr(0, start.rfind(L'\\') + 1) + found.cFileName : L"";
}

}  // namespace

class PlatformCore : public ::testing::Test {
 protected:
  ComponentKeys keys;
  ScratchFolder product{L"product"}, platform{L"platform"}, records{L"records"};
  ScopedEnvironmentVariable record{L"IH_VENDOR_RECORD", (records / L"calls.txt").c_str()};
  // In expected texts: the product folder, the Windows folder, the platform folder, a temporary folder.
  const std::string I = Narrow(product.path), W = "C:\\windows", P = Narrow(platform.path),
                    T = Narrow(TemporaryStart()) + "...";
  const std::string id = "{FC04F053-70E4-46B8-B2D9-B78F3AE001E3}";

  // Both vendor programs are the same stand-in: every file named is a copy of it.
  static void Place(const std::wstring& folder, const std::string& files) {
    RemoveTree(folder);
    SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    for (size_t start = 0, end = 0; end != std::string::npos && !files.empty(); start = end + 1) {
      const std::wstring file = folder + L"\\" + Widen(files.substr(start, (end = files.find('|', start)) - start));
      CopyFileW((BuildDir() + L"\\standins\\vendor\\vtnhidin.exe").c_str(), file.c_str(), FALSE);
    }
  }
  // What the stand-ins recorded since the last call, "<folder it ran from>|<command line>" per run.
  std::string Calls() {
    const std::string calls = ReadFileBytes(records / L"calls.txt");
    DeleteFileW((records / L"calls.txt").c_str());
    return calls;
  }
};

TEST_F(PlatformCore, InstallsAfterTheCertificatesAndRemovesFromAFreshTemporaryCopyOfTheUninstallSet) {
  // Wine quotes a program path with blanks that came without: the text log
  // shows the command line as the library passed it.
  const std::string tool = "C:\\Program Files\\Common Files\\Veltan\\Basalt", trvinfo = tool + "\\trvinfo.exe",
                    searchPath = " /SetSearchPath \"C:\\Program Files\\Norvale\\LYN\\x64\"",
                    certs = tool + "|\"" + trvinfo + "\"" + searchPath + "\r\n" + tool + "|\"" + trvinfo +
                            "\" /LoadCerts \r\n",
                    installer = I + "\\x64\\vtnhidin.exe -c lyn_tesselfiles.cab -l " + W +
                                "\\Temp\\NorvaleLogs\\lyn_tessel_inst_4.9.0.log -etl " + W +
                                "\\Temp\\NorvaleLogs\\lyn_tessel_inst_4.9.0.etl -t ORBINSTALL -g " + id,
                    installed = I + "\\x64|" + installer + "\r\n",
                    failedCerts = "|InstallTessel: Failed to Install Certificates|",
                    removal = "\"" + T + "\\vtnhidin.exe\" -u -g " + id + " -l \"" + W +
                              "\\Temp\\NorvaleLogs\\lyn_tessel_uninst_4.9.0.log\" -etl \"" + W +
                              "\\Temp\\NorvaleLogs\\lyn_tessel_uninst_4.9.0.etl\"",
                    copied = "|TESSEL: [INFO] Copied file [" + P + "\\",
                    notCopied =
                        "|TESSEL: [ERROR] Unable to find a suitable set of uninstall files|TESSEL: [ERROR] Failed to "
                        "copy ZPK uninstall file set to temporary folder ";
  const struct {
    const char* name;
    int isInstall;
    const char* state;  // t: trvinfo.exe present, i: "InstDir" set, p: platform key (L: its folder too long)
    const wchar_t* exitRule;
    int result;
    std::string calls, text = "...", records = "...", platformFiles = "vtnhidin.exe|vtnhidid.xml|vtnprod.xml";
    int (*is64Bit)() = [] { return 1; };
  } rows[] = {
      {"installed", 1, "ti", L"", 1, certs + installed,
       "InstallTessel: Start , isInstall= 1| |InstallVeltanCerts: Start||IsTrvInfoPresent(): trvinfo.exe FOUND at " +
           trvinfo + "|...process command line is: " + trvinfo + searchPath +
           "|...process command line is: " + trvinfo +
           " /LoadCerts |...|InstallVeltanCerts: End|InstallTessel: " + installer + "|...|InstallTessel: End"},
      {"32-bit Windows", 1, "ti", L"", 1, "...x86\"\r\n...|" + I + "\\x86\\vtnhidin.exe -c ...", "...", "...", "",
       [] { return 0; }},
      {"tool missing", 1, "i", L"", 1, installed,
       "...|IsTrvInfoPresent(): trvinfo.exe NOT FOUND at " + trvinfo +
           "|InstallVeltanCerts: Failed as trvinfo.exe is not found " + trvinfo +
           "|trvinfo.exe is not found on the machine, still returning SUCCESS|InstallTessel: " + installer + "|..."},
      {"search path refused", 1, "ti", L"/SetSearchPath=1", 1, certs.substr(0, certs.find('\n') + 1) + installed,
       "...|InstallVeltanCerts: Failed to /SetSearchPath " + trvinfo + searchPath + failedCerts +
           "InstallTessel: " + installer + "|...",
       "...|InstallVeltanCerts: Failed to /SetSearchPath" + trvinfo + searchPath + failedCerts + "..."},
      {"certificates refused", 1, "ti", L"/LoadCerts=1", 1, certs + installed,
       "...|InstallVeltanCerts: Failed " + trvinfo + " /LoadCerts " + failedCerts + "InstallTessel: " + installer +
           "|...",
       "...|InstallVeltanCerts: Failed" + trvinfo + " /LoadCerts " + failedCerts + "..."},
      {"installer failed", 1, "ti", L"-c=1", 0, certs + installed},
      {"no InstDir", 1, "tp", L"", 0, "",
       "InstallTessel: Start , isInstall= 1| |InstallTessel : Unable to get LYN installation directory",
       "InstallTessel: Unable to get the LYN install directory"},
      {"removal", 2, "tip", L"-u=3", 1, T + "|" + removal + "\r\n",
       "InstallTessel: Start , isInstall= 2| |TESSEL: [INFO] Destination folder is [" + T + "]" + copied +
           "vtnhidin.exe] to [" + T + "\\vtnhidin.exe]" + copied + "vtnhidid.xml] to [" + T + "\\vtnhidid.xml]" +
           copied + "vtnprod.xml] to [" + T + "\\vtnprod.xml]|TESSEL: [INFO] CreateProcess [" + removal +
           "]|InstallTessel: End",
       ""},
      {"removal of the .pre set", 0, "ip", L"", 1, T + "|" + removal + "\r\n",
       "..." + copied + "vtnprod.xml.pre] to [" + T + "\\vtnprod.xml]|...", "...",
       "vtnhidin.exe.pre|vtnhidid.xml.pre|vtnprod.xml.pre"},
      {"member missing in both forms", 0, "ip", L"", 1, "",
       "...|TESSEL: [ERROR] A complete set of uninstall files cannot be found" + notCopied + "[2]|InstallTessel: End",
       "...", "vtnhidin.exe|vtnhidid.xml|vtnprod.xml.pre"},
      {"no platform key", 0, "i", L"", 1, "",
       "...|TESSEL: [ERROR] Unable to get basalt destination location [2]" + notCopied + "[2]|..."},
      {"member path too long", 0, "iL", L"", 1, "", "...is longer than 261 characters" + notCopied + "[111]|..."},
  };
  const std::wstring toolFolder = L"C:\\Program Files\\Common Files\\Veltan";
  Place(product.path + L"\\x64", "vtnhidin.exe");
  Place(product.path + L"\\x86", "vtnhidin.exe");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    keys.Clear();
    Place(toolFolder + L"\\Basalt", strchr(row.state, 't') ? "trvinfo.exe" : "");
    if (strchr(row.state, 'i')) keys.SetProduct(L"InstDir", product.path + L"\\");
    if (strchr(row.state, 'p')) keys.SetPlatformFolder(platform.path);
    if (strchr(row.state, 'L')) keys.SetPlatformFolder(std::wstring(250, L'a'));
    Place(platform.path, row.platformFiles);
    ScopedEnvironmentVariable exitRule(L"IH_VENDOR_EXIT", row.exitRule);
    ScopedSeam<int (*)()> platformKind(platform_seams::is64BitWindows, row.is64Bit);
    BothLogs logs;
    HandleProbe probe;
    EXPECT_EQ(InstallTessel(logs.handle(), row.isInstall), row.result);
    EXPECT_TRUE(probe.Unchanged());
    EXPECT_PRED2(Matches, Calls(), row.calls);
    EXPECT_PRED2(Matches, logs.Text(), row.text);
    EXPECT_PRED2(Matches, logs.Records(), row.records);
    EXPECT_EQ(TemporaryFolderLeft(), L"");
  }
  RemoveTree(toolFolder);
}

TEST_F(PlatformCore, RemovalHandsBackTheExitCodeRefusesAnOverlongCommandLineAndLeavesAProgramThatOutlastsItsTime) {
  const std::wstring tooLong(4100, L'x');
  const struct {
    const char* name;
    const wchar_t* extraArgs;
    DWORD timeoutMs, result, exitCode;
    std::string calls, reported;
  } rows[] = {
      {"exit code", nullptr, INFINITE, 0, 7, T + "|\"" + T + "\\vtnhidin.exe\" -u -g " + id + "\r\n", "..."},
      {"command line too long", tooLong.c_str(), INFINITE, 111, 87, "",
       "...|E Command line of the vtnhidin uninstaller is longer than 4095 characters [...]"},
      {"time-out", nullptr, 300, ERROR_TIMEOUT, 87, T + "|...",
       "...|E Timed out waiting for vtnhidin uninstaller to complete|E Failed to delete temporary file [" + T +
           "\\vtnhidin.exe] [5]"},
  };
  Place(platform.path, "vtnhidin.exe|vtnhidid.xml|vtnprod.xml");
  keys.SetPlatformFolder(platform.path);
  const UniqueKernelHandle finish(CreateEventW(nullptr, TRUE, FALSE, L"IH_VENDOR_FINISH"));
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ScopedEnvironmentVariable exitRule(L"IH_VENDOR_EXIT", row.timeoutMs == INFINITE ? L"-u=7" : L"-u=wait");
    g_reported.clear();
    ResetEvent(finish.get());
    DWORD exitCode = 0;
    EXPECT_EQ(uninstallTessel(Widen(id).c_str(), exitCode, nullptr, nullptr, row.timeoutMs, Capture, row.extraArgs),
              row.result);
    EXPECT_EQ(exitCode, row.exitCode);
    EXPECT_PRED2(Matches, Calls(), row.calls);
    EXPECT_PRED2(Matches, g_reported, row.reported);
    EXPECT_EQ(TemporaryFolderLeft().empty(), row.result != ERROR_TIMEOUT);
    SetEvent(finish.get());  // the program ends, then its folder can go
    for (int i = 0; i < 100 && !TemporaryFolderLeft().empty(); ++i) Sleep(100), RemoveTree(TemporaryFolderLeft());
  }
}
