// The browser player: the Flash emulator in the system's browser (Edge,
// else Chrome, else Chromium), run headless and driven over the DevTools
// protocol on a pipe, its frames painted into a child window of ours. It
// stands in for the vendor's control where that control is gone, with the
// same operations; TShockwaveFlash takes it when the control cannot be
// created.
//
// One browser serves every player of the run: it starts with the first
// player and ends with the last (Browser.close, then the job object that
// holds it, so a killed saver takes it along too). Each player is a page of
// its own. The page, the emulator and the movie's files reach the browser
// only through the protocol (request interception): nothing listens, and
// every host name resolves to nothing.
#pragma once
#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "flash/browser_player.h"
#include "util/raii_win32.h"

// The browser's program: the App Paths of msedge.exe, then chrome.exe
// (machine, then user), then their usual install folders; empty when none
// is there.
std::string FindBrowserProgram();
// The emulator is carried in this program (its resource is there).
bool EmulatorCarried();
// The Flash Player version the carried emulator reports to movies, dotted
// ("32.0.0.0"); empty when none is carried.
std::string EmulatorFlashVersion();
// Whether a browser player can be created: the emulator is carried and a
// browser's program is found. Starts nothing.
bool CanCreateBrowserPlayer();

// The folder the run's browser keeps its profile in (a folder of its own
// inside, removed when the browser ends): the run's extraction folder,
// handed down by the main form; the temporary directory when none is set.
void SetBrowserPlayerFolder(const std::string& Folder);

class TBrowserHost;

class TBrowserPlayer {
 public:
  // Called on the browser's reader thread with an FSCommand of the movie
  // (command, arguments; UTF-16).
  using TCommandSink = std::function<void(std::wstring Command, std::wstring Args)>;

  // Starts the run's browser when none runs (the page opens with the movie);
  // throws std::runtime_error when the browser does not start or answer in
  // time.
  explicit TBrowserPlayer(TCommandSink OnCommand);
  ~TBrowserPlayer();
  TBrowserPlayer(const TBrowserPlayer&) = delete;
  TBrowserPlayer& operator=(const TBrowserPlayer&) = delete;

  // The player's window, a child of Parent at Bounds (parent's client
  // coordinates). Its window procedure is WindowProc: it paints the frames,
  // hands the movie its input and lets it advance on WM_TIMER.
  HWND CreateWindowIn(HWND Parent, const RECT& Bounds);
  void SetBounds(const RECT& Bounds);

  void SetLoop(bool Value) { FLoop = Value; }
  void SetMenu(bool Value) { FMenu = Value; }
  void SetQuality(int Value) { FQuality = Value; }
  void SetFlashVars(const std::wstring& Value) { FFlashVars = Value; }
  void SetBackgroundColor(int Value) { FBackgroundColor = Value; }
  // The movie loads at the next WM_TIMER that reaches the player, so that
  // the puts made with it (Scale) take part.
  void SetMovie(const std::wstring& Path);
  void SetScale(const std::wstring& Value);
  // At most one frame of the movie per MinGapMs (0: the movie's own rate),
  // for an owner that spaces its timer messages so.
  void SetMinFrameGap(unsigned MinGapMs) { FMinFrameGapMs = MinGapMs; }
  // Stop pauses the movie; StopPlay pauses it and ends the frames.
  void Stop();
  void StopPlay();

  // Around each WM_TIMER offered to the player's window: when its owner
  // withheld it (it never reached WindowProc), the movie pauses until one
  // passes again. Its time is the timer's, as the control's is.
  void BeginTimerOffer();
  void EndTimerOffer();

 private:
  static LRESULT CALLBACK WindowProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) noexcept;
  LRESULT Handle(UINT Msg, WPARAM WParam, LPARAM LParam);
  void OnEvent(const TDevToolsMessage& Message);  // reader thread
  void OnFrame(const TJson& Params);               // reader thread
  void OnRequest(const TJson& Params);             // reader thread
  void OpenPage();
  void Load();
  void SetPaused(bool Paused);
  void Paint();
  void SendMouse(const char* Type, LPARAM Point, const char* Button, int ClickCount, int WheelDelta = 0);
  std::string PageUrl() const;

  std::shared_ptr<TBrowserHost> FHost;
  TCommandSink FOnCommand;
  std::string FToken, FTarget, FSession;
  TUniqueWindow FWindow;
  TWindowTimer FTick;  // the window's own timer: the movie's time

  bool FLoop = true, FMenu = true, FShowAll = true;
  int FQuality = -1, FBackgroundColor = -1;
  unsigned FMinFrameGapMs = 0;
  std::wstring FFlashVars, FMovie;
  bool FLoadPending = false, FLoaded = false, FPaused = false, FTimerReached = false;

  // What the page serves, fixed once it loads (read by the reader thread).
  std::string FPage;
  std::vector<uint8_t> FMovieBytes;
  std::string FMovieName, FMovieFolder;
  int FPageW = 0, FPageH = 0;
  int32_t FMovieBackground = -1;

  // For the trace: frames since the page said the movie loaded, as they
  // came (reader thread) and as they were painted (each new one once).
  std::atomic<bool> FMovieStarted{false};
  std::atomic<int> FFramesSinceStart{0};
  int FPaintedFrames = 0, FPaintsSinceStart = 0;

  // The newest frame, top-down BGRA, from the reader thread.
  std::mutex FFrameLock;
  std::vector<uint8_t> FFrame;
  int FFrameW = 0, FFrameH = 0;
};
