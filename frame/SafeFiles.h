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

// Owned by SYSTEM, the administrators, TrustedInstaller or the owner of the
// Windows folder itself: an account that owns the system's own folder can
// replace what SYSTEM runs anyway (TrustedInstaller on Windows, never a user;
// under Wine, where every file has one owner, that account). Never the running
// account for being the running account: an elevated action would then trust
// what the same administrator's unelevated programs made. runningAccountToo
// trusts it as well, for the one case where the action runs as that account by
// design and nothing privileged reads what it leaves: the text log's lines.
bool IsTrustedOwner(HANDLE object, bool runningAccountToo = false);

// Deletes the file or folder behind the handle when the handle closes.
bool DeleteByHandle(HANDLE file);

// Copies from one handle's position to the end into the other, every read and
// write checked, then flushes; false with the error otherwise.
bool CopyContent(HANDLE from, HANDLE to);

// Bytes from the system's random source: names nobody can guess and take first.
bool SystemRandom(void* buffer, ULONG size);

// A protected access list that only SYSTEM and the administrators may change,
// nothing inherited. Users: nothing (a file SYSTEM's programs write; a folder
// taken from users before it is removed), read (the platform's temporary
// uninstall set, which SYSTEM runs; the policy's folders), or also add files
// and append to them (the log folder, since immediate actions run as the
// installing user; a link or a second name planted there is never written
// through, see frame/FolderGuard.h).
class PrivateFolderSecurity {
 public:
  enum class Users { None, Read, ReadAndAdd };  // None also suits a file
  explicit PrivateFolderSecurity(Users users);
  // Null when the list could not be built: the caller then makes nothing
  // rather than something with the inherited list.
  PSECURITY_DESCRIPTOR get() const { return m_descriptor.get(); }

 private:
  UniqueLocal m_descriptor;
};

// Wine gives every file the same owner, so tests point this elsewhere.
namespace file_seams {
extern Seam<decltype(&::GetSecurityInfo)> getSecurityInfo;
// Called before each change to the policy's files and folders (the folder
// guard's copies, moves, deletions and new levels), so that a test can end the
// process there.
extern Seam<void (*)()> beforeChange;
// The read inside CopyContent and the random source of SystemRandom, which no
// test can make fail or repeat otherwise.
extern Seam<decltype(&::ReadFile)> readFile;
extern Seam<BOOLEAN(WINAPI*)(PVOID, ULONG)> systemRandom;
}
