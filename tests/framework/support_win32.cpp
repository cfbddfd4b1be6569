#include "tests/framework/support_win32.h"

POINT CentreOf(HWND Wnd) {
  RECT r{};
  GetWindowRect(Wnd, &r);
  return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}
