// The sample package's "ForcedFailure" action, for trying the rollback: it fails
// whenever it runs. A library action, not a program: the installer engine under
// Wine counts a program that could not be started as a success.
#include <windows.h>

extern "C" __declspec(dllexport) UINT __stdcall ForcedFailure(unsigned long) { return ERROR_INSTALL_FAILURE; }
