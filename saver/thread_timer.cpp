#include "saver/thread_timer.h"

#include <chrono>
#include <system_error>

#include "util/raii.h"

namespace {

std::atomic<bool> gApplicationTerminating{false};
std::atomic<bool> gTimerUnitFinalized{false};

// At program end every worker loop still running ends.
struct TTimerUnitFinalizer {
  ~TTimerUnitFinalizer() { FinalizeThreadTimers(); }
} gTimerUnitFinalizer;

constexpr double kMillisecondsPerDay = 86400000.0;

}  // namespace

TDateTime AddMilliseconds(TDateTime DateTime, double Milliseconds) {
  return (DateTime * kMillisecondsPerDay + Milliseconds) / kMillisecondsPerDay;
}

void SetTimersApplicationTerminating(bool Terminating) { gApplicationTerminating = Terminating; }

void FinalizeThreadTimers() { gTimerUnitFinalized = true; }

TThreadTimer::TThreadTimer(std::unique_ptr<ITimerHost> Host)
    : FHost(Host ? std::move(Host) : MakeDefaultTimerHost()) {}

TThreadTimer::~TThreadTimer() {
  // From here on no tick is delivered. Tick marks itself busy before it
  // looks at FDestroying, so either it sees the flag or this loop sees it busy.
  FDestroying = true;
  while (FBusy) FHost->ProcessPendingMessages();
  {
    std::lock_guard lock(FOnTimerLock);
    FOnTimer = nullptr;
  }
  WakeWorker(FTerminated);
  if (FThread.joinable()) {
    // The worker may be blocked handing a tick to this (GUI) thread; serve it
    // (the tick sees FDestroying and returns) so the worker can see the request.
    while (FRunning) FHost->ServeSynchronizeCalls();
    FThread.join();
  }
}

void TThreadTimer::SetEnabled(bool Value) {
  const bool effective = Value && FInterval > 0;
  if (effective == FEnabled) return;
  FEnabled = effective;
  // The first change starts the worker; disabling never stops it again.
  // A handler on the worker calls this too (the saver's tick does): it
  // reads the atomic flag, never FThread, which the starting thread writes
  // after the worker is already running.
  if (!FDestroying && !FWorkerStarted.exchange(true)) {
    try {
      FThread = std::thread([this] { Execute(); });
    } catch (const std::system_error&) {
      // No thread to be had: the timer stays without ticks, like a
      // disabled one, rather than raising into the caller; the next change
      // tries again.
      FWorkerStarted = false;
    }
  }
}

void TThreadTimer::SetInterval(int32_t Value) {
  if (Value < 10) Value = 10;
  if (Value != FInterval) FInterval = Value;
}

void TThreadTimer::SetPriority(TThreadPriority Value) {
  FPriority = Value;
  WakeWorker(FPriorityChanged);
}

void TThreadTimer::WakeWorker(std::atomic<bool>& Flag) {
  // The worker either sees the flag before it sleeps, or its sleep ends.
  Flag = true;
  FSleep.Wake();
}

void TThreadTimer::SetOnTimer(TNotifyEvent Handler) {
  std::lock_guard lock(FOnTimerLock);
  FOnTimer = std::move(Handler);
}

void TThreadTimer::Execute() {
  FRunning = true;
  FPriorityChanged = false;
  FHost->WorkerStarting();
  FHost->ApplyPriority(FPriority);
  while (!FTerminated && !gTimerUnitFinalized && !gApplicationTerminating) {
    // A monotonic clock: a change of the wall clock must not stall or rush
    // the ticks.
    WaitUntil(std::chrono::steady_clock::now() + std::chrono::milliseconds(FInterval.load()));
    if (FTerminated) continue;
    if (!FEnabled) continue;
    try {
      if (FUseSyncronize)
        FHost->Synchronize([this] { Tick(); });
      else
        Tick();
    } catch (...) {
      // Nothing may leave the thread; a failed tick is just a lost tick.
    }
  }
  FRunning = false;
}

void TThreadTimer::WaitUntil(std::chrono::steady_clock::time_point Target) {
  while (!FTerminated) {
    if (FPriorityChanged.exchange(false)) {
      FHost->ApplyPriority(FPriority);
      continue;
    }
    // Woken early (a wake-up call, or a sleep that rounds short): the tick
    // stays due at Target, so the wait goes on for the time that is left.
    if (std::chrono::steady_clock::now() >= Target) return;
    FSleep.SleepUntil(Target);
    ++FWakes;
  }
}

void TThreadTimer::Tick() {
  // Busy first, then the destroying check: see the destructor.
  if (FBusy.exchange(true)) return;
  const TClearBusy clearBusy(FBusy);
  if (FDestroying) return;
  if (FUseMessage) {
    if (FHost->HasOwner()) FHost->PostTimerMessage(kWmUser + static_cast<uint32_t>(FMessageNo.load()));
    return;
  }
  TNotifyEvent handler;
  {
    std::lock_guard lock(FOnTimerLock);
    handler = FOnTimer;
  }
  if (!handler) return;
  try {
    handler(*this);
  } catch (...) {
    // A handler's failure must not end the worker or cross into the GUI
    // thread's message dispatch; the tick is lost, the timer goes on.
  }
}
