// The pre-install checks' process-wide objects. Defined in one unit so that
// they are built in this order when the library is loaded and destroyed in
// the reverse order when it is unloaded.
#include "checks/NtApiCompilerSafe.h"

NtApiCompilerSafe g_ntApiCompilerSafe;
