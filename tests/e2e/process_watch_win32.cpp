// e2e_process_watch: reports how a Windows process ends. The full-screen
// copy a saver starts with "/E" is no child of the test driver, so its exit
// code is only visible from inside Wine.
//
//   e2e_process_watch PID [SECONDS]
//
// Prints "watching" once it holds the process, then "exit <code>", or
// "timeout" after SECONDS (default 60), or "gone" when no such process runs.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "util/raii_win32.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: e2e_process_watch PID [SECONDS]\n");
    return 2;
  }
  const DWORD pid = static_cast<DWORD>(std::strtoul(argv[1], nullptr, 10));
  const DWORD ms = argc > 2 ? static_cast<DWORD>(std::atof(argv[2]) * 1000) : 60000;
  const TUniqueHandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) {
    std::printf("gone\n");
    return 0;
  }
  std::printf("watching\n");
  std::fflush(stdout);
  if (WaitForSingleObject(process.Get(), ms) != WAIT_OBJECT_0) {
    std::printf("timeout\n");
  } else {
    DWORD code = 0;
    GetExitCodeProcess(process.Get(), &code);
    std::printf("exit %lu\n", static_cast<unsigned long>(code));
  }
  std::fflush(stdout);
  return 0;
}
