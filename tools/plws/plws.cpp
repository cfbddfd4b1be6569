#include "tools/plws/plws.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <filesystem>
#include <iostream>
#include <memory>
#include <new>
#include <sstream>

#include "app/catalogue.h"
#include "package/exe_adder.h"
#include "package/raii_items.h"
#include "package/stream.h"
#include "package/zlibex.h"
#include "tools/plws/package_check.h"
#include "tools/plws/platform.h"
#include "tools/plws/play.h"
#include "tools/plws/stub.h"
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
  // The stub first: it decides whether the movie can play without the
  // vendor's Flash control at all.
  std::string stubNote;
  {
    TPackageCursor probe(*stream);
    const bool opened = probe.Open();
    if (!opened && probe.Fault().Empty())
      throw EPlwsError(File + ": no package (the file does not end with a \"PLWS\" trailer)");
    if (opened) {
      std::vector<uint8_t> stub(static_cast<size_t>(probe.BodyStart()));
      stream->Seek(0, TSeekOrigin::soBeginning);
      stream->ReadBuffer(stub.data(), probe.BodyStart());
      if (!IsProjectStub(stub.data(), stub.size()))
        stubNote = "not this project's saver (it carries no Flash emulator): the movie plays only where the "
                   "vendor's Flash control is installed; plws upgrade " + File +
                   " NEW puts this package behind this project's stub";
    }
  }
  TOwnedItems items;
  TPackageFault fault;
  std::vector<TSettingsNote> notes;
  bool applied = true;
  try {
    ReadExeItems(*stream, items, &fault);
  } catch (const EPackageItemError& e) {
    // The player's loading ends at such an item, before any item is applied.
    notes.push_back({-1, e.Fault().Text() + ": the zlib stream does not inflate, so the player applies no item of "
                                            "this package"});
    applied = false;
  }
  // A stream that does not inflate is in Fault too; its note says it already.
  if (applied && !fault.Empty())
    notes.push_back({-1, "damaged: " + fault.Text() + ": the player reads only the " +
                             std::to_string(items.size()) + " records before it"});
  if (applied)
    for (auto& n : CheckPackageItems(items)) notes.push_back(std::move(n));
  if (!stubNote.empty()) Out << "stub: " << stubNote << "\n";
  for (const TSettingsNote& n : notes) {
    if (n.Item < 0)
      Out << "package: ";
    else
      Out << "item " << n.Item << " " << EscapeBytes(items[static_cast<size_t>(n.Item)].Name, true) << ": ";
    Out << TerminalText(n.Text) << "\n";
  }
  const size_t findings = notes.size() + (stubNote.empty() ? 0 : 1);
  if (findings == 0) {
    Out << File << ": " << items.size() << " items, nothing the player would ignore or misread\n";
    return true;
  }
  Out << File << ": " << findings << (findings == 1 ? " finding" : " findings");
  if (applied) Out << " in " << items.size() << " items";
  Out << "\n";
  return false;
}

namespace {

// The stub plws upgrade uses when none is given: the saver.scr beside plws
// (where a release puts both), else the one of the build plws came from.
std::string DefaultStub() {
  const std::string folder = ProgramFolder();
  std::vector<std::string> tried;
  if (!folder.empty()) {
    tried.push_back(folder + "/saver.scr");
#ifdef PL_BUILD_STUB
    tried.push_back(folder + "/" PL_BUILD_STUB);
#endif
  }
  std::string looked;
  for (const std::string& path : tried) {
    if (PathTaken(path)) return fs::path(path).lexically_normal().string();
    looked += (looked.empty() ? "" : ", ") + path;
  }
  throw EPlwsError("no stub given and no saver.scr found" + (looked.empty() ? "" : " (looked for " + looked + ")") +
                   ": give --stub STUB");
}

}  // namespace

void UpgradeFile(const std::string& StubPath, const std::string& OldPath, const std::string& NewPath,
                 std::ostream& Out) {
  // Refused before anything is read; the create below refuses again should
  // something take the name meanwhile.
  if (PathTaken(NewPath)) throw EPlwsError(NewPath + ": exists already; plws upgrade writes only a new file");
  std::vector<uint8_t> package;
  {
    TPackageFile p = OpenPackage(OldPath);
    // The player's own reader decides whether the package reads.
    TOwnedItems items;
    TPackageFault fault;
    try {
      ReadExeItems(*p.Stream, items, &fault);
    } catch (const EPackageItemError& e) {
      throw EPlwsError(OldPath + ": damaged package: " + e.Fault().Text() + ": the zlib stream does not inflate");
    }
    if (!fault.Empty()) throw EPlwsError(OldPath + ": damaged package: " + fault.Text());
    // Byte for byte from where the reader finds the body to the file's end.
    const int64_t start = p.Cursor->BodyStart();
    package.resize(static_cast<size_t>(p.Stream->Size() - start));
    p.Stream->Seek(start, TSeekOrigin::soBeginning);
    p.Stream->ReadBuffer(package.data(), static_cast<int64_t>(package.size()));
  }
  const std::string stubPath = StubPath.empty() ? DefaultStub() : StubPath;
  std::vector<uint8_t> out = ReadInputFile(stubPath);
  // A saver given as the stub (its trailer is what the reader looks for):
  // its package would lie unused inside the new one.
  if (out.size() >= sizeof kPackageMagic &&
      std::equal(out.end() - sizeof kPackageMagic, out.end(), std::begin(kPackageMagic)))
    throw EPlwsError(stubPath + ": ends with a package of its own: a saver, not a stub to put a package behind");
  const size_t stubSize = out.size();
  out.insert(out.end(), package.begin(), package.end());
  WriteNewOutputFile(NewPath, out.data(), out.size(), "upgrade");
  Out << "wrote " << NewPath << ": " << stubPath << " (" << stubSize << " bytes) and the package of " << OldPath
      << " (" << package.size() << " bytes)\n";
}

namespace {

// Each command's lines of the usage, and what only its own help adds.
struct TCommandHelp {
  const char* Name;
  const char* Synopsis;
  const char* Details;
};

const char kManifestHelp[] =
    "manifest, one directive per line (# starts a comment line):\n"
    "  key NUMBER                         name scrambling key (default 0)\n"
    "  stub PATH                          the bytes before the package\n"
    "  item NAME ENCODING STORAGE [VALUE]\n"
    "    ENCODING  flag (0..255) | int32 | text (the rest of the line) | file (PATH) | hex (byte pairs)\n"
    "    STORAGE   stored | compressed[:FLAG] (deflated by plws) | zlib[:FLAG] (VALUE is the zlib stream)\n"
    "  numbers are decimal or 0x hexadecimal; names and texts take \\\\ \\s \\t \\n \\r \\xHH,\n"
    "  \"\" is the empty name; paths are relative to the manifest\n";

const TCommandHelp kCommands[] = {
    {"list", "  plws list FILE                     show the items of a saver's package\n", ""},
    {"check",
     "  plws check FILE                    report every item the player would ignore or misread, and a stub\n"
     "                                     that is not this project's (it needs the vendor's Flash control)\n",
     ""},
    {"extract",
     "  plws extract FILE DIR              write the stub, every item and DIR/manifest.plws (new files only)\n", ""},
    {"pack",
     "  plws pack [--stub STUB] --out OUT MANIFEST\n"
     "                                     build a saver: the manifest's stub (or STUB) + its package\n",
     kManifestHelp},
    {"upgrade",
     "  plws upgrade [--stub STUB] OLD NEW\n"
     "                                     write NEW (a new file): this project's saver.scr (or STUB) + the\n"
     "                                     package of OLD byte for byte, so an old saver plays again\n",
     "without --stub the stub is the saver.scr beside plws, else the one of the build plws came from;\n"
     "OLD's package must read as the player reads it\n"},
    {"play",
     "  plws play FILE [--preview] [--window WxH] [--screenshot PNG [--after SECONDS]]\n"
     "                                     play the movie in Chromium with Ruffle (Linux)\n",
     ""},
};

const char kExitHelp[] = "exit status: 0 done, 1 bad input (a message names the file), 2 usage\n";

std::string UsageText() {
  std::string text = "usage:\n";
  for (const TCommandHelp& c : kCommands) text += c.Synopsis;
  text += "  plws COMMAND --help | plws --help | plws --version\n\n";
  return text + kManifestHelp + "\n" + kExitHelp;
}

const TCommandHelp* FindCommand(const std::string& Name) {
  for (const TCommandHelp& c : kCommands)
    if (Name == c.Name) return &c;
  return nullptr;
}

std::string CommandHelpText(const TCommandHelp& C) {
  std::string text = std::string("usage:\n") + C.Synopsis;
  if (*C.Details) text += std::string("\n") + C.Details;
  return text + "\n" + kExitHelp;
}

bool IsHelp(const std::string& Arg) { return Arg == "--help" || Arg == "-h"; }

int Usage(const std::string& What) {
  std::cerr << "plws: " << What << "\n" << UsageText();
  return kExitUsage;
}

int Run(const std::vector<std::string>& Args) {
  if (Args.empty()) return Usage("no command given");
  const std::string& cmd = Args[0];
  if (IsHelp(cmd) || cmd == "help") {
    if (Args.size() > 2) return Usage("help takes at most one COMMAND");
    if (Args.size() == 1) {
      std::cout << UsageText();
      return kExitDone;
    }
    const TCommandHelp* c = FindCommand(Args[1]);
    if (!c) return Usage("unknown command " + Args[1]);
    std::cout << CommandHelpText(*c);
    return kExitDone;
  }
  if (cmd == "--version") {
    std::cout << "plws " << PL_VERSION << "\n";
    return kExitDone;
  }
  const TCommandHelp* command = FindCommand(cmd);
  if (!command) return Usage("unknown command " + cmd);
  // As Unix tools do: --help anywhere after the command is its help, never
  // a file of that name (./--help names one).
  if (std::any_of(Args.begin() + 1, Args.end(), IsHelp)) {
    std::cout << CommandHelpText(*command);
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
  if (cmd == "pack" || cmd == "upgrade") {
    std::string stub, out;
    std::vector<std::string> files;
    for (size_t i = 1; i < Args.size(); ++i) {
      if (Args[i] == "--stub" && i + 1 < Args.size())
        stub = Args[++i];
      else if (cmd == "pack" && Args[i] == "--out" && i + 1 < Args.size())
        out = Args[++i];
      else if (!Args[i].empty() && Args[i][0] != '-' && files.size() < (cmd == "pack" ? 1u : 2u))
        files.push_back(Args[i]);
      else
        return Usage("unexpected argument " + Args[i]);
    }
    if (cmd == "upgrade") {
      if (files.size() != 2) return Usage("upgrade takes OLD and NEW");
      UpgradeFile(stub, files[0], files[1], std::cout);
      return kExitDone;
    }
    if (out.empty() || files.empty()) return Usage("pack needs --out OUT and a MANIFEST");
    PackFile(stub, out, files[0]);
    return kExitDone;
  }
  return PlayCommand(std::vector<std::string>(Args.begin() + 1, Args.end()));
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
