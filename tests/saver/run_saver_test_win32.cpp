// The "/s" relaunch, with a real second process under Wine.
#include <gtest/gtest.h>
#include <windows.h>

#include "tests/support/process_win32.h"

namespace {

struct ProbeRun {
  std::string Log;
  TProcessResult Result;
};

// Copies the probe into Dir (so paths with blanks can be tried) and runs it
// with Args, the child's behaviour set through the environment.
ProbeRun RunProbe(const std::string& Dir, const std::string& Args, const char* ChildExit = "0",
                  const char* SleepMs = "0", bool Window = false, bool MoveSelf = false) {
  const std::string probe = Dir + "probe saver.scr";
  DeleteFileA((probe + ".moved").c_str());
  EXPECT_TRUE(CopyFileA((ExeDir() + "run_saver_probe.exe").c_str(), probe.c_str(), FALSE));
  const std::string log = Dir + "probe.log";
  DeleteFileA(log.c_str());
  SetEnvironmentVariableA("PROBE_LOG", log.c_str());
  SetEnvironmentVariableA("PROBE_EXIT", ChildExit);
  SetEnvironmentVariableA("PROBE_SLEEP_MS", SleepMs);
  SetEnvironmentVariableA("PROBE_WINDOW", Window ? "1" : nullptr);
  SetEnvironmentVariableA("PROBE_MOVE_SELF", MoveSelf ? "1" : nullptr);
  ProbeRun run;
  run.Result = RunProcess("\"" + probe + "\" " + Args);
  run.Log = ReadTextFile(log);
  return run;
}

}  // namespace

TEST(RunSaver, SRelaunchesItselfWithEAndWaits) {
  const std::string dir = MakeTempDir("run saver ");
  // A program named by the path's words up to a blank lies beside it: an
  // unquoted path would start that one.
  ASSERT_TRUE(CopyFileA((ExeDir() + "run_saver_probe.exe").c_str(), (dir + "probe.exe").c_str(), FALSE));
  // The child runs for a while and fails; the parent outlives it and exits 0.
  const auto run = RunProbe(dir, "/s", "7", "700");
  ASSERT_TRUE(run.Result.Started);
  EXPECT_FALSE(run.Result.TimedOut);
  EXPECT_EQ(run.Result.ExitCode, 0u);
  // The child saw the full, quoted path (it holds a blank) and " /E".
  EXPECT_NE(run.Log.find("cmdline \"" + dir + "probe saver.scr\" /E\n"), std::string::npos) << run.Log;
  EXPECT_NE(run.Log.find("letter E\n"), std::string::npos) << run.Log;
  // The parent ended only after the child had finished.
  EXPECT_NE(run.Log.find("child-end"), std::string::npos) << run.Log;
}

TEST(RunSaver, ACopyThatCannotBeStartedStillEndsTheParentWithZero) {
  const std::string dir = MakeTempDir("run saver ");
  // Were the parent to go on, it would end with the probe's own code 3.
  const auto run = RunProbe(dir, "/s", "3", "0", false, true);
  ASSERT_TRUE(run.Result.Started);
  EXPECT_FALSE(run.Result.TimedOut);
  EXPECT_EQ(run.Result.ExitCode, 0u);
  EXPECT_EQ(run.Log, "moved 1\n") << "no copy ran, and the parent said nothing after the check";
}

TEST(RunSaver, OtherLettersDoNotRelaunch) {
  const std::string dir = MakeTempDir("run saver ");
  for (const char* args : {"/c", "-p 1234", "/e", "", "-", "//s"}) {
    const auto run = RunProbe(dir, args, "3");
    EXPECT_EQ(run.Result.ExitCode, 3u) << args;  // the probe itself ran on, no parent/child
    EXPECT_EQ(run.Log.find("/E\n"), std::string::npos) << args << ": " << run.Log;
  }
  EXPECT_NE(RunProbe(dir, "//s").Log.find("letter /"), std::string::npos);
  EXPECT_NE(RunProbe(dir, "-").Log.find("letter C"), std::string::npos);
  EXPECT_NE(RunProbe(dir, "Setup").Log.find("child-end"), std::string::npos);
}

TEST(RunSaver, WaitingParentKeepsItsWindowsAnswering) {
  const std::string dir = MakeTempDir("run saver ");
  const auto run = RunProbe(dir, "/S", "0", "0", true);
  EXPECT_EQ(run.Result.ExitCode, 0u);
  // The child's SendMessageTimeout reached the parent's window procedure.
  EXPECT_NE(run.Log.find("ping 4242"), std::string::npos) << run.Log;
}
