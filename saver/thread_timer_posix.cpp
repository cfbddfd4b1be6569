// The timer's host where there is no GUI thread: ticks run on the worker,
// there is no owner window, priorities stay as the system gives them. The
// worker sleeps on a condition variable.
#include <condition_variable>
#include <mutex>
#include <thread>

#include "saver/thread_timer.h"

namespace {

class TNativeTimerHost final : public ITimerHost {
 public:
  void Synchronize(const std::function<void()>& Fn) override { Fn(); }
  bool HasOwner() const override { return false; }
  void PostTimerMessage(uint32_t) override {}
  void ApplyPriority(TThreadPriority) override {}
  void ProcessPendingMessages() override { std::this_thread::yield(); }
  void ServeSynchronizeCalls() override { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }
};

}  // namespace

std::unique_ptr<ITimerHost> MakeDefaultTimerHost() { return std::make_unique<TNativeTimerHost>(); }

struct TWorkerSleep::TState {
  std::mutex Lock;
  std::condition_variable Woken;
  bool WakePending = false;  // a wake-up call not yet answered by a sleep
};

TWorkerSleep::TWorkerSleep() : FState(std::make_unique<TState>()) {}
TWorkerSleep::~TWorkerSleep() = default;

void TWorkerSleep::SleepUntil(std::chrono::steady_clock::time_point Deadline) {
  std::unique_lock lock(FState->Lock);
  FState->Woken.wait_until(lock, Deadline, [this] { return FState->WakePending; });
  FState->WakePending = false;
}

void TWorkerSleep::Wake() {
  {
    std::lock_guard lock(FState->Lock);
    FState->WakePending = true;
  }
  FState->Woken.notify_one();
}
