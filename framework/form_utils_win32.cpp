#include "framework/form_utils_win32.h"

#include <vector>

BOOL SetTopMost(HWND Wnd, UINT ExtraFlags) {
  return SetWindowPos(Wnd, HWND_TOPMOST, 0, 0, 0, 0, ExtraFlags | SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
}

BOOL SetControlTopMost(HWND Wnd, UINT ExtraFlags) { return SetTopMost(Wnd, ExtraFlags); }

bool IsTopMostUncovered(HWND Wnd) {
  if (!(GetWindowLongW(Wnd, GWL_EXSTYLE) & WS_EX_TOPMOST)) return false;
  // Hidden windows above it cover nothing.
  for (HWND above = GetWindow(Wnd, GW_HWNDPREV); above; above = GetWindow(above, GW_HWNDPREV))
    if (IsWindowVisible(above)) return false;
  return true;
}

namespace {

TRect FromRect(const RECT& R) { return {R.left, R.top, R.right, R.bottom}; }

BOOL CALLBACK AddMonitor(HMONITOR Monitor, HDC, LPRECT Bounds, LPARAM Data) noexcept {
  try {
    reinterpret_cast<std::vector<TMonitor>*>(Data)->push_back({Monitor, FromRect(*Bounds)});
    return TRUE;
  } catch (...) {
    return FALSE;  // out of memory: the monitors found so far
  }
}

}  // namespace

std::vector<TMonitor> Monitors() {
  std::vector<TMonitor> list;
  EnumDisplayMonitors(nullptr, nullptr, AddMonitor, reinterpret_cast<LPARAM>(&list));
  return list;
}

TRect VirtualDesktop() {
  const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
  const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
  return {left, top, left + GetSystemMetrics(SM_CXVIRTUALSCREEN), top + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
}

void ClampToWorkArea(int32_t& Width, int32_t& Height, int32_t FrameWidth, int32_t FrameHeight) {
  std::vector<TRect> areas;
  for (const TMonitor& monitor : Monitors()) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (GetMonitorInfoA(monitor.Handle, &info)) areas.push_back(FromRect(info.rcWork));
  }
  ClampToWorkArea(Width, Height, FrameWidth, FrameHeight, areas);
}

void CenterFormInRect(HWND Form, const RECT& Rect) {
  RECT current;
  if (!GetWindowRect(Form, &current)) return;
  const TRect bounds = CenterFormInRect(current.right - current.left, current.bottom - current.top, FromRect(Rect));
  SetWindowPos(Form, nullptr, bounds.Left, bounds.Top, bounds.Width(), bounds.Height(),
               SWP_NOZORDER | SWP_NOACTIVATE);
}
