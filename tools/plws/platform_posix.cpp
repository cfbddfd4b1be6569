// plws on Linux: the output folder through a directory descriptor, so every
// file is created relative to the folder that was checked, never through a
// link that appears later; the output file; iconv for Shift-JIS.
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

#include "tools/plws/platform.h"
#include "tools/plws/plws.h"
#include "util/raii_posix.h"

bool WriteAll(int Fd, const void* Data, size_t Size) {
  const auto* p = static_cast<const char*>(Data);
  while (Size) {
    const ssize_t n = write(Fd, p, Size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    Size -= static_cast<size_t>(n);
  }
  return true;
}

namespace {

std::string Why() { return std::strerror(errno); }

}  // namespace

struct TOutputFolder::TState {
  TUniqueFd Dir;
};

TOutputFolder::TOutputFolder(const std::string& Path) : FPath(Path), FState(std::make_unique<TState>()) {
  // A trailing slash would make the open below follow a link in the last place.
  std::string path = Path;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (mkdir(path.c_str(), 0777) != 0 && errno == ENOENT) {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    if (ec) throw EPlwsError(Path + ": cannot create its parent folders: " + ec.message());
    mkdir(path.c_str(), 0777);
  }
  FState->Dir.Reset(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (FState->Dir) return;
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
    throw EPlwsError(Path + ": a symbolic link; plws extract writes only into a folder itself");
  throw EPlwsError(Path + ": cannot use as the output folder: " + Why());
}

TOutputFolder::~TOutputFolder() = default;

bool TOutputFolder::Holds(const std::string& Name) const {
  struct stat st {};
  return fstatat(FState->Dir.Get(), Name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT;
}

void TOutputFolder::WriteNewFile(const std::string& Name, const void* Data, size_t Size) {
  const std::string shown = FPath + "/" + Name;
  // O_EXCL: an existing file, and a link of that name wherever it points,
  // make the open fail instead of being written through.
  TUniqueFd file(openat(FState->Dir.Get(), Name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
  if (!file) {
    if (errno == EEXIST)
      throw EPlwsError(shown + ": exists already; plws extract writes only new files (choose an empty folder)");
    throw EPlwsError(shown + ": cannot create: " + Why());
  }
  if (!WriteAll(file.Get(), Data, Size) || !file.Close()) throw EPlwsError(shown + ": cannot write: " + Why());
}

void WriteOutputFile(const std::string& Path, const void* Data, size_t Size) {
  // Without O_TRUNC and without blocking: what lies there is checked before
  // anything of it changes, and a FIFO nobody reads is refused at once.
  TUniqueFd file(open(Path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666));
  if (!file) throw EPlwsError(Path + ": cannot create: " + Why());
  struct stat st {};
  if (fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode)) throw EPlwsError(Path + ": not a regular file to write");
  if (fcntl(file.Get(), F_SETFL, fcntl(file.Get(), F_GETFL) & ~O_NONBLOCK) != 0 || ftruncate(file.Get(), 0) != 0 ||
      !WriteAll(file.Get(), Data, Size) || !file.Close())
    throw EPlwsError(Path + ": cannot write: " + Why());
}

void WriteNewOutputFile(const std::string& Path, const void* Data, size_t Size, const std::string& What) {
  TUniqueFd file(open(Path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
  if (!file) {
    if (errno == EEXIST) throw EPlwsError(Path + ": exists already; plws " + What + " writes only a new file");
    throw EPlwsError(Path + ": cannot create: " + Why());
  }
  if (WriteAll(file.Get(), Data, Size) && file.Close()) return;
  const std::string why = Why();
  file.Reset();
  // The file is the one created above: a half-written saver is worse than none.
  unlink(Path.c_str());
  throw EPlwsError(Path + ": cannot write: " + why);
}

bool PathTaken(const std::string& Path) {
  struct stat st {};
  return lstat(Path.c_str(), &st) == 0 || errno != ENOENT;
}

std::string ProgramFolder() {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : self.parent_path().string();
}

std::optional<std::string> ShiftJisToUtf8(const std::string& Text) {
  const TUniqueIconv cd(iconv_open("UTF-8", "CP932"));
  if (!cd) return std::nullopt;
  // A CP932 character takes at most 3 bytes of UTF-8 for each byte it had.
  std::string out(Text.size() * 3 + 4, '\0');
  char* in = const_cast<char*>(Text.data());
  size_t inLeft = Text.size();
  char* o = out.data();
  size_t outLeft = out.size();
  const size_t r = iconv(cd.Get(), &in, &inLeft, &o, &outLeft);
  if (r == static_cast<size_t>(-1) || inLeft) return std::nullopt;
  out.resize(out.size() - outLeft);
  return out;
}
