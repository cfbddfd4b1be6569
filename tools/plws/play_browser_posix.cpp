// Chromium for a run: its process, its group of helpers and its DevTools
// pipe; where it and the player are.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/plws/platform.h"
#include "tools/plws/play_posix.h"
#include "tools/plws/plws.h"

#ifndef PL_RUFFLE_DIR
#define PL_RUFFLE_DIR ""
#endif

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

std::pair<int, int> ScreenSize() {
  const TUniqueProcessPipe p(popen("xdpyinfo 2>/dev/null", "r"));
  if (!p) return {0, 0};
  char line[512];
  int w = 0, h = 0;
  while (std::fgets(line, sizeof line, p.Get()))
    if (std::sscanf(line, " dimensions: %dx%d", &w, &h) == 2) break;
  return {w, h};
}

void TBrowserProcess::Start(const std::string& Exe, const std::vector<std::string>& Args,
                            const std::string& LogPath, const std::string& TempDir, bool DevToolsPipe) {
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
  const pid_t pid = fork();
  if (pid == 0) {
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
  if (pid < 0) throw EPlwsError(std::string("cannot start the browser: ") + std::strerror(forkError));
  FProcess = TChildProcessGroup(pid);
}

bool TBrowserProcess::Ended() {
  if (!FProcess.Ended(FStatus)) return false;
  FToBrowser.Reset();
  FFromBrowser.Reset();
  return true;
}

void TBrowserProcess::End() {
  if (!FProcess) return;
  FProcess.Terminate();
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (!Ended() && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  if (FProcess) {
    FProcess.ForceEnd();
    while (!Ended()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

TJson TDevTools::Call(const std::string& Method, const std::string& Params, const std::string& Session,
                      int TimeoutMs) {
  const int id = ++FLastId;
  std::string message = "{\"id\":" + std::to_string(id) + ",\"method\":" + JsonString(Method);
  if (!Params.empty()) message += ",\"params\":" + Params;
  if (!Session.empty()) message += ",\"sessionId\":" + JsonString(Session);
  message += "}";
  message.push_back('\0');
  if (!WriteAll(FOut, message.data(), message.size())) throw EPlwsError("the browser closed its DevTools pipe");
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
    if (left <= 0 || FSignal) throw EPlwsError(Method + ": no answer from the browser");
    pollfd p{FIn, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(std::min<long long>(left, 200))) <= 0) continue;
    char buf[65536];
    const ssize_t n = read(FIn, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw EPlwsError("the browser closed its DevTools pipe");
    FBuffer.append(buf, static_cast<size_t>(n));
  }
}
