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


// A busy machine can lose or delay a move: ask again before giving up.
bool MovePointer(int X, int Y) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    Xdotool("mousemove " + std::to_string(X) + " " + std::to_string(Y));
    if (PumpUntil([&] {
          POINT p;
          return GetCursorPos(&p) && p.x == X && p.y == Y;
        }))
      return true;
  }
  return false;
}

POINT CentreOf(HWND Wnd) {
  RECT r{};
  GetWindowRect(Wnd, &r);
  return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}
