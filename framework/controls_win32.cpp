#include "framework/controls_win32.h"

#include <algorithm>
#include <optional>
#include <unordered_map>

#include "util/text_win32.h"

// The drawing surface of a control's window: a DC taken with GetDC when
// first needed and given back once the message being handled is done, or
// the paint DC while Paint runs.
class TControlCanvas : public TCanvas {
 public:
  explicit TControlCanvas(TControl& Control) : FControl(Control) {}
  ~TControlCanvas() override { FreeHandle(); }

  void FreeHandle() {
    FWindowDc.reset();
    FHandle = nullptr;
  }
  void UsePaintDc(HDC Dc) {
    FreeHandle();
    FHandle = Dc;
  }

 protected:
  void CreateHandle() override {
    FHandle = FWindowDc.emplace(FControl.Handle()).Get();
  }

 private:
  TControl& FControl;
  std::optional<TWindowDC> FWindowDc;  // none while the paint DC is in use
};

namespace {

// Windows of this thread that the framework made. Only the GUI
// thread creates controls, so no lock guards it.
//
// A window of one class of ours (the application's, a message timer's)
// keeps its object in GWLP_USERDATA, read only by that class's own
// procedure. Controls cannot: FindControl answers for any window of the
// thread (the message loop asks about each message's window and its
// parents), and a system-class window (BUTTON), a foreign one (the player
// control's) or a message box's may carry anything in GWLP_USERDATA; only
// this list tells which windows are controls.
std::unordered_map<HWND, TControl*>& HandleMap() {
  static std::unordered_map<HWND, TControl*> map;
  return map;
}

// The control whose CreateWindowEx is under way: its window's first
// message binds the two.
thread_local TControl* gCreating = nullptr;

LPCSTR CursorResource(TCursor Cursor) { return Cursor == crHandPoint ? IDC_HAND : IDC_ARROW; }

}  // namespace

LRESULT CALLBACK ControlWindowProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) noexcept {
  try {
    TControl* control = FindControl(Wnd);
    if (!control) {
      control = gCreating;
      if (!control) return DefWindowProcW(Wnd, Msg, WParam, LParam);
      gCreating = nullptr;
      control->BindHandle(Wnd);
    }
    return control->MainWndProc(Msg, WParam, LParam);
  } catch (...) {
    // The handler chain catches for itself; this is the bookkeeping around it.
    HandleApplicationException(std::current_exception());
    return 0;
  }
}

bool RegisterOwnWindowClass(const wchar_t* Name, WNDPROC Proc, UINT Style) {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  if (GetClassInfoExW(instance, Name, &wc)) return true;
  wc = {};
  wc.cbSize = sizeof wc;
  wc.style = Style;
  wc.lpfnWndProc = Proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.lpszClassName = Name;
  return RegisterClassExW(&wc) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

TControl* FindControl(HWND Wnd) {
  if (!Wnd) return nullptr;
  auto& map = HandleMap();
  auto it = map.find(Wnd);
  return it == map.end() ? nullptr : it->second;
}

// ---- TControl ----

TControl::TControl(TComponent* AOwner) : TComponent(AOwner) {
  WindowProc = [this](TMessage& Message) { WndProc(Message); };
  FFont.OnChange = [this] {
    if (!FTakingParentFont) FParentFont = false;
    FontChanged();
  };
}

TControl::~TControl() {
  // Reached without Free(): the handler chain may name components that are
  // gone already, so only this class's own handling sees the last messages.
  WindowProc = nullptr;
  LeaveParent();
  *FAlive = false;
}

void TControl::BeforeDestruction() {
  TComponent::BeforeDestruction();
  DetachChildren();
  LeaveParent();
}

void TControl::LeaveParent() {
  DestroyHandle();
  if (!FParent) return;
  auto& list = FParent->FControls;
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
  FParent = nullptr;
}

LRESULT TControl::Perform(UINT Msg, WPARAM WParam, LPARAM LParam) {
  TMessage message{Msg, WParam, LParam, 0};
  if (WindowProc)
    WindowProc(message);
  else
    WndProc(message);
  return message.Result;
}

HWND TControl::Handle() {
  if (!FHandle) {
    if (Destroying()) throw EInvalidOperation("the control is being destroyed");
    // A parent creates its children's windows along with its own.
    if (FParent) FParent->HandleNeeded();
    if (!FHandle) CreateWnd();
  }
  return FHandle.Get();
}

void TControl::CreateParams(TCreateParams& Params) {
  Params.Caption = FCaption;
  Params.Style = WS_CHILD | WS_CLIPSIBLINGS | (FVisible ? WS_VISIBLE : 0) | (FEnabled ? 0 : WS_DISABLED);
  Params.X = FLeft;
  Params.Y = FTop;
  Params.Width = FWidth;
  Params.Height = FHeight;
  Params.WndParent = FParent ? FParent->Handle() : nullptr;
  Params.WinClassName = L"PlControl";
}

void TControl::CreateWnd() {
  TCreateParams params;
  CreateParams(params);
  if ((params.Style & WS_CHILD) && !params.WndParent) throw EInvalidOperation("the control has no parent window");
  if (!params.SystemClass &&
      !RegisterOwnWindowClass(params.WinClassName.c_str(), ControlWindowProc, params.WindowClassStyle))
    throw EInvalidOperation("cannot register the window class");

  TControl* const previous = gCreating;
  if (!params.SystemClass) gCreating = this;
  const HWND wnd = CreateWindowExW(params.ExStyle, params.WinClassName.c_str(), params.Caption.c_str(),
                                   params.Style, params.X, params.Y, params.Width, params.Height,
                                   params.WndParent, params.Menu, GetModuleHandleW(nullptr), nullptr);
  if (gCreating == this) gCreating = previous;
  if (!wnd) throw EInvalidOperation("cannot create the window");

  if (params.SystemClass) {
    BindHandle(wnd);
    FDefWndProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ControlWindowProc)));
    SendMessageW(wnd, WM_SETFONT, reinterpret_cast<WPARAM>(FFont.Handle()), FALSE);
  } else if (!FHandle) {
    BindHandle(wnd);
  }
  UpdateBoundsFromWindow();
}

void TControl::DestroyHandle() {
  const HWND wnd = FHandle.Get();
  if (!wnd) return;
  FHandle.Destroy();  // WM_NCDESTROY unbinds
  // Its last message never came here (a later subclass kept it): unbind it all the same.
  if (FindControl(wnd) == this) UnbindHandle(wnd);
}

void TControl::BindHandle(HWND Wnd) {
  FHandle.Reset(Wnd);
  HandleMap()[Wnd] = this;
}

void TControl::UnbindHandle(HWND Wnd) {
  if (FCanvas) FCanvas->FreeHandle();
  HandleMap().erase(Wnd);
  // Give a subclassed window its own procedure back, unless someone else
  // subclassed it after us (then theirs must stay in place).
  if (FDefWndProc && GetWindowLongPtrW(Wnd, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&ControlWindowProc))
    SetWindowLongPtrW(Wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(FDefWndProc));
  FDefWndProc = nullptr;
  if (FHandle.Get() == Wnd) FHandle.Release();  // gone, or going: nothing left to destroy
  FMouseInControl = false;
  FClicked = false;
}

LRESULT TControl::MainWndProc(UINT Msg, WPARAM WParam, LPARAM LParam) {
  TMessage message{Msg, WParam, LParam, 0};
  const std::shared_ptr<bool> alive = FAlive;
  ++FMessageDepth;
  try {
    // Through a copy: a handler may replace WindowProc (or put the saved
    // one back) while its own call is running.
    if (const TWndMethod proc = WindowProc)
      proc(message);
    else
      TControl::WndProc(message);
  } catch (...) {
    HandleApplicationException(std::current_exception());
  }
  if (!*alive) return message.Result;
  --FMessageDepth;
  if (Msg == WM_NCDESTROY && FHandle) UnbindHandle(FHandle.Get());
  if (FMessageDepth == 0 && FCanvas) FCanvas->FreeHandle();
  return message.Result;
}

void TControl::DefaultHandler(TMessage& Message) {
  if (Message.Msg >= CN_BASE && Message.Msg < CN_BASE + WM_USER) {
    // A notification nobody handled: what the parent's default would give.
    Message.Result = DefWindowProcW(FHandle ? GetParent(FHandle.Get()) : nullptr, Message.Msg - CN_BASE,
                                    Message.WParam, Message.LParam);
    return;
  }
  if (!FHandle) return;
  Message.Result = FDefWndProc
                       ? CallWindowProcW(FDefWndProc, FHandle.Get(), Message.Msg, Message.WParam, Message.LParam)
                       : DefWindowProcW(FHandle.Get(), Message.Msg, Message.WParam, Message.LParam);
}

void TControl::WndProc(TMessage& Message) {
  switch (Message.Msg) {
    case WM_WINDOWPOSCHANGED:
      DefaultHandler(Message);
      UpdateBoundsFromWindow();
      return;
    case WM_ERASEBKGND:
      if (!FDefWndProc) {
        RECT rc;
        GetClientRect(FHandle.Get(), &rc);
        TUniqueGdiObject brush(CreateSolidBrush(ColorToRGB(FColor)));
        FillRect(reinterpret_cast<HDC>(Message.WParam), &rc, static_cast<HBRUSH>(brush.Get()));
        Message.Result = 1;
        return;
      }
      break;
    case WM_PAINT:
      if (!FDefWndProc) {
        const TPaintScope paint(FHandle.Get());
        Canvas();
        FCanvas->UsePaintDc(paint.Dc());
        // The canvas lets go of the paint DC before EndPaint, also when Paint throws.
        const TScopeExit leavePaintDc([this] { FCanvas->UsePaintDc(nullptr); });
        Paint();
        Message.Result = 0;
        return;
      }
      break;
    case WM_SETCURSOR:
      if (FCursor != crDefault && reinterpret_cast<HWND>(Message.WParam) == FHandle.Get() &&
          LOWORD(Message.LParam) == HTCLIENT) {
        ::SetCursor(LoadCursorA(nullptr, CursorResource(FCursor)));
        Message.Result = TRUE;
        return;
      }
      break;
    case WM_MOUSEMOVE:
    case WM_MOUSELEAVE:
    case WM_LBUTTONDOWN: case WM_LBUTTONDBLCLK: case WM_LBUTTONUP:
    case WM_RBUTTONDOWN: case WM_RBUTTONDBLCLK: case WM_RBUTTONUP:
    case WM_MBUTTONDOWN: case WM_MBUTTONDBLCLK: case WM_MBUTTONUP:
      HandleMouse(Message);
      return;
  }
  DefaultHandler(Message);
}

void TControl::HandleMouse(TMessage& Message) {
  DefaultHandler(Message);
  const int x = static_cast<short>(LOWORD(Message.LParam));
  const int y = static_cast<short>(HIWORD(Message.LParam));
  RECT client{};
  GetClientRect(FHandle.Get(), &client);
  const POINT pt{x, y};

  switch (Message.Msg) {
    case WM_MOUSEMOVE: {
      if (!(ControlStyle & csMouseEnterLeave) && !OnMouseEnter && !OnMouseLeave) return;
      // The pointer may be outside while a press holds the mouse.
      const bool inside = PtInRect(&client, pt) != FALSE;
      if (inside && !FMouseInControl) {
        FMouseInControl = true;
        TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, FHandle.Get(), 0};
        TrackMouseEvent(&track);
        MouseEnter();
      } else if (!inside && FMouseInControl) {
        FMouseInControl = false;
        MouseLeave();
      }
      return;
    }
    case WM_MOUSELEAVE:
      if (FMouseInControl) {
        FMouseInControl = false;
        MouseLeave();
      }
      return;
  }

  TMouseButton button = TMouseButton::mbLeft;
  if (Message.Msg >= WM_RBUTTONDOWN && Message.Msg <= WM_RBUTTONDBLCLK) button = TMouseButton::mbRight;
  if (Message.Msg >= WM_MBUTTONDOWN && Message.Msg <= WM_MBUTTONDBLCLK) button = TMouseButton::mbMiddle;
  const bool down = Message.Msg == WM_LBUTTONDOWN || Message.Msg == WM_LBUTTONDBLCLK ||
                    Message.Msg == WM_RBUTTONDOWN || Message.Msg == WM_RBUTTONDBLCLK ||
                    Message.Msg == WM_MBUTTONDOWN || Message.Msg == WM_MBUTTONDBLCLK;
  if (down) {
    if (ControlStyle & csCaptureMouse) ::SetCapture(FHandle.Get());
    FClicked = button == TMouseButton::mbLeft && (ControlStyle & csClickEvents);
    MouseDown(button, x, y);
    return;
  }
  if ((ControlStyle & csCaptureMouse) && GetCapture() == FHandle.Get() &&
      (Message.WParam & (MK_LBUTTON | MK_RBUTTON | MK_MBUTTON)) == 0)
    ReleaseCapture();
  // The click comes before the release event, as a press-and-release
  // inside the control is a click whatever the release handler does.
  if (button == TMouseButton::mbLeft && FClicked) {
    FClicked = false;
    const std::shared_ptr<bool> alive = FAlive;
    if (PtInRect(&client, pt)) Click();
    if (!*alive) return;
  }
  MouseUp(button, x, y);
}

void TControl::MouseDown(TMouseButton Button, int X, int Y) {
  CallEvent(OnMouseDown, this, Button, X, Y);
}
void TControl::MouseUp(TMouseButton Button, int X, int Y) {
  CallEvent(OnMouseUp, this, Button, X, Y);
}
void TControl::MouseEnter() { CallEvent(OnMouseEnter, this); }
void TControl::MouseLeave() { CallEvent(OnMouseLeave, this); }
void TControl::Click() { CallEvent(OnClick, this); }

void TControl::UpdateBoundsFromWindow() {
  if (!FHandle) return;
  RECT r;
  if (!GetWindowRect(FHandle.Get(), &r)) return;
  if (GetWindowLongPtrW(FHandle.Get(), GWL_STYLE) & WS_CHILD)
    MapWindowPoints(HWND_DESKTOP, GetParent(FHandle.Get()), reinterpret_cast<POINT*>(&r), 2);
  FLeft = r.left;
  FTop = r.top;
  FWidth = r.right - r.left;
  FHeight = r.bottom - r.top;
}

void TControl::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
  AWidth = std::max(AWidth, 0);
  AHeight = std::max(AHeight, 0);
  FLeft = ALeft;
  FTop = ATop;
  FWidth = AWidth;
  FHeight = AHeight;
  if (FHandle) {
    SetWindowPos(FHandle.Get(), nullptr, ALeft, ATop, AWidth, AHeight, SWP_NOZORDER | SWP_NOACTIVATE);
    UpdateBoundsFromWindow();
  }
}

int TControl::ClientWidth() {
  RECT rc{};
  GetClientRect(Handle(), &rc);
  return rc.right;
}

int TControl::ClientHeight() {
  RECT rc{};
  GetClientRect(Handle(), &rc);
  return rc.bottom;
}

void TControl::SetClientWidth(int Value) {
  const int frame = FWidth - ClientWidth();
  SetWidth(Value + frame);
}

void TControl::SetClientHeight(int Value) {
  const int frame = FHeight - ClientHeight();
  SetHeight(Value + frame);
}

void TControl::SetVisible(bool Value) {
  FVisible = Value;
  if (FHandle) ShowWindow(FHandle.Get(), Value ? SW_SHOWNA : SW_HIDE);
}

void TControl::SetEnabled(bool Value) {
  FEnabled = Value;
  if (FHandle) EnableWindow(FHandle.Get(), Value);
}

void TControl::SetCursor(TCursor Value) {
  FCursor = Value;
  // Show the new shape at once when the pointer is over the control.
  POINT pt;
  if (FHandle && GetCursorPos(&pt) && WindowFromPoint(pt) == FHandle.Get())
    SendMessageW(FHandle.Get(), WM_SETCURSOR, reinterpret_cast<WPARAM>(FHandle.Get()),
                 MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
}

void TControl::TakeParentFont(const TFont& Value) {
  FTakingParentFont = true;
  FFont.Assign(Value);
  FTakingParentFont = false;
}

void TControl::FontChanged() {
  if (!FHandle) return;
  if (FDefWndProc) SendMessageW(FHandle.Get(), WM_SETFONT, reinterpret_cast<WPARAM>(FFont.Handle()), TRUE);
  Invalidate();
}

void TControl::SetColor(TColor Value) {
  FParentColor = false;
  if (ChangeField(FColor, Value)) ColorChanged();
}

void TControl::TakeParentColor(TColor Value) {
  if (ChangeField(FColor, Value)) ColorChanged();
}

void TControl::ColorChanged() { Invalidate(); }

std::string TControl::Caption() const { return WideToAnsi(FCaption); }

void TControl::SetCaption(const std::string& Value) { SetCaption(AnsiToWide(Value)); }

void TControl::SetCaption(const std::wstring& Value) {
  FCaption = Value;
  if (FHandle) {
    SetWindowTextW(FHandle.Get(), FCaption.c_str());
    Invalidate();
  }
}

TCanvas& TControl::Canvas() {
  if (!FCanvas) FCanvas = std::make_unique<TControlCanvas>(*this);
  return *FCanvas;
}

void TControl::Invalidate() {
  if (FHandle) InvalidateRect(FHandle.Get(), nullptr, TRUE);
}

void TControl::SetParent(TWinControl* Value) {
  if (Value == FParent) return;
  if (Value == this) throw EInvalidOperation("a control cannot be its own parent");
  if (FParent) {
    auto& list = FParent->FControls;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
  FParent = Value;
  if (Value) {
    Value->FControls.push_back(this);
    if (FParentFont) TakeParentFont(Value->Font());
    if (FParentColor) TakeParentColor(Value->Color());
  }
  if (FHandle) {
    if (Value && Value->HandleAllocated()) {
      ::SetParent(FHandle.Get(), Value->FHandle.Get());
      SetWindowPos(FHandle.Get(), nullptr, FLeft, FTop, FWidth, FHeight, SWP_NOZORDER | SWP_NOACTIVATE);
    } else {
      DestroyHandle();
    }
  } else if (Value && Value->HandleAllocated()) {
    HandleNeeded();
  }
}

// ---- TWinControl ----

TWinControl::~TWinControl() { DetachChildren(); }

void TWinControl::DetachChildren() {
  // Children that someone else owns outlive this parent without a window.
  while (!FControls.empty()) FControls.back()->SetParent(nullptr);
}

void TWinControl::CreateParams(TCreateParams& Params) {
  TControl::CreateParams(Params);
  Params.Style |= WS_CLIPCHILDREN;
  if (!Parent()) {
    if (FParentWindow)
      Params.WndParent = FParentWindow;
    else
      Params.Style = (Params.Style & ~static_cast<DWORD>(WS_CHILD)) | WS_POPUP;
  }
}

void TWinControl::CreateWnd() {
  TControl::CreateWnd();
  for (TControl* child : std::vector<TControl*>(FControls))
    if (!child->HandleAllocated()) child->CreateWnd();
}

void TWinControl::SetParentWindow(HWND Value) {
  if (Value == FParentWindow) return;
  FParentWindow = Value;
  const HWND wnd = HandleAllocated() ? Handle() : nullptr;
  if (!wnd || Parent()) return;
  LONG_PTR style = GetWindowLongPtrW(wnd, GWL_STYLE);
  if (Value) {
    // A child's style must be in place before it moves into its parent.
    SetWindowLongPtrW(wnd, GWL_STYLE, (style & ~static_cast<LONG_PTR>(WS_POPUP)) | WS_CHILD);
    ::SetParent(wnd, Value);
  } else {
    ::SetParent(wnd, nullptr);
    SetWindowLongPtrW(wnd, GWL_STYLE, (style & ~static_cast<LONG_PTR>(WS_CHILD)) | WS_POPUP);
  }
  SetWindowPos(wnd, nullptr, 0, 0, 0, 0,
               SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  UpdateBoundsFromWindow();
}

void TWinControl::WndProc(TMessage& Message) {
  if (Message.Msg == WM_COMMAND)
    if (const HWND from = reinterpret_cast<HWND>(Message.LParam))
      for (TControl* c : FControls)
        if (c->FHandle.Get() == from) {
          Message.Result = c->Perform(CN_COMMAND, Message.WParam, Message.LParam);
          return;
        }
  TControl::WndProc(Message);
}

void TWinControl::FontChanged() {
  TControl::FontChanged();
  for (TControl* c : FControls)
    if (c->ParentFont()) c->TakeParentFont(Font());
}

void TWinControl::ColorChanged() {
  TControl::ColorChanged();
  for (TControl* c : FControls)
    if (c->ParentColor()) c->TakeParentColor(Color());
}
