// Files and folders in places that other users can write to (the Windows
// folder's Temp, ProgramData). What the library writes, moves or deletes there
// must be its own: never a link or a second name that someone planted to send
// the write or the deletion somewhere else.
#pragma once

#include <windows.h>
#include <aclapi.h>

#include <string>
#include <vector>

#include "frame/Owners.h"
#include "frame/Seam.h"

// What a refused file reports: a link, a second name or a foreign owner.
constexpr DWORD kRefusedFileError = ERROR_CANT_ACCESS_FILE;

// "X:\...": a full path on a drive letter, not empty, relative or on the network.
bool IsDrivePath(const std::wstring& path);

// The path itself is a link (junction, symbolic link); a trailing backslash is ignored.
bool IsLink(const std::wstring& path);

// Removes the link at path itself, never what it points to. False, with the
// error set, when it stays (also when the system will not open it as a link).
bool RemoveLinkOnly(const std::wstring& path);

// Owned by SYSTEM, the administrators, TrustedInstaller or the account that
// runs this: nobody else can have planted it.
bool IsTrustedOwner(HANDLE object);

// CreateFileW for writing, refused (kRefusedFileError) when the file is a link
// or has another name.
UniqueFile OpenSingleNamedFile(const std::wstring& path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security,
                               DWORD disposition);

// A file read as SYSTEM where users can write (ProgramData, the installation
// folder): opened without following a link, and refused (kRefusedFileError)
// when it has another name or an owner other than a trusted one.
UniqueFile OpenTrustedFile(const std::wstring& path, DWORD access, DWORD share);

// Holds each folder of relative (up to its last backslash) below root open, so
// that none is renamed or swapped while a file below is used, and refuses
// (kRefusedFileError) a level that is a link or, with owners, not of a trusted
// owner. A missing level ends the walk: nothing below it leads anywhere.
class HeldFolders {
 public:
  bool Hold(const std::wstring& root, const std::wstring& relative, bool owners);

 private:
  std::vector<UniqueFile> m_levels;
};

// Puts a copy of source (read from where its handle stands) at target without
// ever writing into what target names: the copy goes into a fresh file of an
// unpredictable name beside it, created new with an access list for SYSTEM and
// the administrators only, every read and write checked and flushed, then is
// renamed to target through its own handle (183 when target exists and
// replace is false). On failure the fresh file goes and target stays as it was.
bool CopyIntoPlace(HANDLE source, const std::wstring& target, bool replace);

// Moves a file left by the library (OpenTrustedFile's checks) to a new full
// path that must not exist yet. The move goes through the handle the check was
// made on, and nobody may rename or delete the file meanwhile, so the file
// moved is the file checked; on another volume it is copied (CopyIntoPlace)
// and only then deleted. Otherwise false with the error: that of the open (2
// or 3 for a missing file), kRefusedFileError, or that of the move (183:
// target exists).
bool MoveOwnFile(const std::wstring& path, const std::wstring& newPath);

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
// Called before each change CopyIntoPlace and MoveOwnFile make, so that a test
// can end the process there.
extern Seam<void (*)()> beforeChange;
}
