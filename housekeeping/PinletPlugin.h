// Removal of the product's plug-in from the maker's tray application, through
// the tray application's own install-support library.
#pragma once

#include <windows.h>

#include "frame/Owners.h"

// Unregisters "ORBPinletPlugin" through "PinletInstSupp.dll". module receives
// the support library once loaded (the caller frees it); failed must be 0 on
// entry and is set to 1 when the library or one of its calls failed, back to
// 0 when both calls succeeded. Missing folders leave it 0: nothing to remove.
void UninstallPinletPlugin(UniqueModule& module, int& failed);
