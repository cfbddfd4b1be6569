#include "saver/thread_timer_win32.h"

#include <algorithm>

#include "framework/controls_win32.h"
#include "util/messages.h"
#include "util/raii_win32.h"

namespace {

constexpr wchar_t kSyncWindowClass[] = L"PlThreadTimerSync";
// lParam: the std::function<void()> to run.
constexpr UINT kRunSynchronized = WM_APP + 1;

LRESULT CALLBACK SyncWindowProc(HWND Wnd, UINT Msg, WPARAM W, LPARAM L) noexcept {
  if (Msg == kRunSynchronized) {
    try {
      (*reinterpret_cast<const std::function<void()>*>(L))();
    } catch (...) {
      // Must not unwind through the window procedure.
    }
    return 0;
  }
  return DefWindowProcW(Wnd, Msg, W, L);
}

int WindowsPriority(TThreadPriority Priority) {
  switch (Priority) {
    case TThreadPriority::Idle: return THREAD_PRIORITY_IDLE;
    case TThreadPriority::Lowest: return THREAD_PRIORITY_LOWEST;
    case TThreadPriority::Lower: return THREAD_PRIORITY_BELOW_NORMAL;
    case TThreadPriority::Normal: return THREAD_PRIORITY_NORMAL;
    case TThreadPriority::Higher: return THREAD_PRIORITY_ABOVE_NORMAL;
    case TThreadPriority::Highest: return THREAD_PRIORITY_HIGHEST;
    case TThreadPriority::TimeCritical: return THREAD_PRIORITY_TIME_CRITICAL;
  }
  return THREAD_PRIORITY_NORMAL;
}

class TWin32TimerHost final : public ITimerHost {
 public:
  explicit TWin32TimerHost(HWND Owner) : FOwner(Owner), FGuiThread(GetCurrentThreadId()) {
    // A class the system refuses leaves no window: see Synchronize.
    if (RegisterOwnWindowClass(kSyncWindowClass, SyncWindowProc))
      FSyncWindow.Reset(CreateWindowExW(0, kSyncWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                        GetModuleHandleW(nullptr), nullptr));
  }

  void Synchronize(const std::function<void()>& Fn) override {
    if (GetCurrentThreadId() == FGuiThread) {
      Fn();
      return;
    }
    // Without the window the GUI thread cannot be reached; the tick is lost
    // rather than run on the wrong thread.
    if (FSyncWindow) SendMessageW(FSyncWindow.Get(), kRunSynchronized, 0, reinterpret_cast<LPARAM>(&Fn));
  }

  bool HasOwner() const override { return FOwner != nullptr; }

  void PostTimerMessage(uint32_t Message) override {
    // At most one timer message waits, as far as this thread's queue shows.
    MSG waiting;
    if (PeekMessageA(&waiting, FOwner, Message, Message, PM_NOREMOVE)) return;
    PostMessageA(FOwner, Message, 0, 0);
  }

  // The worker creates no windows and its id goes to nobody: its ticks'
  // pumps need not ask the system for messages that cannot come.
  void WorkerStarting() override { MarkThreadWithoutMessages(); }

  void ApplyPriority(TThreadPriority Priority) override {
    SetThreadPriority(GetCurrentThread(), WindowsPriority(Priority));
  }

  void ProcessPendingMessages() override {
    ::ProcessPendingMessages();
    // Wake as soon as anything arrives rather than spinning.
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
  }

  void ServeSynchronizeCalls() override {
    // Any peek delivers the messages sent to this thread's windows; posted
    // ones stay queued for the message loop.
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_SENDMESSAGE);
  }

 private:
  HWND FOwner;
  DWORD FGuiThread;
  TUniqueWindow FSyncWindow;
};

}  // namespace

std::unique_ptr<ITimerHost> MakeWin32TimerHost(HWND Owner) { return std::make_unique<TWin32TimerHost>(Owner); }

std::unique_ptr<ITimerHost> MakeDefaultTimerHost() { return MakeWin32TimerHost(nullptr); }

struct TWorkerSleep::TState {
  SRWLOCK Lock = SRWLOCK_INIT;
  CONDITION_VARIABLE Changed = CONDITION_VARIABLE_INIT;
  bool WakeCalled = false;  // guarded by Lock
};

TWorkerSleep::TWorkerSleep() : FState(std::make_unique<TState>()) {}
TWorkerSleep::~TWorkerSleep() = default;

void TWorkerSleep::SleepUntil(std::chrono::steady_clock::time_point Deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(Deadline - std::chrono::steady_clock::now());
  if (left.count() <= 0) return;
  const DWORD ms = static_cast<DWORD>(std::min<int64_t>(left.count(), INFINITE - 1));
  TSrwExclusive hold(FState->Lock);
  // One wait at most: a wake-up, the time running out and a spurious return
  // all send the caller back to its flags and the clock.
  if (!FState->WakeCalled) SleepConditionVariableSRW(&FState->Changed, &FState->Lock, ms, 0);
  FState->WakeCalled = false;
}

void TWorkerSleep::Wake() {
  {
    TSrwExclusive hold(FState->Lock);
    FState->WakeCalled = true;
  }
  WakeConditionVariable(&FState->Changed);
}
