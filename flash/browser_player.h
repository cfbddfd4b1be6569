// The browser player's decisions, portable and tested natively: how the
// DevTools pipe's bytes become messages, where the page's pixels go in the
// player's window and where a click there lands in the page, which keys the
// page gets, and the browser's command line.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "flash/json.h"

// The DevTools pipe carries JSON texts, each ended by a NUL byte. Bytes go
// in as they arrive; whole messages come out. A message longer than Limit
// (the browser never sends one; a screencast frame of a 4K page is a few
// MB) puts the reader in a failed state: the connection is not to be
// trusted any more.
class TDevToolsFramer {
 public:
  explicit TDevToolsFramer(size_t Limit = size_t{256} << 20) : FLimit(Limit) {}
  // False once failed.
  bool Append(const char* Data, size_t Size);
  // The next complete message, or nullopt.
  std::optional<std::string> Next();
  bool Failed() const { return FFailed; }

 private:
  std::string FBuffer;
  size_t FScanned = 0;  // no NUL before this offset of FBuffer
  size_t FLimit;
  bool FFailed = false;
};

// One message of the protocol: an answer (Id set, Result or Error) or an
// event (Method and Params), for the browser or for one page's session.
struct TDevToolsMessage {
  std::optional<int64_t> Id;
  std::string Method;
  std::string SessionId;
  TJson Params;  // an event's parameters, or an answer's result
  std::optional<std::string> Error;  // an answer's error message
};
// Nullopt when Text is no JSON object, or has neither a whole-number id nor
// a method.
std::optional<TDevToolsMessage> ReadDevToolsMessage(const std::string& Text);

// A command for the browser: {"id":Id,"method":Method,"params":Params,
// "sessionId":Session}; Params is a JSON object text (empty: none).
std::string DevToolsCommand(int64_t Id, const std::string& Method, const std::string& Params,
                            const std::string& Session);

// A rectangle in the player's window.
struct TFrameRect {
  int Left = 0, Top = 0, Width = 0, Height = 0;
  bool operator==(const TFrameRect&) const = default;
};

// The page's size for a movie whose stage is StageW x StageH in a window of
// WndW x WndH: the stage itself, shrunk with its proportions kept where it
// does not fit the window (never larger than the window: the emulator's
// cost grows with the page), at least 1 x 1. Without a known stage, the
// window. With ShowAll off (no scale) and a stage larger than the window,
// the window: the movie is cut, not shrunk.
void PageSizeFor(int StageW, int StageH, int WndW, int WndH, bool ShowAll, int& PageW, int& PageH);

// Where a frame of the page goes in the window: ShowAll scales it with its
// proportions kept to fit the window, centred (bars on two sides); without
// it the frame keeps its size, centred.
TFrameRect FitFrame(int FrameW, int FrameH, int WndW, int WndH, bool ShowAll);

// The frame rate for a movie of MovieRate frames per second whose owner
// lets at least MinGapMs pass between two of its timer messages (a
// throttled preview; 0: no gap): the control advances a frame at most once a
// timer message, so the emulator runs at one frame a gap at the most. 0 (the
// movie's own) when that is no limit: no gap, an unknown rate, or a movie
// no faster.
double FrameRateWithin(double MovieRate, unsigned MinGapMs);

// The page point under the window point X, Y for a frame drawn at Fit from
// a page of PageW x PageH; points outside the frame are clamped to its edge.
void WindowToPage(const TFrameRect& Fit, int PageW, int PageH, int X, int Y, double& PageX, double& PageY);

// The parameters of Input.dispatchKeyEvent for a virtual key (Windows
// numbering) going down or up: its key and code names as the page sees
// them, and the text a printable key types. Empty for a key we do not map.
std::string KeyEventParams(unsigned VirtualKey, bool Down, bool Shift);

// The arguments every browser we start gets: none of the browser's own
// services (updates, sync, extensions, crash reports, first-run pages), no
// dialogs, no GPU (the emulator's canvas renderer needs none), and sound
// that starts without a gesture.
std::vector<std::string> QuietBrowserArgs();

// The browser's arguments for the saver's player: headless, the DevTools
// protocol on the pipe (descriptors 3 and 4), the profile in ProfileDir,
// every host name resolving to nothing, no first run, extensions, sync,
// crash reports or background traffic.
std::vector<std::string> BrowserPlayerArgs(const std::string& ProfileDir);

// A Windows command line from arguments, each quoted as the C runtime
// splits it again (backslashes doubled only before a quote).
std::string QuoteCommandLine(const std::vector<std::string>& Args);
