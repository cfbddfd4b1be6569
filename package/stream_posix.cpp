// THandleStream and TFileReadStream over POSIX file descriptors (native build:
// the package tool and the native tests).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "package/stream.h"
#include "util/raii_posix.h"

TFileHandle TOpenedFileTraits::Invalid() { return TFdTraits::Invalid(); }
void TOpenedFileTraits::Close(TFileHandle Handle) { TFdTraits::Close(Handle); }

int64_t THandleStream::Read(void* Buffer, int64_t Count) {
  int64_t done = 0;
  auto* p = static_cast<char*>(Buffer);
  while (done < Count) {
    const ssize_t got = ::read(FHandle, p + done, static_cast<size_t>(Count - done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += got;
  }
  return done;
}

int64_t THandleStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  const int whence = Origin == TSeekOrigin::soBeginning ? SEEK_SET
                     : Origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                        : SEEK_END;
  const off_t pos = ::lseek(FHandle, static_cast<off_t>(Offset), whence);
  if (pos < 0) throw EReadError("seek outside the stream");
  return pos;
}

int64_t THandleStream::Size() {
  struct stat st {};
  if (::fstat(FHandle, &st) != 0) throw EReadError("cannot read the file size");
  return st.st_size;
}

namespace {

const char* KindOf(mode_t Mode) {
  if (S_ISDIR(Mode)) return "a directory";
  if (S_ISFIFO(Mode)) return "a FIFO";
  if (S_ISSOCK(Mode)) return "a socket";
  if (S_ISCHR(Mode) || S_ISBLK(Mode)) return "a device";
  return "not a regular file";
}

}  // namespace

struct TFileReadStream::TMapping {};

TFileReadStream::~TFileReadStream() = default;

const uint8_t* TFileReadStream::View(int64_t) { return nullptr; }

// Opened without blocking, so a FIFO named as the file is refused at once
// instead of waiting for a writer; only regular files are read.
TFileReadStream::TFileReadStream(const std::string& FileName)
    : THandleStream(-1), FFile(::open(FileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)) {
  FHandle = FFile.Get();
  if (!FFile) throw EFOpenError(FileName + ": cannot open: " + std::strerror(errno));
  struct stat st {};
  if (::fstat(FHandle, &st) != 0 || !S_ISREG(st.st_mode))
    throw EFOpenError(FileName + ": " + KindOf(st.st_mode) + ", not a file to read");
  // Reads of a regular file never block; the flag is dropped all the same.
  ::fcntl(FHandle, F_SETFL, ::fcntl(FHandle, F_GETFL) & ~O_NONBLOCK);
}
