#include "saver/screen_saver_win32.h"

#include <imm.h>

#include <string>
#include <vector>

#include "framework/form_utils_win32.h"
#include "saver/duplicate_win32.h"
#include "saver/modes.h"
#include "saver/thread_timer_win32.h"
#include "util/messages.h"
#include "util/raii_win32.h"
#include "util/texts.h"

namespace {

// The one instance of the process, for the hook procedures. Set before the
// hooks go in, cleared first thing at destruction.
TScreenSaver* ActiveScreenSaver = nullptr;
TUniqueHook gMouseHook;
TUniqueHook gKeyboardHook;

constexpr UINT kHookedKey = WM_APP;        // wParam, lParam: the key message's
constexpr UINT kHookedMouse = WM_APP + 1;  // wParam: the mouse message; lParam: the screen point
constexpr int32_t kThreadTimerInterval = 100;
constexpr uint32_t kDefaultInterval = 500;

using TVerifyScreenSavePwd = BOOL(WINAPI*)(HWND);
using TPwdChangePassword = DWORD(WINAPI*)(LPCSTR, HWND, DWORD, DWORD);

// The mouse messages the hook forwards: those of the client and of the
// frame. Anything else arriving as WM_APP + 1 (from another program) is not
// turned into a message to the form.
bool IsMouseMessage(WPARAM Msg) {
  return (Msg >= WM_MOUSEFIRST && Msg <= WM_MOUSELAST) || (Msg >= WM_NCMOUSEMOVE && Msg <= WM_NCXBUTTONDBLCLK);
}

bool SameTextAnsi(const std::string& A, const std::string& B) {
  return CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, A.data(), static_cast<int>(A.size()), B.data(),
                        static_cast<int>(B.size())) == CSTR_EQUAL;
}

// The system's flag that a screen saver runs (its previous state is not kept).
void SetScreenSaverRunning(bool Running) {
  BOOL previous = FALSE;
  SystemParametersInfoA(SPI_SETSCREENSAVERRUNNING, Running ? TRUE : FALSE, &previous, 0);
}

void ShowErrorBox(HWND Owner, const char16_t* Text) {
  MessageBoxW(Owner, reinterpret_cast<LPCWSTR>(Text), reinterpret_cast<LPCWSTR>(SaverTexts::kErrorCaption),
              MB_OK | MB_ICONERROR);
}

}  // namespace

TPasswordServices& PasswordServices() {
  static TPasswordServices services;
  return services;
}

// ---- Creation ----

TScreenSaver::TScreenSaver(TComponent* AOwner) : TComponent(AOwner) {
  FForm = dynamic_cast<TForm*>(AOwner);
  if (!FForm) throw EInvalidOperation("a screen saver needs the form it governs as its owner");
  if (ActiveScreenSaver) throw EInvalidOperation("only one screen saver may exist in a process");
  if (!Application) throw EInvalidOperation("a screen saver needs the application object");

  // From here on each step that changes the world outside the component
  // leaves its undo in a member, so a creation that fails half-way undoes
  // what it did (BeforeDestruction and the members' destruction otherwise).
  // The process-wide claim goes back in every mode, as the destructor gives it.
  FReleaseInstance = TScopeExit(ReleaseSingleInstance);
  HideApplicationWindow();
  Application->SetShowMainForm(false);

  // The system's password flag: any failure (no key, no value, a value
  // longer than 4 bytes) means no password.
  FUsePassword = false;
  {
    TUniqueHKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, KEY_QUERY_VALUE, key.Put()) ==
        ERROR_SUCCESS) {
      DWORD value = 0;
      DWORD size = sizeof value;
      if (RegQueryValueExA(key.Get(), "ScreenSaveUsePassword", nullptr, nullptr, reinterpret_cast<BYTE*>(&value),
                           &size) == ERROR_SUCCESS)
        FUsePassword = value != 0;
    }
  }

  FOldWindowProc = FForm->WindowProc;
  FMoveState = {};
  FTerminateOnMouseMove = true;
  FTerminateOnKeyDown = true;
  FWidth = VirtualDesktop().Width();
  FHeight = VirtualDesktop().Height();

  // The preview parent is read whenever there is a second argument, in
  // every mode.
  const std::vector<std::string> args = SplitCommandLine(GetCommandLineA());
  if (args.size() > 2) {
    FParentWnd = reinterpret_cast<HWND>(static_cast<INT_PTR>(ParentHandleFromArg(args[2])));
    if (!GetWindowRect(FParentWnd, &FParentRect)) FParentRect = {0, 0, 0, 0};
  }
  FPreviewWidth = FParentRect.right - FParentRect.left;
  FPreviewHeight = FParentRect.bottom - FParentRect.top;

  // A preview with no window to live in could never be seen or closed.
  bool quitAtStart = false;
  FMode = ModeFromLetter(GetModeLetter());
  switch (FMode) {
    case ssmPassword:
      ChangePassword();
      break;
    case ssmSaver:
      SetShowMouseCursor(false);
      break;
    case ssmPreview:
      if (FParentWnd && IsWindow(FParentWnd)) {
        FForm->SetParentWindow(FParentWnd);
        FForm->HandleNeeded();
      } else {
        quitAtStart = true;
      }
      // The screen rounded down to whole multiples of the preview, so the
      // drawing shrinks by a whole factor.
      FWidth = FPreviewWidth == 0 ? 0 : GetSystemMetrics(SM_CXSCREEN) / FPreviewWidth * FPreviewWidth;
      FHeight = FPreviewHeight == 0 ? 0 : GetSystemMetrics(SM_CYSCREEN) / FPreviewHeight * FPreviewHeight;
      break;
    case ssmNone:
    case ssmConfig:
      break;
  }

  FActive = FMode == ssmNone || FMode == ssmPreview || FMode == ssmSaver;
  if (FActive) {
    HideApplicationWindow();
    if (FMode == ssmSaver) {
      SetScreenSaverRunning(true);
      FEndRunning = TScopeExit([] { SetScreenSaverRunning(false); });
    }
  }

  ActiveScreenSaver = this;
  FUnregister = TScopeExit([this] {
    if (ActiveScreenSaver == this) ActiveScreenSaver = nullptr;
  });
  FForm->WindowProc = [this](TMessage& Message) { FormWindowProc(Message); };
  Application->OnIdle = [this, alive = FAlive](TComponent* Sender, bool& Done) {
    if (*alive) ApplicationIdle(Sender, Done);
  };
  // The idle handler stays in the application; it does nothing from then on.
  FLeaveForm = TScopeExit([this] {
    FForm->WindowProc = FOldWindowProc;
    *FAlive = false;
  });

  if (FMode == ssmPreview) {
    // The preview never takes input.
    SetWindowLongPtrW(FForm->Handle(), GWL_STYLE, WS_CHILD | WS_DISABLED);
  } else if (FMode == ssmSaver) {
    gMouseHook.Reset(SetWindowsHookExA(WH_MOUSE, MouseHookProc, nullptr, GetCurrentThreadId()));
    gKeyboardHook.Reset(SetWindowsHookExA(WH_KEYBOARD, KeyboardHookProc, nullptr, GetCurrentThreadId()));
    FUnhook = TScopeExit([] {
      gKeyboardHook.Reset();
      gMouseHook.Reset();
    });
  }

  FVisible = true;
  FImeWnd = ImmGetDefaultIMEWnd(FForm->Handle());

  FTimer = new TMessageTimer(this);
  FTimer->SetEnabled(false);
  FTimer->SetInterval(kDefaultInterval);
  FTimer->SetOnTimer([this](TComponent* Sender) { TimerTick(Sender); });

  FThreadTimer = std::make_unique<TThreadTimer>(MakeWin32TimerHost(nullptr));
  FThreadTimer->SetInterval(kThreadTimerInterval);
  FThreadTimer->SetOnTimer([this](TThreadTimer& Sender) { ThreadTimerTick(Sender); });
  FThreadTimer->SetPriority(TThreadPriority::Highest);
  FThreadTimer->SetEnabled(FActive);

  // A second full-screen copy ends as soon as its message loop starts.
  if (FMode == ssmSaver && !CreateSingleInstance(kScreenSaverInstanceName)) quitAtStart = true;
  if (quitAtStart) Application->Terminate();
}

void TScreenSaver::Loaded() {
  TComponent::Loaded();
  // The password change ran during creation and the program is over; the
  // form must not be finished, shown or used.
  if (FMode == ssmPassword) throw EScreenSaverAbort();
  PlaceForm();
}

void TScreenSaver::PlaceForm() {
  if (FForm->BorderStyle() != bsNone) FForm->SetBorderStyle(bsNone);
  if (FMode == ssmPreview) {
    FForm->SetBounds(0, 0, FPreviewWidth, FPreviewHeight);
  } else if (FMode == ssmSaver) {
    const TRect desktop = VirtualDesktop();
    FForm->SetBounds(desktop.Left, desktop.Top, FWidth, FHeight);
  }
  if (FActive && !FForm->Visible() && FVisible) ShowForm();
}

// ---- Destruction ----

void TScreenSaver::BeforeDestruction() {
  FUnregister.Run();
  FUnhook.Run();
  if (FTimer) FTimer->SetEnabled(false);
  FLeaveForm.Run();
  // Frees the drawing timer, the only owned component.
  TComponent::BeforeDestruction();
  FTimer = nullptr;
}

// The members then end the run's system state (the running flag, the
// single-instance claim), drop the drawing surface and, last, wait for the
// worker of the thread timer.
TScreenSaver::~TScreenSaver() = default;

// ---- Properties ----

void TScreenSaver::SetBitmapNeeded(bool Value) {
  FBitmapNeeded = Value;
  if (Value) {
    if (!FBitmap) FBitmap = std::make_unique<TBitmap>();
    FBitmap->SetSize(FWidth, FHeight);
  } else {
    FBitmap.reset();
  }
}

void TScreenSaver::SetTimerEnabled(bool Value) {
  FTimerEnabled = Value;
  if (FTimer) FTimer->SetEnabled(Value && FActive);
}

uint32_t TScreenSaver::Interval() const { return FTimer ? FTimer->Interval() : kDefaultInterval; }

void TScreenSaver::SetInterval(uint32_t Value) {
  if (!FTimer) return;
  FTimer->SetInterval(Value);
  FTimer->SetEnabled(Value != 0 && FActive);
}

void TScreenSaver::SetShowMouseCursor(bool Value) {
  FShowMouseCursor = Value;
  if (FMode != ssmSaver) return;
  // The display counter shows the pointer from 0 up.
  if (Value) {
    while (ShowCursor(TRUE) < 0) {
    }
  } else {
    while (ShowCursor(FALSE) >= 0) {
    }
  }
}

void TScreenSaver::SetVisible(bool Value) {
  if (ChangeField(FVisible, Value)) ShowForm();
}

// ---- Showing ----

char TScreenSaver::GetModeLetter() { return ::GetModeLetter(); }

void TScreenSaver::HideApplicationWindow() {
  // Also called from the thread timer's worker, which only reads the handle.
  if (!Application) return;
  if (const HWND wnd = Application->Handle()) ShowWindow(wnd, SW_HIDE);
}

HWND TScreenSaver::FormWindow() const { return FForm->HandleAllocated() ? FForm->Handle() : nullptr; }

void TScreenSaver::ShowForm() {
  if (FVisible) {
    FForm->Show();
    StayOnTop();
  } else {
    FForm->Hide();
  }
}

void TScreenSaver::StayOnTop() {
  // Re-asserting a place the form holds already would only cost the window
  // system a round of work every second.
  if (!IsTopMostUncovered(FForm->Handle())) SetControlTopMost(FForm->Handle(), 0);
  // Keys end the saver; the input method's status window must not sit on it.
  if (FImeWnd && FTerminateOnKeyDown) SendMessageW(FImeWnd, WM_IME_CONTROL, IMC_CLOSESTATUSWINDOW, 0);
  HideApplicationWindow();
}

// ---- Messages ----

void TScreenSaver::FormWindowProc(TMessage& Message) {
  if (FTerminating) {
    FOldWindowProc(Message);
    return;
  }
  bool passOn = true;
  switch (Message.Msg) {
    case WM_MOUSEMOVE:
    case WM_KEYDOWN:
    case WM_KEYUP:
      JudgeMessage(Message);
      break;
    case WM_CLOSE: {
      // Off the screen first, so a form leaving its preview window is not
      // seen on the desktop.
      const TRect desktop = VirtualDesktop();
      FForm->SetBounds(desktop.Right, desktop.Bottom, FForm->Width(), FForm->Height());
      ClosePreview();
      break;
    }
    case WM_DESTROY:
      // The preview's parent took the form down with it, without a close
      // request: nothing could end the program any more.
      if (FMode == ssmPreview && FForm->ParentWindow()) Application->Terminate();
      break;
    case WM_ERASEBKGND:
      Message.Result = 1;
      if (DoTimer()) passOn = false;
      break;
    case WM_SYSCOMMAND:
      // The system's request to start a screen saver, refused in every mode.
      if ((Message.WParam & 0xFFF0) == SC_SCREENSAVE) {
        Message.Result = 1;
        passOn = false;
      }
      break;
    case kHookedKey:
      if (const HWND wnd = FormWindow())
        SendMessageW(wnd, (static_cast<uint32_t>(Message.LParam) & 0x80000000u) ? WM_KEYUP : WM_KEYDOWN,
                     Message.WParam, Message.LParam);
      break;
    case kHookedMouse:
      if (IsMouseMessage(Message.WParam))
        if (const HWND wnd = FormWindow())
          SendMessageW(wnd, static_cast<UINT>(Message.WParam), 0, Message.LParam);
      break;
    default:
      if (Message.Msg >= WM_LBUTTONDOWN && Message.Msg <= WM_MOUSEWHEEL) JudgeMessage(Message);
      break;
  }
  if (passOn) FOldWindowProc(Message);
  if (!FTerminating && Message.Msg == WM_PAINT) DoTimer();
}

void TScreenSaver::JudgeMessage(const TMessage& Message) {
  const TInputRules rules{FMode, FTerminateOnMouseMove, FTerminateOnKeyDown};
  const TInputVerdict verdict =
      JudgeInput(rules, FMoveState, Message.Msg, static_cast<uint32_t>(Message.LParam & 0xFFFFFFFF));
  if (verdict.VerifyAndTerminate) {
    // A check is already under way further up (input reached the form
    // while the password dialog ran): that check decides.
    if (FVerifying) return;
    VerifyAndTerminate();
    if (FTerminating) return;
  }
  FMoveState = verdict.After;
}

LRESULT CALLBACK TScreenSaver::MouseHookProc(int Code, WPARAM WParam, LPARAM LParam) noexcept {
  const LRESULT result = CallNextHookEx(gMouseHook.Get(), Code, WParam, LParam);
  try {
    TScreenSaver* saver = ActiveScreenSaver;
    const auto* info = reinterpret_cast<const MOUSEHOOKSTRUCT*>(LParam);
    if (saver && info && saver->FTerminateOnMouseMove && !saver->FVerifying) {
      const HWND form = saver->FormWindow();
      // Input addressed to the form itself reaches the rules directly.
      if (form && info->hwnd != form) {
        const LPARAM point = MAKELPARAM(static_cast<WORD>(static_cast<int16_t>(info->pt.x)),
                                        static_cast<WORD>(static_cast<int16_t>(info->pt.y)));
        PostMessageW(form, kHookedMouse, WParam, point);
      }
    }
  } catch (...) {
    HandleApplicationException(std::current_exception());
  }
  return result;
}

LRESULT CALLBACK TScreenSaver::KeyboardHookProc(int Code, WPARAM WParam, LPARAM LParam) noexcept {
  const LRESULT result = CallNextHookEx(gKeyboardHook.Get(), Code, WParam, LParam);
  try {
    TScreenSaver* saver = ActiveScreenSaver;
    if (saver && saver->FTerminateOnKeyDown && !saver->FVerifying)
      if (const HWND form = saver->FormWindow()) PostMessageW(form, kHookedKey, WParam, LParam);
  } catch (...) {
    HandleApplicationException(std::current_exception());
  }
  return result;
}

// ---- Drawing ----

bool TScreenSaver::DoTimer() {
  if (FDrawing) return false;
  TGuard drawing(FDrawing);
  StayOnTop();
  CallEvent(OnTimer, this);
  if (!FBitmap) return false;
  SetCanvasMapping(FForm->Canvas());
  SetCanvasMapping(FBitmap->Canvas());
  FForm->Canvas().Draw(0, 0, *FBitmap);
  return true;
}

void TScreenSaver::SetCanvasMapping(TCanvas& Canvas) {
  const int width = FForm->Width();
  const int height = FForm->Height();
  if (width == 0 || height == 0) return;
  Canvas.SetMapMode(MM_ANISOTROPIC);
  Canvas.SetWindowOrg(0, 0);
  if (FHeight != 0) Canvas.SetWindowExt(FWidth / width, FHeight / height);
}

void TScreenSaver::TimerTick(TComponent*) {
  if (!FTerminating) DoTimer();
}

void TScreenSaver::ThreadTimerTick(TThreadTimer& Sender) {
  // On the worker thread. The application window is a real top-level window
  // with a caption (the title): hidden once, it can still be shown again
  // from outside (another program, or the system restoring the process's
  // windows), and would then stand over or beside the saver. Hiding it on
  // every tick, from the worker, puts it away within one interval even while
  // the GUI thread is busy inside the control or a modal loop.
  Sender.SetEnabled(false);
  ProcessPendingMessages();
  HideApplicationWindow();
  Sender.SetEnabled(true);
}

void TScreenSaver::ApplicationIdle(TComponent*, bool&) {
  if (FMode == ssmConfig) {
    // Once: the configuration form's own modal loop idles too.
    Application->OnIdle = nullptr;
    ShowCustomizeForm();
  } else {
    CallEvent(OnIdle, this);
  }
}

// ---- Ending ----

void TScreenSaver::ChangePassword() {
  const TPasswordServices& services = PasswordServices();
  TUniqueModule library(LoadLibraryA(services.ChangeLibrary.c_str()));
  const auto change = ProcAddress<TPwdChangePassword>(library.Get(), services.ChangeFunction.c_str());
  const HWND wnd = FForm->Handle();
  if (!change)
    ShowErrorBox(wnd, SaverTexts::kPasswordDialogUnavailable);
  else if (change("SCRSAVE", wnd, 0, 0) != 0)
    ShowErrorBox(wnd, SaverTexts::kPasswordChangeFailed);
  library.Reset();
  Terminate();
}

void TScreenSaver::ShowCustomizeForm() {
  if (FMode != ssmConfig) return;
  TForm* found = nullptr;
  if (!FCustomizeFormName.empty())
    for (TForm* form : Application->Forms())
      if (SameTextAnsi(form->Name(), FCustomizeFormName)) {
        found = form;
        break;
      }
  if (found) {
    try {
      RECT work{};
      SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
      CenterFormInRect(found->Handle(), work);
      found->Hide();
      found->ShowModal();
    } catch (...) {
      // The program must still end.
      HandleApplicationException(std::current_exception());
    }
  }
  Terminate();
}

void TScreenSaver::VerifyAndTerminate() {
  if (FVerifying) return;
  FVerifying = true;
  bool verified = true;
  if (FUsePassword) {
    const TPasswordServices& services = PasswordServices();
    TUniqueModule library(LoadLibraryA(services.VerifyLibrary.c_str()));
    const auto verify = ProcAddress<TVerifyScreenSavePwd>(library.Get(), services.VerifyFunction.c_str());
    if (verify) {
      const bool remembered = FShowMouseCursor;
      SetShowMouseCursor(true);
      verified = verify(GetFocus()) != FALSE;
      FShowMouseCursor = remembered;
    }
  }
  if (verified) {
    // The hooks stay silent from now on.
    Terminate();
    return;
  }
  SetShowMouseCursor(FShowMouseCursor);
  FMoveState.MouseMoveCount = 0;
  FVerifying = false;
}

void TScreenSaver::Terminate() {
  FTerminating = true;
  if (FTimer) FTimer->SetEnabled(false);
  // The handler's failure must not keep the program running.
  CallEventToSink(OnTerminate, this);
  Application->ProcessMessages();
  HideApplicationWindow();
  Application->ProcessMessages();
  if (TForm* main = Application->MainForm()) main->Close();
}

void TScreenSaver::ClosePreview() {
  if (FClosingPreview) return;
  TGuard closing(FClosingPreview);
  if (FMode != ssmPreview || !FForm->ParentWindow()) return;
  FForm->SetParentWindow(nullptr);
  Terminate();
}
