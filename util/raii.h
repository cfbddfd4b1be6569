// Owning wrappers that need no operating system: the owner template the
// platform headers (raii_win32.h, raii_posix.h) build on, C streams, malloc
// blocks, a scope's undo step and its flags. Owners move but never copy.
#pragma once
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <utility>

// Traits name the handle type, its "none" value and its close function.
template <typename T, auto CloseFn>
struct TNullHandleTraits {
  using Type = T;
  static Type Invalid() { return nullptr; }
  static void Close(Type V) { CloseFn(V); }
};

template <typename Traits>
class TUniqueAny {
 public:
  using T = typename Traits::Type;
  TUniqueAny() = default;
  explicit TUniqueAny(T Value) : FValue(Value) {}
  ~TUniqueAny() { Reset(); }
  TUniqueAny(const TUniqueAny&) = delete;
  TUniqueAny& operator=(const TUniqueAny&) = delete;
  TUniqueAny(TUniqueAny&& Other) noexcept : FValue(Other.Release()) {}
  TUniqueAny& operator=(TUniqueAny&& Other) noexcept {
    if (this != &Other) Reset(Other.Release());
    return *this;
  }

  T Get() const { return FValue; }
  explicit operator bool() const { return FValue != Traits::Invalid(); }
  // The address to pass to a function that fills in a new value.
  T* Put() {
    Reset();
    return &FValue;
  }
  T Release() { return std::exchange(FValue, Traits::Invalid()); }
  // Out of the owner first: whatever the close sets off finds it holding
  // the new value.
  void Reset(T Value = Traits::Invalid()) {
    const T old = std::exchange(FValue, Value);
    if (old != Traits::Invalid()) Traits::Close(old);
  }

 private:
  T FValue = Traits::Invalid();
};

inline void FCloseNoResult(std::FILE* F) { std::fclose(F); }

using TUniqueCFile = TUniqueAny<TNullHandleTraits<std::FILE*, FCloseNoResult>>;  // std::fopen results

inline void FreeNoResult(void* P) { std::free(P); }

using TUniqueMalloc = TUniqueAny<TNullHandleTraits<void*, FreeNoResult>>;  // std::malloc blocks (DecompressBuffer's)

// Runs its step when the scope ends (or at Run, once): the undo of something
// a function or an object did to the world outside it.
class TScopeExit {
 public:
  TScopeExit() = default;
  explicit TScopeExit(std::function<void()> Step) : FStep(std::move(Step)) {}
  ~TScopeExit() { Run(); }
  TScopeExit(const TScopeExit&) = delete;
  TScopeExit& operator=(const TScopeExit&) = delete;
  TScopeExit(TScopeExit&& Other) noexcept : FStep(std::exchange(Other.FStep, nullptr)) {}
  TScopeExit& operator=(TScopeExit&& Other) noexcept {
    if (this != &Other) {
      Run();
      FStep = std::exchange(Other.FStep, nullptr);
    }
    return *this;
  }

  void Run() {
    if (FStep) std::exchange(FStep, nullptr)();
  }

 private:
  std::function<void()> FStep;
};

// Sets a re-entry flag for the scope and clears it on every way out.
class TGuard {
 public:
  explicit TGuard(bool& Flag) : FFlag(Flag) { FFlag = true; }
  ~TGuard() { FFlag = false; }
  TGuard(const TGuard&) = delete;
  TGuard& operator=(const TGuard&) = delete;

 private:
  bool& FFlag;
};

// Clears a busy mark, which the caller took itself (by an exchange that
// told it whether somebody else held the mark), on every way out.
class TClearBusy {
 public:
  explicit TClearBusy(std::atomic<bool>& Busy) : FBusy(Busy) {}
  ~TClearBusy() { FBusy = false; }
  TClearBusy(const TClearBusy&) = delete;
  TClearBusy& operator=(const TClearBusy&) = delete;

 private:
  std::atomic<bool>& FBusy;
};
