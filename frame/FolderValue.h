// Folder values from the registry that a path to load or run is built from.
#pragma once

#include <windows.h>

#include <string>

// ReadRegistryString for such a folder: 0 only for a full drive path ("X:\...") without quote characters. Anything
// else answers -1 with the folder empty, as a missing value does: an empty or relative folder would let the load or
// the start search the current folder and PATH, and a quote would end a program's path early on a command line.
int ReadFolderValue(const std::wstring& valuePath, std::wstring& folder, DWORD view);
