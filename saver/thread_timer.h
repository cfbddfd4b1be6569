// A timer whose ticks come from a worker thread of its own, so they keep
// coming while the GUI thread is busy. The worker sleeps until the next tick
// is due; a tick fires OnTimer on the worker, or on the GUI thread
// (UseSyncronize, the worker waits for it), or posts WM_USER + MessageNo to
// the owner window (UseMessage). The worker starts when Enabled first changes
// and loops until the timer is destroyed; disabling only stops the ticks.
//
// Flags shared with the worker are atomics; no locks guard them. The worker's
// sleep (TWorkerSleep) ends at once for a terminate request or a new
// priority. Once the destructor has begun, no tick is delivered: it waits for
// a tick in flight and for the worker to end.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// Local date and time in days since 1899-12-30, the fraction the time of day.
using TDateTime = double;
// DateTime moved by Milliseconds (which may be negative).
TDateTime AddMilliseconds(TDateTime DateTime, double Milliseconds);

// Scheduling priority of the worker, from idle to time-critical.
enum class TThreadPriority : uint8_t { Idle, Lowest, Lower, Normal, Higher, Highest, TimeCritical };

// What the timer needs of the platform beyond std::thread. The Win32 host
// (saver/thread_timer_win32.h) is bound to the GUI thread that creates it.
class ITimerHost {
 public:
  virtual ~ITimerHost() = default;
  // Worker side. Runs Fn on the GUI thread and returns when it has finished.
  virtual void Synchronize(const std::function<void()>& Fn) = 0;
  // Whether there is an owner window to post timer messages to.
  virtual bool HasOwner() const = 0;
  // Posts Message (wParam 0, lParam 0) to the owner window unless one is
  // already waiting in the calling thread's queue.
  virtual void PostTimerMessage(uint32_t Message) = 0;
  // Gives the calling (worker) thread this priority.
  virtual void ApplyPriority(TThreadPriority Priority) = 0;
  // On the worker, once, before its first sleep.
  virtual void WorkerStarting() {}
  // GUI side, while the destructor waits for a tick in flight: let the
  // application process its pending messages (a synchronized tick may be
  // waiting for them), then wait briefly for more.
  virtual void ProcessPendingMessages() = 0;
  // GUI side, while the destructor waits for the worker to end: run the
  // synchronized calls the worker may still be blocked in.
  virtual void ServeSynchronizeCalls() = 0;
};

// The worker's sleep: until a deadline or a wake-up call, whichever comes
// first. A call made while the worker is not asleep ends its next sleep at
// once, so none is lost between the worker's look at its flags and its
// sleep. Each platform has its own: a condition variable of the standard
// library natively; on Windows the system's own on a slim lock, which sleeps
// inside the process, where an event or the POSIX-threads layer's condition
// variable (two kernel waits and a cancellation event) asks the kernel, under
// Wine a round trip to the wineserver per sleep.
class TWorkerSleep {
 public:
  TWorkerSleep();
  ~TWorkerSleep();
  TWorkerSleep(const TWorkerSleep&) = delete;
  TWorkerSleep& operator=(const TWorkerSleep&) = delete;
  // Worker side. May return early; the caller looks at the clock again.
  void SleepUntil(std::chrono::steady_clock::time_point Deadline);
  // Any thread.
  void Wake();

 private:
  struct TState;
  std::unique_ptr<TState> FState;
};

// The host of this platform: the Win32 host without owner window on
// Windows; natively one without GUI thread (Synchronize runs Fn directly).
std::unique_ptr<ITimerHost> MakeDefaultTimerHost();

// Every worker loop ends once the application is terminating (the windowing
// framework sets this when it quits) or the timers are finalised at
// program end. Process-wide.
void SetTimersApplicationTerminating(bool Terminating);
void FinalizeThreadTimers();

class TThreadTimer {
 public:
  using TNotifyEvent = std::function<void(TThreadTimer& Sender)>;
  // The messages posted with UseMessage are WM_USER + MessageNo.
  static constexpr uint32_t kWmUser = 0x0400;

  // Created on the GUI thread; Host null means MakeDefaultTimerHost().
  explicit TThreadTimer(std::unique_ptr<ITimerHost> Host = nullptr);
  ~TThreadTimer();
  TThreadTimer(const TThreadTimer&) = delete;
  TThreadTimer& operator=(const TThreadTimer&) = delete;

  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool Value);
  // Milliseconds between ticks, at least 10 (smaller values become 10); the
  // worker uses a new value from its next wait on.
  int32_t Interval() const { return FInterval; }
  void SetInterval(int32_t Value);
  // A free value for the user, never interpreted.
  int32_t Data() const { return FData; }
  void SetData(int32_t Value) { FData = Value; }
  int32_t MessageNo() const { return FMessageNo; }
  void SetMessageNo(int32_t Value) { FMessageNo = Value; }
  bool UseMessage() const { return FUseMessage; }
  void SetUseMessage(bool Value) { FUseMessage = Value; }
  bool UseSyncronize() const { return FUseSyncronize; }
  void SetUseSyncronize(bool Value) { FUseSyncronize = Value; }
  // The worker takes a new priority at once (its wait is woken for it), or
  // when it starts.
  TThreadPriority Priority() const { return FPriority; }
  void SetPriority(TThreadPriority Value);
  // With UseSyncronize False the handler runs on the worker thread and must
  // be safe there. It must not create windows there: on Windows the worker
  // is a thread without messages (util/messages.h).
  void SetOnTimer(TNotifyEvent Handler);

  // Observation for diagnostics and tests: whether the worker loop runs,
  // and how often its wait has ended (once per interval, plus once for each
  // wake-up call such as a new priority).
  bool WorkerRunning() const { return FRunning; }
  uint64_t WorkerWakes() const { return FWakes; }

 private:
  void Execute();
  // Sleeps until Target or a terminate request, taking a new priority on the way.
  void WaitUntil(std::chrono::steady_clock::time_point Target);
  // Sets Flag and wakes the worker's sleep to look at it.
  void WakeWorker(std::atomic<bool>& Flag);
  void Tick();

  std::unique_ptr<ITimerHost> FHost;
  std::thread FThread;           // not started until Enabled first changes; GUI thread only
  std::atomic<bool> FWorkerStarted{false};  // FThread was given a thread; read by any thread
  std::atomic<bool> FBusy{false};
  std::atomic<int32_t> FData{0};  // read by handlers on the worker
  std::atomic<bool> FEnabled{false};  // also the worker's copy of it
  std::atomic<int32_t> FInterval{100};
  std::mutex FOnTimerLock;  // OnTimer is replaced on the GUI thread, read by the worker
  TNotifyEvent FOnTimer;
  std::atomic<bool> FUseMessage{false};
  std::atomic<int32_t> FMessageNo{768};
  std::atomic<bool> FUseSyncronize{false};
  std::atomic<bool> FDestroying{false};
  std::atomic<TThreadPriority> FPriority{TThreadPriority::Normal};
  std::atomic<bool> FPriorityChanged{false};
  std::atomic<bool> FTerminated{false};  // the worker's terminate request
  std::atomic<bool> FRunning{false};
  std::atomic<uint64_t> FWakes{0};
  TWorkerSleep FSleep;
};
