// The work a saver's start cannot avoid, for a package file: read its movie,
// inflate it, write it to a folder of its own under the temporary directory.
// Nothing else a start does (windows, the player control, the settings
// items) is done here, so its time is the floor the saver's start is
// measured against.
//
//   start_floor PACKAGE
//
// Prints "read R ms, inflate I ms, write W ms, work T ms" (T from opening
// the file to the written file closed), then removes what it wrote.
#include <windows.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "package/exe_adder.h"
#include "package/stream.h"
#include "util/raii_win32.h"

namespace {

double NowMs() {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

int Fail(const char* Why) {
  std::fprintf(stderr, "start_floor: %s\n", Why);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return Fail("usage: start_floor PACKAGE");
  const double t0 = NowMs();

  // The movie's stored bytes, in one block, as the reader holds them.
  std::vector<uint8_t> stored;
  try {
    TFileReadStream file(argv[1]);
    TPackageCursor cursor(file);
    if (!cursor.Open()) return Fail("no package in that file");
    TRawRecord record;
    while (cursor.Next(record)) {
      if (record.Name == "FlashSwf" && record.Flag != 0 && record.Length > 0) {
        stored.resize(static_cast<size_t>(record.Length));
        cursor.ReadData(stored.data(), record.Length);
        break;
      }
      cursor.SkipData(record.Length);
    }
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
  if (stored.empty()) return Fail("the package has no compressed FlashSwf item");
  const double t1 = NowMs();

  // One inflate into one block. A movie that is already compressed inflates
  // to less than its stored size, so the first block fits; a block that is
  // too small is doubled and the inflate done again.
  uLongf plainSize = 0;
  std::vector<uint8_t> plain;
  for (size_t capacity = stored.size();; capacity *= 2) {
    plain.resize(capacity);
    plainSize = static_cast<uLongf>(capacity);
    const int code = uncompress(plain.data(), &plainSize, stored.data(), static_cast<uLong>(stored.size()));
    if (code == Z_OK) break;
    if (code != Z_BUF_ERROR || capacity > (size_t{1} << 31)) return Fail("the movie does not inflate");
  }
  const double t2 = NowMs();

  char temp[MAX_PATH + 1] = {};
  if (GetTempPathA(sizeof temp, temp) == 0) return Fail("no temporary directory");
  const std::string folder = std::string(temp) + "pl-start-floor-" + std::to_string(GetCurrentProcessId());
  const std::string path = folder + "\\movie.swf";
  if (!CreateDirectoryA(folder.c_str(), nullptr)) return Fail("cannot create its folder");
  bool written = false;
  {
    TUniqueFile out(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    const uint8_t* p = plain.data();
    DWORD left = static_cast<DWORD>(plainSize);
    while (out && left > 0) {
      DWORD done = 0;
      if (!WriteFile(out.Get(), p, left, &done, nullptr) || done == 0) break;
      p += done;
      left -= done;
    }
    written = out && left == 0;
  }
  const double t3 = NowMs();
  DeleteFileA(path.c_str());
  RemoveDirectoryA(folder.c_str());
  if (!written) return Fail("cannot write the movie");

  std::printf("read %.0f ms, inflate %.0f ms, write %.0f ms, work %.0f ms\n", t1 - t0, t2 - t1, t3 - t2, t3 - t0);
  return 0;
}
