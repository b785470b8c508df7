// The one way into a folder where a privileged action works and that other
// users can create first or write into (the Windows folder's Temp, the
// common application-data folder, the temporary folder). The folder is opened
// level by level below a fixed root and held open, so that neither it nor a
// parent can be renamed or replaced while the action works in it. It must be
// a real folder, with no link in its place or among its parents below the
// root, each level owned by SYSTEM, the administrators, TrustedInstaller or
// the running account. Everything in it is then opened through the held
// handle, never again by path.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "frame/Owners.h"
#include "frame/SafeFiles.h"

class HeldFolder {
 public:
  enum class Origin {
    Ours,     // the library makes it: one that fails is taken away and made again, private
    Foreign,  // made by others (the product): one that fails counts as missing
  };
  struct Options {
    Origin origin = Origin::Foreign;
    bool makeMissing = false;  // make the last level when it is missing (Ours only)
    PrivateFolderSecurity::Users users = PrivateFolderSecurity::Users::Read;
    bool letShellDelete = false;  // held so that a deletion by path can still remove it
    bool fresh = false;           // made new, never one found (Ours only): 183 when the name is taken
    bool removable = false;       // held so that RemoveSelf can delete it
    bool makeLevels = false;      // make missing levels as any folder there (Foreign), checked like found ones
  };

  HeldFolder() = default;
  // root: a fixed folder, trusted as it stands; below: the levels under it,
  // separated by single backslashes, none leading or trailing.
  HeldFolder(const std::wstring& root, const std::wstring& below, const Options& options);
  // A folder given by its full drive path, checked from the drive's root.
  static HeldFolder OfPath(std::wstring folderPath, const Options& options);
  // The folder of a file given by its full drive path, never made; name
  // receives the file's own name.
  static HeldFolder OfFile(const std::wstring& filePath, std::wstring& name);

  explicit operator bool() const { return !m_levels.empty(); }
  // Why the folder is not held: 3 when a level is missing, kRefusedFileError
  // when one is a link or of another owner, or the system's own error.
  DWORD error() const { return m_error; }
  HANDLE handle() const { return m_levels.empty() ? INVALID_HANDLE_VALUE : m_levels.back().get(); }

  // A file in the folder, by its one name, never through a link at that name
  // and never a file with a second name (both kRefusedFileError). disposition
  // as for CreateFileW; GetLastError tells why when nothing is returned.
  UniqueFile OpenFile(const std::wstring& name, DWORD access, DWORD share, DWORD disposition,
                      bool inheritable = false) const;
  // The full path of name in the folder, for a rename by handle (the folder
  // is held, so the path leads into it).
  std::wstring PathOf(const std::wstring& name) const;
  // A file read as SYSTEM: an existing one of one name, no link, of a trusted
  // owner (kRefusedFileError otherwise).
  UniqueFile OpenTrustedFile(const std::wstring& name, DWORD access, DWORD share) const;
  // Puts a copy of source (from where its handle stands) under name without
  // ever writing into what name holds: the copy goes into a fresh file of an
  // unpredictable name, created new with an access list for SYSTEM and the
  // administrators only, every read and write checked and flushed, and is then
  // renamed to name through its own handle (183 when name exists and replace
  // is false). On failure the fresh file goes and name stays as it was.
  bool PlaceCopy(HANDLE source, const std::wstring& name, bool replace) const;
  // Moves the file behind the handle (opened with DELETE) here under name, which
  // must not exist yet (183); across volumes it is copied (PlaceCopy) and only
  // then deleted.
  bool MoveHere(HANDLE file, const std::wstring& name) const;
  // Before someone else's program writes a file of this name itself:
  // whatever stands there that is not a single-named file of a trusted owner
  // is removed. False when something stays.
  bool ClearForProgram(const std::wstring& name) const;
  // Removes everything inside the folder without following any link. False
  // when something stays.
  bool Empty() const;
  // Deletes the file of this name through its handle; false with the error
  // when it is missing, a link or a second name, or stays.
  bool RemoveFile(const std::wstring& name) const;
  // Deletes the held folder itself, when it is empty and held removable.
  bool RemoveSelf() const;

 private:
  std::vector<UniqueFile> m_levels;  // the root first, the folder last
  std::wstring m_final;              // the folder's path as the system resolves it
  DWORD m_error = ERROR_PATH_NOT_FOUND;
};
