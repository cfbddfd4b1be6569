// Forms and the application object. How CreateForm builds a form (the
// constructor, Loaded, OnCreate, the deferred show) and how a form ends:
// framework/README.md.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "framework/controls_win32.h"

enum TFormBorderStyle : uint8_t {
  bsNone,      // no caption and no frame
  bsSizeable,  // caption and sizing frame
  bsDialog,    // caption and dialog frame, not resizable
};
enum TBorderIconFlag : uint8_t { biSystemMenu = 1, biMinimize = 2, biMaximize = 4 };
using TBorderIcons = uint8_t;  // an or-ed set of TBorderIconFlag

using TModalResult = int;
constexpr TModalResult mrNone = 0;
constexpr TModalResult mrOk = 1;
constexpr TModalResult mrCancel = 2;

class TForm : public TWinControl {
 public:
  // Needs the application object: the form is listed there and its window
  // is owned by the application's window.
  explicit TForm(TComponent* AOwner);

  // Finishes construction (see the top of this file). CreateForm calls it;
  // later calls do nothing.
  void AfterConstruction();
  bool Creating() const { return FCreating; }

  TFormBorderStyle BorderStyle() const { return FBorderStyle; }
  // After the window exists, the window is restyled in place (same window,
  // same size), keeping style bits others set, such as WS_CHILD and WS_DISABLED.
  void SetBorderStyle(TFormBorderStyle Value);
  void SetBorderIcons(TBorderIcons Value);

  // Showing runs OnShow first, then makes the window visible (activating
  // a top-level form).
  void SetVisible(bool Value) override;
  void SetParentWindow(HWND Value) override;

  // Shows the form with every other window of the thread disabled and runs
  // messages until ModalResult is non-zero (or the application ends:
  // mrCancel); then hides it, enables the other windows again and returns
  // ModalResult.
  TModalResult ShowModal();
  void SetModalResult(TModalResult Value) { FModalResult = Value; }
  bool Modal() const { return FModal; }

  // A modal form gets mrCancel. Otherwise closing the application's main
  // form ends the application, and any other form hides. WM_CLOSE comes here.
  void Close();
  // Frees the form from the message loop, once the current message is done.
  void Release();

  // Messages for this form's windows before they are translated and
  // dispatched (dialog keys, for instance). True swallows the message.
  virtual bool PreProcessMessage(MSG& Msg);

  TNotifyEvent OnCreate;
  TNotifyEvent OnShow;
  TNotifyEvent OnDestroy;

  void BeforeDestruction() override;

 protected:
  ~TForm() override;
  void CreateParams(TCreateParams& Params) override;
  void WndProc(TMessage& Message) override;

 private:
  friend class TApplication;
  void ApplyFrameStyle();

  uint64_t FId = 0;
  bool FCreating = true;
  bool FShowPending = false;
  bool FModal = false;
  bool FReleaseAfterModal = false;
  bool FDestroyDone = false;
  TModalResult FModalResult = mrNone;
  TFormBorderStyle FBorderStyle = bsSizeable;
  TBorderIcons FBorderIcons = biSystemMenu | biMinimize | biMaximize;
};

// Creates a form of class T (constructor arguments Args, the owner first)
// and finishes its construction.
template <typename T, typename... Args>
T* CreateForm(Args&&... A) {
  T* form = new T(std::forward<Args>(A)...);
  try {
    form->AfterConstruction();
  } catch (...) {
    form->Free();
    throw;
  }
  return form;
}

using TIdleEvent = std::function<void(TComponent* Sender, bool& Done)>;
using TExceptionEvent = std::function<void(TComponent* Sender, std::exception_ptr E)>;

// The application object: the message loop, the hidden top-level window
// that owns the forms, the list of open forms and the exception sink. One
// exists at a time, reachable through the global Application; it lives on
// the GUI thread (usually in the program entry) and frees, when it ends,
// every form still open.
class TApplication final : public TComponent {
 public:
  TApplication();
  ~TApplication() override;

  // Creates the hidden application window.
  void Initialize();
  // Shows the main form when ShowMainForm is set, then handles messages
  // until Terminated. Returns at once when there is no main form.
  void Run();
  // Handles one message, or, with the queue empty, runs the idle step:
  // OnIdle(Sender, Done) with Done preset to true; Done true waits for the
  // next message, false returns to run the idle step again.
  void HandleMessage();
  // Handles every message waiting, then returns. A quit request found on
  // the way sets Terminated.
  void ProcessMessages();
  // Asks the message loop to end (posts WM_QUIT); Terminated becomes true
  // when the loop takes it.
  void Terminate();
  // Safe to read from any thread.
  bool Terminated() const { return FTerminated; }

  void SetShowMainForm(bool Value) { FShowMainForm = Value; }
  // The first form created (until it is freed).
  TForm* MainForm() const { return FMainForm; }
  const std::string& Title() const { return FTitle; }
  void SetTitle(const std::string& Value);
  // The hidden top-level window that owns every top-level form; created on
  // first use on the GUI thread. Other threads get it (or null) as it is.
  HWND Handle();
  // Every open form, in creation order (their Name() is the component name).
  const std::vector<TForm*>& Forms() const { return FForms; }

  // The session ends (logoff, shutdown, restart): every top-level window of
  // the process hears it, and the system may end the process as soon as the
  // message returns. Runs OnEndSession once, however many windows report
  // it, then asks the message loop to end.
  void EndSession();
  bool SessionEnding() const { return FSessionEnding; }

  // The exception sink: hands E to OnException, or discards it when none is
  // set. Exceptions thrown by OnException itself are discarded.
  void HandleException(std::exception_ptr E) noexcept;

  // The window to own shell dialogs and message boxes: the active form's
  // window, else the application window.
  HWND ActiveFormHandle();

  // CreateForm with this application as the owner.
  template <typename T, typename... Args>
  T* CreateForm(Args&&... A) {
    return ::CreateForm<T>(this, std::forward<Args>(A)...);
  }

  TIdleEvent OnIdle;
  TExceptionEvent OnException;
  // What must be done before the process may be ended without warning.
  TNotifyEvent OnEndSession;

 private:
  friend class TForm;
  static LRESULT CALLBACK AppWindowProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) noexcept;
  void AddForm(TForm* Form);
  void RemoveForm(TForm* Form);
  bool ProcessMessage(MSG& Msg);
  void Idle();

  // Destroyed at the end of the destructor, after the forms it owns, with
  // the handle still held (Handle() gives no new window meanwhile).
  TBoundWindow FHandle;
  DWORD FThreadId = 0;
  std::vector<TForm*> FForms;
  TForm* FMainForm = nullptr;
  std::atomic<bool> FTerminated{false};
  bool FShowMainForm = true;
  std::string FTitle;
  uint64_t FNextFormId = 1;
  bool FSessionEnding = false;
};

extern TApplication* Application;
