#include "package/exe_adder.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "package/stream_utils.h"
#include "package/zlibex.h"

namespace {
constexpr int64_t kMinRecordSize = 4 + 1 + 4;  // empty name, flag, data length
}

std::string XorString(const std::string& S, uint8_t Key) {
  std::string out(S);
  for (auto& c : out) c = static_cast<char>(static_cast<uint8_t>(c) ^ Key);
  return out;
}

bool TPackageCursor::Fits(int64_t Bytes) {
  return Bytes >= 0 && Bytes <= FBodyEnd - FStream.Position();
}

int64_t TPackageCursor::MaxRecords() {
  return std::max<int64_t>(0, FBodyEnd - FStream.Position()) / kMinRecordSize;
}

bool TPackageCursor::Open() {
  try {
    const int64_t size = FStream.Size();
    // Too short for the trailer: no package.
    if (size < kTrailerSize) return false;
    char magic[4];
    FStream.Seek(-4, TSeekOrigin::soEnd);
    FStream.ReadBuffer(magic, 4);
    // Exact bytes: "plws" or any other ending is an executable without package.
    if (std::memcmp(magic, kPackageMagic, 4) != 0) return false;
    FStream.Seek(-kTrailerSize, TSeekOrigin::soEnd);
    const int64_t bodyLength = ReadInt64(FStream);
    FBodyEnd = size - kTrailerSize;
    // A negative length would put the body behind the trailer, a long one
    // before the start of the file: both are garbled, not a package.
    if (bodyLength < 0 || bodyLength > FBodyEnd) return false;
    FBodyStart = FBodyEnd - bodyLength;
    FStream.Seek(FBodyStart, TSeekOrigin::soBeginning);
    if (!Fits(8)) return false;
    FKey = ReadInteger(FStream);
    FCount = ReadInteger(FStream);
    FIndex = 0;
    return true;
  } catch (const EReadError&) {
    return false;
  }
}

bool TPackageCursor::Next(TRawRecord& Record) {
  if (FIndex >= FCount) return false;
  try {
    if (!Fits(4)) return false;
    const int32_t nameLength = ReadInteger(FStream);
    // The name, the flag and the data length must all lie inside the body.
    if (nameLength > 0 && !Fits(int64_t{nameLength} + 5)) return false;
    if (nameLength <= 0 && !Fits(5)) return false;
    std::string name;
    if (nameLength > 0) {
      name.resize(static_cast<size_t>(nameLength));
      FStream.ReadBuffer(name.data(), nameLength);
    }
    Record.Name = XorString(name, static_cast<uint8_t>(FKey & 0xFF));
    Record.Flag = ReadByte(FStream);
    Record.Length = ReadInteger(FStream);
    Record.DataOffset = FStream.Position();
    if (Record.Length > 0 && !Fits(Record.Length)) return false;
    ++FIndex;
    return true;
  } catch (const EReadError&) {
    return false;
  }
}

void TPackageCursor::ReadData(void* Buffer, int32_t Length) {
  if (Length > 0) FStream.ReadBuffer(Buffer, Length);
}

void TPackageCursor::SkipData(int32_t Length) {
  if (Length > 0) FStream.Seek(Length, TSeekOrigin::soCurrent);
}

void ReadExeItems(const std::string& FileName, TItemTypes& Items) {
  Items.clear();
  std::unique_ptr<TFileReadStream> stream;
  try {
    stream = std::make_unique<TFileReadStream>(FileName);
  } catch (const EFOpenError&) {
    return;  // missing or unreadable file: no package
  }
  ReadExeItems(*stream, Items);
}

void ReadExeItems(TStream& Stream, TItemTypes& Items) {
  Items.clear();
  TPackageCursor cursor(Stream);
  if (!cursor.Open() || cursor.Count() <= 0) return;

  // The list is sized up front, as many entries as the count says, but never
  // more than the body could hold: a lying count must not allocate gigabytes.
  Items.resize(static_cast<size_t>(std::min<int64_t>(cursor.Count(), cursor.MaxRecords())));

  size_t done = 0;
  TRawRecord raw;
  while (done < Items.size() && cursor.Next(raw)) {
    // Filled aside and stored only when complete, so a failing item leaves
    // its entry empty, as a caller handling the error expects.
    TItemType item;
    item.Name = raw.Name;
    item.Compressed = raw.Flag;
    try {
      if (raw.Length > 0) {
        // Both blocks are bounded by the body (checked by Next).
        std::unique_ptr<uint8_t, decltype(&std::free)> block(
            static_cast<uint8_t*>(std::malloc(static_cast<size_t>(raw.Length))), &std::free);
        if (!block) throw std::bad_alloc();
        cursor.ReadData(block.get(), raw.Length);
        if (raw.Flag != 0) {
          void* out = nullptr;
          int32_t outSize = 0;
          DecompressBuffer(block.get(), raw.Length, out, outSize, 0);
          item.Data = static_cast<uint8_t*>(out);
          item.Size = outSize;
        } else {
          item.Data = block.release();
          item.Size = raw.Length;
        }
      }
    } catch (const EReadError&) {
      break;  // the file ended inside the data: keep the records before it
    }
    Items[done++] = std::move(item);
  }
  // A record cut short ends the list with the records completed so far.
  Items.resize(done);
}

void FreeExeItems(TItemTypes& Items) {
  for (auto& item : Items) {
    if (item.Size > 0 && item.Data) std::free(item.Data);
    item.Data = nullptr;
    item.Size = 0;
  }
  Items.clear();
}
