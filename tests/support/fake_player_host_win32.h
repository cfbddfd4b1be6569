// The base of every suite that hosts the fake player in this process: OLE on
// the test thread and the fake registered in the test prefix, for as long as
// the suite runs.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>
#include <ole2.h>

#include "tools/fakeplayer/fake_registration_win32.h"

class TFakePlayerHostTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
    ASSERT_TRUE(RegisterFakePlayer(TFakePlayerVariant::V9));
  }
  static void TearDownTestSuite() {
    UnregisterFakePlayer();
    OleUninitialize();
  }
};
