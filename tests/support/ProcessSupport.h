// Helpers for the process tests: starting the stand-in programs and making sure
// they end, the installer-log texts, and putting registry values back.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace testsupport {

// BuildDir() + "\standins\" + name.
std::wstring StandInPath(const std::wstring& name);

// A program started hidden for a test. Ended (exit code 1) when the object goes
// out of scope if it still runs, so no test leaves one behind.
class StartedProcess {
 public:
  explicit StartedProcess(const std::wstring& commandLine);
  ~StartedProcess();
  StartedProcess(const StartedProcess&) = delete;
  StartedProcess& operator=(const StartedProcess&) = delete;

  bool started() const { return m_process != nullptr; }
  DWORD pid() const { return m_pid; }
  HANDLE handle() const { return m_process; }
  // True once the process has its main module loaded (its path can be read).
  bool WaitUntilLoaded(DWORD timeoutMs = 10000) const;
  // STILL_ACTIVE when it has not ended within the time.
  DWORD WaitForExitCode(DWORD timeoutMs = 10000) const;
  bool Running() const { return WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT; }
  // The full path of its executable as the system reports it.
  std::wstring ImagePath() const;

 private:
  HANDLE m_process = nullptr;
  DWORD m_pid = 0;
};

// The texts of the installer-log records, without the "Info [1]." that Wine
// puts in front of a record handed to an external handler.
std::vector<std::wstring> RecordTexts(const MsiTestSession& session);

// Puts back the given DWORD values of one key (present with their old data, or
// absent) and removes the levels of the key path that did not exist before,
// when they are empty.
class ScopedRegistryValues {
 public:
  ScopedRegistryValues(HKEY root, std::wstring subKey, std::vector<std::wstring> names, REGSAM view = 0);
  ~ScopedRegistryValues();
  ScopedRegistryValues(const ScopedRegistryValues&) = delete;
  ScopedRegistryValues& operator=(const ScopedRegistryValues&) = delete;

 private:
  struct Saved {
    std::wstring name;
    bool present;
    DWORD value;
  };
  HKEY m_root;
  std::wstring m_subKey;
  REGSAM m_view;
  std::vector<Saved> m_saved;
  std::vector<std::wstring> m_createdLevels;  // deepest last
};

// Deletes one value; true when it is absent afterwards.
bool RegDeleteValueIn(HKEY root, const std::wstring& subKey, const std::wstring& name, REGSAM view = 0);

// Polls until the DWORD value holds the expected number.
bool WaitForRegistryDword(HKEY root, const std::wstring& subKey, const std::wstring& name, DWORD expected,
                          REGSAM view = 0, DWORD timeoutMs = 10000);

}  // namespace testsupport
