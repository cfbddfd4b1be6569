// Owning wrappers for Windows resources. Each type names the function that
// closes it; wrappers move but never copy. Handles whose "none" is NULL and
// those whose "none" is INVALID_HANDLE_VALUE are different types.
#pragma once
#include <windows.h>

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

struct TFileHandleTraits {
  using Type = HANDLE;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Type V) { ::CloseHandle(V); }
};

using TUniqueHandle = TUniqueAny<TNullHandleTraits<HANDLE, CloseHandleNoResult>>;  // NULL = none: processes, threads, mutexes
using TUniqueFile = TUniqueAny<TFileHandleTraits>;  // INVALID_HANDLE_VALUE = none: CreateFile results
using TUniqueHKey = TUniqueAny<TNullHandleTraits<HKEY, RegCloseKeyNoResult>>;
using TUniqueModule = TUniqueAny<TNullHandleTraits<HMODULE, FreeLibraryNoResult>>;
using TUniqueHook = TUniqueAny<TNullHandleTraits<HHOOK, UnhookNoResult>>;
using TUniqueGdiObject = TUniqueAny<TNullHandleTraits<HGDIOBJ, DeleteObjectNoResult>>;
using TUniqueBitmap = TUniqueAny<TNullHandleTraits<HBITMAP, DeleteObjectNoResult>>;
using TUniqueDC = TUniqueAny<TNullHandleTraits<HDC, DeleteDCNoResult>>;
using TUniqueWindow = TUniqueAny<TNullHandleTraits<HWND, DestroyWindowNoResult>>;
using TUniqueIcon = TUniqueAny<TNullHandleTraits<HICON, DestroyIconNoResult>>;

// A COM interface pointer that releases what it holds.
template <typename I>
class TComPtr {
 public:
  TComPtr() = default;
  ~TComPtr() { Reset(); }
  TComPtr(const TComPtr&) = delete;
  TComPtr& operator=(const TComPtr&) = delete;
  TComPtr(TComPtr&& Other) noexcept : FPtr(std::exchange(Other.FPtr, nullptr)) {}
  TComPtr& operator=(TComPtr&& Other) noexcept {
    if (this != &Other) {
      Reset();
      FPtr = std::exchange(Other.FPtr, nullptr);
    }
    return *this;
  }
  I* Get() const { return FPtr; }
  I* operator->() const { return FPtr; }
  explicit operator bool() const { return FPtr != nullptr; }
  I** Put() {
    Reset();
    return &FPtr;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }
  void Reset() {
    if (FPtr) std::exchange(FPtr, nullptr)->Release();
  }

 private:
  I* FPtr = nullptr;
};
