#include <gtest/gtest.h>

#include <algorithm>

#include "checks/Junction.h"
#include "frame/Exports.h"
#include "support/ScopedSeam.h"
#include "support/TestSupport.h"

using namespace testsupport;

namespace {

const std::string PF = "C:\\Program Files\\Norvale", PD = "C:\\ProgramData\\Norvale", LYN = PF + "\\LYN";
// In the order examined: the two walked folders up to the root, then the single ones.
const std::vector<std::string> kExamined = {
    LYN, PF, "C:\\Program Files", "C:\\", PD + "\\LYN\\Policy\\Temp", PD + "\\LYN\\Policy", PD + "\\LYN", PD,
    "C:\\ProgramData", "C:\\", PD + "\\LYN\\Logs", LYN + "\\en", LYN + "\\x64", LYN + "\\x64\\x64",
    LYN + "\\x64\\x86", LYN + "\\x86", LYN + "\\x86\\x64", LYN + "\\x86\\x86"};

// One path is a reparse point or unreadable; Wine reports no reparse tag, so the seams do.
struct Row {
  const char* name;
  std::string path;
  DWORD attributesError, findError, tag;
  int result;
  long examined;
  std::vector<std::string> lines;  // after the path's attributes
};
const Row* g_row = nullptr;

DWORD WINAPI FakeAttributes(LPCWSTR path) {
  if (Narrow(path) != g_row->path) return GetFileAttributesW(path);
  SetLastError(g_row->attributesError);
  return g_row->attributesError ? INVALID_FILE_ATTRIBUTES : FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
}

HANDLE WINAPI FakeFind(LPCWSTR, LPWIN32_FIND_DATAW data) {
  // A real search handle, which the check must close.
  HANDLE search = g_row->findError ? INVALID_HANDLE_VALUE : FindFirstFileW(L"C:\\Windows", data);
  data->dwReserved0 = g_row->tag;
  SetLastError(g_row->findError);
  return search;
}

std::string Get(const std::string& path) { return "Junction check : get attributes of: " + path; }

}  // namespace

TEST(JunctionCheck, MachineWithoutTheProductPassesEveryPathInOrder) {
  RemoveTree(Widen(PF));
  RemoveTree(Widen(PD));
  LogCapture log;
  EXPECT_EQ(CheckJunction(0), 0);
  std::vector<std::string> expected = {"CheckJunction : Start", ""};
  for (const auto& path : kExamined) {
    // Missing folders: "file not found" right under an existing one, "path not found" deeper.
    const char* error = path.find("Norvale") == std::string::npos ? "attributes : 10"
                        : path == PF || path == PD                ? "ERROR_PATH_NOT_FOUND : 2"
                                                                  : "ERROR_PATH_NOT_FOUND : 3";
    expected.insert(expected.end(), {Get(path), std::string("Junction check : ") + error});
  }
  expected.insert(expected.end(), {"CheckJunction : End", ""});
  EXPECT_EQ(log.Lines(), expected);
}

TEST(JunctionCheck, FirstFailingPathEndsTheCheck) {
  const std::string junction = "Junction check : Directory is a junction. Abort installation : 0";
  const Row rows[] = {
      {"mount point above the install folder", PF, 0, 0, 0xA0000003, -1, 2, {junction, ""}},
      {"directory symbolic link", "C:\\ProgramData", 0, 0, 0xA000000C, -1, 9, {junction, ""}},
      {"tag sharing only the lowest bit, last folder", LYN + "\\x86\\x86", 0, 0, 0x00000001, -1, 18, {junction, ""}},
      {"tag sharing no bit", PD + "\\LYN\\Logs", 0, 0, 0x4000000C, 0, 18, {Get(LYN + "\\en")}},
      {"reparse point not found", "C:\\Program Files", 0, ERROR_FILE_NOT_FOUND, 0, 0, 18,
       {"FindFirstFile failed for ERROR_FILE_NOT_FOUND(2)", "", Get("C:\\")}},
      {"reparse point not listable", PD + "\\LYN\\Policy", 0, ERROR_ACCESS_DENIED, 0, -1, 6, {"FindFirstFile failed (5)", ""}},
      {"attributes unreadable", LYN + "\\en", ERROR_ACCESS_DENIED, 0, 0, -1, 12, {}},
  };
  ScopedSeam attributes(junction_seams::getFileAttributes, &FakeAttributes);
  ScopedSeam find(junction_seams::findFirstFile, &FakeFind);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    g_row = &row;
    std::vector<std::string> block = {Get(row.path), "Junction check : ERROR_INVALID_PARAMETER : 5"};
    if (!row.attributesError)
      block = {Get(row.path), "Junction check : attributes : 410", "Junction check : Directory is a REPARSE POINT"};
    block.insert(block.end(), row.lines.begin(), row.lines.end());
    HandleProbe handles;
    LogCapture log;
    EXPECT_EQ(CheckJunction(12345), row.result);  // the installer handle plays no part
    EXPECT_TRUE(handles.Unchanged());
    const auto lines = log.Lines();
    EXPECT_NE(std::search(lines.begin(), lines.end(), block.begin(), block.end()), lines.end());
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](auto& line) { return line.rfind(Get(""), 0) == 0; }),
              row.examined);
  }
}
