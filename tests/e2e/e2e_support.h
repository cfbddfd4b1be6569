// What the end-to-end driver needs from Linux: starting and ending
// processes (Wine programs among them) by pid, running small tools, looking
// at the X screen, and reading the fake player's log.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

using TEnv = std::map<std::string, std::string>;

// A process this driver started. Its output (stdout and stderr) goes to a
// file; it runs in Cwd (this process's folder when empty). The destructor
// kills it (by its pid) if it still runs.
class TChild {
 public:
  TChild(const std::vector<std::string>& Argv, const TEnv& Env, const std::string& OutputFile,
         const std::string& Cwd = "");
  ~TChild();
  TChild(const TChild&) = delete;
  TChild& operator=(const TChild&) = delete;

  pid_t Pid() const { return FPid; }
  bool Started() const { return FPid > 0; }
  // False once it has ended (its status is kept).
  bool Running();
  // The exit code, or nullopt when it is still running after TimeoutMs. A
  // process ended by a signal gives 128 + the signal number.
  std::optional<int> Wait(int TimeoutMs);
  // Ends it with SIGKILL and collects it.
  void Kill();
  // Asks it to end with SIGTERM (a server then removes its lock files);
  // SIGKILL when it is still running after TimeoutMs.
  void Terminate(int TimeoutMs);
  std::string Output() const;

 private:
  pid_t FPid = -1;
  std::optional<int> FStatus;
  std::string FOutputFile;
};

struct TRunResult {
  bool Finished = false;
  int ExitCode = -1;
  std::string Output;
};
// Runs a program to its end (killed after TimeoutMs).
TRunResult RunProgram(const std::vector<std::string>& Argv, const TEnv& Env = {}, int TimeoutMs = 60000);

// Polls Done every StepMs until it answers true or TimeoutMs have passed.
bool WaitUntil(const std::function<bool()>& Done, int TimeoutMs, int StepMs = 50);
void SleepMs(int Ms);

// Processes whose command line (as /proc shows it) contains Needle; Wine
// shows a Windows program's own command line there.
std::vector<pid_t> ProcessesMatching(const std::string& Needle);
// SIGKILL to each pid in the list.
void KillPids(const std::vector<pid_t>& Pids);

std::string ReadFile(const std::string& Path);
void WriteFile(const std::string& Path, const std::string& Bytes);
// Every path below Dir, relative to it, folders with a trailing "/".
// Skip names a folder (relative, with "/") not to look into.
std::set<std::string> Tree(const std::string& Dir, const std::string& Skip = "");
// The Windows path of a Unix path through Wine's Z: drive.
std::string WinePath(const std::string& UnixPath);

// The X screen as 8-bit RGB.
struct TScreen {
  int Width = 0;
  int Height = 0;
  std::vector<uint8_t> Rgb;
  uint32_t Pixel(int X, int Y) const;  // 0xRRGGBB; 0xFFFFFFFF outside
  // How many pixels of the rectangle have exactly Colour.
  int Count(int Left, int Top, int Right, int Bottom, uint32_t Colour) const;
};
// A shot of the whole root window of Display (ImageMagick's import; $DISPLAY
// when empty); empty on failure. SaveAs keeps a copy (PNG) when not empty.
TScreen Screenshot(const std::string& SaveAs = "", const std::string& Display = "");

// One line of the fake player's log.
struct TFakeEvent {
  long Pid = 0;
  int Instance = 0;
  std::string Name;                 // "put", "load", "msg", ...
  std::vector<std::string> Fields;  // unescaped
  std::string Text;                 // the line without pid and instance
};
std::vector<TFakeEvent> ReadFakeLog(const std::string& Path);
