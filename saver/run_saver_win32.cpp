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

  // The copy stands in for this process: it starts with this process's
  // start-up information (its show state, desktop and standard handles) and
  // inherits its inheritable handles, so it gets whatever the caller handed
  // to this process.
  TProcessInformation pi;
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                      &pi))
    return;
  // This process ends only when the copy has ended, so a caller that waits
  // for it waits for the whole run. It waits in steps and serves its
  // messages in between: a thread that waits without reading its queue
  // holds up every program that sends it a message (a broadcast).
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
