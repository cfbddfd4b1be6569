// TScreenSaver: the component that turns its owner form into a screen
// saver. Created by the form (its owner) while the form is being built, it
// reads the run mode from the command line, takes over the form's message
// handling, places and shows the form for the mode, decides which input ends
// the saver (saver/input_rules.h), asks for the Windows 9x screen-saver
// password where one is set, and runs the end sequence that closes the
// program. In configuration mode it shows the configuration form; in
// password mode it runs the password-change dialog (creation then raises
// EScreenSaverAbort). The main form (app/main_form_win32.cpp) creates it and
// app/main_win32.cpp runs the program around it.
//
// One instance per process: the thread hooks find it through a process-wide
// reference. Everything runs on the GUI thread except ThreadTimerTick.
#pragma once
#include <windows.h>

#include <cstdint>
#include <exception>
#include <memory>
#include <string>

#include "framework/component.h"
#include "framework/forms_win32.h"
#include "framework/graphics_win32.h"
#include "framework/timer_win32.h"
#include "saver/input_rules.h"
#include "saver/modes.h"
#include "saver/thread_timer.h"
#include "util/raii.h"

// The name of the mutex that lets only one full-screen saver run at a time.
inline constexpr char kScreenSaverInstanceName[] = "9EA00A9F-18F3-4842-82F5-6677E57A79FA";

// Thrown by TScreenSaver::Loaded in password mode: the password change (and
// any message about it) has run inside the component's creation and the
// program is over. CreateForm frees the form and passes it on; the program
// entry catches it and lets the message loop return at once (there is no
// main form any more). No form has been shown and nothing is reported.
class EScreenSaverAbort : public std::exception {
 public:
  const char* what() const noexcept override { return "the screen saver ended during its creation"; }
};

// Where the Windows 9x password services are looked up: the system's names.
// Tests point them at doubles (a library that cannot be loaded, one whose
// change function fails).
struct TPasswordServices {
  std::string ChangeLibrary = "MPR.DLL";
  std::string ChangeFunction = "PwdChangePasswordA";
  std::string VerifyLibrary = "Password.CPL";
  std::string VerifyFunction = "VerifyScreenSavePwd";
};
TPasswordServices& PasswordServices();

class TScreenSaver : public TComponent {
 public:
  // AOwner must be the form to govern. Runs the creation sequence: in
  // password mode that includes the password change and the end sequence.
  explicit TScreenSaver(TComponent* AOwner);

  TScreenSaverMode Mode() const { return FMode; }

  // Published properties, with their defaults.
  // False. True creates the off-screen drawing surface (drawing size:
  // the virtual desktop, or in preview the screen rounded down to whole
  // multiples of the preview); DoTimer copies it onto the form.
  bool BitmapNeeded() const { return FBitmapNeeded; }
  void SetBitmapNeeded(bool Value);
  // False. The drawing timer runs while this is True in an active mode
  // (none, preview, full screen).
  bool TimerEnabled() const { return FTimerEnabled; }
  void SetTimerEnabled(bool Value);
  // False. Only in full-screen mode is the system pointer shown or hidden.
  bool ShowMouseCursor() const { return FShowMouseCursor; }
  void SetShowMouseCursor(bool Value);
  // Empty. The form shown in configuration mode (an open form's component
  // name, compared without regard to case); empty names none.
  const std::string& CustomizeFormName() const { return FCustomizeFormName; }
  void SetCustomizeFormName(const std::string& Value) { FCustomizeFormName = Value; }
  // 500 ms. Setting it runs the drawing timer exactly when the new value
  // is not 0 and the mode is active, whatever TimerEnabled holds.
  uint32_t Interval() const;
  void SetInterval(uint32_t Value);
  // True: moves, buttons and the wheel end a full-screen saver.
  bool TerminateOnMouseMove() const { return FTerminateOnMouseMove; }
  void SetTerminateOnMouseMove(bool Value) { FTerminateOnMouseMove = Value; }
  // True: keys end a full-screen saver.
  bool TerminateOnKeyDown() const { return FTerminateOnKeyDown; }
  void SetTerminateOnKeyDown(bool Value) { FTerminateOnKeyDown = Value; }
  // True. A change shows (and raises) or hides the form.
  bool Visible() const { return FVisible; }
  void SetVisible(bool Value);

  // Events; the sender is this component.
  TNotifyEvent OnIdle;       // the application is idle (not in configuration mode)
  TNotifyEvent OnTimer;      // the drawing timer ticked, or the form is painted
  TNotifyEvent OnTerminate;  // the end sequence has begun

  // The off-screen drawing surface while BitmapNeeded, else null.
  TBitmap* Bitmap() const { return FBitmap.get(); }
  // Observation for diagnostics and tests: mouse moves counted so far (0 to 3).
  int32_t MouseMoveCount() const { return FMoveState.MouseMoveCount; }
  // Observation for diagnostics and tests: the preview parent read from the
  // second argument (in every mode), null when there is none.
  HWND ParentWnd() const { return FParentWnd; }

  // The switch letter of the command line (callable without an instance).
  static char GetModeLetter();
  // Hides the application's own top-level window, if the application exists.
  static void HideApplicationWindow();

  void Loaded() override;
  void BeforeDestruction() override;

 protected:
  ~TScreenSaver() override;

 private:
  // Thread hooks of the GUI thread: they pass the call on, then post the
  // input to the form (WM_APP + 1 for the mouse, WM_APP for keys).
  static LRESULT CALLBACK MouseHookProc(int Code, WPARAM WParam, LPARAM LParam) noexcept;
  static LRESULT CALLBACK KeyboardHookProc(int Code, WPARAM WParam, LPARAM LParam) noexcept;

  void FormWindowProc(TMessage& Message);
  void JudgeMessage(const TMessage& Message);
  void ApplicationIdle(TComponent* Sender, bool& Done);
  void PlaceForm();
  void ShowForm();
  void StayOnTop();
  bool DoTimer();
  void SetCanvasMapping(TCanvas& Canvas);
  void TimerTick(TComponent* Sender);
  void ThreadTimerTick(TThreadTimer& Sender);
  void ChangePassword();
  void ShowCustomizeForm();
  void VerifyAndTerminate();
  void Terminate();
  void ClosePreview();
  // The form's window, or null when it has none (never creates it).
  HWND FormWindow() const;

  TMessageTimer* FTimer = nullptr;  // owned as a component
  std::unique_ptr<TThreadTimer> FThreadTimer;
  TScreenSaverMode FMode = ssmNone;
  bool FShowMouseCursor = false;
  HWND FParentWnd = nullptr;
  RECT FParentRect{0, 0, 0, 0};
  TForm* FForm = nullptr;
  std::unique_ptr<TBitmap> FBitmap;
  TWndMethod FOldWindowProc;
  int32_t FHeight = 0;
  int32_t FWidth = 0;
  TMouseMoveState FMoveState;
  bool FTerminateOnKeyDown = true;
  bool FTerminateOnMouseMove = true;
  bool FActive = false;
  bool FUsePassword = false;
  std::string FCustomizeFormName;
  bool FTerminating = false;
  int32_t FPreviewWidth = 0;
  int32_t FPreviewHeight = 0;
  HWND FImeWnd = nullptr;
  bool FVerifying = false;
  bool FDrawing = false;
  bool FBitmapNeeded = false;
  bool FTimerEnabled = false;
  bool FVisible = true;
  bool FClosingPreview = false;
  // Cleared at destruction: the idle handler left in the application
  // object then does nothing.
  std::shared_ptr<bool> FAlive = std::make_shared<bool>(true);

  // The undo of each change the creation made outside the component, run
  // in the reverse order of these lines: by BeforeDestruction (the last
  // three), by the members' destruction, or when the creation fails.
  TScopeExit FReleaseInstance;  // the process-wide single-instance claim
  TScopeExit FEndRunning;       // the system's screen-saver-running flag
  TScopeExit FLeaveForm;        // the form's message handler, the idle handler
  TScopeExit FUnhook;           // the thread hooks
  TScopeExit FUnregister;       // the process-wide reference the hooks use
};
