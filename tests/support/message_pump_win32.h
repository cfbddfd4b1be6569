// The one message loop of the Windows tests: handle this thread's messages
// until a condition holds or a deadline passes.
#pragma once
#include <windows.h>

#include <functional>

// This thread's waiting messages, translated and dispatched.
inline void DispatchWaitingMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

// One round of this thread's waiting messages: DispatchWaitingMessages by
// default. A test with an application object hands the application's own
// round (TApplication::ProcessMessages), so that forms see their dialog keys
// first and a quit request ends the application; null goes back to the
// default.
using TMessageRound = void (*)();
inline TMessageRound gMessageRound = nullptr;
inline void SetMessageRound(TMessageRound Round) { gMessageRound = Round; }

// Handles this thread's messages until Done() holds (when given) or TimeoutMs
// has passed; returns whether Done() held.
inline bool PumpUntil(const std::function<bool()>& Done, DWORD TimeoutMs = 10000) {
  const ULONGLONG end = GetTickCount64() + TimeoutMs;
  for (;;) {
    if (gMessageRound)
      gMessageRound();
    else
      DispatchWaitingMessages();
    if (Done && Done()) return true;
    if (GetTickCount64() >= end) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
}

// Handles this thread's messages for Ms: for a check that nothing happens
// within that time, never as a wait for something that signals.
inline void PumpFor(DWORD Ms) { PumpUntil(nullptr, Ms); }
