// Registry access by one value path: hive name + "\" + key path + "\\" + value name.
#pragma once

#include <windows.h>

#include <map>
#include <string>

#include "frame/Owners.h"

class ORegistryHelper {
 public:
  ORegistryHelper();
  virtual ~ORegistryHelper();
  ORegistryHelper(const ORegistryHelper&) = delete;
  ORegistryHelper& operator=(const ORegistryHelper&) = delete;

  int OpenKey(const std::wstring& keyPath, REGSAM access);
  int CloseKey();
  int QueryStringValue(const std::wstring& name, std::wstring& out);
  int QueryDwordValue(const std::wstring& name, DWORD& out);
  int SetStringValue(const std::wstring& name, const std::wstring& value);
  int SetDwordValue(const std::wstring& name, DWORD value);
  int DeleteValue(const std::wstring& name);
  int DeleteSubKey(const std::wstring& name);
  int DeleteOpenKey();

 private:
  bool HasOpenKey() const { return m_hKey.valid(); }

  std::map<std::wstring, HKEY> m_hives;
  UniqueRegKey m_hKey;
};

// Each returns 0 on success and -1 on any failure; none throws or logs.
// view: 0, KEY_WOW64_64KEY or KEY_WOW64_32KEY, passed through to the registry.
int ReadRegistryString(std::wstring valuePath, std::wstring& value, DWORD view);
int WriteRegistryString(std::wstring valuePath, std::wstring value, DWORD view);
int ReadRegistryDword(std::wstring valuePath, DWORD& value, DWORD view);
int WriteRegistryDword(std::wstring valuePath, DWORD value, DWORD view);
int DeleteRegistryValue(std::wstring valuePath, DWORD view);
int DeleteRegistryKey(std::wstring keyPath, DWORD view);
