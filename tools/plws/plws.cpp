#include "tools/plws/plws.h"

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <new>
#include <sstream>

#include "app/catalogue.h"
#include "app/package_check.h"
#include "package/exe_adder.h"
#include "package/raii_items.h"
#include "package/stream.h"
#include "package/zlibex.h"
#include "tools/plws/platform.h"
#include "tools/plws/play.h"
#include "util/raii.h"

#ifndef PL_VERSION
#define PL_VERSION "unknown"
#endif

namespace fs = std::filesystem;

namespace {

// "stored", or Kind ("compressed", "zlib") with the flag when it is not 1.
std::string StorageWord(uint8_t Flag, const std::string& Kind) {
  if (Flag == 0) return "stored";
  return Flag == 1 ? Kind : Kind + ":" + std::to_string(Flag);
}

// A short, safe file name for item Index: only [A-Za-z0-9_-] of the name
// survive, so an item name can never steer the write outside the folder.
std::string ItemFileName(size_t Index, const std::string& Name, const std::string& Extension) {
  std::string safe;
  for (unsigned char c : Name.substr(0, 48))
    safe += (std::isalnum(c) || c == '_' || c == '-') ? static_cast<char>(c) : '_';
  char prefix[16];
  std::snprintf(prefix, sizeof prefix, "%03zu-", Index);
  return prefix + safe + Extension;
}

std::string PlainExtension(const std::string& Name) {
  if (Name == "FlashSwf") return ".swf";
  if (Name == "DialogImage") return ".bmp";
  return ".bin";
}

std::string DescribeValue(const std::string& Name, const std::vector<uint8_t>& Plain) {
  const TCatalogueEntry* e = FindCatalogueEntry(Name);
  if (!e) return "";
  const uint8_t* data = Plain.empty() ? nullptr : Plain.data();
  const auto size = static_cast<int32_t>(Plain.size());
  switch (e->Encoding) {
    case TItemEncoding::Flag: {
      const auto v = DecodeFlag(data, size);
      if (!v) return "(too short for a flag)";
      // Any byte but 0 is on; one that is not 1 is shown as it stands.
      const std::string word = *v ? "on" : "off";
      return data[0] > 1 ? word + " (" + std::to_string(data[0]) + ")" : word;
    }
    case TItemEncoding::Int32: {
      const auto v = DecodeInt32(data, size);
      if (!v) return "(too short for an int32)";
      if (Name == "FlashBackColor") {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%d (0x%06X)", *v, static_cast<unsigned>(*v));
        return buf;
      }
      return std::to_string(*v);
    }
    case TItemEncoding::Text: return "\"" + TerminalText(DecodeText(data, size)) + "\"";
    case TItemEncoding::Bytes: return std::to_string(size) + " bytes";
  }
  return "";
}

// The package of a file, opened for walking record by record.
struct TPackageFile {
  std::unique_ptr<TFileReadStream> Stream;
  std::unique_ptr<TPackageCursor> Cursor;
};

TPackageFile OpenPackage(const std::string& File) {
  TPackageFile p;
  try {
    p.Stream = std::make_unique<TFileReadStream>(File);
  } catch (const EFOpenError& e) {
    throw EPlwsError(e.what());
  }
  p.Cursor = std::make_unique<TPackageCursor>(*p.Stream);
  if (!p.Cursor->Open()) {
    if (!p.Cursor->Fault().Empty()) throw EPlwsError(File + ": damaged package: " + p.Cursor->Fault().Text());
    throw EPlwsError(File + ": no package (the file does not end with a \"PLWS\" trailer)");
  }
  return p;
}

// One record as stored and, when its stream inflates, as the player sees it.
struct TRecordBytes {
  std::vector<uint8_t> Stored, Plain;
  std::string Error;  // why a compressed record does not inflate
};

TRecordBytes ReadRecord(TPackageCursor& Cursor, const TRawRecord& R) {
  TRecordBytes b;
  b.Stored.resize(R.Length > 0 ? static_cast<size_t>(R.Length) : 0);
  Cursor.ReadData(b.Stored.data(), R.Length);
  if (R.Flag == 0) {
    b.Plain = b.Stored;
  } else if (!b.Stored.empty()) {
    try {
      TUniqueMalloc out;
      int32_t outSize = 0;
      DecompressBuffer(b.Stored.data(), R.Length, *out.Put(), outSize, 0);
      const auto* plain = static_cast<const uint8_t*>(out.Get());
      b.Plain.assign(plain, plain + outSize);
    } catch (const EZLibError& e) {
      b.Error = e.what();
    }
  }
  return b;
}

std::string CorruptText(const TPackageCursor& Cursor, const TRawRecord& R, const std::string& Error) {
  return TPackageFault{Cursor.Index() - 1, R.DataOffset, "the zlib stream does not inflate: " + Error}.Text();
}

}  // namespace

std::string TerminalText(const std::string& S) {
  const auto utf8 = ShiftJisToUtf8(S);
  if (!utf8) return EscapeBytes(S);
  std::string out;
  for (size_t i = 0; i < utf8->size(); ++i) {
    const auto c = static_cast<unsigned char>((*utf8)[i]);
    const bool c1 = c == 0xC2 && i + 1 < utf8->size() && static_cast<unsigned char>((*utf8)[i + 1]) < 0xA0;
    if (c == '\\') {
      out += "\\\\";
    } else if (c < 0x20 || c == 0x7F || c1) {
      // Control characters would move the cursor or pass for another line.
      char buf[8];
      std::snprintf(buf, sizeof buf, c1 ? "\\u%04X" : "\\x%02X", c1 ? static_cast<unsigned char>((*utf8)[++i]) : c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

void PackFile(const std::string& StubPath, const std::string& OutPath, const std::string& ManifestPath) {
  const auto manifestBytes = ReadInputFile(ManifestPath);
  const TManifest m = ParseManifest(std::string(manifestBytes.begin(), manifestBytes.end()),
                                    fs::path(ManifestPath).parent_path().string(), ManifestPath);
  const std::string stub = !StubPath.empty() ? StubPath : m.Stub;
  if (stub.empty()) throw EPlwsError(ManifestPath + ": names no stub: give --stub STUB or add a \"stub\" line");
  std::vector<uint8_t> out = ReadInputFile(stub);
  try {
    const auto package = BuildPackage(m.Key, m.Records);
    out.insert(out.end(), package.begin(), package.end());
  } catch (const EPackageWriteError& e) {
    throw EPlwsError(ManifestPath + ": " + e.what());
  }
  WriteOutputFile(OutPath, out.data(), out.size());
}

bool ListFile(const std::string& File, std::ostream& Out, std::ostream& Err) {
  TPackageFile p = OpenPackage(File);
  TPackageCursor& c = *p.Cursor;
  char key[16];
  std::snprintf(key, sizeof key, "0x%08X", static_cast<uint32_t>(c.Key()));
  Out << File << ": package of " << c.BodyEnd() - c.BodyStart() << " bytes at offset " << c.BodyStart() << ", key "
      << key << " (name byte 0x" << std::hex << (c.Key() & 0xFF) << std::dec << "), " << c.Count() << " items\n";
  bool ok = true;
  TRawRecord r;
  while (c.Next(r)) {
    const TRecordBytes b = ReadRecord(c, r);
    Out << "  " << c.Index() - 1 << "  " << EscapeBytes(r.Name, true) << "  " << StorageWord(r.Flag, "compressed")
        << "  " << b.Stored.size() << " -> ";
    if (!b.Error.empty()) {
      Out << "?  (corrupt)\n";
      Err << "plws: " << File << ": " << CorruptText(c, r, b.Error) << "\n";
      ok = false;
      continue;
    }
    Out << b.Plain.size();
    const std::string value = DescribeValue(r.Name, b.Plain);
    if (!value.empty()) Out << "  " << value;
    Out << "\n";
  }
  if (!c.Fault().Empty()) {
    Err << "plws: " << File << ": damaged package: " << c.Fault().Text() << "\n";
    ok = false;
  }
  return ok;
}

bool ExtractFile(const std::string& File, const std::string& Dir, std::ostream& Out, std::ostream& Err) {
  TPackageFile p = OpenPackage(File);
  TPackageCursor& c = *p.Cursor;
  bool ok = true;
  auto complain = [&](const std::string& Text) {
    Err << "plws: " << File << ": " << Text << "\n";
    ok = false;
  };

  // First the records as stored, so the names are known before anything is
  // written and an occupied folder is refused before it is touched.
  std::vector<TRawRecord> records;
  for (TRawRecord r; c.Next(r); c.SkipData(r.Length)) records.push_back(r);
  const TPackageFault damage = c.Fault();
  const int64_t slack = damage.Empty() ? c.Left() : 0;
  struct TPlanned {
    std::string PlainName, StreamName;
  };
  std::vector<TPlanned> names;
  for (size_t i = 0; i < records.size(); ++i)
    names.push_back({ItemFileName(i, records[i].Name, PlainExtension(records[i].Name)),
                     ItemFileName(i, records[i].Name, ".zlib")});
  TOutputFolder out(Dir);
  for (const std::string& fixed : {std::string("stub.bin"), std::string("manifest.plws")})
    if (out.Holds(fixed)) throw EPlwsError(Dir + ": already holds " + fixed + "; choose an empty folder");
  for (const TPlanned& n : names)
    for (const std::string* name : {&n.PlainName, &n.StreamName})
      if (out.Holds(*name)) throw EPlwsError(Dir + ": already holds " + *name + "; choose an empty folder");

  // The bytes before the package: the saver's program, or whatever stub it had.
  {
    std::vector<uint8_t> stub(static_cast<size_t>(c.BodyStart()));
    p.Stream->Seek(0, TSeekOrigin::soBeginning);
    p.Stream->ReadBuffer(stub.data(), c.BodyStart());
    out.WriteNewFile("stub.bin", stub.data(), stub.size());
  }

  std::ostringstream manifest;
  manifest << "# written by plws extract from " << EscapeBytes(File) << "\n";
  char key[16];
  std::snprintf(key, sizeof key, "0x%08X", static_cast<uint32_t>(c.Key()));
  manifest << "key " << key << "\n";
  manifest << "stub stub.bin\n";
  for (size_t i = 0; i < records.size(); ++i) {
    const TRawRecord& r = records[i];
    p.Stream->Seek(r.DataOffset, TSeekOrigin::soBeginning);
    const TRecordBytes b = ReadRecord(c, r);
    const std::string word = EscapeBytes(r.Name, true);
    if (r.Flag == 0) {
      out.WriteNewFile(names[i].PlainName, b.Plain.data(), b.Plain.size());
      manifest << "item " << word << " file stored " << names[i].PlainName << "\n";
      continue;
    }
    // A compressed record is rebuilt from the plain bytes when deflating them
    // gives its stream back exactly; else its own stream is kept.
    const bool inflates = b.Error.empty() && !b.Stored.empty();
    if (inflates) out.WriteNewFile(names[i].PlainName, b.Plain.data(), b.Plain.size());
    if (inflates && CompressBuffer(b.Plain.data(), b.Plain.size()) == b.Stored) {
      manifest << "item " << word << " file " << StorageWord(r.Flag, "compressed") << " " << names[i].PlainName
               << "\n";
      continue;
    }
    out.WriteNewFile(names[i].StreamName, b.Stored.data(), b.Stored.size());
    if (!b.Error.empty()) {
      complain(TPackageFault{static_cast<int32_t>(i), r.DataOffset, "the zlib stream does not inflate: " + b.Error}.Text());
      manifest << "# the stream of item " << i << " does not inflate (" << b.Error << "); kept as it is\n";
    } else if (inflates) {
      manifest << "# " << names[i].PlainName << " holds the inflated bytes; this stream came from another "
               << "compressor or level. To pack a changed copy: item " << word << " file "
               << StorageWord(r.Flag, "compressed") << " " << names[i].PlainName << "\n";
    }
    manifest << "item " << word << " file " << StorageWord(r.Flag, "zlib") << " " << names[i].StreamName << "\n";
  }
  if (!damage.Empty())
    complain("damaged package: " + damage.Text() + "; the manifest rebuilds the " + std::to_string(records.size()) +
             " records before it");
  if (slack > 0)
    complain(std::to_string(slack) + " bytes after the last record are not kept; the rebuilt package is shorter");
  const std::string text = manifest.str();
  out.WriteNewFile("manifest.plws", text.data(), text.size());
  Out << "extracted the stub and " << records.size() << " items to " << Dir << "\n";
  return ok;
}

bool CheckFile(const std::string& File, std::ostream& Out) {
  std::unique_ptr<TFileReadStream> stream;
  try {
    stream = std::make_unique<TFileReadStream>(File);
  } catch (const EFOpenError& e) {
    throw EPlwsError(e.what());
  }
  TOwnedItems items;
  TPackageFault fault;
  std::vector<TSettingsNote> notes;
  try {
    ReadExeItems(*stream, items, &fault);
  } catch (const EPackageItemError& e) {
    // The player's loading ends at such an item, before any item is applied.
    notes.push_back({-1, e.Fault().Text() + ": the zlib stream does not inflate, so the player applies no item of "
                                            "this package"});
    Out << "package: " << notes.back().Text << "\n";
    Out << File << ": 1 finding\n";
    return false;
  }
  if (items.empty() && fault.Empty()) {
    TPackageCursor probe(*stream);
    if (!probe.Open()) throw EPlwsError(File + ": no package (the file does not end with a \"PLWS\" trailer)");
  }
  if (!fault.Empty())
    notes.push_back({-1, "damaged: " + fault.Text() + ": the player reads only the " +
                             std::to_string(items.size()) + " records before it"});
  for (auto& n : CheckPackageItems(items)) notes.push_back(std::move(n));
  for (const TSettingsNote& n : notes) {
    if (n.Item < 0)
      Out << "package: ";
    else
      Out << "item " << n.Item << " " << EscapeBytes(items[static_cast<size_t>(n.Item)].Name, true) << ": ";
    Out << TerminalText(n.Text) << "\n";
  }
  if (notes.empty())
    Out << File << ": " << items.size() << " items, nothing the player would ignore or misread\n";
  else
    Out << File << ": " << notes.size() << (notes.size() == 1 ? " finding" : " findings") << " in " << items.size()
        << " items\n";
  return notes.empty();
}

namespace {

const char kUsage[] =
    "usage:\n"
    "  plws list FILE                     show the items of a saver's package\n"
    "  plws check FILE                    report every item the player would ignore or misread\n"
    "  plws extract FILE DIR              write the stub, every item and DIR/manifest.plws (new files only)\n"
    "  plws pack [--stub STUB] --out OUT MANIFEST\n"
    "                                     build a saver: the manifest's stub (or STUB) + its package\n"
    "  plws play FILE [--preview] [--window WxH] [--screenshot PNG [--after SECONDS]]\n"
    "                                     play the movie in Chromium with Ruffle (Linux)\n"
    "  plws --help | --version\n"
    "\n"
    "manifest, one directive per line (# starts a comment line):\n"
    "  key NUMBER                         name scrambling key (default 0)\n"
    "  stub PATH                          the bytes before the package\n"
    "  item NAME ENCODING STORAGE [VALUE]\n"
    "    ENCODING  flag (0..255) | int32 | text (the rest of the line) | file (PATH) | hex (byte pairs)\n"
    "    STORAGE   stored | compressed[:FLAG] (deflated by plws) | zlib[:FLAG] (VALUE is the zlib stream)\n"
    "  numbers are decimal or 0x hexadecimal; names and texts take \\\\ \\s \\t \\n \\r \\xHH,\n"
    "  \"\" is the empty name; paths are relative to the manifest\n"
    "\n"
    "exit status: 0 done, 1 bad input (a message names the file), 2 usage\n";

int Usage(const std::string& What) {
  std::cerr << "plws: " << What << "\n" << kUsage;
  return kExitUsage;
}

int Run(const std::vector<std::string>& Args) {
  if (Args.empty()) return Usage("no command given");
  const std::string& cmd = Args[0];
  if (cmd == "-h" || cmd == "--help" || cmd == "help") {
    std::cout << kUsage;
    return kExitDone;
  }
  if (cmd == "--version") {
    std::cout << "plws " << PL_VERSION << "\n";
    return kExitDone;
  }
  auto status = [](bool Ok) { return Ok ? kExitDone : kExitBadInput; };
  if (cmd == "list" || cmd == "check") {
    if (Args.size() != 2) return Usage(cmd + " takes one FILE");
    return status(cmd == "list" ? ListFile(Args[1], std::cout, std::cerr) : CheckFile(Args[1], std::cout));
  }
  if (cmd == "extract") {
    if (Args.size() != 3) return Usage("extract takes FILE and DIR");
    return status(ExtractFile(Args[1], Args[2], std::cout, std::cerr));
  }
  if (cmd == "pack") {
    std::string stub, out, manifest;
    for (size_t i = 1; i < Args.size(); ++i) {
      if (Args[i] == "--stub" && i + 1 < Args.size())
        stub = Args[++i];
      else if (Args[i] == "--out" && i + 1 < Args.size())
        out = Args[++i];
      else if (!Args[i].empty() && Args[i][0] != '-' && manifest.empty())
        manifest = Args[i];
      else
        return Usage("unexpected argument " + Args[i]);
    }
    if (out.empty() || manifest.empty()) return Usage("pack needs --out OUT and a MANIFEST");
    PackFile(stub, out, manifest);
    return kExitDone;
  }
  if (cmd == "play") return PlayCommand(std::vector<std::string>(Args.begin() + 1, Args.end()));
  return Usage("unknown command " + cmd);
}

}  // namespace

int PlwsMain(int argc, char** argv) {
  try {
    return Run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::bad_alloc&) {
    std::cerr << "plws: out of memory\n";
  } catch (const std::exception& e) {
    std::cerr << "plws: " << e.what() << "\n";
  }
  return kExitBadInput;
}
