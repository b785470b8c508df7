#include <gtest/gtest.h>

#include <functional>

#include "frame/RegistryHelper.h"
#include "support/TestSupport.h"

using namespace testsupport;

namespace {
const std::wstring kKey = L"Software\\Norvale\\IHRegistryTest";
const std::wstring kBase = L"HKEY_LOCAL_MACHINE\\" + kKey;

void SetRaw(const wchar_t* name, DWORD type, const void* data, DWORD size) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr), 0);
  RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(key);
}

std::wstring Str(const std::wstring& path, REGSAM view = 0) {
  std::wstring value = L"unset";
  return ReadRegistryString(path, value, view) == 0 ? value : L"-1:" + value;
}
std::wstring Dword(const std::wstring& path) {
  DWORD value = 7;
  return ReadRegistryDword(path, value, 0) == 0 ? std::to_wstring(value) : L"-1:" + std::to_wstring(value);
}
// Observations in the order they were made (operands of + are unsequenced).
struct Seq {
  std::wstring text;
  explicit Seq(int first) : text(std::to_wstring(first)) {}
  explicit Seq(const std::wstring& first) : text(first) {}
  Seq& operator<<(int next) { return *this << std::to_wstring(next); }
  Seq& operator<<(const std::wstring& next) {
    text += L" " + next;
    return *this;
  }
  operator std::wstring() const { return text; }
};

std::wstring Exists(const std::wstring& subKey, REGSAM view = 0) {
  return RegKeyExists(HKEY_LOCAL_MACHINE, kKey + subKey, view) ? L"present" : L"absent";
}
}  // namespace

TEST(RegistryHelper, ValuePathsTypesViewsAndDeletion) {
  ScopedRegistryKey cleanup64{HKEY_LOCAL_MACHINE, kKey, KEY_WOW64_64KEY};
  ScopedRegistryKey cleanup32{HKEY_LOCAL_MACHINE, kKey, KEY_WOW64_32KEY};
  const wchar_t embedded[] = {L'a', L'b', 0, L'c', L'd'}, unterminated[] = {L'x', L'y', L'z'}, one[] = L"A";
  const std::string eight(8, '\x01');
  SetRaw(L"Embedded", REG_SZ, embedded, sizeof(embedded));
  SetRaw(L"Unterminated", REG_SZ, unterminated, sizeof(unterminated));
  SetRaw(L"Empty", REG_SZ, nullptr, 0);
  SetRaw(L"Expand", REG_EXPAND_SZ, L"%SystemRoot%\\T", 30);
  SetRaw(L"OneChar", REG_SZ, one, sizeof(one));  // 'A', 0: four bytes
  SetRaw(L"Eight", REG_BINARY, eight.data(), 8);
  RegSetDword(HKEY_LOCAL_MACHINE, kKey, L"Number", 5);
  RegSetString(HKEY_LOCAL_MACHINE, kKey, L"InstDir", L"C:\\LYN\\");
  RegSetDword(HKEY_LOCAL_MACHINE, kKey + L"\\Parent\\Child", L"V", 1);

  struct Row {
    const char* name;
    std::function<std::wstring()> observe;
    std::wstring expected;
  } rows[] = {
      {"string keeps one backslash of the pair in the key", [] { return Str(kBase + L"\\\\InstDir"); }, L"C:\\LYN\\"},
      {"string stops at the first null", [] { return Str(kBase + L"\\\\Embedded"); }, L"ab"},
      {"string without terminator", [] { return Str(kBase + L"\\\\Unterminated"); }, L"xyz"},
      {"empty string", [] { return Str(kBase + L"\\\\Empty"); }, L""},
      {"expandable text unexpanded", [] { return Str(kBase + L"\\\\Expand"); }, L"%SystemRoot%\\T"},
      {"string refuses a number", [] { return Str(kBase + L"\\\\Number"); }, L"-1:unset"},
      {"dword takes four bytes of any type", [] { return Dword(kBase + L"\\\\OneChar"); }, L"65"},
      {"dword refuses eight bytes", [] { return Dword(kBase + L"\\\\Eight"); }, L"-1:7"},
      {"dword missing value", [] { return Dword(kBase + L"\\\\Missing"); }, L"-1:7"},
      {"writes create missing keys",
       [] {
         Seq seq{WriteRegistryString(kBase + L"\\Deep\\Er\\\\Name", L"v", 0)};
         seq << WriteRegistryDword(kBase + L"\\Deep\\\\Pid", 42, 0) << Str(kBase + L"\\Deep\\Er\\\\Name");
         return seq << Dword(kBase + L"\\Deep\\\\Pid");
       },
       L"0 0 v 42"},
      {"leading and repeated backslashes skipped",
       [] {
         Seq seq{WriteRegistryDword(L"\\\\HKEY_LOCAL_MACHINE\\\\\\" + kKey + L"\\\\Skip", 3, 0)};
         return seq << Dword(kBase + L"\\\\Skip");
       },
       L"0 3"},
      {"unknown hive, lower case, no backslash",
       [] {
         Seq seq{Str(L"\\HKEY_LOCAL_MACHINE")};
         for (std::wstring path : {L"HKLM\\" + kKey + L"\\\\V", std::wstring(L"hkey_local_machine\\S\\\\V"), std::wstring(L"None")})
           seq << WriteRegistryDword(path, 1, 0) << DeleteRegistryValue(path, 0) << DeleteRegistryKey(path, 0) << Str(path);
         return seq;
       },
       L"-1:unset -1 -1 -1 -1:unset -1 -1 -1 -1:unset -1 -1 -1 -1:unset"},
      {"views are passed through",
       [] {
         WriteRegistryString(kBase + L"\\\\Where", L"32", KEY_WOW64_32KEY);
         WriteRegistryString(kBase + L"\\\\Where", L"64", KEY_WOW64_64KEY);
         Seq seq{Str(kBase + L"\\\\Where")};
         seq << Str(kBase + L"\\\\Where", KEY_WOW64_32KEY) << DeleteRegistryValue(kBase + L"\\\\Where", KEY_WOW64_32KEY);
         return seq << Str(kBase + L"\\\\Where", KEY_WOW64_32KEY) << Str(kBase + L"\\\\Where", KEY_WOW64_64KEY);
       },
       L"64 32 0 -1:unset 64"},
      {"delete value on a missing key creates the key and fails",
       [] {
         Seq seq{DeleteRegistryValue(kBase + L"\\New\\\\Value", 0)};
         return seq << Exists(L"\\New");
       },
       L"-1 present"},
      {"delete key refuses subkeys, removes a leaf, creates and removes a missing one",
       [] {
         Seq seq{DeleteRegistryKey(kBase + L"\\Parent", 0)};
         seq << Exists(L"\\Parent\\Child") << DeleteRegistryKey(kBase + L"\\Parent\\Child", 0) << Exists(L"\\Parent\\Child");
         return seq << DeleteRegistryKey(kBase + L"\\Never", 0) << Exists(L"\\Never");
       },
       L"-1 present 0 absent 0 absent"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const HandleProbe rowProbe;
    EXPECT_EQ(row.observe(), row.expected);
    EXPECT_TRUE(rowProbe.Unchanged()) << "a registry key was left open";
  }

}
