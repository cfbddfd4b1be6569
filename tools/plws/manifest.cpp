// Manifests: the text form of a saver that `plws pack` builds and
// `plws extract` writes. Every fault names its line; nothing in a manifest
// can make the parser read a file that is not a regular one, or one that
// cannot be an item.
#include <filesystem>
#include <sstream>

#include "package/stream.h"
#include "package/zlibex.h"
#include "tools/plws/plws.h"
#include "util/utils.h"

namespace fs = std::filesystem;

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Splits off the next blank-separated word of Line at Pos.
std::string NextWord(const std::string& Line, size_t& Pos) {
  while (Pos < Line.size() && IsBlank(Line[Pos])) ++Pos;
  const size_t start = Pos;
  while (Pos < Line.size() && !IsBlank(Line[Pos])) ++Pos;
  return Line.substr(start, Pos - start);
}

// What is left of Line after Pos, without the blanks at its ends.
std::string Rest(const std::string& Line, size_t Pos) {
  while (Pos < Line.size() && IsBlank(Line[Pos])) ++Pos;
  size_t end = Line.size();
  while (end > Pos && IsBlank(Line[end - 1])) --end;
  return Line.substr(Pos, end - Pos);
}

// One number and nothing after it.
int64_t NumberValue(const std::string& Text, int64_t Min, int64_t Max, const std::string& What) {
  size_t pos = 0;
  const std::string word = NextWord(Text, pos);
  const std::string after = Rest(Text, pos);
  if (!after.empty()) throw EPlwsError("unexpected text after the " + What + ": \"" + after + "\"");
  const auto value = ParseInteger(word, Min, Max, true);
  if (!value)
    throw EPlwsError(What + " needs a number from " + std::to_string(Min) + " to " + std::to_string(Max) +
                     " (decimal or 0x hexadecimal), got \"" + word + "\"");
  return *value;
}

// The storage word: stored, compressed[:FLAG] or zlib[:FLAG].
struct TStorage {
  bool Deflate = false;  // compressed: the value is deflated here
  uint8_t Flag = 0;
};

TStorage ParseStorage(const std::string& Word) {
  const size_t colon = Word.find(':');
  const std::string kind = Word.substr(0, colon);
  if (kind == "stored" && colon == std::string::npos) return {false, 0};
  if (kind != "compressed" && kind != "zlib")
    throw EPlwsError("storage must be stored, compressed[:FLAG] or zlib[:FLAG], got \"" + Word + "\"");
  int64_t flag = 1;
  // A stored flag of 0 means stored: the others all mean a zlib stream.
  if (colon != std::string::npos) flag = NumberValue(Word.substr(colon + 1), 1, 255, "stored flag");
  return {kind == "compressed", static_cast<uint8_t>(flag)};
}

std::vector<uint8_t> HexBytes(const std::string& Value) {
  std::string digits;
  for (char c : Value)
    if (!IsBlank(c)) digits += c;
  if (digits.size() % 2) throw EPlwsError("hex needs pairs of digits");
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < digits.size(); i += 2) {
    const int byte = HexPairValue(digits, i);
    if (byte < 0) throw EPlwsError("hex holds a character that is not a hexadecimal digit");
    bytes.push_back(static_cast<uint8_t>(byte));
  }
  return bytes;
}

std::string Resolve(const std::string& BaseDir, const std::string& Path) {
  return fs::path(Path).is_absolute() ? Path : (fs::path(BaseDir) / Path).string();
}

}  // namespace

std::string EscapeBytes(const std::string& S, bool Word) {
  if (Word && S.empty()) return "\"\"";
  std::string out;
  for (unsigned char c : S) {
    if (c == '\\') {
      out += "\\\\";
    } else if (Word && c == ' ') {
      out += "\\s";
    } else if (c < 0x20 || c >= 0x7F || (Word && c == '"')) {
      char buf[5];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string UnescapeBytes(const std::string& S) {
  std::string out;
  for (size_t i = 0; i < S.size(); ++i) {
    if (S[i] != '\\') {
      out += S[i];
      continue;
    }
    if (++i >= S.size()) throw EPlwsError("backslash at the end of a value");
    switch (S[i]) {
      case '\\': out += '\\'; break;
      case 's': out += ' '; break;
      case 't': out += '\t'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 'x': {
        const int byte = HexPairValue(S, i + 1);
        if (byte < 0) throw EPlwsError("\\x needs two hexadecimal digits");
        out += static_cast<char>(byte);
        i += 2;
        break;
      }
      default: throw EPlwsError(std::string("unknown escape \\") + S[i]);
    }
  }
  return out;
}

std::vector<uint8_t> ReadInputFile(const std::string& Path, int64_t Limit) {
  try {
    TFileReadStream stream(Path);
    const int64_t size = stream.Size();
    if (size > Limit)
      throw EPlwsError(Path + ": " + std::to_string(size) + " bytes, more than an item can hold (" +
                       std::to_string(Limit) + ")");
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    stream.ReadBuffer(bytes.data(), size);
    return bytes;
  } catch (const EFOpenError& e) {
    throw EPlwsError(e.what());
  } catch (const EReadError& e) {
    throw EPlwsError(Path + ": " + e.what());
  }
}

TManifest ParseManifest(const std::string& Text, const std::string& BaseDir, const std::string& SourceName,
                        const TFileReader& ReadFile) {
  TManifest m;
  std::istringstream in(Text);
  std::string line;
  int lineNo = 0;
  while (std::getline(in, line)) {
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t pos = 0;
    const std::string directive = NextWord(line, pos);
    if (directive.empty() || directive[0] == '#') continue;
    try {
      if (directive == "key") {
        m.Key = static_cast<int32_t>(static_cast<uint32_t>(NumberValue(line.substr(pos), INT32_MIN, UINT32_MAX, "key")));
        continue;
      }
      if (directive == "stub") {
        const std::string path = Rest(line, pos);
        if (path.empty()) throw EPlwsError("stub needs a path");
        m.Stub = Resolve(BaseDir, path);
        continue;
      }
      if (directive != "item") throw EPlwsError("unknown directive \"" + directive + "\" (expected key, stub or item)");
      const std::string nameWord = NextWord(line, pos);
      const std::string encoding = NextWord(line, pos);
      const std::string storageWord = NextWord(line, pos);
      if (storageWord.empty()) throw EPlwsError("item needs a name, an encoding and a storage");
      const std::string name = nameWord == "\"\"" ? std::string() : UnescapeBytes(nameWord);
      const TStorage storage = ParseStorage(storageWord);
      // The value is the rest of the line after one separating blank.
      const std::string value = pos < line.size() ? line.substr(pos + 1) : std::string();
      std::vector<uint8_t> bytes;
      if (encoding == "flag") {
        bytes = {static_cast<uint8_t>(NumberValue(value, 0, 255, "flag"))};
      } else if (encoding == "int32") {
        bytes = Int32Bytes(static_cast<int32_t>(static_cast<uint32_t>(NumberValue(value, INT32_MIN, UINT32_MAX, "int32"))));
      } else if (encoding == "text") {
        const std::string t = UnescapeBytes(value);
        bytes.assign(t.begin(), t.end());
      } else if (encoding == "file") {
        const std::string path = Rest(value, 0);
        if (path.empty()) throw EPlwsError("file needs a path");
        bytes = ReadFile(Resolve(BaseDir, path), kMaxItemSize);
      } else if (encoding == "hex") {
        bytes = HexBytes(value);
      } else {
        throw EPlwsError("encoding must be flag, int32, text, file or hex, got \"" + encoding + "\"");
      }
      if (bytes.size() > static_cast<size_t>(kMaxItemSize))
        throw EPlwsError(std::to_string(bytes.size()) + " bytes, more than an item can hold");
      TPackageRecord record{name, storage.Flag, std::move(bytes)};
      if (storage.Deflate) {
        record.Payload = CompressBuffer(record.Payload.data(), record.Payload.size());
        if (record.Payload.size() > static_cast<size_t>(kMaxItemSize))
          throw EPlwsError("the deflated item takes " + std::to_string(record.Payload.size()) +
                           " bytes, more than an item can hold");
      }
      m.Records.push_back(std::move(record));
    } catch (const EPlwsError& e) {
      throw EPlwsError(SourceName + ":" + std::to_string(lineNo) + ": " + e.what());
    } catch (const EZLibError& e) {
      throw EPlwsError(SourceName + ":" + std::to_string(lineNo) + ": cannot deflate: " + e.what());
    }
  }
  return m;
}
