#include <gtest/gtest.h>

#include "frame/RegistryHelper.h"
#include "support/TestSupport.h"

using namespace testsupport;

namespace {
const wchar_t kKey[] = L"Software\\Norvale\\IHRegistryTest";
const std::wstring kBase = L"HKEY_LOCAL_MACHINE\\Software\\Norvale\\IHRegistryTest";
}  // namespace

class RegistryHelper : public ::testing::Test {
 protected:
  ScopedRegistryKey cleanup64{HKEY_LOCAL_MACHINE, kKey, KEY_WOW64_64KEY};
  ScopedRegistryKey cleanup32{HKEY_LOCAL_MACHINE, kKey, KEY_WOW64_32KEY};
};

TEST_F(RegistryHelper, StringReadKeepsOneTrailingBackslashInTheKeyAndReadsTheValue) {
  ASSERT_TRUE(RegSetString(HKEY_LOCAL_MACHINE, kKey, L"InstDir", L"C:\\Program Files\\Norvale\\LYN\\"));
  std::wstring value = L"old";
  EXPECT_EQ(ReadRegistryString(kBase + L"\\\\InstDir", value, 0), 0);
  EXPECT_EQ(value, L"C:\\Program Files\\Norvale\\LYN\\");
  // The same path read as a 32-bit value: the key opens, the string is too long.
  DWORD number = 7;
  EXPECT_EQ(ReadRegistryDword(kBase + L"\\\\InstDir", number, 0), -1);
  EXPECT_EQ(number, 7u);
}

TEST_F(RegistryHelper, WritesAndReadsBackStringsAndDwordsCreatingMissingKeys) {
  EXPECT_EQ(WriteRegistryString(kBase + L"\\Deep\\Er\\\\Name", L"value", 0), 0);
  EXPECT_EQ(WriteRegistryDword(kBase + L"\\Deep\\\\Pid", 4242, 0), 0);
  std::wstring text;
  EXPECT_TRUE(RegGetString(HKEY_LOCAL_MACHINE, std::wstring(kKey) + L"\\Deep\\Er", L"Name", text));
  EXPECT_EQ(text, L"value");
  DWORD number = 0;
  EXPECT_EQ(ReadRegistryDword(kBase + L"\\Deep\\\\Pid", number, 0), 0);
  EXPECT_EQ(number, 4242u);
  EXPECT_EQ(ReadRegistryString(kBase + L"\\Deep\\Er\\\\Name", text, 0), 0);
  EXPECT_EQ(text, L"value");
}

TEST_F(RegistryHelper, StringReadRefusesOtherTypesAndLeavesExpandableTextUnexpanded) {
  RegSetDword(HKEY_LOCAL_MACHINE, kKey, L"Number", 5);
  RegSetString(HKEY_LOCAL_MACHINE, kKey, L"Expand", L"%SystemRoot%\\Temp", 0, REG_EXPAND_SZ);
  std::wstring value = L"kept";
  EXPECT_EQ(ReadRegistryString(kBase + L"\\\\Number", value, 0), -1);
  EXPECT_EQ(value, L"kept");
  EXPECT_EQ(ReadRegistryString(kBase + L"\\\\Expand", value, 0), 0);
  EXPECT_EQ(value, L"%SystemRoot%\\Temp");
}

TEST_F(RegistryHelper, StringReadStopsAtTheFirstNullAndAcceptsMissingTerminator) {
  RegSetBinary(HKEY_LOCAL_MACHINE, kKey, L"Placeholder", "");
  // REG_SZ data "ab\0cd" without a final terminator, and "xyz" without any.
  HKEY key;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
  const wchar_t embedded[] = {L'a', L'b', 0, L'c', L'd'};
  const wchar_t unterminated[] = {L'x', L'y', L'z'};
  RegSetValueExW(key, L"Embedded", 0, REG_SZ, reinterpret_cast<const BYTE*>(embedded), sizeof(embedded));
  RegSetValueExW(key, L"Unterminated", 0, REG_SZ, reinterpret_cast<const BYTE*>(unterminated), sizeof(unterminated));
  RegSetValueExW(key, L"Empty", 0, REG_SZ, nullptr, 0);
  RegCloseKey(key);
  std::wstring value;
  EXPECT_EQ(ReadRegistryString(kBase + L"\\\\Embedded", value, 0), 0);
  EXPECT_EQ(value, L"ab");
  EXPECT_EQ(ReadRegistryString(kBase + L"\\\\Unterminated", value, 0), 0);
  EXPECT_EQ(value, L"xyz");
  EXPECT_EQ(ReadRegistryString(kBase + L"\\\\Empty", value, 0), 0);
  EXPECT_EQ(value, L"");
}

TEST_F(RegistryHelper, DwordReadTakesAnyFourByteValueAndRefusesLargerOnes) {
  RegSetString(HKEY_LOCAL_MACHINE, kKey, L"OneChar", L"A");  // 'A', 0: four bytes
  RegSetBinary(HKEY_LOCAL_MACHINE, kKey, L"Eight", std::string(8, '\x01'));
  DWORD value = 0;
  EXPECT_EQ(ReadRegistryDword(kBase + L"\\\\OneChar", value, 0), 0);
  EXPECT_EQ(value, 0x41u);
  value = 99;
  EXPECT_EQ(ReadRegistryDword(kBase + L"\\\\Eight", value, 0), -1);
  EXPECT_EQ(ReadRegistryDword(kBase + L"\\\\Missing", value, 0), -1);
}

TEST_F(RegistryHelper, UnknownHivesAndPathsWithoutBackslashFailEverywhere) {
  std::wstring text;
  DWORD number = 0;
  for (const std::wstring& path : {std::wstring(L"HKLM\\Software\\Norvale\\IHRegistryTest\\\\V"),
                                   std::wstring(L"hkey_local_machine\\Software\\\\V"), std::wstring(L"NoBackslash")}) {
    EXPECT_EQ(ReadRegistryString(path, text, 0), -1);
    EXPECT_EQ(ReadRegistryDword(path, number, 0), -1);
    EXPECT_EQ(WriteRegistryString(path, L"x", 0), -1);
    EXPECT_EQ(WriteRegistryDword(path, 1, 0), -1);
    EXPECT_EQ(DeleteRegistryValue(path, 0), -1);
    EXPECT_EQ(DeleteRegistryKey(path, 0), -1);
  }
  EXPECT_EQ(ReadRegistryString(L"\\HKEY_LOCAL_MACHINE", text, 0), -1);  // the only backslash comes first
}

TEST_F(RegistryHelper, LeadingBackslashesAndRunsAfterTheHiveAreSkipped) {
  EXPECT_EQ(WriteRegistryDword(L"\\\\HKEY_LOCAL_MACHINE\\\\\\Software\\Norvale\\IHRegistryTest\\\\V", 3, 0), 0);
  DWORD value = 0;
  EXPECT_TRUE(RegGetDword(HKEY_LOCAL_MACHINE, kKey, L"V", value));
  EXPECT_EQ(value, 3u);
}

TEST_F(RegistryHelper, DeleteValueOnMissingKeyCreatesTheKeyAndFails) {
  EXPECT_EQ(DeleteRegistryValue(kBase + L"\\New\\\\Value", 0), -1);
  EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, std::wstring(kKey) + L"\\New"));
  RegSetDword(HKEY_LOCAL_MACHINE, kKey, L"Gone", 1);
  EXPECT_EQ(DeleteRegistryValue(kBase + L"\\\\Gone", 0), 0);
  EXPECT_FALSE(RegValueExists(HKEY_LOCAL_MACHINE, kKey, L"Gone"));
}

TEST_F(RegistryHelper, DeleteKeyRemovesALeafAndRefusesAKeyWithSubkeys) {
  EXPECT_EQ(DeleteRegistryKey(kBase + L"\\NeverThere", 0), 0);
  EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, std::wstring(kKey) + L"\\NeverThere"));

  RegSetDword(HKEY_LOCAL_MACHINE, std::wstring(kKey) + L"\\Parent\\Child", L"V", 1);
  EXPECT_EQ(DeleteRegistryKey(kBase + L"\\Parent", 0), -1);
  EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, std::wstring(kKey) + L"\\Parent\\Child"));
  EXPECT_EQ(DeleteRegistryKey(kBase + L"\\Parent\\Child", 0), 0);
  EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, std::wstring(kKey) + L"\\Parent\\Child"));
}

TEST_F(RegistryHelper, ViewFlagSelectsThe32Or64BitBranch) {
  EXPECT_EQ(WriteRegistryString(kBase + L"\\\\Where", L"32-bit", KEY_WOW64_32KEY), 0);
  EXPECT_EQ(WriteRegistryString(kBase + L"\\\\Where", L"64-bit", KEY_WOW64_64KEY), 0);
  std::wstring text;
  EXPECT_TRUE(RegGetString(HKEY_LOCAL_MACHINE, L"Software\\Wow6432Node\\Norvale\\IHRegistryTest", L"Where", text));
  EXPECT_EQ(text, L"32-bit");
  EXPECT_EQ(ReadRegistryString(kBase + L"\\\\Where", text, 0), 0);  // the library's own view is 64-bit
  EXPECT_EQ(text, L"64-bit");
  EXPECT_EQ(ReadRegistryString(kBase + L"\\\\Where", text, KEY_WOW64_32KEY), 0);
  EXPECT_EQ(text, L"32-bit");
  EXPECT_EQ(DeleteRegistryValue(kBase + L"\\\\Where", KEY_WOW64_32KEY), 0);
  EXPECT_FALSE(RegValueExists(HKEY_LOCAL_MACHINE, kKey, L"Where", KEY_WOW64_32KEY));
  EXPECT_TRUE(RegValueExists(HKEY_LOCAL_MACHINE, kKey, L"Where", KEY_WOW64_64KEY));
}

TEST_F(RegistryHelper, OperationsLeaveNoKeyOpen) {
  const auto before = NextHandleValues();
  std::wstring text;
  DWORD number;
  WriteRegistryString(kBase + L"\\\\S", L"x", 0);
  ReadRegistryString(kBase + L"\\\\S", text, 0);
  ReadRegistryDword(kBase + L"\\\\S", number, 0);
  DeleteRegistryValue(kBase + L"\\\\S", 0);
  DeleteRegistryKey(kBase + L"\\Leaf", 0);
  EXPECT_EQ(NextHandleValues(), before);
}
