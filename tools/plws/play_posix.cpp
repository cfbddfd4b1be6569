// `plws play` on Linux: extracts the movie into a private folder, serves it
// with the Ruffle player on 127.0.0.1, runs Chromium on the page and ends
// it when the movie quits or input ends the run, then removes every file.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <list>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>
#include <utility>

#include "package/exe_adder.h"
#include "package/raii_items.h"
#include "package/stream.h"
#include "package/zlibex.h"
#include "tools/plws/play.h"
#include "tools/plws/plws.h"
#include "util/raii_posix.h"

#ifndef PL_RUFFLE_DIR
#define PL_RUFFLE_DIR ""
#endif

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::atomic<int> gSignal{0};
void OnSignal(int Signal) { gSignal = Signal; }

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

std::string Printable(const std::string& S, size_t Max = 300) {
  const std::string e = EscapeBytes(S);
  return e.size() > Max ? e.substr(0, Max) + "..." : e;
}

bool SendAll(int Fd, const char* Data, size_t Size) {
  while (Size) {
    const ssize_t n = send(Fd, Data, Size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    Data += n;
    Size -= static_cast<size_t>(n);
  }
  return true;
}

// ------------------------------------------------------------------- server

// The run's token: 128 bits from the kernel's random source, in hex.
std::string MakeRunToken() {
  uint8_t bytes[16];
  for (size_t done = 0; done < sizeof bytes;) {
    const ssize_t n = getrandom(bytes + done, sizeof bytes - done, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw EPlwsError(std::string("no random bytes for the server's token: ") + std::strerror(errno));
    done += static_cast<size_t>(n);
  }
  static const char hex[] = "0123456789abcdef";
  std::string token;
  for (uint8_t b : bytes) token += {hex[b >> 4], hex[b & 15]};
  return token;
}

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

  void Start() {
    std::error_code ec;
    FServedReal = fs::canonical(FServedDir, ec).string();
    if (ec) throw EPlwsError(FServedDir + ": " + ec.message());
    FListen.Reset(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!FListen) throw EPlwsError(std::string("cannot make a socket: ") + std::strerror(errno));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;  // any free port
    socklen_t len = sizeof a;
    if (bind(FListen.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(FListen.Get(), 64) != 0 ||
        getsockname(FListen.Get(), reinterpret_cast<sockaddr*>(&a), &len) != 0)
      throw EPlwsError(std::string("cannot listen on 127.0.0.1: ") + std::strerror(errno));
    FPort = ntohs(a.sin_port);
    FHost = "127.0.0.1:" + std::to_string(FPort);
    if (!OpenPipe(FWake, O_CLOEXEC)) throw EPlwsError(std::string("pipe: ") + std::strerror(errno));
    FThread = std::thread([this] {
      try {
        AcceptLoop();
      } catch (const std::exception& e) {
        FLog.Line("the server stopped: " + std::string(e.what()));
      }
    });
  }

  void Stop() {
    if (FThread.joinable()) {
      FStopping = true;
      (void)!write(FWake[1].Get(), "x", 1);
      FThread.join();
      for (auto& c : FConnections) shutdown(c->Fd.Get(), SHUT_RDWR);
      for (auto& c : FConnections) c->Thread.join();
      FConnections.clear();
    }
    for (TUniqueFd* fd : {&FListen, &FWake[0], &FWake[1]}) fd->Reset();
  }

  int Port() const { return FPort; }
  std::string Origin() const { return "http://" + FHost; }

 private:
  struct TConnection {
    TUniqueFd Fd;
    std::thread Thread;
    std::atomic<bool> Done{false};
  };

  void AcceptLoop() {
    while (!FStopping) {
      // While every slot is taken, new connections wait in the listen queue.
      const bool full = FConnections.size() >= kMaxConnections;
      pollfd p[2] = {{FWake[0].Get(), POLLIN, 0}, {FListen.Get(), POLLIN, 0}};
      const int r = poll(p, full ? 1 : 2, full ? 50 : 1000);
      Reap();
      std::swap(p[0], p[1]);
      if (r < 0 && errno != EINTR) break;
      if (p[1].revents) break;
      if (!(p[0].revents & POLLIN)) continue;
      sockaddr_in peer{};
      socklen_t len = sizeof peer;
      TUniqueFd fd(accept4(FListen.Get(), reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC));
      if (!fd) continue;
      char address[INET_ADDRSTRLEN] = "?";
      inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
      const std::string peerText = std::string(address) + ":" + std::to_string(ntohs(peer.sin_port));
      auto connection = std::make_unique<TConnection>();
      TConnection* c = connection.get();
      c->Fd = std::move(fd);
      c->Thread = std::thread([this, c, peerText] {
        try {
          Handle(c->Fd.Get(), peerText);
        } catch (const std::exception& e) {
          FLog.Line("server: " + std::string(e.what()));
        }
        // The answer is complete: tell the client now; the descriptor is
        // closed when the thread is reaped.
        shutdown(c->Fd.Get(), SHUT_RDWR);
        c->Done = true;
      });
      FConnections.push_back(std::move(connection));
    }
  }

  void Reap() {
    for (auto it = FConnections.begin(); it != FConnections.end();) {
      if ((*it)->Done) {
        (*it)->Thread.join();
        it = FConnections.erase(it);
      } else {
        ++it;
      }
    }
  }

  static bool Respond(int Fd, int Status, const std::string& Type, const std::string& Body, bool HeadOnly,
                      size_t Length) {
    static const std::map<int, const char*> kReasons = {
        {200, "OK"}, {204, "No Content"}, {400, "Bad Request"}, {403, "Forbidden"}, {404, "Not Found"},
        {405, "Method Not Allowed"}, {431, "Request Header Fields Too Large"}, {500, "Internal Server Error"}};
    std::string head = "HTTP/1.1 " + std::to_string(Status) + " " + kReasons.at(Status) + "\r\n";
    if (!Type.empty()) head += "Content-Type: " + Type + "\r\n";
    if (Status != 204) head += "Content-Length: " + std::to_string(Length) + "\r\n";
    head += "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\nConnection: close\r\n\r\n";
    if (!HeadOnly) head += Body;
    return SendAll(Fd, head.data(), head.size());
  }
  static int Plain(int Fd, int Status, bool HeadOnly) {
    const std::string body = std::to_string(Status) + "\n";
    Respond(Fd, Status, "text/plain", body, HeadOnly, body.size());
    return Status;
  }

  int ServeFile(int Fd, const std::string& Path, bool HeadOnly) {
    const TUniqueFd file(open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!file) return Plain(Fd, 404, HeadOnly);
    struct stat st {};
    if (fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return Plain(Fd, 404, HeadOnly);
    Respond(Fd, 200, MimeTypeFor(Path), "", HeadOnly, static_cast<size_t>(st.st_size));
    if (!HeadOnly) {
      char buf[65536];
      ssize_t n;
      while ((n = read(file.Get(), buf, sizeof buf)) > 0)
        if (!SendAll(Fd, buf, static_cast<size_t>(n))) break;
    }
    return 200;
  }

  // The extracted file a request names, only when it really lies inside the
  // served folder; empty otherwise.
  std::string InsideServed(const std::vector<std::string>& Segments) {
    fs::path p = FServedDir;
    for (const auto& s : Segments) p /= s;
    std::error_code ec;
    const std::string real = fs::canonical(p, ec).string();
    if (ec || real.size() <= FServedReal.size() || real.compare(0, FServedReal.size(), FServedReal) != 0 ||
        real[FServedReal.size()] != '/')
      return "";
    return real;
  }

  void Handle(int Fd, const std::string& Peer) {
    timeval receive{10, 0}, sendTimeout{30, 0};
    setsockopt(Fd, SOL_SOCKET, SO_RCVTIMEO, &receive, sizeof receive);
    setsockopt(Fd, SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, sizeof sendTimeout);
    std::string request;
    char buf[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
      if (request.size() > 16384) {
        Plain(Fd, 431, false);
        FLog.Line("request from " + Peer + " refused: headers too large");
        return;
      }
      const ssize_t n = recv(Fd, buf, sizeof buf, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;  // an idle or closed connection: nothing asked
      request.append(buf, static_cast<size_t>(n));
    }
    const std::string head = request.substr(0, request.find("\r\n\r\n"));
    const size_t lineEnd = head.find("\r\n");
    const std::string line = head.substr(0, lineEnd);
    const size_t sp1 = line.find(' '), sp2 = line.rfind(' ');
    std::string method, target, host;
    if (sp1 != std::string::npos && sp2 > sp1) {
      method = line.substr(0, sp1);
      target = line.substr(sp1 + 1, sp2 - sp1 - 1);
    }
    for (size_t pos = lineEnd; pos != std::string::npos && pos < head.size();) {
      const size_t next = head.find("\r\n", pos + 2);
      const std::string h = head.substr(pos + 2, next == std::string::npos ? std::string::npos : next - pos - 2);
      if (h.size() > 5 && strncasecmp(h.c_str(), "host:", 5) == 0) {
        host = h.substr(5);
        host.erase(0, host.find_first_not_of(" \t"));
        host.erase(host.find_last_not_of(" \t") + 1);
      }
      pos = next;
    }
    const bool headOnly = method == "HEAD";
    int status = 0;
    if (method.empty() || target.empty()) {
      status = Plain(Fd, 400, false);
    } else if (host != FHost) {
      // Only pages of this server may talk to it, not one that a foreign
      // name was made to resolve to this address.
      status = Plain(Fd, 403, headOnly);
    } else if (method != "GET" && method != "HEAD") {
      status = Plain(Fd, 405, false);
    } else if (const auto inRun = StripRunToken(target, FToken); !inRun) {
      // Without the token nothing is served and nothing reported: the run goes on.
      status = Plain(Fd, 403, headOnly);
    } else {
      const TRequestTarget t = ParseRequestTarget(*inRun);
      switch (t.Kind) {
        case TRequestTarget::Page:
          status = 200;
          Respond(Fd, 200, "text/html; charset=utf-8", FPage, headOnly, FPage.size());
          break;
        case TRequestTarget::Event: {
          const auto kind = t.Query.find("kind");
          if (kind == t.Query.end()) {
            status = Plain(Fd, 400, headOnly);
            break;
          }
          FEvents.Push({kind->second, t.Query});
          status = 204;
          Respond(Fd, 204, "", "", true, 0);
          break;
        }
        case TRequestTarget::Ruffle:
          status = t.Segments[0][0] == '.' ? Plain(Fd, 404, headOnly)
                                           : ServeFile(Fd, FRuffleDir + "/" + t.Segments[0], headOnly);
          break;
        case TRequestTarget::Movie: {
          const std::string path = InsideServed(t.Segments);
          status = path.empty() ? Plain(Fd, 404, headOnly) : ServeFile(Fd, path, headOnly);
          break;
        }
        case TRequestTarget::Bad: status = Plain(Fd, 400, headOnly); break;
        case TRequestTarget::NotFound: status = Plain(Fd, 404, headOnly); break;
      }
    }
    FLog.Line("request from " + Peer + " for host " + Printable(host, 80) + ": " + Printable(method, 16) + " " +
              Printable(target) + " -> " + std::to_string(status));
  }

  const std::string FPage, FToken, FRuffleDir, FServedDir;
  std::string FServedReal, FHost;
  TEventQueue& FEvents;
  TLog& FLog;
  TUniqueFd FListen;
  TUniqueFd FWake[2];
  int FPort = 0;
  std::atomic<bool> FStopping{false};
  std::thread FThread;
  std::list<std::unique_ptr<TConnection>> FConnections;  // touched by the accept thread only
};

// ------------------------------------------------------------------ browser

class TBrowser {
 public:
  ~TBrowser() { End(); }

  // TempDir becomes the browser's TMPDIR: what it leaves there (its
  // singleton socket) goes with the private folder.
  void Start(const std::string& Exe, const std::vector<std::string>& Args, const std::string& LogPath,
             const std::string& TempDir, bool DevToolsPipe) {
    std::vector<std::string> all = {Exe};
    all.insert(all.end(), Args.begin(), Args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment = {"TMPDIR=" + TempDir};
    for (char** e = environ; *e; ++e)
      if (std::strncmp(*e, "TMPDIR=", 7) != 0) environment.push_back(*e);
    std::vector<char*> envp;
    for (auto& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);
    const TUniqueFd log(open(LogPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    const TUniqueFd null(open("/dev/null", O_RDONLY | O_CLOEXEC));
    TUniqueFd toBrowser[2], fromBrowser[2];
    if (!log || !null || (DevToolsPipe && (!OpenPipe(toBrowser, O_CLOEXEC) || !OpenPipe(fromBrowser, O_CLOEXEC))))
      throw EPlwsError(std::string("cannot prepare the browser's files: ") + std::strerror(errno));
    FPid = fork();
    if (FPid == 0) {
      // Only async-signal-safe calls until exec: the server thread runs.
      setpgid(0, 0);  // its own group, so its helpers end with it
      struct sigaction dfl {};
      dfl.sa_handler = SIG_DFL;
      sigaction(SIGPIPE, &dfl, nullptr);
      if (DevToolsPipe) {
        // The DevTools pipe is fds 3 (commands in) and 4 (answers out),
        // through copies above them that close themselves at the exec.
        const int in = fcntl(toBrowser[0].Get(), F_DUPFD_CLOEXEC, 10);
        const int out = fcntl(fromBrowser[1].Get(), F_DUPFD_CLOEXEC, 10);
        dup2(in, 3);
        dup2(out, 4);
      }
      dup2(null.Get(), 0);
      dup2(log.Get(), 1);
      dup2(log.Get(), 2);
      execve(Exe.c_str(), argv.data(), envp.data());
      _exit(127);
    }
    const int forkError = errno;
    // The child's ends (and its log and input) go when this returns.
    FToBrowser = std::move(toBrowser[1]);
    FFromBrowser = std::move(fromBrowser[0]);
    if (FPid < 0) throw EPlwsError(std::string("cannot start the browser: ") + std::strerror(forkError));
  }

  // True once the browser has ended; its leftover helpers are then killed
  // and it is reaped. Status is its exit code (128 + signal when killed).
  bool Ended() {
    if (FPid <= 0) return true;
    siginfo_t info{};
    // Look without reaping: while the leader is unreaped its group id
    // cannot be reused, so killing the group hits only its helpers.
    if (waitid(P_PID, static_cast<id_t>(FPid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid == 0)
      return false;
    kill(-FPid, SIGKILL);
    int raw = 0;
    waitpid(FPid, &raw, 0);
    FStatus = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    FPid = -1;
    CloseDevTools();
    return true;
  }

  // Ends the browser by its process id: a polite request, then force.
  void End() {
    if (FPid <= 0) return;
    kill(FPid, SIGTERM);
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (!Ended() && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (FPid > 0) {
      kill(-FPid, SIGKILL);
      kill(FPid, SIGKILL);
      while (!Ended()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  int Status() const { return FStatus; }
  pid_t Pid() const { return FPid; }
  int ToBrowser() const { return FToBrowser.Get(); }
  int FromBrowser() const { return FFromBrowser.Get(); }

 private:
  void CloseDevTools() {
    FToBrowser.Reset();
    FFromBrowser.Reset();
  }
  pid_t FPid = -1;
  int FStatus = 0;
  TUniqueFd FToBrowser, FFromBrowser;
};

// The browser's DevTools protocol over its pipe: NUL-terminated JSON.
class TDevTools {
 public:
  TDevTools(int ToBrowser, int FromBrowser) : FOut(ToBrowser), FIn(FromBrowser) {}

  // Sends Method and waits for its answer; throws EPlwsError on an error
  // answer, a closed pipe or when TimeoutMs passes.
  TJson Call(const std::string& Method, const std::string& Params, const std::string& Session, int TimeoutMs) {
    const int id = ++FLastId;
    std::string message = "{\"id\":" + std::to_string(id) + ",\"method\":" + JsonString(Method);
    if (!Params.empty()) message += ",\"params\":" + Params;
    if (!Session.empty()) message += ",\"sessionId\":" + JsonString(Session);
    message += "}";
    message.push_back('\0');
    for (size_t done = 0; done < message.size();) {
      const ssize_t n = write(FOut, message.data() + done, message.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) throw EPlwsError("the browser closed its DevTools pipe");
      done += static_cast<size_t>(n);
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(TimeoutMs);
    for (;;) {
      size_t nul;
      while ((nul = FBuffer.find('\0')) != std::string::npos) {
        const std::string text = FBuffer.substr(0, nul);
        FBuffer.erase(0, nul + 1);
        const auto json = ParseJson(text);
        const TJson* got = json ? json->Get("id") : nullptr;
        if (!got || got->Kind != TJson::Number || got->NumberValue != id) continue;  // an event
        if (const TJson* error = json->Get("error")) {
          const TJson* what = error->Get("message");
          throw EPlwsError(Method + " failed: " + (what ? what->StringValue : std::string("?")));
        }
        const TJson* result = json->Get("result");
        return result ? *result : TJson{};
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0 || gSignal) throw EPlwsError(Method + ": no answer from the browser");
      pollfd p{FIn, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(std::min<long long>(left, 200))) <= 0) continue;
      char buf[65536];
      const ssize_t n = read(FIn, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) throw EPlwsError("the browser closed its DevTools pipe");
      FBuffer.append(buf, static_cast<size_t>(n));
    }
  }

 private:
  int FOut, FIn;
  int FLastId = 0;
  std::string FBuffer;
};

// -------------------------------------------------------------------- files

// A private folder is named after the process that made it:
// "plws-play-<pid>.<start>-XXXXXX", the start time (in clock ticks since
// boot) telling that process apart from a later one with the same id. A run
// that was killed leaves its folder; the next run finds it by the name.
constexpr char kPrivatePrefix[] = "plws-play-";

// The start time of process Pid as /proc gives it, or empty when it is gone.
std::string ProcessStartTime(pid_t Pid) {
  const TUniqueCFile f(std::fopen(("/proc/" + std::to_string(Pid) + "/stat").c_str(), "rb"));
  if (!f) return "";
  char buf[1024];
  const size_t n = std::fread(buf, 1, sizeof buf - 1, f.Get());
  const std::string stat(buf, n);
  // The command name in parentheses may hold blanks and parentheses; the
  // fields after the last ")" are plain: state is the first, start time
  // the twentieth.
  const size_t close = stat.rfind(')');
  if (close == std::string::npos) return "";
  std::istringstream fields(stat.substr(close + 1));
  std::string field;
  for (int i = 0; i < 20 && fields >> field; ++i) {
  }
  return field;
}

// Whether Name is a private folder of a run whose process has ended.
bool AbandonedPrivateFolderName(const std::string& Name) {
  const size_t prefix = sizeof kPrivatePrefix - 1;
  if (Name.compare(0, prefix, kPrivatePrefix) != 0) return false;
  const size_t dot = Name.find('.', prefix), dash = Name.find('-', prefix);
  if (dot == std::string::npos || dash == std::string::npos || dot > dash || Name.size() != dash + 7) return false;
  const std::string pid = Name.substr(prefix, dot - prefix), start = Name.substr(dot + 1, dash - dot - 1);
  auto digits = [](const std::string& T) {
    return !T.empty() && T.size() < 20 && T.find_first_not_of("0123456789") == std::string::npos;
  };
  if (!digits(pid) || !digits(start)) return false;
  return ProcessStartTime(static_cast<pid_t>(std::stoll(pid))) != start;
}

// Removes from Base the private folders that runs which were killed left
// behind: only folders (never what a link points to) of this user, named
// as this program names them, whose process has gone.
void RemoveAbandonedPrivateFolders(const std::string& Base, TLog& Log) {
  std::error_code ec;
  for (fs::directory_iterator it(Base, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    struct stat st {};
    if (!AbandonedPrivateFolderName(name) || lstat(it->path().c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != geteuid())
      continue;
    std::error_code removed;
    fs::remove_all(it->path(), removed);
    if (!removed) Log.Line("removed " + it->path().string() + ", left by a run that was killed");
  }
}

// The folder private folders go in: Base, else TMPDIR, else /tmp.
std::string PrivateFolderBase(const std::string& Base = "") {
  const char* tmp = std::getenv("TMPDIR");
  return !Base.empty() ? Base : tmp && *tmp ? tmp : "/tmp";
}

// Removes the private folder and everything in it when the run ends, on
// every way out.
class TPrivateFolder {
 public:
  // In TMPDIR, or in Base when one is given.
  explicit TPrivateFolder(const std::string& Base = "") {
    std::string pattern = PrivateFolderBase(Base) + "/" + kPrivatePrefix + std::to_string(getpid()) + "." +
                          ProcessStartTime(getpid()) + "-XXXXXX";
    if (!mkdtemp(pattern.data())) throw EPlwsError("cannot make a private folder in " + pattern + ": " + std::strerror(errno));
    FPath = pattern;
  }
  ~TPrivateFolder() {
    std::error_code ec;
    fs::remove_all(FPath, ec);
  }
  TPrivateFolder(const TPrivateFolder&) = delete;
  TPrivateFolder& operator=(const TPrivateFolder&) = delete;
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
};

// Reads the package, refusing one that is missing, damaged or corrupt.
void ReadPackage(const std::string& File, TItemTypes& Items) {
  std::unique_ptr<TFileReadStream> stream;
  try {
    stream = std::make_unique<TFileReadStream>(File);
  } catch (const EFOpenError&) {
    throw EPlwsError(File + ": cannot open: " + std::strerror(errno));
  }
  TPackageCursor cursor(*stream);
  if (!cursor.Open()) throw EPlwsError(File + ": no package (the file does not end with a valid \"PLWS\" trailer)");
  TRawRecord r;
  int32_t readable = 0;
  while (cursor.Next(r)) {
    cursor.SkipData(r.Length);
    ++readable;
  }
  if (readable < cursor.Count())
    throw EPlwsError(File + ": damaged package: " + std::to_string(cursor.Count()) + " items announced, " +
                     std::to_string(readable) + " readable");
  try {
    ReadExeItems(*stream, Items);
  } catch (const EZLibError& e) {
    throw EPlwsError(File + ": an item is corrupt: " + e.what());
  }
}

bool WritePlanned(const TPlannedFile& F, const uint8_t* Data, size_t Size) {
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | (F.ReplaceExisting ? O_TRUNC : O_EXCL);
  TUniqueFd fd(open(F.Path.c_str(), flags, 0600));
  if (!fd) return false;
  bool ok = true;
  while (Size && ok) {
    const ssize_t n = write(fd.Get(), Data, Size);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) {
      Data += n;
      Size -= static_cast<size_t>(n);
    }
  }
  return fd.Close() && ok;
}

std::string UrlOf(const std::string& Path, const std::string& Root) {
  std::string url = "/m";
  const std::string rel = Path.substr(Root.size() + 1);
  size_t start = 0;
  while (start < rel.size()) {
    const size_t slash = std::min(rel.find('/', start), rel.size());
    url += "/" + PercentEncodeSegment(rel.substr(start, slash - start));
    start = slash + 1;
  }
  return url;
}

// A page that sends the browser on to Url at once; its file:// address.
std::string WriteStartPage(const std::string& Path, const std::string& Url) {
  const std::string page = "<!DOCTYPE html><meta charset=\"utf-8\"><meta http-equiv=\"refresh\" content=\"0;url=" +
                           Url + "\"><script>location.replace(" + JsonString(Url) + ")</script>\n";
  TUniqueFd fd(open(Path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
  const bool ok = fd && write(fd.Get(), page.data(), page.size()) == static_cast<ssize_t>(page.size());
  if (!fd.Close() || !ok) throw EPlwsError(Path + ": cannot write: " + std::strerror(errno));
  std::string url = "file://";
  size_t start = 1;
  while (start <= Path.size()) {
    const size_t slash = std::min(Path.find('/', start), Path.size());
    url += "/" + PercentEncodeSegment(Path.substr(start, slash - start));
    start = slash + 1;
  }
  return url;
}

std::string RuffleDir() {
  const char* env = std::getenv("PLWS_RUFFLE_DIR");
  const std::string dir = env && *env ? env : PL_RUFFLE_DIR;
  if (dir.empty() || access((dir + "/ruffle.js").c_str(), R_OK) != 0)
    throw EPlwsError("the Ruffle player is not installed (" + (dir.empty() ? std::string("no folder known") : dir) +
                     "): run scripts/install-deps, or set PLWS_RUFFLE_DIR");
  return dir;
}

std::string BrowserExe() {
  const char* env = std::getenv("PLWS_CHROMIUM");
  const std::string exe = env && *env ? env : "/usr/bin/chromium";
  if (access(exe.c_str(), X_OK) != 0)
    throw EPlwsError("Chromium is not installed (" + exe + "): run scripts/install-deps, or set PLWS_CHROMIUM");
  return exe;
}

// The X screen's size from xdpyinfo, so the kiosk window covers it even
// without a window manager; 0x0 when it cannot be learnt.
std::pair<int, int> ScreenSize() {
  const TUniqueProcessPipe p(popen("xdpyinfo 2>/dev/null", "r"));
  if (!p) return {0, 0};
  char line[512];
  int w = 0, h = 0;
  while (std::fgets(line, sizeof line, p.Get()))
    if (std::sscanf(line, " dimensions: %dx%d", &w, &h) == 2) break;
  return {w, h};
}

std::string FormatSeconds(double Seconds) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", Seconds);
  return buf;
}

std::string LogTail(const std::string& Path) {
  const TUniqueCFile f(std::fopen(Path.c_str(), "rb"));
  if (!f) return "";
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f.Get())) > 0) text.append(buf, n);
  if (text.size() > 1500) text = "..." + text.substr(text.size() - 1500);
  return text;
}

// ---------------------------------------------------------------------- run

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
      TBrowser& B;
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
      TDevTools dev(FBrowser.ToBrowser(), FBrowser.FromBrowser());
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
        bool ok = static_cast<bool>(fd);
        for (size_t done = 0; ok && done < png->size();) {
          const ssize_t n = write(fd.Get(), png->data() + done, png->size() - done);
          ok = n > 0;
          if (ok) done += static_cast<size_t>(n);
        }
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
  TBrowser FBrowser;
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
