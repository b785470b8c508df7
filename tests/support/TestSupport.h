// Helpers shared by the tests: reading what the text log received, real
// installer handles, cleaning up machine state, running Unix commands.
#pragma once

#include <windows.h>
#include <msi.h>

#include <string>

#include "frame/Owners.h"
#include <vector>

namespace testsupport {

// Scope objects put machine state back once: they are never copied.
struct NoCopy {
  NoCopy() = default;
  NoCopy(const NoCopy&) = delete;
  NoCopy& operator=(const NoCopy&) = delete;
};

// Everything the text log receives from construction on.
class LogCapture {
 public:
  LogCapture();
  // The raw bytes appended since construction.
  std::string Raw() const;
  // The messages, prefix removed, one entry per line written; a message that
  // ended in "\n" shows as its text followed by an empty entry.
  std::vector<std::string> Lines() const;
  // Only the lines that carry a prefix (a message's own line breaks and the
  // blank line after a message ending in "\n" left out), prefix removed.
  std::vector<std::string> Messages() const;

 private:
  long long m_start;
};

std::wstring LogFolder();
std::wstring LogFile();
std::string ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool PathExists(const std::wstring& path);
// Removes a folder tree (files included); true when it is gone.
bool RemoveTree(const std::wstring& path);

// A real installer handle on a tiny package, with the records the engine
// receives for it (INFO messages) captured.
class MsiTestSession {
 public:
  struct Record {
    std::wstring text;  // field 0 formatted with the package, as the log shows it
    int field1;
  };
  MsiTestSession();
  ~MsiTestSession();
  MSIHANDLE handle() const { return m_handle; }
  const std::vector<Record>& records() const { return m_records; }
  // The records' texts as the log shows them: Wine puts "Info [1]." (field 1
  // is 1000) in front of the template it hands an external handler, Windows does not.
  std::vector<std::string> Texts() const;

 private:
  static int WINAPI Handler(LPVOID context, UINT type, MSIHANDLE record);
  MSIHANDLE m_handle = 0;
  std::vector<Record> m_records;
  INSTALLUI_HANDLER_RECORD m_previous = nullptr;
};

// Deletes a registry key tree (in the given view) when the scope ends, together
// with any of its parents that did not exist when the scope began.
struct ScopedRegistryKey : NoCopy {
  ScopedRegistryKey(HKEY root, std::wstring subKey, REGSAM view = 0);
  ~ScopedRegistryKey();
  HKEY m_root;
  std::wstring m_subKey;
  REGSAM m_view;
};

// Sets (or, with a null value, removes) an environment variable for this
// process and remembers the old value; the destructor restores it.
struct ScopedEnvironmentVariable : NoCopy {
  ScopedEnvironmentVariable(const std::wstring& name, const wchar_t* value);
  ~ScopedEnvironmentVariable();
  std::wstring m_name;
  bool m_hadValue;
  std::wstring m_oldValue;
};

// Raw registry access for arranging and checking state in tests.
bool RegSetString(HKEY root, const std::wstring& subKey, const std::wstring& name, const std::wstring& value,
                  REGSAM view = 0, DWORD type = REG_SZ);
bool RegSetDword(HKEY root, const std::wstring& subKey, const std::wstring& name, DWORD value, REGSAM view = 0);
bool RegGetDword(HKEY root, const std::wstring& subKey, const std::wstring& name, DWORD& value, REGSAM view = 0);
bool RegKeyExists(HKEY root, const std::wstring& subKey, REGSAM view = 0);
bool RegValueExists(HKEY root, const std::wstring& subKey, const std::wstring& name, REGSAM view = 0);

// Runs a Unix shell command line (Wine starts ELF programs as they are) and
// returns its exit code, or -1 when it could not be started.
int RunUnix(const std::string& shellCommand);
// The Unix path of a Windows path (through Wine's own mapping).
std::string UnixPath(const std::wstring& windowsPath);

// The build tree, as a Windows path (Z:\...).
std::wstring BuildDir();

std::string Narrow(const std::wstring& text);
std::wstring Widen(const std::string& text);

// The next free handle slots: Wine reuses the lowest free ones, so an
// unchanged list after a call shows that the call closed every handle it
// opened (a single slot would miss a handle opened after one that was closed).
std::vector<HANDLE> NextHandleValues(size_t count = 32);

// A long-running stand-in program, started and its main module loaded (so
// that a lookup can read its path); ended when the scope ends.
struct StartedProcess {
  explicit StartedProcess(const std::wstring& program, const std::wstring& arguments = L"120000");
  ~StartedProcess();
  DWORD pid() const { return GetProcessId(process.get()); }
  // Its exit code once it has ended, or STILL_ACTIVE after the time given.
  DWORD WaitForExitCode(DWORD timeoutMs = 10000) const;
  UniqueKernelHandle process;
};
std::wstring StandInPath(const std::wstring& name);

// The one leak probe: made before a call, Unchanged() after it tells that the
// call closed every handle it opened.
class HandleProbe {
 public:
  HandleProbe() : m_before(NextHandleValues()) {}
  bool Unchanged() const { return NextHandleValues() == m_before; }

 private:
  std::vector<HANDLE> m_before;
};

}  // namespace testsupport
