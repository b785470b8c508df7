// Helpers for the component tests: both logs of one run, the product's and the
// platform's registry keys, and scratch folders.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace testsupport {

// Lines joined with "|": a text-log message ending in "\n" shows as "text||next".
std::string Joined(const std::vector<std::string>& lines);

// A real installer handle, with what the engine and the text log receive from construction on.
class BothLogs {
 public:
  MSIHANDLE handle() const { return m_session.handle(); }
  std::string Records() const;  // joined, Wine's "Info [1]." removed
  std::string Text() const { return Joined(m_text.Lines()); }

 private:
  MsiTestSession m_session;
  LogCapture m_text;
};

// A fresh, empty C:\ih-components\<name>; removed again with everything in it.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::wstring& name);
  ~ScratchFolder();
  const std::wstring& path() const { return m_path; }
  std::wstring operator/(const std::wstring& name) const { return m_path + L"\\" + name; }

 private:
  std::wstring m_path;
};

// The product's key (64-bit view) and the platform's key (32-bit view): absent
// at the start, removed again at the end.
class ComponentKeys {
 public:
  ComponentKeys() { Clear(); }
  void Clear() const;
  void SetProduct(const wchar_t* name, const std::wstring& value) const;
  void SetPlatformFolder(const std::wstring& folder) const;

 private:
  ScopedRegistryKey m_product{HKEY_LOCAL_MACHINE, L"Software\\Norvale\\LYN\\General", KEY_WOW64_64KEY};
  ScopedRegistryKey m_platform{HKEY_LOCAL_MACHINE, L"Software\\Veltan\\Basalt", KEY_WOW64_32KEY};
};

}  // namespace testsupport
