// The package tool: shows, checks, unpacks and builds the package of a saver,
// and moves one behind this project's stub.
// Normal output goes to Out, every diagnostic to Err ("plws: FILE: ...").
#pragma once
#include <cstdint>
#include <functional>
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

// Exit statuses: done, bad input (a message names the file), usage.
inline constexpr int kExitDone = 0;
inline constexpr int kExitBadInput = 1;
inline constexpr int kExitUsage = 2;

// A manifest describes a saver, one directive per line, in the grammar that
// `plws --help` prints (kUsage in plws.cpp); a storage word without :FLAG
// stores the flag 1, and a number has nothing after it.
struct TManifest {
  int32_t Key = 0;
  std::string Stub;  // resolved path; empty when the manifest names none
  std::vector<TPackageRecord> Records;
};

// The largest item a package can hold: its size is a signed 32-bit number.
inline constexpr int64_t kMaxItemSize = INT32_MAX;

// Reads a file named by a manifest: a regular file (a directory or a FIFO is
// refused, never read or waited on) of at most Limit bytes, checked before
// anything is read. Throws EPlwsError naming the path.
std::vector<uint8_t> ReadInputFile(const std::string& Path, int64_t Limit = INT64_MAX);
using TFileReader = std::function<std::vector<uint8_t>(const std::string& Path, int64_t Limit)>;

// Parses manifest text; BaseDir resolves paths, ReadFile reads `file`
// values. Throws EPlwsError whose text starts with "SourceName:LINE: ".
TManifest ParseManifest(const std::string& Text, const std::string& BaseDir, const std::string& SourceName,
                        const TFileReader& ReadFile = ReadInputFile);

// Writes the stub (StubPath, or else the manifest's own) followed by the
// package of the manifest to OutPath.
void PackFile(const std::string& StubPath, const std::string& OutPath, const std::string& ManifestPath);

// Prints every item of File: index, name, storage, stored and plain sizes,
// and the decoded value of known keys. False when the package is damaged or
// an item corrupt (after printing what could be read, the faults on Err).
bool ListFile(const std::string& File, std::ostream& Out, std::ostream& Err);

// Writes everything File's package needs to be rebuilt byte for byte into
// Dir: the stub, every item (and a compressed item's own stream where
// deflating again would not give it back) and Dir/manifest.plws. Creates
// only new files inside Dir, never following a link found there. False
// when the package is damaged (the rebuilt one would differ).
bool ExtractFile(const std::string& File, const std::string& Dir, std::ostream& Out, std::ostream& Err);

// Writes NewPath, a new file: the stub (StubPath, or else the saver.scr
// beside plws or of its build) followed by the package of OldPath byte for
// byte, from where the reader finds its body to the file's end. Refuses,
// before writing anything, an OldPath without a package or whose package
// the player's reader does not read whole, a NewPath that exists, and a
// stub that ends with a package itself.
void UpgradeFile(const std::string& StubPath, const std::string& OldPath, const std::string& NewPath,
                 std::ostream& Out);

// Reports a stub that is not this project's saver (which carries the Flash
// emulator: without it the movie needs the vendor's Flash control) and every
// item the player would ignore or misread, then a summary line. False when
// anything was reported.
bool CheckFile(const std::string& File, std::ostream& Out);

// Text with every byte outside printable ASCII (and the backslash) escaped;
// with Word a blank and a double quote are escaped too and the empty text is
// written "", so the result is one manifest word.
std::string EscapeBytes(const std::string& S, bool Word = false);
// The inverse of EscapeBytes; throws EPlwsError on a bad escape.
std::string UnescapeBytes(const std::string& S);
// Package text for the terminal: Shift-JIS decoded to UTF-8 where it is
// valid, control characters and backslashes escaped.
std::string TerminalText(const std::string& S);

int PlwsMain(int argc, char** argv);
