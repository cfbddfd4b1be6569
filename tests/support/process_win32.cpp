#include "tests/support/process_win32.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <utility>
#include <vector>

#include "tests/support/message_pump_win32.h"
#include "util/utils_win32.h"

std::string ExeDir() {
  const std::string s = ExecutablePath();
  return s.substr(0, s.find_last_of('\\') + 1);
}

namespace {

// The folders this test program made, removed with everything in them when
// it ends, so the prefix's temporary directory holds only what a program
// under test failed to remove.
struct TMadeTempDirs {
  std::vector<std::string> Dirs;
  ~TMadeTempDirs() {
    for (const std::string& d : Dirs) {
      std::error_code ignored;
      std::filesystem::remove_all(std::filesystem::path(d), ignored);
    }
  }
};
TMadeTempDirs& MadeTempDirs() {
  static TMadeTempDirs dirs;
  return dirs;
}

}  // namespace

std::string MakeTempDir(const std::string& Prefix) {
  char tmp[MAX_PATH];
  GetTempPathA(MAX_PATH, tmp);
  std::random_device rd;
  for (;;) {
    std::string dir = std::string(tmp) + Prefix + std::to_string(rd() % 1000000);
    if (CreateDirectoryA(dir.c_str(), nullptr)) {
      MadeTempDirs().Dirs.push_back(dir);
      return dir + "\\";
    }
  }
}

std::string ReadTextFile(const std::string& Path) {
  std::ifstream f(Path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

bool FileExists(const std::string& Path) { return GetFileAttributesA(Path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool StartProcess(const std::string& CommandLine, TUniqueHandle* Process, DWORD* ProcessId) {
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::string cmd = CommandLine;
  if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
  const TUniqueHandle thread(pi.hThread);
  TUniqueHandle process(pi.hProcess);
  if (Process) *Process = std::move(process);
  if (ProcessId) *ProcessId = pi.dwProcessId;
  return true;
}

TStartedProcess::TStartedProcess(const std::string& CommandLine) { StartProcess(CommandLine, &FProcess, &FProcessId); }

TStartedProcess::~TStartedProcess() { Kill(); }

bool TStartedProcess::Running() const {
  return FProcess && WaitForSingleObject(FProcess.Get(), 0) == WAIT_TIMEOUT;
}

bool TStartedProcess::WaitExit(DWORD TimeoutMs) const {
  return PumpUntil([&] { return !Running(); }, TimeoutMs);
}

DWORD TStartedProcess::ExitCode() const {
  DWORD code = STILL_ACTIVE;
  if (FProcess) GetExitCodeProcess(FProcess.Get(), &code);
  return code;
}

void TStartedProcess::Kill() {
  if (!Running()) return;
  TerminateProcess(FProcess.Get(), 99);
  WaitForSingleObject(FProcess.Get(), 5000);
}

TProcessResult RunProcess(const std::string& CommandLine, DWORD TimeoutMs) {
  TProcessResult r;
  TUniqueHandle process;
  if (!StartProcess(CommandLine, &process)) return r;
  r.Started = true;
  if (WaitForSingleObject(process.Get(), TimeoutMs) == WAIT_TIMEOUT) {
    r.TimedOut = true;
    TerminateProcess(process.Get(), 99);
    WaitForSingleObject(process.Get(), 5000);
  }
  GetExitCodeProcess(process.Get(), &r.ExitCode);
  return r;
}
