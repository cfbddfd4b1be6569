// What plws needs of the operating system beyond plain streams: folders it
// writes only new files into, its output files, its own folder, and
// Shift-JIS text for the terminal. platform_posix.cpp and platform_win32.cpp hold the two versions.
#pragma once
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

// The folder `plws extract` writes into, created when missing. Files are
// created in it as new ones only: a file, link or anything else of the same
// name is never replaced or followed, and the folder itself may not be a
// symbolic link. Errors are EPlwsError naming the path.
class TOutputFolder {
 public:
  explicit TOutputFolder(const std::string& Path);
  ~TOutputFolder();
  TOutputFolder(const TOutputFolder&) = delete;
  TOutputFolder& operator=(const TOutputFolder&) = delete;

  // Whether anything of that name is there (a dangling link counts).
  bool Holds(const std::string& Name) const;
  // Creates Name (one plain file-name component) and writes Data into it.
  void WriteNewFile(const std::string& Name, const void* Data, size_t Size);

 private:
  struct TState;
  std::string FPath;
  std::unique_ptr<TState> FState;
};

// Writes the whole of Data to Path, replacing a regular file of that name;
// a directory, FIFO or device there is refused, never written or waited on.
void WriteOutputFile(const std::string& Path, const void* Data, size_t Size);

// Creates Path as a new file and writes Data into it: anything of that name
// (a file, a link wherever it points) is refused, never replaced or written
// through; a file left half written by a failing write is removed again.
// Errors are EPlwsError naming the path; What names the command in them.
void WriteNewOutputFile(const std::string& Path, const void* Data, size_t Size, const std::string& What);

// Whether anything of that name is there (a dangling link counts).
bool PathTaken(const std::string& Path);

// The folder that holds the running plws, without a trailing separator;
// empty when it cannot be told.
std::string ProgramFolder();

// Writes all of Data to the descriptor Fd; false (errno set) when a write
// fails. POSIX only.
bool WriteAll(int Fd, const void* Data, size_t Size);

// Text in code page 932 (Shift-JIS as Windows has it) as UTF-8; nullopt when
// it is not valid there.
std::optional<std::string> ShiftJisToUtf8(const std::string& Text);
