#include "support/HousekeepingSupport.h"

#include <memory>

#include "support/TestSupport.h"

namespace testsupport {

namespace {

RegistryTreeSnapshot::Tree Capture(HKEY parent, const std::wstring& subKey, REGSAM view) {
  RegistryTreeSnapshot::Tree tree;
  HKEY key;
  if (RegOpenKeyExW(parent, subKey.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return tree;
  tree.exists = true;
  DWORD subKeyCount = 0, maxSubKeyLength = 0, valueCount = 0, maxNameLength = 0, maxDataLength = 0;
  RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeyCount, &maxSubKeyLength, nullptr, &valueCount,
                   &maxNameLength, &maxDataLength, nullptr, nullptr);
  for (DWORD i = 0; i < valueCount; ++i) {
    std::vector<wchar_t> name(maxNameLength + 2);
    std::string data(maxDataLength + 2, '\0');
    DWORD nameLength = static_cast<DWORD>(name.size());
    DWORD dataLength = static_cast<DWORD>(data.size());
    DWORD type = 0;
    if (RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(&data[0]),
                      &dataLength) != ERROR_SUCCESS)
      continue;
    data.resize(dataLength);
    tree.values.push_back({std::wstring(name.data(), nameLength), type, data});
  }
  for (DWORD i = 0; i < subKeyCount; ++i) {
    std::vector<wchar_t> name(maxSubKeyLength + 2);
    DWORD nameLength = static_cast<DWORD>(name.size());
    if (RegEnumKeyExW(key, i, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) continue;
    const std::wstring child(name.data(), nameLength);
    tree.subKeys.emplace_back(child, Capture(key, child, view));
  }
  RegCloseKey(key);
  return tree;
}

void Recreate(HKEY parent, const std::wstring& subKey, REGSAM view, const RegistryTreeSnapshot::Tree& tree) {
  HKEY key;
  if (RegCreateKeyExW(parent, subKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return;
  for (const auto& value : tree.values)
    RegSetValueExW(key, value.name.c_str(), 0, value.type, reinterpret_cast<const BYTE*>(value.data.data()),
                   static_cast<DWORD>(value.data.size()));
  for (const auto& child : tree.subKeys) Recreate(key, child.first, view, child.second);
  RegCloseKey(key);
}

}  // namespace

void RegDeleteTreeInView(HKEY root, const std::wstring& subKey, REGSAM view) {
  HKEY key;
  if (RegOpenKeyExW(root, subKey.c_str(), 0, KEY_ALL_ACCESS | view, &key) == ERROR_SUCCESS) {
    RegDeleteTreeW(key, nullptr);
    RegCloseKey(key);
  }
  RegDeleteKeyExW(root, subKey.c_str(), view, 0);
}

RegistryTreeSnapshot::RegistryTreeSnapshot(HKEY root, std::wstring subKey, REGSAM view)
    : m_root(root), m_subKey(std::move(subKey)), m_view(view), m_tree(Capture(root, m_subKey, view)) {}

RegistryTreeSnapshot::~RegistryTreeSnapshot() {
  RegDeleteTreeInView(m_root, m_subKey, m_view);
  if (m_tree.exists) Recreate(m_root, m_subKey, m_view, m_tree);
}

FileSnapshot::FileSnapshot(std::wstring path)
    : m_path(std::move(path)), m_existed(PathExists(m_path)), m_bytes(m_existed ? ReadFileBytes(m_path) : "") {}

FileSnapshot::~FileSnapshot() {
  if (m_existed) {
    WriteFileBytes(m_path, m_bytes);
  } else {
    DeleteFileW(m_path.c_str());
  }
}

FileHeldByOtherProcess::FileHeldByOtherProcess(const std::wstring& path) {
  const std::wstring suffix = std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount());
  const std::wstring readyName = L"IHFileHolderReady-" + suffix;
  const std::wstring releaseName = L"IHFileHolderRelease-" + suffix;
  m_ready = CreateEventW(nullptr, TRUE, FALSE, readyName.c_str());
  m_release = CreateEventW(nullptr, TRUE, FALSE, releaseName.c_str());
  if (m_ready == nullptr || m_release == nullptr) return;
  std::wstring commandLine = L"\"" + BuildDir() + L"\\standins\\holder\\FileHolder.exe\" \"" + path + L"\" " +
                             readyName + L" " + releaseName;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                      &m_process)) {
    m_process = {};
    return;
  }
  const HANDLE waitFor[] = {m_ready, m_process.hProcess};
  m_holding = WaitForMultipleObjects(2, waitFor, FALSE, 30000) == WAIT_OBJECT_0;
}

DWORD FileHeldByOtherProcess::Release() {
  if (m_released) return m_exitCode;
  m_released = true;
  m_exitCode = static_cast<DWORD>(-1);
  if (m_release != nullptr) SetEvent(m_release);
  if (m_process.hProcess != nullptr) {
    if (WaitForSingleObject(m_process.hProcess, 30000) != WAIT_OBJECT_0) TerminateProcess(m_process.hProcess, 1);
    GetExitCodeProcess(m_process.hProcess, &m_exitCode);
  }
  return m_exitCode;
}

FileHeldByOtherProcess::~FileHeldByOtherProcess() {
  Release();
  if (m_process.hThread != nullptr) CloseHandle(m_process.hThread);
  if (m_process.hProcess != nullptr) CloseHandle(m_process.hProcess);
  if (m_ready != nullptr) CloseHandle(m_ready);
  if (m_release != nullptr) CloseHandle(m_release);
}

std::wstring HousekeepingTestRoot() { return L"C:\\ProgramData\\IHHousekeeping"; }

std::wstring WindowsFolder() {
  wchar_t folder[MAX_PATH] = {};
  GetWindowsDirectoryW(folder, MAX_PATH);
  return folder;
}

HousekeepingMachineState::HousekeepingMachineState() {
  for (const wchar_t* key : {L"Software\\Norvale", L"SOFTWARE\\Veltan", L"SOFTWARE\\Corvane"}) {
    for (REGSAM view : {static_cast<REGSAM>(KEY_WOW64_64KEY), static_cast<REGSAM>(KEY_WOW64_32KEY)}) {
      m_trees.emplace_back(new RegistryTreeSnapshot(HKEY_LOCAL_MACHINE, key, view));
    }
  }
  for (const wchar_t* name : {L"\\Temp\\LYNPolicy.opg", L"\\Temp\\ORBPolicy.opg"}) {
    m_files.emplace_back(new FileSnapshot(WindowsFolder() + name));
  }
  RemoveTree(HousekeepingTestRoot());
}

HousekeepingMachineState::~HousekeepingMachineState() {
  RemoveTree(HousekeepingTestRoot());
  m_files.clear();
  m_trees.clear();
}

}  // namespace testsupport
