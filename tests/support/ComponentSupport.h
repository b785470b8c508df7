// Helpers for the component tests: matching a log with wildcards, the product's
// and the platform's registry keys, scratch folders.
#pragma once

#include <shlobj.h>
#include <shlwapi.h>

#include "support/TestSupport.h"

namespace testsupport {

// True when text from t on reads as pattern from p on; each "..." in the pattern stands for any run of characters.
inline bool MatchesFrom(const std::string& text, const std::string& pattern, size_t t, size_t p) {
  const size_t wild = pattern.find("...", p);
  if (wild == std::string::npos) return text.compare(t, std::string::npos, pattern, p) == 0;
  for (size_t at = t + wild - p; text.compare(t, wild - p, pattern, p, wild - p) == 0 && at <= text.size(); ++at)
    if (MatchesFrom(text, pattern, at, wild + 3)) return true;
  return false;
}
// The text shows when it does not match.
inline testing::AssertionResult Matches(const std::string& text, const std::string& pattern) {
  return MatchesFrom(text, pattern, 0, 0) ? testing::AssertionSuccess() : testing::AssertionFailure() << text;
}

// A fresh, empty C:\ih-components\<name>, removed again with what it holds.
struct ScratchFolder {
  explicit ScratchFolder(const std::wstring& name) : path(L"C:\\ih-components\\" + name) {
    RemoveTree(path);
    SHCreateDirectoryExW(nullptr, path.c_str(), nullptr);
  }
  ~ScratchFolder() {
    RemoveTree(path);
    RemoveDirectoryW(L"C:\\ih-components");  // the parent once empty
  }
  std::wstring operator/(const std::wstring& name) const { return path + L"\\" + name; }
  const std::wstring path;
};

// The product's key (64-bit view) and the platform's key (32-bit view), on a
// machine without the product's or vendors' keys.
struct ComponentKeys : MachineKeys {
  static constexpr const wchar_t *kProduct = L"Software\\Norvale\\LYN\\General",
                                 *kPlatform = L"Software\\Veltan\\Basalt";
  void SetProduct(const wchar_t* name, const std::wstring& value) const {
    RegSetString(HKEY_LOCAL_MACHINE, kProduct, name, value, KEY_WOW64_64KEY);
  }
  void SetPlatformFolder(const std::wstring& folder) const {
    RegSetString(HKEY_LOCAL_MACHINE, kPlatform, L"szInstallDir64", folder, KEY_WOW64_32KEY);
  }
};

}  // namespace testsupport
