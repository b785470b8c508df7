#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "frame/Log.h"
#include "support/TestSupport.h"

using namespace testsupport;

TEST(TextLog, PrefixUsesPlainDecimalFieldsInDayMonthYearOrder) {
  SYSTEMTIME t = {};
  t.wDay = 7;
  t.wMonth = 1;
  t.wYear = 2025;
  t.wHour = 0;
  t.wMinute = 3;
  t.wSecond = 4;
  t.wMilliseconds = 5;
  EXPECT_EQ(logdetail::FormatLogPrefix(t), L"[7-1-2025] 0:3:4:5 - ");
  t = {};
  t.wDay = 4;
  t.wMonth = 12;
  t.wYear = 2026;
  t.wHour = 9;
  t.wMinute = 5;
  t.wSecond = 7;
  t.wMilliseconds = 42;
  EXPECT_EQ(logdetail::FormatLogPrefix(t), L"[4-12-2026] 9:5:7:42 - ");
}

TEST(TextLog, LivesUnderTheWindowsTempFolder) {
  wchar_t root[MAX_PATH] = {};
  GetWindowsDirectoryW(root, MAX_PATH);
  EXPECT_EQ(_wcsicmp(logdetail::LogFilePath().c_str(),
                     (std::wstring(root) + L"\\Temp\\NorvaleLogs\\LYNInstLogs_4.9.0.txt").c_str()),
            0);
}

TEST(TextLog, MessageEndingInNewlineLeavesABlankLineAndCrLfLineEnds) {
  LogCapture log;
  InstallLog(L"CheckJunction : Start\n");
  InstallLog(L"plain line");
  const std::string raw = log.Raw();
  EXPECT_NE(raw.find(" - CheckJunction : Start\r\n\r\n["), std::string::npos) << raw;
  EXPECT_EQ(raw.substr(raw.size() - 12), "plain line\r\n");
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"CheckJunction : Start", "", "plain line"}));
}

TEST(TextLog, EveryArgumentFormIsFormattedWithLegacyWideConventions) {
  LogCapture log;
  wchar_t modifiable[] = L"C:\\Program Files\\Norvale";
  InstallLog(L"100%% done");
  InstallLog(L"int %d", -7);
  InstallLog(L"dword %d", static_cast<DWORD>(5));
  InstallLog(L"hex %x", 0x4D2u);
  InstallLog(L"length %llu", 1234567890123ull);
  InstallLog(L"what: %s", "bad stoi");
  InstallLog(L"path %s", modifiable);
  InstallLog(L"const %ls", L"wide text");
  InstallLog(L"two %d %d", 1, 2);
  InstallLog(L"%s and %s", L"first", L"second");
  InstallLog(L"%s : %d, %d", L"name", 3, 4);
  EXPECT_EQ(log.Messages(),
            (std::vector<std::string>{"100% done", "int -7", "dword 5", "hex 4d2", "length 1234567890123",
                                      "what: bad stoi", "path C:\\Program Files\\Norvale", "const wide text",
                                      "two 1 2", "first and second", "name : 3, 4"}));
}

TEST(TextLog, LongMessagesAreNotCutAndNonAsciiIsReplaced) {
  LogCapture log;
  std::wstring longText(5000, L'x');
  InstallLog(L"%s", longText.c_str());
  InstallLog(L"%s", L"caf\u00e9 \u4e2d");
  EXPECT_EQ(log.Messages(), (std::vector<std::string>{std::string(5000, 'x'), "caf? ?"}));
}

TEST(TextLog, UnformattableMessageIsReplacedAndTheLineStillWritten) {
  LogCapture log;
  // A precision the runtime's formatter cannot honour makes it report an error.
  InstallLog(L"value %.2147483647d", 1);
  InstallLog(L"after %d", 2);
  EXPECT_EQ(log.Messages(), (std::vector<std::string>{"Error during formatting.", "after 2"}));
}

TEST(TextLog, FirstLineOfAFormCreatesTheMissingFolderAndLaterOnesDoNotRetry) {
  ASSERT_TRUE(RemoveTree(LogFolder()));
  // A form not used before in this process: its first line recreates the folder.
  InstallLog(L"first line of form %s %d %d", L"a", 1, 2);
  ASSERT_TRUE(PathExists(LogFile()));
  EXPECT_NE(ReadFileBytes(LogFile()).find("first line of form a 1 2\r\n"), std::string::npos);

  // Once checked, the form does not recreate the folder: the line is dropped silently.
  ASSERT_TRUE(RemoveTree(LogFolder()));
  InstallLog(L"second line of form %s %d %d", L"b", 3, 4);
  EXPECT_FALSE(PathExists(LogFolder()));

  // Another form's first call tries again.
  InstallLog(L"%d %d", 1, 2);
  EXPECT_TRUE(PathExists(LogFile()));
}

TEST(TextLog, AnotherWriterHoldingTheFileOpenDoesNotKeepALineOut) {
  InstallLog(L"make sure the file exists");
  HANDLE other = CreateFileW(LogFile().c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  LogCapture log;
  InstallLog(L"written while another process holds the log");
  CloseHandle(other);
  EXPECT_EQ(log.Messages(), (std::vector<std::string>{"written while another process holds the log"}));
}

TEST(InstallerLog, SendsOneInfoRecordWithTheTextAnd1000) {
  MsiTestSession session;
  ASSERT_NE(session.handle(), 0u);
  MsiLogInfo(session.handle(), L"Do_Catalog_Action : Success\n");
  ASSERT_EQ(session.records().size(), 1u);
  // Wine hands external handlers the INFO template with "Info [1]." put in
  // front (its log shows "Info 1000.<text>"); Windows hands the record as sent.
  const std::wstring sent = L"Do_Catalog_Action : Success\n";
  const std::wstring& got = session.records()[0].text;
  EXPECT_TRUE(got == sent || got == L"Info [1]." + sent) << Narrow(got);
  EXPECT_EQ(session.records()[0].field1, 1000);
}

TEST(InstallerLog, ZeroHandleSendsNothingAndDoesNotTouchTheTextLog) {
  MsiTestSession session;
  LogCapture log;
  MsiLogInfo(0, L"nothing");
  EXPECT_TRUE(session.records().empty());
  EXPECT_EQ(log.Raw(), "");
}

namespace {
std::vector<std::pair<std::wstring, bool>> g_reports;
void Collect(const wchar_t* text, bool isError) { g_reports.emplace_back(text, isError); }
}  // namespace

TEST(CallbackFormatter, FormatsUpTo1023CharactersAndReportsLongerTextsAsTwoErrors) {
  g_reports.clear();
  const std::wstring fits(1020, L'a');
  FormatToLogCallback(&Collect, false, L"%s%d", fits.c_str(), 123);  // 1023 characters
  ASSERT_EQ(g_reports.size(), 1u);
  EXPECT_EQ(g_reports[0].first, fits + L"123");
  EXPECT_FALSE(g_reports[0].second);

  g_reports.clear();
  FormatToLogCallback(&Collect, false, L"%s%d", fits.c_str(), 1234);  // 1024 characters
  ASSERT_EQ(g_reports.size(), 2u);
  EXPECT_EQ(g_reports[0], std::make_pair(std::wstring(L"Error formatting the following log message"), true));
  EXPECT_EQ(g_reports[1], std::make_pair(std::wstring(L"%s%d"), true));

  g_reports.clear();
  FormatToLogCallback(&Collect, true, L"removal failed: %d", 5);
  EXPECT_EQ(g_reports, (std::vector<std::pair<std::wstring, bool>>{{L"removal failed: 5", true}}));

  g_reports.clear();
  FormatToLogCallback(nullptr, false, L"x");
  FormatToLogCallback(&Collect, false, nullptr);
  EXPECT_TRUE(g_reports.empty());
}

class DirectoryTree : public ::testing::Test {
 protected:
  const std::wstring root = L"C:\\ih-dirtree-test";
  void SetUp() override { RemoveTree(root); }
  void TearDown() override { RemoveTree(root); }
};

TEST_F(DirectoryTree, CreatesEveryMissingLevel) {
  EXPECT_EQ(CreateDirectoryTree(root + L"\\a\\b\\c"), 1);
  EXPECT_TRUE(PathExists(root + L"\\a\\b\\c"));
}

TEST_F(DirectoryTree, ExistingPathReturns1AndEmptyPathReturns0) {
  EXPECT_EQ(CreateDirectoryTree(L"C:\\windows"), 1);
  EXPECT_EQ(CreateDirectoryTree(L""), 0);
}

TEST_F(DirectoryTree, DoubledAndTrailingBackslashesMakeNoExtraLevel) {
  EXPECT_EQ(CreateDirectoryTree(root + L"\\\\x\\\\y\\"), 1);
  EXPECT_TRUE(PathExists(root + L"\\x\\y"));
  WIN32_FIND_DATAW data;
  HANDLE search = FindFirstFileW((root + L"\\*").c_str(), &data);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  std::vector<std::wstring> names;
  do names.push_back(data.cFileName);
  while (FindNextFileW(search, &data));
  FindClose(search);
  EXPECT_EQ(names.size(), 3u);  // ".", ".." and "x"
}

TEST_F(DirectoryTree, LevelThatCannotBeCreatedGives0AndKeepsTheLevelsMade) {
  CreateDirectoryTree(root);
  // A file where a folder level should be.
  ASSERT_TRUE(WriteFileBytes(root + L"\\file", "x"));
  EXPECT_EQ(CreateDirectoryTree(root + L"\\file\\sub\\deeper"), 0);
  EXPECT_EQ(CreateDirectoryTree(L"Q:\\no-such-drive\\x"), 0);
}
