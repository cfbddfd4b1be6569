#include "tools/plws/stub.h"

#include <vector>

#include "flash/emulator_resource.h"
#include "package/exe_adder.h"
#include "package/stream.h"

namespace {

constexpr uint32_t kRcData = 10;         // RT_RCDATA
constexpr uint32_t kSubdirectory = 0x80000000u;
constexpr size_t kMaxDirectoryEntries = 0xFFFF * 2;  // named + numbered, 16 bits each

// Little-endian reads that refuse anything reaching past the image.
class TImageReader {
 public:
  TImageReader(const uint8_t* Data, size_t Size) : FData(Data), FSize(Size) {}
  bool Fits(uint64_t Offset, uint64_t Length) const { return Offset <= FSize && Length <= FSize - Offset; }
  bool U16(uint64_t Offset, uint32_t& Value) const { return Read(Offset, 2, Value); }
  bool U32(uint64_t Offset, uint32_t& Value) const { return Read(Offset, 4, Value); }

 private:
  bool Read(uint64_t Offset, unsigned Bytes, uint32_t& Value) const {
    if (!Fits(Offset, Bytes)) return false;
    Value = 0;
    for (unsigned i = 0; i < Bytes; ++i) Value |= static_cast<uint32_t>(FData[Offset + i]) << (8 * i);
    return true;
  }
  const uint8_t* FData;
  size_t FSize;
};

struct TSection {
  uint32_t VirtualAddress, RawSize, RawOffset;
};

// The image's sections and where its resources start, as far as the headers
// can be read; false for anything that is not a PE image.
bool ReadHeaders(const TImageReader& R, std::vector<TSection>& Sections, uint32_t& ResourceRva) {
  uint32_t magic = 0, peOffset = 0, signature = 0;
  if (!R.U16(0, magic) || magic != 0x5A4D || !R.U32(0x3C, peOffset) || !R.U32(peOffset, signature) ||
      signature != 0x00004550)
    return false;
  const uint64_t fileHeader = uint64_t{peOffset} + 4;
  const uint64_t optional = fileHeader + 20;
  uint32_t sectionCount = 0, optionalSize = 0, optionalMagic = 0;
  if (!R.U16(fileHeader + 2, sectionCount) || !R.U16(fileHeader + 16, optionalSize) ||
      !R.U16(optional, optionalMagic))
    return false;
  // Where the count of data directories and the directories stand differ
  // between 32-bit and 64-bit images.
  uint64_t countAt = 0;
  if (optionalMagic == 0x10B)
    countAt = 92;
  else if (optionalMagic == 0x20B)
    countAt = 108;
  else
    return false;
  uint32_t directoryCount = 0;
  const uint64_t resourceEntry = countAt + 4 + 2 * 8;  // directory 2: the resources
  if (!R.U32(optional + countAt, directoryCount) || directoryCount < 3 || resourceEntry + 8 > optionalSize ||
      !R.U32(optional + resourceEntry, ResourceRva) || ResourceRva == 0)
    return false;
  const uint64_t table = optional + optionalSize;
  for (uint32_t i = 0; i < sectionCount; ++i) {
    TSection s{};
    const uint64_t at = table + uint64_t{i} * 40;
    if (!R.U32(at + 12, s.VirtualAddress) || !R.U32(at + 16, s.RawSize) || !R.U32(at + 20, s.RawOffset))
      return false;
    Sections.push_back(s);
  }
  return true;
}

// The file offset of Length bytes at image address Rva, when one section's
// bytes in the file hold all of them.
std::optional<uint64_t> FileOffset(const TImageReader& R, const std::vector<TSection>& Sections, uint64_t Rva,
                                   uint64_t Length) {
  for (const TSection& s : Sections) {
    if (Rva < s.VirtualAddress) continue;
    const uint64_t into = Rva - s.VirtualAddress;
    if (into > s.RawSize || Length > s.RawSize - into) continue;
    const uint64_t offset = uint64_t{s.RawOffset} + into;
    if (R.Fits(offset, Length)) return offset;
  }
  return std::nullopt;
}

// The entry of the resource directory at DirectoryRva whose numeric id is Id
// (Id empty: the first entry); its word says where it leads, relative to the
// resources' start.
std::optional<uint32_t> DirectoryEntry(const TImageReader& R, const std::vector<TSection>& Sections,
                                       uint64_t DirectoryRva, std::optional<uint32_t> Id) {
  const auto head = FileOffset(R, Sections, DirectoryRva, 16);
  uint32_t named = 0, numbered = 0;
  if (!head || !R.U16(*head + 12, named) || !R.U16(*head + 14, numbered)) return std::nullopt;
  const size_t count = size_t{named} + numbered;
  if (count > kMaxDirectoryEntries) return std::nullopt;
  for (size_t i = 0; i < count; ++i) {
    const auto entry = FileOffset(R, Sections, DirectoryRva + 16 + uint64_t{i} * 8, 8);
    uint32_t name = 0, target = 0;
    if (!entry || !R.U32(*entry, name) || !R.U32(*entry + 4, target)) return std::nullopt;
    // Named entries (high bit set) come first and never match a number.
    if (!Id || ((name & kSubdirectory) == 0 && name == *Id)) return target;
  }
  return std::nullopt;
}

}  // namespace

std::optional<TResourceSpan> FindImageResource(const uint8_t* Image, size_t Size, uint32_t Type, uint32_t Id) {
  const TImageReader r(Image, Size);
  std::vector<TSection> sections;
  uint32_t root = 0;
  if (!ReadHeaders(r, sections, root)) return std::nullopt;
  // Three levels: type, then id, then language; the first two lead to
  // directories, the last to the data's description.
  const auto byType = DirectoryEntry(r, sections, root, Type);
  if (!byType || !(*byType & kSubdirectory)) return std::nullopt;
  const auto byId = DirectoryEntry(r, sections, uint64_t{root} + (*byType & ~kSubdirectory), Id);
  if (!byId || !(*byId & kSubdirectory)) return std::nullopt;
  const auto byLanguage = DirectoryEntry(r, sections, uint64_t{root} + (*byId & ~kSubdirectory), std::nullopt);
  if (!byLanguage || (*byLanguage & kSubdirectory)) return std::nullopt;
  const auto description = FileOffset(r, sections, uint64_t{root} + *byLanguage, 16);
  uint32_t dataRva = 0, dataSize = 0;
  if (!description || !r.U32(*description, dataRva) || !r.U32(*description + 4, dataSize)) return std::nullopt;
  const auto data = FileOffset(r, sections, dataRva, dataSize);
  if (!data) return std::nullopt;
  return TResourceSpan{static_cast<size_t>(*data), dataSize};
}

bool IsProjectStub(const uint8_t* Image, size_t Size) {
  const auto emulator = FindImageResource(Image, Size, kRcData, PL_EMULATOR_RESOURCE);
  if (!emulator) return false;
  TMemoryStream stream(std::vector<uint8_t>(Image + emulator->Offset, Image + emulator->Offset + emulator->Size));
  TPackageCursor cursor(stream);
  return cursor.Open() && cursor.Count() > 0;
}
