#include "tools/plws/plws.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>

#include "app/catalogue.h"
#include "package/exe_adder.h"
#include "package/stream.h"
#include "package/zlibex.h"
#include "tools/plws/play.h"

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> ReadWholeFile(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  if (!in) throw EPlwsError(Path + ": cannot open: " + std::strerror(errno));
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw EPlwsError(Path + ": read error");
  return bytes;
}

void WriteWholeFile(const std::string& Path, const void* Data, size_t Size) {
  std::ofstream out(Path, std::ios::binary | std::ios::trunc);
  if (!out) throw EPlwsError(Path + ": cannot create: " + std::strerror(errno));
  out.write(static_cast<const char*>(Data), static_cast<std::streamsize>(Size));
  if (!out.flush()) throw EPlwsError(Path + ": write error");
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseInt32(const std::string& S, int32_t& Value) {
  if (S.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(S.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || v < INT32_MIN || v > UINT32_MAX) return false;
  Value = static_cast<int32_t>(static_cast<uint32_t>(v));
  return true;
}

// Splits off the next blank-separated word of Line at Pos.
std::string NextWord(const std::string& Line, size_t& Pos) {
  while (Pos < Line.size() && (Line[Pos] == ' ' || Line[Pos] == '\t')) ++Pos;
  const size_t start = Pos;
  while (Pos < Line.size() && Line[Pos] != ' ' && Line[Pos] != '\t') ++Pos;
  return Line.substr(start, Pos - start);
}

// A short, safe file name for item Index: only [A-Za-z0-9_.-] survive, so an
// item name can never steer the write outside the target folder.
std::string ItemFileName(size_t Index, const std::string& Name) {
  std::string safe;
  for (unsigned char c : Name.substr(0, 48))
    safe += (std::isalnum(c) || c == '_' || c == '-') ? static_cast<char>(c) : '_';
  std::string ext = ".bin";
  if (Name == "FlashSwf") ext = ".swf";
  if (Name == "DialogImage") ext = ".bmp";
  char prefix[16];
  std::snprintf(prefix, sizeof prefix, "%03zu-", Index);
  return prefix + safe + ext;
}

std::string DescribeValue(const std::string& Name, const uint8_t* Data, int32_t Size) {
  const TCatalogueEntry* e = FindCatalogueEntry(Name);
  if (!e) return "";
  switch (e->Encoding) {
    case TItemEncoding::Flag: {
      const auto v = DecodeFlag(Data, Size);
      return v ? (*v ? "on" : "off") : "(too short for a flag)";
    }
    case TItemEncoding::Int32: {
      const auto v = DecodeInt32(Data, Size);
      if (!v) return "(too short for an int32)";
      if (Name == "FlashBackColor") {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%d (0x%06X)", *v, static_cast<unsigned>(*v));
        return buf;
      }
      return std::to_string(*v);
    }
    case TItemEncoding::Text: return "\"" + EscapeBytes(DecodeText(Data, Size)) + "\"";
    case TItemEncoding::Bytes: return std::to_string(Size) + " bytes";
  }
  return "";
}

struct TPackageFile {
  std::unique_ptr<TFileReadStream> Stream;
  std::unique_ptr<TPackageCursor> Cursor;
};

TPackageFile OpenPackage(const std::string& File) {
  TPackageFile p;
  try {
    p.Stream = std::make_unique<TFileReadStream>(File);
  } catch (const EFOpenError&) {
    throw EPlwsError(File + ": cannot open: " + std::strerror(errno));
  }
  p.Cursor = std::make_unique<TPackageCursor>(*p.Stream);
  if (!p.Cursor->Open())
    throw EPlwsError(File + ": no package (the file does not end with a valid \"PLWS\" trailer)");
  return p;
}

// Reads the data of the record the cursor just returned and inflates it when
// it is compressed. Error is set instead of throwing for a corrupt stream.
std::vector<uint8_t> ReadRecordData(TPackageCursor& Cursor, const TRawRecord& R, std::string& Error) {
  std::vector<uint8_t> stored(R.Length > 0 ? static_cast<size_t>(R.Length) : 0);
  Cursor.ReadData(stored.data(), R.Length);
  if (R.Flag == 0 || R.Length <= 0) return stored;
  try {
    void* out = nullptr;
    int32_t outSize = 0;
    DecompressBuffer(stored.data(), R.Length, out, outSize, 0);
    std::vector<uint8_t> plain(static_cast<uint8_t*>(out), static_cast<uint8_t*>(out) + outSize);
    std::free(out);
    return plain;
  } catch (const EZLibError& e) {
    Error = e.what();
    return {};
  }
}

}  // namespace

std::string EscapeBytes(const std::string& S, bool EscapeBlank) {
  std::string out;
  for (unsigned char c : S) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == ' ' && EscapeBlank) {
      out += "\\s";
    } else if (c < 0x20 || c >= 0x7F) {
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
        const int hi = i + 1 < S.size() ? HexValue(S[i + 1]) : -1;
        const int lo = i + 2 < S.size() ? HexValue(S[i + 2]) : -1;
        if (hi < 0 || lo < 0) throw EPlwsError("\\x needs two hexadecimal digits");
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        break;
      }
      default: throw EPlwsError(std::string("unknown escape \\") + S[i]);
    }
  }
  return out;
}

TManifest ParseManifest(const std::string& Text, const std::string& BaseDir,
                        const std::string& SourceName) {
  TManifest m;
  std::istringstream in(Text);
  std::string line;
  int lineNo = 0;
  while (std::getline(in, line)) {
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    auto fail = [&](const std::string& what) {
      throw EPlwsError(SourceName + ":" + std::to_string(lineNo) + ": " + what);
    };
    size_t pos = 0;
    const std::string directive = NextWord(line, pos);
    if (directive.empty() || directive[0] == '#') continue;
    try {
      if (directive == "key") {
        const std::string v = NextWord(line, pos);
        if (!ParseInt32(v, m.Key)) fail("key needs a 32-bit integer, got \"" + v + "\"");
        continue;
      }
      if (directive != "item") fail("unknown directive \"" + directive + "\" (expected key or item)");
      const std::string name = UnescapeBytes(NextWord(line, pos));
      const std::string encoding = NextWord(line, pos);
      const std::string storage = NextWord(line, pos);
      if (name.empty()) fail("item needs a name");
      if (storage != "stored" && storage != "compressed")
        fail("storage must be stored or compressed, got \"" + storage + "\"");
      // The value is the rest of the line after one separating blank.
      std::string value = pos < line.size() ? line.substr(pos + 1) : std::string();
      std::vector<uint8_t> bytes;
      if (encoding == "flag") {
        int32_t v = 0;
        if (!ParseInt32(value, v) || v < 0 || v > 255) fail("flag needs 0..255, got \"" + value + "\"");
        bytes = {static_cast<uint8_t>(v)};
      } else if (encoding == "int32") {
        int32_t v = 0;
        if (!ParseInt32(value, v)) fail("int32 needs a 32-bit integer, got \"" + value + "\"");
        bytes = Int32Bytes(v);
      } else if (encoding == "text") {
        const std::string t = UnescapeBytes(value);
        bytes.assign(t.begin(), t.end());
      } else if (encoding == "file") {
        if (value.empty()) fail("file needs a path");
        const fs::path p = fs::path(value).is_absolute() ? fs::path(value) : fs::path(BaseDir) / value;
        bytes = ReadWholeFile(p.string());
      } else if (encoding == "hex") {
        std::string digits;
        for (char c : value)
          if (c != ' ' && c != '\t') digits += c;
        if (digits.size() % 2) fail("hex needs pairs of digits");
        for (size_t i = 0; i < digits.size(); i += 2) {
          const int hi = HexValue(digits[i]), lo = HexValue(digits[i + 1]);
          if (hi < 0 || lo < 0) fail("hex holds a character that is not a hexadecimal digit");
          bytes.push_back(static_cast<uint8_t>(hi * 16 + lo));
        }
      } else {
        fail("encoding must be flag, int32, text, file or hex, got \"" + encoding + "\"");
      }
      m.Records.push_back(storage == "compressed" ? CompressedItem(name, bytes) : StoredItem(name, bytes));
    } catch (const EPlwsError& e) {
      const std::string what = e.what();
      if (what.rfind(SourceName + ":", 0) == 0) throw;
      fail(what);
    }
  }
  return m;
}

void PackFile(const std::string& StubPath, const std::string& OutPath, const std::string& ManifestPath) {
  const auto manifestBytes = ReadWholeFile(ManifestPath);
  const TManifest m = ParseManifest(std::string(manifestBytes.begin(), manifestBytes.end()),
                                    fs::path(ManifestPath).parent_path().string(), ManifestPath);
  std::vector<uint8_t> out = ReadWholeFile(StubPath);
  const auto package = BuildPackage(m.Key, m.Records);
  out.insert(out.end(), package.begin(), package.end());
  WriteWholeFile(OutPath, out.data(), out.size());
}

bool ListFile(const std::string& File, std::ostream& Out) {
  TPackageFile p = OpenPackage(File);
  TPackageCursor& c = *p.Cursor;
  Out << File << ": package of " << c.BodyEnd() - c.BodyStart() << " bytes at offset "
      << c.BodyStart() << ", key " << c.Key() << " (name byte 0x" << std::hex
      << (c.Key() & 0xFF) << std::dec << "), " << c.Count() << " items\n";
  bool ok = true;
  TRawRecord r;
  int32_t index = 0;
  while (c.Next(r)) {
    std::string error;
    const auto data = ReadRecordData(c, r, error);
    Out << "  " << index++ << "  " << EscapeBytes(r.Name, true) << "  "
        << (r.Flag ? "compressed" : "stored") << "  " << std::max<int32_t>(r.Length, 0) << " -> ";
    if (!error.empty()) {
      Out << "?  (corrupt: " << error << ")\n";
      ok = false;
      continue;
    }
    Out << data.size();
    const std::string value =
        DescribeValue(r.Name, data.empty() ? nullptr : data.data(), static_cast<int32_t>(data.size()));
    if (!value.empty()) Out << "  " << value;
    Out << "\n";
  }
  if (index < c.Count()) {
    Out << File << ": damaged package: " << c.Count() << " items announced, " << index
        << " readable\n";
    ok = false;
  }
  return ok;
}

bool ExtractFile(const std::string& File, const std::string& Dir, std::ostream& Out) {
  TPackageFile p = OpenPackage(File);
  TPackageCursor& c = *p.Cursor;
  std::error_code ec;
  fs::create_directories(Dir, ec);
  if (ec) throw EPlwsError(Dir + ": cannot create: " + ec.message());
  std::ostringstream manifest;
  manifest << "# written by plws extract from " << File << "\n";
  manifest << "key " << c.Key() << "\n";
  bool ok = true;
  TRawRecord r;
  size_t index = 0;
  while (c.Next(r)) {
    std::string error;
    const auto data = ReadRecordData(c, r, error);
    if (!error.empty()) {
      Out << File << ": item " << index << " (" << EscapeBytes(r.Name) << ") is corrupt: " << error
          << "\n";
      ok = false;
      ++index;
      continue;
    }
    const std::string name = ItemFileName(index++, r.Name);
    WriteWholeFile((fs::path(Dir) / name).string(), data.data(), data.size());
    manifest << "item " << EscapeBytes(r.Name, true) << " file " << (r.Flag ? "compressed" : "stored") << " "
             << name << "\n";
  }
  if (static_cast<int32_t>(index) < c.Count()) {
    Out << File << ": damaged package: " << c.Count() << " items announced, " << index
        << " readable\n";
    ok = false;
  }
  const std::string text = manifest.str();
  WriteWholeFile((fs::path(Dir) / "manifest.plws").string(), text.data(), text.size());
  Out << "extracted " << index << " items to " << Dir << "\n";
  return ok;
}

namespace {
int Usage(const char* What = nullptr) {
  if (What) std::cerr << "plws: " << What << "\n";
  std::cerr << "usage:\n"
               "  plws list FILE                        show the items of a saver's package\n"
               "  plws extract FILE DIR                 write every item and a manifest into DIR\n"
               "  plws pack --stub STUB --out OUT MANIFEST   build a saver: STUB + package\n"
               "  plws play FILE [--preview] [--window WxH] [--screenshot PNG [--after SECONDS]]\n"
               "                                        play the movie in Chromium with Ruffle (Linux)\n";
  return 2;
}
}  // namespace

int PlwsMain(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage();
  const std::string cmd = args[0];
  try {
    if (cmd == "list") {
      if (args.size() != 2) return Usage("list takes one FILE");
      return ListFile(args[1], std::cout) ? 0 : 1;
    }
    if (cmd == "extract") {
      if (args.size() != 3) return Usage("extract takes FILE and DIR");
      return ExtractFile(args[1], args[2], std::cout) ? 0 : 1;
    }
    if (cmd == "pack") {
      std::string stub, out, manifest;
      for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--stub" && i + 1 < args.size())
          stub = args[++i];
        else if (args[i] == "--out" && i + 1 < args.size())
          out = args[++i];
        else if (!args[i].empty() && args[i][0] != '-' && manifest.empty())
          manifest = args[i];
        else
          return Usage(("unexpected argument " + args[i]).c_str());
      }
      if (stub.empty() || out.empty() || manifest.empty())
        return Usage("pack needs --stub STUB, --out OUT and a MANIFEST");
      PackFile(stub, out, manifest);
      return 0;
    }
    if (cmd == "play") return PlayCommand(std::vector<std::string>(args.begin() + 1, args.end()));
    if (cmd == "-h" || cmd == "--help" || cmd == "help") {
      Usage();
      return 0;
    }
    return Usage(("unknown command " + cmd).c_str());
  } catch (const EPlwsError& e) {
    std::cerr << "plws: " << e.what() << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "plws: " << e.what() << "\n";
    return 1;
  }
}
