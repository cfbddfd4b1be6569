// Byte streams the package reader and writer work on: an abstract stream, an
// in-memory stream, and a read-only stream over an operating-system file.
#pragma once
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "util/raii.h"

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

// A read that could not deliver every byte it was asked for, or a seek outside
// the stream. The package reader turns it into "garbled package".
class EReadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A file that could not be opened.
class EFOpenError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TStream {
 public:
  virtual ~TStream() = default;
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;

  // Reads up to Count bytes at the current position; returns how many it got.
  virtual int64_t Read(void* Buffer, int64_t Count) = 0;
  // Moves the position; returns the new position. Throws EReadError when the
  // target lies before the start.
  virtual int64_t Seek(int64_t Offset, TSeekOrigin Origin) = 0;
  virtual int64_t Size() = 0;

  // Count bytes at the position, lent in place without a copy (valid while
  // the stream lives), and the position moved past them; null, with the
  // position unchanged, when the stream cannot lend them: Read them then.
  virtual const uint8_t* View(int64_t Count) {
    (void)Count;
    return nullptr;
  }

  int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  // Reads exactly Count bytes or throws EReadError.
  void ReadBuffer(void* Buffer, int64_t Count);
};

// A growable block of bytes with a position; reads and writes.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<uint8_t> Bytes) : FBytes(std::move(Bytes)) {}
  int64_t Read(void* Buffer, int64_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int64_t Size() override { return static_cast<int64_t>(FBytes.size()); }
  const uint8_t* View(int64_t Count) override;
  void Write(const void* Buffer, size_t Count);
  const std::vector<uint8_t>& Bytes() const { return FBytes; }

 private:
  std::vector<uint8_t> FBytes;
  int64_t FPosition = 0;
};

#ifdef _WIN32
using TFileHandle = void*;  // HANDLE
#else
using TFileHandle = int;
#endif

// A stream over an operating-system file handle it does not own.
class THandleStream : public TStream {
 public:
  explicit THandleStream(TFileHandle Handle) : FHandle(Handle) {}
  int64_t Read(void* Buffer, int64_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int64_t Size() override;

 protected:
  TFileHandle FHandle;
};

// How a file a stream opened is closed: by the platform's owner of file
// handles (package/stream_win32.cpp, stream_posix.cpp).
struct TOpenedFileTraits {
  using Type = TFileHandle;
  static Type Invalid();
  static void Close(Type Handle);
};

// Read-only stream over one existing file. On Windows the file is opened
// sharing reading and writing, because the running executable reads its own
// image, which the loader keeps open. Throws EFOpenError when it cannot open.
//
// On Windows, View lends the bytes of a read-only mapping of the whole file,
// made at the first View: a large compressed item is inflated straight from
// the page cache instead of being copied into a block of its own first.
// Windows refuses to shorten a file while a mapping of it exists, so a lent
// byte never disappears. The POSIX side lends nothing: there a file shortened
// under a mapping would end the program with SIGBUS.
class TFileReadStream : public THandleStream {
 public:
  explicit TFileReadStream(const std::string& FileName);
  ~TFileReadStream() override;
  const uint8_t* View(int64_t Count) override;

 private:
  struct TMapping;  // the platform's mapping and view, once tried (stream_win32.cpp)
  TUniqueAny<TOpenedFileTraits> FFile;
  std::unique_ptr<TMapping> FMapping;
};
