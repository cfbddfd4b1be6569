#include "framework/forms_win32.h"

#include <algorithm>

#include "util/text_win32.h"
#include "util/utils_win32.h"

TApplication* Application = nullptr;

void HandleApplicationException(std::exception_ptr E) noexcept {
  if (Application) Application->HandleException(E);
}

namespace {

constexpr DWORD kFrameStyles =
    WS_POPUP | WS_CAPTION | WS_THICKFRAME | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_BORDER | WS_DLGFRAME;
constexpr DWORD kFrameExStyles = WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE;

// The frame part of a form's window style. A form inside a foreign window
// (a child) never gets WS_POPUP.
void FrameStyles(TFormBorderStyle Border, TBorderIcons Icons, bool Child, DWORD& Style, DWORD& ExStyle) {
  Style = 0;
  ExStyle = 0;
  switch (Border) {
    case bsNone:
      if (!Child) Style = WS_POPUP;
      break;
    case bsSizeable:
      Style = WS_CAPTION | WS_THICKFRAME;
      if (Icons & biMinimize) Style |= WS_MINIMIZEBOX;
      if (Icons & biMaximize) Style |= WS_MAXIMIZEBOX;
      break;
    case bsDialog:
      Style = (Child ? 0 : WS_POPUP) | WS_CAPTION;
      ExStyle = WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE;
      break;
  }
  if (Border != bsNone && (Icons & biSystemMenu)) Style |= WS_SYSMENU;
}

struct TDisableContext {
  HWND Keep;
  std::vector<HWND> Disabled;
};

BOOL CALLBACK DisableWindow(HWND Wnd, LPARAM Param) noexcept {
  auto* context = reinterpret_cast<TDisableContext*>(Param);
  if (Wnd != context->Keep && IsWindowVisible(Wnd) && IsWindowEnabled(Wnd)) {
    // Listed first, so that no window stays disabled without being listed.
    try {
      context->Disabled.push_back(Wnd);
    } catch (...) {
      return FALSE;  // out of memory: the others stay enabled
    }
    EnableWindow(Wnd, FALSE);
  }
  return TRUE;
}

std::string ExecutableBaseName() {
  // Cut in UTF-16, where no trail byte of a double-byte character can pass
  // for a separator.
  std::wstring name = AnsiToWide(ExecutablePath());
  const size_t slash = name.find_last_of(L"\\/");
  if (slash != std::wstring::npos) name.erase(0, slash + 1);
  const size_t dot = name.rfind(L'.');
  if (dot != std::wstring::npos && dot > 0) name.erase(dot);
  return WideToAnsi(name);
}

// True when Msg was a session message, answered in Result: nothing here
// holds up a logoff, and the end of the session is handled once, by
// whichever window of the process hears it first.
bool AnswerSessionMessage(UINT Msg, WPARAM WParam, LRESULT& Result) {
  if (Msg == WM_QUERYENDSESSION) {
    Result = TRUE;
    return true;
  }
  if (Msg == WM_ENDSESSION) {
    if (WParam && Application) Application->EndSession();
    Result = 0;
    return true;
  }
  return false;
}

}  // namespace

// ---- TForm ----

TForm::TForm(TComponent* AOwner) : TWinControl(AOwner) {
  if (!Application) throw EInvalidOperation("a form needs the application object");
  BeginLoading();
  FVisible = false;
  FParentFont = false;
  FParentColor = false;
  // A size of its own until the derived constructor sets the real bounds;
  // no window exists yet, so nothing is ever shown at it.
  SetBounds(0, 0, 320, 240);
  Application->AddForm(this);
}

TForm::~TForm() {
  if (Application) Application->RemoveForm(this);
}

void TForm::AfterConstruction() {
  if (!FCreating) return;
  EndLoadingRoot();
  std::vector<TComponent*> loading;
  for (TComponent* c : Components())
    if (c->Loading()) loading.push_back(c);
  Loaded();
  for (TComponent* c : loading) {
    // A component's Loaded may free another.
    const auto& now = Components();
    if (std::find(now.begin(), now.end(), c) != now.end()) c->Loaded();
  }
  FCreating = false;
  CallEventToSink(OnCreate, this);
  if (FShowPending) {
    FShowPending = false;
    SetVisible(true);
  }
}

void TForm::BeforeDestruction() {
  if (!FDestroyDone) {
    FDestroyDone = true;
    CallEventToSink(OnDestroy, this);
  }
  TWinControl::BeforeDestruction();
  if (Application) Application->RemoveForm(this);
}

void TForm::CreateParams(TCreateParams& Params) {
  TWinControl::CreateParams(Params);
  Params.WinClassName = L"PlForm";
  const bool child = FParentWindow != nullptr;
  DWORD style, exStyle;
  FrameStyles(FBorderStyle, FBorderIcons, child, style, exStyle);
  Params.Style = (child ? WS_CHILD : 0) | WS_CLIPCHILDREN | WS_CLIPSIBLINGS | style |
                 (Enabled() ? 0 : WS_DISABLED);
  Params.ExStyle = exStyle;
  // Shown by Show(), never by creation.
  if (!child) Params.WndParent = Application->Handle();
}

void TForm::ApplyFrameStyle() {
  if (!HandleAllocated()) return;
  const HWND wnd = Handle();
  const LONG_PTR style = GetWindowLongPtrW(wnd, GWL_STYLE);
  const LONG_PTR exStyle = GetWindowLongPtrW(wnd, GWL_EXSTYLE);
  DWORD frame, frameEx;
  FrameStyles(FBorderStyle, FBorderIcons, (style & WS_CHILD) != 0, frame, frameEx);
  SetWindowLongPtrW(wnd, GWL_STYLE, (style & ~static_cast<LONG_PTR>(kFrameStyles)) | frame);
  SetWindowLongPtrW(wnd, GWL_EXSTYLE, (exStyle & ~static_cast<LONG_PTR>(kFrameExStyles)) | frameEx);
  SetWindowPos(wnd, nullptr, 0, 0, 0, 0,
               SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
  UpdateBoundsFromWindow();
}

void TForm::SetBorderStyle(TFormBorderStyle Value) {
  if (ChangeField(FBorderStyle, Value)) ApplyFrameStyle();
}

void TForm::SetBorderIcons(TBorderIcons Value) {
  if (ChangeField(FBorderIcons, Value)) ApplyFrameStyle();
}

void TForm::SetParentWindow(HWND Value) {
  const bool had = HandleAllocated();
  TWinControl::SetParentWindow(Value);
  if (!had) return;
  ApplyFrameStyle();
  // Back at the top level: owned by the application window again.
  if (!Value) SetWindowLongPtrW(Handle(), GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(Application->Handle()));
}

void TForm::SetVisible(bool Value) {
  if (FCreating) {
    FShowPending = Value;
    return;
  }
  if (Value == FVisible) return;
  if (Value) {
    HandleNeeded();
    FVisible = true;
    CallEventToSink(OnShow, this);
    if (FVisible && HandleAllocated()) ShowWindow(Handle(), SW_SHOW);
  } else {
    FVisible = false;
    if (HandleAllocated()) ShowWindow(Handle(), SW_HIDE);
  }
}

TModalResult TForm::ShowModal() {
  if (FVisible || FModal || !Enabled()) throw EInvalidOperation("cannot make a visible window modal");
  if (FCreating) throw EInvalidOperation("cannot show a form modally during its construction");
  if (const HWND capture = GetCapture()) SendMessageW(capture, WM_CANCELMODE, 0, 0);
  ReleaseCapture();

  const HWND activeBefore = GetActiveWindow();
  TDisableContext context{Handle(), {}};
  EnumThreadWindows(GetCurrentThreadId(), DisableWindow, reinterpret_cast<LPARAM>(&context));
  auto enableOthers = [&context] {
    for (HWND w : context.Disabled)
      if (IsWindow(w)) EnableWindow(w, TRUE);
    context.Disabled.clear();
  };

  FModal = true;
  FModalResult = mrNone;
  try {
    Show();
    while (FModalResult == mrNone) {
      Application->HandleMessage();
      if (Application->Terminated()) FModalResult = mrCancel;
    }
  } catch (...) {
    enableOthers();
    FModal = false;
    Hide();
    throw;
  }
  // The others first, so the system can hand activation back to one of them.
  enableOthers();
  Hide();
  FModal = false;
  if (activeBefore && IsWindow(activeBefore)) SetActiveWindow(activeBefore);
  if (FReleaseAfterModal) {
    FReleaseAfterModal = false;
    Release();
  }
  return FModalResult;
}

void TForm::Close() {
  if (FModal) {
    FModalResult = mrCancel;
    return;
  }
  if (Application->MainForm() == this)
    Application->Terminate();
  else
    Hide();
}

void TForm::Release() { PostMessageW(Application->Handle(), CM_RELEASE, 0, static_cast<LPARAM>(FId)); }

bool TForm::PreProcessMessage(MSG&) { return false; }

void TForm::WndProc(TMessage& Message) {
  if (Message.Msg == WM_CLOSE) {
    Close();
    Message.Result = 0;
    return;
  }
  if (AnswerSessionMessage(Message.Msg, Message.WParam, Message.Result)) return;
  TWinControl::WndProc(Message);
}

// ---- TApplication ----

TApplication::TApplication() : TComponent(nullptr) {
  if (Application) throw EInvalidOperation("there is an application object already");
  FTitle = ExecutableBaseName();
  FThreadId = GetCurrentThreadId();
  Application = this;
}

TApplication::~TApplication() {
  // Forms the application owns, last created first, then those nobody
  // owns, while the application window (their owner) still exists.
  DestroyComponents();
  while (!FForms.empty()) FForms.back()->Free();
  if (FHandle) {
    SetWindowLongPtrW(FHandle.Get(), GWLP_USERDATA, 0);
    FHandle.Destroy();
  }
  // A quit request nobody took must not end the next message loop.
  MSG msg;
  while (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
  }
  Application = nullptr;
}

void TApplication::Initialize() { Handle(); }

HWND TApplication::Handle() {
  // Another thread (a timer's worker hiding the window) only reads it: a
  // window belongs to the thread that creates it.
  if (FHandle || GetCurrentThreadId() != FThreadId) return FHandle.Get();
  if (!RegisterOwnWindowClass(L"PlApplication", AppWindowProc))
    throw EInvalidOperation("cannot register the application window class");
  // A real top-level window, never shown, with no size: it owns the forms
  // and carries the title.
  FHandle.Reset(CreateWindowExW(0, L"PlApplication", AnsiToWide(FTitle).c_str(),
                                WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX, 0, 0, 0, 0,
                                nullptr, nullptr, GetModuleHandleW(nullptr), nullptr));
  if (!FHandle) throw EInvalidOperation("cannot create the application window");
  SetWindowLongPtrW(FHandle.Get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  return FHandle.Get();
}

LRESULT CALLBACK TApplication::AppWindowProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) noexcept {
  auto* app = reinterpret_cast<TApplication*>(GetWindowLongPtrW(Wnd, GWLP_USERDATA));
  if (!app) return DefWindowProcW(Wnd, Msg, WParam, LParam);
  try {
    switch (Msg) {
      case CM_RELEASE: {
        const auto id = static_cast<uint64_t>(LParam);
        for (TForm* form : app->FForms) {
          if (form->FId != id) continue;
          // A modal loop still runs on it: it frees the form when it returns.
          if (form->FModal)
            form->FReleaseAfterModal = true;
          else
            form->Free();
          break;
        }
        return 0;
      }
      case WM_CLOSE:
        if (app->FMainForm)
          app->FMainForm->Close();
        else
          app->Terminate();
        return 0;
      case WM_QUERYENDSESSION:
      case WM_ENDSESSION: {
        LRESULT result = 0;
        AnswerSessionMessage(Msg, WParam, result);
        return result;
      }
    }
  } catch (...) {
    app->HandleException(std::current_exception());
    return 0;
  }
  return DefWindowProcW(Wnd, Msg, WParam, LParam);
}

void TApplication::SetTitle(const std::string& Value) {
  FTitle = Value;
  if (FHandle) SetWindowTextW(FHandle.Get(), AnsiToWide(Value).c_str());
}

void TApplication::AddForm(TForm* Form) {
  Form->FId = FNextFormId++;
  FForms.push_back(Form);
  if (!FMainForm) FMainForm = Form;
}

void TApplication::RemoveForm(TForm* Form) {
  FForms.erase(std::remove(FForms.begin(), FForms.end(), Form), FForms.end());
  if (FMainForm == Form) FMainForm = nullptr;
}

void TApplication::HandleException(std::exception_ptr E) noexcept {
  try {
    CallEvent(OnException, this, E);
  } catch (...) {
    // The sink itself failed: nothing is left to report to.
  }
}

HWND TApplication::ActiveFormHandle() {
  const HWND active = GetActiveWindow();
  if (active)
    for (TForm* form : FForms)
      if (form->HandleAllocated() && form->Handle() == active) return active;
  return Handle();
}

bool TApplication::ProcessMessage(MSG& Msg) {
  if (!PeekMessageW(&Msg, nullptr, 0, 0, PM_REMOVE)) return false;
  if (Msg.message == WM_QUIT) {
    FTerminated = true;
    return true;
  }
  // The nearest form among the target window and its parents may take the
  // message first.
  for (HWND wnd = Msg.hwnd; wnd; wnd = GetParent(wnd)) {
    if (auto* form = dynamic_cast<TForm*>(FindControl(wnd))) {
      if (form->PreProcessMessage(Msg)) return true;
      break;
    }
    if (!(GetWindowLongPtrW(wnd, GWL_STYLE) & WS_CHILD)) break;
  }
  TranslateMessage(&Msg);
  DispatchMessageW(&Msg);
  return true;
}

void TApplication::Idle() {
  bool done = true;
  CallEventToSink(OnIdle, this, done);
  // After a quit request taken inside the idle step nothing may come to
  // wake a wait, and the loop is about to end anyway.
  if (done && !FTerminated) WaitMessage();
}

void TApplication::HandleMessage() {
  MSG msg;
  if (!ProcessMessage(msg)) Idle();
}

void TApplication::ProcessMessages() {
  MSG msg;
  while (ProcessMessage(msg)) {
  }
}

void TApplication::Terminate() { PostQuitMessage(0); }

void TApplication::EndSession() {
  if (FSessionEnding) return;
  FSessionEnding = true;
  CallEventToSink(OnEndSession, this);
  Terminate();
}

void TApplication::Run() {
  if (!FMainForm) return;
  if (FShowMainForm) FMainForm->Show();
  while (!FTerminated) {
    try {
      HandleMessage();
    } catch (...) {
      HandleException(std::current_exception());
    }
  }
}
