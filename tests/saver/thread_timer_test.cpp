// The thread timer with a host that stands in for the GUI thread: calls the
// worker hands over wait in a queue until the test thread serves them, as a
// real GUI thread serves sent messages. Meant to run under ThreadSanitizer
// too (scripts/tsan-timer).
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "saver/thread_timer.h"
#include "tests/support/wait_until.h"

namespace {

using namespace std::chrono_literals;

// What the fake host saw; outlives the timer that owns the host.
struct THostLog {
  std::mutex Lock;
  std::vector<uint32_t> Posted;
  std::vector<std::pair<TThreadPriority, std::thread::id>> Priorities;
  std::atomic<bool> HasOwner{false};
  std::atomic<int> Waiting{0};  // synchronized calls not served yet
};

class TFakeHost final : public ITimerHost {
 public:
  explicit TFakeHost(std::shared_ptr<THostLog> Log) : FLog(std::move(Log)) {}

  void Synchronize(const std::function<void()>& Fn) override {
    std::promise<void> done;
    auto future = done.get_future();
    {
      std::lock_guard lock(FLock);
      FCalls.push_back({&Fn, &done});
    }
    ++FLog->Waiting;
    future.wait();
  }
  bool HasOwner() const override { return FLog->HasOwner; }
  void PostTimerMessage(uint32_t Message) override {
    std::lock_guard lock(FLog->Lock);
    FLog->Posted.push_back(Message);
  }
  void ApplyPriority(TThreadPriority Priority) override {
    std::lock_guard lock(FLog->Lock);
    FLog->Priorities.push_back({Priority, std::this_thread::get_id()});
  }
  void ProcessPendingMessages() override {
    Serve();
    std::this_thread::yield();
  }
  void ServeSynchronizeCalls() override {
    Serve();
    std::this_thread::sleep_for(1ms);
  }

  // Runs the waiting calls on the calling ("GUI") thread.
  void Serve() {
    for (;;) {
      TCall call;
      {
        std::lock_guard lock(FLock);
        if (FCalls.empty()) return;
        call = FCalls.front();
        FCalls.pop_front();
      }
      --FLog->Waiting;
      (*call.Fn)();
      call.Done->set_value();
    }
  }

 private:
  struct TCall {
    const std::function<void()>* Fn = nullptr;
    std::promise<void>* Done = nullptr;
  };
  std::shared_ptr<THostLog> FLog;
  std::mutex FLock;
  std::deque<TCall> FCalls;
};

struct TFixture {
  std::shared_ptr<THostLog> Log = std::make_shared<THostLog>();
  TFakeHost* Host = nullptr;
  std::unique_ptr<TThreadTimer> Timer;
  TFixture() {
    auto host = std::make_unique<TFakeHost>(Log);
    Host = host.get();
    Timer = std::make_unique<TThreadTimer>(std::move(host));
  }
};

// Ticks delivered, and where.
struct TTickLog {
  std::atomic<int> Count{0};
  std::mutex Lock;
  std::vector<std::thread::id> Threads;
  void Add() {
    {
      std::lock_guard lock(Lock);
      Threads.push_back(std::this_thread::get_id());
    }
    ++Count;
  }
};

}  // namespace

TEST(ThreadTimer, DefaultsAndIntervalFloor) {
  TFixture f;
  TThreadTimer& t = *f.Timer;
  EXPECT_EQ(t.Interval(), 100);
  EXPECT_EQ(t.MessageNo(), 768);
  EXPECT_FALSE(t.Enabled());
  EXPECT_FALSE(t.UseMessage());
  EXPECT_FALSE(t.UseSyncronize());
  EXPECT_EQ(t.Priority(), TThreadPriority::Normal);
  for (int32_t v : {5, 0, -3, 9}) {
    t.SetInterval(v);
    EXPECT_EQ(t.Interval(), 10) << v;
  }
  t.SetInterval(10);
  EXPECT_EQ(t.Interval(), 10);
  t.SetInterval(250);
  EXPECT_EQ(t.Interval(), 250);
  t.SetData(-7);
  EXPECT_EQ(t.Data(), -7);
}

TEST(ThreadTimer, NeverEnabledWorkerNeverRuns) {
  TFixture f;
  f.Timer->SetEnabled(false);  // no change: the worker stays unstarted
  std::this_thread::sleep_for(30ms);
  EXPECT_FALSE(f.Timer->WorkerRunning());
  EXPECT_EQ(f.Timer->WorkerWakes(), 0u);
  f.Timer.reset();  // nothing to join, nothing left behind
  std::lock_guard lock(f.Log->Lock);
  EXPECT_TRUE(f.Log->Priorities.empty());
}

TEST(ThreadTimer, TicksOnTheWorkerWithTheTimerAsSender) {
  TFixture f;
  TTickLog ticks;
  TThreadTimer* sender = nullptr;
  f.Timer->SetInterval(10);
  f.Timer->SetData(42);
  f.Timer->SetOnTimer([&](TThreadTimer& Sender) {
    if (ticks.Count == 0) sender = &Sender;
    ticks.Add();
  });
  f.Timer->SetEnabled(true);
  EXPECT_TRUE(f.Timer->Enabled());
  ASSERT_TRUE(WaitUntil([&] { return ticks.Count >= 3; }));
  const TThreadTimer* timer = f.Timer.get();
  f.Timer.reset();
  EXPECT_EQ(sender, timer);
  std::lock_guard lock(ticks.Lock);
  for (const auto& id : ticks.Threads) {
    EXPECT_NE(id, std::this_thread::get_id());
    EXPECT_EQ(id, ticks.Threads.front());  // one worker throughout
  }
}

TEST(ThreadTimer, DisablingNeverStopsTheWorker) {
  TFixture f;
  TTickLog ticks;
  f.Timer->SetInterval(10);
  f.Timer->SetOnTimer([&](TThreadTimer&) { ticks.Add(); });
  f.Timer->SetEnabled(true);
  ASSERT_TRUE(WaitUntil([&] { return ticks.Count >= 2; }));

  f.Timer->SetEnabled(false);
  // A tick that had passed the check before the change may still finish.
  uint64_t wakes = f.Timer->WorkerWakes();
  ASSERT_TRUE(WaitUntil([&] { return f.Timer->WorkerWakes() >= wakes + 3; }));
  const int whileDisabled = ticks.Count;
  wakes = f.Timer->WorkerWakes();
  // The worker keeps waking (it was not stopped or suspended), without ticks.
  ASSERT_TRUE(WaitUntil([&] { return f.Timer->WorkerWakes() >= wakes + 10; }));
  EXPECT_TRUE(f.Timer->WorkerRunning());
  EXPECT_EQ(ticks.Count, whileDisabled);

  f.Timer->SetEnabled(true);
  ASSERT_TRUE(WaitUntil([&] { return ticks.Count >= whileDisabled + 2; }));
  f.Timer.reset();
  std::lock_guard lock(ticks.Lock);
  for (const auto& id : ticks.Threads) EXPECT_EQ(id, ticks.Threads.front());
}

TEST(ThreadTimer, AHandlerMayDisableAndEnableItsOwnTimer) {
  // As the saver's host does on every tick: off while it works, on again.
  // The handler runs on the worker while the thread that enabled the timer
  // goes on, so whatever the setter reads there must be safe to read there.
  TFixture f;
  TTickLog ticks;
  f.Timer->SetInterval(10);
  f.Timer->SetOnTimer([&](TThreadTimer& Sender) {
    Sender.SetEnabled(false);
    ticks.Add();
    Sender.SetEnabled(true);
  });
  f.Timer->SetEnabled(true);
  ASSERT_TRUE(WaitUntil([&] { return ticks.Count >= 5; }));
  EXPECT_TRUE(f.Timer->Enabled());
  f.Timer.reset();
  std::lock_guard lock(ticks.Lock);
  for (const auto& id : ticks.Threads) EXPECT_EQ(id, ticks.Threads.front()) << "no second worker was started";
}

TEST(ThreadTimer, DestructionWaitsForTheRunningTickAndEndsTicks) {
  TFixture f;
  std::atomic<bool> entered{false}, release{false}, handlerDone{false}, destroying{false};
  std::atomic<int> lateTicks{0};
  f.Timer->SetInterval(10);
  f.Timer->SetOnTimer([&](TThreadTimer&) {
    if (destroying) ++lateTicks;
    if (entered.exchange(true)) return;
    while (!release) std::this_thread::sleep_for(1ms);
    handlerDone = true;
  });
  f.Timer->SetEnabled(true);
  ASSERT_TRUE(WaitUntil([&] { return entered.load(); }));

  std::thread releaser([&] {
    std::this_thread::sleep_for(30ms);
    release = true;
  });
  destroying = true;
  f.Timer.reset();
  // The destructor returned only after the running tick had ended.
  EXPECT_TRUE(handlerDone);
  releaser.join();
  EXPECT_EQ(lateTicks, 0);
}

TEST(ThreadTimer, SynchronizedTicksRunOnTheServingThread) {
  TFixture f;
  TTickLog ticks;
  f.Timer->SetInterval(10);
  f.Timer->SetUseSyncronize(true);
  f.Timer->SetOnTimer([&](TThreadTimer&) { ticks.Add(); });
  f.Timer->SetEnabled(true);
  // Unserved, the worker waits in its first hand-over and no tick runs.
  ASSERT_TRUE(WaitUntil([&] { return f.Log->Waiting == 1; }));
  const uint64_t wakes = f.Timer->WorkerWakes();
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(f.Timer->WorkerWakes(), wakes);
  EXPECT_EQ(ticks.Count, 0);

  ASSERT_TRUE(WaitUntil([&] {
    f.Host->Serve();
    return ticks.Count >= 3;
  }));
  std::lock_guard lock(ticks.Lock);
  for (const auto& id : ticks.Threads) EXPECT_EQ(id, std::this_thread::get_id());
}

TEST(ThreadTimer, DestructionServesAWaitingSynchronizedTickWithoutDeliveringIt) {
  for (const bool useMessage : {false, true}) {
    TFixture f;
    std::atomic<int> ticks{0};
    f.Log->HasOwner = true;
    f.Timer->SetInterval(10);
    f.Timer->SetUseSyncronize(true);
    f.Timer->SetUseMessage(useMessage);
    f.Timer->SetOnTimer([&](TThreadTimer&) { ++ticks; });
    f.Timer->SetEnabled(true);
    ASSERT_TRUE(WaitUntil([&] { return f.Log->Waiting == 1; }));
    // The worker is blocked on this thread; destruction must neither
    // deadlock nor deliver the tick it was handing over.
    f.Timer.reset();
    EXPECT_EQ(ticks, 0);
    EXPECT_EQ(f.Log->Waiting, 0);
    std::lock_guard lock(f.Log->Lock);
    EXPECT_TRUE(f.Log->Posted.empty()) << "useMessage " << useMessage;
  }
}

TEST(ThreadTimer, UseMessagePostsWmUserPlusMessageNoInsteadOfOnTimer) {
  TFixture f;
  std::atomic<int> ticks{0};
  f.Log->HasOwner = true;
  f.Timer->SetInterval(10);
  f.Timer->SetUseMessage(true);
  f.Timer->SetOnTimer([&](TThreadTimer&) { ++ticks; });
  f.Timer->SetEnabled(true);
  auto posted = [&] {
    std::lock_guard lock(f.Log->Lock);
    return f.Log->Posted;
  };
  ASSERT_TRUE(WaitUntil([&] { return !posted().empty(); }));
  EXPECT_EQ(posted().front(), 1792u);
  f.Timer->SetMessageNo(5);
  ASSERT_TRUE(WaitUntil([&] { return posted().back() == 0x400u + 5; }));

  // Without an owner window nothing is delivered at all.
  f.Log->HasOwner = false;
  uint64_t wakes = f.Timer->WorkerWakes();
  ASSERT_TRUE(WaitUntil([&] { return f.Timer->WorkerWakes() >= wakes + 3; }));
  const size_t count = posted().size();
  wakes = f.Timer->WorkerWakes();
  ASSERT_TRUE(WaitUntil([&] { return f.Timer->WorkerWakes() >= wakes + 5; }));
  EXPECT_EQ(posted().size(), count);
  EXPECT_EQ(ticks, 0);
}

TEST(ThreadTimer, PriorityIsAppliedOnTheWorker) {
  TFixture f;
  std::atomic<bool> ticked{false};
  f.Timer->SetInterval(10);
  f.Timer->SetPriority(TThreadPriority::Highest);
  f.Timer->SetOnTimer([&](TThreadTimer&) { ticked = true; });
  f.Timer->SetEnabled(true);
  ASSERT_TRUE(WaitUntil([&] { return ticked.load(); }));
  f.Timer->SetPriority(TThreadPriority::Lowest);
  EXPECT_EQ(f.Timer->Priority(), TThreadPriority::Lowest);
  auto last = [&] {
    std::lock_guard lock(f.Log->Lock);
    return f.Log->Priorities.back();
  };
  ASSERT_TRUE(WaitUntil([&] { return last().first == TThreadPriority::Lowest; }));
  std::lock_guard lock(f.Log->Lock);
  ASSERT_GE(f.Log->Priorities.size(), 2u);
  EXPECT_EQ(f.Log->Priorities.front().first, TThreadPriority::Highest);  // given at start
  for (const auto& p : f.Log->Priorities) EXPECT_NE(p.second, std::this_thread::get_id());
}

// The worker sleeps for the whole interval: one wake per tick, no tick before
// its interval has passed, and a new priority reaches it in the middle of a
// long wait without making a tick. (How soon destruction ends that wait is a
// timing, so it is no pass/fail condition here.)
TEST(ThreadTimer, TheWorkerSleepsUntilItsTickIsDue) {
  using TClock = std::chrono::steady_clock;
  TFixture f;
  std::mutex lock;
  std::vector<TClock::time_point> at;
  auto ticks = [&] {
    std::lock_guard hold(lock);
    return at.size();
  };
  f.Timer->SetInterval(200);
  f.Timer->SetOnTimer([&](TThreadTimer&) {
    std::lock_guard hold(lock);
    at.push_back(TClock::now());
  });
  const TClock::time_point enabled = TClock::now();
  f.Timer->SetEnabled(true);
  ASSERT_TRUE(WaitUntil([&] { return ticks() >= 3; }));
  // A wait that ends before the tick is due shows as extra wakes (sleeping
  // in short steps gives many per tick) or as a tick before its interval.
  EXPECT_LE(f.Timer->WorkerWakes(), ticks() + 2);
  {
    std::lock_guard hold(lock);
    EXPECT_GE(at[0] - enabled, 200ms);
    for (size_t i = 1; i < at.size(); ++i) EXPECT_GE(at[i] - at[i - 1], 200ms) << "tick " << i;
  }
  f.Timer.reset();

  // A minute to the first tick: once the worker has taken its first
  // priority, it is in that wait or about to enter it.
  TFixture g;
  std::atomic<int> longTicks{0};
  g.Timer->SetInterval(60000);
  g.Timer->SetOnTimer([&](TThreadTimer&) { ++longTicks; });
  g.Timer->SetEnabled(true);
  ASSERT_TRUE(WaitUntil([&] {
    std::lock_guard hold(g.Log->Lock);
    return !g.Log->Priorities.empty();
  }));
  g.Timer->SetPriority(TThreadPriority::Lowest);
  ASSERT_TRUE(WaitUntil([&] {
    std::lock_guard hold(g.Log->Lock);
    return g.Log->Priorities.back().first == TThreadPriority::Lowest;
  }));
  EXPECT_EQ(longTicks, 0);  // the wake for the priority is no tick
}

TEST(ThreadTimer, AHandlerThatThrowsLosesOnlyItsTick) {
  TFixture f;
  std::atomic<int> ticks{0};
  f.Timer->SetInterval(10);
  f.Timer->SetOnTimer([&](TThreadTimer&) {
    ++ticks;
    throw std::runtime_error("handler failure");
  });
  f.Timer->SetEnabled(true);
  ASSERT_TRUE(WaitUntil([&] { return ticks >= 3; }));
  EXPECT_TRUE(f.Timer->WorkerRunning());
}

TEST(ThreadTimer, ApplicationTerminatingEndsTheWorker) {
  TFixture f;
  f.Timer->SetInterval(10);
  f.Timer->SetEnabled(true);
  ASSERT_TRUE(WaitUntil([&] { return f.Timer->WorkerRunning(); }));
  SetTimersApplicationTerminating(true);
  const bool ended = WaitUntil([&] { return !f.Timer->WorkerRunning(); });
  SetTimersApplicationTerminating(false);
  EXPECT_TRUE(ended);
  f.Timer.reset();  // the ended worker is joined without waiting
}

// Many short lives with ticks racing the destructor, on both delivery paths;
// under ThreadSanitizer this is where a data race would show.
TEST(ThreadTimer, RacingDestructionNeverDeliversLateTicks) {
  for (int round = 0; round < 40; ++round) {
    TFixture f;
    auto ticks = std::make_shared<std::atomic<int>>(0);
    auto destroying = std::make_shared<std::atomic<bool>>(false);
    auto late = std::make_shared<std::atomic<int>>(0);
    f.Timer->SetInterval(10);
    f.Timer->SetUseSyncronize(round % 2 == 1);
    f.Timer->SetOnTimer([=](TThreadTimer&) {
      if (*destroying) ++*late;
      ++*ticks;
    });
    f.Timer->SetEnabled(true);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(round % 4 * 7);
    while (std::chrono::steady_clock::now() < until) {
      f.Host->Serve();
      if (round % 3 == 0) f.Timer->SetEnabled(!f.Timer->Enabled());
      std::this_thread::sleep_for(1ms);
    }
    *destroying = true;
    f.Timer.reset();
    const int after = *ticks;
    std::this_thread::sleep_for(2ms);
    EXPECT_EQ(*ticks, after);
    EXPECT_EQ(*late, 0) << "round " << round;
  }
}

TEST(ThreadTimer, AddMilliseconds) {
  EXPECT_DOUBLE_EQ(AddMilliseconds(1.0, 43200000.0), 1.5);
  EXPECT_DOUBLE_EQ(AddMilliseconds(45000.25, -21600000.0), 45000.0);
  EXPECT_DOUBLE_EQ(AddMilliseconds(0.0, -86400000.0), -1.0);
  EXPECT_NEAR(AddMilliseconds(45000.5, 100.0) - 45000.5, 100.0 / 86400000.0, 1e-10);
}
