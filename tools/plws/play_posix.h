// The parts of a `plws play` run that need POSIX: the local server
// (play_server_posix.cpp), Chromium and its DevTools pipe
// (play_browser_posix.cpp) and the run's private folder and files
// (play_files_posix.cpp). play_run_posix.cpp puts them together.
#pragma once
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/extraction_plan.h"
#include "app/settings.h"
#include "package/raii_items.h"
#include "tools/plws/play.h"
#include "util/raii_posix.h"

using Clock = std::chrono::steady_clock;

// One line per happening on stdout; the server thread writes here too.
class TLog {
 public:
  void Line(const std::string& Text) {
    std::lock_guard<std::mutex> lock(FMutex);
    std::cout << "plws play: " << Text << std::endl;
  }

 private:
  std::mutex FMutex;
};

// Text from outside, escaped and cut to Max bytes for one line of the log.
std::string Printable(const std::string& S, size_t Max = 300);

// What the page reported: "loaded", "fscommand", "end" or "error", with
// every field of the report.
struct TEvent {
  std::string Kind;
  std::map<std::string, std::string> Fields;
};

class TEventQueue {
 public:
  void Push(TEvent E) {
    std::lock_guard<std::mutex> lock(FMutex);
    FEvents.push_back(std::move(E));
  }
  std::vector<TEvent> TakeAll() {
    std::lock_guard<std::mutex> lock(FMutex);
    return std::exchange(FEvents, {});
  }

 private:
  std::mutex FMutex;
  std::vector<TEvent> FEvents;
};

// ------------------------------------------------------------------- server

// The run's token: 128 bits from the kernel's random source, in hex.
std::string MakeRunToken();

// A tiny HTTP/1.1 server on 127.0.0.1: the page, the player's files, the
// extracted files and the page's reports; nothing else, and only for
// requests that carry the run's token. One thread accepts, one thread serves
// each connection, a few at a time.
class TServer {
 public:
  // More than the browser opens to one server, few enough that nobody can
  // tie up the machine with connections.
  static constexpr size_t kMaxConnections = 8;

  TServer(std::string Page, std::string Token, std::string RuffleDir, std::string ServedDir, TEventQueue& Events,
          TLog& Log)
      : FPage(std::move(Page)), FToken(std::move(Token)), FRuffleDir(std::move(RuffleDir)),
        FServedDir(std::move(ServedDir)), FEvents(Events), FLog(Log) {}
  ~TServer() { Stop(); }
  TServer(const TServer&) = delete;
  TServer& operator=(const TServer&) = delete;

  // Listens on a free port and serves from threads of its own.
  void Start();
  // Ends every thread of the server and closes its descriptors.
  void Stop();

  std::string Origin() const { return "http://" + FHost; }

 private:
  struct TConnection {
    TUniqueFd Fd;
    std::thread Thread;
    std::atomic<bool> Done{false};
  };

  void AcceptLoop();
  void Reap();
  std::string InsideServed(const std::vector<std::string>& Segments);
  void Handle(int Fd, const std::string& Peer);

  const std::string FPage, FToken, FRuffleDir, FServedDir;
  std::string FServedReal, FHost;
  TEventQueue& FEvents;
  TLog& FLog;
  TUniqueFd FListen;
  TUniqueFd FWake[2];
  std::atomic<bool> FStopping{false};
  std::thread FThread;
  std::list<std::unique_ptr<TConnection>> FConnections;  // touched by the accept thread only
};

// ------------------------------------------------------------------ browser

// Where the Ruffle player and Chromium are (PLWS_RUFFLE_DIR, PLWS_CHROMIUM
// override them); EPlwsError when one is missing.
std::string RuffleDir();
std::string BrowserExe();

// The X screen's size from xdpyinfo, so the kiosk window covers it even
// without a window manager; 0x0 when it cannot be learnt.
std::pair<int, int> ScreenSize();

// Chromium, started in a process group of its own and ended by its process id.
class TBrowserProcess {
 public:
  ~TBrowserProcess() { End(); }

  // TempDir becomes the browser's TMPDIR: what it leaves there (its
  // singleton socket) goes with the private folder.
  void Start(const std::string& Exe, const std::vector<std::string>& Args, const std::string& LogPath,
             const std::string& TempDir, bool DevToolsPipe);
  // True once the browser has ended; its leftover helpers are then killed
  // and it is reaped. Status is its exit code (128 + signal when killed).
  bool Ended();
  // Ends the browser by its process id: a polite request, then force.
  void End();

  int Status() const { return FStatus; }
  pid_t Pid() const { return FProcess.Get(); }
  int ToBrowser() const { return FToBrowser.Get(); }
  int FromBrowser() const { return FFromBrowser.Get(); }

 private:
  TChildProcessGroup FProcess;
  int FStatus = 0;
  TUniqueFd FToBrowser, FFromBrowser;
};

// The browser's DevTools protocol over its pipe: NUL-terminated JSON.
class TDevTools {
 public:
  // A call gives up once Signal is set.
  TDevTools(int ToBrowser, int FromBrowser, const std::atomic<int>& Signal)
      : FOut(ToBrowser), FIn(FromBrowser), FSignal(Signal) {}

  // Sends Method and waits for its answer; throws EPlwsError on an error
  // answer, a closed pipe or when TimeoutMs passes.
  TJson Call(const std::string& Method, const std::string& Params, const std::string& Session, int TimeoutMs);

 private:
  int FOut, FIn;
  const std::atomic<int>& FSignal;
  int FLastId = 0;
  std::string FBuffer;
};

// -------------------------------------------------------------------- files

// Removes from Base the private folders that runs which were killed left
// behind: only folders (never what a link points to) of this user, named
// as this program names them, whose process has gone.
void RemoveAbandonedPrivateFolders(const std::string& Base, TLog& Log);

// The folder private folders go in: Base, else TMPDIR, else /tmp.
std::string PrivateFolderBase(const std::string& Base = "");

// Removes the private folder and everything in it when the run ends, on
// every way out.
class TPrivateFolder {
 public:
  // In TMPDIR, or in Base when one is given.
  explicit TPrivateFolder(const std::string& Base = "");
  ~TPrivateFolder();
  TPrivateFolder(const TPrivateFolder&) = delete;
  TPrivateFolder& operator=(const TPrivateFolder&) = delete;
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
};

// Reads the package, refusing one that is missing, damaged or corrupt.
void ReadPackage(const std::string& File, TItemTypes& Items);

// Writes a file of the extraction plan; false (errno set) when it fails.
bool WritePlanned(const TPlannedFile& F, const uint8_t* Data, size_t Size);

// The server's address of Path, a file below the served folder Root.
std::string UrlOf(const std::string& Path, const std::string& Root);

// A page that sends the browser on to Url at once; its file:// address.
std::string WriteStartPage(const std::string& Path, const std::string& Url);

// The end of a log file, for a message.
std::string LogTail(const std::string& Path);
