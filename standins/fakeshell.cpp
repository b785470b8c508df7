// A command interpreter that answers "/c ver" with whatever a test chose, so
// tests can stand in any Windows version text, or none at all.
//   IH_FAKESHELL_OUTPUT  file whose bytes are printed as they are (unset: print nothing)
//   IH_FAKESHELL_EXIT    exit code (default 0)
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 3 || lstrcmpiA(argv[1], "/c") != 0 || lstrcmpiA(argv[2], "ver") != 0) return 1;
  if (FILE* output = getenv("IH_FAKESHELL_OUTPUT") ? fopen(getenv("IH_FAKESHELL_OUTPUT"), "rb") : nullptr) {
    char buffer[4096];
    DWORD written = 0;
    for (size_t read; (read = fread(buffer, 1, sizeof(buffer), output)) > 0;)
      WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), buffer, static_cast<DWORD>(read), &written, nullptr);
    fclose(output);
  }
  return getenv("IH_FAKESHELL_EXIT") ? atoi(getenv("IH_FAKESHELL_EXIT")) : 0;
}
