#include "support/FakeShell.h"

#include <windows.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "support/TestSupport.h"

namespace testsupport {

namespace {

std::wstring TempFile(const wchar_t* prefix) {
  wchar_t folder[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, folder);
  wchar_t path[MAX_PATH] = {};
  GetTempFileNameW(folder, prefix, 0, path);
  return path;
}

}  // namespace

std::wstring FakeShellPath() { return BuildDir() + L"\\standins\\fakeshell.exe"; }

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
