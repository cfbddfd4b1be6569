#include "flash/shockwave_flash_win32.h"

#include <commctrl.h>
#include <olectl.h>

#include <cstdio>

#include "util/com_object_win32.h"

const CLSID CLSID_ShockwaveFlash = {0xD27CDB6E, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const IID DIID_DShockwaveFlashEvents = {0xD27CDB6D, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

namespace {

std::string Describe(const char* What, HRESULT Code) {
  char buf[160];
  std::snprintf(buf, sizeof buf, "%s failed (0x%08lX)", What, static_cast<unsigned long>(Code));
  return buf;
}

// Posted to the control's window to deliver a queued FSCommand from the
// message loop rather than from inside the control's own event call.
UINT FSCommandMessage() {
  static const UINT id = RegisterWindowMessageW(L"PlShockwaveFlashFSCommand");
  return id;
}

// The text of one event argument: a BSTR, a BSTR by reference, or anything
// that converts to one. A NULL BSTR is an empty text.
std::wstring ArgumentText(const VARIANT& Arg) {
  if (V_VT(&Arg) == VT_BSTR) return V_BSTR(&Arg) ? std::wstring(V_BSTR(&Arg), SysStringLen(V_BSTR(&Arg))) : L"";
  if (V_VT(&Arg) == (VT_BSTR | VT_BYREF))
    return V_BSTRREF(&Arg) && *V_BSTRREF(&Arg) ? std::wstring(*V_BSTRREF(&Arg), SysStringLen(*V_BSTRREF(&Arg))) : L"";
  TVariant text;
  std::wstring result;
  if (SUCCEEDED(VariantChangeType(text.Get(), const_cast<VARIANT*>(&Arg), 0, VT_BSTR)) && V_BSTR(text.Get()))
    result.assign(V_BSTR(text.Get()), SysStringLen(V_BSTR(text.Get())));
  return result;
}

}  // namespace

EOleError::EOleError(HRESULT Code, const std::string& What) : std::runtime_error(Describe(What.c_str(), Code)), FCode(Code) {}

// ---- client site, in-place site and frame -------------------------------------
//
// One object answers for all three: they share IUnknown and IOleWindow, and
// the control only ever needs the parent window and the bounds from them.

class TFlashSite final : public TComObject<IOleClientSite, IOleInPlaceSite, IOleInPlaceFrame> {
 public:
  explicit TFlashSite(TShockwaveFlash* Owner) : FOwner(Owner) {}
  // The wrapper is going away: answer without it from now on.
  void Detach() { FOwner = nullptr; }

  STDMETHODIMP QueryInterface(REFIID Riid, void** Out) override {
    IOleClientSite* const client = this;
    IOleInPlaceSite* const site = this;
    IOleInPlaceFrame* const frame = this;
    return AnswerQueryInterface(Riid, Out,
                                {{IID_IUnknown, client},
                                 {IID_IOleClientSite, client},
                                 {IID_IOleInPlaceSite, site},
                                 {IID_IOleWindow, site},
                                 {IID_IOleInPlaceFrame, frame},
                                 {IID_IOleInPlaceUIWindow, frame}});
  }

  // IOleClientSite
  STDMETHODIMP SaveObject() override { return S_OK; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** Out) override { return AnswerNoObject(Out); }
  STDMETHODIMP GetContainer(IOleContainer** Out) override {
    if (Out) *Out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IOleWindow (shared by the in-place site and the frame)
  STDMETHODIMP GetWindow(HWND* Out) override {
    if (!Out) return E_POINTER;
    *Out = FOwner ? FOwner->FParent : nullptr;
    return *Out ? S_OK : E_FAIL;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // IOleInPlaceSite
  STDMETHODIMP CanInPlaceActivate() override { return FOwner && FOwner->FParent ? S_OK : S_FALSE; }
  STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnUIActivate() override { return S_OK; }
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** Frame, IOleInPlaceUIWindow** Doc, LPRECT PosRect,
                                LPRECT ClipRect, LPOLEINPLACEFRAMEINFO FrameInfo) override {
    if (!Frame || !Doc || !PosRect || !ClipRect || !FrameInfo) return E_POINTER;
    *Frame = static_cast<IOleInPlaceFrame*>(this);
    AddRef();
    *Doc = nullptr;
    const RECT bounds = FOwner ? FOwner->FBounds : RECT{0, 0, 0, 0};
    *PosRect = bounds;
    *ClipRect = bounds;
    FrameInfo->fMDIApp = FALSE;
    FrameInfo->hwndFrame = FOwner ? FOwner->FParent : nullptr;
    FrameInfo->haccel = nullptr;
    FrameInfo->cAccelEntries = 0;
    return S_OK;
  }
  STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
  STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
  STDMETHODIMP DiscardUndoState() override { return S_OK; }
  STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
  // The control asks for other bounds; the host's bounds stay in charge.
  STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

  // IOleInPlaceUIWindow, IOleInPlaceFrame: no menus, borders or status bar.
  STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
  STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }
  STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return S_OK; }
  STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
  STDMETHODIMP RemoveMenus(HMENU) override { return S_OK; }
  STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
  STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
  STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

 private:
  TShockwaveFlash* FOwner;
};

// ---- event sink ---------------------------------------------------------------------

class TFlashEventSink final : public TComObject<IDispatch> {
 public:
  explicit TFlashEventSink(TShockwaveFlash* Owner) : FOwner(Owner) {}
  void Detach() { FOwner = nullptr; }

  // The control asks for its event interface, not only IDispatch.
  STDMETHODIMP QueryInterface(REFIID Riid, void** Out) override {
    return AnswerQueryInterface(Riid, Out, {{IID_IUnknown, this}, {IID_IDispatch, this}, {DIID_DShockwaveFlashEvents, this}});
  }
  STDMETHODIMP GetTypeInfoCount(UINT* Count) override { return AnswerNoTypeInfo(Count); }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** Out) override { return AnswerNoObject(Out); }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }

  // Dispatch arguments come last-first: rgvarg[1] is the command,
  // rgvarg[0] the arguments. Events we do not handle are accepted quietly.
  STDMETHODIMP Invoke(DISPID Id, REFIID, LCID, WORD, DISPPARAMS* Params, VARIANT*, EXCEPINFO*, UINT*) override {
    if (Id != DISPID_FLASH_FSCOMMAND || !FOwner) return S_OK;
    if (!Params || Params->cArgs < 2 || !Params->rgvarg) return DISP_E_BADPARAMCOUNT;
    try {
      FOwner->QueueFSCommand(ArgumentText(Params->rgvarg[Params->cArgs - 1]),
                             ArgumentText(Params->rgvarg[Params->cArgs - 2]));
    } catch (...) {
      // A handler's failure stays on our side of the COM boundary.
    }
    return S_OK;
  }

 private:
  TShockwaveFlash* FOwner;
};

// ---- TShockwaveFlash ----------------------------------------------------------------

TShockwaveFlash::TShockwaveFlash(HWND Parent) {
  try {
    HRESULT hr = CoCreateInstance(CLSID_ShockwaveFlash, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                  FOleObject.PutVoid());
    if ((FAILED(hr) || !FOleObject) && CanCreateBrowserPlayer()) {
      FOleObject.Reset();
      try {
        FBrowser = std::make_unique<TBrowserPlayer>(
            [this](std::wstring Command, std::wstring Args) { QueueFSCommand(std::move(Command), std::move(Args)); });
      } catch (const std::exception& e) {
        throw EOleError(E_FAIL, std::string("Starting the browser player: ") + e.what());
      }
      if (Parent) SetParentWindow(Parent);
      return;
    }
    if (FAILED(hr) || !FOleObject) throw EOleError(FAILED(hr) ? hr : E_NOINTERFACE, "Creating the Flash control");
    FSite = TComPtr<TFlashSite>(new TFlashSite(this));
    hr = FOleObject->SetClientSite(FSite.Get());
    if (FAILED(hr)) throw EOleError(hr, "SetClientSite");
    hr = QueryInterfaceTo(FOleObject.Get(), FDispatch);
    if (FAILED(hr)) throw EOleError(hr, "QueryInterface(IDispatch)");

    // Without an event connection the control still plays; it just cannot
    // tell us about FSCommands.
    TComPtr<IConnectionPointContainer> container;
    TComPtr<IConnectionPoint> point;
    if (SUCCEEDED(QueryInterfaceTo(FOleObject.Get(), container)) &&
        SUCCEEDED(container->FindConnectionPoint(DIID_DShockwaveFlashEvents, point.Put())) && point) {
      FSink = TComPtr<TFlashEventSink>(new TFlashEventSink(this));
      FEvents.Advise(std::move(point), FSink.Get());
    }
    if (Parent) SetParentWindow(Parent);
  } catch (...) {
    Teardown();
    throw;
  }
}

TShockwaveFlash::~TShockwaveFlash() { Teardown(); }

void TShockwaveFlash::Teardown() {
  FollowParent(false);
  // The control's window procedure goes back before the control is told to
  // deactivate, which destroys that window.
  UnsubclassControl();
  // The browser player's window and page go with it; the browser ends with
  // the run's last player.
  FBrowser.reset();
  if (FInPlaceObject) {
    FInPlaceObject->InPlaceDeactivate();
    FInPlaceObject.Reset();
  }
  FControlWnd = nullptr;
  FActive = false;
  FEvents.Reset();
  if (FOleObject) {
    FOleObject->Close(OLECLOSE_NOSAVE);
    FOleObject->SetClientSite(nullptr);
  }
  FDispatch.Reset();
  FOleObject.Reset();
  if (FSink) {
    FSink->Detach();
    FSink.Reset();
  }
  if (FSite) {
    FSite->Detach();
    FSite.Reset();
  }
  std::lock_guard<std::mutex> guard(FCommandLock);
  FPendingCommands.clear();
}

void TShockwaveFlash::SetParentWindow(HWND Parent) {
  if (Parent == FParent) return;
  if (!Parent) return;  // an active control always needs a parent window
  FollowParent(false);
  FParent = Parent;
  if (!FActive) {
    Activate();
  } else if (FControlWnd) {
    ::SetParent(FControlWnd, FParent);
  }
  if (FAlignClient) {
    AlignToParentClient();
  } else {
    ApplyBounds();
  }
}

void TShockwaveFlash::Activate() {
  if (FActive || !FParent || (!FOleObject && !FBrowser)) return;
  if (FAlignClient) GetClientRect(FParent, &FBounds);
  if (FBrowser) {
    FControlWnd = FBrowser->CreateWindowIn(FParent, FBounds);
    FActive = true;
    SubclassControl();
    if (!FVisible) ShowWindow(FControlWnd, SW_HIDE);
    return;
  }
  RECT bounds = FBounds;
  const HRESULT hr = FOleObject->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, FSite.Get(), 0, FParent, &bounds);
  if (FAILED(hr)) throw EOleError(hr, "In-place activation of the Flash control");
  FActive = true;
  if (SUCCEEDED(QueryInterfaceTo(FOleObject.Get(), FInPlaceObject))) {
    HWND wnd = nullptr;
    if (SUCCEEDED(FInPlaceObject->GetWindow(&wnd))) FControlWnd = wnd;
  }
  SubclassControl();
  if (!FVisible && FControlWnd) ShowWindow(FControlWnd, SW_HIDE);
}

void TShockwaveFlash::SetBounds(int Left, int Top, int Width, int Height) {
  FAlignClient = false;
  FollowParent(false);
  FBounds = RECT{Left, Top, Left + Width, Top + Height};
  ApplyBounds();
}

void TShockwaveFlash::AlignToParentClient() {
  FAlignClient = true;
  if (!FParent) return;
  GetClientRect(FParent, &FBounds);
  ApplyBounds();
  FollowParent(true);
}

void TShockwaveFlash::ApplyBounds() {
  if (FBrowser) return FBrowser->SetBounds(FBounds);
  if (!FInPlaceObject) return;
  const HRESULT hr = FInPlaceObject->SetObjectRects(&FBounds, &FBounds);
  if (FAILED(hr)) throw EOleError(hr, "SetObjectRects");
}

void TShockwaveFlash::Hide() {
  FVisible = false;
  if (FControlWnd) ShowWindow(FControlWnd, SW_HIDE);
}

// ---- following the parent's size -------------------------------------------------

void TShockwaveFlash::FollowParent(bool Follow) {
  if (Follow == static_cast<bool>(FParentSubclass)) return;
  if (Follow) {
    if (FParent)
      FParentSubclass.Set(FParent, &TShockwaveFlash::ParentProc, reinterpret_cast<UINT_PTR>(this),
                          reinterpret_cast<DWORD_PTR>(this));
  } else {
    FParentSubclass.Reset();
  }
}

LRESULT CALLBACK TShockwaveFlash::ParentProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam, UINT_PTR,
                                             DWORD_PTR Data) noexcept {
  auto* self = reinterpret_cast<TShockwaveFlash*>(Data);
  if (Msg == WM_SIZE && self->FAlignClient) {
    self->FBounds = RECT{0, 0, LOWORD(LParam), HIWORD(LParam)};
    try {
      self->ApplyBounds();
    } catch (...) {
      // The control keeps its old bounds.
    }
  } else if (Msg == WM_NCDESTROY) {
    self->FParentSubclass.Reset();
  }
  return DefSubclassProc(Wnd, Msg, WParam, LParam);
}

// ---- the control's window ------------------------------------------------------------

// The control's window belongs to the control's own class (or to the browser
// player), so the wrapper reaches it the way it reaches the parent: through
// a subclass whose reference data is the wrapper. The window's class and
// its slots stay the control's.
void TShockwaveFlash::SubclassControl() {
  if (!FControlWnd || FControlSubclass) return;
  FControlSubclass.Set(FControlWnd, &TShockwaveFlash::ControlProc, reinterpret_cast<UINT_PTR>(this),
                       reinterpret_cast<DWORD_PTR>(this));
}

void TShockwaveFlash::UnsubclassControl() { FControlSubclass.Reset(); }

// Runs only inside ControlProc, where DefSubclassProc knows which procedure
// of the window comes next.
void TShockwaveFlash::WndProc(TFlashMessage& Message) {
  Message.Result = FControlSubclass ? DefSubclassProc(FControlWnd, Message.Msg, Message.WParam, Message.LParam)
                                    : DefWindowProcW(FControlWnd, Message.Msg, Message.WParam, Message.LParam);
}

LRESULT CALLBACK TShockwaveFlash::ControlProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam, UINT_PTR,
                                              DWORD_PTR Data) noexcept {
  auto* self = reinterpret_cast<TShockwaveFlash*>(Data);
  if (Msg == FSCommandMessage()) {
    try {
      self->DeliverFSCommands();  // may free self
    } catch (...) {
    }
    return 0;
  }
  if (Msg == WM_NCDESTROY) {
    // The control's window goes away without us: let go of it first.
    self->UnsubclassControl();
    self->FControlWnd = nullptr;
    return DefSubclassProc(Wnd, Msg, WParam, LParam);
  }
  TFlashMessage message{Msg, WParam, LParam, 0};
  // The browser player learns whether its time was withheld.
  TBrowserPlayer* const browser = Msg == WM_TIMER ? self->FBrowser.get() : nullptr;
  if (browser) browser->BeginTimerOffer();
  try {
    self->WndProc(message);
  } catch (...) {
    message.Result = 0;
  }
  if (browser) browser->EndTimerOffer();
  return message.Result;
}

// ---- FSCommand delivery ----------------------------------------------------------------

void TShockwaveFlash::QueueFSCommand(std::wstring Command, std::wstring Args) {
  {
    std::lock_guard<std::mutex> guard(FCommandLock);
    FPendingCommands.emplace_back(std::move(Command), std::move(Args));
  }
  if (FControlWnd && FControlSubclass && PostMessageW(FControlWnd, FSCommandMessage(), 0, 0)) return;
  // No window of ours to post to: deliver now (the control's sink runs on
  // the GUI thread; the browser player always has its window).
  if (!FBrowser) DeliverFSCommands();
}

void TShockwaveFlash::DeliverFSCommands() {
  std::pair<std::wstring, std::wstring> command;
  {
    std::lock_guard<std::mutex> guard(FCommandLock);
    if (FPendingCommands.empty()) return;
    command = std::move(FPendingCommands.front());
    FPendingCommands.pop_front();
  }
  // A copy of the handler: it may free this wrapper, and with it OnFSCommand.
  const TFSCommandEvent handler = OnFSCommand;
  if (handler) handler(*this, command.first, command.second);
}

// ---- properties and methods ------------------------------------------------------------

void TShockwaveFlash::PutProperty(DISPID Id, VARIANT& Value, const char* Name) {
  if (!FDispatch) throw EOleError(E_UNEXPECTED, Name);
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{&Value, &named, 1, 1};
  TExcepInfo excep;
  UINT argError = 0;
  const HRESULT hr =
      FDispatch->Invoke(Id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr, &excep, &argError);
  if (FAILED(hr)) throw EOleError(hr, std::string("Setting ") + Name);
}

void TShockwaveFlash::PutBool(DISPID Id, bool Value, const char* Name) {
  TVariant v;
  V_VT(v.Get()) = VT_BOOL;
  V_BOOL(v.Get()) = Value ? VARIANT_TRUE : VARIANT_FALSE;
  PutProperty(Id, *v.Get(), Name);
}

void TShockwaveFlash::PutInt(DISPID Id, int Value, const char* Name) {
  TVariant v;
  V_VT(v.Get()) = VT_I4;
  V_I4(v.Get()) = Value;
  PutProperty(Id, *v.Get(), Name);
}

void TShockwaveFlash::PutText(DISPID Id, const std::wstring& Value, const char* Name) {
  TVariant v;
  V_BSTR(v.Get()) = SysAllocStringLen(Value.data(), static_cast<UINT>(Value.size()));
  if (!V_BSTR(v.Get())) throw EOleError(E_OUTOFMEMORY, Name);
  V_VT(v.Get()) = VT_BSTR;
  PutProperty(Id, *v.Get(), Name);
}

// Each put goes to the browser player where it stands in, else to the control.
void TShockwaveFlash::SetLoop(bool Value) {
  if (FBrowser) return FBrowser->SetLoop(Value);
  PutBool(DISPID_FLASH_LOOP, Value, "Loop");
}
void TShockwaveFlash::SetMenu(bool Value) {
  if (FBrowser) return FBrowser->SetMenu(Value);
  PutBool(DISPID_FLASH_MENU, Value, "Menu");
}
void TShockwaveFlash::SetQuality(int Value) {
  if (FBrowser) return FBrowser->SetQuality(Value);
  PutInt(DISPID_FLASH_QUALITY, Value, "Quality");
}
void TShockwaveFlash::SetFlashVars(const std::wstring& Value) {
  if (FBrowser) return FBrowser->SetFlashVars(Value);
  PutText(DISPID_FLASH_FLASHVARS, Value, "FlashVars");
}
void TShockwaveFlash::SetBackgroundColor(int Value) {
  if (FBrowser) return FBrowser->SetBackgroundColor(Value);
  PutInt(DISPID_FLASH_BACKGROUNDCOLOR, Value, "BackgroundColor");
}
void TShockwaveFlash::SetMovie(const std::wstring& Value) {
  if (FBrowser) return FBrowser->SetMovie(Value);
  PutText(DISPID_FLASH_MOVIE, Value, "Movie");
}
void TShockwaveFlash::SetScale(const std::wstring& Value) {
  if (FBrowser) return FBrowser->SetScale(Value);
  PutText(DISPID_FLASH_SCALE, Value, "Scale");
}

// Methods go through IShockwaveFlash's method table by position. The table
// is only touched on an object that answered QueryInterface for it.
void TShockwaveFlash::CallSlot(int Slot, const char* Name) {
  if (!FOleObject) throw EOleError(E_UNEXPECTED, Name);
  TComPtr<IShockwaveFlash> dual;
  HRESULT hr = QueryInterfaceTo(FOleObject.Get(), dual);
  if (FAILED(hr)) throw EOleError(hr, std::string(Name) + ": IShockwaveFlash");
  using TMethod = HRESULT(STDMETHODCALLTYPE*)(IUnknown*);
  const TMethod* table = *reinterpret_cast<TMethod* const*>(dual.Get());
  hr = table[Slot](dual.Get());
  if (FAILED(hr)) throw EOleError(hr, Name);
}

void TShockwaveFlash::Stop() {
  if (FBrowser) return FBrowser->Stop();
  CallSlot(SLOT_FLASH_STOP, "Stop");
}
void TShockwaveFlash::StopPlay() {
  if (FBrowser) return FBrowser->StopPlay();
  CallSlot(SLOT_FLASH_STOPPLAY, "StopPlay");
}
void TShockwaveFlash::LimitFrameRate(unsigned MinGapMs) {
  if (FBrowser) FBrowser->SetMinFrameGap(MinGapMs);
}
void TShockwaveFlash::DisableLocalSecurity() {
  if (FBrowser) return;  // the emulator's movies have no local security to lift
  CallSlot(SLOT_FLASH_DISABLELOCALSECURITY, "DisableLocalSecurity");
}
