// Stands in for the product's long-running service ("LynService.exe"): runs
// until it is ended. An optional argument caps the run time in milliseconds
// (exit code 3), so a crashed test cannot leave it running for ever.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
  Sleep(argc > 1 ? strtoul(argv[1], nullptr, 0) : INFINITE);
  return 3;
}
