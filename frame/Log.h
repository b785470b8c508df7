// The library's two logs: the installer's own log (MsiLogInfo) and the text
// log under the Windows folder (InstallLog), plus the shared directory
// creation and the bounded callback formatter.
#pragma once

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <string>
#include <type_traits>

// Sends one informational record (field 0 the text, brackets escaped so that
// the log shows them; field 1 = 1000) to the installer's log. Does nothing for
// a zero handle.
void MsiLogInfo(MSIHANDLE hInstall, const wchar_t* text);

// Creates each missing level of a drive-letter path. 1 when the whole path
// exists at the end, 0 otherwise. By path and with inherited access lists, so
// the library's own folders never come this way: they come through the folder
// guard (frame/FolderGuard.h), which alone makes folders where users can write.
int CreateDirectoryTree(std::wstring path);

typedef void (*LogCallback)(const wchar_t* text, bool isError);

// Formats into one process-wide 1024-character buffer and hands the text to
// the callback; a message that does not fit is reported as two errors.
void FormatToLogCallback(LogCallback callback, bool isError, const wchar_t* format, ...);

namespace logdetail {

// Where the text log lives, derived from %systemroot% on every call.
std::wstring LogFolderPath();
std::wstring LogFilePath();

// "[d-m-yyyy] h:m:s:ms - " for the given local time.
std::wstring FormatLogPrefix(const SYSTEMTIME& time);

// printf-style wide formatting (legacy wide conventions: %s takes a wide
// string); "Error during formatting." when the text cannot be formatted.
std::wstring FormatText(const wchar_t* format, ...);

// Makes sure the folder exists the first time a form writes (folderChecked is
// that form's once-flag), then appends prefix + message + line end through
// the folder guard.
void WriteLine(bool& folderChecked, const std::wstring& message);

// A narrow text widened byte by byte (an exception's description).
std::wstring WidenBytes(const char* text);

// Narrowing used for the 8-bit log file: ASCII passes, anything else becomes '?'.
std::string NarrowForLog(const std::wstring& text);

template <typename T>
struct IsLogArgument
    : std::integral_constant<bool,
                             std::is_same<T, int>::value || std::is_same<T, unsigned int>::value ||
                                 std::is_same<T, long>::value || std::is_same<T, unsigned long>::value ||
                                 std::is_same<T, unsigned long long>::value ||
                                 std::is_same<T, wchar_t*>::value ||
                                 std::is_same<T, const wchar_t*>::value> {};

template <typename... Args>
struct AllLogArguments : std::true_type {};
template <typename First, typename... Rest>
struct AllLogArguments<First, Rest...>
    : std::integral_constant<bool, IsLogArgument<First>::value && AllLogArguments<Rest...>::value> {};

}  // namespace logdetail

// One custom action's hold on the text log's folder (GuardAction makes one):
// the folder is checked at the action's first line and held, so that it
// cannot be swapped, until the outermost scope ends.
class LogFolderScope {
 public:
  LogFolderScope() noexcept;
  ~LogFolderScope();
  LogFolderScope(const LogFolderScope&) = delete;
  LogFolderScope& operator=(const LogFolderScope&) = delete;
};

// Appends one line to the text log. Each argument signature is its own form
// with its own once-flag for the folder check. Never throws, never fails the caller.
template <typename... Args>
void InstallLog(const wchar_t* message, Args... args) {
  static_assert(sizeof...(Args) <= 3, "InstallLog takes at most three arguments");
  static_assert(logdetail::AllLogArguments<Args...>::value,
                "InstallLog takes 32-bit integers, a 64-bit length and wide strings");
  static bool folderChecked = false;
  try {
    logdetail::WriteLine(folderChecked, logdetail::FormatText(message, args...));
  } catch (...) {
    // Logging never fails a custom action.
  }
}

// The narrow-string form (the description of a caught exception): widened
// byte by byte so that %s receives wide text.
void InstallLog(const wchar_t* message, const char* narrowText);

// One outcome for both logs: formatted once, sent to the installer's log
// first and then written to the text log as it stands.
void LogOutcomeText(MSIHANDLE hInstall, const std::wstring& text);
template <typename... Args>
void LogOutcome(MSIHANDLE hInstall, const wchar_t* format, Args... args) {
  static_assert(logdetail::AllLogArguments<Args...>::value,
                "LogOutcome takes 32-bit integers, a 64-bit length and wide strings");
  try {
    LogOutcomeText(hInstall, logdetail::FormatText(format, args...));
  } catch (...) {
    // Logging never fails a custom action.
  }
}
