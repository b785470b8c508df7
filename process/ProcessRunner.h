// Runs one external program from a complete command line, hidden, and waits
// for it; its standard output and error can be captured into a file.
#pragma once

#include <windows.h>
#include <msi.h>

#include <string>

#include "frame/Seam.h"

// 1 when the child started, ran to its end and exited with 0 or 0xFFFFFFFE
// (-2); 0 otherwise. With redirectOutput the child's standard output and error
// go to outputFile, which is opened without truncation; otherwise the child
// gets no standard handles and outputFile is not touched.
int CreateAndExecuteCmdLineProcessWithOutputToFile(MSIHANDLE hInstall, const wchar_t* commandLine,
                                                   const wchar_t* outputFile, bool redirectOutput);

inline int CreateAndExecuteCmdLineProcessWithOutputToFile(MSIHANDLE hInstall, const std::wstring& commandLine,
                                                          const std::wstring& outputFile, bool redirectOutput) {
  return CreateAndExecuteCmdLineProcessWithOutputToFile(hInstall, commandLine.c_str(), outputFile.c_str(),
                                                        redirectOutput);
}

// Reading the exit code cannot be made to fail through the real API.
namespace runner_seams {
extern Seam<BOOL(WINAPI*)(HANDLE, LPDWORD)> getExitCodeProcess;
}
