// A child program for the process runner's tests. The arguments are carried
// out in order:
//   --out TEXT      write TEXT to standard output
//   --err TEXT      write TEXT to standard error
//   --ids           write "pid=<process id> tid=<thread id>" to standard output
//   --sleep MS      sleep MS milliseconds
//   --touch FILE    create FILE (shows that the program ran)
//   --handles FILE  write the kind of each standard handle to FILE, as
//                   "in=<kind> out=<kind> err=<kind>" with kind null, invalid or file
//   --exit CODE     exit code at the end (decimal or 0x hex); 0 by default
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void WriteTo(DWORD which, const std::string& text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(which), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void CreateWithText(const char* path, const std::string& text) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

const char* Kind(HANDLE handle) {
  if (handle == nullptr) return "null";
  if (handle == INVALID_HANDLE_VALUE) return "invalid";
  return GetFileType(handle) == FILE_TYPE_DISK ? "file" : "other";
}

}  // namespace

int main(int argc, char** argv) {
  unsigned long exitCode = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--ids") {
      WriteTo(STD_OUTPUT_HANDLE, "pid=" + std::to_string(GetCurrentProcessId()) +
                                     " tid=" + std::to_string(GetCurrentThreadId()));
      continue;
    }
    if (i + 1 >= argc) return 100;  // every other option takes a value
    const char* value = argv[++i];
    if (option == "--out") {
      WriteTo(STD_OUTPUT_HANDLE, value);
    } else if (option == "--err") {
      WriteTo(STD_ERROR_HANDLE, value);
    } else if (option == "--sleep") {
      Sleep(strtoul(value, nullptr, 0));
    } else if (option == "--touch") {
      CreateWithText(value, "ran");
    } else if (option == "--handles") {
      CreateWithText(value, std::string("in=") + Kind(GetStdHandle(STD_INPUT_HANDLE)) +
                                " out=" + Kind(GetStdHandle(STD_OUTPUT_HANDLE)) +
                                " err=" + Kind(GetStdHandle(STD_ERROR_HANDLE)));
    } else if (option == "--exit") {
      exitCode = strtoul(value, nullptr, 0);
    } else {
      return 101;
    }
  }
  ExitProcess(static_cast<UINT>(exitCode));
}
