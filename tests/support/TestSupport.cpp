#include "support/TestSupport.h"

#include <aclapi.h>
#include <msiquery.h>
#include <sddl.h>
#include <psapi.h>
#include <shellapi.h>

#include <regex>

#include "frame/Log.h"

namespace testsupport {

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += (c < 0x80) ? static_cast<char>(c) : '?';
  return out;
}

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }  // ASCII only

std::string ReadFileBytes(const std::wstring& path) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr));
  std::string bytes;
  char buffer[65536];
  DWORD read = 0;
  while (file && ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) bytes.append(buffer, read);
  return bytes;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  DWORD written = 0;
  return file && WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

bool PathExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool RemoveTree(const std::wstring& path) {
  const std::wstring from = path + L'\0';  // a list of paths, ended by an empty one
  SHFILEOPSTRUCTW op = {};
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.fFlags = FOF_NO_UI;
  if (PathExists(path)) SHFileOperationW(&op);
  return !PathExists(path);
}

// Both the runtime's copy of the environment and the process's own, so that
// the pipe's interpreter lookup and child processes see the same value.
static void SetVariable(const std::wstring& name, const wchar_t* value) {
  const std::wstring assignment = name + L"=" + (value ? value : L"");
  _wputenv(assignment.c_str());
  SetEnvironmentVariableW(name.c_str(), value);
}

ScopedEnvironmentVariable::ScopedEnvironmentVariable(const std::wstring& name, const wchar_t* value)
    : m_name(name), m_hadValue(_wgetenv(name.c_str()) != nullptr),
      m_oldValue(m_hadValue ? _wgetenv(name.c_str()) : L"") {
  SetVariable(name, value);
}

ScopedEnvironmentVariable::~ScopedEnvironmentVariable() {
  SetVariable(m_name, m_hadValue ? m_oldValue.c_str() : nullptr);
}

static const std::regex kPrefix(R"(^\[\d{1,2}-\d{1,2}-\d{4}\] \d{1,2}:\d{1,2}:\d{1,2}:\d{1,3} - )");

LogCapture::LogCapture() : m_start(static_cast<long long>(ReadFileBytes(logdetail::LogFilePath()).size())) {}

std::string LogCapture::Raw() const {
  std::string all = ReadFileBytes(logdetail::LogFilePath());
  if (static_cast<long long>(all.size()) < m_start) return all;  // the log was replaced meanwhile
  return all.substr(static_cast<size_t>(m_start));
}

std::vector<std::string> LogCapture::Lines(bool onlyPrefixed) const {
  std::vector<std::string> lines;
  const std::string raw = Raw();
  std::smatch prefix;
  for (size_t pos = 0, end; pos < raw.size(); pos = end + 2) {
    if ((end = raw.find("\r\n", pos)) == std::string::npos) end = raw.size();
    const std::string line = raw.substr(pos, end - pos);
    if (std::regex_search(line, prefix, kPrefix)) lines.push_back(prefix.suffix());
    else if (!onlyPrefixed) lines.push_back(line);
  }
  return lines;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string joined;
  for (const auto& line : lines) joined += (&line == &lines.front() ? "" : "|") + line;
  return joined;
}

std::wstring BuildDir() { return IH_BUILD_DIR; }

BothLogs::BothLogs() {
  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  MsiSetExternalUIRecord(&BothLogs::Handler, INSTALLLOGMODE_INFO, this, &m_previous);
  if (MsiOpenPackageW(IH_TINY_MSI, &m_handle) != ERROR_SUCCESS) m_handle = 0;
  m_records.clear();  // what the engine said while opening the package
}

BothLogs::~BothLogs() {
  if (m_handle != 0) MsiCloseHandle(m_handle);
  MsiSetExternalUIRecord(m_previous, 0, nullptr, nullptr);
}

int WINAPI BothLogs::Handler(LPVOID context, UINT type, MSIHANDLE record) {
  auto* self = static_cast<BothLogs*>(context);
  if ((type & 0xFF000000) != INSTALLMESSAGE_INFO || record == 0) return 0;
  wchar_t text[4096] = {};
  DWORD size = 4096;
  MsiFormatRecordW(self->m_handle, record, text, &size);
  self->m_records.push_back(Narrow(text + (wcsncmp(text, L"Info 1000.", 10) ? 0 : 10)));
  return 1;
}

void MachineKeys::Clear() {
  for (const wchar_t* root :
       {L"Software\\Norvale", L"Software\\Veltan", L"Software\\Corvane", L"Software\\InstallHelperTests"}) {
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
      UniqueRegKey key;
      if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, root, 0, KEY_ALL_ACCESS | view, key.put()) == ERROR_SUCCESS)
        RegDeleteTreeW(key.get(), nullptr);
      RegDeleteKeyExW(HKEY_LOCAL_MACHINE, root, view, 0);
    }
  }
}

bool RegSetRaw(HKEY root, const std::wstring& subKey, const std::wstring& name, DWORD type, const void* data,
               DWORD size, REGSAM view) {
  UniqueRegKey key;
  return RegCreateKeyExW(root, subKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, key.put(), nullptr) ==
             ERROR_SUCCESS &&
         RegSetValueExW(key.get(), name.c_str(), 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
}

bool RegSetString(HKEY root, const std::wstring& subKey, const std::wstring& name, const std::wstring& value,
                  REGSAM view) {
  return RegSetRaw(root, subKey, name, REG_SZ, value.c_str(), static_cast<DWORD>((value.size() + 1) * 2), view);
}
bool RegSetDword(HKEY root, const std::wstring& subKey, const std::wstring& name, DWORD value, REGSAM view) {
  return RegSetRaw(root, subKey, name, REG_DWORD, &value, sizeof(value), view);
}
bool RegKeyExists(HKEY root, const std::wstring& subKey, REGSAM view) {
  UniqueRegKey key;
  return RegOpenKeyExW(root, subKey.c_str(), 0, KEY_QUERY_VALUE | view, key.put()) == ERROR_SUCCESS;
}

StartedProcess::StartedProcess(const std::wstring& program, const std::wstring& arguments) {
  std::wstring line = L"\"" + program + L"\" " + arguments;  // the stand-in's own cap, should a test crash
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) return;
  const UniqueKernelHandle thread(info.hThread);
  process.reset(info.hProcess);
  wchar_t loaded[MAX_PATH] = {};
  for (int i = 0; i < 500 && !K32GetModuleFileNameExW(info.hProcess, nullptr, loaded, MAX_PATH); ++i) Sleep(20);
}

StartedProcess::~StartedProcess() {
  if (process && TerminateProcess(process.get(), 1)) WaitForSingleObject(process.get(), 10000);
}

DWORD StartedProcess::WaitForExitCode(DWORD timeoutMs) const {
  DWORD code = STILL_ACTIVE;
  WaitForSingleObject(process.get(), timeoutMs);
  GetExitCodeProcess(process.get(), &code);
  return code;
}

std::wstring StandInPath(const std::wstring& name) { return BuildDir() + L"\\standins\\" + name; }

std::vector<HANDLE> NextHandleValues(size_t count) {
  std::vector<UniqueKernelHandle> events(count);
  std::vector<HANDLE> handles;
  for (auto& event : events)
    handles.push_back((event = UniqueKernelHandle(CreateEventW(nullptr, 0, 0, nullptr))).get());
  return handles;
}

int RunUnix(const std::string& shellCommand) {
  // Wine starts the ELF program but cannot report its exit code or wait for
  // it, so the command leaves its status in a file that appears whole.
  wchar_t tempDir[MAX_PATH] = {}, statusFile[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, tempDir);
  GetTempFileNameW(tempDir, L"ihu", 0, statusFile);
  DeleteFileW(statusFile);
  const std::string status = "'" + UnixPath(statusFile) + "'";
  std::wstring commandLine = L"/bin/sh -c \"";
  for (char c : "(" + shellCommand + "); echo $? >" + status + ".tmp; mv " + status + ".tmp " + status) {
    if (c == '"' || c == '\\') commandLine += L'\\';
    commandLine += static_cast<wchar_t>(static_cast<unsigned char>(c));
  }
  commandLine += L"\"";
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return -1;
  UniqueKernelHandle thread(pi.hThread), process(pi.hProcess);
  for (int waited = 0; waited < 30000 && !PathExists(statusFile); waited += 20) Sleep(20);
  const std::string code = ReadFileBytes(statusFile);
  DeleteFileW(statusFile);
  return code.empty() ? -1 : atoi(code.c_str());
}

std::string UnixPath(const std::wstring& windowsPath) {
  using ToUnix = char*(CDECL*)(LPCWSTR);
  const auto toUnix = reinterpret_cast<ToUnix>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  char* name = toUnix ? toUnix(windowsPath.c_str()) : nullptr;
  const std::string path = name ? name : "";
  HeapFree(GetProcessHeap(), 0, name);
  return path;
}

bool OpenToEveryone(const std::wstring& path) {
  UniqueLocal descriptor;
  LPWSTR text = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                            nullptr, descriptor.put()) != ERROR_SUCCESS ||
      !ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.get(), SDDL_REVISION_1,
                                                            DACL_SECURITY_INFORMATION, &text, nullptr)) {
    return false;
  }
  const UniqueLocal owned(text);
  return wcsstr(text, L";;;WD)") != nullptr;
}

}  // namespace testsupport
