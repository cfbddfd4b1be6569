// A stand-in saver for the relaunch tests: it runs the same start-up check
// as saver.scr, and the copy started with "/E" reports what it saw.
//   PROBE_LOG      file the child appends its findings to
//   PROBE_WINDOW   1: the parent owns a window before the check, and the
//                  child checks that the waiting parent still answers it
//   PROBE_EXIT     exit code of the child (default 0)
//   PROBE_SLEEP_MS how long the child runs (default 0)
//   PROBE_MOVE_SELF 1: the file is renamed before the check, so the copy to
//                  start cannot be found (the running image stays)
#include <windows.h>

#include <cstdlib>
#include <string>

#include "saver/modes.h"
#include "saver/run_saver_win32.h"
#include "tests/support/probe_log_win32.h"
#include "util/utils_win32.h"

namespace {

void Log(const std::string& Line) { ProbeLog("PROBE_LOG", Line); }

constexpr UINT kPing = WM_APP + 5;

LRESULT CALLBACK ProbeWndProc(HWND Wnd, UINT Msg, WPARAM W, LPARAM L) noexcept {
  if (Msg == kPing) return 4242;
  return DefWindowProcA(Wnd, Msg, W, L);
}
}  // namespace

int main() {
  if (ProbeEnv("PROBE_WINDOW") == "1" && ProbeEnv("PROBE_PARENT_HWND").empty()) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = ProbeWndProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "RunSaverProbe";
    RegisterClassA(&wc);
    HWND wnd = CreateWindowA("RunSaverProbe", "probe", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                             wc.hInstance, nullptr);
    // Inherited by the child, which pings the window while the parent waits.
    SetEnvironmentVariableA("PROBE_PARENT_HWND", std::to_string(reinterpret_cast<uintptr_t>(wnd)).c_str());
  }

  if (ProbeEnv("PROBE_MOVE_SELF") == "1") {
    const std::string self = ExecutablePath();
    Log(std::string("moved ") + (MoveFileA(self.c_str(), (self + ".moved").c_str()) ? "1" : "0"));
  }

  RunStartupCheck();  // "/s" ends the process in here

  Log(std::string("letter ") + GetModeLetter());
  Log(std::string("cmdline ") + GetCommandLineA());
  const std::string parent = ProbeEnv("PROBE_PARENT_HWND");
  if (!parent.empty()) {
    DWORD_PTR answer = 0;
    const auto wnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(std::strtoull(parent.c_str(), nullptr, 10)));
    const LRESULT ok = SendMessageTimeoutA(wnd, kPing, 0, 0, SMTO_NORMAL, 5000, &answer);
    Log("ping " + std::to_string(ok != 0 ? answer : 0));
  }
  if (const std::string ms = ProbeEnv("PROBE_SLEEP_MS"); !ms.empty()) Sleep(std::atoi(ms.c_str()));
  Log("child-end");
  return std::atoi(ProbeEnv("PROBE_EXIT").c_str());
}
