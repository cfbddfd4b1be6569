// The page that hosts the Flash emulator in a browser, for `plws play` and
// for the saver's browser player.
#pragma once
#include <string>

// What the page hands the emulator and how it treats input.
struct TPageConfig {
  std::string Root = "/";  // the path every request starts with: "/<token>/"
  std::string MovieUrl;   // absolute path of the movie
  std::string BaseUrl;    // folder of the movie: relative loads find need files
  std::string FlashVars;  // UTF-8
  bool Preview = false;
  std::string Scale;        // the emulator's "showAll" / "noScale"
  std::string Quality;      // "low" / "high"; empty = the emulator's default
  std::string Background;   // "#RRGGBB"; empty = the movie's own colour
  double FrameRate = 0;     // frames per second instead of the movie's own; 0 = its own
  bool Menu = false;
  bool StopByMouse = true;
  bool StopByKey = true;
  bool ShowCursor = false;
  // Inside the saver: reports go to the binding "plwsReport" (a JSON text),
  // input is the saver's to judge, and "plwsPause(true|false)" pauses and
  // resumes the movie. Otherwise reports go to "<Root>event?...".
  bool Embedded = false;
};

// The page: the emulator over the whole window, loading the movie with the
// configuration; it reports "loaded", "fscommand" (command, args), "error"
// (message) and, judging input by the saver's rules when not embedded, "end".
std::string BuildPlayPage(const TPageConfig& Config);

// The control's properties as the page's values. Scale: "NoScale" (any
// case) is "noScale", anything else, and no scale put at all, shows the
// whole stage. Quality: 0 low, 1 high, 2 automatic from low, 3 automatic
// from high; the emulator has no automatic modes and starts where they
// start; other values keep its default (""). BackgroundColor is 0xRRGGBB;
// a negative value keeps the movie's own colour ("").
std::string PageScaleFor(const std::string& Scale);
std::string PageQualityFor(int Quality);
std::string PageBackgroundFor(int BackgroundColor);
