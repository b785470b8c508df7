#pragma once

#include <windows.h>

// The library's own module handle, recorded when the library is attached.
extern HMODULE g_hInstallHelperModule;
