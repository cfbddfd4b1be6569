// `plws play` on Linux: extracts the movie into a private folder, serves it
// with the Ruffle player on 127.0.0.1, runs Chromium on the page and ends
// it when the movie quits or input ends the run, then removes every file.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include "package/exe_adder.h"
#include "tools/plws/platform.h"
#include "tools/plws/play_posix.h"
#include "tools/plws/plws.h"

std::string Printable(const std::string& S, size_t Max) {
  const std::string e = EscapeBytes(S);
  return e.size() > Max ? e.substr(0, Max) + "..." : e;
}

namespace {

std::atomic<int> gSignal{0};
void OnSignal(int Signal) { gSignal = Signal; }

std::string FormatSeconds(double Seconds) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", Seconds);
  return buf;
}

class TPlayRun {
 public:
  explicit TPlayRun(const TPlayOptions& Options) : O(Options) {}

  int Run() {
    // Before anything else: a killed run's folder holds a copy of a movie.
    RemoveAbandonedPrivateFolders(PrivateFolderBase(), FLog);
    if (PrivateFolderBase() != "/tmp") RemoveAbandonedPrivateFolders("/tmp", FLog);
    TOwnedItems items;
    ReadPackage(O.File, items);
    const TPlayerSettings settings = DecodeSettings(items);
    if (!settings.Movie) throw EPlwsError(O.File + ": the package has no movie (no \"FlashSwf\" item)");
    const TItemBlock movie = settings.Movie->Block;
    if (!LooksLikeSwf(movie.Data, movie.Size)) throw EPlwsError(O.File + ": the \"FlashSwf\" item is not a SWF movie");
    const std::string ruffle = RuffleDir();
    const std::string browserExe = BrowserExe();
    const bool headless = !O.Screenshot.empty();
    if (!headless && !std::getenv("DISPLAY"))
      throw EPlwsError("no display: set DISPLAY, or take a picture with --screenshot");

    // The private folder plays the user's temporary directory; the browser
    // profile lives beside it, out of the server's reach.
    TPrivateFolder root;
    const std::string temp = root.Path() + "/temp", profile = root.Path() + "/profile";
    if (mkdir(temp.c_str(), 0700) != 0 || mkdir(profile.c_str(), 0700) != 0)
      throw EPlwsError(root.Path() + ": cannot make folders: " + std::strerror(errno));
    // Chromium puts a socket in its TMPDIR, whose path may not exceed 107
    // bytes; a deep TMPDIR gets a short private folder of its own in /tmp.
    std::optional<TPrivateFolder> shortFolder;
    std::string browserTemp = root.Path() + "/b";
    if (browserTemp.size() + 48 > 107) {
      shortFolder.emplace("/tmp");
      browserTemp = shortFolder->Path();
    } else if (mkdir(browserTemp.c_str(), 0700) != 0) {
      throw EPlwsError(browserTemp + ": cannot make: " + std::strerror(errno));
    }
    const auto folder = MovieFolder(settings, temp, IsShiftJisLeadByte, '/');
    const bool created = folder && mkdir(folder->c_str(), 0700) == 0;
    const TExtractionPlan plan = PlanExtraction(settings, temp, created, IsShiftJisLeadByte, '/');
    for (const auto& why : plan.Refused) FLog.Line("refused: " + Printable(why));
    if (plan.MoviePath.empty()) throw EPlwsError(O.File + ": the movie cannot be extracted safely");
    int written = 0;
    for (const TPlannedFile& f : plan.Files) {
      std::vector<uint8_t> bytes(f.Block.Data, f.Block.Data + (f.Block.Data ? f.Block.Size : 0));
      if (f.Path == plan.MoviePath && !settings.Loop) {
        // Loop off: the movie stops at its last frame, as the control does.
        if (auto once = SwfStopAtLastFrame(bytes))
          bytes = std::move(*once);
        else
          FLog.Line("note: this movie cannot be stopped at its last frame; it will loop");
      }
      if (WritePlanned(f, bytes.data(), bytes.size()))
        ++written;
      else
        FLog.Line("cannot write " + Printable(f.Path) + ": " + std::strerror(errno));
    }
    FLog.Line("extracted " + std::to_string(written) + " file(s) into " + temp);

    const std::string token = MakeRunToken();
    const std::string urlRoot = "/" + token + "/";
    const std::string movieUrl = "/" + token + UrlOf(plan.MoviePath, temp);
    const std::string baseUrl = movieUrl.substr(0, movieUrl.rfind('/') + 1);
    TPageConfig page = PageConfigFor(settings, O.Preview, movieUrl, baseUrl);
    page.Root = urlRoot;
    FLog.Line("FlashVars \"" + Printable(page.FlashVars) + "\"");
    // Declared after the folder, so both end before it is removed.
    TServer server(BuildPlayPage(page), token, ruffle, temp, FEvents, FLog);
    struct TEndBrowser {
      TBrowserProcess& B;
      ~TEndBrowser() { B.End(); }
    } endBrowser{FBrowser};
    server.Start();
    const std::string url = server.Origin() + urlRoot;
    FLog.Line("serving " + url);

    TBrowserLaunch launch;
    // Every local user can read the browser's command line, so the token
    // goes in a page of the private folder that leads on to the server.
    launch.Url = WriteStartPage(root.Path() + "/start.html", url);
    launch.ProfileDir = profile;
    launch.NoSandbox = geteuid() == 0;  // Chromium's sandbox refuses to run as root
    if (headless) {
      launch.Mode = TBrowserLaunch::Headless;
      launch.Width = O.Width ? O.Width : 800;
      launch.Height = O.Height ? O.Height : 600;
    } else if (O.Width) {
      launch.Mode = TBrowserLaunch::Window;
      launch.Width = O.Width;
      launch.Height = O.Height;
    } else {
      std::tie(launch.Width, launch.Height) = ScreenSize();
    }
    const std::string browserLog = root.Path() + "/browser.log";
    FBrowser.Start(browserExe, BrowserArgs(launch), browserLog, browserTemp, headless);
    FLog.Line("started Chromium, process " + std::to_string(FBrowser.Pid()));

    int status = headless ? Screenshot(url, launch) : Play();
    FBrowser.End();
    server.Stop();
    if (status == 1 && !FBrowserFailed.empty()) FLog.Line("Chromium's log:\n" + LogTail(browserLog));
    return status;
  }

 private:
  // Handles what the page reported; true when the run should end.
  bool Pump() {
    for (const TEvent& e : FEvents.TakeAll()) {
      auto field = [&](const char* k) {
        const auto it = e.Fields.find(k);
        return it == e.Fields.end() ? std::string() : it->second;
      };
      if (e.Kind == "loaded") {
        FLoaded = true;
        FLog.Line("the movie is playing");
      } else if (e.Kind == "fscommand") {
        const std::string command = field("command");
        std::string line = "FSCommand \"" + Printable(command) + "\" \"" + Printable(field("args")) + "\"";
        if (FsCommandEndsRun(command, O.Preview)) {
          if (O.Screenshot.empty())
            FEndReason = "the movie sent FSCommand \"" + Printable(command) + "\"";
          else
            line += " (a picture is being taken: the run goes on)";
        } else if (FsCommandEndsRun(command, false)) {
          line += " (ignored in preview)";
        }
        FLog.Line(line);
      } else if (e.Kind == "end") {
        if (O.Screenshot.empty()) FEndReason = "input (" + Printable(field("reason")) + ")";
      } else if (e.Kind == "error") {
        FPlayerError = field("message");
        FLog.Line("the player reports: " + Printable(FPlayerError));
      }
    }
    return !FEndReason.empty();
  }

  // Waits until Done, the browser ends, a signal comes or Deadline passes.
  enum class TWait { Done, BrowserEnded, Signal, Timeout };
  template <class F>
  TWait WaitFor(F Done, Clock::time_point Deadline) {
    for (;;) {
      Pump();
      if (Done()) return TWait::Done;
      if (gSignal) return TWait::Signal;
      if (FBrowser.Ended()) return TWait::BrowserEnded;
      if (Clock::now() >= Deadline) return TWait::Timeout;
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
  }

  int BrowserEndedStatus() {
    FBrowserFailed = FBrowser.Status() != 0 ? "x" : "";
    FLog.Line("Chromium ended by itself with status " + std::to_string(FBrowser.Status()));
    return FBrowser.Status() == 0 ? 0 : 1;
  }

  int Play() {
    switch (WaitFor([&] { return !FEndReason.empty(); }, Clock::time_point::max())) {
      case TWait::Done:
        FLog.Line("ended: " + FEndReason);
        return 0;
      case TWait::Signal:
        FLog.Line("ended by signal " + std::to_string(gSignal.load()));
        return 128 + gSignal;
      case TWait::BrowserEnded: return BrowserEndedStatus();
      case TWait::Timeout: break;
    }
    return 1;
  }

  int Screenshot(const std::string& Url, const TBrowserLaunch& Launch) {
    try {
      TDevTools dev(FBrowser.ToBrowser(), FBrowser.FromBrowser(), gSignal);
      const int startMs = 60000;
      const TJson target = dev.Call("Target.createTarget", "{\"url\":\"about:blank\"}", "", startMs);
      const TJson* targetId = target.Get("targetId");
      if (!targetId) throw EPlwsError("the browser made no page");
      const TJson attached = dev.Call("Target.attachToTarget",
                                      "{\"targetId\":" + JsonString(targetId->StringValue) + ",\"flatten\":true}", "",
                                      startMs);
      const TJson* session = attached.Get("sessionId");
      if (!session) throw EPlwsError("the browser gave no session");
      const std::string sid = session->StringValue;
      dev.Call("Emulation.setDeviceMetricsOverride",
               "{\"width\":" + std::to_string(Launch.Width) + ",\"height\":" + std::to_string(Launch.Height) +
                   ",\"deviceScaleFactor\":1,\"mobile\":false}",
               sid, startMs);
      dev.Call("Page.navigate", "{\"url\":" + JsonString(Url) + "}", sid, startMs);

      // The player compiles a large WebAssembly module first: allow a slow machine.
      const auto loaded =
          WaitFor([&] { return FLoaded || !FPlayerError.empty(); }, Clock::now() + std::chrono::seconds(180));
      if (loaded == TWait::Signal) return 128 + gSignal;
      if (loaded == TWait::BrowserEnded) return BrowserEndedStatus(), 1;
      if (loaded == TWait::Timeout) throw EPlwsError("the movie did not start within 180 seconds");
      if (!FLoaded) throw EPlwsError("the player failed: " + FPlayerError);
      const auto after = Clock::now() + std::chrono::milliseconds(static_cast<long long>(O.AfterSeconds * 1000));
      const auto waited = WaitFor([] { return false; }, after);
      if (waited == TWait::Signal) return 128 + gSignal;
      if (waited == TWait::BrowserEnded) return BrowserEndedStatus(), 1;

      const TJson shot = dev.Call("Page.captureScreenshot", "{\"format\":\"png\"}", sid, 60000);
      const TJson* data = shot.Get("data");
      const auto png = data ? Base64Decode(data->StringValue) : std::nullopt;
      if (!png) throw EPlwsError("the browser sent no picture");
      {
        TUniqueFd fd(open(O.Screenshot.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        bool ok = fd && WriteAll(fd.Get(), png->data(), png->size());
        if (!fd.Close()) ok = false;
        if (!ok) throw EPlwsError(O.Screenshot + ": cannot write: " + std::strerror(errno));
      }
      FLog.Line("picture in " + O.Screenshot + " (" + std::to_string(Launch.Width) + "x" +
                std::to_string(Launch.Height) + ", " + FormatSeconds(O.AfterSeconds) + " s after the movie started)");
      try {
        dev.Call("Browser.close", "", "", 5000);
      } catch (const EPlwsError&) {
        // It is ended by its process id below in any case.
      }
      return 0;
    } catch (const EPlwsError& e) {
      if (gSignal) return 128 + gSignal;
      FBrowserFailed = "x";
      std::cerr << "plws: play: " << e.what() << "\n";
      return 1;
    }
  }

  const TPlayOptions& O;
  TLog FLog;
  TEventQueue FEvents;
  TBrowserProcess FBrowser;
  bool FLoaded = false;
  std::string FEndReason, FPlayerError, FBrowserFailed;
};

}  // namespace

int PlayCommand(const std::vector<std::string>& Args) {
  TPlayOptions options;
  try {
    options = ParsePlayArgs(Args);
  } catch (const EPlwsError& e) {
    std::cerr << "plws: " << e.what() << "\n"
              << "usage: plws play FILE [--preview] [--window WxH] [--screenshot PNG [--after SECONDS]]\n";
    return 2;
  }
  struct sigaction on {};
  on.sa_handler = OnSignal;
  sigemptyset(&on.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &on, nullptr);
  signal(SIGPIPE, SIG_IGN);
  try {
    TPlayRun run(options);
    const int status = run.Run();
    std::cout << "plws play: removed its private folder" << std::endl;
    return status;
  } catch (const EPlwsError& e) {
    std::cerr << "plws: play: " << e.what() << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "plws: play: " << e.what() << "\n";
    return 1;
  }
}
