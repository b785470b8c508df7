#include "support/TestSupport.h"

#include "frame/RegistryHelper.h"

using namespace testsupport;

namespace {
const std::wstring kKey = L"Software\\Norvale\\IHRegistryTest", kBase = L"HKEY_LOCAL_MACHINE\\" + kKey;
const REGSAM k32 = KEY_WOW64_32KEY, k64 = KEY_WOW64_64KEY;

void SetRaw(const wchar_t* name, DWORD type, const void* data, DWORD size) {
  UniqueRegKey key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr), 0);
  RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), size);
}

// One call of the helper as text: S/D read a string/number (a failed read shows what the output held afterwards),
// s/d write the view's name or 42, v/k delete a value/key; e tells whether the key (below HKLM) exists.
std::wstring Call(char op, const std::wstring& path, REGSAM view) {
  std::wstring text = L"unset";
  DWORD number = 7;
  switch (op) {
    case 'S': return ReadRegistryString(path, text, view) == 0 ? text : L"-1:" + text;
    case 'D': return ReadRegistryDword(path, number, view) == 0 ? std::to_wstring(number) : L"-1:" + std::to_wstring(number);
    case 's': return std::to_wstring(WriteRegistryString(path, view == k32 ? L"32" : view == k64 ? L"64" : L"v", view));
    case 'd': return std::to_wstring(WriteRegistryDword(path, 42, view));
    case 'v': return std::to_wstring(DeleteRegistryValue(path, view));
    case 'k': return std::to_wstring(DeleteRegistryKey(path, view));
  }
  return RegKeyExists(HKEY_LOCAL_MACHINE, path, view) ? L"present" : L"absent";
}
}  // namespace

// Rows run in order on one key; each call must close the keys it opened.
TEST(RegistryHelper, ValuePathsTypesViewsAndDeletion) {
  ScopedRegistryKey cleanup64{HKEY_LOCAL_MACHINE, kKey, k64}, cleanup32{HKEY_LOCAL_MACHINE, kKey, k32};
  const wchar_t embedded[] = {L'a', L'b', 0, L'c', L'd'}, unterminated[] = {L'x', L'y', L'z'}, one[] = L"A";
  SetRaw(L"Embedded", REG_SZ, embedded, sizeof(embedded));
  SetRaw(L"Unterminated", REG_SZ, unterminated, sizeof(unterminated));
  SetRaw(L"Empty", REG_SZ, nullptr, 0);
  SetRaw(L"Expand", REG_EXPAND_SZ, L"%SystemRoot%\\T", 30);
  SetRaw(L"OneChar", REG_SZ, one, sizeof(one));  // 'A', 0: four bytes
  SetRaw(L"Eight", REG_BINARY, "\1\1\1\1\1\1\1\1", 8);
  RegSetDword(HKEY_LOCAL_MACHINE, kKey, L"Number", 5);
  RegSetString(HKEY_LOCAL_MACHINE, kKey, L"InstDir", L"C:\\LYN\\");
  RegSetDword(HKEY_LOCAL_MACHINE, kKey + L"\\Parent\\Child", L"V", 1);
  const struct {
    const char* name; char op; std::wstring path; REGSAM view; std::wstring expected;
  } rows[] = {
      {"string keeps one backslash of the pair in the key", 'S', kBase + L"\\\\InstDir", 0, L"C:\\LYN\\"},
      {"string stops at the first null", 'S', kBase + L"\\\\Embedded", 0, L"ab"},
      {"string without terminator", 'S', kBase + L"\\\\Unterminated", 0, L"xyz"},
      {"empty string", 'S', kBase + L"\\\\Empty", 0, L""},
      {"expandable text unexpanded", 'S', kBase + L"\\\\Expand", 0, L"%SystemRoot%\\T"},
      {"string refuses a number", 'S', kBase + L"\\\\Number", 0, L"-1:unset"},
      {"dword takes four bytes of any type", 'D', kBase + L"\\\\OneChar", 0, L"65"},
      {"dword refuses eight bytes", 'D', kBase + L"\\\\Eight", 0, L"-1:7"},
      {"dword missing value", 'D', kBase + L"\\\\Missing", 0, L"-1:7"},
      {"string write creates missing keys", 's', kBase + L"\\Deep\\Er\\\\Name", 0, L"0"},
      {"dword write creates missing keys", 'd', kBase + L"\\Deep\\\\Pid", 0, L"0"},
      {"string written", 'S', kBase + L"\\Deep\\Er\\\\Name", 0, L"v"},
      {"dword written", 'D', kBase + L"\\Deep\\\\Pid", 0, L"42"},
      {"leading and repeated backslashes skipped", 'd', L"\\\\HKEY_LOCAL_MACHINE\\\\\\" + kKey + L"\\\\Skip", 0, L"0"},
      {"... and written where they lead", 'D', kBase + L"\\\\Skip", 0, L"42"},
      {"no key", 'S', L"\\HKEY_LOCAL_MACHINE", 0, L"-1:unset"},
      {"unknown hive", 'd', L"HKLM\\" + kKey + L"\\\\V", 0, L"-1"},
      {"hive in lower case", 'v', L"hkey_local_machine\\S\\\\V", 0, L"-1"},
      {"hive in lower case, key", 'k', L"hkey_local_machine\\S", 0, L"-1"},
      {"no backslash", 's', L"None", 0, L"-1"},
      {"no backslash, key", 'k', L"None", 0, L"-1"},
      {"32-bit view written", 's', kBase + L"\\\\Where", k32, L"0"},
      {"64-bit view written", 's', kBase + L"\\\\Where", k64, L"0"},
      {"default view", 'S', kBase + L"\\\\Where", 0, L"64"},
      {"32-bit view", 'S', kBase + L"\\\\Where", k32, L"32"},
      {"value deleted in the 32-bit view", 'v', kBase + L"\\\\Where", k32, L"0"},
      {"... gone there", 'S', kBase + L"\\\\Where", k32, L"-1:unset"},
      {"... kept in the 64-bit view", 'S', kBase + L"\\\\Where", k64, L"64"},
      {"value delete on a missing key fails", 'v', kBase + L"\\New\\\\Value", 0, L"-1"},
      {"... having created the key", 'e', kKey + L"\\New", 0, L"present"},
      {"key delete refuses subkeys", 'k', kBase + L"\\Parent", 0, L"-1"},
      {"... and keeps them", 'e', kKey + L"\\Parent\\Child", 0, L"present"},
      {"key delete removes a leaf", 'k', kBase + L"\\Parent\\Child", 0, L"0"},
      {"... for good", 'e', kKey + L"\\Parent\\Child", 0, L"absent"},
      {"key delete creates and removes a missing one", 'k', kBase + L"\\Never", 0, L"0"},
      {"... leaving nothing", 'e', kKey + L"\\Never", 0, L"absent"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    BothLogs logs;
    EXPECT_EQ(logs.Run([&] { return Call(row.op, row.path, row.view); }), row.expected);
  }
}
