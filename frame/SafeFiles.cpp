#include "frame/SafeFiles.h"

#include <ntsecapi.h>
#include <sddl.h>

#include <cstring>
#include <cwchar>
#include <vector>

namespace file_seams {
Seam<decltype(&::GetSecurityInfo)> getSecurityInfo(&::GetSecurityInfo);
Seam<void (*)()> beforeChange(+[] {});
}

namespace {

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::wstring WithoutTrailingSeparators(std::wstring path) {
  while (path.size() > 3 && path.back() == L'\\') path.pop_back();
  return path;
}

bool IsLinkOrSecondName(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info;
  return !GetFileInformationByHandle(file, &info) || info.nNumberOfLinks != 1 ||
         (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool IsRunningAccount(PSID sid) {
  UniqueKernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
  union {
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  } buffer;
  DWORD size = 0;
  return GetTokenInformation(token.get(), TokenUser, &buffer, sizeof(buffer), &size) &&
         EqualSid(buffer.user.User.Sid, sid);
}

bool IsTrustedInstaller(PSID sid) {
  UniqueLocal trustedInstaller;
  return ConvertStringSidToSidW(L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",
                                trustedInstaller.put()) &&
         EqualSid(sid, trustedInstaller.get());
}

bool RenameByHandle(HANDLE file, const std::wstring& newPath, bool replace) {
  const DWORD nameBytes = static_cast<DWORD>(newPath.size() * sizeof(wchar_t));
  std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = replace;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = nameBytes;
  memcpy(rename->FileName, newPath.c_str(), nameBytes);
  file_seams::beforeChange();
  return SetFileInformationByHandle(file, FileRenameInfo, rename, static_cast<DWORD>(buffer.size())) != FALSE;
}

bool DeleteByHandle(HANDLE file) {
  FILE_DISPOSITION_INFO dispose = {TRUE};
  file_seams::beforeChange();
  return SetFileInformationByHandle(file, FileDispositionInfo, &dispose, sizeof(dispose)) != FALSE;
}

// A short read ends a copy only at the end of the file; a short write is a failure.
bool CopyContent(HANDLE from, HANDLE to) {
  char buffer[4096];
  for (DWORD read = 0, written = 0;;) {
    if (!ReadFile(from, buffer, sizeof(buffer), &read, nullptr)) return false;
    if (read == 0) break;
    file_seams::beforeChange();
    if (!WriteFile(to, buffer, read, &written, nullptr)) return false;
    if (written != read) {
      SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
  }
  file_seams::beforeChange();
  return FlushFileBuffers(to) != FALSE;
}

}  // namespace

bool IsTrustedOwner(HANDLE object) {
  PSID owner = nullptr;
  UniqueLocal descriptor;
  return file_seams::getSecurityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                                     nullptr, descriptor.put()) == ERROR_SUCCESS &&
         owner != nullptr &&
         (IsWellKnownSid(owner, WinLocalSystemSid) || IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
          IsTrustedInstaller(owner) || IsRunningAccount(owner));
}

bool IsDrivePath(const std::wstring& path) {
  const wchar_t drive = path.empty() ? L'\0' : static_cast<wchar_t>(path[0] | 0x20);
  return path.size() >= 3 && drive >= L'a' && drive <= L'z' && path[1] == L':' && path[2] == L'\\';
}

bool IsLink(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(WithoutTrailingSeparators(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool RemoveLinkOnly(const std::wstring& path) {
  // Deleted through a handle on the link itself: RemoveDirectoryW and
  // DeleteFileW follow a link on some systems (Wine deletes the target). What
  // does not open as a link is left alone.
  UniqueFile link(CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!link) return false;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(link.get(), &info) || !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    SetLastError(kRefusedFileError);
    return false;
  }
  return DeleteByHandle(link.get());
}

UniqueFile OpenSingleNamedFile(const std::wstring& path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security,
                               DWORD disposition) {
  // The last name is not followed; reading the attributes needs its own right.
  UniqueFile file(CreateFileW(path.c_str(), access | FILE_READ_ATTRIBUTES, share, security, disposition,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (file && IsLinkOrSecondName(file.get())) {
    file.reset();
    SetLastError(kRefusedFileError);
  }
  return file;
}

UniqueFile OpenTrustedFile(const std::wstring& path, DWORD access, DWORD share) {
  UniqueFile file(CreateFileW(path.c_str(), access | READ_CONTROL | FILE_READ_ATTRIBUTES, share, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (file && (IsLinkOrSecondName(file.get()) || !IsTrustedOwner(file.get()))) {
    file.reset();
    SetLastError(kRefusedFileError);
  }
  return file;
}

bool HeldFolders::Hold(const std::wstring& root, const std::wstring& relative, bool owners) {
  m_levels.clear();
  for (size_t end = relative.find(L'\\'); end != std::wstring::npos; end = relative.find(L'\\', end + 1)) {
    const std::wstring level = root + relative.substr(0, end);
    // Without FILE_SHARE_DELETE: nobody renames the folder while it is held.
    UniqueFile folder(CreateFileW(level.c_str(), FILE_READ_ATTRIBUTES | READ_CONTROL,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!folder) {
      const DWORD error = GetLastError();
      return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    // Windows shows a link through the handle, Wine only through the path.
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(folder.get(), &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        IsLink(level) || (owners && !IsTrustedOwner(folder.get()))) {
      m_levels.clear();
      SetLastError(kRefusedFileError);
      return false;
    }
    m_levels.push_back(std::move(folder));
  }
  return true;
}

bool CopyIntoPlace(HANDLE source, const std::wstring& target, bool replace) {
  unsigned long long random = 0;
  if (!RtlGenRandom(&random, sizeof(random))) return false;
  wchar_t suffix[32];
  swprintf(suffix, 32, L".%016llx.tmp", random);
  PrivateFolderSecurity security(PrivateFolderSecurity::Users::None);
  file_seams::beforeChange();
  UniqueFile fresh(CreateFileW((target + suffix).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, security.get(),
                               CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!fresh) return false;
  // Renamed over target, never opened or deleted through it: whatever stands
  // there (a link, another file's second name, someone else's file) only loses
  // that name, on Windows and under Wine alike, where a delete disposition on
  // a link to a file deletes the file it points to.
  if (CopyContent(source, fresh.get()) && RenameByHandle(fresh.get(), target, replace)) return true;
  const DWORD error = GetLastError();
  DeleteByHandle(fresh.get());
  SetLastError(error);
  return false;
}

bool MoveOwnFile(const std::wstring& path, const std::wstring& newPath) {
  UniqueFile file = OpenTrustedFile(path, FILE_READ_DATA | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE);
  if (!file) return false;
  if (RenameByHandle(file.get(), newPath, false)) return true;
  if (GetLastError() != ERROR_NOT_SAME_DEVICE || !CopyIntoPlace(file.get(), newPath, false)) return false;
  // The copy is in place; a backup that stays behind is met as an existing policy next time.
  DeleteByHandle(file.get());
  return true;
}

PrivateFolderSecurity::PrivateFolderSecurity(Users which) : m_attributes{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE} {
  // Full control for SYSTEM and the administrators; nothing inherited from the parent. Users nothing, read
  // (0x1200a9), or else list the folder and add files to it (0x1200ab), never folders, and read and append to the
  // files in it (0x12008d), never overwrite, delete or change their access lists.
  const wchar_t* users = which == Users::None   ? L""
                         : which == Users::Read ? L"(A;OICI;0x1200a9;;;BU)"
                                                : L"(A;;0x1200ab;;;BU)(A;OIIO;0x12008d;;;BU)";
  ConvertStringSecurityDescriptorToSecurityDescriptorW(
      (std::wstring(L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)") + users).c_str(), SDDL_REVISION_1, m_descriptor.put(),
      nullptr);
  m_attributes.lpSecurityDescriptor = m_descriptor.get();
}
