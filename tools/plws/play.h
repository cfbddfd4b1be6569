// `plws play`: plays the movie of a package in Chromium with the Ruffle
// Flash Player emulator, giving it what the saver gives its player control.
// The decisions are plain functions here, one file each: play_args.cpp,
// play_page.cpp, play_browser.cpp; the page, the requests it makes,
// JSON, base64 and the SWF patch are the browser player's (flash/), shared.
// play_posix.h has the parts that run the processes, the local web server
// and the files.
#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/settings.h"
#include "flash/base64.h"
#include "flash/json.h"
#include "flash/page.h"
#include "flash/swf.h"
#include "flash/request.h"
#include "flash/swf.h"

struct TPlayOptions {
  std::string File;
  bool Preview = false;
  int Width = 0, Height = 0;  // --window WxH; 0 = full screen (or 800x600 headless)
  std::string Screenshot;     // --screenshot PNG: headless, one picture, then end
  double AfterSeconds = 3;    // --after: seconds of play before the picture
};

// Throws EPlwsError (usage) with a message on a bad argument.
TPlayOptions ParsePlayArgs(const std::vector<std::string>& Args);

TPageConfig PageConfigFor(const TPlayerSettings& Settings, bool Preview, const std::string& MovieUrl,
                          const std::string& BaseUrl);

// Package text (ANSI, Shift-JIS here) as UTF-8; ASCII and valid UTF-8 pass
// unchanged, and bytes that decode as neither are read as Latin-1.
std::string AnsiToUtf8(const std::string& Text);

// Whether an FSCommand ends the run: the saver's quit rule (IsQuitCommand),
// in normal mode only.
bool FsCommandEndsRun(const std::string& Command, bool Preview);

// Chromium's command line (without the program) for one run.
struct TBrowserLaunch {
  std::string Url;
  std::string ProfileDir;
  // Kiosk: full screen. Window: an app window of Width x Height. Headless:
  // screenshot runs, driven over --remote-debugging-pipe.
  enum TMode { Kiosk, Window, Headless } Mode = Kiosk;
  int Width = 0, Height = 0;  // 0 = the browser's own choice
  bool NoSandbox = false;     // running as root
};
std::vector<std::string> BrowserArgs(const TBrowserLaunch& Launch);

// Runs `plws play ARGS...`; returns the exit status.
int PlayCommand(const std::vector<std::string>& Args);
