// Vendors' libraries that crash (the stand-ins on request: Crash.h) fail the
// call they crashed in, with one line naming it, and the test process lives
// on.
#include "support/ComponentSupport.h"


#include "components/ComponentLoader.h"
#include "housekeeping/PinletPlugin.h"
#include "process/QvmManager.h"

using namespace testsupport;

TEST(VendorFault, ACrashFailsTheVendorCallAndIsLogged) {
  const std::wstring component = BuildDir() + L"\\standins\\component\\signed\\ihcomponent.dll";
  // Faults of every kind, again and again (a second stack overflow needs the guard page back); not the probe.
  const std::string how[] = {"av", "cxx", "probe", "stack", "0xc0000017", "0x000006ba"};
  const std::string code[] = {"0xc0000005", "0xe06d7363", "", "0xc00000fd", "0xc0000017", "0x000006ba"};
  // The call's result: the plug-in removal's failed flag, the loader's code and interface; the host's status text.
  auto call = [&](char which, const char* crash) {
    UniqueModule module;
    int failed = 0;
    void* out = &out;
    if (which == 'p') UninstallPinletPlugin(module, failed);
    const DWORD answer = which == 'c' ? NCGetDllInterface(component.c_str(), crash, &out, nullptr) : 0;
    if (which != 'q') return std::to_string(failed) + " " + std::to_string(answer) + (out ? "" : " null");
    QvmManager qvm(L"vtnorb", L"INSTALLHELPER");
    qvm.InstallService(L"profile");
    return Narrow(qvm.GetStatusText());
  };
  // result: the call's result; crashed: the library and function its line names; probed: the result when the
  // vendor's fault is handled where it happens.
  const struct {
    const char* name; char call; std::string result, crashed, probed;
  } rows[] = {
      {"tray plug-in preparation", 'p', "1 0", "PinletInstSupp.dll : PluginUninstallPrep", "0 0"},
      {"host service creation", 'q', "Unable to install QVM Service :: vtnorb, error code :: 574 ",
       "vtnqvma.dll : CreateService", "Successfully installed QVM service :: vtnorb"},
      {"component interface", 'c', "0 574 null", Narrow(component) + " : NotComDllGetInterface", "0 2147500034 null"},
  };
  for (const auto& row : rows) {
    for (int h = 0; h < 6; ++h) {
      const bool crashes = !code[h].empty();
      SCOPED_TRACE(row.name + (" " + how[h]));
      ComponentKeys keys;
      keys.SetProduct(L"InstDir", L"C:\\ih-fault\\");
      keys.SetPlatformFolder(BuildDir() + L"\\standins\\qvmhost\\signed");
      RegSetString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Corvane\\KDX\\Shared Components\\Framework", L"Installed Path",
                   BuildDir() + L"\\standins\\pinlet\\full\\", KEY_WOW64_32KEY);
      RegSetString(HKEY_LOCAL_MACHINE, L"Software\\InstallHelperTests\\QvmHost", L"CrashCreateService", Widen(how[h]));
      ScopedEnvironmentVariable prep(L"IH_PINLET_PREP_RESULT", Widen(how[h]).c_str());
      LogCapture log;
      EXPECT_EQ(call(row.call, how[h].c_str()), crashes ? row.result : row.probed);
      const std::string line = row.crashed + " crashed with exception " + code[h] + "; the call counts as failed";
      const std::vector<std::string> lines = log.Lines(true);
      EXPECT_EQ(std::count(lines.begin(), lines.end(), line), crashes ? 1 : 0) << log.Raw();
      EXPECT_EQ(log.Raw().find(" crashed with exception ") != std::string::npos, crashes) << log.Raw();
      EXPECT_EQ(GetModuleHandleW(Widen(row.crashed.substr(0, row.crashed.find(" : "))).c_str()), nullptr);  // released
      EXPECT_TRUE(IsBadReadPtr(reinterpret_cast<void*>(16), 1));  // a fault outside is left to its own handler
    }
  }
}
