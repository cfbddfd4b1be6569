// e2e_hold_files: another program that has files open, as a virus scanner
// or the indexer may have a file in the temporary directory.
//
//   e2e_hold_files UNTIL PATH...
//
// Opens every PATH for reading without delete sharing (so nobody can delete
// it meanwhile), prints "holding N" with the number it holds, and lets go
// once the file UNTIL exists (or after 120 s).
#include <windows.h>

#include <cstdio>
#include <vector>

#include "util/raii_win32.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: e2e_hold_files UNTIL PATH...\n");
    return 2;
  }
  std::vector<TUniqueFile> held;
  for (int i = 2; i < argc; ++i) {
    TUniqueFile f(CreateFileA(argv[i], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (f) held.push_back(std::move(f));
  }
  std::printf("holding %zu\n", held.size());
  std::fflush(stdout);
  for (int waited = 0; waited < 120000 && GetFileAttributesA(argv[1]) == INVALID_FILE_ATTRIBUTES; waited += 50)
    Sleep(50);
  return 0;
}
