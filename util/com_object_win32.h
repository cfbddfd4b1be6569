// The IUnknown part of the program's own COM objects (the player control's
// site and event sink, the test player): a reference count that deletes
// the object at zero, and QueryInterface answered from a table.
#pragma once
#include <windows.h>
#include <ole2.h>

#include <atomic>
#include <initializer_list>

// One row of a QueryInterface table: an IID and the interface it gives.
struct TInterfaceEntry {
  const IID& Iid;
  IUnknown* Interface;
};

// Sets *Out to the interface the table gives for Riid, with a reference
// added, or answers E_NOINTERFACE with *Out null.
inline HRESULT AnswerQueryInterface(REFIID Riid, void** Out, std::initializer_list<TInterfaceEntry> Table) {
  if (!Out) return E_POINTER;
  *Out = nullptr;
  for (const TInterfaceEntry& entry : Table)
    if (IsEqualIID(Riid, entry.Iid)) {
      entry.Interface->AddRef();
      *Out = entry.Interface;
      return S_OK;
    }
  return E_NOINTERFACE;
}

// The answer of a method that gives no object: *Out null (when there is an
// Out) and E_NOTIMPL.
template <typename T>
HRESULT AnswerNoObject(T** Out) {
  if (Out) *Out = nullptr;
  return E_NOTIMPL;
}

// IDispatch::GetTypeInfoCount of an object without type information.
inline HRESULT AnswerNoTypeInfo(UINT* Count) {
  if (!Count) return E_POINTER;
  *Count = 0;
  return S_OK;
}

// Implements AddRef and Release for every interface in Interfaces. The
// count starts at one, the creator's reference; the last Release deletes.
template <typename... Interfaces>
class TComObject : public Interfaces... {
 public:
  STDMETHODIMP_(ULONG) AddRef() override { return ++FRefs; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG n = --FRefs;
    if (n == 0) delete this;
    return n;
  }

 protected:
  TComObject() = default;
  virtual ~TComObject() = default;

 private:
  std::atomic<ULONG> FRefs{1};
};
