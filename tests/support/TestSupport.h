// Helpers shared by the tests, the header each test includes first: reading
// what the text log received, real installer handles, cleaning up machine
// state, the handle probe, seams pointed elsewhere.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <msi.h>

#include <algorithm>
#include <string>
#include <vector>

#include "frame/Owners.h"
#include "support/ScopedSeam.h"

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
  // The lines, prefix removed; a message that ended in "\n" shows as its text
  // followed by an empty entry. Only prefixed: a message's own line breaks and
  // the blank line after a message ending in "\n" left out.
  std::vector<std::string> Lines(bool onlyPrefixed = false) const;

 private:
  long long m_start;
};

std::string ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool PathExists(const std::wstring& path);
// Removes a folder tree (files included); true when it is gone.
bool RemoveTree(const std::wstring& path);

// The leak probe: the next free handle slots. Wine reuses the lowest free ones, so an
// unchanged list after a call shows that the call closed every handle it
// opened (a single slot would miss a handle opened after one that was closed).
std::vector<HANDLE> NextHandleValues(size_t count = 32);


// Lines joined with "|" (a text ending in "\n" reads "text||next").
std::string Joined(const std::vector<std::string>& lines);

// The wanted lines come one after the other somewhere in the lines, which show when they do not.
inline testing::AssertionResult Follow(const std::vector<std::string>& lines, const std::vector<std::string>& wanted) {
  if (std::search(lines.begin(), lines.end(), wanted.begin(), wanted.end()) != lines.end())
    return testing::AssertionSuccess();
  return testing::AssertionFailure() << testing::PrintToString(lines);
}

// The one way to run the code under test: a real installer handle on a tiny
// package, and what the engine (its INFO records, field 0 formatted with the
// package: Wine puts "Info 1000." in front of what it hands an external
// handler, Windows does not) and the text log receive from construction on.
class BothLogs : NoCopy {
 public:
  BothLogs();
  ~BothLogs();
  MSIHANDLE handle() const { return m_handle; }
  // Runs a call and answers its result; the call must close every handle it opened.
  template <typename Call>
  auto Run(Call call) {
    const std::vector<HANDLE> before = NextHandleValues();
    const ScopeExit check([&before] { EXPECT_EQ(NextHandleValues(), before) << "a handle was left open"; });
    return call();
  }
  // The text-log lines of one call, run as Run runs it.
  template <typename Call>
  static std::vector<std::string> LinesOf(Call call) {
    BothLogs logs;
    logs.Run(call);
    return logs.Lines();
  }
  std::vector<std::string> Lines(bool onlyPrefixed = false) const { return m_text.Lines(onlyPrefixed); }
  std::string Text() const { return Joined(m_text.Lines()); }
  std::string Records() const { return Joined(m_records); }

 private:
  static int WINAPI Handler(LPVOID context, UINT type, MSIHANDLE record);
  MSIHANDLE m_handle = 0;
  std::vector<std::string> m_records;
  INSTALLUI_HANDLER_RECORD m_previous = nullptr;
  LogCapture m_text;
};

// The product's, the vendors' and the stand-in host's registry trees, in both
// views, removed when the scope begins and again when it ends: the test
// prefix holds none of them otherwise, and tests run one at a time.
struct MachineKeys : NoCopy {
  MachineKeys() { Clear(); }
  ~MachineKeys() { Clear(); }
  static void Clear();
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

// A folder made the current one for the scope.
struct ScopedCurrentDirectory : NoCopy {
  explicit ScopedCurrentDirectory(const std::wstring& folder) : previous(MAX_PATH, L'\0') {
    previous.resize(GetCurrentDirectoryW(MAX_PATH, &previous[0]));
    SetCurrentDirectoryW(folder.c_str());
  }
  ~ScopedCurrentDirectory() { SetCurrentDirectoryW(previous.c_str()); }
  std::wstring previous;
};

// Raw registry access for arranging and checking state in tests: a value of any type and bytes, a string, a number.
bool RegSetRaw(HKEY root, const std::wstring& subKey, const std::wstring& name, DWORD type, const void* data,
               DWORD size, REGSAM view = 0);
bool RegSetString(HKEY root, const std::wstring& subKey, const std::wstring& name, const std::wstring& value,
                  REGSAM view = 0);
bool RegSetDword(HKEY root, const std::wstring& subKey, const std::wstring& name, DWORD value, REGSAM view = 0);
bool RegKeyExists(HKEY root, const std::wstring& subKey, REGSAM view = 0);

// Runs a Unix shell command line (Wine starts ELF programs as they are) and
// returns its exit code, or -1 when it could not be started.
int RunUnix(const std::string& shellCommand);
// The Unix path of a Windows path (through Wine's own mapping).
std::string UnixPath(const std::wstring& windowsPath);
// Whether the access list Wine reports for a file or folder (read back from its
// mode bits) grants Everyone anything; false when there is none to read.
bool OpenToEveryone(const std::wstring& path);

// The build tree, as a Windows path (Z:\...), and a stand-in program in it.
std::wstring BuildDir();
std::wstring StandInPath(const std::wstring& name);

using Lines = std::vector<std::string>;
const REGSAM k64 = KEY_WOW64_64KEY, k32 = KEY_WOW64_32KEY;  // the registry's views
// The product's folders, as the checks walk them.
const std::string PF = "C:\\Program Files\\Norvale", PD = "C:\\ProgramData\\Norvale", LYN = PF + "\\LYN";

std::string Narrow(const std::wstring& text);
std::wstring Widen(const std::string& text);

// A long-running stand-in program, started and its main module loaded (so
// that a lookup can read its path); ended when the scope ends.
struct StartedProcess {
  explicit StartedProcess(const std::wstring& program, const std::wstring& arguments = L"--sleep 120000 --exit 3");
  ~StartedProcess();
  DWORD pid() const { return GetProcessId(process.get()); }
  // Its exit code once it has ended, or STILL_ACTIVE after the time given.
  DWORD WaitForExitCode(DWORD timeoutMs = 10000) const;
  UniqueKernelHandle process;
};

}  // namespace testsupport
