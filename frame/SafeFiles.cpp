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
