#include "frame/SafeFiles.h"

#include <sddl.h>

#include <cstring>
#include <vector>

namespace file_seams {
Seam<decltype(&::GetSecurityInfo)> getSecurityInfo(&::GetSecurityInfo);
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
  FILE_DISPOSITION_INFO dispose = {TRUE};
  return SetFileInformationByHandle(link.get(), FileDispositionInfo, &dispose, sizeof(dispose)) != FALSE;
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

BOOL CopyToSingleNamedFile(const std::wstring& source, const std::wstring& target) {
  UniqueFile from(CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!from) return FALSE;
  // Opened without truncation, checked, and only then emptied.
  UniqueFile to = OpenSingleNamedFile(target, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS);
  if (!to || !SetEndOfFile(to.get())) return FALSE;
  char buffer[4096];
  DWORD read = 0, written = 0;
  while (ReadFile(from.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
    if (!WriteFile(to.get(), buffer, read, &written, nullptr) || written != read) return FALSE;
  }
  return TRUE;
}

bool MoveOwnFile(const std::wstring& path, const std::wstring& newPath) {
  UniqueFile file(CreateFileW(path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES | DELETE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                              nullptr));
  if (!file) return false;
  const bool own = !IsLinkOrSecondName(file.get()) && IsTrustedOwner(file.get());
  if (!own) {
    SetLastError(kRefusedFileError);
    return false;
  }
  const DWORD nameBytes = static_cast<DWORD>(newPath.size() * sizeof(wchar_t));
  std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = FALSE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = nameBytes;
  memcpy(rename->FileName, newPath.c_str(), nameBytes);
  return SetFileInformationByHandle(file.get(), FileRenameInfo, rename, static_cast<DWORD>(buffer.size())) != FALSE;
}

PrivateFolderSecurity::PrivateFolderSecurity(Users users) : m_attributes{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE} {
  // Full control for SYSTEM and the administrators; nothing inherited from the parent. Users read (0x1200a9),
  // or else list the folder and add files to it (0x1200ab), never folders, and read and append to the files in
  // it (0x12008d), never overwrite, delete or change their access lists.
  ConvertStringSecurityDescriptorToSecurityDescriptorW(
      users == Users::Read ? L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"
                           : L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x1200ab;;;BU)(A;OIIO;0x12008d;;;BU)",
      SDDL_REVISION_1, m_descriptor.put(), nullptr);
  m_attributes.lpSecurityDescriptor = m_descriptor.get();
}
