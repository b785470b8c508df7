// A child program for the process runner's tests. The arguments are carried
// out in order:
//   --out TEXT      write TEXT to standard output
//   --err TEXT      write TEXT to standard error
//   --ids           write "pid=<process id> tid=<thread id>" to standard output
//   --sleep MS      sleep MS milliseconds
//   --handles FILE  write the kind of each standard handle to FILE, as
//                   "in=<kind> out=<kind> err=<kind>" with kind null, file or other
//   --exit CODE     exit code at the end (decimal or 0x hex); 0 by default
// Before them it writes the text of IH_CHILD_PRINTS, when set, to standard output: as the command
// interpreter (COMSPEC) it prints the "ver" text a test chose, then ends on "/c" with 101.
#include <windows.h>

#include <cstdlib>
#include <string>

static void Write(HANDLE to, const std::string& text) {
  DWORD written = 0;
  WriteFile(to, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

static std::string Kind(DWORD which) {
  const HANDLE handle = GetStdHandle(which);
  return !handle ? "null" : GetFileType(handle) == FILE_TYPE_DISK ? "file" : "other";
}

int main(int argc, char** argv) {
  unsigned long exitCode = 0;
  char printed[4096];
  const DWORD length = GetEnvironmentVariableA("IH_CHILD_PRINTS", printed, sizeof(printed));
  if (length < sizeof(printed)) Write(GetStdHandle(STD_OUTPUT_HANDLE), std::string(printed, length));
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i], value = i + 1 < argc ? argv[i + 1] : "";
    i += option != "--ids";
    if (option == "--ids") {
      Write(GetStdHandle(STD_OUTPUT_HANDLE), "pid=" + std::to_string(GetCurrentProcessId()) +
                                                 " tid=" + std::to_string(GetCurrentThreadId()));
    } else if (option == "--out" || option == "--err") {
      Write(GetStdHandle(option == "--out" ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE), value);
    } else if (option == "--sleep") {
      Sleep(strtoul(value.c_str(), nullptr, 0));
    } else if (option == "--handles") {
      const HANDLE file = CreateFileA(value.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
      Write(file,
            "in=" + Kind(STD_INPUT_HANDLE) + " out=" + Kind(STD_OUTPUT_HANDLE) + " err=" + Kind(STD_ERROR_HANDLE));
      CloseHandle(file);
    } else if (option == "--exit") {
      exitCode = strtoul(value.c_str(), nullptr, 0);
    } else {
      return 101;
    }
  }
  ExitProcess(static_cast<UINT>(exitCode));
}
