// The least a full-screen saver can cost while it waits: one topmost window
// over the whole virtual desktop that does nothing until a key or a mouse
// button ends it. The saver's own cost while it saves is measured against it.
#include <windows.h>

#include "util/raii_win32.h"

namespace {

LRESULT CALLBACK FloorWindowProc(HWND Wnd, UINT Msg, WPARAM W, LPARAM L) noexcept {
  switch (Msg) {
    case WM_KEYDOWN:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(Wnd, Msg, W, L);
}

}  // namespace

int WINAPI WinMain(HINSTANCE Instance, HINSTANCE, LPSTR, int) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = FloorWindowProc;
  wc.hInstance = Instance;
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  wc.lpszClassName = L"PlSteadyFloor";
  if (!RegisterClassW(&wc)) return 1;
  const TUniqueWindow wnd(CreateWindowExW(WS_EX_TOPMOST, wc.lpszClassName, L"steady floor", WS_POPUP,
                                          GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN),
                                          GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN),
                                          nullptr, nullptr, Instance, nullptr));
  if (!wnd) return 1;
  ShowWindow(wnd.Get(), SW_SHOW);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  return 0;
}
