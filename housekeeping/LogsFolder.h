// Removal of the product's run-time log folder at uninstallation.
#pragma once

#include <string>

// Deletes a file or a folder with all its content through the shell, silently
// and without confirmation; permanent = false sends it to the recycle bin.
// True when the shell reported success. Links are removed themselves, never
// followed; a link that cannot be removed keeps the whole path in place (false).
bool DeletePathWithShell(const std::wstring& path, bool permanent);
