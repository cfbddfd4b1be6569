// Placing real windows: the monitors and the virtual desktop, topmost
// without moving or activating, a client size that fits every monitor,
// centring in a rectangle.
#pragma once
#include <windows.h>

#include <cstdint>
#include <vector>

#include "framework/form_utils.h"

struct TMonitor {
  HMONITOR Handle = nullptr;
  TRect Bounds;  // the whole monitor, in virtual-desktop coordinates
};
// Every monitor of the system, in the system's enumeration order.
std::vector<TMonitor> Monitors();
// The rectangle around every monitor (the virtual desktop).
TRect VirtualDesktop();

// SetWindowPos to HWND_TOPMOST with ExtraFlags | SWP_NOSIZE | SWP_NOMOVE |
// SWP_NOACTIVATE; its result.
BOOL SetTopMost(HWND Wnd, UINT ExtraFlags);
// The same for a control's window (the caller makes sure it exists).
BOOL SetControlTopMost(HWND Wnd, UINT ExtraFlags);
// Whether SetTopMost would leave Wnd where it is: Wnd is topmost and no
// visible window lies above it.
bool IsTopMostUncovered(HWND Wnd);
// ClampToWorkArea over the work areas of every monitor of the system.
void ClampToWorkArea(int32_t& Width, int32_t& Height, int32_t FrameWidth, int32_t FrameHeight);
// Moves Form, keeping its size, to the centre of Rect (coordinates of its
// parent, or of the screen for a top-level window).
void CenterFormInRect(HWND Form, const RECT& Rect);
