// Machine-state helpers for the housekeeping tests: whole registry trees and
// single files put back exactly as they were, environment variables, and a
// second process that holds a file open.
#pragma once

#include <windows.h>

#include <memory>

#include "support/TestSupport.h"
#include <string>
#include <vector>

namespace testsupport {

// Captures a registry key tree (values and subkeys, in the given view) and
// puts it back when the scope ends: removed again when it did not exist.
class RegistryTreeSnapshot {
 public:
  RegistryTreeSnapshot(HKEY root, std::wstring subKey, REGSAM view);
  ~RegistryTreeSnapshot();
  RegistryTreeSnapshot(const RegistryTreeSnapshot&) = delete;
  RegistryTreeSnapshot& operator=(const RegistryTreeSnapshot&) = delete;

  struct Value {
    std::wstring name;
    DWORD type;
    std::string data;
  };
  struct Tree {
    bool exists = false;
    std::vector<Value> values;
    std::vector<std::pair<std::wstring, Tree>> subKeys;
  };

 private:
  HKEY m_root;
  std::wstring m_subKey;
  REGSAM m_view;
  Tree m_tree;
};

// Deletes a key tree in one view now (for arranging a test).
void RegDeleteTreeInView(HKEY root, const std::wstring& subKey, REGSAM view);

// Captures one file's content (or its absence) and puts it back when the scope ends.
class FileSnapshot {
 public:
  explicit FileSnapshot(std::wstring path);
  ~FileSnapshot();
  FileSnapshot(const FileSnapshot&) = delete;
  FileSnapshot& operator=(const FileSnapshot&) = delete;

 private:
  std::wstring m_path;
  bool m_existed;
  std::string m_bytes;
};


// Another process (standins/holder/FileHolder.exe) holding a file open with
// no sharing at all until Release() or the end of the scope.
class FileHeldByOtherProcess {
 public:
  explicit FileHeldByOtherProcess(const std::wstring& path);
  ~FileHeldByOtherProcess();
  FileHeldByOtherProcess(const FileHeldByOtherProcess&) = delete;
  FileHeldByOtherProcess& operator=(const FileHeldByOtherProcess&) = delete;
  // True once the other process has the file open.
  bool holding() const { return m_holding; }
  // Lets the other process close the file and end; its exit code (0 when it held the file throughout).
  DWORD Release();

 private:
  HANDLE m_ready = nullptr;
  HANDLE m_release = nullptr;
  PROCESS_INFORMATION m_process = {};
  bool m_holding = false;
  bool m_released = false;
  DWORD m_exitCode = 0;
};

// Everything the housekeeping actions may change on the machine, captured at
// construction and put back at the end of the scope: the product's, the tray
// application's and the tray plug-in's registry trees in both views, the two
// policy backups under the Windows folder, and the test's own folder under
// C:\ProgramData (HousekeepingTestRoot), which is removed.
class HousekeepingMachineState {
 public:
  HousekeepingMachineState();
  ~HousekeepingMachineState();

 private:
  std::vector<std::unique_ptr<RegistryTreeSnapshot>> m_trees;
  std::vector<std::unique_ptr<FileSnapshot>> m_files;
};

// C:\ProgramData\IHHousekeeping (no trailing backslash).
std::wstring HousekeepingTestRoot();
// The Windows folder as the system reports it, no trailing backslash.
std::wstring WindowsFolder();

}  // namespace testsupport
