// The shipped DLL itself, loaded as the installer engine loads it, with its
// custom actions found by their decorated names.
#include <gtest/gtest.h>

#include "support/TestSupport.h"

using namespace testsupport;

TEST(ShippedDll, ActionsRunThroughTheirDecoratedNamesOnly) {
  typedef int (*HandleAction)(unsigned long);
  const struct {
    const char* decorated;
    const char* firstLine;
  } rows[] = {{"?CheckJunction@@YAHK@Z", "CheckJunction : Start"},
              {"?DeleteOrbWRDPolicy@@YAHXZ", "DeleteOrbWRDPolicy"},
              {"?GetPropertyAction@@YAHK@Z", "GetPropertyAction"},
              {"?ExecuteProcessX64@@YAHK@Z", "ExecuteProcessX64"},
              {"?ExecuteProcessX86@@YAHK@Z", "ExecuteProcessX86"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.decorated);
    // The engine loads the library afresh for each custom action.
    HMODULE dll = LoadLibraryW((BuildDir() + L"\\InstallHelper.dll").c_str());
    ASSERT_NE(dll, nullptr);
    EXPECT_EQ(GetProcAddress(dll, "CheckJunction"), nullptr) << "only the decorated names are exported";
    auto action = reinterpret_cast<HandleAction>(reinterpret_cast<void*>(GetProcAddress(dll, row.decorated)));
    ASSERT_NE(action, nullptr);
    LogCapture log;
    EXPECT_EQ(action(0), 0);
    ASSERT_FALSE(log.Lines().empty());
    EXPECT_EQ(log.Lines().front().rfind(row.firstLine, 0), 0u) << log.Lines().front();
    EXPECT_TRUE(FreeLibrary(dll));
  }
}
