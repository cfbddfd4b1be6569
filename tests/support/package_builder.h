// Helpers for tests that need package files on disk or in memory.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "package/exe_adder.h"
#include "package/raii_items.h"
#include "package/writer.h"

// The bytes of a raw zlib stream of Bytes (compressed with the default level).
std::vector<uint8_t> Deflate(const std::vector<uint8_t>& Bytes);
std::vector<uint8_t> Bytes(const std::string& S);
// The same bytes deflated at another zlib level (0 gives stored blocks).
std::vector<uint8_t> DeflateAtLevel(const std::vector<uint8_t>& Bytes, int Level);

// A 2x1 bitmap file (24 bits per pixel): a "DialogImage" the dialog can show.
std::vector<uint8_t> TinyBitmap();
// The first bytes of an uncompressed SWF movie: what "FlashSwf" must start with.
std::vector<uint8_t> TinySwf();

// Stub followed by a package.
std::vector<uint8_t> WithPackage(const std::vector<uint8_t>& Stub, int32_t Key,
                                 const std::vector<TPackageRecord>& Records);

// Stub followed by a package written by the test's own hand, byte by byte
// from the layout (not by the writer plws uses): names scrambled with Key,
// then Slack, bytes inside the body that the reader does not read.
std::vector<uint8_t> HandWrittenSaver(const std::vector<uint8_t>& Stub, int32_t Key,
                                      const std::vector<TPackageRecord>& Records, const std::string& Slack = "");

// A little-endian byte writer for hand-made (often garbled) packages.
struct TByteWriter {
  std::vector<uint8_t> Out;
  TByteWriter& I32(int32_t V);
  TByteWriter& I64(int64_t V);
  TByteWriter& U8(uint8_t V);
  TByteWriter& Raw(const std::string& S);
  TByteWriter& Raw(const std::vector<uint8_t>& B);
  // Appends the trailer: body length (everything after BodyStart) and "PLWS".
  TByteWriter& Trailer(size_t BodyStart = 0);
};

// Writes Bytes to a fresh file in the system's temporary folder; removed by
// the destructor.
struct TTempFile {
  explicit TTempFile(const std::vector<uint8_t>& Bytes, const std::string& Suffix = ".bin");
  ~TTempFile();
  TTempFile(const TTempFile&) = delete;
  TTempFile& operator=(const TTempFile&) = delete;
  std::string Path;
};
