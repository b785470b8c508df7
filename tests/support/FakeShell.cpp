#include "support/FakeShell.h"

#include <windows.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "support/TestSupport.h"

namespace testsupport {

namespace {

// Both the runtime's copy of the environment and the process's own, so that
// the pipe's interpreter lookup and child processes see the same value.
void SetVariable(const std::wstring& name, const wchar_t* value) {
  const std::wstring assignment = name + L"=" + (value ? value : L"");
  _wputenv(assignment.c_str());
  SetEnvironmentVariableW(name.c_str(), value);
}

std::wstring TempFile(const wchar_t* prefix) {
  wchar_t folder[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, folder);
  wchar_t path[MAX_PATH] = {};
  GetTempFileNameW(folder, prefix, 0, path);
  return path;
}

}  // namespace

std::wstring FakeShellPath() { return BuildDir() + L"\\standins\\fakeshell.exe"; }

ScopedEnvironmentVariable::ScopedEnvironmentVariable(const std::wstring& name, const wchar_t* value)
    : m_name(name), m_hadValue(false) {
  const DWORD needed = GetEnvironmentVariableW(name.c_str(), nullptr, 0);
  if (needed > 0) {
    std::vector<wchar_t> buffer(needed);
    GetEnvironmentVariableW(name.c_str(), buffer.data(), needed);
    m_oldValue = buffer.data();
    m_hadValue = true;
  }
  SetVariable(name, value);
}

ScopedEnvironmentVariable::~ScopedEnvironmentVariable() {
  SetVariable(m_name, m_hadValue ? m_oldValue.c_str() : nullptr);
}

ScopedFakeShell::ScopedFakeShell(const std::string& verOutput, int exitCode)
    : m_outputFile(TempFile(L"ihv")), m_callsFile(TempFile(L"ihc")) {
  WriteFileBytes(m_outputFile, verOutput);
  WriteFileBytes(m_callsFile, "");
  m_comspec = std::make_unique<ScopedEnvironmentVariable>(L"COMSPEC", FakeShellPath().c_str());
  m_output = std::make_unique<ScopedEnvironmentVariable>(L"IH_FAKESHELL_OUTPUT", m_outputFile.c_str());
  m_calls = std::make_unique<ScopedEnvironmentVariable>(L"IH_FAKESHELL_CALLS", m_callsFile.c_str());
  m_exitCode = std::make_unique<ScopedEnvironmentVariable>(L"IH_FAKESHELL_EXIT", std::to_wstring(exitCode).c_str());
}

ScopedFakeShell::~ScopedFakeShell() {
  m_exitCode.reset();
  m_calls.reset();
  m_output.reset();
  m_comspec.reset();
  DeleteFileW(m_outputFile.c_str());
  DeleteFileW(m_callsFile.c_str());
}

std::string ScopedFakeShell::Calls() const { return ReadFileBytes(m_callsFile); }

}  // namespace testsupport
