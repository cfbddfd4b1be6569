// plws on Windows: new files by CREATE_NEW (which fails on anything of that
// name, a link too), the output file, and the system's code page 932.
#include <windows.h>

#include <filesystem>
#include <string>

#include "tools/plws/platform.h"
#include "tools/plws/plws.h"
#include "util/raii_win32.h"
#include "util/text_win32.h"
#include "util/utils_win32.h"

namespace {

std::string Why() { return "error " + std::to_string(GetLastError()); }

bool WriteAll(HANDLE File, const void* Data, size_t Size) {
  const auto* p = static_cast<const char*>(Data);
  while (Size) {
    const DWORD want = static_cast<DWORD>(Size < (1u << 30) ? Size : (1u << 30));
    DWORD done = 0;
    if (!WriteFile(File, p, want, &done, nullptr) || done == 0) return false;
    p += done;
    Size -= done;
  }
  return true;
}

}  // namespace

struct TOutputFolder::TState {};

TOutputFolder::TOutputFolder(const std::string& Path) : FPath(Path), FState(std::make_unique<TState>()) {
  std::error_code ec;
  std::filesystem::create_directories(Path, ec);
  const DWORD attributes = GetFileAttributesA(Path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
    throw EPlwsError(Path + ": cannot use as the output folder" + (ec ? ": " + ec.message() : std::string()));
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
    throw EPlwsError(Path + ": a link; plws extract writes only into a folder itself");
}

TOutputFolder::~TOutputFolder() = default;

bool TOutputFolder::Holds(const std::string& Name) const {
  return GetFileAttributesA((FPath + "\\" + Name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void TOutputFolder::WriteNewFile(const std::string& Name, const void* Data, size_t Size) {
  const std::string path = FPath + "\\" + Name;
  TUniqueFile file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) {
    if (GetLastError() == ERROR_FILE_EXISTS)
      throw EPlwsError(path + ": exists already; plws extract writes only new files (choose an empty folder)");
    throw EPlwsError(path + ": cannot create: " + Why());
  }
  if (!WriteAll(file.Get(), Data, Size)) throw EPlwsError(path + ": cannot write: " + Why());
}

void WriteOutputFile(const std::string& Path, const void* Data, size_t Size) {
  TUniqueFile file(CreateFileA(Path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) throw EPlwsError(Path + ": cannot create: " + Why());
  if (GetFileType(file.Get()) != FILE_TYPE_DISK) throw EPlwsError(Path + ": not a regular file to write");
  if (!SetEndOfFile(file.Get()) || !WriteAll(file.Get(), Data, Size) || !SetEndOfFile(file.Get()))
    throw EPlwsError(Path + ": cannot write: " + Why());
}

void WriteNewOutputFile(const std::string& Path, const void* Data, size_t Size, const std::string& What) {
  TUniqueFile file(CreateFileA(Path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) {
    if (GetLastError() == ERROR_FILE_EXISTS)
      throw EPlwsError(Path + ": exists already; plws " + What + " writes only a new file");
    throw EPlwsError(Path + ": cannot create: " + Why());
  }
  if (WriteAll(file.Get(), Data, Size)) return;
  const std::string why = Why();
  file.Reset();
  // The file is the one created above: a half-written saver is worse than none.
  DeleteFileA(Path.c_str());
  throw EPlwsError(Path + ": cannot write: " + why);
}

bool PathTaken(const std::string& Path) { return GetFileAttributesA(Path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string ProgramFolder() {
  const std::string self = ExecutablePath();
  const size_t slash = self.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : self.substr(0, slash);
}

std::optional<std::string> ShiftJisToUtf8(const std::string& Text) {
  const std::wstring wide = TextToWide(Text, 932, MB_ERR_INVALID_CHARS);
  if (wide.empty() && !Text.empty()) return std::nullopt;
  return WideToText(wide, CP_UTF8);
}
