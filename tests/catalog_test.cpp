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
const std::wstring kDatabase = L"C:\\windows\\system32\\catroot\\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}\\";
std::string Database() {
  std::string state;  // a folder reads as no bytes, and so does a missing file
  for (auto member : kMembers)
    state += (ReadFileBytes(kDatabase + member) + "D0")[PathExists(kDatabase + member) ? 0 : 1];
  return state;
}
void SetDatabase(const std::string& state) {
  for (size_t i = 0; i < 4; ++i) {
    const std::wstring path = kDatabase + kMembers[i];
    if (!RemoveDirectoryW(path.c_str())) DeleteFileW(path.c_str());
    if (state[i] != '0') state[i] == 'D' ? CreateDirectoryW(path.c_str(), nullptr) : WriteFileBytes(path, "o");
  }
}

}  // namespace

TEST(Catalogs, InstallRegistersBothNamesAndUninstallRemovesWhatTheInstalledVersionRegistered) {
  const std::string removed =
                        "Successfully uninstalled LYN catalog file|Successfully uninstalled "
                        "catFileNameForIntelSha256.cat catalog file",
                    notAble = "Not able to find Major and Minor versions|...";
  const struct {
    const char* name;
    const wchar_t* version;  // null: no "Version" value; L"install": install mode
    const char *before, *after;
    int result;
    std::string text = "...", records = "...";
    const wchar_t* refused = nullptr;
    int (*is64Bit)() = Report64Bit;
    bool instDir = true;
  } rows[] = {
      {"installed", L"install", "0000", "PP00", 1,
       "Successfully installed LYN catalog file||Successfully installed lyn_IntelSha256.cat catalog file",
       "Successfully installed lyn catalog file\n|Successfully installed lyn_IntelSha256.cat catalog file\n"},
      {"no InstDir: the current directory's", L"install", "0000", "CC00", 1, "...", "...", nullptr, Report64Bit, false},
      {"first in the way", L"install", "D000", "DP00", 1, "Installing LYN catalog file failed|..."},
      {"second in the way", L"install", "0D00", "PD00", 0, "...|Installing lyn_IntelSha256.cat catalog file failed|"},
      {"2.2", L"2.2", "oooo", "00oo", 1, removed,
       "Successfully uninstalled LYN catalog file\n|Successfully uninstalled catFileNameForIntelSha256.cat catalog "
       "file\n"},
      {"2.10", L"2.10", "oooo", "00oo", 1},
      {"10.1.5", L"10.1.5", "oooo", "00oo", 1},
      {"2.1", L"2.1", "oooo", "oo0o", 1,
       "ORB version prior to 2.2 found, using orb_64.cat|Successfully uninstalled LYN catalog file",
       "ORB version prior to 2.2 found, using orb_64.cat \n|Successfully uninstalled LYN catalog file\n"},
      {"1.9.3", L"1.9.3", "oooo", "oo0o", 1},
      {"blanks around", L" 2 . 1 ", "oooo", "oo0o", 1},
      {"2.1 on 32-bit", L"2.1", "oooo", "ooo0", 1, "...using orb_32.cat|...", "...orb_32.cat \n|...", nullptr,
       Report32Bit},
      {"old one refused", L"2.1", "oooo", "oooo", 0, "...|UnInstalling LYN catalog file failed", "...", L"orb_64.cat"},
      {"one piece", L"2", "oooo", "00oo", 1, notAble + removed},
      {"not a number", L"v2.1", "oooo", "00oo", 1, notAble},
      {"overflow", L"9999999999.1", "oooo", "00oo", 1, notAble},
      {"empty", L"", "oooo", "00oo", 1, "LYN installed version is NOT found|" + removed,
       "LYN installed version is NOT found\n|..."},
      {"absent", nullptr, "oooo", "00oo", 1, "LYN installed version is NOT found|..."},
      {"first refused", L"3.0", "oooo", "o0oo", 1, "UnInstalling LYN catalog file failed|...", "...", L"lyn.cat"},
      {"second refused", L"3.0", "oooo", "0ooo", 0, "...|UnInstalling LYN catFileNameForIntelSha256.cat file failed",
       "...", L"lyn_IntelSha256.cat"},
  };
  ComponentKeys keys;
  ScratchFolder product(L"product"), elsewhere(L"current");
  WriteFileBytes(product / L"lyn.cat", "P");
  WriteFileBytes(elsewhere / L"lyn.cat", "C");  // where a bare name would be found
  wchar_t previousDirectory[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, previousDirectory);
  SetCurrentDirectoryW(elsewhere.path.c_str());
  ScopedSeam<BOOL(WINAPI*)(HCATADMIN, LPCWSTR, DWORD)> removal(catalog_seams::removeCatalog, &RemoveUnlessRefused);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const bool install = row.version != nullptr && wcscmp(row.version, L"install") == 0;
    keys.Clear();
    if (row.instDir) keys.SetProduct(L"InstDir", product.path + L"\\");
    if (row.version != nullptr) keys.SetProduct(L"Version", row.version);
    SetDatabase(row.before);
    ScopedSeam<int (*)()> platform(platform_seams::is64BitWindows, row.is64Bit);
    g_refused = row.refused;
    BothLogs logs;
    HandleProbe probe;
    EXPECT_EQ(Do_Catalog_Action(logs.handle(), install ? 1 : 0), row.result);
    EXPECT_TRUE(probe.Unchanged());
    EXPECT_EQ(Database(), row.after);
    EXPECT_PRED2(Matches, logs.Text(), row.text);
    EXPECT_PRED2(Matches, logs.Records(), row.records);
  }
  SetDatabase("0000");
  SetCurrentDirectoryW(previousDirectory);
}
