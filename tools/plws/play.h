// `plws play`: plays the movie of a package in Chromium with the Ruffle
// Flash Player emulator, giving it what the saver gives its player control.
// The decisions are plain functions here, one file each: play_args.cpp,
// play_page.cpp, play_http.cpp (the server's), play_browser.cpp,
// play_swf.cpp, play_json.cpp, play_base64.cpp. play_posix.h has the parts
// that run the processes, the local web server and the files.
#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/catalogue.h"  // LooksLikeSwf
#include "app/settings.h"

struct TPlayOptions {
  std::string File;
  bool Preview = false;
  int Width = 0, Height = 0;  // --window WxH; 0 = full screen (or 800x600 headless)
  std::string Screenshot;     // --screenshot PNG: headless, one picture, then end
  double AfterSeconds = 3;    // --after: seconds of play before the picture
};

// Throws EPlwsError (usage) with a message on a bad argument.
TPlayOptions ParsePlayArgs(const std::vector<std::string>& Args);

// What the page hands Ruffle and how it treats input, from the settings the
// saver would apply in that mode.
struct TPageConfig {
  std::string Root = "/";  // the path every request starts with: "/<token>/"
  std::string MovieUrl;   // absolute path on the local server
  std::string BaseUrl;    // folder of the movie: relative loads find need files
  std::string FlashVars;  // UTF-8
  bool Preview = false;
  bool Loop = false;
  std::string Scale;        // Ruffle's "showAll" / "noScale"
  std::string Quality;      // Ruffle's "low" / "high"; empty = Ruffle's default
  std::string Background;   // "#RRGGBB"; empty = the movie's own colour
  bool Menu = false;
  bool StopByMouse = true;
  bool StopByKey = true;
  bool ShowCursor = false;
};

TPageConfig PageConfigFor(const TPlayerSettings& Settings, bool Preview, const std::string& MovieUrl,
                          const std::string& BaseUrl);

// The page: Ruffle over the whole window, FSCommands and the end of the run
// reported to the server at /event, input judged by the saver's rules.
std::string BuildPlayPage(const TPageConfig& Config);

// A JSON string literal that is safe inside an HTML <script>: only ASCII,
// with <, > and & escaped. Text is UTF-8; bad sequences become U+FFFD.
std::string JsonString(const std::string& Text);

// Package text (ANSI, Shift-JIS here) as UTF-8; ASCII and valid UTF-8 pass
// unchanged, and bytes that decode as neither are read as Latin-1.
std::string AnsiToUtf8(const std::string& Text);

// The Content-Type of a served file, by its extension.
std::string MimeTypeFor(const std::string& Path);

// A request target split for the server. Kind says which route it names;
// Segments are the percent-decoded path segments after the route prefix.
struct TRequestTarget {
  enum TKind { Page, Event, Ruffle, Movie, NotFound, Bad } Kind = NotFound;
  std::vector<std::string> Segments;
  std::map<std::string, std::string> Query;  // decoded query parameters
};
// "/" the page, "/event?..." a report, "/ruffle/<file>" the player's files,
// "/m/<seg>/..." the extracted files. Any segment that is empty, "." or
// "..", or that holds "/", "\" or NUL once decoded, makes the target Bad.
TRequestTarget ParseRequestTarget(const std::string& Target);

// The server answers only requests whose path starts with "/<Token>/", the
// random token of the run, so another local user can neither fetch the
// movie nor report the end. The target with that prefix cut to "/", or
// nullopt when it does not carry the token.
std::optional<std::string> StripRunToken(const std::string& Target, const std::string& Token);

std::string PercentDecode(const std::string& Text, bool& Ok);
std::string PercentEncodeSegment(const std::string& Text);

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

// SWF movies: Flash stops a movie at its last frame when Loop is off, Ruffle
// always loops. The movie with a stop action at the start of its last frame
// does what Loop off does; nullopt when the movie cannot take one (not a
// SWF, LZMA-compressed, damaged, or ActionScript 3, which ignores it).
std::optional<std::vector<uint8_t>> SwfStopAtLastFrame(const std::vector<uint8_t>& Swf);

// A little JSON for the DevTools messages of a screenshot run.
struct TJson {
  enum TKind { Null, Bool, Number, String, Array, Object } Kind = Null;
  bool BoolValue = false;
  double NumberValue = 0;
  std::string StringValue;
  std::vector<TJson> Items;
  std::vector<std::pair<std::string, TJson>> Members;
  // The member Key of an object, or null.
  const TJson* Get(const std::string& Key) const;
};
// Nullopt when Text is not one complete JSON value.
std::optional<TJson> ParseJson(const std::string& Text);
// Nullopt on a character outside the base64 alphabet or a bad length.
std::optional<std::vector<uint8_t>> Base64Decode(const std::string& Text);

// Runs `plws play ARGS...`; returns the exit status.
int PlayCommand(const std::vector<std::string>& Args);
