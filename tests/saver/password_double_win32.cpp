// A stand-in for the Windows 9x screen-saver password services, for the host
// component's tests. Copied beside a probe as "Password.CPL" it answers the
// password check; named as the change library it answers the change. It
// shows nothing. Each call appends a line to the file named by PL_PROBE_LOG:
//   verify focus=0|1 cursor=N result=0|1   (focus: a window was passed;
//                                           cursor: the pointer's display counter)
//   change provider=TEXT window=0|1 a=N b=N
// PL_PASSWORD_REJECTS: how many checks still fail (counted down in the
// process's environment, which outlives each load of this library).
// PL_PASSWORD_CHANGE_RESULT: what the change returns (default 0).
#include <windows.h>

#include <cstdlib>
#include <string>

#include "tests/support/probe_log_win32.h"

namespace {

void Log(const std::string& Line) { ProbeLog("PL_PROBE_LOG", Line); }

}  // namespace

extern "C" __declspec(dllexport) BOOL WINAPI VerifyScreenSavePwd(HWND Wnd) {
  const int rejects = std::atoi(ProbeEnv("PL_PASSWORD_REJECTS").c_str());
  const BOOL result = rejects > 0 ? FALSE : TRUE;
  if (rejects > 0) SetEnvironmentVariableA("PL_PASSWORD_REJECTS", std::to_string(rejects - 1).c_str());
  const int shown = ShowCursor(TRUE);
  ShowCursor(FALSE);
  Log("verify focus=" + std::to_string(Wnd != nullptr ? 1 : 0) + " cursor=" + std::to_string(shown - 1) +
      " result=" + std::to_string(result));
  return result;
}

extern "C" __declspec(dllexport) DWORD WINAPI PwdChangePasswordA(LPCSTR Provider, HWND Wnd, DWORD A, DWORD B) {
  Log(std::string("change provider=") + (Provider ? Provider : "(null)") +
      " window=" + std::to_string(IsWindow(Wnd) ? 1 : 0) + " a=" + std::to_string(A) + " b=" + std::to_string(B));
  return static_cast<DWORD>(std::atoi(ProbeEnv("PL_PASSWORD_CHANGE_RESULT").c_str()));
}
