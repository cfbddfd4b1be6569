// The timer's host where there is no GUI thread: ticks run on the worker,
// there is no owner window, priorities stay as the system gives them.
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
