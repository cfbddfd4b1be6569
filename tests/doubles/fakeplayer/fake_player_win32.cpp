// The fake player: a COM in-process server for the Shockwave Flash class
// identifier, used only by tests inside the private Wine prefix. It offers
// what a host of the real control touches (IOleObject, IOleInPlaceObject,
// the dual interface with its IDispatch part, the event connection) and
// writes one line per event to the file named by PL_FAKEPLAYER_LOG. The log
// format and the environment that makes it refuse calls or pump messages in
// Stop: README.md beside this file.
#include <windows.h>
#include <ole2.h>
#include <ocidl.h>
#include <olectl.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include "tests/doubles/fakeplayer/fake_movie.h"
#include "util/com_object_win32.h"
#include "util/raii_com_win32.h"
#include "util/text_win32.h"

namespace {

const CLSID kClsidFlash = {0xD27CDB6E, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const IID kIidDual = {0xD27CDB6C, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const IID kIidEvents = {0xD27CDB6D, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

constexpr DISPID kDispMovie = 102;
constexpr DISPID kDispFSCommand = 150;
constexpr int kSlotCount = 96;
constexpr UINT kTimerMs = 50;
constexpr int kTicksBeforeFire = 3;
constexpr DWORD kMaxMovieBytes = 64u << 20;
constexpr wchar_t kWindowClass[] = L"PlFakeFlashPlayer";

std::atomic<long> gObjects{0};
std::atomic<long> gLocks{0};
std::atomic<long> gInstanceSerial{0};
HINSTANCE gModule = nullptr;

// ---- environment and log ---------------------------------------------------

std::wstring EnvW(const wchar_t* Name) {
  wchar_t buf[2048];
  const DWORD n = GetEnvironmentVariableW(Name, buf, 2048);
  return n > 0 && n < 2048 ? std::wstring(buf, n) : std::wstring();
}

std::string Field(BSTR Text) {
  return EscapeLogField(Text ? WideToText(std::wstring(Text, SysStringLen(Text)), CP_UTF8) : std::string());
}

std::string Hex(unsigned long long V) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%llx", V);
  return buf;
}

// True when the comma-separated PL_FAKEPLAYER_REFUSE holds Token.
bool Refused(const std::wstring& Token) {
  const std::wstring list = L"," + EnvW(L"PL_FAKEPLAYER_REFUSE") + L",";
  return list.find(L"," + Token + L",") != std::wstring::npos;
}

// PL_FAKEPLAYER_STOP_PUMP_MS; 0 when unset.
DWORD StopPumpMs() {
  const std::wstring text = EnvW(L"PL_FAKEPLAYER_STOP_PUMP_MS");
  return text.empty() ? 0 : static_cast<DWORD>(std::wcstoul(text.c_str(), nullptr, 10));
}

// Appends one line; the file is opened per line so that several processes
// and several instances can share it.
void Log(long Instance, const std::string& Text) {
  const std::wstring path = EnvW(L"PL_FAKEPLAYER_LOG");
  if (path.empty()) return;
  const std::string line =
      std::to_string(GetCurrentProcessId()) + " " + std::to_string(Instance) + " " + Text + "\n";
  const TUniqueFile f(CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f) return;
  DWORD written = 0;
  WriteFile(f.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

const char* MessageName(UINT Msg) {
  switch (Msg) {
    case WM_KEYDOWN: return "keydown";
    case WM_KEYUP: return "keyup";
    case WM_CHAR: return "char";
    case WM_SYSKEYDOWN: return "syskeydown";
    case WM_SYSKEYUP: return "syskeyup";
    case WM_MOUSEMOVE: return "mousemove";
    case WM_LBUTTONDOWN: return "lbuttondown";
    case WM_LBUTTONUP: return "lbuttonup";
    case WM_LBUTTONDBLCLK: return "lbuttondblclk";
    case WM_RBUTTONDOWN: return "rbuttondown";
    case WM_RBUTTONUP: return "rbuttonup";
    case WM_RBUTTONDBLCLK: return "rbuttondblclk";
    case WM_MBUTTONDOWN: return "mbuttondown";
    case WM_MBUTTONUP: return "mbuttonup";
    case WM_MBUTTONDBLCLK: return "mbuttondblclk";
    case WM_MOUSEWHEEL: return "mousewheel";
    default: return nullptr;
  }
}

// Key, mouse, tablet and pen messages are the ones a host filters; the
// numbers just outside each range are logged too, so that a test sees where
// a host's filter ends.
bool IsInputMessage(UINT Msg) {
  return (Msg >= 0x0100 && Msg <= 0x0109) || (Msg >= 0x01FF && Msg <= 0x020E) ||
         (Msg >= 0x02BF && Msg <= 0x02E0) || (Msg >= 0x037F && Msg <= 0x0390);
}

// ---- the control -------------------------------------------------------------

class TFakeFlash;

// The dual interface: a hand-made method table of 96 slots whose first seven
// are IUnknown and IDispatch. Slots 29, 33 and 95 are Stop, StopPlay and
// DisableLocalSecurity; every other slot only logs that it was called.
struct TDualPart {
  const void* const* Vtbl;
  TFakeFlash* Owner;
};

class TConnectionPoint final : public IConnectionPoint {
 public:
  explicit TConnectionPoint(TFakeFlash* Owner) : FOwner(Owner) {}
  STDMETHODIMP QueryInterface(REFIID Riid, void** Out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP GetConnectionInterface(IID* Iid) override {
    if (!Iid) return E_POINTER;
    *Iid = kIidEvents;
    return S_OK;
  }
  STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** Out) override;
  STDMETHODIMP Advise(IUnknown* Sink, DWORD* Cookie) override;
  STDMETHODIMP Unadvise(DWORD Cookie) override;
  STDMETHODIMP EnumConnections(IEnumConnections** Out) override { return AnswerNoObject(Out); }

 private:
  TFakeFlash* FOwner;
};

class TFakeFlash final : public TComObject<IOleObject, IOleInPlaceObject, IConnectionPointContainer> {
 public:
  TFakeFlash();
  ~TFakeFlash() override;

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID Riid, void** Out) override;

  // IOleObject
  STDMETHODIMP SetClientSite(IOleClientSite* Site) override;
  STDMETHODIMP GetClientSite(IOleClientSite** Out) override {
    if (!Out) return E_POINTER;
    *Out = FClientSite.Get();
    if (*Out) (*Out)->AddRef();
    return S_OK;
  }
  STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
  STDMETHODIMP Close(DWORD SaveOption) override;
  STDMETHODIMP SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** Out) override { return AnswerNoObject(Out); }
  STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP GetClipboardData(DWORD, IDataObject** Out) override { return AnswerNoObject(Out); }
  STDMETHODIMP DoVerb(LONG Verb, LPMSG, IOleClientSite* Site, LONG, HWND Parent, LPCRECT PosRect) override;
  STDMETHODIMP EnumVerbs(IEnumOLEVERB** Out) override { return AnswerNoObject(Out); }
  STDMETHODIMP Update() override { return S_OK; }
  STDMETHODIMP IsUpToDate() override { return S_OK; }
  STDMETHODIMP GetUserClassID(CLSID* Out) override {
    if (!Out) return E_POINTER;
    *Out = kClsidFlash;
    return S_OK;
  }
  STDMETHODIMP GetUserType(DWORD, LPOLESTR* Out) override { return AnswerNoObject(Out); }
  STDMETHODIMP SetExtent(DWORD, SIZEL* Size) override {
    if (!Size) return E_POINTER;
    Log(FInstance, "extent " + std::to_string(Size->cx) + " " + std::to_string(Size->cy));
    return S_OK;
  }
  STDMETHODIMP GetExtent(DWORD, SIZEL* Size) override {
    if (!Size) return E_POINTER;
    Size->cx = Size->cy = 0;
    return S_OK;
  }
  STDMETHODIMP Advise(IAdviseSink*, DWORD* Cookie) override {
    if (Cookie) *Cookie = 0;
    return OLE_E_ADVISENOTSUPPORTED;
  }
  STDMETHODIMP Unadvise(DWORD) override { return OLE_E_NOCONNECTION; }
  STDMETHODIMP EnumAdvise(IEnumSTATDATA** Out) override { return AnswerNoObject(Out); }
  STDMETHODIMP GetMiscStatus(DWORD, DWORD* Status) override {
    if (!Status) return E_POINTER;
    *Status = OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE | OLEMISC_INSIDEOUT | OLEMISC_ACTIVATEWHENVISIBLE |
              OLEMISC_SETCLIENTSITEFIRST;
    return S_OK;
  }
  STDMETHODIMP SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

  // IOleWindow, IOleInPlaceObject
  STDMETHODIMP GetWindow(HWND* Out) override {
    if (!Out) return E_POINTER;
    *Out = FWnd.Get();
    return FWnd ? S_OK : E_FAIL;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP InPlaceDeactivate() override;
  STDMETHODIMP UIDeactivate() override { return S_OK; }
  STDMETHODIMP SetObjectRects(LPCRECT Pos, LPCRECT Clip) override;
  STDMETHODIMP ReactivateAndUndo() override { return E_NOTIMPL; }

  // IConnectionPointContainer
  STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** Out) override { return AnswerNoObject(Out); }
  STDMETHODIMP FindConnectionPoint(REFIID Riid, IConnectionPoint** Out) override {
    if (!Out) return E_POINTER;
    *Out = nullptr;
    if (!IsEqualIID(Riid, kIidEvents)) return CONNECT_E_NOCONNECTION;
    *Out = &FConnectionPoint;
    AddRef();
    return S_OK;
  }

  // Called through the dual method table.
  HRESULT Invoke(DISPID Id, WORD Flags, DISPPARAMS* Params, VARIANT* Result);
  HRESULT CallMethod(int Slot);

  // The event connection.
  HRESULT AdviseSink(IUnknown* Sink, DWORD* Cookie);
  HRESULT UnadviseSink(DWORD Cookie);

  static LRESULT CALLBACK WindowProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) noexcept;

 private:
  LRESULT HandleMessage(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam);
  void LoadMovie(BSTR Path);
  void PumpWhileStopping();
  void OnTimerTick();
  void FireFSCommand(const TFsCommand& Command);

  const long FInstance;
  TDualPart FDual;
  TConnectionPoint FConnectionPoint{this};
  TComPtr<IOleClientSite> FClientSite;
  TComPtr<IOleInPlaceSite> FInPlaceSite;
  TUniqueWindow FWnd;
  COLORREF FBackground = RGB(0, 0, 0);
  long FTimerCount = 0;
  // The command of the loaded movie and the ticks left before it fires.
  TFsCommand FPendingCommand;
  int FTicksToFire = -1;
  std::wstring FMoviePath;  // the movie last loaded
  std::vector<std::pair<DWORD, TComPtr<IDispatch>>> FSinks;
  DWORD FNextCookie = 1;
};

// ---- the dual method table ----------------------------------------------------

TFakeFlash* OwnerOf(void* Self) { return static_cast<TDualPart*>(Self)->Owner; }

HRESULT STDMETHODCALLTYPE DualQueryInterface(void* Self, REFIID Riid, void** Out) {
  return OwnerOf(Self)->QueryInterface(Riid, Out);
}
ULONG STDMETHODCALLTYPE DualAddRef(void* Self) { return OwnerOf(Self)->AddRef(); }
ULONG STDMETHODCALLTYPE DualRelease(void* Self) { return OwnerOf(Self)->Release(); }
HRESULT STDMETHODCALLTYPE DualGetTypeInfoCount(void*, UINT* Count) { return AnswerNoTypeInfo(Count); }
HRESULT STDMETHODCALLTYPE DualGetTypeInfo(void*, UINT, LCID, ITypeInfo** Out) { return AnswerNoObject(Out); }
HRESULT STDMETHODCALLTYPE DualGetIDsOfNames(void*, REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE DualInvoke(void* Self, DISPID Id, REFIID, LCID, WORD Flags, DISPPARAMS* Params,
                                     VARIANT* Result, EXCEPINFO* Excep, UINT*) {
  const HRESULT hr = OwnerOf(Self)->Invoke(Id, Flags, Params, Result);
  if (hr == DISP_E_EXCEPTION && Excep) {
    *Excep = EXCEPINFO{};
    Excep->scode = E_FAIL;
    Excep->bstrSource = SysAllocString(L"fakeplayer");
    Excep->bstrDescription = SysAllocString(L"put refused");
  }
  return hr;
}

// Slots 7 to 95. The x64 calling convention lets the caller pass arguments
// that a slot ignores, so one signature serves every position.
template <int Slot>
HRESULT STDMETHODCALLTYPE DualSlot(void* Self) {
  return OwnerOf(Self)->CallMethod(Slot);
}

template <int... Slots>
constexpr auto MakeVtbl(std::integer_sequence<int, Slots...>) {
  return std::array<const void*, kSlotCount>{reinterpret_cast<const void*>(&DualQueryInterface),
                                             reinterpret_cast<const void*>(&DualAddRef),
                                             reinterpret_cast<const void*>(&DualRelease),
                                             reinterpret_cast<const void*>(&DualGetTypeInfoCount),
                                             reinterpret_cast<const void*>(&DualGetTypeInfo),
                                             reinterpret_cast<const void*>(&DualGetIDsOfNames),
                                             reinterpret_cast<const void*>(&DualInvoke),
                                             reinterpret_cast<const void*>(&DualSlot<Slots + 7>)...};
}

const std::array<const void*, kSlotCount> kDualVtbl = MakeVtbl(std::make_integer_sequence<int, kSlotCount - 7>{});

// ---- TFakeFlash ----------------------------------------------------------------

TFakeFlash::TFakeFlash() : FInstance(++gInstanceSerial), FDual{kDualVtbl.data(), this} {
  ++gObjects;
  Log(FInstance, "create");
}

TFakeFlash::~TFakeFlash() {
  FWnd.Reset();  // its timer goes with it
  FSinks.clear();
  FInPlaceSite.Reset();
  FClientSite.Reset();
  Log(FInstance, "destroy");
  --gObjects;
}

STDMETHODIMP TFakeFlash::QueryInterface(REFIID Riid, void** Out) {
  if (!Out) return E_POINTER;
  if (IsEqualIID(Riid, kIidDual) && Refused(L"IShockwaveFlash")) {
    *Out = nullptr;
    Log(FInstance, "qi-refused IShockwaveFlash");
    return E_NOINTERFACE;
  }
  IOleObject* const object = this;
  IOleInPlaceObject* const inPlace = this;
  IConnectionPointContainer* const container = this;
  // The hand-made table starts with IUnknown's three slots, as an interface does.
  auto* const dual = reinterpret_cast<IUnknown*>(&FDual);
  return AnswerQueryInterface(Riid, Out,
                              {{IID_IUnknown, object},
                               {IID_IOleObject, object},
                               {IID_IOleInPlaceObject, inPlace},
                               {IID_IOleWindow, inPlace},
                               {IID_IConnectionPointContainer, container},
                               {IID_IDispatch, dual},
                               {kIidDual, dual}});
}

STDMETHODIMP TFakeFlash::SetClientSite(IOleClientSite* Site) {
  FClientSite = TComPtr<IOleClientSite>::AddRefOf(Site);
  Log(FInstance, Site ? "site set" : "site clear");
  return S_OK;
}

STDMETHODIMP TFakeFlash::Close(DWORD SaveOption) {
  InPlaceDeactivate();
  Log(FInstance, "close " + std::to_string(SaveOption));
  return S_OK;
}

STDMETHODIMP TFakeFlash::DoVerb(LONG Verb, LPMSG, IOleClientSite* Site, LONG, HWND Parent, LPCRECT PosRect) {
  try {
    Log(FInstance, "verb " + std::to_string(Verb));
    if (Verb != OLEIVERB_INPLACEACTIVATE && Verb != OLEIVERB_SHOW && Verb != OLEIVERB_UIACTIVATE &&
        Verb != OLEIVERB_PRIMARY)
      return Verb == OLEIVERB_HIDE ? S_OK : OLEOBJ_E_NOVERBS;
    if (FWnd) return S_OK;
    if (Refused(L"activate")) return E_FAIL;
    IOleClientSite* site = Site ? Site : FClientSite.Get();
    if (!site) return E_UNEXPECTED;
    TComPtr<IOleInPlaceSite> inPlace;
    if (FAILED(QueryInterfaceTo(site, inPlace))) return E_NOINTERFACE;
    if (inPlace->CanInPlaceActivate() != S_OK) return E_FAIL;
    inPlace->OnInPlaceActivate();
    HWND parent = nullptr;
    if (FAILED(inPlace->GetWindow(&parent)) || !parent) parent = Parent;
    TComPtr<IOleInPlaceFrame> frame;
    TComPtr<IOleInPlaceUIWindow> doc;
    RECT pos{0, 0, 0, 0}, clip{0, 0, 0, 0};
    OLEINPLACEFRAMEINFO info{};
    info.cb = sizeof info;
    inPlace->GetWindowContext(frame.Put(), doc.Put(), &pos, &clip, &info);
    if (PosRect) pos = *PosRect;
    FWnd.Reset(CreateWindowExW(0, kWindowClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, pos.left, pos.top,
                               pos.right - pos.left, pos.bottom - pos.top, parent, nullptr, gModule, nullptr));
    if (!FWnd) {
      inPlace->OnInPlaceDeactivate();
      return E_FAIL;
    }
    SetWindowLongPtrW(FWnd.Get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetTimer(FWnd.Get(), 1, kTimerMs, nullptr);
    FInPlaceSite = std::move(inPlace);
    Log(FInstance, "activate " + Hex(reinterpret_cast<UINT_PTR>(FWnd.Get())) + " " +
                       Hex(reinterpret_cast<UINT_PTR>(parent)) + " " + std::to_string(pos.left) + " " +
                       std::to_string(pos.top) + " " + std::to_string(pos.right) + " " + std::to_string(pos.bottom));
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

STDMETHODIMP TFakeFlash::InPlaceDeactivate() {
  if (!FWnd) return S_OK;
  // The window's last messages no longer reach this object, and Reset lets
  // go of the member before it destroys the window.
  SetWindowLongPtrW(FWnd.Get(), GWLP_USERDATA, 0);
  FWnd.Reset();  // its timer goes with it
  if (FInPlaceSite) {
    FInPlaceSite->OnInPlaceDeactivate();
    FInPlaceSite.Reset();
  }
  Log(FInstance, "deactivate");
  return S_OK;
}

STDMETHODIMP TFakeFlash::SetObjectRects(LPCRECT Pos, LPCRECT) {
  if (!Pos) return E_POINTER;
  Log(FInstance, "rects " + std::to_string(Pos->left) + " " + std::to_string(Pos->top) + " " +
                     std::to_string(Pos->right) + " " + std::to_string(Pos->bottom));
  if (FWnd) MoveWindow(FWnd.Get(), Pos->left, Pos->top, Pos->right - Pos->left, Pos->bottom - Pos->top, TRUE);
  return S_OK;
}

HRESULT TFakeFlash::Invoke(DISPID Id, WORD Flags, DISPPARAMS* Params, VARIANT*) {
  try {
    if (!(Flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF))) {
      Log(FInstance, "invoke " + std::to_string(Id) + " " + std::to_string(Flags));
      return DISP_E_MEMBERNOTFOUND;
    }
    // A put carries exactly one argument, named DISPID_PROPERTYPUT.
    if (!Params || Params->cArgs != 1 || Params->cNamedArgs != 1 || !Params->rgdispidNamedArgs ||
        Params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) {
      Log(FInstance, "put-malformed " + std::to_string(Id));
      return DISP_E_PARAMNOTOPTIONAL;
    }
    if (Refused(std::to_wstring(Id))) {
      Log(FInstance, "put-refused " + std::to_string(Id));
      return DISP_E_EXCEPTION;
    }
    const VARIANT& v = Params->rgvarg[0];
    std::string line = "put " + std::to_string(Id) + " ";
    switch (V_VT(&v)) {
      case VT_BOOL: line += "bool " + std::to_string(V_BOOL(&v)); break;
      case VT_I4: line += "int " + std::to_string(V_I4(&v)); break;
      case VT_BSTR: line += "text " + Field(V_BSTR(&v)); break;
      default: line += "vt" + std::to_string(V_VT(&v)); break;
    }
    Log(FInstance, line);
    if (Id == 123 && V_VT(&v) == VT_I4) {
      // Flash colours are 0xRRGGBB.
      const auto c = static_cast<unsigned>(V_I4(&v));
      FBackground = RGB((c >> 16) & 255, (c >> 8) & 255, c & 255);
      if (FWnd) InvalidateRect(FWnd.Get(), nullptr, TRUE);
    }
    if (Id == kDispMovie && V_VT(&v) == VT_BSTR) LoadMovie(V_BSTR(&v));
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT TFakeFlash::CallMethod(int Slot) {
  try {
    const char* name = Slot == 29 ? "Stop" : Slot == 33 ? "StopPlay" : Slot == 95 ? "DisableLocalSecurity" : nullptr;
    const std::string label = name ? name : "slot" + std::to_string(Slot);
    if (name && Refused(TextToWide(name, CP_UTF8))) {
      Log(FInstance, "call-refused " + label);
      return E_FAIL;
    }
    Log(FInstance, "call " + label);
    if (Slot == 29 || Slot == 33) FTicksToFire = -1;  // a stopped movie sends nothing more
    if (Slot == 29) PumpWhileStopping();
    return name ? S_OK : E_NOTIMPL;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

void TFakeFlash::PumpWhileStopping() {
  const DWORD ms = StopPumpMs();
  if (ms == 0) return;
  // Whatever the handlers do meanwhile, this object lives until the call
  // returns.
  const auto self = TComPtr<IOleObject>::AddRefOf(this);
  // A player that still reads its movie while it stops: nobody may delete
  // the file meanwhile.
  TUniqueFile held;
  if (!EnvW(L"PL_FAKEPLAYER_STOP_HOLDS_MOVIE").empty() && !FMoviePath.empty())
    held.Reset(CreateFileW(FMoviePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
  Log(FInstance, held ? "stop-pump begin holding" : "stop-pump begin");
  long handled = 0;
  bool quit = false;
  const ULONGLONG end = GetTickCount64() + ms;
  for (ULONGLONG now = GetTickCount64(); now < end && !quit; now = GetTickCount64()) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
    MSG msg;
    while (!quit && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        // Not ours to take: the host's loop ends on it.
        PostQuitMessage(static_cast<int>(msg.wParam));
        quit = true;
        break;
      }
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
      ++handled;
    }
  }
  Log(FInstance, "stop-pump end " + std::to_string(handled));
}

void TFakeFlash::LoadMovie(BSTR Path) {
  FTicksToFire = -1;
  const std::wstring path = Path ? std::wstring(Path, SysStringLen(Path)) : std::wstring();
  const TUniqueFile f(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f) {
    Log(FInstance, "load-failed " + Field(Path) + " " + std::to_string(GetLastError()));
    return;
  }
  FMoviePath = path;
  std::string data;
  LARGE_INTEGER size{};
  if (GetFileSizeEx(f.Get(), &size) && size.QuadPart <= kMaxMovieBytes) {
    data.resize(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    if (!data.empty() && !ReadFile(f.Get(), data.data(), static_cast<DWORD>(data.size()), &got, nullptr)) got = 0;
    data.resize(got);
  }
  const auto command = FindFSCommand(data);
  Log(FInstance, "load " + Field(Path) + " " + std::to_string(data.size()) + " " +
                     (command ? "fscommand" : "none"));
  if (command) {
    FPendingCommand = *command;
    FTicksToFire = kTicksBeforeFire;
  }
}

void TFakeFlash::OnTimerTick() {
  ++FTimerCount;
  Log(FInstance, "timer " + std::to_string(FTimerCount));
  if (FTicksToFire > 0 && --FTicksToFire == 0) {
    FTicksToFire = -1;
    FireFSCommand(FPendingCommand);
  }
}

// Calls every connected sink with DISPID 150 and the two texts, the
// command last in the argument array as dispatch arguments go in reverse.
void TFakeFlash::FireFSCommand(const TFsCommand& Command) {
  Log(FInstance, "fire " + EscapeLogField(Command.Command) + " " + EscapeLogField(Command.Args));
  std::vector<TComPtr<IDispatch>> sinks;
  for (auto& s : FSinks) sinks.push_back(TComPtr<IDispatch>::AddRefOf(s.second.Get()));
  // A sink may drop its last reference to us.
  const auto self = TComPtr<IOleObject>::AddRefOf(this);
  const std::wstring cmd = TextToWide(Command.Command, CP_UTF8), args = TextToWide(Command.Args, CP_UTF8);
  for (TComPtr<IDispatch>& sink : sinks) {
    const TBstr commandText(SysAllocStringLen(cmd.data(), static_cast<UINT>(cmd.size())));
    const TBstr argsText(SysAllocStringLen(args.data(), static_cast<UINT>(args.size())));
    VARIANT argv[2];  // they only borrow the texts
    VariantInit(&argv[0]);
    VariantInit(&argv[1]);
    V_VT(&argv[1]) = VT_BSTR;
    V_BSTR(&argv[1]) = commandText.Get();
    V_VT(&argv[0]) = VT_BSTR;
    V_BSTR(&argv[0]) = argsText.Get();
    DISPPARAMS params{argv, nullptr, 2, 0};
    const HRESULT hr =
        sink->Invoke(kDispFSCommand, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
    sink.Reset();
    Log(FInstance, "fired " + Hex(static_cast<unsigned long>(hr)));
  }
}

HRESULT TFakeFlash::AdviseSink(IUnknown* Sink, DWORD* Cookie) {
  if (!Sink || !Cookie) return E_POINTER;
  *Cookie = 0;
  // Like the real control, insist on the event interface itself.
  TComPtr<IDispatch> events;
  if (FAILED(Sink->QueryInterface(kIidEvents, events.PutVoid())) || !events) {
    Log(FInstance, "advise-refused");
    return CONNECT_E_CANNOTCONNECT;
  }
  try {
    FSinks.emplace_back(FNextCookie, std::move(events));
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  *Cookie = FNextCookie++;
  Log(FInstance, "advise " + std::to_string(*Cookie));
  return S_OK;
}

HRESULT TFakeFlash::UnadviseSink(DWORD Cookie) {
  for (auto it = FSinks.begin(); it != FSinks.end(); ++it) {
    if (it->first == Cookie) {
      const TComPtr<IDispatch> sink = std::move(it->second);
      FSinks.erase(it);
      Log(FInstance, "unadvise " + std::to_string(Cookie));
      return S_OK;
    }
  }
  return CONNECT_E_NOCONNECTION;
}

LRESULT CALLBACK TFakeFlash::WindowProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) noexcept {
  auto* self = reinterpret_cast<TFakeFlash*>(GetWindowLongPtrW(Wnd, GWLP_USERDATA));
  if (!self) return DefWindowProcW(Wnd, Msg, WParam, LParam);
  try {
    return self->HandleMessage(Wnd, Msg, WParam, LParam);
  } catch (...) {
    return 0;
  }
}

LRESULT TFakeFlash::HandleMessage(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
  if (Msg == WM_TIMER) {
    const auto self = TComPtr<IOleObject>::AddRefOf(this);  // a handler may drop the last reference
    OnTimerTick();
    return 0;
  }
  if (IsInputMessage(Msg)) {
    const char* name = MessageName(Msg);
    Log(FInstance, std::string("msg ") + (name ? name : Hex(Msg)) + " " + Hex(WParam) + " " +
                       Hex(static_cast<unsigned long long>(LParam)));
    return 0;
  }
  switch (Msg) {
    case WM_ERASEBKGND: return 1;
    case WM_PAINT: {
      const TPaintScope paint(Wnd);
      const TUniqueGdiObject brush(CreateSolidBrush(FBackground));
      FillRect(paint.Dc(), &paint.Area(), static_cast<HBRUSH>(brush.Get()));
      return 0;
    }
    default: return DefWindowProcW(Wnd, Msg, WParam, LParam);
  }
}

// ---- TConnectionPoint: shares the control's reference count ------------------------

STDMETHODIMP TConnectionPoint::QueryInterface(REFIID Riid, void** Out) {
  return AnswerQueryInterface(Riid, Out, {{IID_IUnknown, this}, {IID_IConnectionPoint, this}});
}
STDMETHODIMP_(ULONG) TConnectionPoint::AddRef() { return FOwner->AddRef(); }
STDMETHODIMP_(ULONG) TConnectionPoint::Release() { return FOwner->Release(); }
STDMETHODIMP TConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** Out) {
  if (!Out) return E_POINTER;
  *Out = FOwner;
  FOwner->AddRef();
  return S_OK;
}
STDMETHODIMP TConnectionPoint::Advise(IUnknown* Sink, DWORD* Cookie) { return FOwner->AdviseSink(Sink, Cookie); }
STDMETHODIMP TConnectionPoint::Unadvise(DWORD Cookie) { return FOwner->UnadviseSink(Cookie); }

// ---- class factory ---------------------------------------------------------------

class TFactory final : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID Riid, void** Out) override {
    return AnswerQueryInterface(Riid, Out, {{IID_IUnknown, this}, {IID_IClassFactory, this}});
  }
  // Static object: its lifetime is the module's.
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP CreateInstance(IUnknown* Outer, REFIID Riid, void** Out) override {
    if (!Out) return E_POINTER;
    *Out = nullptr;
    if (Outer) return CLASS_E_NOAGGREGATION;
    try {
      if (Refused(L"create")) {
        Log(0, "create-refused");
        return E_FAIL;
      }
      const TComPtr<TFakeFlash> object(new TFakeFlash());
      return object->QueryInterface(Riid, Out);
    } catch (...) {
      return E_OUTOFMEMORY;
    }
  }
  STDMETHODIMP LockServer(BOOL Lock) override {
    if (Lock) ++gLocks; else --gLocks;
    return S_OK;
  }
};

TFactory gFactory;

void RegisterWindowClass() {
  WNDCLASSW wc{};
  wc.lpfnWndProc = &TFakeFlash::WindowProc;
  wc.hInstance = gModule;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.lpszClassName = kWindowClass;
  RegisterClassW(&wc);
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE Module, DWORD Reason, LPVOID) {
  if (Reason == DLL_PROCESS_ATTACH) {
    gModule = Module;
    DisableThreadLibraryCalls(Module);
    RegisterWindowClass();
  } else if (Reason == DLL_PROCESS_DETACH) {
    UnregisterClassW(kWindowClass, Module);
  }
  return TRUE;
}

HRESULT WINAPI DllGetClassObject(REFCLSID Clsid, REFIID Riid, void** Out) {
  if (!Out) return E_POINTER;
  *Out = nullptr;
  if (!IsEqualCLSID(Clsid, kClsidFlash)) return CLASS_E_CLASSNOTAVAILABLE;
  return gFactory.QueryInterface(Riid, Out);
}

HRESULT WINAPI DllCanUnloadNow() { return gObjects == 0 && gLocks == 0 ? S_OK : S_FALSE; }

// For leak tests: how many control instances are alive in this process.
LONG WINAPI FakePlayerLiveObjects() { return gObjects; }

}  // extern "C"
