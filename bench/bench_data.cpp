#include "bench/bench_data.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

#include "package/exe_adder.h"
#include "package/stream.h"
#include "package/writer.h"
#include "package/zlibex.h"

namespace fs = std::filesystem;

namespace {

// Bump when the generated content changes, so stale files are not reused.
constexpr int kDataVersion = 2;

std::string SizeTag(size_t Size) {
  if (Size % (1u << 20) == 0) return std::to_string(Size >> 20) + "M";
  return std::to_string(Size >> 10) + "K";
}

// The executable image in front of the package; the reader never looks at it.
std::vector<uint8_t> Stub() {
  std::vector<uint8_t> stub(64 << 10, 0x90);
  stub[0] = 'M';
  stub[1] = 'Z';
  return stub;
}

std::vector<TPackageRecord> Settings(const std::string& Guid) {
  return {
      CompressedItem("GUID", Guid),
      StoredItem("FlashLoop", std::vector<uint8_t>{1}),
      StoredItem("FlashStretch", std::vector<uint8_t>{1}),
      StoredItem("FlashMenu", std::vector<uint8_t>{0}),
      StoredItem("FlashQuality", Int32Bytes(1)),
      StoredItem("FlashBackColor", Int32Bytes(0x402000)),
      CompressedItem("FlashVars", std::string("bench=1")),
      CompressedItem("FlashSwfName", std::string("movie.swf")),
      StoredItem("ScreenSaverPosition", Int32Bytes(0)),
      CompressedItem("DialogTitle", std::string("benchmark saver")),
      CompressedItem("DialogCopyrightStr", std::string("(c) 2026 benchmark")),
      StoredItem("DialogCloseBtn", std::vector<uint8_t>{1}),
  };
}

void WriteFile(const std::string& Path, const std::vector<uint8_t>& Stub,
               const std::vector<uint8_t>& Package) {
  const std::string temp = Path + ".part";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(Stub.data()), static_cast<std::streamsize>(Stub.size()));
    out.write(reinterpret_cast<const char*>(Package.data()), static_cast<std::streamsize>(Package.size()));
    if (!out.flush()) throw std::runtime_error("cannot write " + temp);
  }
  fs::rename(temp, Path);  // a run cut short never leaves a half file under the real name
}

// Walks the file with the package cursor and inflates each compressed record
// once, untimed, to learn its plain size and how many blocks it takes.
TBenchPackage Describe(const std::string& Path) {
  TBenchPackage p;
  p.Path = Path;
  TFileReadStream stream(Path);
  p.FileSize = stream.Size();
  TPackageCursor cursor(stream);
  if (!cursor.Open()) throw std::runtime_error(Path + ": no package");
  TRawRecord raw;
  while (cursor.Next(raw)) {
    if (raw.Flag == 0 || raw.Length <= 0) {
      cursor.SkipData(raw.Length);
      continue;
    }
    std::vector<uint8_t> stored(static_cast<size_t>(raw.Length));
    cursor.ReadData(stored.data(), raw.Length);
    void* out = nullptr;
    int32_t size = 0;
    std::vector<int64_t> blocks;
    DecompressBuffer(stored.data(), raw.Length, out, size, 0, &blocks);
    std::free(out);
    // The trace ends with the trim, which is not an allocation of its own.
    p.Compressed.push_back({raw.Name, raw.DataOffset, raw.Length, size,
                            static_cast<int32_t>(blocks.size()) - 1});
  }
  return p;
}

template <class Build>
TBenchPackage Cached(const std::string& Dir, const std::string& Name, Build&& BuildPackageBytes) {
  fs::create_directories(Dir);
  const std::string path = (fs::path(Dir) / (Name + "-v" + std::to_string(kDataVersion) + ".scr")).string();
  if (!fs::exists(path)) WriteFile(path, Stub(), BuildPackageBytes());
  return Describe(path);
}

}  // namespace

const char* PayloadName(TPayload Payload) {
  switch (Payload) {
    case TPayload::Random: return "random";
    case TPayload::Compressible: return "compressible";
    case TPayload::Text: return "text";
  }
  return "";
}

std::vector<uint8_t> MakePayload(TPayload Payload, size_t Size, uint32_t Seed) {
  std::vector<uint8_t> bytes(Size);
  if (Payload == TPayload::Random) {
    std::mt19937_64 rng(Seed);
    size_t i = 0;
    for (; i + 8 <= Size; i += 8) {
      const uint64_t v = rng();
      std::memcpy(&bytes[i], &v, 8);
    }
    for (; i < Size; ++i) bytes[i] = static_cast<uint8_t>(rng());
  } else if (Payload == TPayload::Text) {
    std::mt19937 rng(Seed);
    std::string text;
    while (text.size() < Size) {
      text += "<shape id=\"" + std::to_string(rng() % 100000) + "\" x=\"" + std::to_string(rng() % 1920) +
              "\" y=\"" + std::to_string(rng() % 1080) + "\" fill=\"#" + std::to_string(rng() % 999999) +
              "\"/>\n";
    }
    std::memcpy(bytes.data(), text.data(), Size);
  } else {
    // The same byte throughout, like a blank bitmap or silence: deflate's best
    // case (about 1030:1), and so the most growth steps for the output block.
    std::memset(bytes.data(), static_cast<int>(Seed & 0xFF), Size);
  }
  return bytes;
}

const TBenchRecord* TBenchPackage::Find(const std::string& Name) const {
  for (const auto& r : Compressed)
    if (r.Name == Name) return &r;
  return nullptr;
}

TBenchPackage ReaderPackage(const std::string& Dir, TPayload Payload, size_t MovieSize) {
  const std::string name = std::string("reader-") + PayloadName(Payload) + "-" + SizeTag(MovieSize);
  return Cached(Dir, name, [&] {
    auto records = Settings("{0B3E5C1A-7D42-4F7E-9A11-BE7C4D2F8A60}");
    records.push_back(CompressedItem("FlashSwf", MakePayload(Payload, MovieSize, 1)));
    return BuildPackage(0x5A, records);
  });
}

TBenchPackage ExtractPackage(const std::string& Dir, size_t MovieSize, int NeedFiles, size_t NeedSize) {
  const std::string name = "extract-" + SizeTag(MovieSize) + "-" + std::to_string(NeedFiles) + "x" +
                           SizeTag(NeedSize);
  return Cached(Dir, name, [&] {
    auto records = Settings("{5E0C7A92-1B6D-4C3F-8E24-90AF3D6B1C77}");
    records.push_back(CompressedItem("FlashSwf", MakePayload(TPayload::Random, MovieSize, 2)));
    records.push_back(StoredItem("FlashNeedFileCount", Int32Bytes(NeedFiles)));
    for (int i = 0; i < NeedFiles; ++i) {
      const auto payload = i % 2 == 0 ? TPayload::Text : TPayload::Random;
      const std::string index = std::to_string(i);
      records.push_back(CompressedItem("FlashNeedFileName" + index,
                                       "need" + index + (i % 2 == 0 ? ".xml" : ".bin")));
      records.push_back(CompressedItem("FlashNeedFileData" + index,
                                       MakePayload(payload, NeedSize, 100 + static_cast<uint32_t>(i))));
    }
    return BuildPackage(0x5A, records);
  });
}
