#include "components/Catalog.h"

#include <gtest/gtest.h>

#include <cwchar>

#include "frame/Platform.h"
#include "support/ComponentSupport.h"
#include "support/ScopedSeam.h"

using namespace testsupport;

namespace {

const wchar_t* g_refused = nullptr;  // a member whose removal the database refuses
BOOL WINAPI RemoveUnlessRefused(HCATADMIN admin, LPCWSTR member, DWORD flags) {
  if (g_refused != nullptr && wcscmp(member, g_refused) == 0) return FALSE;
  return catalog_seams::removeCatalog.real()(admin, member, flags);
}
int Report32Bit() { return 0; }
int Report64Bit() { return 1; }

// The real catalog database, one letter per member: 0 nothing, o an earlier
// catalog, P the product's, C the current directory's, D a folder in the way.
const wchar_t* const kMembers[] = {L"lyn.cat", L"lyn_IntelSha256.cat", L"orb_64.cat", L"orb_32.cat"};
std::wstring Registered(const wchar_t* member) {
  wchar_t system[MAX_PATH];
  GetSystemDirectoryW(system, MAX_PATH);
  return std::wstring(system) + L"\\catroot\\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}\\" + member;
}
std::string Database() {
  std::string state;
  for (const wchar_t* member : kMembers) {
    const std::string bytes = ReadFileBytes(Registered(member));  // none from a folder
    state += !PathExists(Registered(member)) ? '0' : bytes.empty() ? 'D' : bytes[0];
  }
  return state;
}
void SetDatabase(const std::string& state) {
  for (size_t i = 0; i < 4; ++i) {
    const std::wstring path = Registered(kMembers[i]);
    if (!RemoveDirectoryW(path.c_str())) DeleteFileW(path.c_str());
    if (state[i] == 'o') WriteFileBytes(path, "o");
    if (state[i] == 'D') CreateDirectoryW(path.c_str(), nullptr);
  }
}

}  // namespace

TEST(Catalogs, InstallRegistersBothNamesAndUninstallRemovesWhatTheInstalledVersionRegistered) {
  const std::string current =
      "Successfully uninstalled LYN catalog file|Successfully uninstalled catFileNameForIntelSha256.cat catalog file";
  const std::string old64 =
      "ORB version prior to 2.2 found, using orb_64.cat|Successfully uninstalled LYN catalog file";
  const std::string notAble = "Not able to find Major and Minor versions|" + current;
  const std::string notFound = "LYN installed version is NOT found|" + current;
  const struct {
    const char* name;
    int install;
    const wchar_t* version;  // null: no "Version" value
    int (*is64Bit)();
    const wchar_t* refused;
    const char *before, *after;
    int result;
    std::string text, records = "";  // records: checked on the success paths
  } rows[] = {
      {"installed", 1, nullptr, Report64Bit, nullptr, "0000", "PP00", 1,
       "Successfully installed LYN catalog file||Successfully installed lyn_IntelSha256.cat catalog file",
       "Successfully installed lyn catalog file\n|Successfully installed lyn_IntelSha256.cat catalog file\n"},
      {"first in the way", 1, nullptr, Report64Bit, nullptr, "D000", "DP00", 1,
       "Installing LYN catalog file failed||Successfully installed lyn_IntelSha256.cat catalog file"},
      {"second in the way", 1, nullptr, Report64Bit, nullptr, "0D00", "PD00", 0,
       "Successfully installed LYN catalog file||Installing lyn_IntelSha256.cat catalog file failed|"},
      {"2.2", 0, L"2.2", Report64Bit, nullptr, "oooo", "00oo", 1, current,
       "Successfully uninstalled LYN catalog file\n|Successfully uninstalled catFileNameForIntelSha256.cat catalog "
       "file\n"},
      {"2.10", 0, L"2.10", Report64Bit, nullptr, "oooo", "00oo", 1, current},
      {"10.1.5", 0, L"10.1.5", Report64Bit, nullptr, "oooo", "00oo", 1, current},
      {"2.1", 0, L"2.1", Report64Bit, nullptr, "oooo", "oo0o", 1, old64,
       "ORB version prior to 2.2 found, using orb_64.cat \n|Successfully uninstalled LYN catalog file\n"},
      {"1.9.3", 0, L"1.9.3", Report64Bit, nullptr, "oooo", "oo0o", 1, old64},
      {"blanks around", 0, L" 2 . 1 ", Report64Bit, nullptr, "oooo", "oo0o", 1, old64},
      {"2.1 on 32-bit", 0, L"2.1", Report32Bit, nullptr, "oooo", "ooo0", 1,
       "ORB version prior to 2.2 found, using orb_32.cat|Successfully uninstalled LYN catalog file"},
      {"old refused", 0, L"2.1", Report64Bit, L"orb_64.cat", "oooo", "oooo", 0,
       "ORB version prior to 2.2 found, using orb_64.cat|UnInstalling LYN catalog file failed"},
      {"one piece", 0, L"2", Report64Bit, nullptr, "oooo", "00oo", 1, notAble},
      {"not a number", 0, L"v2.1", Report64Bit, nullptr, "oooo", "00oo", 1, notAble},
      {"empty minor", 0, L"1.", Report64Bit, nullptr, "oooo", "00oo", 1, notAble},
      {"overflow", 0, L"9999999999.1", Report64Bit, nullptr, "oooo", "00oo", 1, notAble},
      {"empty", 0, L"", Report64Bit, nullptr, "oooo", "00oo", 1, notFound},
      {"absent", 0, nullptr, Report64Bit, nullptr, "oooo", "00oo", 1, notFound},
      {"first refused", 0, L"3.0", Report64Bit, L"lyn.cat", "oooo", "o0oo", 1,
       "UnInstalling LYN catalog file failed|Successfully uninstalled catFileNameForIntelSha256.cat catalog file"},
      {"second refused", 0, L"3.0", Report64Bit, L"lyn_IntelSha256.cat", "oooo", "0ooo", 0,
       "Successfully uninstalled LYN catalog file|UnInstalling LYN catFileNameForIntelSha256.cat file failed"},
  };
  ComponentKeys keys;
  ScratchFolder product(L"product"), elsewhere(L"current");
  WriteFileBytes(product / L"lyn.cat", "P");
  WriteFileBytes(elsewhere / L"lyn.cat", "C");  // where a bare name would be found
  wchar_t previousDirectory[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, previousDirectory);
  SetCurrentDirectoryW(elsewhere.path().c_str());
  ScopedSeam<BOOL(WINAPI*)(HCATADMIN, LPCWSTR, DWORD)> removal(catalog_seams::removeCatalog, &RemoveUnlessRefused);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    keys.Clear();
    keys.SetProduct(L"InstDir", product.path() + L"\\");
    if (row.version != nullptr) keys.SetProduct(L"Version", row.version);
    SetDatabase(row.before);
    ScopedSeam<int (*)()> platform(platform_seams::is64BitWindows, row.is64Bit);
    g_refused = row.refused;
    BothLogs logs;
    HandleProbe probe;
    EXPECT_EQ(Do_Catalog_Action(logs.handle(), row.install), row.result);
    EXPECT_TRUE(probe.Unchanged());
    EXPECT_EQ(Database(), row.after);
    EXPECT_EQ(logs.Text(), row.text);
    if (!row.records.empty()) {
      EXPECT_EQ(logs.Records(), row.records);
    }
  }
  // Without "InstDir" the bare name is registered from the current directory.
  keys.Clear();
  SetDatabase("0000");
  EXPECT_EQ(Do_Catalog_Action(0, 1), 1);
  EXPECT_EQ(Database(), "CC00");
  SetDatabase("0000");
  SetCurrentDirectoryW(previousDirectory);
}
