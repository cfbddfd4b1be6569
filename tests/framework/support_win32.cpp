#include "tests/framework/support_win32.h"

bool PumpUntil(const std::function<bool()>& Done, DWORD TimeoutMs) {
  const ULONGLONG end = GetTickCount64() + TimeoutMs;
  for (;;) {
    Application->ProcessMessages();
    if (Done()) return true;
    if (GetTickCount64() >= end) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

void Xdotool(const std::string& Args) {
  // Wine starts a Unix program given by its Unix path; its handle cannot be
  // waited for, so callers wait for the effect instead.
  std::string commandLine = "/usr/bin/xdotool " + Args;
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  } else {
    ADD_FAILURE() << "cannot run xdotool";
  }
}

bool MovePointer(int X, int Y) {
  Xdotool("mousemove " + std::to_string(X) + " " + std::to_string(Y));
  return PumpUntil([&] {
    POINT p;
    return GetCursorPos(&p) && p.x == X && p.y == Y;
  });
}

POINT CentreOf(HWND Wnd) {
  RECT r{};
  GetWindowRect(Wnd, &r);
  return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}
