#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/Exports.h"
#include "frame/Log.h"
#include "housekeeping/PinletPlugin.h"
#include "frame/Platform.h"
#include "support/HousekeepingSupport.h"
#include "support/TestSupport.h"

using namespace testsupport;

namespace {

const wchar_t kFrameworkKey[] = L"SOFTWARE\\Corvane\\KDX\\Shared Components\\Framework";
const wchar_t kGeneralKey[] = L"Software\\Norvale\\LYN\\General";
const std::string kPluginPath = "C:\\Program Files\\Norvale\\LYN\\OrbPinletPlugin.dll";

int Report32BitWindows() { return 0; }

std::wstring StandIn(const wchar_t* variant) { return BuildDir() + L"\\standins\\pinlet\\" + variant + L"\\"; }

// Lines of the tray plug-in removal, as they read in the text log. The
// stand-in support library writes its own lines ("PinletInstSupp: ...") into
// the same log, so each line shows where the library was loaded, called and
// released.
using Lines = std::vector<std::string>;

}  // namespace

class TrayPluginRemoval : public ::testing::Test {
 protected:
  HousekeepingMachineState machine;
  ScopedEnvironmentVariable record{L"IH_PINLET_RECORD", LogFile().c_str()};
  ScopedEnvironmentVariable prepResult{L"IH_PINLET_PREP_RESULT", nullptr};
  ScopedEnvironmentVariable completeResult{L"IH_PINLET_COMPLETE_RESULT", nullptr};
  Lines protectionLines;

  void SetUp() override {
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
      RegDeleteTreeInView(HKEY_LOCAL_MACHINE, kFrameworkKey, view);
      RegDeleteTreeInView(HKEY_LOCAL_MACHINE, kGeneralKey, view);
    }
    // Whatever the self-protection step writes, it must appear between the
    // two lines that frame its call.
    LogCapture protection;
    DeleteOrbWRDPolicy();
    protectionLines = protection.Lines();
  }
  void TearDown() override { platform_seams::is64BitWindows.Reset(); }

  static void SetTrayFolder(const std::wstring& folder, REGSAM view = KEY_WOW64_32KEY) {
    ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, kFrameworkKey, L"Installed Path", folder, view));
  }
  static void SetProductFolder(REGSAM view = KEY_WOW64_64KEY) {
    ASSERT_TRUE(
        RegSetString(HKEY_LOCAL_MACHINE, kGeneralKey, L"InstDir", L"C:\\Program Files\\Norvale\\LYN\\", view));
  }

  Lines Opening() const {
    Lines lines = {"UninstallOrbPinletPlugin started", "UninstallPinletPlugin : Calling DeleteOrbWRDPolicy()"};
    lines.insert(lines.end(), protectionLines.begin(), protectionLines.end());
    lines.push_back("UninstallPinletPlugin : Completed DeleteOrbWRDPolicy()");
    return lines;
  }
  // Opening, then the library loaded from the folder.
  Lines Loaded(const wchar_t* variant) const {
    const std::string library = Narrow(StandIn(variant)) + "PinletInstSupp.dll";
    Lines lines = Opening();
    lines.insert(lines.end(), {"UninstallPinletPlugin :  " + library, "PinletInstSupp: loaded",
                               "UninstallPinletPlugin :  Successfully loaded " + library});
    return lines;
  }
  static Lines Concat(Lines first, const Lines& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
  }
  static const std::string kFailed;
  static const std::string kSucceeded;

  // Runs the action and checks that the support library is no longer loaded
  // and that no handle was left open.
  Lines Run() {
    LogCapture log;
    UninstallOrbPinletPlugin();
    for (const wchar_t* variant : {L"full", L"noprep", L"nocomplete"})
      EXPECT_EQ(GetModuleHandleW((StandIn(variant) + L"PinletInstSupp.dll").c_str()), nullptr);
    return log.Lines();
  }
};

const std::string TrayPluginRemoval::kFailed = "UninstallPinletPlugin : failed to unload ORB Pinlet plugin ";
const std::string TrayPluginRemoval::kSucceeded = "UninstallPinletPlugin : successfull in unloading ORB Pinlet plugin";

TEST_F(TrayPluginRemoval, BothCallsSucceedWithThePluginPathAndNameThenTheLibraryIsReleasedBeforeTheEnd) {
  SetTrayFolder(StandIn(L"full"));
  SetProductFolder();
  EXPECT_EQ(Run(), Concat(Loaded(L"full"), {"PinletInstSupp: PluginUninstallPrep(" + kPluginPath + ") -> 0",
                                            "UninstallPinletPlugin :  PluginUninstallPrep success.",
                                            "PinletInstSupp: PluginUninstallComplete(ORBPinletPlugin) -> 0",
                                            "UninstallPinletPlugin :  PluginUninstallComplete success.", kSucceeded,
                                            "PinletInstSupp: unloaded", "UninstallOrbPinletPlugin end"}));
}

TEST_F(TrayPluginRemoval, NoTrayApplicationInEitherViewCountsAsSuccess) {
  SetProductFolder();
  EXPECT_EQ(Run(), Concat(Opening(), {"UninstallPinletPlugin : Unable to get Pinlet installation directory From "
                                      "WOW6432Node Try From Normal Node.",
                                      "UninstallPinletPlugin : Unable to get Pinlet installation directory From "
                                      "Regular Node.",
                                      kSucceeded, "UninstallOrbPinletPlugin end"}));
}

TEST_F(TrayPluginRemoval, TrayFolderOnlyInThe64BitViewIsFoundOnTheSecondTry) {
  SetTrayFolder(StandIn(L"full"), KEY_WOW64_64KEY);
  SetProductFolder();
  const Lines lines = Run();
  Lines expected = Opening();
  expected.push_back(
      "UninstallPinletPlugin : Unable to get Pinlet installation directory From WOW6432Node Try From Normal Node.");
  const Lines loaded = Loaded(L"full");
  expected.insert(expected.end(), loaded.begin() + static_cast<long>(Opening().size()), loaded.end());
  ASSERT_GE(lines.size(), expected.size());
  EXPECT_EQ(Lines(lines.begin(), lines.begin() + static_cast<long>(expected.size())), expected);
  EXPECT_EQ(lines[lines.size() - 3], kSucceeded);
}

TEST_F(TrayPluginRemoval, TheThirtyTwoBitViewWinsOverThe64BitView) {
  SetTrayFolder(StandIn(L"noprep"), KEY_WOW64_32KEY);
  SetTrayFolder(StandIn(L"full"), KEY_WOW64_64KEY);
  SetProductFolder();
  const Lines lines = Run();
  EXPECT_EQ(Lines(lines.begin(), lines.begin() + static_cast<long>(Loaded(L"noprep").size())), Loaded(L"noprep"));
}

TEST_F(TrayPluginRemoval, LibraryMissingFromTheTrayFolderFailsWithTheLoadError) {
  const std::wstring empty = HousekeepingTestRoot() + L"\\EmptyTray\\";
  CreateDirectoryTree(empty);
  SetTrayFolder(empty);
  SetProductFolder();
  EXPECT_EQ(Run(), Concat(Opening(), {"UninstallPinletPlugin :  " + Narrow(empty) + "PinletInstSupp.dll",
                                      "UninstallPinletPlugin :  Unable to load PinletInstSupp.dll 126", kFailed,
                                      "UninstallOrbPinletPlugin end"}));
}

TEST_F(TrayPluginRemoval, LibraryWhoseDependencyIsNotBesideItCannotBeLoaded) {
  // The same library without PinletRecorder.dll next to it: what the full
  // folder's success rests on is the dependency found in the library's own folder.
  const std::wstring alone = HousekeepingTestRoot() + L"\\LibraryAlone\\";
  CreateDirectoryTree(alone);
  ASSERT_TRUE(CopyFileW((StandIn(L"full") + L"PinletInstSupp.dll").c_str(), (alone + L"PinletInstSupp.dll").c_str(),
                        FALSE));
  SetTrayFolder(alone);
  SetProductFolder();
  const Lines lines = Run();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[lines.size() - 3], "UninstallPinletPlugin :  Unable to load PinletInstSupp.dll 126");
  EXPECT_EQ(lines[lines.size() - 2], kFailed);
}

TEST_F(TrayPluginRemoval, DependencyIsFoundOnlyThroughTheAlteredSearchPath) {
  // The stand-in's folder is not on this process's search path: a plain load
  // cannot find the dependency, the action's load does.
  const std::wstring library = StandIn(L"full") + L"PinletInstSupp.dll";
  HMODULE plain = LoadLibraryW(library.c_str());
  const DWORD plainError = GetLastError();
  if (plain != nullptr) FreeLibrary(plain);
  EXPECT_EQ(plain, nullptr);
  EXPECT_EQ(plainError, static_cast<DWORD>(ERROR_MOD_NOT_FOUND));

  SetTrayFolder(StandIn(L"full"));
  SetProductFolder();
  const Lines lines = Run();
  EXPECT_EQ(lines[lines.size() - 3], kSucceeded);
}

TEST_F(TrayPluginRemoval, MissingPrepEntryPointFailsAndReleasesTheLibrary) {
  SetTrayFolder(StandIn(L"noprep"));
  SetProductFolder();
  EXPECT_EQ(Run(), Concat(Loaded(L"noprep"), {"UninstallPinletPlugin :  could not load function PluginUninstallPrep.",
                                              kFailed, "PinletInstSupp: unloaded", "UninstallOrbPinletPlugin end"}));
}

TEST_F(TrayPluginRemoval, UnreadableProductFolderCountsAsSuccessWithoutCallingTheLibrary) {
  SetTrayFolder(StandIn(L"full"));
  SetProductFolder(KEY_WOW64_32KEY);  // not the view 64-bit Windows reads
  EXPECT_EQ(Run(), Concat(Loaded(L"full"), {"UninstallPinletPlugin :  Unable to get ORB installation directory.",
                                            kSucceeded, "PinletInstSupp: unloaded", "UninstallOrbPinletPlugin end"}));

  // On 32-bit Windows that same value is the one read.
  platform_seams::is64BitWindows.Set(&Report32BitWindows);
  const Lines lines = Run();
  ASSERT_GT(lines.size(), Loaded(L"full").size());
  EXPECT_EQ(lines[Loaded(L"full").size()], "PinletInstSupp: PluginUninstallPrep(" + kPluginPath + ") -> 0");
}

TEST_F(TrayPluginRemoval, FailingPrepStopsBeforeTheCompletion) {
  SetTrayFolder(StandIn(L"full"));
  SetProductFolder();
  ScopedEnvironmentVariable result(L"IH_PINLET_PREP_RESULT", L"5");
  EXPECT_EQ(Run(), Concat(Loaded(L"full"), {"PinletInstSupp: PluginUninstallPrep(" + kPluginPath + ") -> 5",
                                            "UninstallPinletPlugin :  call to PluginUninstallPrep failed.", kFailed,
                                            "PinletInstSupp: unloaded", "UninstallOrbPinletPlugin end"}));
}

TEST_F(TrayPluginRemoval, FailingPrepDoesNotEvenLookForTheCompletion) {
  // The variant without the completion entry point would fail differently if
  // the action looked for it after a failed preparation.
  SetTrayFolder(StandIn(L"nocomplete"));
  SetProductFolder();
  ScopedEnvironmentVariable result(L"IH_PINLET_PREP_RESULT", L"-1");
  const Lines lines = Run();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[lines.size() - 4], "UninstallPinletPlugin :  call to PluginUninstallPrep failed.");
}

TEST_F(TrayPluginRemoval, MissingCompletionEntryPointFailsAfterASuccessfulPrep) {
  SetTrayFolder(StandIn(L"nocomplete"));
  SetProductFolder();
  EXPECT_EQ(Run(), Concat(Loaded(L"nocomplete"),
                          {"PinletInstSupp: PluginUninstallPrep(" + kPluginPath + ") -> 0",
                           "UninstallPinletPlugin :  PluginUninstallPrep success.",
                           "UninstallPinletPlugin :  could not load function PluginUninstallComplete.", kFailed,
                           "PinletInstSupp: unloaded", "UninstallOrbPinletPlugin end"}));
}

TEST_F(TrayPluginRemoval, FailingCompletionFails) {
  SetTrayFolder(StandIn(L"full"));
  SetProductFolder();
  ScopedEnvironmentVariable result(L"IH_PINLET_COMPLETE_RESULT", L"1");
  EXPECT_EQ(Run(), Concat(Loaded(L"full"), {"PinletInstSupp: PluginUninstallPrep(" + kPluginPath + ") -> 0",
                                            "UninstallPinletPlugin :  PluginUninstallPrep success.",
                                            "PinletInstSupp: PluginUninstallComplete(ORBPinletPlugin) -> 1",
                                            "UninstallPinletPlugin :  call to PluginUninstallComplete failed.",
                                            kFailed, "PinletInstSupp: unloaded", "UninstallOrbPinletPlugin end"}));
}

TEST_F(TrayPluginRemoval, RemovalHandsTheLibraryToItsCallerAndSetsTheFlag) {
  SetTrayFolder(StandIn(L"full"));
  SetProductFolder();
  ScopedEnvironmentVariable result(L"IH_PINLET_COMPLETE_RESULT", L"1");
  UniqueModule module;
  int failed = 0;
  UninstallPinletPlugin(module, failed);
  EXPECT_EQ(failed, 1);
  ASSERT_TRUE(module.valid());
  EXPECT_EQ(GetModuleHandleW((StandIn(L"full") + L"PinletInstSupp.dll").c_str()), module.get());
  module.reset();

  // A full success puts the flag back to 0 even when the caller left it set.
  SetEnvironmentVariableW(L"IH_PINLET_COMPLETE_RESULT", nullptr);
  failed = 1;
  UninstallPinletPlugin(module, failed);
  EXPECT_EQ(failed, 0);
  ASSERT_TRUE(module.valid());
}

TEST_F(TrayPluginRemoval, LeavesNoHandleOpen) {
  SetTrayFolder(StandIn(L"full"));
  SetProductFolder();
  Run();  // the loader's and the log's own first-use work
  const auto before = NextHandleValues();
  Run();
  EXPECT_EQ(NextHandleValues(), before);
}
