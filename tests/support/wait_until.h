// Polling for a condition in portable tests.
#pragma once
#include <chrono>
#include <thread>

// Polls Done every Step until it answers true, or Limit has passed (a bound
// against hangs, not a timing expectation); whether it answered true.
template <typename Pred>
bool WaitUntil(Pred Done, std::chrono::milliseconds Limit = std::chrono::seconds(10),
               std::chrono::milliseconds Step = std::chrono::milliseconds(1)) {
  const auto end = std::chrono::steady_clock::now() + Limit;
  while (!Done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(Step);
  }
  return true;
}
