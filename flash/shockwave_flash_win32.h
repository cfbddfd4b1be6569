// TShockwaveFlash: one Shockwave Flash ActiveX control hosted as a child
// window, in plain COM. The wrapper owns the control instance, its client
// site, its event connection and the subclass of its window; everything is
// released in order when the wrapper is destroyed.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <ocidl.h>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>

#include "flash/browser_player_win32.h"
#include "util/raii_com_win32.h"

// A COM call the control refused. Callers guard each put and method call.
class EOleError : public std::runtime_error {
 public:
  EOleError(HRESULT Code, const std::string& What);
  HRESULT Code() const { return FCode; }

 private:
  HRESULT FCode;
};

// One window message on its way to the control; Result is what the window
// procedure returns.
struct TFlashMessage {
  UINT Msg = 0;
  WPARAM WParam = 0;
  LPARAM LParam = 0;
  LRESULT Result = 0;
};

// The control's default dual interface, reached only through its method
// table by position (QueryInterface for it through this type).
struct IShockwaveFlash : public IDispatch {};
__CRT_UUID_DECL(IShockwaveFlash, 0xD27CDB6C, 0xAE6D, 0x11CF, 0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00)

// The control's identifiers: class and event interface.
extern const CLSID CLSID_ShockwaveFlash;
extern const IID DIID_DShockwaveFlashEvents;

// Dispatch identifiers of the properties we put and of the event we handle.
enum : DISPID {
  DISPID_FLASH_MOVIE = 102,
  DISPID_FLASH_QUALITY = 105,
  DISPID_FLASH_LOOP = 106,
  DISPID_FLASH_BACKGROUNDCOLOR = 123,
  DISPID_FLASH_MENU = 135,
  DISPID_FLASH_SCALE = 137,
  DISPID_FLASH_FLASHVARS = 170,
  DISPID_FLASH_FSCOMMAND = 150,
};

// Positions in IShockwaveFlash's method table (QueryInterface is 0).
enum : int {
  SLOT_FLASH_STOP = 29,
  SLOT_FLASH_STOPPLAY = 33,
  SLOT_FLASH_DISABLELOCALSECURITY = 95,
};

class TFlashSite;
class TFlashEventSink;

// The player as the main form uses it: the vendor's ActiveX control when it
// can be created, else the browser player (the Flash emulator in the
// system's browser), behind the same operations and the same window-message
// path, so whatever filters the messages works for both.
class TShockwaveFlash {
 public:
  using TFSCommandEvent =
      std::function<void(TShockwaveFlash& Sender, const std::wstring& Command, const std::wstring& Args)>;

  // Creates the control instance, or the browser player where the control
  // cannot be created and a browser player can (raises EOleError when
  // neither can be created). With a parent the control is activated in place at once;
  // without one, activation waits for SetParentWindow.
  explicit TShockwaveFlash(HWND Parent = nullptr);
  virtual ~TShockwaveFlash();
  TShockwaveFlash(const TShockwaveFlash&) = delete;
  TShockwaveFlash& operator=(const TShockwaveFlash&) = delete;

  // The control's own window; null until it is active in a parent.
  HWND Handle() const { return FControlWnd; }
  void SetParentWindow(HWND Parent);
  // Bounds in the parent's client coordinates. Setting them ends alignment.
  void SetBounds(int Left, int Top, int Width, int Height);
  // Fills the parent's client area and follows it when the parent is resized.
  void AlignToParentClient();
  void Hide();

  // Property puts; a refused put raises EOleError.
  void SetLoop(bool Value);
  void SetMenu(bool Value);
  void SetQuality(int Value);
  void SetFlashVars(const std::wstring& Value);
  void SetBackgroundColor(int Value);
  void SetMovie(const std::wstring& Value);
  void SetScale(const std::wstring& Value);

  // Methods of the dual interface; a failure result raises EOleError. The
  // browser player pauses on Stop, also ends its frames on StopPlay, and
  // has no local security to disable.
  void Stop();
  void StopPlay();
  void DisableLocalSecurity();
  // An owner that lets at least MinGapMs pass between two timer messages
  // slows the control by that alone; the browser player's emulator keeps its
  // own time, so it is told to run at one frame a gap at the most.
  void LimitFrameRate(unsigned MinGapMs);

  // Raised on the GUI thread, from the message queue, never from inside the
  // control's own call: the handler may free this control.
  TFSCommandEvent OnFSCommand;

 protected:
  // Every message for the control's window passes here first. The base
  // hands it to the control; an override may withhold it by not calling
  // the base (set Message.Result instead).
  virtual void WndProc(TFlashMessage& Message);

 private:
  friend class TFlashSite;
  friend class TFlashEventSink;

  void PutProperty(DISPID Id, VARIANT& Value, const char* Name);
  void PutBool(DISPID Id, bool Value, const char* Name);
  void PutInt(DISPID Id, int Value, const char* Name);
  void PutText(DISPID Id, const std::wstring& Value, const char* Name);
  void CallSlot(int Slot, const char* Name);

  void Activate();
  void ApplyBounds();
  void SubclassControl();
  void UnsubclassControl();
  void FollowParent(bool Follow);
  void Teardown();
  void QueueFSCommand(std::wstring Command, std::wstring Args);
  void DeliverFSCommands();

  static LRESULT CALLBACK ControlProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam, UINT_PTR Id,
                                      DWORD_PTR Data) noexcept;
  static LRESULT CALLBACK ParentProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam, UINT_PTR Id,
                                     DWORD_PTR Data) noexcept;

  HWND FParent = nullptr;
  HWND FControlWnd = nullptr;
  TWindowSubclass FControlSubclass;
  RECT FBounds{0, 0, 0, 0};
  bool FAlignClient = false;
  // Set while the parent's size is followed.
  TWindowSubclass FParentSubclass;
  bool FActive = false;
  bool FVisible = true;

  TComPtr<IOleObject> FOleObject;
  TComPtr<IOleInPlaceObject> FInPlaceObject;
  TComPtr<IDispatch> FDispatch;
  TAdviseConnection FEvents;
  TComPtr<TFlashSite> FSite;
  TComPtr<TFlashEventSink> FSink;
  std::unique_ptr<TBrowserPlayer> FBrowser;
  // Queued by the control's sink on this thread, or by the browser player's
  // reader thread.
  std::mutex FCommandLock;
  std::deque<std::pair<std::wstring, std::wstring>> FPendingCommands;
};
