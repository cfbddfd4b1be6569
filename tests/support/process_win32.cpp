#include "tests/support/process_win32.h"

#include <fstream>
#include <random>
#include <sstream>

#include "util/raii_win32.h"

std::string ExeDir() {
  char path[MAX_PATH * 4];
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string s(path, n);
  return s.substr(0, s.find_last_of('\\') + 1);
}

std::string MakeTempDir(const std::string& Prefix) {
  char tmp[MAX_PATH];
  GetTempPathA(MAX_PATH, tmp);
  std::random_device rd;
  for (;;) {
    std::string dir = std::string(tmp) + Prefix + std::to_string(rd() % 1000000);
    if (CreateDirectoryA(dir.c_str(), nullptr)) return dir + "\\";
  }
}

std::string ReadTextFile(const std::string& Path) {
  std::ifstream f(Path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

bool FileExists(const std::string& Path) { return GetFileAttributesA(Path.c_str()) != INVALID_FILE_ATTRIBUTES; }

TProcessResult RunProcess(const std::string& CommandLine, DWORD TimeoutMs) {
  TProcessResult r;
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::string cmd = CommandLine;
  if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return r;
  TUniqueHandle process(pi.hProcess), thread(pi.hThread);
  r.Started = true;
  if (WaitForSingleObject(process.Get(), TimeoutMs) == WAIT_TIMEOUT) {
    r.TimedOut = true;
    TerminateProcess(process.Get(), 99);
    WaitForSingleObject(process.Get(), 5000);
  }
  GetExitCodeProcess(process.Get(), &r.ExitCode);
  return r;
}
