// A run's private folder and its files: the package read, the movie and
// need files written, the start page; leftovers of killed runs removed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "package/stream.h"
#include "package/zlibex.h"
#include "tools/plws/platform.h"
#include "tools/plws/play_posix.h"
#include "tools/plws/plws.h"

namespace fs = std::filesystem;

namespace {

// A private folder is named after the process that made it:
// "plws-play-<pid>.<start>-XXXXXX", the start time (in clock ticks since
// boot) telling that process apart from a later one with the same id. A run
// that was killed leaves its folder; the next run finds it by the name.
constexpr char kPrivatePrefix[] = "plws-play-";

// The start time of process Pid as /proc gives it, or empty when it is gone.
std::string ProcessStartTime(pid_t Pid) {
  const TUniqueCFile f(std::fopen(("/proc/" + std::to_string(Pid) + "/stat").c_str(), "rb"));
  if (!f) return "";
  char buf[1024];
  const size_t n = std::fread(buf, 1, sizeof buf - 1, f.Get());
  const std::string stat(buf, n);
  // The command name in parentheses may hold blanks and parentheses; the
  // fields after the last ")" are plain: state is the first, start time
  // the twentieth.
  const size_t close = stat.rfind(')');
  if (close == std::string::npos) return "";
  std::istringstream fields(stat.substr(close + 1));
  std::string field;
  for (int i = 0; i < 20 && fields >> field; ++i) {
  }
  return field;
}

// Whether Name is a private folder of a run whose process has ended.
bool AbandonedPrivateFolderName(const std::string& Name) {
  const size_t prefix = sizeof kPrivatePrefix - 1;
  if (Name.compare(0, prefix, kPrivatePrefix) != 0) return false;
  const size_t dot = Name.find('.', prefix), dash = Name.find('-', prefix);
  if (dot == std::string::npos || dash == std::string::npos || dot > dash || Name.size() != dash + 7) return false;
  const std::string pid = Name.substr(prefix, dot - prefix), start = Name.substr(dot + 1, dash - dot - 1);
  auto digits = [](const std::string& T) {
    return !T.empty() && T.size() < 20 && T.find_first_not_of("0123456789") == std::string::npos;
  };
  if (!digits(pid) || !digits(start)) return false;
  return ProcessStartTime(static_cast<pid_t>(std::stoll(pid))) != start;
}

// "/" and the percent-encoded segment for each segment of a relative path.
std::string EncodedPath(const std::string& Relative) {
  std::string out;
  for (size_t start = 0; start < Relative.size();) {
    const size_t slash = std::min(Relative.find('/', start), Relative.size());
    out += "/" + PercentEncodeSegment(Relative.substr(start, slash - start));
    start = slash + 1;
  }
  return out;
}

}  // namespace

void RemoveAbandonedPrivateFolders(const std::string& Base, TLog& Log) {
  std::error_code ec;
  for (fs::directory_iterator it(Base, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    struct stat st {};
    if (!AbandonedPrivateFolderName(name) || lstat(it->path().c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != geteuid())
      continue;
    std::error_code removed;
    fs::remove_all(it->path(), removed);
    if (!removed) Log.Line("removed " + it->path().string() + ", left by a run that was killed");
  }
}

std::string PrivateFolderBase(const std::string& Base) {
  const char* tmp = std::getenv("TMPDIR");
  return !Base.empty() ? Base : tmp && *tmp ? tmp : "/tmp";
}

TPrivateFolder::TPrivateFolder(const std::string& Base) {
  std::string pattern = PrivateFolderBase(Base) + "/" + kPrivatePrefix + std::to_string(getpid()) + "." +
                        ProcessStartTime(getpid()) + "-XXXXXX";
  if (!mkdtemp(pattern.data())) throw EPlwsError("cannot make a private folder in " + pattern + ": " + std::strerror(errno));
  FPath = pattern;
}

TPrivateFolder::~TPrivateFolder() {
  std::error_code ec;
  fs::remove_all(FPath, ec);
}

void ReadPackage(const std::string& File, TItemTypes& Items) {
  std::unique_ptr<TFileReadStream> stream;
  try {
    stream = std::make_unique<TFileReadStream>(File);
  } catch (const EFOpenError&) {
    throw EPlwsError(File + ": cannot open: " + std::strerror(errno));
  }
  TPackageCursor cursor(*stream);
  if (!cursor.Open()) throw EPlwsError(File + ": no package (the file does not end with a valid \"PLWS\" trailer)");
  TRawRecord r;
  int32_t readable = 0;
  while (cursor.Next(r)) {
    cursor.SkipData(r.Length);
    ++readable;
  }
  if (readable < cursor.Count())
    throw EPlwsError(File + ": damaged package: " + std::to_string(cursor.Count()) + " items announced, " +
                     std::to_string(readable) + " readable");
  try {
    ReadExeItems(*stream, Items);
  } catch (const EZLibError& e) {
    throw EPlwsError(File + ": an item is corrupt: " + e.what());
  }
}

bool WritePlanned(const TPlannedFile& F, const uint8_t* Data, size_t Size) {
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | (F.ReplaceExisting ? O_TRUNC : O_EXCL);
  TUniqueFd fd(open(F.Path.c_str(), flags, 0600));
  if (!fd) return false;
  const bool ok = WriteAll(fd.Get(), Data, Size);
  return fd.Close() && ok;
}

std::string UrlOf(const std::string& Path, const std::string& Root) {
  return "/m" + EncodedPath(Path.substr(Root.size() + 1));
}

std::string WriteStartPage(const std::string& Path, const std::string& Url) {
  const std::string page = "<!DOCTYPE html><meta charset=\"utf-8\"><meta http-equiv=\"refresh\" content=\"0;url=" +
                           Url + "\"><script>location.replace(" + JsonString(Url) + ")</script>\n";
  TUniqueFd fd(open(Path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
  const bool ok = fd && WriteAll(fd.Get(), page.data(), page.size());
  if (!fd.Close() || !ok) throw EPlwsError(Path + ": cannot write: " + std::strerror(errno));
  return "file://" + EncodedPath(Path.substr(1));
}

std::string LogTail(const std::string& Path) {
  const TUniqueCFile f(std::fopen(Path.c_str(), "rb"));
  if (!f) return "";
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f.Get())) > 0) text.append(buf, n);
  if (text.size() > 1500) text = "..." + text.substr(text.size() - 1500);
  return text;
}
