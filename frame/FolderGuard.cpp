#include "frame/FolderGuard.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "frame/ProductNames.h"

namespace {

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Held levels are never shared for deleting: nobody can rename or remove them meanwhile.
const DWORD kShareNoDelete = FILE_SHARE_READ | FILE_SHARE_WRITE;
// What the level checks need (attributes, final path, owner), and traverse,
// which makes the handle take part in sharing, so that its share mode holds.
const DWORD kLevelAccess = FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;
const int kMaxDepth = 64;
// NtCreateFile's answer for a file it made rather than opened.
const ULONG_PTR kFileCreated = 2;
const NTSTATUS kNotImplemented = static_cast<NTSTATUS>(0xC0000002);
// The text log that a replaced log folder hands on: the lines of a few actions, never a whole disk.
const LONGLONG kMostCarried = 64 << 20;

template <typename Fn>
Fn NativeCall(const char* name) {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(ntdll, name))) : nullptr;
}

NTSTATUS NTAPI NoNativeCreate(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER, ULONG,
                              ULONG, ULONG, ULONG, PVOID, ULONG) {
  return kNotImplemented;
}

NtCreateFileFn NativeCreate() {
  const auto create = NativeCall<NtCreateFileFn>("NtCreateFile");
  return create != nullptr ? create : &NoNativeCreate;
}

// False, with the status as the last error, for a failed native call.
bool Succeeded(NTSTATUS status) {
  using StatusToErrorFn = ULONG(NTAPI*)(NTSTATUS);
  static const auto toError = NativeCall<StatusToErrorFn>("RtlNtStatusToDosError");
  if (status >= 0) return true;
  SetLastError(toError != nullptr ? toError(status) : ERROR_ACCESS_DENIED);
  return false;
}

bool IsMissing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

bool Fail(DWORD error) {
  SetLastError(error);
  return false;
}

// name below the folder held by parent, the last name never followed where
// the system can help it; with no parent, name is a fixed root's native path.
// Sets the last error when nothing is opened.
UniqueFile OpenBelow(HANDLE parent, const std::wstring& name, DWORD access, DWORD share, ULONG disposition,
                     ULONG options, PSECURITY_DESCRIPTOR security = nullptr, bool inheritable = false,
                     bool* created = nullptr) {
  if (name.size() * sizeof(wchar_t) > 0xFFFE) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return UniqueFile();
  }
  UNICODE_STRING text;
  text.Buffer = const_cast<PWSTR>(name.c_str());
  text.Length = text.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE | (inheritable ? OBJ_INHERIT : 0), parent,
                             security);
  IO_STATUS_BLOCK status = {};
  HANDLE handle = INVALID_HANDLE_VALUE;
  const ULONG noFollow = parent != nullptr ? FILE_OPEN_REPARSE_POINT : 0;
  if (!Succeeded(guard_seams::ntCreateFile(&handle, access | SYNCHRONIZE, &attributes, &status, nullptr,
                                           FILE_ATTRIBUTE_NORMAL, share, disposition,
                                           options | noFollow | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0))) {
    return UniqueFile();
  }
  if (created != nullptr) *created = status.Information == kFileCreated;
  return UniqueFile(handle);
}

// A fixed root, trusted as it stands and so the one folder opened by its
// path: to traverse only, which a standard user's token may too; never
// listed, never asked for its access list, never made.
UniqueFile OpenRoot(std::wstring root) {
  while (root.size() > 3 && root.back() == L'\\') root.pop_back();
  UniqueFile folder = OpenBelow(nullptr, L"\\??\\" + root, FILE_TRAVERSE, kShareNoDelete, FILE_OPEN,
                                FILE_DIRECTORY_FILE);
  if (!folder && GetLastError() == ERROR_FILE_NOT_FOUND) SetLastError(ERROR_PATH_NOT_FOUND);
  return folder;
}

// Renames the file behind the handle to name in the folder held by folder:
// only the name there goes, never what it leads to (a link, another file's
// second name), on Windows and under Wine alike.
bool RenameBelow(HANDLE file, HANDLE folder, const std::wstring& name, bool replace) {
  using SetInformationFn = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);
  static const auto setInformation = NativeCall<SetInformationFn>("NtSetInformationFile");
  const DWORD nameBytes = static_cast<DWORD>(name.size() * sizeof(wchar_t));
  std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = replace;
  rename->RootDirectory = folder;
  rename->FileNameLength = nameBytes;
  memcpy(rename->FileName, name.c_str(), nameBytes);
  file_seams::beforeChange();
  IO_STATUS_BLOCK status = {};
  const auto renameClass = static_cast<FILE_INFORMATION_CLASS>(10);  // FileRenameInformation
  return setInformation != nullptr
             ? Succeeded(setInformation(file, &status, buffer.data(), static_cast<ULONG>(buffer.size()), renameClass))
             : Fail(ERROR_CALL_NOT_IMPLEMENTED);
}

// The path the system resolves for a handle, without its "\\?\" and without a trailing backslash.
std::wstring FinalPath(HANDLE handle) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
    if (length == 0) return std::wstring();
    if (length < buffer.size()) break;
    buffer.resize(length + 1);
  }
  std::wstring path = buffer.data();
  if (path.compare(0, 4, L"\\\\?\\") == 0) path.erase(0, 4);
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  return path;
}

std::wstring Below(const std::wstring& folder, const std::wstring& name) { return folder + L"\\" + name; }

bool SamePath(const std::wstring& a, const std::wstring& b) {
  return !a.empty() && CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                            static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// What the checks need of an entry, without the volume query that makes
// GetFileInformationByHandle slow.
struct EntryInfo {
  DWORD attributes = 0;
  DWORD links = 0;
};
bool QueryEntry(HANDLE handle, EntryInfo& info) {
  FILE_BASIC_INFO basic;
  FILE_STANDARD_INFO standard;
  if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof(basic)) ||
      !GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof(standard))) {
    return false;
  }
  info.attributes = basic.FileAttributes;
  info.links = standard.NumberOfLinks;
  return true;
}

// The handle is the entry named path itself: not a link opened as one, and
// not something a link led to (the one way Wine shows a link).
bool IsItself(HANDLE handle, const std::wstring& path, EntryInfo& info) {
  return QueryEntry(handle, info) && !(info.attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
         SamePath(FinalPath(handle), path);
}

// The one entry check, for every file that either kind of folder opens,
// creates, clears or removes: the entry itself (no link), a file with no other
// name, and of a trusted owner where that matters. 0 or kRefusedFileError.
DWORD CheckEntry(HANDLE entry, const std::wstring& path, GuardedFolder::Owner owner) {
  EntryInfo info;
  const bool single = IsItself(entry, path, info) && !(info.attributes & FILE_ATTRIBUTE_DIRECTORY) && info.links == 1;
  return single && (owner == GuardedFolder::Owner::Any || IsTrustedOwner(entry)) ? 0 : kRefusedFileError;
}

// A level: a real folder of a trusted owner at path.
bool IsLevel(HANDLE level, const std::wstring& path, bool runningAccountToo) {
  EntryInfo info;
  return IsItself(level, path, info) && (info.attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         IsTrustedOwner(level, runningAccountToo);
}

// Sets the folder's own access list and nothing below it (no walk by path);
// false when the token may not (no WRITE_DAC).
bool SetList(HANDLE folder, PSECURITY_DESCRIPTOR security) {
  if (security == nullptr) return Fail(ERROR_INVALID_SECURITY_DESCR);
  const UniqueFile writable = OpenBelow(folder, L"", WRITE_DAC, kShareAll, FILE_OPEN, FILE_DIRECTORY_FILE);
  return writable && SetKernelObjectSecurity(writable.get(), DACL_SECURITY_INFORMATION, security);
}

// A new file of an unpredictable name beside name: private, or with the
// folder's list. Sets the last error when nothing is made.
UniqueFile FreshBeside(HANDLE folder, const std::wstring& name, bool folderList) {
  unsigned long long random = 0;
  const PrivateFolderSecurity security(PrivateFolderSecurity::Users::None);
  if (!SystemRandom(&random, sizeof(random)) || (!folderList && security.get() == nullptr)) {
    SetLastError(ERROR_INVALID_SECURITY_DESCR);
    return UniqueFile();
  }
  wchar_t suffix[32];
  _snwprintf(suffix, 32, L".%016llx.tmp", random);
  file_seams::beforeChange();
  return OpenBelow(folder, name + suffix, GENERIC_READ | GENERIC_WRITE | DELETE, 0, FILE_CREATE,
                   FILE_NON_DIRECTORY_FILE, folderList ? nullptr : security.get());
}

// The fresh file takes name when it is filled; otherwise, or when the rename
// fails, it goes again, the reason kept.
bool Settle(HANDLE fresh, HANDLE folder, const std::wstring& name, bool replace, bool filled = true) {
  if (filled && RenameBelow(fresh, folder, name, replace)) return true;
  const DWORD error = GetLastError();
  DeleteByHandle(fresh);
  return Fail(error);
}

bool EmptyBelow(HANDLE folder, const std::wstring& folderPath, int depth);

// Removes one entry without following it: a link as a link (where Wine
// shows a file link as its target, the name goes to a fresh file, which then
// goes too; a folder link Wine shows so stays), a file by its handle, a
// folder with all it holds.
bool RemoveEntry(HANDLE parent, const std::wstring& parentPath, const std::wstring& name, int depth) {
  UniqueFile entry = OpenBelow(parent, name, DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES |
                                   FILE_WRITE_ATTRIBUTES, kShareAll, FILE_OPEN, 0);
  if (!entry) return GetLastError() == ERROR_FILE_NOT_FOUND;
  EntryInfo info;
  if (!QueryEntry(entry.get(), info)) return false;
  if (!(info.attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    const std::wstring path = Below(parentPath, name);
    if (!SamePath(FinalPath(entry.get()), path)) {
      // Deleting through this handle would delete what the link leads to.
      entry.reset();
      if (info.attributes & FILE_ATTRIBUTE_DIRECTORY) return Fail(kRefusedFileError);
      const UniqueFile fresh = FreshBeside(parent, name, false);
      return fresh && Settle(fresh.get(), parent, name, true) && DeleteByHandle(fresh.get());
    }
    if ((info.attributes & FILE_ATTRIBUTE_DIRECTORY) && !EmptyBelow(entry.get(), path, depth + 1)) return false;
    if (info.attributes & FILE_ATTRIBUTE_READONLY) {
      FILE_BASIC_INFO basic = {};
      basic.FileAttributes = (info.attributes & ~FILE_ATTRIBUTE_READONLY) | FILE_ATTRIBUTE_NORMAL;
      SetFileInformationByHandle(entry.get(), FileBasicInfo, &basic, sizeof(basic));
    }
  }
  return DeleteByHandle(entry.get());
}

// The names in a folder, read through its handle.
bool ListNames(HANDLE folder, std::vector<std::wstring>& names) {
  alignas(8) BYTE buffer[16 * 1024];
  for (FILE_INFO_BY_HANDLE_CLASS kind = FileFullDirectoryRestartInfo;; kind = FileFullDirectoryInfo) {
    if (!GetFileInformationByHandleEx(folder, kind, buffer, sizeof(buffer))) {
      return GetLastError() == ERROR_NO_MORE_FILES;
    }
    for (const BYTE* at = buffer;;) {
      const auto* entry = reinterpret_cast<const FILE_FULL_DIR_INFO*>(at);
      const std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
      if (name != L"." && name != L"..") names.push_back(name);
      if (entry->NextEntryOffset == 0) break;
      at += entry->NextEntryOffset;
    }
  }
}

bool EmptyBelow(HANDLE folder, const std::wstring& folderPath, int depth) {
  // A fresh handle for the listing: a folder handle lists only once.
  UniqueFile listing = OpenBelow(folder, L"", FILE_LIST_DIRECTORY, kShareAll, FILE_OPEN, FILE_DIRECTORY_FILE);
  std::vector<std::wstring> names;
  if (depth > kMaxDepth || !listing || !ListNames(listing.get(), names)) return false;
  bool emptied = true;
  for (const auto& name : names) emptied = RemoveEntry(folder, folderPath, name, depth) && emptied;
  return emptied;
}

// A found level below parent: a real folder of a trusted owner. A missing one
// is made, private, when makeMissing. Sets error when nothing is returned.
UniqueFile OpenFound(HANDLE parent, const std::wstring& path, const std::wstring& name, bool makeMissing,
                     DWORD access, DWORD share, DWORD& error) {
  UniqueFile level = OpenBelow(parent, name, access, share, FILE_OPEN, FILE_DIRECTORY_FILE);
  if (!level && IsMissing(GetLastError()) && makeMissing) {
    const PrivateFolderSecurity security(PrivateFolderSecurity::Users::Read);
    file_seams::beforeChange();
    level = security.get() != nullptr
                ? OpenBelow(parent, name, access, share, FILE_CREATE, FILE_DIRECTORY_FILE, security.get())
                : UniqueFile();
    if (security.get() == nullptr) SetLastError(ERROR_INVALID_SECURITY_DESCR);
  }
  error = level ? kRefusedFileError : IsMissing(GetLastError()) ? ERROR_PATH_NOT_FOUND : GetLastError();
  if (level && !IsLevel(level.get(), path, false)) level.reset();
  return level;
}

// The text log of a log folder about to be replaced: read only when it is a
// file of one name in that very folder, whoever made it (it holds lines, which
// nothing privileged reads).
std::string CarriedLog(HANDLE folder, const std::wstring& folderPath) {
  const UniqueFile log = OpenBelow(folder, names::kTextLogName, FILE_READ_DATA | FILE_READ_ATTRIBUTES, kShareAll,
                                   FILE_OPEN, FILE_NON_DIRECTORY_FILE);
  LARGE_INTEGER size = {};
  if (!log || CheckEntry(log.get(), Below(folderPath, names::kTextLogName), GuardedFolder::Owner::Any) != 0 ||
      !GetFileSizeEx(log.get(), &size) || size.QuadPart > kMostCarried) {
    return std::string();
  }
  std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!bytes.empty() && !ReadFile(log.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr)) read = 0;
  bytes.resize(read);
  return bytes;
}

}  // namespace

namespace guard_seams {
Seam<NtCreateFileFn> ntCreateFile(NativeCreate());
}

std::wstring GuardedFolder::PathOf(const std::wstring& name) const { return Below(m_final, name); }

bool GuardedFolder::Refuse(DWORD error) {
  m_levels.clear();
  m_error = error;
  return false;
}

void GuardedFolder::Hold(UniqueFile level, const std::wstring& name) {
  m_levels.push_back(std::move(level));
  m_final = Below(m_final, name);
  m_error = 0;
}

bool GuardedFolder::SplitDrivePath(std::wstring path, std::wstring& root, std::wstring& below) {
  while (path.size() > 3 && path.back() == L'\\') path.pop_back();
  if (!IsDrivePath(path)) return false;
  root = path.substr(0, 3);
  below = path.substr(3);
  return true;
}

bool GuardedFolder::HoldParents(const std::wstring& root, const std::wstring& below, bool makeMissing,
                                std::wstring& last) {
  UniqueFile top = OpenRoot(root);
  if (!top) return Refuse(GetLastError());
  m_final = FinalPath(top.get());
  m_levels.push_back(std::move(top));
  size_t start = 0;
  for (size_t end; (end = below.find(L'\\', start)) != std::wstring::npos; start = end + 1) {
    const std::wstring name = below.substr(start, end - start);
    DWORD error = 0;
    UniqueFile level = OpenFound(m_levels.back().get(), PathOf(name), name, makeMissing, kLevelAccess,
                                 kShareNoDelete, error);
    if (!level) return Refuse(error);
    Hold(std::move(level), name);
  }
  last = below.substr(start);
  m_error = 0;
  return true;
}

UniqueFile GuardedFolder::OpenFile(const std::wstring& name, DWORD access, DWORD share, DWORD disposition,
                                   Owner owner, bool inheritable) const {
  if (!*this) {
    SetLastError(m_error);
    return UniqueFile();
  }
  // Emptied only once checked: a second name of another file is never cut.
  const bool truncate = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
  const ULONG native = disposition == CREATE_NEW                                 ? FILE_CREATE
                       : disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS ? FILE_OPEN_IF
                                                                                  : FILE_OPEN;
  bool created = false;
  UniqueFile file = OpenBelow(handle(), name, access | FILE_READ_ATTRIBUTES | (owner == Owner::Any ? 0 : READ_CONTROL),
                              share, native, FILE_NON_DIRECTORY_FILE, nullptr, inheritable, &created);
  const DWORD refused = file ? CheckEntry(file.get(), PathOf(name), owner) : 0;
  if (refused != 0) {
    file.reset();
    SetLastError(refused);
  }
  FILE_END_OF_FILE_INFO end = {};
  if (file && truncate && !created && !SetFileInformationByHandle(file.get(), FileEndOfFileInfo, &end, sizeof(end))) {
    file.reset();
  }
  return file;
}

bool GuardedFolder::PlaceFresh(const std::wstring& name, bool folderList) const {
  if (!*this) return Fail(m_error);
  const UniqueFile fresh = FreshBeside(handle(), name, folderList);
  if (!fresh) return false;
  bool filled = true;
  {
    // Closed before the rename: a name in use cannot be replaced.
    const UniqueFile old = OpenFile(name, FILE_READ_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                                    Owner::Trusted);
    if (old) filled = CopyContent(old.get(), fresh.get());
  }
  if (!filled) return Settle(fresh.get(), handle(), name, true, false);
  if (RenameBelow(fresh.get(), handle(), name, true)) return true;
  // A real folder at the name goes first; a file held open, or one the token
  // may not replace, keeps it and the reason is told.
  const DWORD error = GetLastError();
  if (RemoveEntry(handle(), m_final, name, 0)) return Settle(fresh.get(), handle(), name, true);
  DeleteByHandle(fresh.get());
  return Fail(error);
}

bool GuardedFolder::PlaceCopy(HANDLE source, const std::wstring& name, bool replace) const {
  if (!*this) return Fail(m_error);
  const UniqueFile fresh = FreshBeside(handle(), name, false);
  return fresh && Settle(fresh.get(), handle(), name, replace, CopyContent(source, fresh.get()));
}

bool GuardedFolder::MoveHere(HANDLE file, const std::wstring& name, DWORD& sourceLeft) const {
  sourceLeft = 0;
  if (!*this) return Fail(m_error);
  bool planted = false;
  {
    const UniqueFile there = OpenBelow(handle(), name, READ_CONTROL | FILE_READ_ATTRIBUTES, kShareAll, FILE_OPEN, 0);
    if (!there && GetLastError() != ERROR_FILE_NOT_FOUND) return false;
    // Only a file of the library's own is a newer policy than the backup.
    if (there && CheckEntry(there.get(), PathOf(name), Owner::Trusted) == 0) return Fail(ERROR_ALREADY_EXISTS);
    planted = there.valid();
  }
  // Whatever else stands there goes (a folder with all it holds); a file or link only loses its name.
  if (planted) RemoveEntry(handle(), m_final, name, 0);
  if (RenameBelow(file, handle(), name, planted)) return true;
  if (GetLastError() != ERROR_NOT_SAME_DEVICE || !PlaceCopy(file, name, planted)) return false;
  if (!DeleteByHandle(file)) sourceLeft = GetLastError();
  return true;
}

bool GuardedFolder::RemoveFile(const std::wstring& name) const {
  if (!*this) return Fail(m_error);
  const UniqueFile file =
      OpenBelow(handle(), name, DELETE | FILE_READ_ATTRIBUTES, kShareAll, FILE_OPEN, FILE_NON_DIRECTORY_FILE);
  if (!file) return false;
  const DWORD refused = CheckEntry(file.get(), PathOf(name), Owner::Any);
  return refused == 0 ? DeleteByHandle(file.get()) : Fail(refused);
}

bool GuardedFolder::Empty() const { return *this ? EmptyBelow(handle(), m_final, 0) : Fail(m_error); }

bool GuardedFolder::RemoveSelf() const { return *this ? DeleteByHandle(handle()) : Fail(m_error); }

OwnFolder::OwnFolder(const std::wstring& root, const std::wstring& below, Use use, bool makeMissing) {
  Take(root, below, use, makeMissing);
}

bool OwnFolder::Take(const std::wstring& root, const std::wstring& below, Use use, bool makeMissing) {
  std::wstring name;
  if (!HoldParents(root, below, false, name)) return false;
  if (name.empty()) return Refuse(ERROR_BAD_PATHNAME);
  const HANDLE parent = m_levels.back().get();
  const std::wstring path = PathOf(name);
  const PrivateFolderSecurity security(use == Use::RunFrom ? PrivateFolderSecurity::Users::Read
                                                           : PrivateFolderSecurity::Users::ReadAndAdd);
  if (security.get() == nullptr) return Refuse(ERROR_INVALID_SECURITY_DESCR);
  const DWORD access = kLevelAccess | (use == Use::RunFrom ? DELETE : 0);
  std::string carried;
  if (use != Use::RunFrom) {
    UniqueFile level = OpenBelow(parent, name, access, kShareNoDelete, FILE_OPEN, FILE_DIRECTORY_FILE);
    const DWORD opened = level ? 0 : GetLastError();
    if (level && IsLevel(level.get(), path, use == Use::TextLog)) {
      // Whatever list an earlier release or a user left goes. A token that may
      // not set it still appends lines; SYSTEM's programs never write there.
      if (!SetList(level.get(), security.get()) && use == Use::SystemLogs) return Refuse(GetLastError());
      Hold(std::move(level), name);
      return true;
    }
    if (IsMissing(opened) && !makeMissing) return Refuse(ERROR_PATH_NOT_FOUND);
    if (opened != 0 && !IsMissing(opened) && opened != ERROR_DIRECTORY) return Refuse(opened);
    // A folder of another owner (one a user's immediate action made) hands its lines on.
    EntryInfo info;
    if (level && IsItself(level.get(), path, info)) carried = CarriedLog(level.get(), path);
    level.reset();
    if (!IsMissing(opened) && !RemoveEntry(parent, m_final, name, 0)) return Refuse(kRefusedFileError);
  }
  UniqueFile level =
      OpenBelow(parent, name, access, kShareNoDelete, FILE_CREATE, FILE_DIRECTORY_FILE, security.get());
  if (!level) return Refuse(GetLastError());
  const UniqueFile log = carried.empty() ? UniqueFile()
                                         : OpenBelow(level.get(), names::kTextLogName, FILE_APPEND_DATA, kShareAll,
                                                     FILE_CREATE, FILE_NON_DIRECTORY_FILE);
  DWORD written = 0;
  if (log) WriteFile(log.get(), carried.data(), static_cast<DWORD>(carried.size()), &written, nullptr);
  Hold(std::move(level), name);
  return true;
}

OwnFolder OwnFolder::OfPath(const std::wstring& path, Use use) {
  std::wstring root, below;
  if (SplitDrivePath(path, root, below)) return OwnFolder(root, below, use, true);
  OwnFolder none;
  none.Refuse(ERROR_BAD_PATHNAME);
  return none;
}

FoundFolder::FoundFolder(const std::wstring& root, const std::wstring& below, const Options& options) {
  Take(root, below, options);
}

bool FoundFolder::Take(const std::wstring& root, const std::wstring& below, const Options& options) {
  std::wstring name;
  if (!HoldParents(root, below, options.makeMissing, name) || name.empty()) return static_cast<bool>(*this);
  DWORD error = 0;
  UniqueFile level = OpenFound(m_levels.back().get(), PathOf(name), name, options.makeMissing,
                               kLevelAccess | (options.toRemove ? DELETE : 0),
                               options.toRemove ? kShareAll : kShareNoDelete, error);
  if (!level) return Refuse(error);
  // Nobody else may add to a folder that is emptied and then deleted by path.
  const PrivateFolderSecurity usersOut(PrivateFolderSecurity::Users::None);
  if (options.toRemove && !SetList(level.get(), usersOut.get())) return Refuse(GetLastError());
  Hold(std::move(level), name);
  return true;
}

FoundFolder FoundFolder::OfPath(const std::wstring& path, const Options& options) {
  std::wstring root, below;
  if (SplitDrivePath(path, root, below)) return FoundFolder(root, below, options);
  FoundFolder none;
  none.Refuse(ERROR_BAD_PATHNAME);
  return none;
}

FoundFolder FoundFolder::OfFile(const std::wstring& filePath, std::wstring& name) {
  const size_t cut = filePath.rfind(L'\\');
  name = cut == std::wstring::npos ? filePath : filePath.substr(cut + 1);
  return OfPath(cut == std::wstring::npos ? std::wstring() : filePath.substr(0, cut), Options());
}
