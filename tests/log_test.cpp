#include "support/ComponentSupport.h"

#include <functional>
#include <stdexcept>

#include "frame/FolderGuard.h"
#include "frame/Guard.h"
#include "frame/Log.h"

using namespace testsupport;

// A standard user's token, as an immediate action has it: on the Windows folder's Temp only traverse and adding,
// nowhere the right to set an access list.
static NTSTATUS NTAPI AsStandardUser(PHANDLE handle, ACCESS_MASK access, POBJECT_ATTRIBUTES object,
                                     PIO_STATUS_BLOCK io, PLARGE_INTEGER size, ULONG attributes, ULONG share,
                                     ULONG disposition, ULONG options, PVOID ea, ULONG eaLength) {
  const std::wstring name(object->ObjectName->Buffer, object->ObjectName->Length / sizeof(wchar_t));
  const bool temp = name.size() > 5 && !_wcsicmp(name.c_str() + name.size() - 5, L"\\Temp");
  const ACCESS_MASK usersMayOnTemp = FILE_TRAVERSE | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | SYNCHRONIZE;
  if ((access & WRITE_DAC) || (temp && (access & ~usersMayOnTemp)))
    return static_cast<NTSTATUS>(0xC0000022);  // access denied
  return guard_seams::ntCreateFile.real()(handle, access, object, io, size, attributes, share, disposition, options,
                                          ea, eaLength);
}

TEST(TextLog, PrefixIsPlainDecimalInDayMonthYearOrder) {
  EXPECT_EQ(logdetail::FormatLogPrefix({2025, 1, 2, 7, 0, 3, 4, 5}), L"[7-1-2025] 0:3:4:5 - ");
}

// The messages, prefix removed; "" is the blank line after a message ending in "\n".
TEST(TextLog, EachFormFormatsItsArgumentsIntoOneCrLfLine) {
  const struct {
    const char* name; std::function<void()> write; Lines expected;
  } rows[] = {
      {"trailing newline", [] { InstallLog(L"Start\n"); }, {"Start", ""}},
      {"percent without arguments", [] { InstallLog(L"100%% done"); }, {"100% done"}},
      {"two strings", [] { InstallLog(L"%s and %ls", L"first", L"second"); }, {"first and second"}},
      {"no length limit", [] { InstallLog(L"%s", std::wstring(5000, L'x').c_str()); }, {std::string(5000, 'x')}},
      {"non-ASCII replaced", [] { InstallLog(L"%s", L"caf\u00e9"); }, {"caf?"}},
      {"unformattable", [] { InstallLog(L"v %.2147483647d", 1); }, {"Error during formatting."}},
      {"exception guard",
       [] { EXPECT_EQ(GuardAction(L"Act", -1, []() -> int { throw std::runtime_error("bad"); }), -1); },
       {"Act : ended after an unexpected error: bad"}},
      {"foreign exception", [] { GuardAction(L"Act", [] { throw 42; }); }, {"Act : ended after an unexpected error"}},
      {"a standard user's token", [] {
         ScopedSeam seam(guard_seams::ntCreateFile, &AsStandardUser);
         GuardAction(L"Act", [] { InstallLog(L"as a standard user"); });
       }, {"as a standard user"}},
      {"an open list on the folder reset", [] {
         RunUnix("chmod 777 '" + UnixPath(logdetail::LogFolderPath()) + "'");
         InstallLog(L"taken");
         InstallLog(L"open to everyone: %d", int(OpenToEveryone(logdetail::LogFolderPath())));
       }, {"taken", "open to everyone: 0"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    LogCapture log;
    row.write();
    EXPECT_EQ(log.Lines(), row.expected);
  }
}

// Rows in order, each form (argument signature) one no other test uses: a form checks the folder on its first
// line only, whatever came of it; a form not used before checks again.
TEST(TextLog, EachFormChecksTheFolderOnceAndAnotherWriterDoesNotKeepALineOut) {
  const std::wstring folder = logdetail::LogFolderPath();
  UniqueFile blocker;  // a file in the folder's place, held without delete sharing: nothing can take it away
  const struct {
    const char* name; std::function<void()> before, write; Lines lines;
  } rows[] = {
      {"the first check cannot make the folder", [&] {
         RemoveTree(folder);
         blocker.reset(CreateFileW(folder.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, 0, nullptr));
       }, [] { InstallLog(L"%lu %lu %lu", 1ul, 2ul, 3ul); }, {}},
      {"no second check once it could", [&] { blocker.reset(); DeleteFileW(folder.c_str()); },
       [] { InstallLog(L"%lu %lu %lu", 4ul, 5ul, 6ul); }, {}},
      {"another form checks and makes it", [] {}, [] { InstallLog(L"%u %u %u", 1u, 2u, 3u); }, {"1 2 3"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    row.before();
    LogCapture log;
    row.write();
    EXPECT_EQ(log.Lines(), row.lines);
  }
  const UniqueFile other(CreateFileW(logdetail::LogFilePath().c_str(), GENERIC_READ | GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  LogCapture log;
  InstallLog(L"while held");
  EXPECT_EQ(log.Lines(), Lines{"while held"});
}

static std::vector<std::pair<std::wstring, bool>> g_reports;
static void Collect(const wchar_t* text, bool isError) { g_reports.emplace_back(text, isError); }

TEST(CallbackFormatter, UpTo1023CharactersPassLongerOnesBecomeTwoErrors) {
  const std::wstring fits(1020, L'a');
  const struct {
    const char* name; std::function<void()> call; std::vector<std::pair<std::wstring, bool>> expected;
  } rows[] = {
      {"1023", [&] { FormatToLogCallback(&Collect, false, L"%s%d", fits.c_str(), 123); }, {{fits + L"123", false}}},
      {"1024", [&] { FormatToLogCallback(&Collect, false, L"%s%d", fits.c_str(), 1234); },
       {{L"Error formatting the following log message", true}, {L"%s%d", true}}},
      {"null callback", [] { FormatToLogCallback(nullptr, false, L"x"); }, {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    g_reports.clear();
    row.call();
    EXPECT_EQ(g_reports, row.expected);
  }
}

TEST(DirectoryTree, CreatesEachMissingLevelOnce) {
  const ScratchFolder scratch{L"dirtree"};
  const std::wstring root = scratch / L"new", file = scratch / L"file";
  WriteFileBytes(file, "x");
  const struct {
    std::wstring path; int result; std::wstring exists;
  } rows[] = {{root + L"\\a\\b", 1, root + L"\\a\\b"},
              {root + L"\\\\x\\\\y\\", 1, root + L"\\x\\y"},  // doubled and trailing separators
              {L"", 0, L"C:\\"},
              {file + L"\\sub", 0, file}};
  for (const auto& row : rows) {
    SCOPED_TRACE(Narrow(row.path));
    EXPECT_EQ(CreateDirectoryTree(row.path), row.result);
    EXPECT_TRUE(PathExists(row.exists));
  }
}

// What a support engineer reads first, beside the logs: the shipped DLL's
// version, from the project's one version number (its origin, fixed texts of
// the resource script, is not read again here).
TEST(ShippedDll, PropertiesCarryTheProjectVersion) {
  const std::wstring dll = BuildDir() + L"\\InstallHelper.dll";
  std::vector<char> info(GetFileVersionInfoSizeW(dll.c_str(), nullptr));
  ASSERT_TRUE(!info.empty() && GetFileVersionInfoW(dll.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", &value, &length));
  const DWORD* v = &static_cast<const VS_FIXEDFILEINFO*>(value)->dwFileVersionMS;  // the file's, then the product's
  for (int at : {0, 2}) {
    EXPECT_EQ(std::to_wstring(HIWORD(v[at])) + L"." + std::to_wstring(LOWORD(v[at])) + L"." +
                  std::to_wstring(HIWORD(v[at + 1])) + L"." + std::to_wstring(LOWORD(v[at + 1])),
              IH_VERSION L".0");
  }
  for (const std::wstring name : {L"FileVersion", L"ProductVersion"}) {
    const bool found = VerQueryValueW(info.data(), (L"\\StringFileInfo\\040904b0\\" + name).c_str(), &value, &length);
    EXPECT_EQ(found && length ? static_cast<const wchar_t*>(value) : L"(none)", std::wstring(IH_VERSION))
        << Narrow(name);
  }
}
