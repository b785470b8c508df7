// The shipped DLL itself, loaded as the installer engine loads it, with the
// custom actions the sample package does not run found by their decorated names.

#include "support/TestSupport.h"

using namespace testsupport;

TEST(ShippedDll, ActionsRunThroughTheirDecoratedNamesOnly) {
  const std::pair<const char*, const char*> rows[] = {{"?CheckJunction@@YAHK@Z", "CheckJunction : Start"},
      {"?DeleteOrbWRDPolicy@@YAHXZ", "DeleteOrbWRDPolicy"}, {"?GetPropertyAction@@YAHK@Z", "GetPropertyAction"},
      {"?ExecuteProcessX64@@YAHK@Z", "ExecuteProcessX64"}, {"?ExecuteProcessX86@@YAHK@Z", "ExecuteProcessX86"}};
  for (const auto& [decorated, firstLine] : rows) {
    SCOPED_TRACE(decorated);
    // The engine loads the library afresh for each custom action.
    const UniqueModule dll(LoadLibraryW((BuildDir() + L"\\InstallHelper.dll").c_str()));
    EXPECT_EQ(GetProcAddress(dll.get(), "CheckJunction"), nullptr) << "only the decorated names are exported";
    const auto action =
        reinterpret_cast<int (*)(unsigned long)>(reinterpret_cast<void*>(GetProcAddress(dll.get(), decorated)));
    ASSERT_NE(action, nullptr);
    LogCapture log;
    EXPECT_EQ(action(0), 0);
    EXPECT_EQ(log.Lines().at(0).rfind(firstLine, 0), 0u) << log.Raw();
  }
}
