#include "tests/e2e/e2e_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/doubles/fakeplayer/fake_movie.h"
#include "util/raii_posix.h"

extern char** environ;

namespace {

int StatusToCode(int Status) {
  if (WIFEXITED(Status)) return WEXITSTATUS(Status);
  if (WIFSIGNALED(Status)) return 128 + WTERMSIG(Status);
  return -1;
}

std::string TempOutputFile() {
  char name[] = "/tmp/pl-e2e-run-XXXXXX";
  const TUniqueFd made(mkstemp(name));  // only the name is wanted
  return name;
}

}  // namespace

TChild::TChild(const std::vector<std::string>& Argv, const TEnv& Env, const std::string& OutputFile,
               const std::string& Cwd)
    : FOutputFile(OutputFile) {
  std::vector<std::string> envStrings;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const std::string key = entry.substr(0, entry.find('='));
    if (!Env.count(key)) envStrings.push_back(entry);
  }
  for (const auto& [k, v] : Env) envStrings.push_back(k + "=" + v);
  std::vector<char*> envp;
  for (auto& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = Argv;
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, FOutputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  if (!Cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, Cwd.c_str());
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0) FPid = pid;
  posix_spawn_file_actions_destroy(&actions);
}

TChild::~TChild() {
  if (Started() && Running()) Kill();
}

bool TChild::Running() {
  if (!Started() || FStatus) return false;
  int status = 0;
  const pid_t r = waitpid(FPid, &status, WNOHANG);
  if (r == FPid) {
    FStatus = StatusToCode(status);
    return false;
  }
  return r == 0;
}

std::optional<int> TChild::Wait(int TimeoutMs) {
  WaitUntil([this] { return !Running(); }, TimeoutMs, 20);
  return FStatus;
}

void TChild::Kill() {
  if (!Started() || FStatus) return;
  kill(FPid, SIGKILL);
  int status = 0;
  if (waitpid(FPid, &status, 0) == FPid) FStatus = StatusToCode(status);
}

void TChild::Terminate(int TimeoutMs) {
  if (!Started() || !Running()) return;
  kill(FPid, SIGTERM);
  if (!Wait(TimeoutMs)) Kill();
}

std::string TChild::Output() const { return ReadFile(FOutputFile); }

TRunResult RunProgram(const std::vector<std::string>& Argv, const TEnv& Env, int TimeoutMs) {
  const std::string out = TempOutputFile();
  TRunResult r;
  {
    TChild child(Argv, Env, out);
    const auto code = child.Wait(TimeoutMs);
    r.Finished = code.has_value();
    r.ExitCode = code.value_or(-1);
  }
  r.Output = ReadFile(out);
  std::remove(out.c_str());
  return r;
}

bool WaitUntil(const std::function<bool()>& Done, int TimeoutMs, int StepMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
  for (;;) {
    if (Done()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    SleepMs(StepMs);
  }
}

void SleepMs(int Ms) { std::this_thread::sleep_for(std::chrono::milliseconds(Ms)); }

std::vector<pid_t> ProcessesMatching(const std::string& Needle) {
  std::vector<pid_t> out;
  const TUniqueDir proc(opendir("/proc"));
  if (!proc) return out;
  while (dirent* e = readdir(proc.Get())) {
    char* end = nullptr;
    const long pid = std::strtol(e->d_name, &end, 10);
    if (*end != '\0' || pid <= 0 || pid == getpid()) continue;
    std::string cmdline = ReadFile("/proc/" + std::string(e->d_name) + "/cmdline");
    for (char& c : cmdline)
      if (c == '\0') c = ' ';
    if (cmdline.find(Needle) != std::string::npos) out.push_back(static_cast<pid_t>(pid));
  }
  return out;
}

void KillPids(const std::vector<pid_t>& Pids) {
  for (pid_t p : Pids) kill(p, SIGKILL);
}

std::string ReadFile(const std::string& Path) {
  std::ifstream f(Path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void WriteFile(const std::string& Path, const std::string& Bytes) {
  std::ofstream f(Path, std::ios::binary | std::ios::trunc);
  f.write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
}

std::set<std::string> Tree(const std::string& Dir, const std::string& Skip) {
  namespace fs = std::filesystem;
  std::set<std::string> out;
  std::error_code ec;
  fs::recursive_directory_iterator it(Dir, fs::directory_options::skip_permission_denied, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    std::string rel = fs::relative(it->path(), Dir, ec).generic_string();
    const bool dir = it->is_directory(ec) && !it->is_symlink(ec);
    if (dir) rel += "/";
    if (!Skip.empty() && rel == Skip) {
      it.disable_recursion_pending();
      continue;
    }
    out.insert(rel);
  }
  return out;
}

std::string WinePath(const std::string& UnixPath) {
  std::string p = "Z:" + UnixPath;
  for (char& c : p)
    if (c == '/') c = '\\';
  return p;
}

uint32_t TScreen::Pixel(int X, int Y) const {
  if (X < 0 || Y < 0 || X >= Width || Y >= Height) return 0xFFFFFFFFu;
  const size_t i = (static_cast<size_t>(Y) * Width + X) * 3;
  return (uint32_t{Rgb[i]} << 16) | (uint32_t{Rgb[i + 1]} << 8) | Rgb[i + 2];
}

int TScreen::Count(int Left, int Top, int Right, int Bottom, uint32_t Colour) const {
  int n = 0;
  for (int y = Top; y < Bottom; ++y)
    for (int x = Left; x < Right; ++x) n += Pixel(x, y) == Colour;
  return n;
}

TScreen Screenshot(const std::string& SaveAs, const std::string& Display) {
  TScreen s;
  char name[] = "/tmp/pl-e2e-shot-XXXXXX";
  if (!TUniqueFd(mkstemp(name))) return s;  // only the name is wanted
  const std::string ppm = std::string(name) + ".ppm";
  TEnv env;
  if (!Display.empty()) env["DISPLAY"] = Display;
  const TRunResult r = RunProgram({"import", "-window", "root", "-depth", "8", ppm}, env, 30000);
  std::remove(name);
  if (r.Finished && r.ExitCode == 0) {
    const std::string bytes = ReadFile(ppm);
    // P6 <w> <h> <max>\n<rgb...>
    std::istringstream in(bytes);
    std::string magic;
    int maxValue = 0;
    in >> magic >> s.Width >> s.Height >> maxValue;
    in.get();
    const size_t header = static_cast<size_t>(in.tellg());
    const size_t n = static_cast<size_t>(s.Width) * s.Height * 3;
    if (magic == "P6" && maxValue == 255 && bytes.size() >= header + n) {
      s.Rgb.assign(bytes.begin() + static_cast<std::ptrdiff_t>(header),
                   bytes.begin() + static_cast<std::ptrdiff_t>(header + n));
      if (!SaveAs.empty()) RunProgram({"convert", ppm, SaveAs}, {}, 30000);
    } else {
      s = {};
    }
  }
  std::remove(ppm.c_str());
  return s;
}

std::vector<TFakeEvent> ReadFakeLog(const std::string& Path) {
  std::vector<TFakeEvent> out;
  std::istringstream in(ReadFile(Path));
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    TFakeEvent e;
    std::string pid, instance;
    if (!(words >> pid >> instance >> e.Name)) continue;
    e.Pid = std::strtol(pid.c_str(), nullptr, 10);
    e.Instance = std::atoi(instance.c_str());
    std::string field;
    while (words >> field) e.Fields.push_back(UnescapeLogField(field));
    e.Text = line.substr(pid.size() + instance.size() + 2);
    out.push_back(std::move(e));
  }
  return out;
}
