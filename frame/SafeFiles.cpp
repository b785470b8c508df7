#include "frame/SafeFiles.h"

#include <ntsecapi.h>
#include <sddl.h>

#include <cstring>
#include <cwchar>
#include <vector>

namespace file_seams {
Seam<decltype(&::GetSecurityInfo)> getSecurityInfo(&::GetSecurityInfo);
Seam<void (*)()> beforeChange(+[] {});
Seam<decltype(&::ReadFile)> readFile(&::ReadFile);
Seam<BOOLEAN(WINAPI*)(PVOID, ULONG)> systemRandom(&::RtlGenRandom);
}

namespace {

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

// The owner of an object, through the seam; false when it cannot be read.
bool OwnerOf(HANDLE object, UniqueLocal& descriptor, PSID& owner) {
  owner = nullptr;
  return file_seams::getSecurityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                                     nullptr, descriptor.put()) == ERROR_SUCCESS &&
         owner != nullptr;
}

// Opened by its path, which the kernel keeps for the system and no user or
// environment can change; read-control only, which every token has there.
bool OwnsWindowsFolder(PSID sid) {
  wchar_t windows[MAX_PATH] = {};
  const UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  const UniqueFile folder(CreateFileW(windows, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  UniqueLocal descriptor;
  PSID owner = nullptr;
  return folder && OwnerOf(folder.get(), descriptor, owner) && EqualSid(owner, sid);
}

}  // namespace

bool IsTrustedOwner(HANDLE object, bool runningAccountToo) {
  UniqueLocal descriptor;
  PSID owner = nullptr;
  if (!OwnerOf(object, descriptor, owner)) return false;
  return IsWellKnownSid(owner, WinLocalSystemSid) || IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
         IsTrustedInstaller(owner) || (runningAccountToo && IsRunningAccount(owner)) || OwnsWindowsFolder(owner);
}

bool DeleteByHandle(HANDLE file) {
  FILE_DISPOSITION_INFO dispose = {TRUE};
  file_seams::beforeChange();
  return SetFileInformationByHandle(file, FileDispositionInfo, &dispose, sizeof(dispose)) != FALSE;
}

bool CopyContent(HANDLE from, HANDLE to) {
  char buffer[4096];
  for (DWORD read = 0, written = 0;;) {
    if (!file_seams::readFile(from, buffer, sizeof(buffer), &read, nullptr)) return false;
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

bool SystemRandom(void* buffer, ULONG size) { return file_seams::systemRandom(buffer, size) != FALSE; }

bool IsDrivePath(const std::wstring& path) {
  const wchar_t drive = path.empty() ? L'\0' : static_cast<wchar_t>(path[0] | 0x20);
  return path.size() >= 3 && drive >= L'a' && drive <= L'z' && path[1] == L':' && path[2] == L'\\';
}

PrivateFolderSecurity::PrivateFolderSecurity(Users which) {
  // Full control for SYSTEM and the administrators; nothing inherited from the parent. Users nothing, read
  // (0x1200a9), or else list the folder and add files to it (0x1200ab), never folders, and read and append to the
  // files in it (0x12008d), never overwrite, delete or change their access lists.
  const wchar_t* users = which == Users::None   ? L""
                         : which == Users::Read ? L"(A;OICI;0x1200a9;;;BU)"
                                                : L"(A;;0x1200ab;;;BU)(A;OIIO;0x12008d;;;BU)";
  PSECURITY_DESCRIPTOR built = nullptr;
  if (ConvertStringSecurityDescriptorToSecurityDescriptorW(
          (std::wstring(L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)") + users).c_str(), SDDL_REVISION_1, &built, nullptr)) {
    m_descriptor.reset(built);
  }
}
