// Detection of the installed player control, against the fake player in
// its three version variants, registered and unregistered in the test prefix.
#include <gtest/gtest.h>
#include <windows.h>
#include <ole2.h>

#include <string>

#include "flash/flash_utils_win32.h"
#include "flash/shockwave_flash_win32.h"
#include "tests/doubles/fakeplayer/fake_registration_win32.h"
#include "tests/support/process_win32.h"
#include "util/raii_com_win32.h"

namespace {

using TLiveObjectsFn = LONG(WINAPI*)();
using TGetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);

template <typename T>
T Export(const char* Module, const char* Name) {
  return ProcAddress<T>(GetModuleHandleA(Module), Name);
}

LONG LiveObjects(const char* Module) {
  auto fn = Export<TLiveObjectsFn>(Module, "FakePlayerLiveObjects");
  return fn ? fn() : -1;
}

class FlashDetectionTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
  static void TearDownTestSuite() {
    UnregisterFakePlayer();
    CoUninitialize();
  }
  void SetUp() override {
    SetEnvironmentVariableA("PL_FAKEPLAYER_LOG", nullptr);
    SetEnvironmentVariableA("PL_FAKEPLAYER_REFUSE", nullptr);
    ASSERT_TRUE(UnregisterFakePlayer());
  }
  void TearDown() override {
    if (FClassCookie) CoRevokeClassObject(FClassCookie);
    SetEnvironmentVariableA("PL_FAKEPLAYER_REFUSE", nullptr);
  }

  // Makes the class creatable in this process whatever the registry says,
  // through the fake's own class factory.
  void RegisterClassObjectInProcess() {
    static HMODULE fake = LoadLibraryA(FakePlayerPath(TFakePlayerVariant::V9).c_str());
    ASSERT_TRUE(fake);
    auto getClassObject = Export<TGetClassObjectFn>("fakeplayer_v9.dll", "DllGetClassObject");
    ASSERT_TRUE(getClassObject);
    TComPtr<IUnknown> factory;
    ASSERT_EQ(getClassObject(CLSID_ShockwaveFlash, IID_IClassFactory, factory.PutVoid()), S_OK);
    ASSERT_EQ(CoRegisterClassObject(CLSID_ShockwaveFlash, factory.Get(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                    &FClassCookie),
              S_OK);
  }

  DWORD FClassCookie = 0;
};

TEST_F(FlashDetectionTest, NothingRegistered) {
  EXPECT_FALSE(CanCreateFlash());
  EXPECT_EQ(GetFlashVersion(), "0.0.0.0");
  EXPECT_FALSE(CheckFlashVersion("0.0.0.0"));
}

TEST_F(FlashDetectionTest, Version9ControlMeetsLowerAndEqualRequirements) {
  ASSERT_TRUE(RegisterFakePlayer(TFakePlayerVariant::V9));
  EXPECT_TRUE(CanCreateFlash());
  EXPECT_EQ(GetFlashVersion(), "9.0.124.0");
  // The instance made by the creation test is not kept.
  EXPECT_EQ(LiveObjects("fakeplayer_v9.dll"), 0);
  EXPECT_TRUE(CheckFlashVersion("8.0"));
  EXPECT_TRUE(CheckFlashVersion("0.0.0.0"));
  EXPECT_TRUE(CheckFlashVersion("9.0.124.0"));
  EXPECT_TRUE(CheckFlashVersion("9.0.124.0.7"));  // only the common parts count
  EXPECT_TRUE(CheckFlashVersion("9"));
  EXPECT_TRUE(CheckFlashVersion("9.x"));  // a part that is no number counts as 0
  EXPECT_FALSE(CheckFlashVersion("9.0.125"));
  EXPECT_FALSE(CheckFlashVersion("10"));
  EXPECT_FALSE(CheckFlashVersion("10.0.0.0"));
}

TEST_F(FlashDetectionTest, Version7ControlIsReadFromItsProductVersion) {
  ASSERT_TRUE(RegisterFakePlayer(TFakePlayerVariant::V7));
  EXPECT_EQ(GetFlashVersion(), "7.0.19.0");  // its file version says 7.0.0.1
  EXPECT_TRUE(CheckFlashVersion("7.0"));
  EXPECT_TRUE(CheckFlashVersion("6.0.79.0"));
  EXPECT_FALSE(CheckFlashVersion("8.0"));
  EXPECT_FALSE(CheckFlashVersion("7.0.20.0"));
}

TEST_F(FlashDetectionTest, ControlWithoutVersionResourceFailsEveryCheck) {
  ASSERT_TRUE(RegisterFakePlayer(TFakePlayerVariant::NoVersion));
  EXPECT_TRUE(CanCreateFlash());
  EXPECT_EQ(GetFlashVersion(), "");
  for (const char* required : {"0.0.0.0", "0", "8.0", "1"}) EXPECT_FALSE(CheckFlashVersion(required)) << required;
}

TEST_F(FlashDetectionTest, CreatableControlWithoutServerPathCountsAsVersionZero) {
  RegisterClassObjectInProcess();
  ASSERT_TRUE(RegisterFakePlayerWithoutPath());
  EXPECT_TRUE(CanCreateFlash());
  EXPECT_EQ(GetFlashVersion(), "0.0.0.0");
  EXPECT_TRUE(CheckFlashVersion("0.0.0.0"));
  EXPECT_FALSE(CheckFlashVersion("8.0"));

  // A path is used exactly as registered: quotes are not removed, a
  // missing file or a folder is no server file.
  for (const std::string& path : {"\"" + FakePlayerPath(TFakePlayerVariant::V9) + "\"",
                                  FakePlayerPath(TFakePlayerVariant::V9) + ".missing", ExeDir()}) {
    ASSERT_TRUE(RegisterFakePlayer(path));
    EXPECT_EQ(GetFlashVersion(), "0.0.0.0") << path;
  }
  // Blanks around the registered text are trimmed.
  ASSERT_TRUE(RegisterFakePlayer("  " + FakePlayerPath(TFakePlayerVariant::V9) + " "));
  EXPECT_EQ(GetFlashVersion(), "9.0.124.0");
}

TEST_F(FlashDetectionTest, ControlThatCannotBeCreatedFailsWhateverItsVersion) {
  // A server that refuses to create its object: its file still says 9.0.124.0.
  ASSERT_TRUE(RegisterFakePlayer(TFakePlayerVariant::V9));
  SetEnvironmentVariableA("PL_FAKEPLAYER_REFUSE", "create");
  EXPECT_FALSE(CanCreateFlash());
  EXPECT_EQ(GetFlashVersion(), "9.0.124.0");
  EXPECT_FALSE(CheckFlashVersion("8.0"));
  EXPECT_FALSE(CheckFlashVersion("0.0.0.0"));

  SetEnvironmentVariableA("PL_FAKEPLAYER_REFUSE", nullptr);
  EXPECT_TRUE(CheckFlashVersion("8.0"));
  EXPECT_EQ(LiveObjects("fakeplayer_v9.dll"), 0);

  // A registered file that is no DLL at all.
  const std::string notDll = MakeTempDir("flash detect ") + "control.txt";
  {
    const TUniqueFile f(CreateFileA(notDll.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    WriteFile(f.Get(), "not a dll", 9, &written, nullptr);
  }
  ASSERT_TRUE(RegisterFakePlayer(notDll));
  EXPECT_FALSE(CanCreateFlash());
  EXPECT_EQ(GetFlashVersion(), "");
  EXPECT_FALSE(CheckFlashVersion("0.0.0.0"));
}

TEST_F(FlashDetectionTest, NothingIsCachedBetweenCalls) {
  ASSERT_TRUE(RegisterFakePlayer(TFakePlayerVariant::V9));
  EXPECT_TRUE(CheckFlashVersion("8.0"));
  ASSERT_TRUE(RegisterFakePlayer(TFakePlayerVariant::V7));
  EXPECT_EQ(GetFlashVersion(), "7.0.19.0");
  EXPECT_FALSE(CheckFlashVersion("8.0"));
  ASSERT_TRUE(UnregisterFakePlayer());
  EXPECT_FALSE(CanCreateFlash());
  EXPECT_EQ(GetFlashVersion(), "0.0.0.0");
  ASSERT_TRUE(RegisterFakePlayer(TFakePlayerVariant::V9));
  EXPECT_TRUE(CanCreateFlash());
}

}  // namespace
