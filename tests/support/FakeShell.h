// Puts the stand-in command interpreter (standins/fakeshell.exe) in COMSPEC
// for this process, answering "ver" with chosen bytes, and puts the previous
// environment back when the scope ends.
#pragma once

#include <memory>

#include "support/TestSupport.h"
#include <string>

namespace testsupport {


class ScopedFakeShell {
 public:
  // verOutput: the exact bytes "ver" prints (may be empty); exitCode: the
  // interpreter's exit status.
  explicit ScopedFakeShell(const std::string& verOutput, int exitCode = 0);
  ~ScopedFakeShell();
  ScopedFakeShell(const ScopedFakeShell&) = delete;
  ScopedFakeShell& operator=(const ScopedFakeShell&) = delete;

  // The arguments of every call, one line each ("/c ver\n" per run).
  std::string Calls() const;

 private:
  std::wstring m_outputFile;
  std::wstring m_callsFile;
  // Restored in reverse order of setting.
  std::unique_ptr<ScopedEnvironmentVariable> m_comspec, m_output, m_calls, m_exitCode;
};

std::wstring FakeShellPath();

}  // namespace testsupport
