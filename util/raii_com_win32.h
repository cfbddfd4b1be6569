// Owning wrappers for COM: interface pointers, event connections, VARIANTs,
// BSTRs, task memory, a call's exception information and the thread's
// apartment.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <ocidl.h>

#include <utility>

#include "util/raii_win32.h"

template <typename I>
struct TComTraits {
  using Type = I*;
  static Type Invalid() { return nullptr; }
  static void Close(Type V) { V->Release(); }
};

// A COM interface pointer that releases what it holds; made from a pointer,
// it takes over a reference the caller holds.
template <typename I>
class TComPtr : public TUniqueAny<TComTraits<I>> {
 public:
  using TUniqueAny<TComTraits<I>>::TUniqueAny;
  I* operator->() const { return this->Get(); }
  void** PutVoid() { return reinterpret_cast<void**>(this->Put()); }
  // A new reference to what Ptr points at (null stays null).
  static TComPtr AddRefOf(I* Ptr) {
    if (Ptr) Ptr->AddRef();
    return TComPtr(Ptr);
  }
};

// QueryInterface for the interface Out holds, its IID taken from that type,
// so the IID and the pointer cannot disagree. A success without an object
// counts as E_NOINTERFACE.
template <typename I, typename From>
HRESULT QueryInterfaceTo(From* Object, TComPtr<I>& Out) {
  Out.Reset();
  if (!Object) return E_POINTER;
  const HRESULT hr = Object->QueryInterface(__uuidof(I), Out.PutVoid());
  return SUCCEEDED(hr) && !Out ? E_NOINTERFACE : hr;
}

// An event connection made by IConnectionPoint::Advise: the point and the
// cookie it gave, unadvised when it goes.
class TAdviseConnection {
 public:
  TAdviseConnection() = default;
  ~TAdviseConnection() { Reset(); }
  TAdviseConnection(const TAdviseConnection&) = delete;
  TAdviseConnection& operator=(const TAdviseConnection&) = delete;

  // Advise's result; the connection is held only when it succeeds.
  HRESULT Advise(TComPtr<IConnectionPoint> Point, IUnknown* Sink) {
    Reset();
    DWORD cookie = 0;
    const HRESULT hr = Point ? Point->Advise(Sink, &cookie) : E_POINTER;
    if (SUCCEEDED(hr)) {
      FPoint = std::move(Point);
      FCookie = cookie;
    }
    return hr;
  }
  explicit operator bool() const { return static_cast<bool>(FPoint); }
  void Reset() {
    const DWORD cookie = std::exchange(FCookie, 0);
    const TComPtr<IConnectionPoint> point(FPoint.Release());
    if (point && cookie) point->Unadvise(cookie);
  }

 private:
  TComPtr<IConnectionPoint> FPoint;
  DWORD FCookie = 0;
};

// A VARIANT, cleared when it goes.
class TVariant {
 public:
  TVariant() { ::VariantInit(&FValue); }
  ~TVariant() { ::VariantClear(&FValue); }
  TVariant(const TVariant&) = delete;
  TVariant& operator=(const TVariant&) = delete;
  VARIANT* Get() { return &FValue; }
  const VARIANT* Get() const { return &FValue; }

 private:
  VARIANT FValue;
};

inline void SysFreeStringNoResult(BSTR S) { ::SysFreeString(S); }
using TBstr = TUniqueAny<TNullHandleTraits<BSTR, SysFreeStringNoResult>>;

template <typename T>
inline void CoTaskMemFreeNoResult(T* P) {
  ::CoTaskMemFree(P);
}
// A block the shell or COM allocated for the caller.
template <typename T>
using TCoTaskMem = TUniqueAny<TNullHandleTraits<T*, CoTaskMemFreeNoResult<T>>>;

// The exception information an IDispatch::Invoke may fill in; its texts
// are freed when it goes.
struct TExcepInfo : EXCEPINFO {
  TExcepInfo() : EXCEPINFO{} {}
  ~TExcepInfo() {
    ::SysFreeString(bstrSource);
    ::SysFreeString(bstrDescription);
    ::SysFreeString(bstrHelpFile);
  }
  TExcepInfo(const TExcepInfo&) = delete;
  TExcepInfo& operator=(const TExcepInfo&) = delete;
};

// Holds a single-threaded COM apartment on the constructing thread for its
// lifetime; the program entry keeps one for the whole run. Later
// initialisations on the same thread only nest inside it.
class TComApartment {
 public:
  TComApartment() : FResult(::CoInitialize(nullptr)) {}
  ~TComApartment() {
    // Only a successful initialisation (S_OK or S_FALSE) is balanced; undoing
    // one that failed would end an apartment someone else opened.
    if (SUCCEEDED(FResult)) ::CoUninitialize();
  }
  TComApartment(const TComApartment&) = delete;
  TComApartment& operator=(const TComApartment&) = delete;
  // The result of CoInitialize (S_OK, S_FALSE when already initialised, or an error).
  HRESULT Result() const { return FResult; }

 private:
  HRESULT FResult;
};
