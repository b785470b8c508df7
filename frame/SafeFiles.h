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

// CopyFileW (overwriting) into such a checked file; the same result and errors.
BOOL CopyToSingleNamedFile(const std::wstring& source, const std::wstring& target);

// Moves a file left by the library (one name, not a link, owned by SYSTEM,
// the administrators or the account that runs this) to a new full path that
// must not exist yet. The move goes through the handle the check was made on,
// and nobody may rename or delete the file meanwhile, so the file moved is the
// file checked. Otherwise false with the error: that of the open (2 or 3 for a
// missing file), kRefusedFileError, or that of the move (183: target exists).
bool MoveOwnFile(const std::wstring& path, const std::wstring& newPath);

// For folders whose access list only SYSTEM and the administrators may change.
// The platform's temporary uninstall set: users may read it, never write in
// it (SYSTEM runs what is there). The log folder: users may also add files and
// append to them, since immediate actions run as the installing user; a link
// or a second name planted there is never written through (HeldFolder).
class PrivateFolderSecurity {
 public:
  enum class Users { Read, ReadAndAdd };
  explicit PrivateFolderSecurity(Users users);
  SECURITY_ATTRIBUTES* get() { return &m_attributes; }

 private:
  UniqueLocal m_descriptor;
  SECURITY_ATTRIBUTES m_attributes;
};

// Wine gives every file the same owner, so tests point this elsewhere.
namespace file_seams {
extern Seam<decltype(&::GetSecurityInfo)> getSecurityInfo;
}
