#include "support/ProcessSupport.h"

#include <psapi.h>

namespace testsupport {

std::wstring StandInPath(const std::wstring& name) { return BuildDir() + L"\\standins\\" + name; }

StartedProcess::StartedProcess(const std::wstring& commandLine) {
  std::wstring writable = commandLine;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(nullptr, &writable[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                      &info))
    return;
  CloseHandle(info.hThread);
  m_process = info.hProcess;
  m_pid = info.dwProcessId;
}

StartedProcess::~StartedProcess() {
  if (m_process == nullptr) return;
  if (Running()) {
    TerminateProcess(m_process, 1);
    WaitForSingleObject(m_process, 10000);
  }
  CloseHandle(m_process);
}

bool StartedProcess::WaitUntilLoaded(DWORD timeoutMs) const {
  for (DWORD waited = 0; m_process != nullptr && waited <= timeoutMs; waited += 20) {
    if (!ImagePath().empty()) return true;
    Sleep(20);
  }
  return false;
}

DWORD StartedProcess::WaitForExitCode(DWORD timeoutMs) const {
  DWORD code = STILL_ACTIVE;
  if (m_process == nullptr || WaitForSingleObject(m_process, timeoutMs) != WAIT_OBJECT_0) return STILL_ACTIVE;
  GetExitCodeProcess(m_process, &code);
  return code;
}

std::wstring StartedProcess::ImagePath() const {
  wchar_t path[MAX_PATH + 1] = {};
  if (m_process == nullptr || K32GetModuleFileNameExW(m_process, nullptr, path, MAX_PATH) == 0) return std::wstring();
  return path;
}

std::vector<std::wstring> RecordTexts(const MsiTestSession& session) {
  const std::wstring winePrefix = L"Info [1].";
  std::vector<std::wstring> texts;
  for (const auto& record : session.records()) {
    if (record.text.compare(0, winePrefix.size(), winePrefix) == 0) {
      texts.push_back(record.text.substr(winePrefix.size()));
    } else {
      texts.push_back(record.text);
    }
  }
  return texts;
}

ScopedRegistryValues::ScopedRegistryValues(HKEY root, std::wstring subKey, std::vector<std::wstring> names,
                                           REGSAM view)
    : m_root(root), m_subKey(std::move(subKey)), m_view(view) {
  for (const auto& name : names) {
    Saved saved{name, false, 0};
    saved.present = RegGetDword(m_root, m_subKey, name, saved.value, m_view);
    m_saved.push_back(saved);
  }
  for (size_t pos = 0; pos != std::wstring::npos;) {
    pos = m_subKey.find(L'\\', pos + 1);
    const std::wstring level = m_subKey.substr(0, pos);
    if (!RegKeyExists(m_root, level, m_view)) m_createdLevels.push_back(level);
  }
}

ScopedRegistryValues::~ScopedRegistryValues() {
  for (const auto& saved : m_saved) {
    if (saved.present) {
      RegSetDword(m_root, m_subKey, saved.name, saved.value, m_view);
    } else {
      RegDeleteValueIn(m_root, m_subKey, saved.name, m_view);
    }
  }
  // Deepest first; a level that holds anything else stays.
  for (auto level = m_createdLevels.rbegin(); level != m_createdLevels.rend(); ++level)
    RegDeleteKeyExW(m_root, level->c_str(), m_view, 0);
}

bool RegDeleteValueIn(HKEY root, const std::wstring& subKey, const std::wstring& name, REGSAM view) {
  HKEY key;
  if (RegOpenKeyExW(root, subKey.c_str(), 0, KEY_SET_VALUE | view, &key) != ERROR_SUCCESS) return true;
  RegDeleteValueW(key, name.c_str());
  RegCloseKey(key);
  return !RegValueExists(root, subKey, name, view);
}

bool WaitForRegistryDword(HKEY root, const std::wstring& subKey, const std::wstring& name, DWORD expected,
                          REGSAM view, DWORD timeoutMs) {
  for (DWORD waited = 0; waited <= timeoutMs; waited += 20) {
    DWORD value = 0;
    if (RegGetDword(root, subKey, name, value, view) && value == expected) return true;
    Sleep(20);
  }
  return false;
}

}  // namespace testsupport
