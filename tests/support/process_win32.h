// Starting and inspecting processes from Windows tests.
#pragma once
#include <windows.h>

#include <string>

#include "util/raii_win32.h"

// The folder of the running test executable, with a trailing backslash.
std::string ExeDir();
// A fresh folder under the temporary directory (name may hold blanks),
// removed with its contents when the test program ends.
std::string MakeTempDir(const std::string& Prefix);
std::string ReadTextFile(const std::string& Path);
bool FileExists(const std::string& Path);

// The one way the tests start a program: CommandLine as CreateProcess takes
// it (a Windows program, or a host program by its Unix path), this process's
// environment and folder. False when it could not be started; Process and
// ProcessId, when given, receive its handle and id. Wine gives no handle to
// wait on for a host program: wait for its effect instead.
bool StartProcess(const std::string& CommandLine, TUniqueHandle* Process = nullptr, DWORD* ProcessId = nullptr);

// A program this test started; the destructor kills it (and waits for it) if
// it still runs.
class TStartedProcess {
 public:
  explicit TStartedProcess(const std::string& CommandLine);
  ~TStartedProcess();
  TStartedProcess(const TStartedProcess&) = delete;
  TStartedProcess& operator=(const TStartedProcess&) = delete;

  bool Started() const { return static_cast<bool>(FProcess); }
  DWORD ProcessId() const { return FProcessId; }
  bool Running() const;
  // Waits up to TimeoutMs for the end, handling this thread's messages
  // meanwhile: a window of this thread may be the parent of one of the
  // program's windows, and such a parent must keep answering.
  bool WaitExit(DWORD TimeoutMs = 10000) const;
  // The exit code; 259 (STILL_ACTIVE) while it runs.
  DWORD ExitCode() const;
  void Kill();

 private:
  TUniqueHandle FProcess;
  DWORD FProcessId = 0;
};

struct TProcessResult {
  bool Started = false;
  bool TimedOut = false;
  DWORD ExitCode = 0;
};
// Runs CommandLine and waits up to TimeoutMs; a process still running then is killed.
TProcessResult RunProcess(const std::string& CommandLine, DWORD TimeoutMs = 30000);
