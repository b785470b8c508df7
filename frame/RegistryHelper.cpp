#include "frame/RegistryHelper.h"

#include <memory>
#include <utility>

ORegistryHelper::ORegistryHelper() {
  m_hives[L"HKEY_CLASSES_ROOT"] = HKEY_CLASSES_ROOT;
  m_hives[L"HKEY_CURRENT_USER"] = HKEY_CURRENT_USER;
  m_hives[L"HKEY_LOCAL_MACHINE"] = HKEY_LOCAL_MACHINE;
  m_hives[L"HKEY_USERS"] = HKEY_USERS;
  m_hives[L"HKEY_PERFORMANCE_DATA"] = HKEY_PERFORMANCE_DATA;
  m_hives[L"HKEY_PERFORMANCE_TEXT"] = HKEY_PERFORMANCE_TEXT;
  m_hives[L"HKEY_PERFORMANCE_NLSTEXT"] = HKEY_PERFORMANCE_NLSTEXT;
  m_hives[L"HKEY_CURRENT_CONFIG"] = HKEY_CURRENT_CONFIG;
  m_hives[L"HKEY_DYN_DATA"] = HKEY_DYN_DATA;
}

ORegistryHelper::~ORegistryHelper() { CloseKey(); }

int ORegistryHelper::OpenKey(const std::wstring& keyPath, REGSAM access) {
  CloseKey();
  size_t start = keyPath.find_first_not_of(L'\\');
  if (start == std::wstring::npos) return -1;
  size_t hiveEnd = keyPath.find(L'\\', start);
  const std::wstring hiveName = keyPath.substr(start, hiveEnd == std::wstring::npos ? std::wstring::npos : hiveEnd - start);
  std::wstring subKey;
  if (hiveEnd != std::wstring::npos) {
    size_t subStart = keyPath.find_first_not_of(L'\\', hiveEnd);
    if (subStart != std::wstring::npos) subKey = keyPath.substr(subStart);
  }

  auto hive = m_hives.find(hiveName);
  if (hive == m_hives.end()) return -1;

  UniqueRegKey key;
  LONG status;
  if (access & KEY_SET_VALUE) {
    status = RegCreateKeyExW(hive->second, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                             key.put(), nullptr);
  } else {
    status = RegOpenKeyExW(hive->second, subKey.c_str(), 0, access, key.put());
  }
  if (status != ERROR_SUCCESS) return -1;
  m_hKey = std::move(key);
  return 0;
}

int ORegistryHelper::CloseKey() {
  m_hKey.reset();
  return 0;
}

int ORegistryHelper::QueryStringValue(const std::wstring& name, std::wstring& out) {
  if (!HasOpenKey()) return -1;
  DWORD type = REG_SZ;
  DWORD size = 0;
  if (RegQueryValueExW(m_hKey.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return -1;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return -1;

  // size wide characters for size bytes: room to spare for a missing terminator.
  std::unique_ptr<wchar_t[]> buffer(new wchar_t[size + 1]());
  if (RegQueryValueExW(m_hKey.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.get()), &size) !=
      ERROR_SUCCESS)
    return -1;
  const size_t chars = size / sizeof(wchar_t);
  size_t length = 0;
  while (length < chars && buffer[length] != L'\0') ++length;
  out.assign(buffer.get(), length);
  return 0;
}

int ORegistryHelper::QueryDwordValue(const std::wstring& name, DWORD& out) {
  if (!HasOpenKey()) return -1;
  DWORD type = REG_DWORD;
  DWORD size = sizeof(DWORD);
  return RegQueryValueExW(m_hKey.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&out), &size) ==
                 ERROR_SUCCESS
             ? 0
             : -1;
}

int ORegistryHelper::SetStringValue(const std::wstring& name, const std::wstring& value) {
  if (!HasOpenKey()) return -1;
  const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
  return RegSetValueExW(m_hKey.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes) ==
                 ERROR_SUCCESS
             ? 0
             : -1;
}

int ORegistryHelper::SetDwordValue(const std::wstring& name, DWORD value) {
  if (!HasOpenKey()) return -1;
  return RegSetValueExW(m_hKey.get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)) ==
                 ERROR_SUCCESS
             ? 0
             : -1;
}

int ORegistryHelper::DeleteValue(const std::wstring& name) {
  if (!HasOpenKey()) return -1;
  return RegDeleteValueW(m_hKey.get(), name.c_str()) == ERROR_SUCCESS ? 0 : -1;
}

int ORegistryHelper::DeleteSubKey(const std::wstring& name) {
  if (!HasOpenKey()) return -1;
  return RegDeleteKeyW(m_hKey.get(), name.c_str()) == ERROR_SUCCESS ? 0 : -1;
}

int ORegistryHelper::DeleteOpenKey() { return DeleteSubKey(L""); }

namespace {

// Splits at the last backslash. keepPairSeparator keeps the first backslash of
// the "\\" pair in the key part (the string read does; the others drop it).
bool SplitValuePath(const std::wstring& path, bool keepPairSeparator, std::wstring& keyPath, std::wstring& name) {
  const size_t last = path.rfind(L'\\');
  if (last == std::wstring::npos || last == 0) return false;
  name = path.substr(last + 1);
  keyPath = path.substr(0, keepPairSeparator ? last : last - 1);
  return true;
}

template <typename Action>
int WithKey(const std::wstring& valuePath, bool keepPairSeparator, REGSAM access, Action action) {
  try {
    std::wstring keyPath, name;
    if (!SplitValuePath(valuePath, keepPairSeparator, keyPath, name)) return -1;
    ORegistryHelper helper;
    if (helper.OpenKey(keyPath, access) != 0) return -1;
    return action(helper, name);
  } catch (...) {
    return -1;
  }
}

}  // namespace

int ReadRegistryString(std::wstring valuePath, std::wstring& value, DWORD view) {
  return WithKey(valuePath, true, view | KEY_QUERY_VALUE,
                 [&](ORegistryHelper& key, const std::wstring& name) { return key.QueryStringValue(name, value); });
}

int WriteRegistryString(std::wstring valuePath, std::wstring value, DWORD view) {
  return WithKey(valuePath, false, view | KEY_SET_VALUE,
                 [&](ORegistryHelper& key, const std::wstring& name) { return key.SetStringValue(name, value); });
}

int ReadRegistryDword(std::wstring valuePath, DWORD& value, DWORD view) {
  return WithKey(valuePath, false, view | KEY_QUERY_VALUE,
                 [&](ORegistryHelper& key, const std::wstring& name) { return key.QueryDwordValue(name, value); });
}

int WriteRegistryDword(std::wstring valuePath, DWORD value, DWORD view) {
  return WithKey(valuePath, false, view | KEY_SET_VALUE,
                 [&](ORegistryHelper& key, const std::wstring& name) { return key.SetDwordValue(name, value); });
}

int DeleteRegistryValue(std::wstring valuePath, DWORD view) {
  return WithKey(valuePath, false, view | KEY_SET_VALUE,
                 [&](ORegistryHelper& key, const std::wstring& name) { return key.DeleteValue(name); });
}

int DeleteRegistryKey(std::wstring keyPath, DWORD view) {
  try {
    ORegistryHelper helper;
    if (helper.OpenKey(keyPath, view | KEY_SET_VALUE) != 0) return -1;
    return helper.DeleteOpenKey();
  } catch (...) {
    return -1;
  }
}
