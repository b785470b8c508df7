#include "frame/Log.h"

#include <shlwapi.h>

#include <cstdarg>
#include <cwchar>
#include <memory>
#include <vector>

#include "frame/FolderGuard.h"
#include "frame/Owners.h"
#include "frame/ProductNames.h"
#include "frame/SafeFiles.h"

namespace {

const wchar_t kFormattingError[] = L"Error during formatting.";
const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The text log's folder while a custom action runs; outside one, each line
// checks the folder for itself.
struct ActionLog {
  int depth = 0;
  OwnFolder folder;
} g_actionLog;

// Shared by every FormatToLogCallback call: one custom action at a time.
wchar_t g_callbackBuffer[1024];

std::wstring SystemRoot() {
  wchar_t expanded[MAX_PATH] = {};
  ExpandEnvironmentStringsW(L"%systemroot%", expanded, MAX_PATH);
  return expanded;
}

std::wstring FormatTextV(const wchar_t* format, va_list args) {
  va_list measureArgs;
  va_copy(measureArgs, args);
  const int needed = _vscwprintf(format, measureArgs) + 1;
  va_end(measureArgs);
  if (needed <= 0) return kFormattingError;

  std::unique_ptr<wchar_t[]> buffer(new wchar_t[needed]);
  va_list formatArgs;
  va_copy(formatArgs, args);
  const int written = _vsnwprintf(buffer.get(), needed, format, formatArgs);
  va_end(formatArgs);
  if (written < 0) return kFormattingError;
  return std::wstring(buffer.get(), written);
}

// Field 0 of a record is a template: the engine would read a bracketed part of
// the text (a path, say) as a reference and replace it. Escaped, a bracket
// stands for itself.
std::wstring TemplateLiteral(const wchar_t* text) {
  std::wstring literal;
  for (const wchar_t* c = text; c != nullptr && *c != L'\0'; ++c) {
    if (*c == L'[' || *c == L']') {
      literal += {L'[', L'\\', *c, L']'};
    } else {
      literal += *c;
    }
  }
  return literal;
}

}  // namespace

void MsiLogInfo(MSIHANDLE hInstall, const wchar_t* text) {
  if (hInstall == 0) return;
  PMSIHANDLE record = MsiCreateRecord(3);
  if (record == 0) return;
  try {
    MsiRecordSetStringW(record, 0, TemplateLiteral(text).c_str());
  } catch (...) {
    return;  // logging never fails a custom action
  }
  MsiRecordSetInteger(record, 1, 1000);
  MsiProcessMessage(hInstall, INSTALLMESSAGE_INFO, record);
}

namespace logdetail {

std::wstring LogFolderPath() { return SystemRoot() + names::kLogFolderSuffix; }

std::wstring LogFilePath() { return LogFolderPath() + L"\\" + names::kTextLogName; }

std::wstring FormatText(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  std::wstring text = FormatTextV(format, args);
  va_end(args);
  return text;
}

std::wstring FormatLogPrefix(const SYSTEMTIME& t) {
  return FormatText(L"[%d-%d-%d] %d:%d:%d:%d - ", t.wDay, t.wMonth, t.wYear, t.wHour, t.wMinute, t.wSecond,
                    t.wMilliseconds);
}

std::wstring WidenBytes(const char* text) {
  std::wstring wide;
  for (const char* p = text ? text : ""; *p; ++p) wide += static_cast<wchar_t>(static_cast<unsigned char>(*p));
  return wide;
}

std::string NarrowForLog(const std::wstring& text) {
  std::string bytes;
  bytes.reserve(text.size() + 8);
  for (wchar_t c : text) {
    if (c == L'\n') {
      bytes += "\r\n";  // the log is a text-mode file
    } else {
      bytes += (c < 0x80) ? static_cast<char>(c) : '?';
    }
  }
  return bytes;
}

void WriteLine(bool& folderChecked, const std::wstring& message) {
  OwnFolder lineOnly;
  const OwnFolder* folder = &g_actionLog.folder;
  if (!*folder) {
    const std::wstring temp = SystemRoot() + names::kWindowsTempSuffix;
    if (!IsDrivePath(temp)) return;  // %systemroot% unset: never a folder relative to wherever we run
    // Made when the first line of a form finds it missing; the Temp folder itself never.
    OwnFolder opened(temp, names::kLogFolderName, OwnFolder::Use::TextLog, !folderChecked);
    folderChecked = true;
    if (!opened) return;
    if (g_actionLog.depth > 0) {
      g_actionLog.folder = std::move(opened);
    } else {
      lineOnly = std::move(opened);
      folder = &lineOnly;
    }
  }
  folderChecked = true;
  SYSTEMTIME now;
  GetLocalTime(&now);
  const std::string bytes = NarrowForLog(FormatLogPrefix(now) + message + L"\n");
  // No sharing restriction: another process holding the log open must not keep a line out.
  const auto open = [folder] {
    return folder->OpenFile(names::kTextLogName, FILE_APPEND_DATA, kShareAll, OPEN_ALWAYS, GuardedFolder::Owner::Any);
  };
  UniqueFile file = open();
  // A link or a second name of another file planted at the log's name gets
  // nothing: it loses the name to a fresh log.
  if (!file && GetLastError() == kRefusedFileError && folder->PlaceFresh(names::kTextLogName, true)) file = open();
  DWORD written = 0;
  if (file) WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace logdetail

LogFolderScope::LogFolderScope() noexcept { ++g_actionLog.depth; }

LogFolderScope::~LogFolderScope() {
  if (--g_actionLog.depth == 0) g_actionLog.folder = OwnFolder();
}

void InstallLog(const wchar_t* message, const char* narrowText) {
  static bool folderChecked = false;
  try {
    logdetail::WriteLine(folderChecked, logdetail::FormatText(message, logdetail::WidenBytes(narrowText).c_str()));
  } catch (...) {
  }
}

void LogOutcomeText(MSIHANDLE hInstall, const std::wstring& text) {
  MsiLogInfo(hInstall, text.c_str());
  InstallLog(L"%s", text.c_str());
}

int CreateDirectoryTree(std::wstring path) {
  if (path.empty()) return 0;
  if (PathFileExistsW(path.c_str())) return 1;

  wchar_t levels[MAX_PATH] = {};
  std::vector<wchar_t> work(path.begin(), path.end());
  work.push_back(L'\0');
  wchar_t* context = nullptr;
  wchar_t* piece = wcstok_s(work.data(), L"\\", &context);
  size_t length = 0;
  auto append = [&](const wchar_t* text) {
    const size_t add = wcslen(text) + 1;
    if (length + add >= MAX_PATH) return false;  // callers keep their paths well below this
    wcscat(levels, text);
    wcscat(levels, L"\\");
    length += add;
    return true;
  };
  if (piece == nullptr || !append(piece)) return 0;

  while (piece != nullptr) {
    UniqueFile dir(CreateFileW(levels, 0, 0, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!dir && !CreateDirectoryW(levels, nullptr)) return 0;
    piece = wcstok_s(nullptr, L"\\", &context);
    if (piece != nullptr && !append(piece)) return 0;
  }
  return 1;
}

void FormatToLogCallback(LogCallback callback, bool isError, const wchar_t* format, ...) {
  if (callback == nullptr || format == nullptr) return;
  const size_t capacity = sizeof(g_callbackBuffer) / sizeof(g_callbackBuffer[0]);
  va_list args;
  va_start(args, format);
  // Fails when the whole text needs more than 1023 characters.
  const int written = _vsnwprintf(g_callbackBuffer, capacity - 1, format, args);
  va_end(args);
  g_callbackBuffer[capacity - 1] = L'\0';
  if (written >= 0) {
    callback(g_callbackBuffer, isError);
  } else {
    callback(L"Error formatting the following log message", true);
    callback(format, true);
  }
}
