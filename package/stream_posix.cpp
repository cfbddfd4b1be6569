// THandleStream and TFileReadStream over POSIX file descriptors (native build:
// the package tool and the native tests).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "package/stream.h"

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

TFileReadStream::TFileReadStream(const std::string& FileName)
    : THandleStream(::open(FileName.c_str(), O_RDONLY | O_CLOEXEC)) {
  if (FHandle < 0) throw EFOpenError("cannot open " + FileName + ": " + std::strerror(errno));
  struct stat st {};
  if (::fstat(FHandle, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(FHandle);
    throw EFOpenError("not a regular file: " + FileName);
  }
}

TFileReadStream::~TFileReadStream() { ::close(FHandle); }
