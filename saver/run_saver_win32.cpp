#include <windows.h>

#include <string>

#include "saver/modes.h"
#include "saver/run_saver_win32.h"
#include "util/messages.h"
#include "util/raii_win32.h"
#include "util/utils_win32.h"

void RunSaverProcess() {
  STARTUPINFOA si;
  ZeroMemory(&si, sizeof si);
  si.cb = sizeof si;
  GetStartupInfoA(&si);
  si.cb = sizeof si;

  const std::string path = ExecutablePath();
  if (path.empty()) return;
  // Quoted, so that a saver in a folder with blanks starts itself and not
  // whatever program the first word of its path names.
  std::string commandLine = "\"" + path + "\" /E";

  TProcessInformation pi;
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                      &pi))
    return;
  // Keep this thread's windows answering while the saver runs.
  while (WaitForSingleObject(pi.hProcess, 100) == WAIT_TIMEOUT) {
    ProcessPendingMessages();
    Sleep(100);
  }
}

void RunStartupCheck() {
  if (GetModeLetter() != 'S') return;
  RunSaverProcess();
  ExitProcess(0);
}
