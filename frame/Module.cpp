#include "frame/Module.h"

HMODULE g_hInstallHelperModule = nullptr;
