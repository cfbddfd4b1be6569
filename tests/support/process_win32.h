// Starting and inspecting processes from Windows tests.
#pragma once
#include <windows.h>

#include <string>

// The folder of the running test executable, with a trailing backslash.
std::string ExeDir();
// A fresh folder under the temporary directory (name may hold blanks).
std::string MakeTempDir(const std::string& Prefix);
std::string ReadTextFile(const std::string& Path);
bool FileExists(const std::string& Path);

struct TProcessResult {
  bool Started = false;
  bool TimedOut = false;
  DWORD ExitCode = 0;
};
// Runs CommandLine and waits up to TimeoutMs; a process still running then is killed.
TProcessResult RunProcess(const std::string& CommandLine, DWORD TimeoutMs = 30000);
