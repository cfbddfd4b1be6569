// `plws play` for real: Chromium with Ruffle, headless pictures, a kiosk
// window on a private Xvfb ended by the movie or by xdotool input, the local
// server, and bad packages that never reach a browser.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "package/writer.h"
#include "tests/support/package_builder.h"
#include "tools/swfgen/swf_writer.h"
#include "util/raii_posix.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string ReadFile(const fs::path& Path) {
  std::ifstream f(Path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void WriteFile(const fs::path& Path, const std::vector<uint8_t>& Bytes) {
  std::ofstream(Path, std::ios::binary).write(reinterpret_cast<const char*>(Bytes.data()),
                                              static_cast<std::streamsize>(Bytes.size()));
}

struct TTestDir {
  fs::path Path;
  TTestDir() {
    Path = fs::temp_directory_path() / ("plws_play_test_" + std::to_string(std::random_device{}()));
    fs::create_directories(Path / "tmp");
  }
  ~TTestDir() { fs::remove_all(Path); }
  // The TMPDIR given to plws: empty again once a run has ended.
  fs::path Tmp() const { return Path / "tmp"; }
  bool TmpIsEmpty() const { return fs::is_empty(Tmp()); }
};

std::string PlwsExe() {
  const char* bin = std::getenv("PL_BINARY_DIR");
  return std::string(bin ? bin : ".") + "/tools/plws/plws";
}

// One `plws play` process with its output in files.
class TPlws {
 public:
  TPlws(const TTestDir& Dir, const std::vector<std::string>& Args, const std::vector<std::string>& Env = {}) {
    static int counter = 0;
    const std::string stem = "run" + std::to_string(counter++);
    FOut = Dir.Path / (stem + ".out");
    FErr = Dir.Path / (stem + ".err");
    std::vector<std::string> all = {PlwsExe(), "play"};
    all.insert(all.end(), Args.begin(), Args.end());
    std::vector<std::string> env = {"TMPDIR=" + Dir.Tmp().string()};
    env.insert(env.end(), Env.begin(), Env.end());
    FPid = fork();
    if (FPid == 0) {
      for (const auto& e : env) putenv(const_cast<char*>(e.c_str()));
      const int out = open(FOut.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int err = open(FErr.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(out, 1);
      dup2(err, 2);
      std::vector<char*> argv;
      for (auto& a : all) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
  }
  ~TPlws() {
    if (FPid > 0) {
      kill(FPid, SIGTERM);
      Wait(std::chrono::seconds(20));
    }
    if (FPid > 0) {
      kill(FPid, SIGKILL);
      waitpid(FPid, nullptr, 0);
    }
  }

  std::string Out() const { return ReadFile(FOut); }
  pid_t Pid() const { return FPid; }
  std::string Err() const { return ReadFile(FErr); }
  bool Running() const { return FPid > 0; }

  // Waits until Done() holds for what is on stdout; false when the process
  // ends first or Timeout passes.
  template <class F>
  bool WaitUntilOutput(F Done, std::chrono::seconds Timeout) {
    const auto deadline = std::chrono::steady_clock::now() + Timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      if (Done(Out())) return true;
      if (!Alive()) return Done(Out());
      std::this_thread::sleep_for(100ms);
    }
    return false;
  }
  bool WaitForOutput(const std::string& Text, std::chrono::seconds Timeout) {
    return WaitUntilOutput([&](const std::string& Out) { return Out.find(Text) != std::string::npos; }, Timeout);
  }

  // The exit status, or -1 when it is still running after Timeout.
  int Wait(std::chrono::seconds Timeout) {
    const auto deadline = std::chrono::steady_clock::now() + Timeout;
    while (Alive() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(100ms);
    return FPid > 0 ? -1 : FStatus;
  }

  // Still running after a quiet spell of For.
  bool StillRunningAfter(std::chrono::milliseconds For) {
    std::this_thread::sleep_for(For);
    return Alive();
  }

  void Signal(int S) {
    if (FPid > 0) kill(FPid, S);
  }

  // The browser's process id as plws reported it; 0 when not started.
  pid_t BrowserPid() const {
    std::smatch m;
    const std::string out = Out();
    return std::regex_search(out, m, std::regex("started Chromium, process (\\d+)")) ? std::stoi(m[1]) : 0;
  }

 private:
  bool Alive() {
    if (FPid <= 0) return false;
    int raw = 0;
    if (waitpid(FPid, &raw, WNOHANG) != FPid) return true;
    FStatus = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    FPid = -1;
    return false;
  }
  pid_t FPid = -1;
  int FStatus = -1;
  fs::path FOut, FErr;
};

bool ProcessGone(pid_t Pid) { return Pid > 0 && kill(Pid, 0) != 0 && errno == ESRCH; }

std::vector<TPackageRecord> PackageWith(const TSwfMovieOptions& Movie, std::vector<TPackageRecord> Extra = {}) {
  std::vector<TPackageRecord> r = {StoredItem("GUID", "{5E1F0C2A-PLAY}"), StoredItem("FlashVars", "a=1")};
  r.insert(r.end(), Extra.begin(), Extra.end());
  r.push_back(CompressedItem("FlashSwf", BuildSwfMovie(Movie)));
  return r;
}

fs::path WritePackage(const TTestDir& Dir, const std::string& Name, const std::vector<TPackageRecord>& Records) {
  const fs::path p = Dir.Path / Name;
  WriteFile(p, WithPackage(Bytes("MZ a stand-in for saver.scr"), 0x5A, Records));
  return p;
}

TPackageRecord Flag(const std::string& Name, uint8_t V) { return StoredItem(Name, std::vector<uint8_t>{V}); }
TPackageRecord Int(const std::string& Name, int32_t V) { return StoredItem(Name, Int32Bytes(V)); }

// Every request the server logged came from 127.0.0.1 and named it as the host.
void ExpectOnlyLocalRequests(const std::string& Out) {
  std::regex line("request from ([0-9.]+):\\d+ for host ([^:]*):(\\d+):");
  int count = 0;
  for (std::sregex_iterator it(Out.begin(), Out.end(), line), end; it != end; ++it, ++count) {
    EXPECT_EQ((*it)[1], "127.0.0.1");
    EXPECT_EQ((*it)[2], "127.0.0.1");
  }
  EXPECT_GE(count, 4) << "page, player script, player module and movie at least";
}

size_t Count(const std::string& Text, const std::string& What) {
  size_t n = 0;
  for (size_t at = Text.find(What); at != std::string::npos; at = Text.find(What, at + 1)) ++n;
  return n;
}

constexpr auto kStart = std::chrono::seconds(240);  // the player's module compiles slowly on a busy machine

}  // namespace

// ------------------------------------------------------------------ headless

TEST(PlayHeadless, PictureFlashVarsAndLoop) {
  TTestDir dir;
  TSwfMovieOptions movie;
  movie.Width = 400;
  movie.Height = 300;
  movie.Background = 0x00FF00;  // replaced by the package's background colour
  movie.ShapeColor = 0xFF0000;
  movie.FramesPerSecond = 10;
  movie.Frames = 10;
  movie.EchoVariables = {"a", "plumexmode"};
  movie.ReportFrames = true;
  const fs::path pkg = WritePackage(dir, "loop.scr",
                                    PackageWith(movie, {Flag("FlashLoop", 1), Flag("FlashStretch", 1),
                                                        Int("FlashBackColor", 0x3366CC)}));
  const fs::path shot = dir.Path / "shot.png";
  TPlws run(dir, {pkg.string(), "--screenshot", shot.string(), "--after", "2.5", "--window", "400x300"});
  ASSERT_EQ(run.Wait(kStart), 0) << run.Out() << run.Err();
  const std::string out = run.Out();
  EXPECT_NE(out.find("FSCommand \"echo\" \"a=1&plumexmode=normal\""), std::string::npos) << out;
  EXPECT_GE(Count(out, "FSCommand \"frame\" \"1\""), 2u) << "FlashLoop on: the movie starts over\n" << out;
  ExpectOnlyLocalRequests(out);
  EXPECT_TRUE(dir.TmpIsEmpty());
  EXPECT_TRUE(ProcessGone(run.BrowserPid()));

  // The picture: the package's background and the movie's red square.
  const fs::path raw = dir.Path / "shot.rgb";
  ASSERT_EQ(std::system(("convert " + shot.string() + " -depth 8 rgb:" + raw.string()).c_str()), 0);
  const std::string px = ReadFile(raw);
  ASSERT_EQ(px.size(), 400u * 300 * 3);
  auto at = [&](int x, int y, int c) { return static_cast<uint8_t>(px[(static_cast<size_t>(y) * 400 + x) * 3 + c]); };
  EXPECT_NEAR(at(3, 3, 0), 0x33, 2);
  EXPECT_NEAR(at(3, 3, 1), 0x66, 2);
  EXPECT_NEAR(at(3, 3, 2), 0xCC, 2);
  size_t red = 0;
  for (int y = 0; y < 300; ++y)
    for (int x = 0; x < 400; ++x) red += at(x, y, 0) > 200 && at(x, y, 1) < 60 && at(x, y, 2) < 60;
  EXPECT_GT(red, 4000u) << "the 75x75 square";
  EXPECT_LT(red, 7000u);
}

TEST(PlayHeadless, PreviewFlashVarsAndNoLoop) {
  TTestDir dir;
  TSwfMovieOptions movie;
  movie.FramesPerSecond = 10;
  movie.Frames = 5;
  movie.EchoVariables = {"a", "plumexmode"};
  movie.ReportFrames = true;
  movie.QuitAfterFrames = 2;  // ignored in preview and while taking a picture
  const fs::path pkg = WritePackage(dir, "once.scr", PackageWith(movie));  // FlashLoop absent: off
  TPlws run(dir, {pkg.string(), "--preview", "--screenshot", (dir.Path / "p.png").string(), "--after", "2"});
  ASSERT_EQ(run.Wait(kStart), 0) << run.Out() << run.Err();
  const std::string out = run.Out();
  EXPECT_NE(out.find("FSCommand \"echo\" \"a=1&plumexmode=preview\""), std::string::npos) << out;
  EXPECT_NE(out.find("FSCommand \"quit\" \"\" (ignored in preview)"), std::string::npos) << out;
  EXPECT_NE(out.find("FSCommand \"frame\" \"5\""), std::string::npos) << out;
  EXPECT_EQ(Count(out, "FSCommand \"frame\" \"1\""), 1u) << "FlashLoop off: the movie stops at its end\n" << out;
  EXPECT_TRUE(fs::exists(dir.Path / "p.png"));
  EXPECT_TRUE(dir.TmpIsEmpty());
}

// ------------------------------------------------------------------- display

class PlayOnDisplay : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Other test runs may start displays at the same moment, and a busy
    // machine starts one slowly: a few tries, each reported when all fail.
    std::string why;
    for (int attempt = 0; attempt < 3 && FDisplay.empty(); ++attempt) why += StartXvfb();
    ASSERT_FALSE(FDisplay.empty()) << "no Xvfb display:\n" << why;
  }
  // Starts an Xvfb and keeps its display once a client gets an answer from
  // it; otherwise stops it and returns what it and the client said.
  static std::string StartXvfb() {
    const std::string stem = (fs::temp_directory_path() / ("plws_play_test_xvfb_" + std::to_string(getpid()))).string();
    const std::string serverLog = stem + ".log", clientLog = stem + ".client.log";
    TUniqueFd fds[2];
    if (!OpenPipe(fds, 0)) return std::string("pipe: ") + std::strerror(errno) + "\n";
    // Everything the child needs is made before the fork: it only calls what
    // is safe between fork and exec.
    const std::string fd = std::to_string(fds[1].Get());
    FXvfb = fork();
    if (FXvfb == 0) {
      fds[0].Reset();
      const int log = open(serverLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(log, 1);
      dup2(log, 2);
      // -noreset: by default the server starts over whenever its last client
      // leaves, and the pointer an xdotool call placed jumps back to the
      // middle of the screen, where the next browser window sees it move.
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
             "-noreset", static_cast<char*>(nullptr));
      _exit(127);
    }
    fds[1].Reset();
    // Xvfb writes its display number once it takes connections, or ends. It
    // writes the number and the newline in two writes and dies when the
    // second finds the pipe closed: read the whole line before closing.
    std::string line;
    const auto until = std::chrono::steady_clock::now() + 20s;
    for (char buf[32]; line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < until;) {
      pollfd ready{fds[0].Get(), POLLIN, 0};
      const ssize_t got = poll(&ready, 1, 1000) == 1 ? read(fds[0].Get(), buf, sizeof buf) : 0;
      if (got < 0 || (got == 0 && ready.revents != 0)) break;  // failed, or Xvfb ended
      line.append(buf, static_cast<size_t>(got));
    }
    fds[0].Reset();
    const bool gotNumber = line.find('\n') != std::string::npos;
    const std::string display = ":" + std::to_string(std::atoi(line.c_str()));
    int status = -1;
    const auto answerBy = std::chrono::steady_clock::now() + 20s;
    for (; gotNumber && std::chrono::steady_clock::now() < answerBy; std::this_thread::sleep_for(100ms)) {
      if (waitpid(FXvfb, nullptr, WNOHANG) != 0) {
        FXvfb = -1;  // ended, and reaped
        break;
      }
      status = std::system(("xdpyinfo -display " + display + " >/dev/null 2>" + clientLog).c_str());
      if (status == 0) {
        FDisplay = display;
        break;
      }
    }
    std::string why;
    if (FDisplay.empty()) {
      why = gotNumber ? "display " + display + ": xdpyinfo's last status " + std::to_string(status) +
                            ", it said: " + ReadFile(clientLog)
                      : std::string("Xvfb gave no display number (it ended, or 20 s went by)");
      why += "\nXvfb said: " + ReadFile(serverLog) + "\n";
      TearDownTestSuite();
    }
    std::error_code ignored;
    fs::remove(serverLog, ignored);
    fs::remove(clientLog, ignored);
    return why;
  }
  static void TearDownTestSuite() {
    if (FXvfb > 0) {
      kill(FXvfb, SIGTERM);
      waitpid(FXvfb, nullptr, 0);
      FXvfb = -1;
    }
  }
  static void Xdotool(const std::string& Args) {
    ASSERT_EQ(std::system(("DISPLAY=" + FDisplay + " xdotool " + Args).c_str()), 0) << Args;
  }
  // The last complete line of the movie's mouse reports (see MouseMovie).
  static std::string LastMouseReport(const std::string& Out) {
    const std::string complete = Out.substr(0, Out.rfind('\n') + 1);
    const size_t at = complete.rfind("FSCommand \"echo\" \"_xmouse=");
    return at == std::string::npos ? "" : complete.substr(at, complete.find('\n', at) - at);
  }
  // Moves the pointer and waits until the movie reports it at its new place.
  // The page judges the same pointer events the player sees, so the move has
  // been judged then, and no two moves merge into one.
  static void MoveAndWait(TPlws& Run, int X, int Y) {
    // Without a first report, any report would pass for one of the new place.
    ASSERT_TRUE(Run.WaitUntilOutput([](const std::string& Out) { return !LastMouseReport(Out).empty(); }, kStart))
        << "the movie never reported the pointer\n" << Run.Out();
    const std::string before = LastMouseReport(Run.Out());
    Xdotool("mousemove --sync " + std::to_string(X) + " " + std::to_string(Y));
    EXPECT_TRUE(Run.WaitUntilOutput([&](const std::string& Out) { return LastMouseReport(Out) != before; }, kStart))
        << "the movie never saw the pointer at " << X << "," << Y << "\n" << Run.Out();
  }
  // A movie that reports, every frame, where the pointer is on its stage;
  // it loops, so the reports go on however long the test takes.
  static std::vector<TPackageRecord> MouseMovie(std::vector<TPackageRecord> Extra = {}) {
    TSwfMovieOptions movie;
    movie.FramesPerSecond = 10;
    movie.EchoVariables = {"_xmouse", "_ymouse"};
    movie.EchoEveryFrame = true;
    Extra.push_back(Flag("FlashLoop", 1));
    return PackageWith(movie, Extra);
  }
  static std::vector<std::string> Env() { return {"DISPLAY=" + FDisplay}; }

  static pid_t FXvfb;
  static std::string FDisplay;
};
pid_t PlayOnDisplay::FXvfb = -1;
std::string PlayOnDisplay::FDisplay;

TEST_F(PlayOnDisplay, QuitEndsTheRunAndPreviewIgnoresIt) {
  TTestDir dir;
  TSwfMovieOptions movie;
  movie.QuitAfterFrames = 20;
  movie.QuitCommand = "Quit";
  const fs::path pkg = WritePackage(dir, "quit.scr", PackageWith(movie));
  {
    TPlws run(dir, {pkg.string()}, Env());
    ASSERT_EQ(run.Wait(kStart), 0) << run.Out() << run.Err();
    EXPECT_NE(run.Out().find("ended: the movie sent FSCommand \"Quit\""), std::string::npos) << run.Out();
    EXPECT_TRUE(dir.TmpIsEmpty());
    EXPECT_TRUE(ProcessGone(run.BrowserPid()));
  }
  {
    TPlws run(dir, {pkg.string(), "--preview"}, Env());
    ASSERT_TRUE(run.WaitForOutput("FSCommand \"Quit\" \"\" (ignored in preview)", kStart)) << run.Out() << run.Err();
    EXPECT_TRUE(run.StillRunningAfter(1s));
    run.Signal(SIGTERM);
    EXPECT_EQ(run.Wait(30s), 128 + SIGTERM);
    EXPECT_TRUE(dir.TmpIsEmpty());
    EXPECT_TRUE(ProcessGone(run.BrowserPid()));
  }
}

TEST_F(PlayOnDisplay, InputEndsTheRunByTheSaverRules) {
  TTestDir dir;
  {
    // Three moves to different places arm the mouse; the next move ends the run.
    const fs::path pkg = WritePackage(dir, "input.scr", MouseMovie());
    Xdotool("mousemove --sync 0 0");
    TPlws run(dir, {pkg.string()}, Env());
    ASSERT_TRUE(run.WaitForOutput("the movie is playing", kStart)) << run.Out() << run.Err();
    MoveAndWait(run, 100, 100);
    MoveAndWait(run, 200, 150);
    MoveAndWait(run, 300, 200);
    EXPECT_TRUE(run.StillRunningAfter(1500ms)) << run.Out();
    Xdotool("mousemove 310 210");
    EXPECT_EQ(run.Wait(30s), 0) << run.Out() << run.Err();
    EXPECT_NE(run.Out().find("ended: input (mouse move)"), std::string::npos) << run.Out();
    EXPECT_TRUE(dir.TmpIsEmpty());
    EXPECT_TRUE(ProcessGone(run.BrowserPid()));
  }
  {
    // "ScreenSaverStopByMouse" off: neither moves nor buttons end it; a key does.
    const fs::path pkg = WritePackage(dir, "nomouse.scr", MouseMovie({Flag("ScreenSaverStopByMouse", 0)}));
    Xdotool("mousemove --sync 0 0");
    TPlws run(dir, {pkg.string()}, Env());
    ASSERT_TRUE(run.WaitForOutput("the movie is playing", kStart)) << run.Out() << run.Err();
    for (int i = 1; i <= 5; ++i) MoveAndWait(run, i * 90, i * 70);
    Xdotool("click 1");
    EXPECT_TRUE(run.StillRunningAfter(1500ms)) << run.Out();
    Xdotool("key space");
    EXPECT_EQ(run.Wait(30s), 0) << run.Out() << run.Err();
    EXPECT_NE(run.Out().find("ended: input (key)"), std::string::npos) << run.Out();
  }
  {
    // "ScreenSaverStopByKey" off: a key does not end it; a button does.
    const fs::path pkg = WritePackage(dir, "nokey.scr", MouseMovie({Flag("ScreenSaverStopByKey", 0)}));
    Xdotool("mousemove --sync 0 0");
    TPlws run(dir, {pkg.string()}, Env());
    ASSERT_TRUE(run.WaitForOutput("the movie is playing", kStart)) << run.Out() << run.Err();
    Xdotool("key space");
    Xdotool("key Escape");
    EXPECT_TRUE(run.StillRunningAfter(1500ms)) << run.Out();
    Xdotool("click 1");
    EXPECT_EQ(run.Wait(30s), 0) << run.Out() << run.Err();
    EXPECT_NE(run.Out().find("ended: input (mouse button)"), std::string::npos) << run.Out();
    EXPECT_TRUE(dir.TmpIsEmpty());
  }
}

// -------------------------------------------------------- server, bad input

namespace {

// A stand-in browser: records its arguments, then waits to be ended.
fs::path FakeBrowser(const TTestDir& Dir, const std::string& Body) {
  const fs::path p = Dir.Path / "fake-chromium";
  std::ofstream(p) << "#!/bin/sh\n" << Body << "\n";
  fs::permissions(p, fs::perms::owner_all);
  return p;
}

struct THttpAnswer {
  int Status = 0;
  std::string Head, Body;
};

THttpAnswer Http(int Port, const std::string& Request) {
  THttpAnswer a;
  const TUniqueFd fd(socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(Port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return a;
  (void)!write(fd.Get(), Request.data(), Request.size());
  std::string all;
  char buf[4096];
  ssize_t n;
  while ((n = read(fd.Get(), buf, sizeof buf)) > 0) all.append(buf, static_cast<size_t>(n));
  const size_t end = all.find("\r\n\r\n");
  a.Head = all.substr(0, end);
  a.Body = end == std::string::npos ? "" : all.substr(end + 4);
  if (all.size() > 12) a.Status = std::atoi(all.c_str() + 9);
  return a;
}

THttpAnswer Get(int Port, const std::string& Target, const std::string& Host = "") {
  const std::string host = Host.empty() ? "127.0.0.1:" + std::to_string(Port) : Host;
  return Http(Port, "GET " + Target + " HTTP/1.1\r\nHost: " + host + "\r\n\r\n");
}

}  // namespace

TEST(PlayServer, ServesOnlyItsOwnFilesToItsOwnHost) {
  TTestDir dir;
  const fs::path args = dir.Path / "browser-args";
  const fs::path fake = FakeBrowser(dir, "printf '%s\\n' \"$@\" > " + args.string() + "\nexec sleep 120");
  const fs::path pkg = WritePackage(
      dir, "server.scr",
      PackageWith(TSwfMovieOptions{},
                  {Int("FlashNeedFileCount", 3), StoredItem("FlashNeedFileName0", "..\\..\\evil.xml"),
                   StoredItem("FlashNeedFileData0", "<e/>"), StoredItem("FlashNeedFileName1", "C:/sub/../ok.txt"),
                   StoredItem("FlashNeedFileData1", "ok"), StoredItem("FlashNeedFileName2", ".."),
                   StoredItem("FlashNeedFileData2", "no")}));
  TPlws run(dir, {pkg.string()}, {"DISPLAY=:424242", "PLWS_CHROMIUM=" + fake.string()});
  ASSERT_TRUE(run.WaitForOutput("started Chromium", 30s)) << run.Out() << run.Err();
  for (int i = 0; i < 100 && !fs::exists(args); ++i) std::this_thread::sleep_for(100ms);
  const std::string argText = ReadFile(args);
  // The browser gets a page of the private folder, which leads on to the
  // server: the token never shows in a command line other users can read.
  std::smatch m;
  ASSERT_TRUE(std::regex_search(argText, m, std::regex("\nfile://(/[^\n]*/start\\.html)\n$"))) << argText;
  const std::string start = ReadFile(std::string(m[1]));
  ASSERT_TRUE(std::regex_search(start, m, std::regex("http://127\\.0\\.0\\.1:(\\d+)/([0-9a-f]{32})/"))) << start;
  const int port = std::stoi(m[1]);
  const std::string root = "/" + std::string(m[2]) + "/";
  EXPECT_EQ(argText.find(std::string(m[2])), std::string::npos) << argText;
  EXPECT_NE(argText.find("--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1\n"), std::string::npos);
  EXPECT_NE(argText.find("--kiosk\n"), std::string::npos);

  // What was extracted: the movie and two need files, all inside the GUID folder.
  std::vector<std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(dir.Tmp()))
    if (e.is_regular_file() && e.path().string().find("/temp/") != std::string::npos)
      files.push_back(e.path().string().substr(e.path().string().find("/temp/") + 1));
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"temp/{5E1F0C2A-PLAY}/evil.xml", "temp/{5E1F0C2A-PLAY}/ok.txt",
                                             "temp/{5E1F0C2A-PLAY}/{5E1F0C2A-PLAY}.swf"}));
  EXPECT_NE(run.Out().find("refused: need file 2"), std::string::npos) << run.Out();

  THttpAnswer a = Get(port, root);
  EXPECT_EQ(a.Status, 200);
  EXPECT_NE(a.Head.find("Content-Type: text/html"), std::string::npos);
  EXPECT_NE(a.Body.find("\"a=1\\u0026plumexmode=normal\""), std::string::npos) << a.Body;
  a = Get(port, root + "ruffle/ruffle.js");
  EXPECT_EQ(a.Status, 200);
  EXPECT_NE(a.Head.find("Content-Type: text/javascript"), std::string::npos);
  const char* source = std::getenv("PL_SOURCE_DIR");
  ASSERT_TRUE(source);
  for (const auto& e : fs::directory_iterator(std::string(source) + "/node_modules/@ruffle-rs/ruffle"))
    if (e.path().extension() == ".wasm") {
      a = Http(port, "HEAD " + root + "ruffle/" + e.path().filename().string() + " HTTP/1.1\r\nHost: 127.0.0.1:" +
                         std::to_string(port) + "\r\n\r\n");
      EXPECT_EQ(a.Status, 200);
      EXPECT_NE(a.Head.find("Content-Type: application/wasm"), std::string::npos);
      EXPECT_EQ(a.Body, "");
    }
  a = Get(port, root + "m/%7B5E1F0C2A-PLAY%7D/evil.xml");
  EXPECT_EQ(a.Status, 200);
  EXPECT_NE(a.Head.find("Content-Type: text/xml"), std::string::npos);
  EXPECT_EQ(a.Body, "<e/>");
  a = Get(port, root + "m/%7B5E1F0C2A-PLAY%7D/%7B5E1F0C2A-PLAY%7D.swf");
  EXPECT_EQ(a.Status, 200);
  EXPECT_NE(a.Head.find("Content-Type: application/x-shockwave-flash"), std::string::npos);
  EXPECT_EQ(a.Body.substr(0, 3), "FWS");

  // Nothing outside the extracted files, whatever the path says.
  for (const char* bad : {"/m/../profile", "/m/%2e%2e/browser.log", "/m/x/../../browser.log", "/m/..%2Fbrowser.log",
                          "/ruffle/../../package.json", "/ruffle/%2e%2e%2fpackage.json"})
    EXPECT_EQ(Get(port, root + (bad + 1)).Status, 400) << bad;
  EXPECT_EQ(Get(port, root + "m/nothing.swf").Status, 404);
  EXPECT_EQ(Get(port, root + "ruffle/.hidden").Status, 404);
  EXPECT_EQ(Get(port, root, "example.com").Status, 403);
  EXPECT_EQ(Get(port, root, "localhost:" + std::to_string(port)).Status, 403);
  EXPECT_EQ(Http(port, "POST " + root + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n\r\n").Status, 405);
  EXPECT_EQ(Http(port, "garbage\r\n\r\n").Status, 400);
  EXPECT_TRUE(run.Running());

  // Without the run's token nothing is served and nothing ends the run.
  std::string wrong = root;
  wrong[1] = wrong[1] == '0' ? '1' : '0';
  for (const std::string& target : {std::string("/"), std::string("/event?kind=end&reason=intruder"),
                                    std::string("/m/%7B5E1F0C2A-PLAY%7D/%7B5E1F0C2A-PLAY%7D.swf"),
                                    std::string("/ruffle/ruffle.js"), wrong + "event?kind=end&reason=guess",
                                    root.substr(0, root.size() - 1)}) {
    a = Get(port, target);
    EXPECT_EQ(a.Status, 403) << target;
    EXPECT_EQ(a.Body.find("FWS"), std::string::npos) << target;
  }
  EXPECT_TRUE(run.StillRunningAfter(500ms)) << run.Out();
  EXPECT_EQ(run.Out().find("ended:"), std::string::npos) << run.Out();

  // A few connections at once: idle ones past the limit wait unaccepted.
  {
    auto sockets = [&] {
      int n = 0;
      for (const auto& e : fs::directory_iterator("/proc/" + std::to_string(run.Pid()) + "/fd")) {
        std::error_code ec;
        n += fs::read_symlink(e.path(), ec).string().rfind("socket:", 0) == 0;
      }
      return n;
    };
    std::vector<TUniqueFd> idle;
    for (int i = 0; i < 12; ++i) {
      TUniqueFd fd(socket(AF_INET, SOCK_STREAM, 0));
      sockaddr_in addr{};
      addr.sin_family = AF_INET;
      addr.sin_port = htons(static_cast<uint16_t>(port));
      addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      ASSERT_EQ(connect(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
      idle.push_back(std::move(fd));
    }
    const int listening = 1, limit = 8;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (sockets() < listening + limit && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(20ms);
    int most = 0;
    for (int i = 0; i < 25; ++i, std::this_thread::sleep_for(20ms)) most = std::max(most, sockets());
    EXPECT_EQ(most, listening + limit);
    idle.clear();
    EXPECT_EQ(Get(port, root).Status, 200);  // served once the idle ones are gone
  }

  // The page reports the end; the server's side ends the browser by its id.
  const pid_t browser = run.BrowserPid();
  EXPECT_EQ(Get(port, root + "event?kind=end&reason=test").Status, 204);
  EXPECT_EQ(run.Wait(30s), 0) << run.Out() << run.Err();
  EXPECT_NE(run.Out().find("ended: input (test)"), std::string::npos);
  EXPECT_TRUE(ProcessGone(browser));
  EXPECT_TRUE(dir.TmpIsEmpty());
}

TEST(PlayBadInput, ClearMessageStatusOneAndNoBrowser) {
  TTestDir dir;
  const fs::path marker = dir.Path / "browser-started";
  const fs::path fake = FakeBrowser(dir, "touch " + marker.string());
  const std::vector<std::string> env = {"DISPLAY=:424242", "PLWS_CHROMIUM=" + fake.string()};
  const auto swf = BuildSwfMovie(TSwfMovieOptions{});

  struct TCase {
    std::string Name, Expected;
    std::vector<uint8_t> Bytes;
  };
  std::vector<TCase> cases = {
      {"not-a-package.scr", "no package", Bytes("MZ nothing appended")},
      {"no-movie.scr", "no movie", WithPackage(Bytes("MZ"), 1, {StoredItem("GUID", "G")})},
      {"not-swf.scr", "not a SWF", WithPackage(Bytes("MZ"), 1, {StoredItem("FlashSwf", "GIF89a....")})},
      {"corrupt.scr", "corrupt",
       WithPackage(Bytes("MZ"), 1, {StoredItem("GUID", "G"), TPackageRecord{"FlashSwf", 1, Bytes("not zlib")}})},
      {"hostile-guid.scr", "cannot be extracted",
       WithPackage(Bytes("MZ"), 1, {StoredItem("GUID", "..\\..\\x"), StoredItem("FlashSwf", swf)})},
      {"device-guid.scr", "cannot be extracted",
       WithPackage(Bytes("MZ"), 1, {StoredItem("GUID", "CON"), StoredItem("FlashSwf", swf)})},
  };
  // A package whose body announces more items than it holds.
  TByteWriter lying;
  lying.Raw("MZ");
  lying.I32(0).I32(5).I32(4).Raw("GUID").U8(0).I32(1).Raw("G");
  lying.Trailer(2);
  cases.push_back({"damaged.scr", "damaged package", lying.Out});

  for (const TCase& c : cases) {
    const fs::path p = dir.Path / c.Name;
    WriteFile(p, c.Bytes);
    TPlws run(dir, {p.string()}, env);
    EXPECT_EQ(run.Wait(30s), 1) << c.Name << run.Out() << run.Err();
    EXPECT_NE(run.Err().find("plws: play: "), std::string::npos) << c.Name;
    EXPECT_NE(run.Err().find(c.Expected), std::string::npos) << c.Name << ": " << run.Err();
    EXPECT_FALSE(fs::exists(marker)) << c.Name;
    EXPECT_TRUE(dir.TmpIsEmpty()) << c.Name;
  }
  TPlws missing(dir, {(dir.Path / "missing.scr").string()}, env);
  EXPECT_EQ(missing.Wait(30s), 1);
  EXPECT_NE(missing.Err().find("cannot open"), std::string::npos);
  TPlws usage(dir, {"--window", "big", "x.scr"}, env);
  EXPECT_EQ(usage.Wait(30s), 2);
  EXPECT_NE(usage.Err().find("usage: plws play"), std::string::npos);
  EXPECT_FALSE(fs::exists(marker));
}

namespace {

// Field 22 of /proc/PID/stat, the start time a private folder's name holds.
std::string StartTime(pid_t Pid) {
  const std::string stat = ReadFile("/proc/" + std::to_string(Pid) + "/stat");
  std::istringstream fields(stat.substr(stat.rfind(')') + 1));
  std::string field;
  for (int i = 0; i < 20; ++i) fields >> field;
  return field;
}

}  // namespace

TEST(PlayBadInput, ARunRemovesThePrivateFoldersOfKilledRunsAndNothingElse) {
  TTestDir dir;
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  const std::string self = std::to_string(getpid()), start = StartTime(getpid());
  const fs::path tmp = dir.Tmp();
  const std::string killed = "plws-play-" + std::to_string(gone) + ".1234-aB3dE9";
  const std::string reused = "plws-play-" + self + ".1-x2Y4z6";  // the id came back for another process
  const std::string alive = "plws-play-" + self + "." + start + "-Qw3rTy";
  const std::string linked = "plws-play-" + std::to_string(gone) + ".99-link00";
  for (const std::string& f : {killed, reused, alive, std::string("plws-play-notmine"), std::string("other")}) {
    fs::create_directories(tmp / f / "temp");
    WriteFile(tmp / f / "temp" / "movie.swf", Bytes("FWS"));
  }
  fs::create_directories(dir.Path / "outside");
  WriteFile(dir.Path / "outside" / "keep", Bytes("keep"));
  fs::create_directory_symlink(dir.Path / "outside", tmp / linked);

  const fs::path scr = dir.Path / "no-movie.scr";
  WriteFile(scr, WithPackage(Bytes("MZ"), 1, {StoredItem("GUID", "G")}));
  TPlws run(dir, {scr.string()}, {"DISPLAY=:424242"});
  EXPECT_EQ(run.Wait(30s), 1) << run.Err();
  std::set<std::string> left;
  for (const auto& e : fs::directory_iterator(tmp)) left.insert(e.path().filename().string());
  EXPECT_EQ(left, (std::set<std::string>{alive, linked, "plws-play-notmine", "other"})) << run.Out();
  EXPECT_EQ(ReadFile(dir.Path / "outside" / "keep"), "keep");
  EXPECT_NE(run.Out().find("removed " + (tmp / killed).string()), std::string::npos) << run.Out();
}
