// The package appended behind the executable image: its items, the reader,
// the release routine and the name unscrambling.
//
// Layout, located from the end of the file (all integers little-endian):
//   body:    key (int32, low byte used) | count (int32) | count records
//   record:  name length (int32) | name XOR key byte | stored flag (byte, 0 =
//            stored, else zlib) | data length (int32) | data
//   trailer: body length L (int64) | "PLWS"
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "package/stream.h"

inline constexpr char kPackageMagic[4] = {'P', 'L', 'W', 'S'};
inline constexpr int kTrailerSize = 12;

// One package item. Data is owned by the item but released only through
// FreeExeItems, so copies of the list share it while the list lives.
struct TItemType {
  std::string Name;         // unscrambled key, any bytes
  uint8_t* Data = nullptr;  // plain content (already inflated), or null
  int32_t Size = 0;         // bytes at Data; 0 when Data is null
  uint8_t Compressed = 0;   // stored flag as read: non-zero = was a zlib stream
};
using TItemTypes = std::vector<TItemType>;

// Empties Items, then fills it with the package of the named file. A file
// that is missing or carries no package gives an empty list. A garbled package
// (lengths that do not fit the file) gives the records completed before the
// damage. A corrupt compressed item raises EZDecompressionError; Items then
// holds the records before it and empty entries after, and must still be
// released with FreeExeItems.
void ReadExeItems(const std::string& FileName, TItemTypes& Items);
void ReadExeItems(TStream& Stream, TItemTypes& Items);

// Releases every Data block and empties the list.
void FreeExeItems(TItemTypes& Items);

// Every byte of S XOR Key; scrambles and unscrambles alike.
std::string XorString(const std::string& S, uint8_t Key);

// --- Low-level access for tools that show the package as stored ----------

// One record as it stands in the package: data not yet read or inflated.
struct TRawRecord {
  std::string Name;        // unscrambled
  uint8_t Flag = 0;        // stored flag
  int32_t Length = 0;      // stored (possibly compressed) length, <= 0 = none
  int64_t DataOffset = 0;  // absolute offset of the data in the stream
};

// Walks a package record by record, never past the body. Each length is
// checked against the body before it is used, so no read or allocation
// exceeds what the file holds.
class TPackageCursor {
 public:
  explicit TPackageCursor(TStream& Stream) : FStream(Stream) {}
  // Checks the trailer and reads key and count. False: no (usable) package.
  bool Open();
  // Reads the next record's header and leaves the position at its data.
  // False when the records are used up or the next one is cut short.
  bool Next(TRawRecord& Record);
  // Reads the data of the record Next just returned (Length bytes).
  void ReadData(void* Buffer, int32_t Length);
  // Skips the data of the record Next just returned.
  void SkipData(int32_t Length);

  int32_t Key() const { return FKey; }
  int32_t Count() const { return FCount; }
  int64_t BodyStart() const { return FBodyStart; }
  int64_t BodyEnd() const { return FBodyEnd; }
  // How many records the body could hold at most (each takes 9 bytes or more).
  int64_t MaxRecords();

 private:
  bool Fits(int64_t Bytes);
  TStream& FStream;
  int32_t FKey = 0;
  int32_t FCount = 0;
  int32_t FIndex = 0;
  int64_t FBodyStart = 0;
  int64_t FBodyEnd = 0;
};
