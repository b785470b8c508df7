#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "checks/Junction.h"
#include "frame/Exports.h"
#include "frame/Log.h"
#include "support/TestSupport.h"

using namespace testsupport;

namespace {

const wchar_t kProgramFilesNorvale[] = L"C:\\Program Files\\Norvale";
const wchar_t kProgramDataNorvale[] = L"C:\\ProgramData\\Norvale";

// Paths in the order the check examines them on a machine without the product.
const std::vector<std::string> kExamined = {
    "C:\\Program Files\\Norvale\\LYN",
    "C:\\Program Files\\Norvale",
    "C:\\Program Files",
    "C:\\",
    "C:\\ProgramData\\Norvale\\LYN\\Policy\\Temp",
    "C:\\ProgramData\\Norvale\\LYN\\Policy",
    "C:\\ProgramData\\Norvale\\LYN",
    "C:\\ProgramData\\Norvale",
    "C:\\ProgramData",
    "C:\\",
    "C:\\ProgramData\\Norvale\\LYN\\Logs",
    "C:\\Program Files\\Norvale\\LYN\\en",
    "C:\\Program Files\\Norvale\\LYN\\x64",
    "C:\\Program Files\\Norvale\\LYN\\x64\\x64",
    "C:\\Program Files\\Norvale\\LYN\\x64\\x86",
    "C:\\Program Files\\Norvale\\LYN\\x86",
    "C:\\Program Files\\Norvale\\LYN\\x86\\x64",
    "C:\\Program Files\\Norvale\\LYN\\x86\\x86",
};

// Seam state: attributes and errors to report for chosen paths, a reparse tag
// to report from FindFirstFileW.
std::map<std::wstring, std::pair<DWORD, DWORD>> g_attributes;  // path -> (attributes, last error)
DWORD g_tag = 0;
DWORD g_findError = 0;

DWORD WINAPI FakeAttributes(LPCWSTR path) {
  auto it = g_attributes.find(path);
  if (it == g_attributes.end()) return GetFileAttributesW(path);
  SetLastError(it->second.second);
  return it->second.first;
}

HANDLE WINAPI FindWithTag(LPCWSTR path, LPWIN32_FIND_DATAW data) {
  if (g_findError != 0) {
    SetLastError(g_findError);
    return INVALID_HANDLE_VALUE;
  }
  HANDLE search = FindFirstFileW(L"C:\\windows", data);  // a real entry, then the tag under test
  data->dwReserved0 = g_tag;
  return search;
}

std::vector<std::string> WithoutBlanks(std::vector<std::string> lines) {
  std::vector<std::string> out;
  for (auto& line : lines)
    if (!line.empty()) out.push_back(line);
  return out;
}

}  // namespace

class JunctionCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    RemoveTree(kProgramFilesNorvale);
    RemoveTree(kProgramDataNorvale);
    RunUnix("rm -f '" + UnixPath(kProgramFilesNorvale) + "'");
    g_attributes.clear();
    g_tag = 0;
    g_findError = 0;
  }
  void TearDown() override {
    junction_seams::getFileAttributes.Reset(); junction_seams::findFirstFile.Reset();
    RunUnix("rm -f '" + UnixPath(kProgramFilesNorvale) + "'");
    RemoveTree(kProgramFilesNorvale);
    RemoveTree(kProgramDataNorvale);
    RemoveTree(L"C:\\ih-junction-target");
  }
  static void CreateProductFolders() {
    for (const auto& path : kExamined) CreateDirectoryTree(Widen(path));
  }
};

TEST_F(JunctionCheck, MachineWithoutTheProductPassesEveryPathInOrder) {
  LogCapture log;
  EXPECT_EQ(CheckJunction(0), 0);

  std::vector<std::string> expected = {"CheckJunction : Start", ""};
  for (const auto& path : kExamined) {
    expected.push_back("Junction check : get attributes of: " + path);
    const bool exists = path == "C:\\Program Files" || path == "C:\\ProgramData" || path == "C:\\";
    if (exists) {
      expected.push_back("Junction check : attributes : 10");
    } else {
      // A missing leaf under an existing folder is "file not found" (2), deeper it is "path not found" (3).
      const bool parentExists = path == "C:\\Program Files\\Norvale" || path == "C:\\ProgramData\\Norvale";
      expected.push_back(std::string("Junction check : ERROR_PATH_NOT_FOUND : ") + (parentExists ? "2" : "3"));
    }
  }
  expected.push_back("CheckJunction : End");
  expected.push_back("");
  EXPECT_EQ(log.Lines(), expected);
}

TEST_F(JunctionCheck, ExistingOrdinaryFoldersPass) {
  CreateProductFolders();
  LogCapture log;
  EXPECT_EQ(CheckJunction(12345), 0);  // the installer handle plays no part
  const auto lines = WithoutBlanks(log.Lines());
  ASSERT_EQ(lines.size(), 2u + 2u * kExamined.size());
  for (size_t i = 0; i < kExamined.size(); ++i) {
    EXPECT_EQ(lines[1 + 2 * i], "Junction check : get attributes of: " + kExamined[i]);
    EXPECT_EQ(lines[2 + 2 * i], "Junction check : attributes : 10");
  }
  EXPECT_EQ(lines.back(), "CheckJunction : End");
}

TEST_F(JunctionCheck, LinkedParentOfTheInstallFolderAbortsBeforeThePolicyFolder) {
  // C:\Program Files\Norvale is a real directory link; Wine reports the
  // reparse attribute but not the tag, which the seam supplies.
  CreateDirectoryTree(L"C:\\ih-junction-target\\LYN");
  ASSERT_EQ(RunUnix("ln -s '" + UnixPath(L"C:\\ih-junction-target") + "' '" +
                    UnixPath(L"C:\\Program Files") + "/Norvale'"),
            0);
  junction_seams::findFirstFile.Set(&FindWithTag);
  g_tag = 0xA0000003;  // IO_REPARSE_TAG_MOUNT_POINT
  LogCapture log;
  EXPECT_EQ(CheckJunction(0), -1);
  const auto lines = log.Lines();
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[2], "Junction check : get attributes of: C:\\Program Files\\Norvale\\LYN");
  EXPECT_EQ(lines[4], "Junction check : get attributes of: C:\\Program Files\\Norvale");
  EXPECT_EQ(lines[5], "Junction check : attributes : 410");
  EXPECT_EQ(lines[6], "Junction check : Directory is a REPARSE POINT");
  EXPECT_EQ(lines[7].rfind("Junction check : Directory is a junction. Abort installation : ", 0), 0u);
  EXPECT_EQ(lines.size(), 9u) << "nothing after the failing path";
  EXPECT_EQ(lines[8], "");
}

TEST_F(JunctionCheck, WineReportsNoTagForALinkSoTheRealQueryLetsItPass) {
  CreateDirectoryTree(L"C:\\ih-junction-target\\LYN");
  ASSERT_EQ(RunUnix("ln -s '" + UnixPath(L"C:\\ih-junction-target") + "' '" +
                    UnixPath(L"C:\\Program Files") + "/Norvale'"),
            0);
  LogCapture log;
  EXPECT_EQ(CheckJunction(0), 0);
  const auto lines = WithoutBlanks(log.Lines());
  EXPECT_EQ(lines[3], "Junction check : get attributes of: C:\\Program Files\\Norvale");
  EXPECT_EQ(lines[4], "Junction check : attributes : 410");
  EXPECT_EQ(lines[5], "Junction check : Directory is a REPARSE POINT");
  EXPECT_EQ(lines[6], "Junction check : get attributes of: C:\\Program Files");
}

TEST(JunctionTags, AnyTagSharingABitWithTheMountPointTagFails) {
  const struct {
    DWORD tag;
    int expected;
  } cases[] = {
      {0xA0000003, -1},  // mount point (junction)
      {0xA000000C, -1},  // directory symbolic link
      {0x80000013, -1},  // shares the high bit
      {0x00000001, -1},
      {0x4000000C, 0},   // shares no bit
      {0x00000000, 0},
  };
  for (const auto& c : cases) {
    g_attributes = {{L"C:\\Some\\Folder", {FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT, 0}}};
    g_tag = c.tag;
    g_findError = 0;
    junction_seams::getFileAttributes.Set(&FakeAttributes);
    junction_seams::findFirstFile.Set(&FindWithTag);
    EXPECT_EQ(CheckPathForJunction(L"C:\\Some\\Folder"), c.expected) << std::hex << c.tag;
    junction_seams::getFileAttributes.Reset(); junction_seams::findFirstFile.Reset();
  }
}

TEST(JunctionPath, UnreadableAttributesFailNamingInvalidParameter) {
  g_attributes = {{L"C:\\Locked", {INVALID_FILE_ATTRIBUTES, ERROR_ACCESS_DENIED}}};
  junction_seams::getFileAttributes.Set(&FakeAttributes);
  LogCapture log;
  EXPECT_EQ(CheckPathForJunction(L"C:\\Locked"), -1);
  junction_seams::getFileAttributes.Reset(); junction_seams::findFirstFile.Reset();
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"Junction check : get attributes of: C:\\Locked",
                                                   "Junction check : ERROR_INVALID_PARAMETER : 5"}));
}

TEST(JunctionPath, ReparsePointThatCannotBeListed) {
  g_attributes = {{L"C:\\Gone", {FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT, 0}}};
  junction_seams::getFileAttributes.Set(&FakeAttributes);
  junction_seams::findFirstFile.Set(&FindWithTag);

  g_findError = ERROR_FILE_NOT_FOUND;
  LogCapture notFound;
  EXPECT_EQ(CheckPathForJunction(L"C:\\Gone"), 0);
  EXPECT_EQ(notFound.Lines(),
            (std::vector<std::string>{"Junction check : get attributes of: C:\\Gone", "Junction check : attributes : 410",
                                      "Junction check : Directory is a REPARSE POINT",
                                      "FindFirstFile failed for ERROR_FILE_NOT_FOUND(2)", ""}));

  g_findError = ERROR_ACCESS_DENIED;
  LogCapture denied;
  EXPECT_EQ(CheckPathForJunction(L"C:\\Gone"), -1);
  EXPECT_EQ(WithoutBlanks(denied.Lines()).back(), "FindFirstFile failed (5)");
  junction_seams::getFileAttributes.Reset(); junction_seams::findFirstFile.Reset();
}

TEST(JunctionPath, ClosesTheSearchHandle) {
  g_attributes = {{L"C:\\Linked", {FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT, 0}}};
  g_findError = 0;
  junction_seams::getFileAttributes.Set(&FakeAttributes);
  junction_seams::findFirstFile.Set(&FindWithTag);
  InstallLog(L"warm up");  // the log's own first-use work is not the check's
  for (DWORD tag : {0x00000000u, 0xA0000003u}) {
    g_tag = tag;
    const auto before = NextHandleValues();
    CheckPathForJunction(L"C:\\Linked");
    EXPECT_EQ(NextHandleValues(), before);
  }
  junction_seams::getFileAttributes.Reset(); junction_seams::findFirstFile.Reset();
}
