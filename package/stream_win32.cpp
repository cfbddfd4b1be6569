// THandleStream and TFileReadStream over Win32 file handles.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include "package/stream.h"
#include "util/raii_win32.h"

TFileHandle TOpenedFileTraits::Invalid() { return TFileHandleTraits::Invalid(); }
void TOpenedFileTraits::Close(TFileHandle Handle) { TFileHandleTraits::Close(Handle); }

int64_t THandleStream::Read(void* Buffer, int64_t Count) {
  int64_t done = 0;
  auto* p = static_cast<char*>(Buffer);
  while (done < Count) {
    const DWORD want = static_cast<DWORD>(std::min<int64_t>(Count - done, 1 << 30));
    DWORD got = 0;
    if (!ReadFile(FHandle, p + done, want, &got, nullptr) || got == 0) break;
    done += got;
  }
  return done;
}

int64_t THandleStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  const DWORD method = Origin == TSeekOrigin::soBeginning ? FILE_BEGIN
                       : Origin == TSeekOrigin::soCurrent ? FILE_CURRENT
                                                          : FILE_END;
  LARGE_INTEGER dist, pos;
  dist.QuadPart = Offset;
  if (!SetFilePointerEx(FHandle, dist, &pos, method)) throw EReadError("seek outside the stream");
  return pos.QuadPart;
}

int64_t THandleStream::Size() {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(FHandle, &size)) throw EReadError("cannot read the file size");
  return size.QuadPart;
}

struct TFileReadStream::TMapping {
  TUniqueHandle Section;
  TUniqueMappedView View;
  int64_t Size = 0;
};

TFileReadStream::~TFileReadStream() = default;

const uint8_t* TFileReadStream::View(int64_t Count) {
  if (!FMapping) {
    // An empty file cannot be mapped, and a file too large for the address
    // space is read as before.
    FMapping = std::make_unique<TMapping>();
    FMapping->Size = Size();
    FMapping->Section.Reset(CreateFileMappingW(FHandle, nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (FMapping->Section && static_cast<uint64_t>(FMapping->Size) <= SIZE_MAX)
      FMapping->View.Reset(MapViewOfFile(FMapping->Section.Get(), FILE_MAP_READ, 0, 0, 0));
  }
  if (!FMapping->View || Count < 0) return nullptr;
  const int64_t at = Position();
  if (at > FMapping->Size || Count > FMapping->Size - at) return nullptr;
  Seek(Count, TSeekOrigin::soCurrent);
  return static_cast<const uint8_t*>(FMapping->View.Get()) + at;
}

// Only files on disk are read: a pipe or a device named as the file is
// refused instead of waited on. (A directory cannot be opened this way.)
TFileReadStream::TFileReadStream(const std::string& FileName)
    : THandleStream(INVALID_HANDLE_VALUE),
      FFile(CreateFileA(FileName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr)) {
  FHandle = FFile.Get();
  if (!FFile) throw EFOpenError(FileName + ": cannot open (error " + std::to_string(GetLastError()) + ")");
  if (GetFileType(FHandle) != FILE_TYPE_DISK) throw EFOpenError(FileName + ": not a file to read");
}
