// A plain message loop for tests whose windows live on the test's thread.
#pragma once
#include <windows.h>

#include <functional>

// Handles this thread's messages until Done() holds (when given) or TimeoutMs
// has passed; returns whether Done() held.
inline bool PumpUntil(const std::function<bool()>& Done, DWORD TimeoutMs = 10000) {
  const ULONGLONG end = GetTickCount64() + TimeoutMs;
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (Done && Done()) return true;
    if (GetTickCount64() >= end) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
}

// Handles this thread's messages for Ms.
inline void PumpFor(DWORD Ms) { PumpUntil(nullptr, Ms); }
