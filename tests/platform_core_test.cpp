#include <gtest/gtest.h>

#include <string>

#include "components/UninstallSet.h"
#include "frame/Owners.h"
#include "support/ComponentSupport.h"

using namespace testsupport;

namespace {

const wchar_t kPlatformProduct[] = L"{FC04F053-70E4-46B8-B2D9-B78F3AE001E3}";

std::string g_reported;  // callback messages, "I text" or "E text", joined with "|"
void Capture(const wchar_t* text, bool isError) {
  g_reported += (g_reported.empty() ? "" : "|") + std::string(isError ? "E " : "I ") + Narrow(text);
}

std::string Expand(std::string text, const std::wstring& platform, const std::string& temporary) {
  for (size_t at; (at = text.find("%P")) != std::string::npos;) text.replace(at, 2, Narrow(platform));
  for (size_t at; (at = text.find("%T")) != std::string::npos;) text.replace(at, 2, temporary);
  return text;
}

// The temporary folders of this process that are still there.
std::wstring TemporaryFolderPattern() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  return temp + (L"vtnzpk" + std::to_wstring(GetCurrentProcessId()));
}
bool TemporaryFolderLeft() {
  WIN32_FIND_DATAW found;
  return UniqueFind(FindFirstFileW((TemporaryFolderPattern() + L"*").c_str(), &found)).valid();
}

}  // namespace

TEST(PlatformCoreRemoval, RunsTheUninstallSetFromAFreshTemporaryCopyAndRemovesTheCopy) {
  const std::wstring longArgs(1100, L'x'), tooLongArgs(4100, L'x');
  const std::string plain = "vtnhidin.exe|vtnhidid.xml|vtnprod.xml", ran = "\"%T\\vtnhidin.exe\" -u -g ";
  const struct {
    const char* name;
    std::string files;  // in the platform folder; "-": no platform key
    const wchar_t* productId;
    const wchar_t *logPath, *etlPath, *extraArgs;
    const wchar_t* exitRule;
    DWORD timeoutMs, result, exitCode;
    std::string commandLine;  // as the program received it; empty: not run
    std::string reported;     // the messages that decide the row
  } rows[] = {
      {"plain set", plain, kPlatformProduct, L"C:\\l.log", L"C:\\t.etl", L"-v", L"-u=7", INFINITE, 0, 7,
       ran + "{FC04F053-70E4-46B8-B2D9-B78F3AE001E3} -l \"C:\\l.log\" -etl \"C:\\t.etl\" -v",
       "I Destination folder is [%T]|I Copied file [%P\\vtnhidin.exe] to [%T\\vtnhidin.exe]|I Copied file "
       "[%P\\vtnhidid.xml] to [%T\\vtnhidid.xml]|I Copied file [%P\\vtnprod.xml] to [%T\\vtnprod.xml]|I "
       "CreateProcess [\"%T\\vtnhidin.exe\" -u -g {FC04F053-70E4-46B8-B2D9-B78F3AE001E3} -l \"C:\\l.log\" -etl "
       "\"C:\\t.etl\" -v]"},
      {".pre set", "vtnhidin.exe.pre|vtnhidid.xml.pre|vtnprod.xml.pre", kPlatformProduct, nullptr, nullptr, nullptr,
       L"", INFINITE, 0, 0, ran + "{FC04F053-70E4-46B8-B2D9-B78F3AE001E3}",
       "I Copied file [%P\\vtnprod.xml.pre] to [%T\\vtnprod.xml]"},
      {"own manifest of a listed product", "vtnhidin.exe|vtnhidid.xml|vtnprod_orb.xml",
       L"{1f9e0b37-6a48-4c2d-9e5b-a7d3f2c6081e}", nullptr, nullptr, nullptr, L"-u=0xFFFFFFFE", INFINITE, 0, 0xFFFFFFFE,
       ran + "{1f9e0b37-6a48-4c2d-9e5b-a7d3f2c6081e}", "I Copied file [%P\\vtnprod_orb.xml] to [%T\\vtnprod_orb.xml]"},
      {"member missing in both forms", "vtnhidin.exe|vtnhidid.xml|vtnprod.xml.pre", kPlatformProduct, nullptr, nullptr,
       nullptr, L"", INFINITE, 2, 87, "",
       "E A complete set of uninstall files cannot be found|E Unable to find a suitable set of uninstall files|E "
       "Failed to copy ZPK uninstall file set to temporary folder [2]"},
      {"no platform key", "-", kPlatformProduct, nullptr, nullptr, nullptr, L"", INFINITE, 2, 87, "",
       "E Unable to get basalt destination location [2]|E Unable to find a suitable set of uninstall files|E Failed "
       "to copy ZPK uninstall file set to temporary folder [2]"},
      {"member path too long", "L", kPlatformProduct, nullptr, nullptr, nullptr, L"", INFINITE, 111, 87, "",
       "is longer than 261 characters|E Unable to find a suitable set of uninstall files|E Failed to copy ZPK "
       "uninstall file set to temporary folder [111]"},
      {"message too long to report", plain, kPlatformProduct, nullptr, nullptr, longArgs.c_str(), L"", INFINITE, 0, 0,
       ran + "{FC04F053-70E4-46B8-B2D9-B78F3AE001E3} " + Narrow(longArgs),
       "E Error formatting the following log message|E CreateProcess [%s]"},
      {"command line too long", plain, kPlatformProduct, nullptr, nullptr, tooLongArgs.c_str(), L"", INFINITE, 111, 87,
       "", "E Command line of the vtnhidin uninstaller is longer than 4095 characters ["},
      {"time-out", plain, kPlatformProduct, nullptr, nullptr, nullptr, L"-u=wait", 300, ERROR_TIMEOUT, 87,
       ran + "{FC04F053-70E4-46B8-B2D9-B78F3AE001E3}",
       "E Timed out waiting for vtnhidin uninstaller to complete|E Failed to delete temporary file "
       "[%T\\vtnhidin.exe] [5]"},
  };
  ComponentKeys keys;
  ScratchFolder platform(L"platform"), records(L"records");
  ScopedEnvironmentVariable record(L"IH_VENDOR_RECORD", (records / L"calls.txt").c_str());
  const UniqueKernelHandle finish(CreateEventW(nullptr, TRUE, FALSE, L"IH_VENDOR_FINISH"));
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    keys.Clear();
    RemoveTree(platform.path());
    CreateDirectoryW(platform.path().c_str(), nullptr);
    if (row.files != "-")
      keys.SetPlatformFolder(row.files == "L" ? L"C:\\" + std::wstring(250, L'a') : platform.path());
    for (size_t start = 0, end = 0; end != std::string::npos && row.files.size() > 1; start = end + 1) {
      end = row.files.find('|', start);
      const std::wstring file = platform / Widen(row.files.substr(start, end - start));
      if (file.find(L"vtnhidin") != std::wstring::npos) {
        CopyFileW((BuildDir() + L"\\standins\\vendor\\vtnhidin.exe").c_str(), file.c_str(), FALSE);
      } else {
        WriteFileBytes(file, "<manifest/>");
      }
    }
    ScopedEnvironmentVariable exitRule(L"IH_VENDOR_EXIT", row.exitRule);
    DeleteFileW((records / L"calls.txt").c_str());
    ResetEvent(finish.get());
    g_reported.clear();
    DWORD exitCode = 0;
    HandleProbe probe;
    EXPECT_EQ(uninstallTessel(row.productId, exitCode, row.logPath, row.etlPath, row.timeoutMs, Capture, row.extraArgs),
              row.result);
    EXPECT_TRUE(probe.Unchanged());
    EXPECT_EQ(exitCode, row.exitCode);

    // "<folder it ran from>|<command line>"
    const std::string call = ReadFileBytes(records / L"calls.txt");
    const std::string temporary = call.substr(0, call.find('|'));
    EXPECT_EQ(call, row.commandLine.empty() ? "" : temporary + "|" + Expand(row.commandLine, L"", temporary) + "\r\n");
    if (!call.empty()) {
      EXPECT_EQ(temporary.rfind(Narrow(TemporaryFolderPattern()), 0), 0u) << temporary;
    }
    EXPECT_NE(g_reported.find(Expand(row.reported, platform.path(), temporary)), std::string::npos) << g_reported;
    EXPECT_EQ(TemporaryFolderLeft(), row.result == ERROR_TIMEOUT);
    SetEvent(finish.get());
    for (int i = 0; i < 100 && TemporaryFolderLeft(); ++i) {
      Sleep(100);
      RemoveTree(Widen(temporary));
    }
  }
  DWORD untouched = 5;
  EXPECT_EQ(uninstallTessel(nullptr, untouched, nullptr, nullptr, INFINITE, Capture, nullptr), 87u);
  EXPECT_EQ(untouched, 5u);
}
