// A command interpreter that answers "/c ver" with whatever a test chose, so
// tests can stand in any Windows version text, or none at all.
//   IH_FAKESHELL_OUTPUT  file whose bytes are printed as they are (unset: print nothing)
//   IH_FAKESHELL_EXIT    exit code (default 0)
//   IH_FAKESHELL_CALLS   file to which each call appends its arguments and a line end
#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

std::string Variable(const char* name) {
  char value[32768];
  const DWORD length = GetEnvironmentVariableA(name, value, sizeof(value));
  return (length == 0 || length >= sizeof(value)) ? std::string() : std::string(value, length);
}

void AppendToFile(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

void CopyToStdout(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
    DWORD written = 0;
    WriteFile(out, buffer, read, &written, nullptr);
  }
  CloseHandle(file);
}

}  // namespace

int main(int argc, char** argv) {
  std::string arguments;
  for (int i = 1; i < argc; ++i) arguments += (i > 1 ? " " : "") + std::string(argv[i]);
  const std::string calls = Variable("IH_FAKESHELL_CALLS");
  if (!calls.empty()) AppendToFile(calls, arguments + "\n");

  if (argc != 3 || lstrcmpiA(argv[1], "/c") != 0 || lstrcmpiA(argv[2], "ver") != 0) return 1;
  const std::string output = Variable("IH_FAKESHELL_OUTPUT");
  if (!output.empty()) CopyToStdout(output);
  const std::string exitCode = Variable("IH_FAKESHELL_EXIT");
  return exitCode.empty() ? 0 : atoi(exitCode.c_str());
}
