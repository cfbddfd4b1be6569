#include "tests/support/xdotool_win32.h"

#include <gtest/gtest.h>
#include <windows.h>

void Xdotool(const std::string& Args) {
  std::string commandLine = "/usr/bin/xdotool " + Args;
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  } else {
    ADD_FAILURE() << "cannot run xdotool " << Args;
  }
}
