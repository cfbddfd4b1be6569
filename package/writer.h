// Writes packages in the format ReadExeItems reads: used by the package tool
// and by tests that need packages of every shape.
#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// A record the format cannot describe: a name or payload longer than a
// signed 32-bit length, or more records than the count holds.
class EPackageWriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One record exactly as it will be stored: Payload is written as is, so a
// test can store a corrupt stream or an odd flag byte.
struct TPackageRecord {
  std::string Name;  // plain name; scrambled with the key when written
  uint8_t Flag = 0;  // 0 = stored, anything else = Payload is a zlib stream
  std::vector<uint8_t> Payload;
};

TPackageRecord StoredItem(const std::string& Name, const std::vector<uint8_t>& Bytes);
TPackageRecord StoredItem(const std::string& Name, const std::string& Text);
// Deflated with zlib's default level.
TPackageRecord CompressedItem(const std::string& Name, const std::vector<uint8_t>& Bytes);
TPackageRecord CompressedItem(const std::string& Name, const std::string& Text);

std::vector<uint8_t> Int32Bytes(int32_t Value);

// Body (key, count, records) followed by the trailer (body length, "PLWS"):
// the bytes to append behind an executable image. Throws EPackageWriteError
// instead of writing a length that would wrap.
std::vector<uint8_t> BuildPackage(int32_t Key, const std::vector<TPackageRecord>& Records);
