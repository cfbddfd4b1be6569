// A timer whose ticks arrive as WM_TIMER on the GUI thread, through a hidden
// message-only window of its own. OnTimer runs inside the message loop, so
// it never runs while another handler of the GUI thread is busy; an
// exception it raises goes to the application's exception sink.
#pragma once
#include <windows.h>

#include <cstdint>

#include "framework/component.h"
#include "util/raii_win32.h"

class TMessageTimer : public TComponent {
 public:
  explicit TMessageTimer(TComponent* AOwner);

  // The timer runs while Enabled, Interval is not 0 and OnTimer is set.
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool Value);
  // Milliseconds between ticks.
  uint32_t Interval() const { return FInterval; }
  void SetInterval(uint32_t Value);
  void SetOnTimer(TNotifyEvent Value);

 protected:
  ~TMessageTimer() override;
  // Fires OnTimer.
  virtual void Timer();

 private:
  static LRESULT CALLBACK TimerWindowProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) noexcept;
  void UpdateTimer();

  TUniqueWindow FWindow;
  // After the window: it goes first.
  TWindowTimer FTimer;
  bool FEnabled = true;
  uint32_t FInterval = 1000;
  TNotifyEvent FOnTimer;
};
