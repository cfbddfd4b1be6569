// libFuzzer target: any bytes as a `plws` manifest. A manifest either packs
// or fails with an EPlwsError whose text names its line; never anything
// else. What packs must read back record for record as the parser gave it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "package/exe_adder.h"
#include "package/stream.h"
#include "package/writer.h"
#include "tools/plws/plws.h"

namespace {

[[noreturn]] void Broken() { std::abort(); }

// Files named by the manifest, without touching the disk: a name ending in
// "missing" cannot be read, any other gives a few bytes of its own name.
std::vector<uint8_t> FakeFile(const std::string& Path, int64_t Limit) {
  if (Path.size() >= 7 && Path.compare(Path.size() - 7, 7, "missing") == 0)
    throw EPlwsError(Path + ": cannot open: No such file or directory");
  std::vector<uint8_t> bytes(Path.begin(), Path.end());
  if (static_cast<int64_t>(bytes.size()) > Limit) throw EPlwsError(Path + ": more than an item can hold");
  return bytes;
}

// "m.plws:N: text" with N a line of the text and some text after it.
void CheckMessage(const std::string& Message, const std::string& Text) {
  const std::string prefix = "m.plws:";
  if (Message.compare(0, prefix.size(), prefix) != 0) Broken();
  size_t i = prefix.size();
  int64_t line = 0;
  while (i < Message.size() && Message[i] >= '0' && Message[i] <= '9' && line < (int64_t{1} << 40))
    line = line * 10 + (Message[i++] - '0');
  int64_t lines = 1;
  for (char c : Text) lines += c == '\n';
  if (line < 1 || line > lines) Broken();
  if (Message.compare(i, 2, ": ") != 0 || Message.size() <= i + 2) Broken();
}

// The package built from the records reads back as exactly those records.
void CheckPacks(const TManifest& M) {
  const std::vector<uint8_t> package = BuildPackage(M.Key, M.Records);
  TMemoryStream stream(package);
  TPackageCursor cursor(stream);
  if (!cursor.Open() || cursor.Key() != M.Key || cursor.Count() != static_cast<int32_t>(M.Records.size())) Broken();
  for (const TPackageRecord& r : M.Records) {
    TRawRecord raw;
    if (!cursor.Next(raw) || raw.Name != r.Name || raw.Flag != r.Flag ||
        raw.Length != static_cast<int32_t>(r.Payload.size()))
      Broken();
    std::vector<uint8_t> data(r.Payload.size());
    cursor.ReadData(data.data(), raw.Length);
    if (data != r.Payload) Broken();
  }
  TRawRecord after;
  if (cursor.Next(after) || !cursor.Fault().Empty() || cursor.Left() != 0) Broken();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string text(reinterpret_cast<const char*>(Data), Size);
  TManifest manifest;
  try {
    manifest = ParseManifest(text, "base", "m.plws", FakeFile);
  } catch (const EPlwsError& e) {
    CheckMessage(e.what(), text);
    return 0;
  } catch (...) {
    Broken();  // any other failure is one the documented type does not cover
  }
  CheckPacks(manifest);
  return 0;
}
