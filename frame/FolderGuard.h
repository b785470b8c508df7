// The one way into a folder where a privileged action works and that other
// users can create first or write into (the Windows folder's Temp, the
// common application-data folder, the temporary folder). A folder is opened
// level by level below a fixed root and held, never shared for deleting, so
// that neither it nor a parent can be renamed or replaced while the action
// works in it. Everything in it is then reached through the held handle,
// never again by path, and every file through one entry check.
//
// Two kinds of folder:
// - OwnFolder: the library makes it and owns it (the text log's folder, the
//   uninstall set's temporary folder). Its access list is set every time it
//   is taken, whatever an earlier release or a user left; a folder of another
//   owner, or a link, in its place is taken away and made anew.
// - FoundFolder: made by others (the product, the package, the system); each
//   level must be a real folder of a trusted owner (IsTrustedOwner), else the
//   folder is refused.
//
// Fixed roots (the Windows folder's Temp, the common application-data folder,
// a drive root) are trusted as they stand: opened to traverse only, never
// listed, never asked for their access list, never made.
//
// One error policy: a folder that is not held says why (error()), and every
// file operation on it fails with that reason.
#pragma once

#include <windows.h>
#include <winternl.h>

#include <string>
#include <vector>

#include "frame/Owners.h"
#include "frame/Seam.h"
#include "frame/SafeFiles.h"

class GuardedFolder {
 public:
  // Whether a file's owner counts: only for a file whose content SYSTEM then
  // trusts (the policy, its backup, the service profile).
  enum class Owner { Any, Trusted };

  explicit operator bool() const { return !m_levels.empty(); }
  // Why the folder is not held: 3 when a level is missing, kRefusedFileError
  // when one is a link or of another owner, or the system's own error.
  DWORD error() const { return m_error; }
  HANDLE handle() const { return m_levels.empty() ? INVALID_HANDLE_VALUE : m_levels.back().get(); }
  // The full path of name in the folder, as the system resolves the folder.
  std::wstring PathOf(const std::wstring& name) const;

  // A file in the folder, by its one name, through the entry check: never a
  // link, a folder or a file with a second name, and of a trusted owner where
  // asked (else kRefusedFileError). disposition as for CreateFileW;
  // GetLastError tells why when nothing is returned.
  UniqueFile OpenFile(const std::wstring& name, DWORD access, DWORD share, DWORD disposition, Owner owner,
                      bool inheritable = false) const;
  // Before a program writes the file of this name itself: a fresh file takes
  // the name, private (SYSTEM and the administrators) or, with folderList, with
  // the folder's inherited list. It holds what stood there when that was a
  // trusted file (so a program's output overwrites it from the start); anything
  // else there (a link, a second name, someone else's file) only loses the
  // name. False with the reason when the name cannot be taken (held open, denied).
  bool PlaceFresh(const std::wstring& name, bool folderList = false) const;
  // Puts a copy of source (from where its handle stands) under name in a fresh
  // private file, every write checked and flushed, renamed into place (183 when
  // name exists and replace is false). On failure name stays as it was.
  bool PlaceCopy(HANDLE source, const std::wstring& name, bool replace) const;
  // Moves the file behind the handle (opened with DELETE) here under name. A
  // single-named file of a trusted owner there stays (183); anything else there
  // is a planted object and loses the name. Across volumes the file is copied
  // (PlaceCopy) and then deleted; sourceLeft receives why it could not be.
  bool MoveHere(HANDLE file, const std::wstring& name, DWORD& sourceLeft) const;
  // Deletes the file of this name through its handle; false with the reason
  // when it is missing, refused by the entry check, or stays.
  bool RemoveFile(const std::wstring& name) const;
  // Removes everything inside the folder without following any link. False
  // when something stays.
  bool Empty() const;
  // Deletes the held folder itself, when it is empty and held for removal.
  bool RemoveSelf() const;

 protected:
  GuardedFolder() = default;
  // Holds the root and every level of below but the last, found (missing ones
  // made when makeMissing); last receives the last name, empty when below is.
  bool HoldParents(const std::wstring& root, const std::wstring& below, bool makeMissing, std::wstring& last);
  void Hold(UniqueFile level, const std::wstring& name);
  bool Refuse(DWORD error);
  // "X:\a\b" as the drive's root and "a\b"; false for anything but a full drive path.
  static bool SplitDrivePath(std::wstring path, std::wstring& root, std::wstring& below);

  std::vector<UniqueFile> m_levels;  // the root first, the folder last
  std::wstring m_final;              // the folder's path as the system resolves it
  DWORD m_error = ERROR_PATH_NOT_FOUND;
};

class OwnFolder : public GuardedFolder {
 public:
  enum class Use {
    // The text log's lines: users may add files and append to them, since
    // immediate actions run as the installing user, whose token may not be
    // able to set the list; the folder's maker may then be the running account.
    TextLog,
    // The same folder for files that SYSTEM's programs write: refused unless
    // its list is set now, and never trusted for being the running account's.
    SystemLogs,
    // A folder a program runs from as SYSTEM: always made new (183 when the
    // name is taken), users may only read, held so that RemoveSelf can delete it.
    RunFrom,
  };

  OwnFolder() = default;
  // root: a fixed folder; below: the levels under it, separated by single
  // backslashes, none leading or trailing; the last is the library's own.
  OwnFolder(const std::wstring& root, const std::wstring& below, Use use, bool makeMissing);
  // The same for a full drive path, checked from the drive's root.
  static OwnFolder OfPath(const std::wstring& path, Use use);

 private:
  bool Take(const std::wstring& root, const std::wstring& below, Use use, bool makeMissing);
};

class FoundFolder : public GuardedFolder {
 public:
  struct Options {
    // Missing levels are made with a private list (users may read), then
    // held like found ones.
    bool makeMissing = false;
    // The last level is to be removed: taken from users first (its list set
    // to SYSTEM and the administrators only), held for deleting and shared for
    // it, so that RemoveSelf or the shell can delete it.
    bool toRemove = false;
  };

  FoundFolder() = default;
  FoundFolder(const std::wstring& root, const std::wstring& below, const Options& options);
  // A folder given by its full drive path, checked from the drive's root.
  static FoundFolder OfPath(const std::wstring& path, const Options& options);
  // The folder of a file given by its full drive path; name receives the file's own name.
  static FoundFolder OfFile(const std::wstring& filePath, std::wstring& name);

 private:
  bool Take(const std::wstring& root, const std::wstring& below, const Options& options);
};

// The native open that every root, level and file goes through; a test makes
// it answer as a token with fewer rights would.
using NtCreateFileFn = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER,
                                        ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
namespace guard_seams {
extern Seam<NtCreateFileFn> ntCreateFile;
}
