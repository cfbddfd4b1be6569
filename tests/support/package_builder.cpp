#include "tests/support/package_builder.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

#include "package/zlibex.h"

std::vector<uint8_t> Deflate(const std::vector<uint8_t>& B) { return CompressBuffer(B.data(), B.size()); }

std::vector<uint8_t> Bytes(const std::string& S) { return std::vector<uint8_t>(S.begin(), S.end()); }

std::vector<uint8_t> WithPackage(const std::vector<uint8_t>& Stub, int32_t Key,
                                 const std::vector<TPackageRecord>& Records) {
  auto out = Stub;
  const auto p = BuildPackage(Key, Records);
  out.insert(out.end(), p.begin(), p.end());
  return out;
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
