// The owner of a child process that leads a group of its own: it looks at
// the leader without reaping it, ends the helpers the leader left in the
// group, reaps the leader once, and ends and reaps whatever is left when the
// owner goes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "tests/support/wait_until.h"
#include "util/raii_posix.h"

namespace {

using namespace std::chrono_literals;

// Gone, or a zombie nobody reaped yet: either way no longer running.
bool Stopped(pid_t Pid) {
  std::ifstream stat("/proc/" + std::to_string(Pid) + "/stat");
  std::string text;
  if (!std::getline(stat, text)) return true;
  const size_t paren = text.rfind(')');
  return paren != std::string::npos && paren + 2 < text.size() && (text[paren + 2] == 'Z' || text[paren + 2] == 'X');
}

// True when Pid is no child of ours any more (it was reaped).
bool Reaped(pid_t Pid) {
  int raw = 0;
  return waitpid(Pid, &raw, WNOHANG) == -1 && errno == ECHILD;
}

// A leader in a group of its own that starts a helper (sleeping for a
// minute) in that group, then ends with ExitCode, or, with ExitCode < 0,
// waits for a signal. Helper gets the helper's process id.
pid_t StartGroup(int ExitCode, pid_t& Helper) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    const pid_t helper = fork();
    if (helper == 0) {
      sleep(60);
      _exit(0);
    }
    if (write(fds[1], &helper, sizeof helper) != sizeof helper) _exit(99);
    if (ExitCode < 0) pause();
    _exit(ExitCode);
  }
  close(fds[1]);
  Helper = -1;
  if (pid > 0 && read(fds[0], &Helper, sizeof Helper) != sizeof Helper) Helper = -1;
  close(fds[0]);
  return pid;
}

}  // namespace

TEST(ChildProcessGroup, EndedReapsTheLeaderOnceAndEndsItsHelpers) {
  pid_t helper = -1;
  const pid_t pid = StartGroup(3, helper);
  ASSERT_GT(pid, 0);
  ASSERT_GT(helper, 0);
  TChildProcessGroup group(pid);
  EXPECT_EQ(group.Get(), pid);
  int status = -1;
  ASSERT_TRUE(WaitUntil([&] { return group.Ended(status); }));
  EXPECT_EQ(status, 3);
  EXPECT_FALSE(group);
  EXPECT_TRUE(Reaped(pid));
  EXPECT_TRUE(WaitUntil([&] { return Stopped(helper); }));
  // Nothing left: asked again, it has ended and keeps the status.
  status = -1;
  EXPECT_TRUE(group.Ended(status));
  EXPECT_EQ(status, -1);
}

TEST(ChildProcessGroup, RunningUntilAskedThenEndedBySignal) {
  pid_t helper = -1;
  const pid_t pid = StartGroup(-1, helper);
  ASSERT_GT(pid, 0);
  TChildProcessGroup group(pid);
  int status = -1;
  std::this_thread::sleep_for(100ms);  // precedes a check that nothing happens
  EXPECT_FALSE(group.Ended(status));
  EXPECT_TRUE(group);
  EXPECT_FALSE(Reaped(pid));  // looked at, not reaped
  EXPECT_FALSE(Stopped(helper));

  group.Terminate();
  ASSERT_TRUE(WaitUntil([&] { return group.Ended(status); }));
  EXPECT_EQ(status, 128 + SIGTERM);
  EXPECT_TRUE(Reaped(pid));
  EXPECT_TRUE(WaitUntil([&] { return Stopped(helper); }));

  // ForceEnd reaches the helpers too, with the leader still running.
  const pid_t second = StartGroup(-1, helper);
  ASSERT_GT(second, 0);
  TChildProcessGroup forced(second);
  forced.ForceEnd();
  ASSERT_TRUE(WaitUntil([&] { return forced.Ended(status); }));
  EXPECT_EQ(status, 128 + SIGKILL);
  EXPECT_TRUE(WaitUntil([&] { return Stopped(helper); }));
}

TEST(ChildProcessGroup, TheOwnerEndsAndReapsWhatIsLeftAndMovesOnce) {
  pid_t helper = -1;
  const pid_t pid = StartGroup(-1, helper);
  ASSERT_GT(pid, 0);
  {
    TChildProcessGroup group(pid);
    TChildProcessGroup moved(std::move(group));  // changes hands, nothing ends
    EXPECT_FALSE(group);
    EXPECT_EQ(moved.Get(), pid);
    EXPECT_FALSE(Stopped(pid));
  }
  EXPECT_TRUE(Reaped(pid));
  EXPECT_TRUE(WaitUntil([&] { return Stopped(helper); }));
}
