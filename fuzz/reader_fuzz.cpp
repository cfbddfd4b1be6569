// libFuzzer target: any bytes as the end of an executable. The reader returns
// the records the bytes really hold, each name and block as stored (inflated
// when compressed), Data null exactly when Size is 0, and raises nothing but
// EZDecompressionError with one of zlib's texts, at the first compressed item
// zlib itself refuses. The expected records come from a walk of the trailer
// and body written here, and compressed blocks from zlib's inflate directly.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "package/exe_adder.h"
#include "package/raii_items.h"
#include "package/raii_zlib.h"
#include "package/stream.h"
#include "package/zlibex.h"

namespace {

int64_t LittleEndian(const uint8_t* P, int Bytes) {
  uint64_t v = 0;
  for (int i = Bytes - 1; i >= 0; --i) v = v << 8 | P[i];
  return Bytes == 4 ? static_cast<int32_t>(v) : static_cast<int64_t>(v);
}

// The whole output of the zlib stream at the start of In, or nullopt when
// zlib refuses it (corrupt, cut short, asking for a dictionary).
std::optional<std::vector<uint8_t>> Inflate(const uint8_t* In, size_t Size) {
  TInflateStream z;
  if (z.Init() != Z_OK) return std::nullopt;
  z->next_in = const_cast<Bytef*>(In);
  z->avail_in = static_cast<uInt>(Size);
  std::vector<uint8_t> out;
  int code = Z_OK;
  while (code == Z_OK) {
    uint8_t chunk[16384];
    z->next_out = chunk;
    z->avail_out = sizeof chunk;
    code = inflate(z.Get(), Z_NO_FLUSH);
    out.insert(out.end(), chunk, chunk + (sizeof chunk - z->avail_out));
  }
  if (code != Z_STREAM_END) return std::nullopt;
  return out;
}

struct TExpected {
  std::string Name;
  uint8_t Flag = 0;
  std::optional<std::vector<uint8_t>> Bytes;  // nullopt: zlib refuses the block
};

// The complete records the package at the end of the bytes holds, in order,
// never more than its count: a record that does not fit the body ends them.
std::vector<TExpected> Walk(const uint8_t* Data, size_t Size) {
  std::vector<TExpected> records;
  if (Size < 12 || std::memcmp(Data + Size - 4, "PLWS", 4) != 0) return records;
  const int64_t bodyEnd = static_cast<int64_t>(Size) - 12;
  const int64_t length = LittleEndian(Data + bodyEnd, 8);
  if (length < 8 || length > bodyEnd) return records;
  int64_t at = bodyEnd - length;
  const uint8_t key = Data[at];
  const int64_t count = LittleEndian(Data + at + 4, 4);
  at += 8;
  for (int64_t i = 0; i < count; ++i) {
    if (bodyEnd - at < 4) break;
    const int64_t nameLength = std::max<int64_t>(0, LittleEndian(Data + at, 4));
    if (bodyEnd - at - 4 < nameLength + 5) break;
    TExpected r;
    for (int64_t k = 0; k < nameLength; ++k) r.Name += static_cast<char>(Data[at + 4 + k] ^ key);
    at += 4 + nameLength;
    r.Flag = Data[at];
    const int64_t dataLength = std::max<int64_t>(0, LittleEndian(Data + at + 1, 4));
    at += 5;
    if (dataLength > bodyEnd - at) break;
    const uint8_t* block = Data + at;
    if (dataLength == 0)
      r.Bytes.emplace();
    else if (r.Flag == 0)
      r.Bytes.emplace(block, block + dataLength);
    else
      r.Bytes = Inflate(block, static_cast<size_t>(dataLength));
    at += dataLength;
    records.push_back(std::move(r));
  }
  return records;
}

bool IsEmptyEntry(const TItemType& Item) { return Item.Name.empty() && !Item.Data && Item.Size == 0; }

// A stream that lends nothing, as a file does outside Windows: every item
// is read into a block of exactly its stored size, so ASan also sees an
// inflate that reads past the stored bytes.
class TCopyingStream : public TMemoryStream {
 public:
  using TMemoryStream::TMemoryStream;
  const uint8_t* View(int64_t) override { return nullptr; }
};

void CheckReader(TStream& Stream, const uint8_t* Data, size_t Size) {
  TOwnedItems items;
  std::optional<std::string> error;
  try {
    ReadExeItems(Stream, items);
  } catch (const EZDecompressionError& e) {
    error = e.what();
  }
  const std::vector<TExpected> expected = Walk(Data, Size);

  // The first record zlib refuses is where the reader must have stopped.
  size_t good = 0;
  while (good < expected.size() && expected[good].Bytes) ++good;
  FUZZ_CHECK(error.has_value() == (good < expected.size()), "an error exactly when a compressed item is corrupt");
  if (error) {
    const std::string& m = *error;
    FUZZ_CHECK(m == "data error" || m == "buffer error" || m == "stream error" || m == "insufficient memory",
               "the error is one of zlib's texts: " + m);
    FUZZ_CHECK(items.size() >= good, "the records before the corrupt one are kept");
    // Entries from the failing one on are the empty ones the list was sized with.
    for (size_t i = good; i < items.size(); ++i) FUZZ_CHECK(IsEmptyEntry(items[i]), "entry after the error is empty");
  } else {
    FUZZ_CHECK(items.size() == expected.size(), "one entry per complete record");
  }

  for (size_t i = 0; i < std::min(good, items.size()); ++i) {
    const TItemType& item = items[i];
    const TExpected& e = expected[i];
    FUZZ_CHECK(item.Name == e.Name, "name as stored, unscrambled");
    FUZZ_CHECK(item.Compressed == e.Flag, "stored flag as read");
    FUZZ_CHECK((item.Data == nullptr) == (item.Size == 0), "Data null exactly when Size is 0");
    FUZZ_CHECK(item.Size >= 0 && static_cast<size_t>(item.Size) == e.Bytes->size(), "Size is the block's size");
    // Reads every byte the entry claims, so ASan sees a block shorter than Size.
    FUZZ_CHECK(item.Size == 0 || std::memcmp(item.Data, e.Bytes->data(), e.Bytes->size()) == 0,
               "the block holds the stored (or inflated) bytes");
  }
}

}  // namespace

// Both ways of reading: items inflated from the bytes the stream lends, and
// from blocks of their own.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  TMemoryStream lending(std::vector<uint8_t>(Data, Data + Size));
  CheckReader(lending, Data, Size);
  TCopyingStream copying(std::vector<uint8_t>(Data, Data + Size));
  CheckReader(copying, Data, Size);
  return 0;
}
