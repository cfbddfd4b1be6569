// Controls: components with a window. Every control here owns a real child
// (or, for forms, top-level) window; there are no windowless controls. The
// handler chain every message goes through (window procedure -> WindowProc
// -> WndProc -> DefaultHandler): framework/README.md. Everything here runs
// on the GUI thread.
#pragma once
#include <windows.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "framework/component.h"
#include "framework/graphics_win32.h"

struct TMessage {
  UINT Msg;
  WPARAM WParam;
  LPARAM LParam;
  LRESULT Result;
};
using TWndMethod = std::function<void(TMessage&)>;

// The framework's own messages. They lie clear of WM_APP and WM_APP + 1,
// which the screen-saver host posts to its form.
constexpr UINT CM_BASE = 0xB000;
constexpr UINT CM_RELEASE = CM_BASE + 1;  // to the application window: free the form with this id
// A WM_COMMAND a parent hands back to the child control it concerns:
// CN_BASE + the original number.
constexpr UINT CN_BASE = 0xBC00;
constexpr UINT CN_COMMAND = CN_BASE + WM_COMMAND;

// An operation that the control's state does not allow.
class EInvalidOperation : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Mouse pointer shapes. crDefault leaves the pointer to the window class.
enum TCursor : int { crDefault = 0, crHandPoint = -21 };

enum class TMouseButton { mbLeft, mbRight, mbMiddle };
using TMouseEvent = std::function<void(TComponent* Sender, TMouseButton Button, int X, int Y)>;

// Behaviour switches of a control class.
enum TControlStyleFlag : uint32_t {
  csCaptureMouse = 1,  // a press keeps the mouse until the button is released
  csClickEvents = 2,   // a left press and release inside make a Click()
  // MouseEnter / MouseLeave are wanted although OnMouseEnter / OnMouseLeave
  // may be unset. Following the pointer out of a window costs a polling
  // timer for as long as it is inside, so only controls that listen do it.
  csMouseEnterLeave = 4,
};

// What CreateWnd passes to CreateWindowEx. CreateParams fills it; classes
// override it to change the style or the window class.
struct TCreateParams {
  std::wstring Caption;
  DWORD Style = 0;
  DWORD ExStyle = 0;
  int X = 0, Y = 0, Width = 0, Height = 0;
  HWND WndParent = nullptr;
  HMENU Menu = nullptr;  // a child's identifier
  std::wstring WinClassName;
  UINT WindowClassStyle = CS_DBLCLKS;
  // WinClassName names an existing class (BUTTON, STATIC...): the window is
  // made with it and then subclassed; DefaultHandler calls its procedure.
  bool SystemClass = false;
};

class TWinControl;
class TControlCanvas;

class TControl : public TComponent {
 public:
  explicit TControl(TComponent* AOwner);

  // The head of the handler chain; it starts out calling WndProc.
  TWndMethod WindowProc;
  // Sends a message straight through WindowProc, bypassing the system.
  LRESULT Perform(UINT Msg, WPARAM WParam = 0, LPARAM LParam = 0);

  // The window, created on first use (with its parent's first).
  HWND Handle();
  bool HandleAllocated() const { return static_cast<bool>(FHandle); }
  void HandleNeeded() { Handle(); }

  TWinControl* Parent() const { return FParent; }
  virtual void SetParent(TWinControl* Value);

  // Position in the parent's client area (for a top-level window: on the
  // screen; for a form inside a foreign window: in that window's client).
  int Left() const { return FLeft; }
  int Top() const { return FTop; }
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  TRect BoundsRect() const { return {FLeft, FTop, FLeft + FWidth, FTop + FHeight}; }
  void SetWidth(int Value) { SetBounds(FLeft, FTop, Value, FHeight); }
  void SetHeight(int Value) { SetBounds(FLeft, FTop, FWidth, Value); }
  virtual void SetBounds(int ALeft, int ATop, int AWidth, int AHeight);
  // The client area's size; reading it creates the window.
  int ClientWidth();
  int ClientHeight();
  void SetClientWidth(int Value);
  void SetClientHeight(int Value);

  bool Visible() const { return FVisible; }
  virtual void SetVisible(bool Value);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool Value);

  TCursor Cursor() const { return FCursor; }
  void SetCursor(TCursor Value);
  // Changing the font (through this reference) redraws the control and
  // ends ParentFont.
  TFont& Font() { return FFont; }
  bool ParentFont() const { return FParentFont; }
  // The background; setting it ends ParentColor.
  TColor Color() const { return FColor; }
  void SetColor(TColor Value);
  bool ParentColor() const { return FParentColor; }

  // The window text. ANSI texts convert through the user's code page.
  std::string Caption() const;
  const std::wstring& CaptionW() const { return FCaption; }
  void SetCaption(const std::string& Value);
  void SetCaption(const std::wstring& Value);

  // The drawing surface of the window (a DC taken when first used and given
  // back when the current message is done; during Paint, the paint DC).
  TCanvas& Canvas();
  void Invalidate();

  uint32_t ControlStyle = csCaptureMouse | csClickEvents;

  TNotifyEvent OnClick;
  TNotifyEvent OnMouseEnter;
  TNotifyEvent OnMouseLeave;
  TMouseEvent OnMouseDown;
  TMouseEvent OnMouseUp;

  // Fires OnClick. Controls override it to act on a click.
  virtual void Click();

  void BeforeDestruction() override;

 protected:
  ~TControl() override;

  virtual void CreateParams(TCreateParams& Params);
  // Creates the window from CreateParams (a parent's window first).
  virtual void CreateWnd();
  void DestroyHandle();
  virtual void WndProc(TMessage& Message);
  virtual void DefaultHandler(TMessage& Message);
  // Draws the control; runs on WM_PAINT with Canvas() on the paint DC, for
  // windows of the framework's own classes.
  virtual void Paint() {}
  virtual void MouseDown(TMouseButton Button, int X, int Y);
  virtual void MouseUp(TMouseButton Button, int X, int Y);
  virtual void MouseEnter();
  virtual void MouseLeave();
  virtual void FontChanged();
  virtual void ColorChanged();
  virtual void DetachChildren() {}

  // Re-reads the window's position after the system moved it.
  void UpdateBoundsFromWindow();
  // The parent's font or colour, taken over while ParentFont/ParentColor.
  void TakeParentFont(const TFont& Value);
  void TakeParentColor(TColor Value);

 private:
  friend LRESULT CALLBACK ControlWindowProc(HWND, UINT, WPARAM, LPARAM) noexcept;
  friend class TWinControl;
  LRESULT MainWndProc(UINT Msg, WPARAM WParam, LPARAM LParam);
  // Destroys the window and leaves the parent's list of controls.
  void LeaveParent();
  void BindHandle(HWND Wnd);
  void UnbindHandle(HWND Wnd);
  void HandleMouse(TMessage& Message);

  // Destroyed with the handle still held: the window's last messages come
  // through this control to the window's own procedure.
  TBoundWindow FHandle;
  WNDPROC FDefWndProc = nullptr;  // set for subclassed system-class windows
  TWinControl* FParent = nullptr;
  int FLeft = 0, FTop = 0, FWidth = 0, FHeight = 0;
  bool FEnabled = true;
  TCursor FCursor = crDefault;
  TFont FFont;
  bool FTakingParentFont = false;
  TColor FColor = clBtnFace;
  std::wstring FCaption;
  std::unique_ptr<TControlCanvas> FCanvas;
  int FMessageDepth = 0;
  bool FMouseInControl = false;
  bool FClicked = false;
  // Cleared when the object dies, so a message being handled can tell that
  // its handler freed the control.
  std::shared_ptr<bool> FAlive = std::make_shared<bool>(true);

 protected:
  // Forms start hidden; other controls show with their parent.
  bool FVisible = true;
  // Forms keep their own font and colour; other controls take their parent's
  // until they are given their own.
  bool FParentFont = true;
  bool FParentColor = true;
};

// A control that holds other controls.
class TWinControl : public TControl {
 public:
  explicit TWinControl(TComponent* AOwner) : TControl(AOwner) {}

  // A window outside the framework to create this control's window in
  // (a foreign parent, as for a preview). Changing it after the window
  // exists moves the window there (or, with null, makes it a top-level
  // window again) without recreating it.
  HWND ParentWindow() const { return FParentWindow; }
  virtual void SetParentWindow(HWND Value);

 protected:
  ~TWinControl() override;
  void CreateParams(TCreateParams& Params) override;
  void CreateWnd() override;
  void WndProc(TMessage& Message) override;
  void FontChanged() override;
  void ColorChanged() override;
  void DetachChildren() override;

  HWND FParentWindow = nullptr;

 private:
  friend class TControl;
  std::vector<TControl*> FControls;  // the children, in the order they were given this parent
};

// Registers a window class of the program's module (the arrow for its
// pointer) unless it is there already; false when the system refuses it.
bool RegisterOwnWindowClass(const wchar_t* Name, WNDPROC Proc, UINT Style = 0);

// The control whose window this is, when the framework made it.
TControl* FindControl(HWND Wnd);

// Hands an exception caught at a window procedure or event boundary to the
// application's exception sink (discarded when there is no application).
void HandleApplicationException(std::exception_ptr E) noexcept;

// CallEvent for an event raised where nothing above may see its exception:
// what the handler throws goes to the application's exception sink.
template <typename F, typename... A>
void CallEventToSink(const F& Event, A&&... Args) noexcept {
  try {
    CallEvent(Event, std::forward<A>(Args)...);
  } catch (...) {
    HandleApplicationException(std::current_exception());
  }
}
