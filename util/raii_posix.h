// Owning wrappers for POSIX resources (the native build: plws, the tests).
#pragma once
#include <dirent.h>
#include <iconv.h>
#include <unistd.h>

#include <cstdio>

#include "util/raii.h"

struct TFdTraits {
  using Type = int;
  static Type Invalid() { return -1; }
  static void Close(Type V) { ::close(V); }
};

// A file descriptor; -1 = none.
class TUniqueFd : public TUniqueAny<TFdTraits> {
 public:
  using TUniqueAny::TUniqueAny;
  // Closes now and says whether the close succeeded (errno set when not): a
  // write may be reported as failed only here.
  bool Close() {
    const int fd = Release();
    return fd < 0 || ::close(fd) == 0;
  }
};

// pipe2 into two owners: Ends[0] the read end, Ends[1] the write end. False
// (errno set) when it fails.
inline bool OpenPipe(TUniqueFd (&Ends)[2], int Flags) {
  int fds[2];
  if (::pipe2(fds, Flags) != 0) return false;
  Ends[0].Reset(fds[0]);
  Ends[1].Reset(fds[1]);
  return true;
}

inline void PCloseNoResult(std::FILE* F) { ::pclose(F); }
inline void CloseDirNoResult(DIR* D) { ::closedir(D); }

using TUniqueProcessPipe = TUniqueAny<TNullHandleTraits<std::FILE*, PCloseNoResult>>;  // popen results
using TUniqueDir = TUniqueAny<TNullHandleTraits<DIR*, CloseDirNoResult>>;             // opendir results

struct TIconvTraits {
  using Type = iconv_t;
  static Type Invalid() { return reinterpret_cast<iconv_t>(-1); }
  static void Close(Type V) { ::iconv_close(V); }
};
using TUniqueIconv = TUniqueAny<TIconvTraits>;  // iconv_open results
