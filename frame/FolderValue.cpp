#include "frame/FolderValue.h"

#include "frame/RegistryHelper.h"
#include "frame/SafeFiles.h"

int ReadFolderValue(const std::wstring& valuePath, std::wstring& folder, DWORD view) {
  if (ReadRegistryString(valuePath, folder, view) == 0 && IsDrivePath(folder) &&
      folder.find(L'"') == std::wstring::npos)
    return 0;
  folder.clear();
  return -1;
}
