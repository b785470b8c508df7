#include "housekeeping/Seams.h"

#include <windows.h>

#include "frame/Platform.h"

namespace housekeeping_seams {
Is64BitWindowsFn is64BitWindows = &::Is64BitWindows;
void Reset() { is64BitWindows = &::Is64BitWindows; }
}  // namespace housekeeping_seams

unsigned long PlatformRegistryView() {
  return housekeeping_seams::is64BitWindows() != 0 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}
