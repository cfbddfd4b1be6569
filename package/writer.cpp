#include "package/writer.h"

#include <algorithm>

#include "package/exe_adder.h"
#include "package/stream_utils.h"
#include "package/zlibex.h"

TPackageRecord StoredItem(const std::string& Name, const std::vector<uint8_t>& Bytes) {
  return {Name, 0, Bytes};
}

TPackageRecord StoredItem(const std::string& Name, const std::string& Text) {
  return {Name, 0, std::vector<uint8_t>(Text.begin(), Text.end())};
}

TPackageRecord CompressedItem(const std::string& Name, const std::vector<uint8_t>& Bytes) {
  return {Name, 1, CompressBuffer(Bytes.data(), Bytes.size())};
}

TPackageRecord CompressedItem(const std::string& Name, const std::string& Text) {
  return CompressedItem(Name, std::vector<uint8_t>(Text.begin(), Text.end()));
}

std::vector<uint8_t> Int32Bytes(int32_t Value) {
  const auto v = static_cast<uint32_t>(Value);
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

std::vector<uint8_t> BuildPackage(int32_t Key, const std::vector<TPackageRecord>& Records) {
  // Every length is written as a signed 32-bit number: refuse what would wrap.
  constexpr size_t kMax = INT32_MAX;
  if (Records.size() > kMax) throw EPackageWriteError("more records than a package can count");
  for (const auto& r : Records)
    if (r.Name.size() > kMax || r.Payload.size() > kMax)
      throw EPackageWriteError("item \"" + r.Name.substr(0, 64) + "\": " +
                               std::to_string(std::max(r.Name.size(), r.Payload.size())) +
                               " bytes, more than a record can hold");
  TMemoryStream s;
  WriteInteger(s, Key);
  WriteInteger(s, static_cast<int32_t>(Records.size()));
  const auto keyByte = static_cast<uint8_t>(Key & 0xFF);
  for (const auto& r : Records) {
    WriteString(s, XorString(r.Name, keyByte));
    s.Write(&r.Flag, 1);
    WriteInteger(s, static_cast<int32_t>(r.Payload.size()));
    s.Write(r.Payload.data(), r.Payload.size());
  }
  const auto bodyLength = static_cast<int64_t>(s.Size());
  WriteInt64(s, bodyLength);
  s.Write(kPackageMagic, 4);
  return s.Bytes();
}
