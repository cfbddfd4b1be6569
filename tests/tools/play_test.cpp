// The decisions of `plws play` and the movies of swfgen, without a browser.
#include <gtest/gtest.h>

#include <algorithm>

#include "package/writer.h"
#include "package/zlibex.h"
#include "tests/doubles/fakeplayer/fake_movie.h"
#include "tools/plws/play.h"
#include "tools/plws/plws.h"
#include "tools/swfgen/swf_writer.h"

namespace {

struct TTag {
  uint16_t Code;
  size_t Offset;  // of the tag header
  std::vector<uint8_t> Body;
};

// The top-level tags of an uncompressed SWF; fails the test on a bad layout.
std::vector<TTag> Tags(const std::vector<uint8_t>& Swf, uint16_t* FrameCount = nullptr) {
  std::vector<TTag> tags;
  EXPECT_GE(Swf.size(), 12u);
  if (Swf.size() < 12) return tags;
  EXPECT_EQ(std::string(Swf.begin(), Swf.begin() + 3), "FWS");
  const uint32_t length = Swf[4] | Swf[5] << 8 | Swf[6] << 16 | static_cast<uint32_t>(Swf[7]) << 24;
  EXPECT_EQ(length, Swf.size());
  size_t pos = 8 + (5 + 4 * (Swf[8] >> 3) + 7) / 8;
  if (FrameCount) *FrameCount = static_cast<uint16_t>(Swf[pos + 2] | Swf[pos + 3] << 8);
  pos += 4;
  while (pos + 2 <= Swf.size()) {
    TTag t{static_cast<uint16_t>((Swf[pos] | Swf[pos + 1] << 8) >> 6), pos, {}};
    size_t len = (Swf[pos] | Swf[pos + 1] << 8) & 0x3F;
    pos += 2;
    if (len == 0x3F) {
      len = Swf[pos] | Swf[pos + 1] << 8 | Swf[pos + 2] << 16 | static_cast<size_t>(Swf[pos + 3]) << 24;
      pos += 4;
    }
    EXPECT_LE(pos + len, Swf.size());
    if (pos + len > Swf.size()) break;
    t.Body.assign(Swf.begin() + static_cast<std::ptrdiff_t>(pos), Swf.begin() + static_cast<std::ptrdiff_t>(pos + len));
    tags.push_back(t);
    pos += len;
    if (t.Code == 0) break;
  }
  EXPECT_EQ(pos, Swf.size()) << "bytes after the End tag";
  EXPECT_TRUE(!tags.empty() && tags.back().Code == 0) << "no End tag";
  return tags;
}

std::string Text(const std::vector<uint8_t>& B) { return std::string(B.begin(), B.end()); }

size_t CountCode(const std::vector<TTag>& Tags, uint16_t Code) {
  return static_cast<size_t>(std::count_if(Tags.begin(), Tags.end(), [&](const TTag& t) { return t.Code == Code; }));
}

}  // namespace

TEST(Swfgen, MoviesAreWellFormed) {
  TSwfMovieOptions o;
  o.Frames = 5;
  o.Background = 0x123456;
  o.QuitAfterFrames = 7;  // lengthens the movie
  o.QuitCommand = "QUIT";
  o.EchoVariables = {"a", "plumexmode"};
  o.ReportFrames = true;
  o.LoadMovie = "parts/over.swf";
  uint16_t frameCount = 0;
  const auto swf = BuildSwfMovie(o);
  const auto tags = Tags(swf, &frameCount);
  EXPECT_EQ(swf[3], 6);  // version
  EXPECT_EQ(frameCount, 7);
  EXPECT_EQ(CountCode(tags, 1), 7u);   // ShowFrame
  EXPECT_EQ(CountCode(tags, 26), 7u);  // PlaceObject2: the square moves every frame
  EXPECT_EQ(CountCode(tags, 12), 7u);  // DoAction: a frame report in each
  ASSERT_EQ(tags[0].Code, 9);          // SetBackgroundColor
  EXPECT_EQ(tags[0].Body, (std::vector<uint8_t>{0x12, 0x34, 0x56}));
  const std::string all = Text(swf);
  EXPECT_NE(all.find(std::string("FSCommand:QUIT\0\0", 16)), std::string::npos);
  EXPECT_NE(all.find(std::string("FSCommand:frame\0" "7\0", 18)), std::string::npos);
  EXPECT_NE(all.find(std::string("FSCommand:echo\0", 15)), std::string::npos);
  EXPECT_NE(all.find(std::string("&plumexmode=\0", 13)), std::string::npos);
  // loadMovieNum("parts/over.swf", 1) in frame 1 only: a GetURL action (0x83)
  // whose target is the level.
  const std::string load = std::string("\x83\x17\x00", 3) + std::string("parts/over.swf\0_level1\0", 23);
  ASSERT_NE(all.find(load), std::string::npos);
  EXPECT_EQ(all.find(load, all.find(load) + 1), std::string::npos);
  EXPECT_LT(all.find(load), all.find(std::string("FSCommand:frame\0" "2\0", 18)));

  // A plain movie has no actions at all.
  const auto plain = Tags(BuildSwfMovie(TSwfMovieOptions{}));
  EXPECT_EQ(CountCode(plain, 12), 0u);
  EXPECT_EQ(CountCode(plain, 1), 60u);
}

TEST(Swfgen, TheFakePlayerFindsTheQuitCommand) {
  // The Windows tests' stand-in player reads the first FSCommand from the
  // movie's bytes: a quit movie of ours must show it as the real player would.
  TSwfMovieOptions o;
  o.QuitAfterFrames = 90;
  const auto swf = BuildSwfMovie(o);
  const auto found = FindFSCommand(std::string_view(reinterpret_cast<const char*>(swf.data()), swf.size()));
  ASSERT_TRUE(found);
  EXPECT_EQ(found->Command, "quit");
  EXPECT_EQ(found->Args, "");
}

TEST(Swfgen, CommandLine) {
  const auto c = ParseSwfgenArgs({"--out", "m.swf", "--size", "640x480", "--fps", "12", "--frames", "24",
                                  "--bg", "#402000", "--shape", "ffcc00", "--quit-after-frames", "48",
                                  "--echo-flashvars", "a,,plumexmode", "--report-frames", "--load-movie", "over.swf",
                                  "--echo-every-frame"});
  EXPECT_EQ(c.Out, "m.swf");
  EXPECT_EQ(c.Movie.Width, 640);
  EXPECT_EQ(c.Movie.Height, 480);
  EXPECT_EQ(c.Movie.FramesPerSecond, 12);
  EXPECT_EQ(c.Movie.Frames, 24);
  EXPECT_EQ(c.Movie.Background, 0x402000u);
  EXPECT_EQ(c.Movie.ShapeColor, 0xFFCC00u);
  EXPECT_EQ(c.Movie.QuitAfterFrames, 48);
  EXPECT_EQ(c.Movie.EchoVariables, (std::vector<std::string>{"a", "plumexmode"}));
  EXPECT_TRUE(c.Movie.ReportFrames);
  EXPECT_TRUE(c.Movie.EchoEveryFrame);
  EXPECT_EQ(c.Movie.LoadMovie, "over.swf");
  for (const auto& bad : std::vector<std::vector<std::string>>{
           {}, {"--out"}, {"--out", "x", "--bg", "12345"}, {"--out", "x", "--size", "10"},
           {"--out", "x", "--quit-after-frames", "0"}, {"--out", "x", "--what"}, {"--out", "x", "--load-movie", ""}})
    EXPECT_THROW(ParseSwfgenArgs(bad), std::invalid_argument);
  TSwfMovieOptions o;
  o.FramesPerSecond = 0;
  EXPECT_THROW(BuildSwfMovie(o), std::invalid_argument);
}

TEST(SwfStopAtLastFrame, StopsAtTheStartOfTheLastFrame) {
  TSwfMovieOptions o;
  o.Frames = 3;
  o.ReportFrames = true;
  const auto swf = BuildSwfMovie(o);
  const auto once = SwfStopAtLastFrame(swf);
  ASSERT_TRUE(once);
  const auto before = Tags(swf), after = Tags(*once);
  ASSERT_EQ(after.size(), before.size() + 1);
  // The stop action comes right after the second ShowFrame, before the
  // last frame's own tags.
  size_t shows = 0, at = 0;
  for (size_t i = 0; i < after.size() && !at; ++i)
    if (after[i].Code == 1 && ++shows == 2) at = i + 1;
  ASSERT_GT(at, 0u);
  EXPECT_EQ(after[at].Code, 12);
  EXPECT_EQ(after[at].Body, (std::vector<uint8_t>{0x07, 0x00}));

  // A compressed movie comes back uncompressed with the same insertion.
  std::vector<uint8_t> cws(swf.begin(), swf.begin() + 8);
  cws[0] = 'C';
  const auto packed = CompressBuffer(swf.data() + 8, swf.size() - 8);
  cws.insert(cws.end(), packed.begin(), packed.end());
  EXPECT_EQ(SwfStopAtLastFrame(cws), once);

  // A single-frame movie keeps FileAttributes as its first tag.
  std::vector<uint8_t> single = {'F', 'W', 'S', 8, 0, 0, 0, 0, 0x00, 0, 12, 1, 0,
                                 0x44, 0x11, 0, 0, 0, 0,  // FileAttributes, 4 bytes, no AS3
                                 0x40, 0x00,              // ShowFrame
                                 0x00, 0x00};             // End
  single[4] = static_cast<uint8_t>(single.size());
  const auto stopped = SwfStopAtLastFrame(single);
  ASSERT_TRUE(stopped);
  const auto st = Tags(*stopped);
  ASSERT_EQ(st.size(), 4u);
  EXPECT_EQ(st[0].Code, 69);
  EXPECT_EQ(st[1].Code, 12);
}

TEST(SwfInfo, StageAndBackgroundOfPlainAndCompressedMovies) {
  TSwfMovieOptions o;
  o.Width = 640;
  o.Height = 480;
  o.Background = 0x402000;
  const auto swf = BuildSwfMovie(o);
  const auto info = ReadSwfInfo(swf);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->Width, 640);
  EXPECT_EQ(info->Height, 480);
  EXPECT_EQ(info->Background, 0x402000);
  std::vector<uint8_t> cws(swf.begin(), swf.begin() + 8);
  cws[0] = 'C';
  const auto packed = CompressBuffer(swf.data() + 8, swf.size() - 8);
  cws.insert(cws.end(), packed.begin(), packed.end());
  const auto again = ReadSwfInfo(cws);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->Width, 640);
  EXPECT_EQ(again->Background, 0x402000);
  // No background before the first frame: the movie's colour is unknown.
  std::vector<uint8_t> bare = {'F', 'W', 'S', 6, 0, 0, 0, 0, 0x00, 0, 12, 1, 0, 0x40, 0x00, 0x00, 0x00};
  bare[4] = static_cast<uint8_t>(bare.size());
  const auto none = ReadSwfInfo(bare);
  ASSERT_TRUE(none);
  EXPECT_EQ(none->Background, -1);
  EXPECT_EQ(none->Width, 0);
  auto zws = swf;
  zws[0] = 'Z';
  EXPECT_FALSE(ReadSwfInfo(zws));
  EXPECT_FALSE(ReadSwfInfo(std::vector<uint8_t>(swf.begin(), swf.begin() + 8)));
}

TEST(SwfStopAtLastFrame, RefusesWhatItCannotChange) {
  const auto swf = BuildSwfMovie(TSwfMovieOptions{});
  EXPECT_FALSE(SwfStopAtLastFrame({}));
  EXPECT_FALSE(SwfStopAtLastFrame({'G', 'I', 'F', '8', '9', 'a', 0, 0, 0}));
  auto zws = swf;
  zws[0] = 'Z';
  EXPECT_FALSE(SwfStopAtLastFrame(zws));
  EXPECT_FALSE(SwfStopAtLastFrame(std::vector<uint8_t>(swf.begin(), swf.begin() + swf.size() / 2)));
  auto corrupt = swf;
  corrupt[0] = 'C';
  EXPECT_FALSE(SwfStopAtLastFrame(corrupt));
  std::vector<uint8_t> as3 = {'F', 'W', 'S', 9, 0, 0, 0, 0, 0x00, 0, 12, 1, 0,
                              0x44, 0x11, 0x08, 0, 0, 0, 0x40, 0x00, 0x40, 0x00, 0x00, 0x00};
  EXPECT_FALSE(SwfStopAtLastFrame(as3));
  EXPECT_TRUE(LooksLikeSwf(swf.data(), static_cast<int32_t>(swf.size())));
  EXPECT_FALSE(LooksLikeSwf(swf.data(), 7));
}

TEST(PlayArgs, OptionsAndMistakes) {
  TPlayOptions o = ParsePlayArgs({"x.scr", "--preview", "--window", "320x200", "--screenshot", "s.png",
                                  "--after", "1.5"});
  EXPECT_EQ(o.File, "x.scr");
  EXPECT_TRUE(o.Preview);
  EXPECT_EQ(o.Width, 320);
  EXPECT_EQ(o.Height, 200);
  EXPECT_EQ(o.Screenshot, "s.png");
  EXPECT_DOUBLE_EQ(o.AfterSeconds, 1.5);
  o = ParsePlayArgs({"x.scr"});
  EXPECT_FALSE(o.Preview);
  EXPECT_EQ(o.Width, 0);
  EXPECT_TRUE(o.Screenshot.empty());
  for (const auto& bad : std::vector<std::vector<std::string>>{
           {}, {"a", "b"}, {"x", "--window", "320"}, {"x", "--window", "8x8"}, {"x", "--window", "10x20x"},
           {"x", "--after", "2"}, {"x", "--screenshot", "s", "--after", "-1"}, {"x", "--screenshot"},
           {"x", "--fast"}})
    EXPECT_THROW(ParsePlayArgs(bad), EPlwsError);
}

TEST(RequestTarget, RoutesAndTraversal) {
  auto t = ParseRequestTarget("/");
  EXPECT_EQ(t.Kind, TRequestTarget::Page);
  t = ParseRequestTarget("/event?kind=fscommand&command=echo&args=a%3D1%26b%3D2+c");
  EXPECT_EQ(t.Kind, TRequestTarget::Event);
  EXPECT_EQ(t.Query["kind"], "fscommand");
  EXPECT_EQ(t.Query["args"], "a=1&b=2 c");
  t = ParseRequestTarget("/ruffle/core.ruffle.js");
  EXPECT_EQ(t.Kind, TRequestTarget::Ruffle);
  EXPECT_EQ(t.Segments, (std::vector<std::string>{"core.ruffle.js"}));
  t = ParseRequestTarget("/m/%7BG%7D/a%20b.swf?x=1");
  EXPECT_EQ(t.Kind, TRequestTarget::Movie);
  EXPECT_EQ(t.Segments, (std::vector<std::string>{"{G}", "a b.swf"}));
  EXPECT_EQ(ParseRequestTarget("/favicon.ico").Kind, TRequestTarget::NotFound);
  EXPECT_EQ(ParseRequestTarget("/ruffle/sub/x.js").Kind, TRequestTarget::NotFound);
  for (const char* bad : {"/m/../x", "/m/%2e%2e/x", "/m/%2E%2E", "/m/a/./b", "/m//x", "/m/a%2Fb", "/m/a%5Cb",
                          "/m/a%00b", "/m/%zz", "/m/", "/ruffle/..", "/ruffle/%2e%2e%2fx", "x", "",
                          "/event?kind=%4", "http://example.com/"})
    EXPECT_EQ(ParseRequestTarget(bad).Kind, TRequestTarget::Bad) << bad;
  EXPECT_EQ(PercentEncodeSegment("{G} a/b%"), "%7BG%7D%20a%2Fb%25");
}

TEST(RequestTarget, OnlyPathsWithTheRunTokenReachTheRoutes) {
  const std::string token = "9f86d081884c7d659a2feaa0c55ad015";
  EXPECT_EQ(StripRunToken("/" + token + "/", token), std::optional<std::string>("/"));
  EXPECT_EQ(StripRunToken("/" + token + "/event?kind=end", token), std::optional<std::string>("/event?kind=end"));
  EXPECT_EQ(StripRunToken("/" + token + "/m/G/x.swf", token), std::optional<std::string>("/m/G/x.swf"));
  std::string wrong = token;
  wrong.back() = '6';
  for (const std::string& t : {std::string("/"), std::string("/event?kind=end"), "/" + token, "/" + token + "x/",
                               "/" + wrong + "/", "//" + token + "/", token + "/", "/" + token.substr(1) + "/",
                               "/" + token.substr(0, 31) + "//", std::string()})
    EXPECT_FALSE(StripRunToken(t, token)) << t;
  EXPECT_FALSE(StripRunToken("//", ""));  // no token, no way in
}

TEST(MimeTypes, ByExtension) {
  EXPECT_EQ(MimeTypeFor("/r/x.wasm"), "application/wasm");
  EXPECT_EQ(MimeTypeFor("/r/ruffle.js"), "text/javascript");
  EXPECT_EQ(MimeTypeFor("/m/G/MOVIE.SWF"), "application/x-shockwave-flash");
  EXPECT_EQ(MimeTypeFor("/m/G/data.xml"), "text/xml");
  EXPECT_EQ(MimeTypeFor("/m/G.d/noext"), "application/octet-stream");
  EXPECT_EQ(MimeTypeFor("/m/G/x.unknown"), "application/octet-stream");
}

TEST(FsCommands, QuitInAnyCaseEndsOnlyTheNormalMode) {
  for (const char* quit : {"quit", "QUIT", "Quit", "qUiT"}) {
    EXPECT_TRUE(FsCommandEndsRun(quit, false)) << quit;
    EXPECT_FALSE(FsCommandEndsRun(quit, true)) << quit;
  }
  for (const char* other : {"quit ", " quit", "quit2", "exit", "", "echo"})
    EXPECT_FALSE(FsCommandEndsRun(other, false)) << other;
}

TEST(PageConfig, WhatTheSaverWouldGive) {
  TPlayerSettings s;
  s.FlashVars = "a=1";
  s.Scale = "NoScale";
  s.Quality = 1;
  s.BackColor = 0x402000;
  TPageConfig c = PageConfigFor(s, false, "/m/G/G.swf", "/m/G/");
  EXPECT_EQ(c.FlashVars, "a=1&plumexmode=normal");
  EXPECT_EQ(c.Scale, "noScale");
  EXPECT_EQ(c.Quality, "high");
  EXPECT_EQ(c.Background, "#402000");
  EXPECT_TRUE(c.StopByMouse);
  EXPECT_TRUE(c.StopByKey);
  EXPECT_FALSE(c.ShowCursor);  // full screen hides the pointer by default
  EXPECT_FALSE(c.Menu);

  // In preview the scale is never set: the player shows the whole stage.
  c = PageConfigFor(s, true, "/m/x", "/m/");
  EXPECT_EQ(c.FlashVars, "a=1&plumexmode=preview");
  EXPECT_EQ(c.Scale, "showAll");
  EXPECT_TRUE(c.ShowCursor);

  s.FlashVars.clear();
  s.Scale = "ShowAll";
  s.Quality = 0;
  s.BackColor = -1;
  s.StopByMouse = false;
  s.StopByKey = false;
  s.ShowMouseCursor = true;
  s.Menu = true;
  c = PageConfigFor(s, false, "/m/x", "/m/");
  EXPECT_EQ(c.FlashVars, "plumexmode=normal");
  EXPECT_EQ(c.Scale, "showAll");
  EXPECT_EQ(c.Quality, "low");
  EXPECT_EQ(c.Background, "");  // -1: the movie's own colour
  EXPECT_FALSE(c.StopByMouse);
  EXPECT_FALSE(c.StopByKey);
  EXPECT_TRUE(c.ShowCursor);
  EXPECT_TRUE(c.Menu);
  s.Quality = 7;
  s.BackColor = 0x7F00FF00;
  c = PageConfigFor(s, false, "/m/x", "/m/");
  EXPECT_EQ(c.Quality, "");
  EXPECT_EQ(c.Background, "#00FF00");

  // Shift-JIS FlashVars reach the page as UTF-8.
  s.FlashVars = "t=\x95\x5C";
  EXPECT_EQ(PageConfigFor(s, false, "", "").FlashVars, "t=\xE8\xA1\xA8&plumexmode=normal");
}

TEST(PageText, JsonAndTheScriptItLivesIn) {
  EXPECT_EQ(JsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(JsonString("</script><!--&"), "\"\\u003c/script\\u003e\\u003c!--\\u0026\"");
  EXPECT_EQ(JsonString("\x01\n"), "\"\\u0001\\n\"");
  EXPECT_EQ(JsonString("\xE8\xA1\xA8"), "\"\\u8868\"");
  EXPECT_EQ(JsonString("\xF0\x9F\x98\x80"), "\"\\ud83d\\ude00\"");
  EXPECT_EQ(JsonString("\xFF\xC0\x80"), "\"\\ufffd\\ufffd\\ufffd\"");  // bad and overlong bytes
  for (const std::string& s : {std::string("a=1&b=\xE8\xA1\xA8"), std::string("q\"</script>\n\xF0\x9F\x98\x80")}) {
    const auto back = ParseJson(JsonString(s));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->StringValue, s);
  }

  TPageConfig c;
  c.MovieUrl = "/m/G/G.swf";
  c.FlashVars = "x=</script><script>alert(1)</script>";
  const std::string page = BuildPlayPage(c);
  EXPECT_EQ(page.find("alert(1)</script>"), std::string::npos);
  EXPECT_NE(page.find("\"movie\":\"/m/G/G.swf\""), std::string::npos);
  EXPECT_NE(page.find("allowScriptAccess: true"), std::string::npos);
  EXPECT_NE(page.find("addFSCommandHandler"), std::string::npos);
  // Every address the page uses starts with the run's root.
  c.Root = "/0123abcd/";
  const std::string rooted = BuildPlayPage(c);
  EXPECT_NE(rooted.find("<script src=\"/0123abcd/ruffle/ruffle.js\">"), std::string::npos);
  EXPECT_NE(rooted.find("\"root\":\"/0123abcd/\""), std::string::npos);
  EXPECT_NE(rooted.find("fetch(cfg.root + \"event?\""), std::string::npos);
  EXPECT_NE(rooted.find("publicPath: cfg.root + \"ruffle/\""), std::string::npos);
  EXPECT_EQ(rooted.find("\"/ruffle/"), std::string::npos);

  EXPECT_EQ(AnsiToUtf8("plain"), "plain");
  EXPECT_EQ(AnsiToUtf8("\xE8\xA1\xA8"), "\xE8\xA1\xA8");  // already UTF-8
  EXPECT_EQ(AnsiToUtf8("\x95\x5C"), "\xE8\xA1\xA8");      // Shift-JIS
  EXPECT_EQ(AnsiToUtf8("\xFF"), "\xC3\xBF");              // neither: Latin-1
}

TEST(Json, ParsesWhatTheBrowserSends) {
  const auto j = ParseJson(R"( {"id":3,"result":{"data":"iVBO","list":[1,true,null,"x\u00e9\ud83d\ude00"]},"sessionId":"S"} )");
  ASSERT_TRUE(j);
  ASSERT_TRUE(j->Get("id"));
  EXPECT_EQ(j->Get("id")->NumberValue, 3);
  const TJson* result = j->Get("result");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->Get("data")->StringValue, "iVBO");
  const TJson* list = result->Get("list");
  ASSERT_EQ(list->Items.size(), 4u);
  EXPECT_TRUE(list->Items[1].BoolValue);
  EXPECT_EQ(list->Items[2].Kind, TJson::Null);
  EXPECT_EQ(list->Items[3].StringValue, "x\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(j->Get("missing"), nullptr);
  for (const char* bad : {"", "{", "{\"a\":}", "[1,]", "\"abc", "{\"a\":1} x", "tru", "\"\\q\""})
    EXPECT_FALSE(ParseJson(bad)) << bad;
  EXPECT_FALSE(ParseJson(std::string(100, '[') + std::string(100, ']')));  // too deep

  EXPECT_EQ(Base64Decode("TWFu"), (std::vector<uint8_t>{'M', 'a', 'n'}));
  EXPECT_EQ(Base64Decode("TWE="), (std::vector<uint8_t>{'M', 'a'}));
  EXPECT_EQ(Base64Decode("TQ=="), (std::vector<uint8_t>{'M'}));
  EXPECT_EQ(Base64Decode(""), std::vector<uint8_t>{});
  for (const char* bad : {"TWF", "TW=u", "T!Fu", "TQ==TWFu", "===="}) EXPECT_FALSE(Base64Decode(bad)) << bad;
}

TEST(BrowserArgs, LocalOnlyAndTheRightMode) {
  TBrowserLaunch l;
  l.Url = "http://127.0.0.1:5/";
  l.ProfileDir = "/p";
  auto has = [](const std::vector<std::string>& a, const std::string& s) {
    return std::find(a.begin(), a.end(), s) != a.end();
  };
  auto a = BrowserArgs(l);
  EXPECT_TRUE(has(a, "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1"));
  for (const char* flag : {"--disable-background-networking", "--disable-component-update", "--disable-sync",
                           "--no-first-run", "--user-data-dir=/p", "--window-position=0,0", "--kiosk"})
    EXPECT_TRUE(has(a, flag)) << flag;
  EXPECT_FALSE(has(a, "--no-sandbox"));
  EXPECT_EQ(a.back(), l.Url);

  l.Mode = TBrowserLaunch::Window;
  l.Width = 320;
  l.Height = 240;
  l.NoSandbox = true;
  a = BrowserArgs(l);
  EXPECT_TRUE(has(a, "--no-sandbox"));
  EXPECT_TRUE(has(a, "--app=" + l.Url));
  EXPECT_TRUE(has(a, "--window-size=320,240"));
  EXPECT_FALSE(has(a, "--kiosk"));

  l.Mode = TBrowserLaunch::Headless;
  a = BrowserArgs(l);
  EXPECT_TRUE(has(a, "--headless"));
  EXPECT_TRUE(has(a, "--remote-debugging-pipe"));
  EXPECT_EQ(a.back(), "about:blank");
}
