#include "frame/FolderGuard.h"

#include <winternl.h>

#include <algorithm>
#include <cwchar>
#include <vector>

#include "frame/Log.h"

namespace {

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
const DWORD kLevelAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;
const int kMaxDepth = 64;
// NtCreateFile's answer for a file it made rather than opened.
const ULONG_PTR kFileCreated = 2;

using NtCreateFileFn = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER,
                                        ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
using StatusToErrorFn = ULONG(NTAPI*)(NTSTATUS);

// Only the native call opens a name relative to a folder handle.
struct Native {
  NtCreateFileFn create = nullptr;
  StatusToErrorFn toError = nullptr;
  Native() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) return;
    create = reinterpret_cast<NtCreateFileFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtCreateFile")));
    toError =
        reinterpret_cast<StatusToErrorFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlNtStatusToDosError")));
  }
};
const Native& NativeCalls() {
  static const Native calls;
  return calls;
}

ULONG NativeDisposition(DWORD disposition) {
  switch (disposition) {
    case CREATE_NEW: return FILE_CREATE;
    case CREATE_ALWAYS: return FILE_OVERWRITE_IF;
    case OPEN_ALWAYS: return FILE_OPEN_IF;
    case TRUNCATE_EXISTING: return FILE_OVERWRITE;
    default: return FILE_OPEN;
  }
}

// name below the folder held by parent, the last name never followed where
// the system can help it. Sets the last error when nothing is opened.
UniqueFile OpenBelow(HANDLE parent, const std::wstring& name, DWORD access, DWORD share, ULONG disposition,
                     ULONG options, PSECURITY_DESCRIPTOR security = nullptr, bool inheritable = false,
                     bool* created = nullptr) {
  const Native& native = NativeCalls();
  if (native.create == nullptr || name.size() * sizeof(wchar_t) > 0xFFFE) {
    SetLastError(native.create == nullptr ? ERROR_CALL_NOT_IMPLEMENTED : ERROR_FILENAME_EXCED_RANGE);
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
  const NTSTATUS result = native.create(&handle, access | SYNCHRONIZE, &attributes, &status, nullptr,
                                        FILE_ATTRIBUTE_NORMAL, share, disposition,
                                        options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  if (result < 0) {
    SetLastError(native.toError != nullptr ? native.toError(result) : ERROR_ACCESS_DENIED);
    return UniqueFile();
  }
  if (created != nullptr) *created = status.Information == kFileCreated;
  return UniqueFile(handle);
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
bool IsEntryItself(HANDLE handle, const std::wstring& path, EntryInfo& info) {
  return QueryEntry(handle, info) && !(info.attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
         SamePath(FinalPath(handle), path);
}

bool EmptyBelow(HANDLE folder, const std::wstring& folderPath, int depth);

// Removes one entry without following it: a link as a link (where the
// system opens it as one; else it stays), a file by its handle, a folder
// with all it holds.
bool RemoveEntry(HANDLE parent, const std::wstring& parentPath, const std::wstring& name, int depth) {
  UniqueFile entry = OpenBelow(parent, name, DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES |
                                   FILE_WRITE_ATTRIBUTES, kShareAll, FILE_OPEN, 0);
  if (!entry) return GetLastError() == ERROR_FILE_NOT_FOUND;
  EntryInfo info;
  if (!QueryEntry(entry.get(), info)) return false;
  if (!(info.attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    const std::wstring path = Below(parentPath, name);
    if (!SamePath(FinalPath(entry.get()), path)) return false;
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

// One level below parent, checked; a folder of ours that fails is taken
// away and made anew. Sets error when nothing is returned.
UniqueFile OpenLevel(HANDLE parent, const std::wstring& parentPath, const std::wstring& name, DWORD access,
                     DWORD share, bool ours, const HeldFolder::Options& options, DWORD& error) {
  const std::wstring path = Below(parentPath, name);
  EntryInfo info;
  UniqueFile level;
  if (!(ours && options.fresh)) {
    level = OpenBelow(parent, name, access, share, FILE_OPEN, FILE_DIRECTORY_FILE);
    error = level ? kRefusedFileError : GetLastError();
    if (level && IsEntryItself(level.get(), path, info) && IsTrustedOwner(level.get())) return level;
    level.reset();
    const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    if (missing && options.makeLevels && !ours) {
      // Made like any folder there, inheriting its access list; checked as found.
      file_seams::beforeChange();
      level = OpenBelow(parent, name, access, share, FILE_CREATE, FILE_DIRECTORY_FILE);
      error = level ? kRefusedFileError : GetLastError();
      if (level && IsEntryItself(level.get(), path, info) && IsTrustedOwner(level.get())) return level;
      return UniqueFile();
    }
    if (!ours || (missing && !options.makeMissing) ||
        (!missing && error != kRefusedFileError && error != ERROR_DIRECTORY)) {
      if (missing) error = ERROR_PATH_NOT_FOUND;
      return level;
    }
    // Whatever stands in the place of a folder of ours goes first.
    if (!missing && !RemoveEntry(parent, parentPath, name, 0)) {
      error = kRefusedFileError;
      return level;
    }
  }
  PrivateFolderSecurity security(options.users);
  level = OpenBelow(parent, name, access, share, FILE_CREATE, FILE_DIRECTORY_FILE,
                    security.get()->lpSecurityDescriptor);
  error = level ? kRefusedFileError : GetLastError();
  if (level && !IsEntryItself(level.get(), path, info)) level.reset();
  return level;
}

}  // namespace

HeldFolder::HeldFolder(const std::wstring& root, const std::wstring& below, const Options& options) {
  // The levels stay open, but never for deleting: nobody can rename them meanwhile.
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  std::vector<UniqueFile> levels;
  if (options.makeLevels && GetFileAttributesW(root.c_str()) == INVALID_FILE_ATTRIBUTES) {
    file_seams::beforeChange();
    CreateDirectoryTree(root);
  }
  levels.emplace_back(CreateFileW(root.c_str(), kLevelAccess, share, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!levels.back()) {
    m_error = GetLastError() == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : GetLastError();
    return;
  }
  std::wstring path = FinalPath(levels.back().get());
  for (size_t start = 0; !below.empty() && start <= below.size();) {
    const size_t end = std::min(below.find(L'\\', start), below.size());
    const std::wstring name = below.substr(start, end - start);
    const bool last = end == below.size();
    start = end + 1;
    const DWORD access = kLevelAccess | (last && options.removable ? DELETE : 0);
    const DWORD levelShare = last && options.letShellDelete ? kShareAll : share;
    UniqueFile level = OpenLevel(levels.back().get(), path, name, access, levelShare,
                                 last && options.origin == Origin::Ours, options, m_error);
    if (!level) return;
    levels.push_back(std::move(level));
    path = Below(path, name);
  }
  m_levels = std::move(levels);
  m_final = path;
  m_error = 0;
}

HeldFolder HeldFolder::OfPath(std::wstring folderPath, const Options& options) {
  while (folderPath.size() > 3 && folderPath.back() == L'\\') folderPath.pop_back();
  if (!IsDrivePath(folderPath)) {
    HeldFolder none;
    none.m_error = ERROR_BAD_PATHNAME;
    return none;
  }
  return HeldFolder(folderPath.substr(0, 3), folderPath.substr(3), options);
}

HeldFolder HeldFolder::OfFile(const std::wstring& filePath, std::wstring& name) {
  const size_t cut = filePath.rfind(L'\\');
  name = cut == std::wstring::npos ? filePath : filePath.substr(cut + 1);
  return OfPath(cut == std::wstring::npos ? std::wstring() : filePath.substr(0, cut), Options());
}

UniqueFile HeldFolder::OpenFile(const std::wstring& name, DWORD access, DWORD share, DWORD disposition,
                                bool inheritable) const {
  if (!*this) {
    SetLastError(m_error);
    return UniqueFile();
  }
  // Emptied only once checked: a second name of another file is never cut.
  const bool truncate = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
  bool created = false;
  UniqueFile file = OpenBelow(handle(), name, access | FILE_READ_ATTRIBUTES, share,
                              NativeDisposition(truncate ? (disposition == CREATE_ALWAYS ? OPEN_ALWAYS : OPEN_EXISTING)
                                                         : disposition),
                              FILE_NON_DIRECTORY_FILE, nullptr, inheritable, &created);
  EntryInfo info;
  // A file made just now has no other name; one found must be checked. The
  // name is one level below a folder checked already: a link there opens as
  // itself and shows as one.
  if (file && !created && (!QueryEntry(file.get(), info) || info.links != 1 ||
                           (info.attributes & FILE_ATTRIBUTE_REPARSE_POINT))) {
    file.reset();
    SetLastError(kRefusedFileError);
  }
  FILE_END_OF_FILE_INFO end = {};
  if (file && truncate && !created && !SetFileInformationByHandle(file.get(), FileEndOfFileInfo, &end, sizeof(end))) {
    file.reset();
  }
  return file;
}

bool HeldFolder::ClearForProgram(const std::wstring& name) const {
  if (!*this) return false;
  {
    UniqueFile entry = OpenBelow(handle(), name, READ_CONTROL | FILE_READ_ATTRIBUTES, kShareAll, FILE_OPEN, 0);
    if (!entry) return GetLastError() == ERROR_FILE_NOT_FOUND;
    EntryInfo info;
    if (IsEntryItself(entry.get(), Below(m_final, name), info) && !(info.attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        info.links == 1 && IsTrustedOwner(entry.get())) {
      return true;
    }
  }
  return RemoveEntry(handle(), m_final, name, 0);
}

bool HeldFolder::Empty() const { return *this && EmptyBelow(handle(), m_final, 0); }

bool HeldFolder::RemoveFile(const std::wstring& name) const {
  if (!*this) {
    SetLastError(m_error);
    return false;
  }
  UniqueFile file =
      OpenBelow(handle(), name, DELETE | FILE_READ_ATTRIBUTES, kShareAll, FILE_OPEN, FILE_NON_DIRECTORY_FILE);
  EntryInfo info;
  if (file && (!IsEntryItself(file.get(), Below(m_final, name), info) || info.links != 1)) {
    SetLastError(kRefusedFileError);
    return false;
  }
  return file && DeleteByHandle(file.get());
}

bool HeldFolder::RemoveSelf() const {
  SetLastError(m_error);
  return *this && DeleteByHandle(handle());
}

std::wstring HeldFolder::PathOf(const std::wstring& name) const { return Below(m_final, name); }

UniqueFile HeldFolder::OpenTrustedFile(const std::wstring& name, DWORD access, DWORD share) const {
  if (!*this) {
    SetLastError(m_error);
    return UniqueFile();
  }
  UniqueFile file = OpenBelow(handle(), name, access | READ_CONTROL | FILE_READ_ATTRIBUTES, share, FILE_OPEN,
                              FILE_NON_DIRECTORY_FILE);
  EntryInfo info;
  if (file && (!IsEntryItself(file.get(), PathOf(name), info) || info.links != 1 || !IsTrustedOwner(file.get()))) {
    file.reset();
    SetLastError(kRefusedFileError);
  }
  return file;
}

bool HeldFolder::PlaceCopy(HANDLE source, const std::wstring& name, bool replace) const {
  unsigned long long random = 0;
  if (!*this || !SystemRandom(&random, sizeof(random))) {
    SetLastError(*this ? ERROR_GEN_FAILURE : m_error);
    return false;
  }
  wchar_t suffix[32];
  _snwprintf(suffix, 32, L".%016llx.tmp", random);
  PrivateFolderSecurity security(PrivateFolderSecurity::Users::None);
  file_seams::beforeChange();
  UniqueFile fresh = OpenBelow(handle(), name + suffix, GENERIC_READ | GENERIC_WRITE | DELETE, 0, FILE_CREATE,
                               FILE_NON_DIRECTORY_FILE, security.get()->lpSecurityDescriptor);
  if (!fresh) return false;
  // Renamed over the name, never opened or deleted through it: whatever
  // stands there (a link, another file's second name, someone else's file)
  // only loses that name, on Windows and under Wine alike, where a delete
  // disposition on a link to a file deletes the file it points to.
  if (CopyContent(source, fresh.get()) && RenameByHandle(fresh.get(), PathOf(name), replace)) return true;
  const DWORD error = GetLastError();
  DeleteByHandle(fresh.get());
  SetLastError(error);
  return false;
}

bool HeldFolder::MoveHere(HANDLE file, const std::wstring& name) const {
  if (!*this) {
    SetLastError(m_error);
    return false;
  }
  if (RenameByHandle(file, PathOf(name), false)) return true;
  if (GetLastError() != ERROR_NOT_SAME_DEVICE || !PlaceCopy(file, name, false)) return false;
  // The copy is in place; a file that stays behind is met as an existing one next time.
  DeleteByHandle(file);
  return true;
}
