// The browser player's decisions: the pipe's framing and messages, where the
// page's pixels go and where a press lands in the page, keys, and the
// browser's command line.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "flash/browser_player.h"

TEST(DevToolsFramer, GivesWholeMessagesWhateverTheCutsAndFailsPastTheLimit) {
  const std::string stream = std::string("{\"id\":1}") + '\0' + "{\"method\":\"A\"}" + '\0' + "{\"id\"";
  for (size_t step : {1u, 2u, 5u, 64u}) {
    TDevToolsFramer framer;
    std::vector<std::string> got;
    for (size_t at = 0; at < stream.size(); at += step) {
      ASSERT_TRUE(framer.Append(stream.data() + at, std::min(step, stream.size() - at)));
      while (auto m = framer.Next()) got.push_back(*m);
    }
    EXPECT_EQ(got, (std::vector<std::string>{"{\"id\":1}", "{\"method\":\"A\"}"})) << "pieces of " << step;
  }
  // Short messages that come several to a read, after a read that ended
  // inside one: each is found where it starts, not past where the last
  // search stopped.
  {
    TDevToolsFramer framer;
    std::vector<std::string> got;
    for (const std::string& piece : {std::string("{\"id\":10"), std::string("}") + '\0' + "{}" + '\0' + "[]" + '\0'}) {
      ASSERT_TRUE(framer.Append(piece.data(), piece.size()));
      while (auto m = framer.Next()) got.push_back(*m);
    }
    EXPECT_EQ(got, (std::vector<std::string>{"{\"id\":10}", "{}", "[]"}));
  }
  TDevToolsFramer small(8);
  EXPECT_TRUE(small.Append("12345678", 8));
  EXPECT_FALSE(small.Append("9", 1));
  EXPECT_TRUE(small.Failed());
  EXPECT_FALSE(small.Next());
  // A long message that is complete when it arrives still comes through
  // after a short one; an unfinished one past the limit does not.
  TDevToolsFramer limit(4);
  const std::string two = std::string("ab") + '\0' + "cdef" + '\0' + "ghijk";
  limit.Append(two.data(), two.size());
  EXPECT_EQ(limit.Next(), std::optional<std::string>("ab"));
  EXPECT_EQ(limit.Next(), std::optional<std::string>("cdef"));
  EXPECT_FALSE(limit.Next());
  EXPECT_TRUE(limit.Failed());
}

TEST(DevToolsMessage, AnswersEventsAndWhatIsNeither) {
  const auto answer = ReadDevToolsMessage(R"({"id":7,"result":{"targetId":"T"},"sessionId":"S"})");
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->Id, 7);
  EXPECT_EQ(answer->SessionId, "S");
  ASSERT_TRUE(answer->Params.Get("targetId"));
  EXPECT_FALSE(answer->Error);
  const auto refused = ReadDevToolsMessage(R"({"id":8,"error":{"code":-32000,"message":"Not attached"}})");
  ASSERT_TRUE(refused && refused->Error);
  EXPECT_EQ(*refused->Error, "Not attached");
  const auto event = ReadDevToolsMessage(R"({"method":"Page.screencastFrame","params":{"sessionId":3}})");
  ASSERT_TRUE(event);
  EXPECT_FALSE(event->Id);
  EXPECT_EQ(event->Method, "Page.screencastFrame");
  EXPECT_EQ(event->Params.Get("sessionId")->NumberValue, 3);
  for (const char* bad : {"", "[]", "{}", R"({"id":1.5})", R"({"id":-1})", R"({"id":"1"})", "{\"id\":1"})
    EXPECT_FALSE(ReadDevToolsMessage(bad)) << bad;
  EXPECT_EQ(DevToolsCommand(3, "Page.navigate", R"({"url":"x"})", "S\"1"),
            R"({"id":3,"method":"Page.navigate","params":{"url":"x"},"sessionId":"S\"1"})");
  EXPECT_EQ(DevToolsCommand(4, "Browser.close", "", ""), R"({"id":4,"method":"Browser.close"})");
}

TEST(BrowserPlayerPicture, PageSizeFrameFitAndWhereAPressLands) {
  int w = 0, h = 0;
  PageSizeFor(640, 480, 1920, 1080, true, w, h);  // the stage, never more
  EXPECT_EQ(w * 1000 + h, 640480);
  PageSizeFor(800, 600, 152, 112, true, w, h);  // a preview: shrunk, proportions kept
  EXPECT_EQ(w, 149);
  EXPECT_EQ(h, 112);
  PageSizeFor(800, 600, 400, 600, false, w, h);  // no scale: the window, cut
  EXPECT_EQ(w * 1000 + h, 400600);
  PageSizeFor(0, 0, 300, 200, true, w, h);  // unknown stage: the window
  EXPECT_EQ(w * 1000 + h, 300200);
  PageSizeFor(400, 0, 300, 200, true, w, h);  // a stage without a height is no known stage
  EXPECT_EQ(w * 1000 + h, 300200);
  PageSizeFor(8000, 10, 400, 300, true, w, h);  // a sliver: never a page of no height
  EXPECT_EQ(w, 400);
  EXPECT_EQ(h, 1);

  // Show all: the 4:3 frame fills the height of a wide window, bars left
  // and right; without scale it keeps its size, centred.
  EXPECT_EQ(FitFrame(640, 480, 1920, 1080, true), (TFrameRect{240, 0, 1440, 1080}));
  EXPECT_EQ(FitFrame(640, 480, 1024, 1024, true), (TFrameRect{0, 128, 1024, 768}));
  EXPECT_EQ(FitFrame(640, 480, 1024, 768, false), (TFrameRect{192, 144, 640, 480}));
  EXPECT_EQ(FitFrame(0, 480, 1024, 768, true), (TFrameRect{}));
  // A preview-sized frame on a screen: 149 x 9.64 is 1436.8, rounded, not cut.
  EXPECT_EQ(FitFrame(149, 112, 1920, 1080, true), (TFrameRect{241, 0, 1437, 1080}));

  // A press in the window lands on the same place of the movie.
  const TFrameRect fit = FitFrame(640, 480, 1920, 1080, true);
  double x = 0, y = 0;
  WindowToPage(fit, 640, 480, 240 + 720, 540, x, y);  // the middle
  EXPECT_EQ(x, 320);
  EXPECT_EQ(y, 240);
  WindowToPage(fit, 640, 480, 240, 0, x, y);  // the frame's corner
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
  WindowToPage(fit, 640, 480, 1919, 1079, x, y);  // the far corner
  EXPECT_EQ(x, 639);
  EXPECT_EQ(y, 479);
  WindowToPage(fit, 640, 480, 10, 500, x, y);  // on a bar: the nearest edge of the movie
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 222);
  // Bars above and below: a press is taken off the top bar first.
  const TFrameRect tall = FitFrame(640, 480, 1024, 1024, true);
  WindowToPage(tall, 640, 480, 512, 128 + 384, x, y);  // the middle
  EXPECT_EQ(x, 320);
  EXPECT_EQ(y, 240);
  WindowToPage(tall, 640, 480, 0, 1000, x, y);  // on the bottom bar: the movie's last row
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 479);
  // A window pixel covers 1/2.25 of a movie pixel: the one under its centre
  // is the one pressed (the third pixel's centre, 2.5 / 2.25, is in the
  // movie's second).
  WindowToPage(fit, 640, 480, 240 + 2, 2, x, y);
  EXPECT_EQ(x, 1);
  EXPECT_EQ(y, 1);
}

TEST(BrowserPlayerTime, AThrottledOwnerLimitsTheEmulatorToOneFrameAGap) {
  EXPECT_EQ(FrameRateWithin(30, 50), 20.0);
  EXPECT_EQ(FrameRateWithin(120, 40), 25.0);
  // No faster than the gap allows, or no gap: the movie's own rate (0).
  EXPECT_EQ(FrameRateWithin(20, 50), 0.0);
  EXPECT_EQ(FrameRateWithin(12.5, 50), 0.0);
  EXPECT_EQ(FrameRateWithin(30, 0), 0.0);
  // A header that says nothing usable keeps the movie as it is.
  EXPECT_EQ(FrameRateWithin(0, 50), 0.0);
  EXPECT_EQ(FrameRateWithin(-5, 50), 0.0);
  EXPECT_EQ(FrameRateWithin(std::nan(""), 50), 0.0);
}

TEST(BrowserPlayerKeys, LettersDigitsNamedKeysAndTheRest) {
  EXPECT_EQ(KeyEventParams('A', true, false),
            R"({"type":"keyDown","windowsVirtualKeyCode":65,"nativeVirtualKeyCode":65,"key":"a","code":"KeyA","text":"a","unmodifiedText":"a"})");
  EXPECT_EQ(KeyEventParams('A', true, true),
            R"({"type":"keyDown","windowsVirtualKeyCode":65,"nativeVirtualKeyCode":65,"key":"A","code":"KeyA","text":"A","unmodifiedText":"A","modifiers":8})");
  EXPECT_EQ(KeyEventParams('7', false, false),
            R"({"type":"keyUp","windowsVirtualKeyCode":55,"nativeVirtualKeyCode":55,"key":"7","code":"Digit7"})");
  EXPECT_NE(KeyEventParams(0x25, true, false).find(R"("type":"rawKeyDown")"), std::string::npos);
  EXPECT_NE(KeyEventParams(0x0D, true, false).find(R"("text":"\u000d")"), std::string::npos);
  EXPECT_EQ(KeyEventParams(0x7B, true, false), "");  // F12: not the movie's
  // The keys a movie is steered with, by their names and what they type.
  const struct {
    unsigned Vk;
    const char* Key;
    const char* Text;
  } named[] = {{0x25, "ArrowLeft", nullptr}, {0x26, "ArrowUp", nullptr}, {0x27, "ArrowRight", nullptr},
               {0x28, "ArrowDown", nullptr}, {0x20, " ", " "},         {0x1B, "Escape", nullptr}};
  for (const auto& k : named) {
    const std::string down = KeyEventParams(k.Vk, true, false);
    EXPECT_NE(down.find(std::string("\"key\":\"") + k.Key + "\""), std::string::npos) << down;
    if (k.Text)
      EXPECT_NE(down.find(std::string("\"text\":\"") + k.Text + "\""), std::string::npos) << down;
    else
      EXPECT_EQ(down.find("\"text\""), std::string::npos) << down;
  }
}

TEST(BrowserPlayerLaunch, ArgumentsAndTheirCommandLine) {
  const auto args = BrowserPlayerArgs("C:\\Users\\Jane Doe\\Temp\\{G}\\browser.12");
  auto has = [&](const std::string& A) { return std::find(args.begin(), args.end(), A) != args.end(); };
  EXPECT_TRUE(has("--headless"));
  EXPECT_TRUE(has("--remote-debugging-pipe"));
  EXPECT_TRUE(has("--user-data-dir=C:\\Users\\Jane Doe\\Temp\\{G}\\browser.12"));
  EXPECT_TRUE(has("--host-resolver-rules=MAP * ~NOTFOUND"));
  for (const auto& a : args) EXPECT_EQ(a.find("remote-debugging-port"), std::string::npos) << "no port may listen";
  EXPECT_EQ(QuoteCommandLine({"C:\\Program Files\\Edge\\msedge.exe", "--a=b c", "say \"hi\"", "end\\", ""}),
            R"("C:\Program Files\Edge\msedge.exe" "--a=b c" "say \"hi\"" end\ "")");
  EXPECT_EQ(QuoteCommandLine({"x", "dir with\\"}), R"(x "dir with\\")");
  EXPECT_EQ(QuoteCommandLine({"a \\\"b"}), R"("a \\\"b")");  // a backslash, then a quote
}
