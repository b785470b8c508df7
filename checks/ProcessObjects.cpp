// The pre-install checks' process-wide objects. Defined in one unit so that
// they are built in this order when the library is loaded and destroyed in
// the reverse order when it is unloaded.
#include <string>

#include "checks/CaseSensitivity.h"
#include "checks/NtApiCompilerSafe.h"

NtApiCompilerSafe g_ntApiCompilerSafe;
const std::wstring win10rs4Version = L"10.0.17134";
