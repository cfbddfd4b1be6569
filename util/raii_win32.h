// Owning wrappers for Windows resources: handles, keys, modules, hooks, GDI
// objects, DCs, windows (TBoundWindow for a window an object answers for),
// mutexes, process information, window timers and subclasses, and the lock,
// DC, paint and selection scopes. Each type names the function that closes
// it; handle wrappers move but never copy, the others do neither. Handles
// whose "none" is NULL and those whose "none" is INVALID_HANDLE_VALUE are
// different types.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <utility>

#include "util/raii.h"

inline void CloseHandleNoResult(HANDLE h) { ::CloseHandle(h); }
inline void RegCloseKeyNoResult(HKEY k) { ::RegCloseKey(k); }
inline void FreeLibraryNoResult(HMODULE m) { ::FreeLibrary(m); }
inline void UnhookNoResult(HHOOK h) { ::UnhookWindowsHookEx(h); }
inline void DeleteObjectNoResult(HGDIOBJ o) { ::DeleteObject(o); }
inline void DeleteDCNoResult(HDC dc) { ::DeleteDC(dc); }
inline void DestroyWindowNoResult(HWND w) { ::DestroyWindow(w); }
inline void DestroyIconNoResult(HICON i) { ::DestroyIcon(i); }

inline void FindCloseNoResult(HANDLE h) { ::FindClose(h); }
inline void UnmapViewNoResult(void* v) { ::UnmapViewOfFile(v); }

// Handles whose "none" is INVALID_HANDLE_VALUE.
template <auto CloseFn>
struct TInvalidHandleTraits {
  using Type = HANDLE;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Type V) { CloseFn(V); }
};
using TFileHandleTraits = TInvalidHandleTraits<CloseHandleNoResult>;

using TUniqueHandle = TUniqueAny<TNullHandleTraits<HANDLE, CloseHandleNoResult>>;  // NULL = none: processes, threads, mutexes
using TUniqueFile = TUniqueAny<TFileHandleTraits>;  // INVALID_HANDLE_VALUE = none: CreateFile results
using TUniqueFind = TUniqueAny<TInvalidHandleTraits<FindCloseNoResult>>;  // FindFirstFile results
using TUniqueHKey = TUniqueAny<TNullHandleTraits<HKEY, RegCloseKeyNoResult>>;
using TUniqueModule = TUniqueAny<TNullHandleTraits<HMODULE, FreeLibraryNoResult>>;
using TUniqueHook = TUniqueAny<TNullHandleTraits<HHOOK, UnhookNoResult>>;
using TUniqueGdiObject = TUniqueAny<TNullHandleTraits<HGDIOBJ, DeleteObjectNoResult>>;
using TUniqueBitmap = TUniqueAny<TNullHandleTraits<HBITMAP, DeleteObjectNoResult>>;
using TUniqueDC = TUniqueAny<TNullHandleTraits<HDC, DeleteDCNoResult>>;
using TUniqueWindow = TUniqueAny<TNullHandleTraits<HWND, DestroyWindowNoResult>>;
using TUniqueIcon = TUniqueAny<TNullHandleTraits<HICON, DestroyIconNoResult>>;
using TUniqueMappedView = TUniqueAny<TNullHandleTraits<void*, UnmapViewNoResult>>;  // MapViewOfFile results

// A window that an object of ours answers for until its last message. The
// handle stays in the owner while Destroy destroys the window, so the
// window's last messages (WM_DESTROY, WM_NCDESTROY) still reach the object
// and, through it, the window's own procedure; the owner is empty once the
// window is gone. An object that learns of the end itself (WM_NCDESTROY)
// lets go by Release. Nobody is left to answer when the owner itself goes:
// then it lets go first, as TUniqueAny does.
class TBoundWindow {
 public:
  TBoundWindow() = default;
  ~TBoundWindow() {
    if (const HWND wnd = Release()) ::DestroyWindow(wnd);
  }
  TBoundWindow(const TBoundWindow&) = delete;
  TBoundWindow& operator=(const TBoundWindow&) = delete;

  HWND Get() const { return FWindow; }
  explicit operator bool() const { return FWindow != nullptr; }
  // Holds Window (after destroying the one held before).
  void Reset(HWND Window) {
    Destroy();
    FWindow = Window;
  }
  HWND Release() { return std::exchange(FWindow, nullptr); }
  // The owner is empty afterwards unless the last messages gave it another window.
  void Destroy() {
    const HWND wnd = FWindow;
    if (!wnd) return;
    ::DestroyWindow(wnd);
    if (FWindow == wnd) FWindow = nullptr;
  }

 private:
  HWND FWindow = nullptr;
};

// A timer of a window (SetTimer with the window and an id), killed when it
// goes or is set again.
class TWindowTimer {
 public:
  TWindowTimer() = default;
  ~TWindowTimer() { Reset(); }
  TWindowTimer(const TWindowTimer&) = delete;
  TWindowTimer& operator=(const TWindowTimer&) = delete;

  // SetTimer's result; the owner holds the timer only when it was set.
  bool Set(HWND Window, UINT_PTR Id, UINT Interval) {
    Reset();
    if (!::SetTimer(Window, Id, Interval, nullptr)) return false;
    FWindow = Window;
    FId = Id;
    return true;
  }
  void Reset() {
    if (const HWND wnd = std::exchange(FWindow, nullptr)) ::KillTimer(wnd, FId);
  }

 private:
  HWND FWindow = nullptr;
  UINT_PTR FId = 0;
};

// A subclass of a window (SetWindowSubclass: procedure, id and reference
// data), removed when it goes, unless the window went first.
class TWindowSubclass {
 public:
  TWindowSubclass() = default;
  ~TWindowSubclass() { Reset(); }
  TWindowSubclass(const TWindowSubclass&) = delete;
  TWindowSubclass& operator=(const TWindowSubclass&) = delete;

  // SetWindowSubclass's result; the owner holds the subclass only when it was set.
  bool Set(HWND Window, SUBCLASSPROC Proc, UINT_PTR Id, DWORD_PTR Data) {
    Reset();
    if (!::SetWindowSubclass(Window, Proc, Id, Data)) return false;
    FWindow = Window;
    FProc = Proc;
    FId = Id;
    return true;
  }
  HWND Window() const { return FWindow; }
  explicit operator bool() const { return FWindow != nullptr; }
  // Also right inside the subclass procedure (on WM_NCDESTROY, say): the
  // next procedure of the window still gets the message.
  void Reset() {
    const HWND wnd = std::exchange(FWindow, nullptr);
    if (wnd && ::IsWindow(wnd)) ::RemoveWindowSubclass(wnd, FProc, FId);
  }

 private:
  HWND FWindow = nullptr;
  SUBCLASSPROC FProc = nullptr;
  UINT_PTR FId = 0;
};

inline void ReleaseAndCloseMutexNoResult(HANDLE h) {
  ::ReleaseMutex(h);
  ::CloseHandle(h);
}
// A named mutex of this program: given back, then closed.
using TUniqueMutex = TUniqueAny<TNullHandleTraits<HANDLE, ReleaseAndCloseMutexNoResult>>;

inline void ReleaseMutexNoResult(HANDLE h) { ::ReleaseMutex(h); }
// The ownership of a mutex whose handle another owner keeps open: given back
// when it goes, on the thread that took it. Declare it after the handle's
// owner, so that it goes first.
using TMutexOwnership = TUniqueAny<TNullHandleTraits<HANDLE, ReleaseMutexNoResult>>;

// What CreateProcess fills in: the new process's and thread's handles are
// closed when it goes.
struct TProcessInformation : PROCESS_INFORMATION {
  TProcessInformation() : PROCESS_INFORMATION{} {}
  ~TProcessInformation() {
    if (hThread) ::CloseHandle(hThread);
    if (hProcess) ::CloseHandle(hProcess);
  }
  TProcessInformation(const TProcessInformation&) = delete;
  TProcessInformation& operator=(const TProcessInformation&) = delete;
};

// A slim reader/writer lock held exclusively for the scope.
class TSrwExclusive {
 public:
  explicit TSrwExclusive(SRWLOCK& Lock) : FLock(Lock) { ::AcquireSRWLockExclusive(&FLock); }
  ~TSrwExclusive() { ::ReleaseSRWLockExclusive(&FLock); }
  TSrwExclusive(const TSrwExclusive&) = delete;
  TSrwExclusive& operator=(const TSrwExclusive&) = delete;

 private:
  SRWLOCK& FLock;
};

// A DC of a window's client area (GetDC; the screen for null), given back.
class TWindowDC {
 public:
  explicit TWindowDC(HWND Window) : FWindow(Window), FDc(::GetDC(Window)) {}
  ~TWindowDC() {
    if (FDc) ::ReleaseDC(FWindow, FDc);
  }
  TWindowDC(const TWindowDC&) = delete;
  TWindowDC& operator=(const TWindowDC&) = delete;
  HDC Get() const { return FDc; }
  explicit operator bool() const { return FDc != nullptr; }

 private:
  HWND FWindow;
  HDC FDc;
};

// The paint DC of one WM_PAINT (BeginPaint ... EndPaint).
class TPaintScope {
 public:
  explicit TPaintScope(HWND Window) : FWindow(Window), FDc(::BeginPaint(Window, &FPaint)) {}
  ~TPaintScope() { ::EndPaint(FWindow, &FPaint); }
  TPaintScope(const TPaintScope&) = delete;
  TPaintScope& operator=(const TPaintScope&) = delete;
  HDC Dc() const { return FDc; }
  const RECT& Area() const { return FPaint.rcPaint; }

 private:
  HWND FWindow;
  PAINTSTRUCT FPaint{};
  HDC FDc;
};

// An object selected into a DC; the one it replaced goes back in.
class TSelectObject {
 public:
  TSelectObject(HDC Dc, HGDIOBJ Object) : FDc(Dc), FOld(::SelectObject(Dc, Object)) {}
  ~TSelectObject() {
    if (FOld) ::SelectObject(FDc, FOld);
  }
  TSelectObject(const TSelectObject&) = delete;
  TSelectObject& operator=(const TSelectObject&) = delete;

 private:
  HDC FDc;
  HGDIOBJ FOld;
};

// The function Name of Module as the function type F, or null.
template <typename F>
F ProcAddress(HMODULE Module, const char* Name) {
  return Module ? reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(Module, Name))) : nullptr;
}
