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
#include <utility>
#include <vector>

#include "package/stream.h"
#include "package/zlibex.h"

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

// Where and why a package could not be read to its end. The saver has no use
// for it; the package tool shows it to the author.
struct TPackageFault {
  int32_t Record = -1;  // index of the record at fault; -1: the trailer or the body's head
  int64_t Offset = 0;   // absolute offset of the field at fault
  std::string Reason;   // e.g. "data length 2147483600 exceeds the 812 bytes left"
  bool Empty() const { return Reason.empty(); }
  // "record 3 at offset 0x1a2f: data length ...", or "offset 0x..: ..." for the trailer.
  std::string Text() const;
};

// The reader's EZDecompressionError: what() is zlib's text ("data error"),
// Fault() says which record it was and where its data lies.
class EPackageItemError : public EZDecompressionError {
 public:
  explicit EPackageItemError(TPackageFault Fault)
      : EZDecompressionError(Fault.Reason), FFault(std::move(Fault)) {}
  const TPackageFault& Fault() const { return FFault; }

 private:
  TPackageFault FFault;
};

// Empties Items, then fills it with the package of the named file. A file
// that is missing or carries no package gives an empty list. A garbled package
// (lengths that do not fit the file) gives the records completed before the
// damage, and Fault (when given) says where the damage lies. A corrupt
// compressed item raises EPackageItemError (an EZDecompressionError); Items
// then holds the records before it, an empty entry for it and one for each
// record that really follows, and must still be released with FreeExeItems.
// The list grows as records complete, so memory follows what the body holds,
// never what its count claims.
void ReadExeItems(const std::string& FileName, TItemTypes& Items, TPackageFault* Fault = nullptr);
void ReadExeItems(TStream& Stream, TItemTypes& Items, TPackageFault* Fault = nullptr);

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
// exceeds what the file holds. When it stops short, Fault() says why.
class TPackageCursor {
 public:
  explicit TPackageCursor(TStream& Stream) : FStream(Stream) {}
  // Checks the trailer and reads key and count. False: no (usable) package;
  // Fault() is empty when the file simply carries none.
  bool Open();
  // Reads the next record's header and leaves the position at its data.
  // False when the records are used up (Fault() empty) or the next one is
  // cut short or does not fit the body (Fault() says where).
  bool Next(TRawRecord& Record);
  // Reads the data of the record Next just returned (Length bytes).
  void ReadData(void* Buffer, int32_t Length);
  // The same data lent in place by the stream (TStream::View), or null
  // when it cannot lend it: ReadData then.
  const uint8_t* ViewData(int32_t Length);
  // Skips the data of the record Next just returned.
  void SkipData(int32_t Length);

  int32_t Key() const { return FKey; }
  int32_t Count() const { return FCount; }
  // Records Next has returned so far: the index of the next one.
  int32_t Index() const { return FIndex; }
  int64_t BodyStart() const { return FBodyStart; }
  int64_t BodyEnd() const { return FBodyEnd; }
  // Bytes of the body after the current position.
  int64_t Left();
  const TPackageFault& Fault() const { return FFault; }

 private:
  bool Fits(int64_t Bytes);
  bool Refuse(int64_t Offset, std::string Reason);
  TStream& FStream;
  int32_t FKey = 0;
  int32_t FCount = 0;
  int32_t FIndex = 0;
  int64_t FBodyStart = 0;
  int64_t FBodyEnd = 0;
  TPackageFault FFault;
};
