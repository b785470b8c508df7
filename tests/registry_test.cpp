#include "support/TestSupport.h"

#include "frame/RegistryHelper.h"

using namespace testsupport;

namespace {
const std::wstring kKey = L"Software\\Norvale\\IHRegistryTest", kBase = L"HKEY_LOCAL_MACHINE\\" + kKey;

// One call of the helper as text: S/D read a string/number (a failed read shows what the output held afterwards);
// s/d write the view's name or 42, then read it back; v/k delete a value/key, then tell whether the key is there.
std::wstring Call(char op, const std::wstring& path, REGSAM view) {
  std::wstring text = L"unset", key = path.substr(0, op == 'v' ? path.rfind(L"\\\\") : path.size());
  DWORD number = 7;
  int result = 0;
  switch (op) {
    case 'S': return ReadRegistryString(path, text, view) == 0 ? text : L"-1:" + text;
    case 'D':
      return ReadRegistryDword(path, number, view) == 0 ? std::to_wstring(number) : L"-1:" + std::to_wstring(number);
    case 's':
      result = WriteRegistryString(path, view == k32 ? L"32" : view == k64 ? L"64" : L"v", view);
      return std::to_wstring(result) + L" " + Call('S', path, view);
    case 'd':
      result = WriteRegistryDword(path, 42, view);
      return std::to_wstring(result) + L" " + Call('D', path, view);
    case 'v': result = DeleteRegistryValue(path, view); break;
    case 'k': result = DeleteRegistryKey(path, view); break;
  }
  const bool below = key.rfind(L"HKEY_LOCAL_MACHINE\\", 0) == 0;
  return std::to_wstring(result) +
         (below && RegKeyExists(HKEY_LOCAL_MACHINE, key.substr(19), view) ? L" present" : L" absent");
}
}  // namespace

// Rows run in order on one key; each call must close the keys it opened.
TEST(RegistryHelper, ValuePathsTypesViewsAndDeletion) {
  const MachineKeys keys;
  const wchar_t embedded[] = {L'a', L'b', 0, L'c', L'd'}, unterminated[] = {L'x', L'y', L'z'}, one[] = L"A";
  RegSetRaw(HKEY_LOCAL_MACHINE, kKey, L"Embedded", REG_SZ, embedded, sizeof(embedded));
  RegSetRaw(HKEY_LOCAL_MACHINE, kKey, L"Unterminated", REG_SZ, unterminated, sizeof(unterminated));
  RegSetRaw(HKEY_LOCAL_MACHINE, kKey, L"Empty", REG_SZ, nullptr, 0);
  RegSetRaw(HKEY_LOCAL_MACHINE, kKey, L"Expand", REG_EXPAND_SZ, L"%SystemRoot%\\T", 30);
  RegSetRaw(HKEY_LOCAL_MACHINE, kKey, L"OneChar", REG_SZ, one, sizeof(one));  // 'A', 0: four bytes
  RegSetRaw(HKEY_LOCAL_MACHINE, kKey, L"Eight", REG_BINARY, "\1\1\1\1\1\1\1\1", 8);
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
      {"string write creates missing keys", 's', kBase + L"\\Deep\\Er\\\\Name", 0, L"0 v"},
      {"leading and repeated backslashes skipped", 'd', L"\\\\HKEY_LOCAL_MACHINE\\\\\\" + kKey + L"\\\\Skip", 0,
       L"0 42"},
      {"... to the key they name", 'D', kBase + L"\\\\Skip", 0, L"42"},
      {"no key", 'S', L"\\HKEY_LOCAL_MACHINE", 0, L"-1:unset"},
      {"unknown hive", 'd', L"HKLM\\" + kKey + L"\\\\V", 0, L"-1 -1:7"},
      {"hive in lower case", 'd', L"hkey_local_machine\\S\\\\V", 0, L"-1 -1:7"},
      {"no backslash", 's', L"None", 0, L"-1 -1:unset"},
      {"no backslash, key", 'k', L"None", 0, L"-1 absent"},
      {"32-bit view written", 's', kBase + L"\\\\Where", k32, L"0 32"},
      {"64-bit view written", 's', kBase + L"\\\\Where", k64, L"0 64"},
      {"default view", 'S', kBase + L"\\\\Where", 0, L"64"},
      {"value deleted in the 32-bit view", 'v', kBase + L"\\\\Where", k32, L"0 present"},
      {"... gone there", 'S', kBase + L"\\\\Where", k32, L"-1:unset"},
      {"value delete on a missing key fails, having created the key", 'v', kBase + L"\\New\\\\Value", 0, L"-1 present"},
      {"key delete refuses subkeys", 'k', kBase + L"\\Parent", 0, L"-1 present"},
      {"key delete removes a leaf", 'k', kBase + L"\\Parent\\Child", 0, L"0 absent"},
      {"key delete creates and removes a missing one", 'k', kBase + L"\\Never", 0, L"0 absent"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    BothLogs logs;
    EXPECT_EQ(logs.Run([&] { return Call(row.op, row.path, row.view); }), row.expected);
  }
}
