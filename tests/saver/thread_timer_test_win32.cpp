// The thread timer with its Win32 host: posted messages to a real window,
// ticks handed to this (GUI) thread, the worker's scheduling priority.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "saver/thread_timer_win32.h"
#include "tests/support/message_pump_win32.h"
#include "util/messages.h"
#include "util/raii_win32.h"

namespace {

struct TReceived {
  UINT Message;
  WPARAM W;
  LPARAM L;
  HWND Wnd;
};
std::vector<TReceived> gReceived;

LRESULT CALLBACK OwnerProc(HWND Wnd, UINT Msg, WPARAM W, LPARAM L) noexcept {
  if (Msg >= WM_USER && Msg < 0x8000) {
    gReceived.push_back({Msg, W, L, Wnd});
    return 0;
  }
  return DefWindowProcA(Wnd, Msg, W, L);
}

TUniqueWindow MakeOwner() {
  WNDCLASSA wc{};
  wc.lpfnWndProc = OwnerProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "PlTimerOwner";
  RegisterClassA(&wc);
  return TUniqueWindow(CreateWindowExA(0, "PlTimerOwner", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                       GetModuleHandleA(nullptr), nullptr));
}

}  // namespace

TEST(ThreadTimerWin32, UseMessagePostsMessage1792WithZeroParameters) {
  TUniqueWindow owner = MakeOwner();
  ASSERT_TRUE(owner);
  gReceived.clear();
  std::atomic<int> ticks{0};
  {
    TThreadTimer timer(MakeWin32TimerHost(owner.Get()));
    timer.SetInterval(10);
    timer.SetUseMessage(true);
    timer.SetOnTimer([&](TThreadTimer&) { ++ticks; });
    timer.SetEnabled(true);
    ASSERT_TRUE(PumpUntil([] { return gReceived.size() >= 2; }));
    timer.SetMessageNo(17);
    ASSERT_TRUE(PumpUntil([] { return gReceived.back().Message == WM_USER + 17; }));
  }
  ASSERT_GE(gReceived.size(), 2u);
  EXPECT_EQ(gReceived.front().Message, 1792u);
  EXPECT_EQ(gReceived.front().W, 0u);
  EXPECT_EQ(gReceived.front().L, 0);
  EXPECT_EQ(gReceived.front().Wnd, owner.Get());
  EXPECT_EQ(ticks, 0);  // a message instead of OnTimer
}

TEST(ThreadTimerWin32, SynchronizedTicksRunOnTheGuiThread) {
  std::vector<DWORD> threads;
  TThreadTimer timer;  // the default host on Windows: this thread is the GUI thread
  timer.SetInterval(10);
  timer.SetUseSyncronize(true);
  timer.SetOnTimer([&](TThreadTimer&) { threads.push_back(GetCurrentThreadId()); });
  timer.SetEnabled(true);
  ASSERT_TRUE(PumpUntil([&] { return threads.size() >= 3; }));
  for (DWORD id : threads) EXPECT_EQ(id, GetCurrentThreadId());
}

TEST(ThreadTimerWin32, SynchronizedMessagesDoNotPileUp) {
  TUniqueWindow owner = MakeOwner();
  auto timer = std::make_unique<TThreadTimer>(MakeWin32TimerHost(owner.Get()));
  timer->SetInterval(10);
  timer->SetUseSyncronize(true);
  timer->SetUseMessage(true);
  timer->SetEnabled(true);
  // Serve only the ticks handed over (sent messages), never the posted ones,
  // for a good number of intervals.
  const uint64_t wakes = timer->WorkerWakes();
  const DWORD end = GetTickCount() + 10000;
  while (timer->WorkerWakes() < wakes + 25 && static_cast<LONG>(GetTickCount() - end) < 0) {
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_SENDMESSAGE);
  }
  // Gone before the count: a tick already handed over when the timer was
  // disabled would otherwise run inside the counting peeks (they deliver
  // sent messages too) and post again after the one waiting was taken.
  timer.reset();
  int waiting = 0;
  MSG msg;
  while (PeekMessageA(&msg, owner.Get(), 1792, 1792, PM_REMOVE)) ++waiting;
  EXPECT_EQ(waiting, 1);
}

TEST(ThreadTimerWin32, DestructionDoesNotDeadlockOnAWaitingSynchronizedTick) {
  std::atomic<int> ticks{0};
  auto timer = std::make_unique<TThreadTimer>();
  timer->SetInterval(10);
  timer->SetUseSyncronize(true);
  timer->SetOnTimer([&](TThreadTimer&) { ++ticks; });
  timer->SetEnabled(true);
  // Not serving messages: the worker blocks in its first hand-over.
  Sleep(100);
  timer.reset();
  EXPECT_EQ(ticks, 0);
}

TEST(ThreadTimerWin32, WorkerRunsAtThePriorityAsked) {
  std::atomic<int> seen{-100};
  TThreadTimer timer;
  timer.SetInterval(10);
  timer.SetPriority(TThreadPriority::Highest);
  timer.SetOnTimer([&](TThreadTimer&) { seen = GetThreadPriority(GetCurrentThread()); });
  timer.SetEnabled(true);
  ASSERT_TRUE(PumpUntil([&] { return seen != -100; }));
  EXPECT_EQ(seen, THREAD_PRIORITY_HIGHEST);
  timer.SetPriority(TThreadPriority::Lowest);
  EXPECT_TRUE(PumpUntil([&] { return seen == THREAD_PRIORITY_LOWEST; }));
}

// The saver's tick pumps messages on the worker every 100 ms for hours; a
// worker that asked the system each time would cost a wineserver round trip
// a tick. Neither its sleep nor its pump may give it a message queue, and a
// thread without one is refused thread messages.
TEST(ThreadTimerWin32, TheWorkersSleepAndPumpNeverAskTheSystem) {
  std::atomic<DWORD> worker{0};
  std::atomic<int> ticks{0};
  {
    TThreadTimer timer;
    timer.SetInterval(10);
    timer.SetOnTimer([&](TThreadTimer&) {
      worker = GetCurrentThreadId();
      ProcessPendingMessages();
      ++ticks;
    });
    timer.SetEnabled(true);
    ASSERT_TRUE(PumpUntil([&] { return ticks >= 3; }));
    EXPECT_FALSE(PostThreadMessageW(worker, WM_APP, 0, 0));
  }
  // A thread that has looked at its queue takes the message: the refusal
  // above is the missing queue.
  std::atomic<bool> posted{false};
  std::thread([&] {
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    posted = PostThreadMessageW(GetCurrentThreadId(), WM_APP, 0, 0) != 0;
  }).join();
  EXPECT_TRUE(posted);
}
