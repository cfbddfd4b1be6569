// Owning wrappers for POSIX resources (the native build: plws, the tests):
// descriptors, pipes, process pipes, directories, iconv conversions and a
// child process that leads a group of its own.
#pragma once
#include <dirent.h>
#include <iconv.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <utility>

#include "util/raii.h"

struct TFdTraits {
  using Type = int;
  static Type Invalid() { return -1; }
  static void Close(Type V) { ::close(V); }
};

// A file descriptor; -1 = none.
class TUniqueFd : public TUniqueAny<TFdTraits> {
 public:
  using TUniqueAny::TUniqueAny;
  // Closes now and says whether the close succeeded (errno set when not): a
  // write may be reported as failed only here.
  bool Close() {
    const int fd = Release();
    return fd < 0 || ::close(fd) == 0;
  }
};

// pipe2 into two owners: Ends[0] the read end, Ends[1] the write end. False
// (errno set) when it fails.
inline bool OpenPipe(TUniqueFd (&Ends)[2], int Flags) {
  int fds[2];
  if (::pipe2(fds, Flags) != 0) return false;
  Ends[0].Reset(fds[0]);
  Ends[1].Reset(fds[1]);
  return true;
}

inline void PCloseNoResult(std::FILE* F) { ::pclose(F); }
inline void CloseDirNoResult(DIR* D) { ::closedir(D); }

using TUniqueProcessPipe = TUniqueAny<TNullHandleTraits<std::FILE*, PCloseNoResult>>;  // popen results
using TUniqueDir = TUniqueAny<TNullHandleTraits<DIR*, CloseDirNoResult>>;             // opendir results

struct TIconvTraits {
  using Type = iconv_t;
  static Type Invalid() { return reinterpret_cast<iconv_t>(-1); }
  static void Close(Type V) { ::iconv_close(V); }
};
using TUniqueIconv = TUniqueAny<TIconvTraits>;  // iconv_open results

// A child process that leads a process group of its own (it called
// setpgid(0, 0)), with the helpers it starts in that group; -1 = none.
// Letting it go kills the group and the leader and reaps the leader.
class TChildProcessGroup {
 public:
  TChildProcessGroup() = default;
  explicit TChildProcessGroup(pid_t Pid) : FPid(Pid) {}
  ~TChildProcessGroup() { Kill(); }
  TChildProcessGroup(const TChildProcessGroup&) = delete;
  TChildProcessGroup& operator=(const TChildProcessGroup&) = delete;
  TChildProcessGroup(TChildProcessGroup&& Other) noexcept : FPid(std::exchange(Other.FPid, -1)) {}
  TChildProcessGroup& operator=(TChildProcessGroup&& Other) noexcept {
    if (this != &Other) {
      Kill();
      FPid = std::exchange(Other.FPid, -1);
    }
    return *this;
  }

  pid_t Get() const { return FPid; }
  explicit operator bool() const { return FPid > 0; }

  // True once the leader has ended, or when there is none. Its leftover
  // helpers are then killed, it is reaped and Status is its exit code
  // (128 + signal when killed).
  bool Ended(int& Status) {
    if (FPid <= 0) return true;
    siginfo_t info{};
    // Look without reaping: while the leader is unreaped its group id
    // cannot be reused, so killing the group hits only its helpers.
    if (::waitid(P_PID, static_cast<id_t>(FPid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid == 0)
      return false;
    ::kill(-FPid, SIGKILL);
    int raw = 0;
    ::waitpid(FPid, &raw, 0);
    Status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    FPid = -1;
    return true;
  }
  // Asks the leader to end.
  void Terminate() {
    if (FPid > 0) ::kill(FPid, SIGTERM);
  }
  // Ends the group and the leader by force; Ended then finds the leader gone
  // once the system has taken it down.
  void ForceEnd() {
    if (FPid <= 0) return;
    ::kill(-FPid, SIGKILL);
    ::kill(FPid, SIGKILL);
  }

 private:
  // By force, and reaped before it is let go.
  void Kill() {
    if (FPid <= 0) return;
    ForceEnd();
    int raw = 0;
    ::waitpid(std::exchange(FPid, -1), &raw, 0);
  }

  pid_t FPid = -1;
};
