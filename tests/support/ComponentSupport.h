// Helpers for the component tests: both logs of one run, matching a log with
// wildcards, the product's and the platform's registry keys, scratch folders.
#pragma once

#include <shlobj.h>
#include <windows.h>

#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace testsupport {

// True when text reads as pattern, in which each "..." stands for any run of characters.
inline bool Matches(const std::string& text, const std::string& pattern) {
  std::vector<std::string> pieces;
  for (size_t from = 0, wild = 0; wild != std::string::npos; from = wild + 3) {
    wild = pattern.find("...", from);
    pieces.push_back(pattern.substr(from, wild - from));
  }
  const std::string &first = pieces.front(), &last = pieces.back();
  if (pieces.size() == 1 || text.size() < first.size() + last.size()) return text == pattern;
  size_t at = text.compare(0, first.size(), first) == 0 ? first.size() : std::string::npos;
  for (size_t i = 1; i + 1 < pieces.size() && at != std::string::npos; ++i) {
    at = text.find(pieces[i], at);  // leftmost, in order
    if (at != std::string::npos) at += pieces[i].size();
  }
  return at <= text.size() - last.size() && text.compare(text.size() - last.size(), last.size(), last) == 0;
}

// A real installer handle, and what the engine and the text log receive from
// construction on, each joined with "|" (a text ending in "\n" reads "text||next").
class BothLogs {
 public:
  MSIHANDLE handle() const { return m_session.handle(); }
  std::string Records() const {
    std::string joined;
    for (const auto& record : m_session.records())  // Wine puts "Info [1]." in front
      joined += "|" + Narrow(record.text.substr(record.text.compare(0, 9, L"Info [1].") == 0 ? 9 : 0));
    return joined.substr(joined.empty() ? 0 : 1);
  }
  std::string Text() const {
    std::string joined;
    for (const auto& line : m_text.Lines()) joined += "|" + line;
    return joined.substr(joined.empty() ? 0 : 1);
  }

 private:
  MsiTestSession m_session;
  LogCapture m_text;
};

// A fresh, empty C:\ih-components\<name>, removed again with what it holds.
struct ScratchFolder {
  explicit ScratchFolder(const std::wstring& name) : path(L"C:\\ih-components\\" + name) {
    RemoveTree(path);
    SHCreateDirectoryExW(nullptr, path.c_str(), nullptr);
  }
  ~ScratchFolder() { RemoveTree(path), RemoveDirectoryW(L"C:\\ih-components"); }  // the parent once empty
  std::wstring operator/(const std::wstring& name) const { return path + L"\\" + name; }
  const std::wstring path;
};

// The product's key (64-bit view) and the platform's key (32-bit view):
// absent at the start and after Clear(), removed with the parents they needed at the end.
struct ComponentKeys {
  ComponentKeys() { Clear(); }
  void Clear() const {
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Norvale\\LYN\\General", KEY_WOW64_64KEY, 0);
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Veltan\\Basalt", KEY_WOW64_32KEY, 0);
  }
  void SetProduct(const wchar_t* name, const std::wstring& value) const {
    RegSetString(HKEY_LOCAL_MACHINE, L"Software\\Norvale\\LYN\\General", name, value, KEY_WOW64_64KEY);
  }
  void SetPlatformFolder(const std::wstring& folder) const {
    RegSetString(HKEY_LOCAL_MACHINE, L"Software\\Veltan\\Basalt", L"szInstallDir64", folder, KEY_WOW64_32KEY);
  }
  ScopedRegistryKey product{HKEY_LOCAL_MACHINE, L"Software\\Norvale\\LYN\\General", KEY_WOW64_64KEY};
  ScopedRegistryKey platform{HKEY_LOCAL_MACHINE, L"Software\\Veltan\\Basalt", KEY_WOW64_32KEY};
};

}  // namespace testsupport
