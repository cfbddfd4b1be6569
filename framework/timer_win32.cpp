#include "framework/timer_win32.h"

#include <exception>

#include "framework/controls_win32.h"

namespace {
constexpr UINT_PTR kTimerId = 1;
}

TMessageTimer::TMessageTimer(TComponent* AOwner) : TComponent(AOwner) {
  if (!RegisterOwnWindowClass(L"PlMessageTimer", TimerWindowProc))
    throw EInvalidOperation("cannot register the timer window class");
  FWindow.Reset(CreateWindowExW(0, L"PlMessageTimer", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                GetModuleHandleW(nullptr), nullptr));
  if (!FWindow) throw EInvalidOperation("cannot create the timer window");
  SetWindowLongPtrW(FWindow.Get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

// The timer goes first, then its window.
TMessageTimer::~TMessageTimer() = default;

LRESULT CALLBACK TMessageTimer::TimerWindowProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) noexcept {
  if (Msg == WM_TIMER && WParam == kTimerId) {
    if (auto* timer = reinterpret_cast<TMessageTimer*>(GetWindowLongPtrW(Wnd, GWLP_USERDATA))) {
      try {
        timer->Timer();
      } catch (...) {
        HandleApplicationException(std::current_exception());
      }
    }
    return 0;
  }
  return DefWindowProcW(Wnd, Msg, WParam, LParam);
}

void TMessageTimer::UpdateTimer() {
  FTimer.Reset();
  if (FEnabled && FInterval != 0 && FOnTimer) FTimer.Set(FWindow.Get(), kTimerId, FInterval);
}

void TMessageTimer::SetEnabled(bool Value) {
  if (ChangeField(FEnabled, Value)) UpdateTimer();
}

void TMessageTimer::SetInterval(uint32_t Value) {
  if (ChangeField(FInterval, Value)) UpdateTimer();
}

void TMessageTimer::SetOnTimer(TNotifyEvent Value) {
  FOnTimer = std::move(Value);
  UpdateTimer();
}

void TMessageTimer::Timer() { CallEvent(FOnTimer, this); }
