// The shipped DLL itself, loaded as the installer engine loads it, with its
// custom actions found by their decorated names.
#include <gtest/gtest.h>

#include <string>

#include <stdexcept>
#include <vector>

#include "frame/Guard.h"
#include "support/TestSupport.h"

using namespace testsupport;

namespace {

class LoadedDll {
 public:
  LoadedDll() : m_module(LoadLibraryW((BuildDir() + L"\\InstallHelper.dll").c_str())) {}
  ~LoadedDll() {
    if (m_module) FreeLibrary(m_module);
  }
  HMODULE get() const { return m_module; }
  template <typename Fn>
  Fn action(const char* decoratedName) const {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(m_module, decoratedName)));
  }

 private:
  HMODULE m_module;
};

typedef int (*HandleAction)(unsigned long);
typedef int (*PlainAction)();

}  // namespace

TEST(ShippedDll, CheckJunctionRunsThroughItsDecoratedName) {
  LoadedDll dll;
  ASSERT_NE(dll.get(), nullptr);
  auto checkJunction = dll.action<HandleAction>("?CheckJunction@@YAHK@Z");
  ASSERT_NE(checkJunction, nullptr);
  EXPECT_EQ(dll.action<HandleAction>("CheckJunction"), nullptr) << "only the decorated names are exported";
  LogCapture log;
  EXPECT_EQ(checkJunction(0), 0);
  const auto messages = log.Messages();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.front(), "CheckJunction : Start");
  EXPECT_EQ(messages.back(), "CheckJunction : End");
}

TEST(ShippedDll, ProtectionStepsLetTheInstallationGoOn) {
  LoadedDll dll;
  ASSERT_NE(dll.get(), nullptr);
  LogCapture log;
  EXPECT_EQ(dll.action<PlainAction>("?DeleteOrbWRDPolicy@@YAHXZ")(), 0);
  EXPECT_EQ(dll.action<HandleAction>("?GetPropertyAction@@YAHK@Z")(0), 0);
  EXPECT_EQ(dll.action<HandleAction>("?ExecuteProcessX64@@YAHK@Z")(0), 0);
  EXPECT_EQ(dll.action<HandleAction>("?ExecuteProcessX86@@YAHK@Z")(0), 0);
  const auto messages = log.Messages();
  ASSERT_EQ(messages.size(), 4u);
  EXPECT_EQ(messages[0].rfind("DeleteOrbWRDPolicy", 0), 0u);
  EXPECT_EQ(messages[1].rfind("GetPropertyAction", 0), 0u);
  EXPECT_EQ(messages[2].rfind("ExecuteProcessX64", 0), 0u);
  EXPECT_EQ(messages[3].rfind("ExecuteProcessX86", 0), 0u);
}

TEST(ShippedDll, LoadsAndUnloadsRepeatedly) {
  // The engine loads the library afresh for each custom action.
  for (int i = 0; i < 3; ++i) {
    LoadedDll dll;
    ASSERT_NE(dll.get(), nullptr);
    EXPECT_EQ(dll.action<HandleAction>("?CheckJunction@@YAHK@Z")(0), 0);
  }
}

TEST(ActionGuard, AnExceptionEndsTheActionWithItsFailureResultAndALogLine) {
  LogCapture log;
  EXPECT_EQ(GuardAction(L"SomeAction", -1, []() -> int { throw std::runtime_error("bad stoi"); }), -1);
  GuardAction(L"VoidAction", [] { throw 42; });
  EXPECT_EQ(GuardAction(L"QuietAction", -1, [] { return 0; }), 0);
  EXPECT_EQ(log.Messages(), (std::vector<std::string>{"SomeAction : ended after an unexpected error: bad stoi",
                                                      "VoidAction : ended after an unexpected error"}));
}
