// The browser launcher against the real registry of the test prefix, real
// processes and Wine's own shell.
#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "dialog/browser.h"
#include "dialog/browser_win32.h"
#include "tests/dialog/launch_support_win32.h"
#include "tests/support/process_win32.h"

namespace {

using Calls = std::vector<std::string>;

class BrowserTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetBrowserRegistry(); }
  void TearDown() override { ResetBrowserRegistry(); }
  static TComponentPtr<TRecordingBrowser> Recording() { return TComponentPtr<TRecordingBrowser>(new TRecordingBrowser); }
};

std::string Quoted(const std::string& S) { return "\"" + S + "\""; }

}  // namespace

TEST_F(BrowserTest, QuotedStartMenuCommandStartsTheProgramWithTheAddress) {
  const TFakeBrowser fake = PrepareFakeBrowser();
  RegisterStartMenuBrowser(Quoted(fake.Path) + " -osint -url \"%1\"");
  EXPECT_EQ(TComponentPtr<TBrowser>(new TBrowser(nullptr))->BrowserPath(), fake.Path);

  OpenURL("www.example.com/a?b=1&c=%41");
  EXPECT_EQ(WaitForLines(fake.Log), Quoted(fake.Path) + " http://www.example.com/a?b=1&c=%41\n");
}

TEST_F(BrowserTest, UnquotedCommandLosesItsSwitches) {
  const TFakeBrowser fake = PrepareFakeBrowser();
  char shortPath[MAX_PATH];
  ASSERT_GT(GetShortPathNameA(fake.Path.c_str(), shortPath, MAX_PATH), 0u);
  ASSERT_EQ(std::string(shortPath).find(' '), std::string::npos);
  RegisterStartMenuBrowser(std::string(shortPath) + "  -new-window /x %1");
  auto browser = Recording();
  EXPECT_EQ(browser->BrowserPath(), shortPath);
  browser->PassThrough = true;
  browser->SetURL("https://example.com/");
  browser->Open();
  EXPECT_EQ(WaitForLines(fake.Log), Quoted(shortPath) + " https://example.com/\n");
  EXPECT_EQ(browser->Calls, (Calls{"exec " + Quoted(shortPath) + " https://example.com/"}));
}

TEST_F(BrowserTest, HtmAssociationStandsInForAMissingStartMenuClient) {
  const TFakeBrowser fake = PrepareFakeBrowser();
  RegisterHtmHandler(Quoted(fake.Path) + " \"%1\"");
  EXPECT_EQ(TComponentPtr<TBrowser>(new TBrowser(nullptr))->BrowserPath(), fake.Path);
  // A client name whose command is missing counts as no client.
  SetDefaultValue(HKEY_LOCAL_MACHINE, "Software\\Clients\\StartMenuInternet", "NoSuchClient");
  EXPECT_EQ(TComponentPtr<TBrowser>(new TBrowser(nullptr))->BrowserPath(), fake.Path);
  OpenURL("http://example.com/htm");
  EXPECT_EQ(WaitForLines(fake.Log), Quoted(fake.Path) + " http://example.com/htm\n");
}

TEST_F(BrowserTest, MissingBrowserProgramFailsSilentlyWithoutTheShell) {
  RegisterStartMenuBrowser("\"C:\\no such folder\\browser.exe\" %1");
  const int windowsBefore = CountVisibleTopLevelWindows();
  auto browser = Recording();
  browser->PassThrough = true;
  browser->SetURL("http://example.com/");
  browser->Open();
  EXPECT_EQ(browser->Calls, (Calls{"exec \"C:\\no such folder\\browser.exe\" http://example.com/"}));
  ASSERT_EQ(browser->Results.size(), 1u);
  EXPECT_LE(browser->Results[0], 31);  // WinExec failed, and nobody was told
  Sleep(1500);
  EXPECT_EQ(CountVisibleTopLevelWindows(), windowsBefore);
  EXPECT_EQ(ReadTextFile(WineBrowserLog()), "");
}

TEST_F(BrowserTest, NoBrowserRegisteredGoesThroughWinesShell) {
  // A fresh prefix has neither a Start-menu client nor an ".htm" association:
  // ShellExecute hands http addresses to winebrowser, which starts the
  // desktop's browser (here the recorder) with the address.
  auto browser = Recording();
  EXPECT_EQ(browser->BrowserPath(), "");
  browser->PassThrough = true;
  browser->SetURL("example.com/no-browser");
  browser->Open();
  EXPECT_EQ(browser->Calls, (Calls{"shell http://example.com/no-browser"}));
  ASSERT_EQ(browser->Results.size(), 1u);
  EXPECT_GT(browser->Results[0], 32);
  EXPECT_EQ(WaitForLines(WineBrowserLog()), "http://example.com/no-browser\n");
}

TEST_F(BrowserTest, AddressNoProgramCanOpenEndsWithExplorerAndNoMessageBox) {
  const int windowsBefore = CountVisibleTopLevelWindows();
  auto browser = Recording();
  browser->PassThrough = true;
  // The shell really fails; the last resort is only recorded: Wine's explorer,
  // given an address it cannot open, keeps running and at times stops
  // answering, which would hang the window count below.
  browser->PassThroughExec = false;
  browser->SetURL("plunknown:thing");
  browser->Open();
  ASSERT_EQ(browser->Calls, (Calls{"shell plunknown:thing", "exec explorer plunknown:thing"}));
  EXPECT_LE(browser->Results[0], 32);
  // The shell's answer came back: nothing it started is left to show a box.
  EXPECT_EQ(CountVisibleTopLevelWindows(), windowsBefore);
}

TEST_F(BrowserTest, OpenOrderWithoutABrowser) {
  auto browser = Recording();
  browser->Open();  // no address: nothing
  browser->ShellOpen();
  EXPECT_TRUE(browser->Calls.empty());
  browser->SetURL("http://a/");
  browser->ShellResult = 0;
  browser->Open();
  EXPECT_EQ(browser->Calls, (Calls{"shell http://a/", "exec explorer http://a/"}));
}

TEST_F(BrowserTest, AutoOpensThroughTheShellAndFallsBackOnlyForRealFailures) {
  RegisterStartMenuBrowser("\"C:\\b\\browser.exe\"");
  auto browser = Recording();
  browser->SetAuto(true);
  browser->SetURL("http://a/");
  EXPECT_EQ(browser->Calls, (Calls{"shell http://a/"}));
  browser->SetURL("http://a/");  // the same address again is no change
  EXPECT_EQ(browser->Calls.size(), 1u);

  browser->Calls.clear();
  browser->ShellResult = ERROR_FILE_NOT_FOUND;  // 2: the end of the attempt
  browser->SetURL("http://b/");
  EXPECT_EQ(browser->Calls, (Calls{"shell http://b/"}));

  browser->Calls.clear();
  browser->ShellResult = 31;  // no association: the browser program after all
  browser->SetURL("c.example");
  EXPECT_EQ(browser->Calls, (Calls{"shell http://c.example", "exec \"C:\\b\\browser.exe\" http://c.example"}));

  browser->Calls.clear();
  browser->SetAuto(false);
  browser->SetURL("http://d/");
  EXPECT_TRUE(browser->Calls.empty());
}

TEST_F(BrowserTest, MalformedAddressOpensNothing) {
  RegisterStartMenuBrowser("\"C:\\b\\browser.exe\"");
  {
    const TRecordedLaunches launches;
    EXPECT_THROW(OpenURL("http://example.com/%zz"), EURLDecodeError);
    EXPECT_TRUE(launches.Calls().empty());
  }

  auto browser = Recording();
  browser->SetURL("http://ok/");
  EXPECT_THROW(browser->SetURL("http://bad/%4"), EURLDecodeError);
  browser->Open();
  browser->ShellOpen();
  EXPECT_TRUE(browser->Calls.empty());
  EXPECT_EQ(browser->URL(), "");
}
