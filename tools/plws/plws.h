// The package tool: shows, unpacks and builds the package of a saver.
#pragma once
#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "package/writer.h"

// A message for the user; the tool prints it and exits with status 1.
class EPlwsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A manifest describes a package, one directive per line:
//   # comment
//   key <int32>                                   (decimal or 0x hex; default 0)
//   item <name> <encoding> <storage> [<value>]
// encoding: flag (0..255) | int32 | text (rest of the line) | file (path,
// relative to the manifest) | hex (byte pairs); storage: stored | compressed.
// Names and text values take the escapes \\ \s (blank) \t \n \r \xHH.
struct TManifest {
  int32_t Key = 0;
  std::vector<TPackageRecord> Records;
};

// Parses manifest text; BaseDir resolves file values. Errors name the line.
TManifest ParseManifest(const std::string& Text, const std::string& BaseDir,
                        const std::string& SourceName);

// Writes Stub followed by the package of Manifest to Out.
void PackFile(const std::string& StubPath, const std::string& OutPath, const std::string& ManifestPath);

// Prints every item of File: index, name, stored flag, stored and plain
// sizes, and the decoded value of known keys. Returns false when the
// package is damaged (after printing what could be read).
bool ListFile(const std::string& File, std::ostream& Out);

// Writes every item of File into Dir as a file of its own, plus
// Dir/manifest.plws that packs them back into the same package.
// Only files inside Dir are written, whatever the item names hold.
bool ExtractFile(const std::string& File, const std::string& Dir, std::ostream& Out);

// Text with every byte outside printable ASCII (and the backslash) escaped;
// with EscapeBlank a blank becomes \s, so the result is one manifest word.
std::string EscapeBytes(const std::string& S, bool EscapeBlank = false);
// The inverse of EscapeBytes; throws EPlwsError on a bad escape.
std::string UnescapeBytes(const std::string& S);

int PlwsMain(int argc, char** argv);
