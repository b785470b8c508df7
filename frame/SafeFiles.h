// Files and folders in places that other users can write to (the Windows
// folder's Temp, ProgramData). What the library writes, moves or deletes there
// must be its own: never a link or a second name that someone planted to send
// the write or the deletion somewhere else.
#pragma once

#include <windows.h>
#include <aclapi.h>

#include <string>

#include "frame/Owners.h"
#include "frame/Seam.h"

// What a refused file reports: a link, a second name or a foreign owner.
constexpr DWORD kRefusedFileError = ERROR_CANT_ACCESS_FILE;

// "X:\...": a full path on a drive letter, not empty, relative or on the network.
bool IsDrivePath(const std::wstring& path);

// Owned by SYSTEM, the administrators, TrustedInstaller or the account that
// runs this: nobody else can have planted it.
bool IsTrustedOwner(HANDLE object);

// Renames the file behind the handle to a full path (183 when it exists and
// replace is false): only the name there goes, never what it leads to.
bool RenameByHandle(HANDLE file, const std::wstring& newPath, bool replace);

// Deletes the file or folder behind the handle when the handle closes.
bool DeleteByHandle(HANDLE file);

// Copies from one handle's position to the end into the other, every read and
// write checked, then flushes; false with the error otherwise.
bool CopyContent(HANDLE from, HANDLE to);

// Bytes from the system's random source: names nobody can guess and take first.
bool SystemRandom(void* buffer, ULONG size);

// For folders whose access list only SYSTEM and the administrators may change.
// The platform's temporary uninstall set: users may read it, never write in
// it (SYSTEM runs what is there). The log folder: users may also add files and
// append to them, since immediate actions run as the installing user; a link
// or a second name planted there is never written through (HeldFolder).
class PrivateFolderSecurity {
 public:
  enum class Users { None, Read, ReadAndAdd };  // None also suits a file
  explicit PrivateFolderSecurity(Users users);
  SECURITY_ATTRIBUTES* get() { return &m_attributes; }

 private:
  UniqueLocal m_descriptor;
  SECURITY_ATTRIBUTES m_attributes;
};

// Wine gives every file the same owner, so tests point this elsewhere.
namespace file_seams {
extern Seam<decltype(&::GetSecurityInfo)> getSecurityInfo;
// Called before each change to the policy's files and folders (HeldFolder's
// copies, moves and new levels), so that a test can end the process there.
extern Seam<void (*)()> beforeChange;
// The read inside CopyContent and the random source of SystemRandom, which no
// test can make fail or repeat otherwise.
extern Seam<decltype(&::ReadFile)> readFile;
extern Seam<BOOLEAN(WINAPI*)(PVOID, ULONG)> systemRandom;
}
