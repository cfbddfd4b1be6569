#include "saver/form_utils_win32.h"

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

BOOL CALLBACK AddWorkArea(HMONITOR Monitor, HDC, LPRECT, LPARAM Data) {
  MONITORINFO info{};
  info.cbSize = sizeof info;
  if (GetMonitorInfoA(Monitor, &info)) {
    reinterpret_cast<std::vector<TRect>*>(Data)->push_back(
        TRect{info.rcWork.left, info.rcWork.top, info.rcWork.right, info.rcWork.bottom});
  }
  return TRUE;
}

}  // namespace

void ClampToWorkArea(int32_t& Width, int32_t& Height, int32_t FrameWidth, int32_t FrameHeight) {
  std::vector<TRect> areas;
  EnumDisplayMonitors(nullptr, nullptr, AddWorkArea, reinterpret_cast<LPARAM>(&areas));
  ClampToWorkArea(Width, Height, FrameWidth, FrameHeight, areas);
}

void CenterFormInRect(HWND Form, const RECT& Rect) {
  RECT current;
  if (!GetWindowRect(Form, &current)) return;
  const TRect bounds = CenterFormInRect(current.right - current.left, current.bottom - current.top,
                                        TRect{Rect.left, Rect.top, Rect.right, Rect.bottom});
  SetWindowPos(Form, nullptr, bounds.Left, bounds.Top, bounds.Width(), bounds.Height(),
               SWP_NOZORDER | SWP_NOACTIVATE);
}
