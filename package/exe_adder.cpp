#include "package/exe_adder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "package/stream_utils.h"
#include "package/zlibex.h"
#include "util/raii.h"

std::string XorString(const std::string& S, uint8_t Key) {
  std::string out(S);
  for (auto& c : out) c = static_cast<char>(static_cast<uint8_t>(c) ^ Key);
  return out;
}

std::string TPackageFault::Text() const {
  char where[64];
  if (Record >= 0)
    std::snprintf(where, sizeof where, "record %d at offset 0x%llx: ", Record,
                  static_cast<unsigned long long>(Offset));
  else
    std::snprintf(where, sizeof where, "offset 0x%llx: ", static_cast<unsigned long long>(Offset));
  return where + Reason;
}

bool TPackageCursor::Fits(int64_t Bytes) { return Bytes >= 0 && Bytes <= Left(); }

int64_t TPackageCursor::Left() { return std::max<int64_t>(0, FBodyEnd - FStream.Position()); }

// Every refusal leaves its reason, so a tool can tell the author what is wrong.
bool TPackageCursor::Refuse(int64_t Offset, std::string Reason) {
  FFault = {FIndex, Offset, std::move(Reason)};
  return false;
}

bool TPackageCursor::Open() {
  FFault = {};
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
    FIndex = -1;  // faults of the trailer and the body's head belong to no record
    // A negative length would put the body behind the trailer, a long one
    // before the start of the file: both are garbled, not a package.
    if (bodyLength < 0 || bodyLength > FBodyEnd)
      return Refuse(FBodyEnd, "body length " + std::to_string(bodyLength) + " does not fit the " +
                                  std::to_string(FBodyEnd) + " bytes before the trailer");
    FBodyStart = FBodyEnd - bodyLength;
    FStream.Seek(FBodyStart, TSeekOrigin::soBeginning);
    if (!Fits(8))
      return Refuse(FBodyStart, "a body of " + std::to_string(bodyLength) +
                                    " bytes cannot hold the key and the item count");
    FKey = ReadInteger(FStream);
    FCount = ReadInteger(FStream);
    FIndex = 0;
    return true;
  } catch (const EReadError& e) {
    return Refuse(0, e.what());
  }
}

bool TPackageCursor::Next(TRawRecord& Record) {
  if (FIndex >= FCount) return false;
  try {
    const int64_t at = FStream.Position();
    // The count is a claim, not a promise: the body decides how many records there are.
    if (Left() == 0)
      return Refuse(at, "the body ends here, but the item count announces " + std::to_string(FCount) +
                            " records");
    if (!Fits(4)) return Refuse(at, "the name length is cut short: " + std::to_string(Left()) + " bytes left");
    const int32_t nameLength = ReadInteger(FStream);
    // The name, the flag and the data length must all lie inside the body.
    if (nameLength > 0 && !Fits(nameLength))
      return Refuse(at, "name length " + std::to_string(nameLength) + " exceeds the " +
                            std::to_string(Left()) + " bytes left");
    const int64_t afterName = FStream.Position() + std::max(nameLength, 0);
    if (Left() - std::max(nameLength, 0) < 5)
      return Refuse(afterName, "the stored flag and the data length are cut short");
    std::string name;
    if (nameLength > 0) {
      name.resize(static_cast<size_t>(nameLength));
      FStream.ReadBuffer(name.data(), nameLength);
    }
    Record.Name = XorString(name, static_cast<uint8_t>(FKey & 0xFF));
    Record.Flag = ReadByte(FStream);
    const int64_t lengthAt = FStream.Position();
    Record.Length = ReadInteger(FStream);
    Record.DataOffset = FStream.Position();
    if (Record.Length > 0 && !Fits(Record.Length))
      return Refuse(lengthAt, "data length " + std::to_string(Record.Length) + " exceeds the " +
                                  std::to_string(Left()) + " bytes left");
    ++FIndex;
    return true;
  } catch (const EReadError& e) {
    return Refuse(FStream.Position(), e.what());
  }
}

void TPackageCursor::ReadData(void* Buffer, int32_t Length) {
  if (Length > 0) FStream.ReadBuffer(Buffer, Length);
}

const uint8_t* TPackageCursor::ViewData(int32_t Length) { return Length > 0 ? FStream.View(Length) : nullptr; }

void TPackageCursor::SkipData(int32_t Length) {
  if (Length > 0) FStream.Seek(Length, TSeekOrigin::soCurrent);
}

void ReadExeItems(const std::string& FileName, TItemTypes& Items, TPackageFault* Fault) {
  Items.clear();
  if (Fault) *Fault = {};
  std::unique_ptr<TFileReadStream> stream;
  try {
    stream = std::make_unique<TFileReadStream>(FileName);
  } catch (const EFOpenError&) {
    return;  // missing or unreadable file: no package
  }
  ReadExeItems(*stream, Items, Fault);
}

namespace {

// The bytes of one record: read, and inflated when the flag says so. Both
// blocks are bounded by the body (Next checked the length).
void ReadItemData(TPackageCursor& Cursor, const TRawRecord& Raw, TItemType& Item) {
  if (Raw.Length <= 0) return;
  // A compressed item inflates from the stream's own bytes when it lends
  // them: no block of its stored bytes, and no copy into one.
  const uint8_t* stored = Raw.Flag != 0 ? Cursor.ViewData(Raw.Length) : nullptr;
  TUniqueMalloc block;
  if (!stored) {
    block.Reset(std::malloc(static_cast<size_t>(Raw.Length)));
    if (!block) throw std::bad_alloc();
    Cursor.ReadData(block.Get(), Raw.Length);
    if (Raw.Flag == 0) {
      Item.Data = static_cast<uint8_t*>(block.Release());
      Item.Size = Raw.Length;
      return;
    }
    stored = static_cast<const uint8_t*>(block.Get());
  }
  void* out = nullptr;
  int32_t outSize = 0;
  DecompressBuffer(stored, Raw.Length, out, outSize, 0);
  Item.Data = static_cast<uint8_t*>(out);
  Item.Size = outSize;
}

}  // namespace

void ReadExeItems(TStream& Stream, TItemTypes& Items, TPackageFault* Fault) {
  Items.clear();
  TPackageCursor cursor(Stream);
  auto report = [&](const TPackageFault& F) {
    if (Fault) *Fault = F;
  };
  report({});
  const bool opened = cursor.Open();
  report(cursor.Fault());
  if (!opened || cursor.Count() <= 0) return;

  // The list grows as records complete: a count that claims more records
  // than the body holds costs nothing.
  TRawRecord raw;
  while (cursor.Next(raw)) {
    // Filled aside and stored only when complete, so a failing item leaves
    // its entry empty, as a caller handling the error expects.
    TItemType item;
    item.Name = raw.Name;
    item.Compressed = raw.Flag;
    try {
      ReadItemData(cursor, raw, item);
    } catch (const EZDecompressionError& e) {
      const TPackageFault fault{cursor.Index() - 1, raw.DataOffset, e.what()};
      report(fault);
      // The failing entry and the records that really follow it stay in the
      // list as empty entries, one for each record the body holds.
      size_t rest = 0;
      while (cursor.Next(raw)) {
        cursor.SkipData(raw.Length);
        ++rest;
      }
      Items.resize(Items.size() + 1 + rest);
      throw EPackageItemError(fault);
    } catch (const EReadError& e) {
      // The file ended inside the data: keep the records before it.
      report({cursor.Index() - 1, raw.DataOffset, e.what()});
      return;
    }
    // Owned here until the list holds it.
    TUniqueMalloc block(item.Data);
    Items.push_back(std::move(item));
    block.Release();
  }
  // A record cut short ends the list with the records completed so far.
  report(cursor.Fault());
}

void FreeExeItems(TItemTypes& Items) {
  for (auto& item : Items) {
    // Only an item with bytes was given a block of its own.
    const TUniqueMalloc block(item.Size > 0 ? item.Data : nullptr);
    item.Data = nullptr;
    item.Size = 0;
  }
  Items.clear();
}
