#include "support/TestSupport.h"

#include "checks/Junction.h"
#include "frame/Exports.h"

using namespace testsupport;

namespace {

// In the order examined: the two walked folders up to the root, then the single ones.
const std::vector<std::string> kExamined = {
    LYN, PF, "C:\\Program Files", "C:\\", PD + "\\LYN\\Policy\\Temp", PD + "\\LYN\\Policy", PD + "\\LYN", PD,
    "C:\\ProgramData", "C:\\", PD + "\\LYN\\Logs", LYN + "\\en", LYN + "\\x64", LYN + "\\x64\\x64",
    LYN + "\\x64\\x86", LYN + "\\x86", LYN + "\\x86\\x64", LYN + "\\x86\\x86"};

// One path is a reparse point or unreadable; Wine reports no reparse tag, so the seams do.
struct Row {  // lines: of that path, after "get attributes of"
  const char* name; std::string path; DWORD attributesError, findError, tag; int result; size_t examined; Lines lines;
};
const Row* g_row = nullptr;

DWORD WINAPI FakeAttributes(LPCWSTR path) {
  if (Narrow(path) != g_row->path) return GetFileAttributesW(path);
  SetLastError(g_row->attributesError);
  return g_row->attributesError ? INVALID_FILE_ATTRIBUTES : FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
}

HANDLE WINAPI FakeFind(LPCWSTR, LPWIN32_FIND_DATAW data) {
  // A real search that holds the folder open (a wildcard one: Wine closes a plain name's at once) until closed.
  HANDLE search = g_row->findError ? INVALID_HANDLE_VALUE : FindFirstFileW(L"C:\\Windows\\*", data);
  data->dwReserved0 = g_row->tag;
  SetLastError(g_row->findError);
  return search;
}

}  // namespace

// On a machine without the product, each row makes one path fail or pass on its own terms.
TEST(JunctionCheck, FirstFailingPathEndsTheCheck) {
  const std::string J = "Junction check : ", A = J + "attributes : 410", R = J + "Directory is a REPARSE POINT",
                    kJunction = J + "Directory is a junction. Abort installation : 0";
  const Row rows[] = {
      {"no reparse point", "", 0, 0, 0, 0, 18, {}},
      {"mount point above the install folder", PF, 0, 0, 0xA0000003, -1, 2, {A, R, kJunction, ""}},
      {"directory symbolic link", "C:\\ProgramData", 0, 0, 0xA000000C, -1, 9, {A, R, kJunction, ""}},
      {"tag sharing only the lowest bit", LYN + "\\x86\\x86", 0, 0, 0x00000001, -1, 18, {A, R, kJunction, ""}},
      {"tag sharing no bit", PD + "\\LYN\\Logs", 0, 0, 0x4000000C, 0, 18, {A, R}},
      {"reparse point not found", "C:\\Program Files", 0, ERROR_FILE_NOT_FOUND, 0, 0, 18,
       {A, R, "FindFirstFile failed for ERROR_FILE_NOT_FOUND(2)", ""}},
      {"reparse point not listable", PD + "\\LYN\\Policy", 0, ERROR_ACCESS_DENIED, 0, -1, 6,
       {A, R, "FindFirstFile failed (5)", ""}},
      {"attributes unreadable", LYN + "\\en", ERROR_ACCESS_DENIED, 0, 0, -1, 12, {J + "ERROR_INVALID_PARAMETER : 5"}},
  };
  RemoveTree(Widen(PF));
  RemoveTree(Widen(PD));
  ScopedSeam attributes(junction_seams::getFileAttributes, &FakeAttributes);
  ScopedSeam find(junction_seams::findFirstFile, &FakeFind);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    g_row = &row;
    std::vector<std::string> expected = {"CheckJunction : Start", ""};
    for (size_t i = 0; i < row.examined; ++i) {
      const std::string& path = kExamined[i];
      expected.push_back(J + "get attributes of: " + path);
      if (path == row.path) expected.insert(expected.end(), row.lines.begin(), row.lines.end());
      else if (path.find("Norvale") == std::string::npos) expected.push_back(J + "attributes : 10");
      else  // missing: "file not found" right under an existing folder, "path not found" deeper
        expected.push_back(J + "ERROR_PATH_NOT_FOUND : " + (path == PF || path == PD ? "2" : "3"));
    }
    if (row.result == 0) expected.insert(expected.end(), {"CheckJunction : End", ""});
    BothLogs logs;
    EXPECT_EQ(logs.Run([] { return CheckJunction(12345); }), row.result);  // the installer handle plays no part
    EXPECT_EQ(logs.Lines(), expected);
  }
}
