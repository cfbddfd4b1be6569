// Named instance mutexes across real processes.
#include <gtest/gtest.h>
#include <windows.h>

#include <future>

#include "saver/duplicate_win32.h"
#include "tests/support/process_win32.h"
#include "util/raii_win32.h"

namespace {

std::string UniqueName(const char* Tag) {
  return std::string("PlumexTest-") + Tag + "-" + std::to_string(GetCurrentProcessId()) + "-" +
         std::to_string(GetTickCount());
}

DWORD RunProbe(const std::string& Args) {
  const TProcessResult r = RunProcess("\"" + ExeDir() + "instance_probe.exe\" " + Args);
  EXPECT_TRUE(r.Started);
  EXPECT_FALSE(r.TimedOut);
  return r.ExitCode;
}

}  // namespace

TEST(InstanceMutex, SecondProcessIsRefusedWithHandleZero) {
  const std::string name = UniqueName("first");
  TUniqueMutex handle;
  ASSERT_TRUE(CreateInstanceMutex(handle, name));
  EXPECT_TRUE(handle);
  EXPECT_EQ(RunProbe(name), 0u);  // refused, its handle empty
  ReleaseInstanceMutex(handle);
  EXPECT_FALSE(handle);
  // Released: the next copy gets it.
  EXPECT_EQ(RunProbe(name), 1u);
}

TEST(InstanceMutex, ThisProcessIsRefusedWhileAnotherHoldsIt) {
  const std::string name = UniqueName("held");
  const std::string event = UniqueName("event");
  TUniqueHandle ready(CreateEventA(nullptr, TRUE, FALSE, (event + "-ready").c_str()));
  TUniqueHandle go(CreateEventA(nullptr, TRUE, FALSE, (event + "-go").c_str()));
  auto holder = std::async(std::launch::async, [&] { return RunProbe(name + " hold " + event); });
  ASSERT_EQ(WaitForSingleObject(ready.Get(), 30000), WAIT_OBJECT_0);

  TUniqueMutex handle(CreateMutexA(nullptr, FALSE, nullptr));
  EXPECT_FALSE(CreateInstanceMutex(handle, name));
  EXPECT_FALSE(handle);
  EXPECT_FALSE(CreateSingleInstance(name));
  EXPECT_EQ(SingleInstanceName(), name);

  SetEvent(go.Get());
  EXPECT_EQ(holder.get(), 1u);
  // The holder has ended: its mutex went with it.
  EXPECT_TRUE(CreateInstanceMutex(handle, name));
  ReleaseInstanceMutex(handle);
}

TEST(InstanceMutex, ReleasingNothingDoesNothing) {
  TUniqueMutex handle;
  ReleaseInstanceMutex(handle);
  EXPECT_FALSE(handle);
  ReleaseSingleInstance();  // nothing held
}

TEST(InstanceMutex, SingleInstanceHoldsOneProcessWideHandle) {
  const std::string name = UniqueName("single");
  ASSERT_TRUE(CreateSingleInstance(name));
  EXPECT_EQ(SingleInstanceName(), name);
  EXPECT_EQ(RunProbe(name), 0u);
  // Claiming again gives the held handle back first instead of losing it.
  EXPECT_TRUE(CreateSingleInstance(name));
  ReleaseSingleInstance();
  // Nothing of this process keeps the name alive now.
  EXPECT_EQ(RunProbe(name), 1u);
  TUniqueHandle opened(OpenMutexA(SYNCHRONIZE, FALSE, name.c_str()));
  EXPECT_FALSE(opened);
}

TEST(InstanceMutex, EveryCopyThatJoinedKeepsTheNameAliveUntilTheLastEnds) {
  const std::string name = UniqueName("join");
  TUniqueMutex first, second, third;
  EXPECT_TRUE(JoinInstanceMutex(first, name));
  EXPECT_FALSE(JoinInstanceMutex(second, name));
  EXPECT_TRUE(second) << "a later copy holds the name too";
  first.Reset();
  // The first copy has gone, the second still runs: a third is no first.
  EXPECT_FALSE(JoinInstanceMutex(third, name));
  second.Reset();
  third.Reset();
  EXPECT_TRUE(JoinInstanceMutex(first, name));
}
