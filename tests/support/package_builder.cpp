#include "tests/support/package_builder.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

#include <zlib.h>

#include "package/zlibex.h"

std::vector<uint8_t> Deflate(const std::vector<uint8_t>& B) { return CompressBuffer(B.data(), B.size()); }

std::vector<uint8_t> Bytes(const std::string& S) { return std::vector<uint8_t>(S.begin(), S.end()); }

std::vector<uint8_t> DeflateAtLevel(const std::vector<uint8_t>& B, int Level) {
  uLongf size = compressBound(static_cast<uLong>(B.size()));
  std::vector<uint8_t> out(size);
  if (compress2(out.data(), &size, B.data(), static_cast<uLong>(B.size()), Level) != Z_OK)
    throw std::runtime_error("compress2 failed");
  out.resize(size);
  return out;
}

std::vector<uint8_t> TinyBitmap() {
  TByteWriter w;
  w.Raw("BM").I32(14 + 40 + 8).I32(0).I32(14 + 40);                  // file header
  w.I32(40).I32(2).I32(1).U8(1).U8(0).U8(24).U8(0).I32(0).I32(8);    // info header: 2x1, 24 bits
  w.I32(2835).I32(2835).I32(0).I32(0);
  w.U8(0x00).U8(0x00).U8(0xFF).U8(0xFF).U8(0x00).U8(0x00).U8(0).U8(0);  // red, blue, row padding
  return w.Out;
}

std::vector<uint8_t> TinySwf() {
  TByteWriter w;
  w.Raw("FWS").U8(6).I32(20);                                 // signature, version, file length
  w.U8(0x50).U8(0).U8(0).U8(0).U8(0).U8(0);                   // frame rectangle, 10-bit fields, all 0
  w.U8(0).U8(12).U8(1).U8(0);                                 // 12 frames a second, one frame
  w.U8(0).U8(0);                                              // End
  return w.Out;
}

std::vector<uint8_t> WithPackage(const std::vector<uint8_t>& Stub, int32_t Key,
                                 const std::vector<TPackageRecord>& Records) {
  auto out = Stub;
  const auto p = BuildPackage(Key, Records);
  out.insert(out.end(), p.begin(), p.end());
  return out;
}

std::vector<uint8_t> HandWrittenSaver(const std::vector<uint8_t>& Stub, int32_t Key,
                                      const std::vector<TPackageRecord>& Records, const std::string& Slack) {
  TByteWriter w;
  w.Raw(Stub);
  w.I32(Key).I32(static_cast<int32_t>(Records.size()));
  for (const TPackageRecord& r : Records) {
    std::string name = r.Name;
    for (char& c : name) c = static_cast<char>(c ^ (Key & 0xFF));
    w.I32(static_cast<int32_t>(name.size())).Raw(name).U8(r.Flag).I32(static_cast<int32_t>(r.Payload.size()));
    w.Raw(r.Payload);
  }
  w.Raw(Slack);
  return w.Trailer(Stub.size()).Out;
}

TByteWriter& TByteWriter::I32(int32_t V) {
  for (int i = 0; i < 4; ++i) Out.push_back(static_cast<uint8_t>(static_cast<uint32_t>(V) >> (8 * i)));
  return *this;
}
TByteWriter& TByteWriter::I64(int64_t V) {
  for (int i = 0; i < 8; ++i) Out.push_back(static_cast<uint8_t>(static_cast<uint64_t>(V) >> (8 * i)));
  return *this;
}
TByteWriter& TByteWriter::U8(uint8_t V) {
  Out.push_back(V);
  return *this;
}
TByteWriter& TByteWriter::Raw(const std::string& S) {
  Out.insert(Out.end(), S.begin(), S.end());
  return *this;
}
TByteWriter& TByteWriter::Raw(const std::vector<uint8_t>& B) {
  Out.insert(Out.end(), B.begin(), B.end());
  return *this;
}
TByteWriter& TByteWriter::Trailer(size_t BodyStart) {
  I64(static_cast<int64_t>(Out.size() - BodyStart));
  return Raw("PLWS");
}

TTempFile::TTempFile(const std::vector<uint8_t>& B, const std::string& Suffix) {
  static std::atomic<int> counter{0};
  const auto dir = std::filesystem::temp_directory_path();
  Path = (dir / ("pl_test_" + std::to_string(std::random_device{}()) + "_" +
                 std::to_string(counter++) + Suffix))
             .string();
  std::ofstream f(Path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(B.data()), static_cast<std::streamsize>(B.size()));
  if (!f.flush()) throw std::runtime_error("cannot write " + Path);
}

TTempFile::~TTempFile() { std::remove(Path.c_str()); }
