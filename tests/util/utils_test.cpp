// The text steps of the utilities, with Shift-JIS for the multi-byte cases:
// "表" is 0x95 0x5C, its trail byte a backslash.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

#include "util/raii.h"
#include "util/utils.h"

namespace {

const std::string kHyo = "\x95\x5C";  // "表" in Shift-JIS
const TLeadByteTest kSjis = IsShiftJisLeadByte;
const TLeadByteTest kSingle = IsSingleByteLeadByte;

std::vector<std::string> Split(const std::string& S, char Sep, TLeadByteTest IsLead = kSingle) {
  std::vector<std::string> list{"left over"};
  SplitString(list, S, Sep, IsLead);
  return list;
}

}  // namespace

TEST(LeadBytes, ShiftJisRanges) {
  EXPECT_FALSE(IsShiftJisLeadByte(0x80));
  EXPECT_TRUE(IsShiftJisLeadByte(0x81));
  EXPECT_TRUE(IsShiftJisLeadByte(0x9F));
  EXPECT_FALSE(IsShiftJisLeadByte(0xA0));  // half-width katakana stand alone
  EXPECT_FALSE(IsShiftJisLeadByte(0xDF));
  EXPECT_TRUE(IsShiftJisLeadByte(0xE0));
  EXPECT_TRUE(IsShiftJisLeadByte(0xFC));
  EXPECT_FALSE(IsShiftJisLeadByte(0xFD));
  EXPECT_FALSE(IsShiftJisLeadByte('\\'));
}

TEST(AnsiSearch, TrailBytesNeverMatch) {
  const std::string path = "C:\\" + kHyo + "\\x";
  EXPECT_EQ(AnsiPos(kHyo + "\\", "\\", kSjis), 2u);
  EXPECT_EQ(AnsiPos(kHyo + "\\", "\\", kSingle), 1u);
  EXPECT_EQ(AnsiPos(kHyo, "\\", kSjis), std::string::npos);
  EXPECT_EQ(AnsiPos("abc", "", kSjis), std::string::npos);
  EXPECT_EQ(AnsiRemoveAll(path, "\\", kSjis), "C:" + kHyo + "x");
  EXPECT_EQ(AnsiRemoveAll(path, "\\", kSingle), "C:\x95x");
  // A lead byte cut off at the end stands alone and is still searched past.
  EXPECT_EQ(AnsiPos("ab\x95", "\x95", kSjis), 2u);
  // Removal does not rescan what it joined.
  EXPECT_EQ(AnsiRemoveAll("%%11", "%1", kSingle), "%1");

  EXPECT_TRUE(AnsiEndsWithChar("C:\\", '\\', kSjis));
  EXPECT_FALSE(AnsiEndsWithChar("C:\\" + kHyo, '\\', kSjis));
  EXPECT_TRUE(AnsiEndsWithChar("C:\\" + kHyo, '\\', kSingle));
  EXPECT_TRUE(AnsiEndsWithChar("C:\\" + kHyo + "\\", '\\', kSjis));
  EXPECT_FALSE(AnsiEndsWithChar("", '\\', kSjis));
}

TEST(TextUtils, TrimAndExcludeTrailingChar) {
  EXPECT_EQ(TrimControls(std::string("\0 \t\r\n a b \x1f\0", 12)), "a b");
  EXPECT_EQ(TrimControls(" \t "), "");
  EXPECT_EQ(TrimControls("\x95\x20"), "\x95");  // bytes, as the registry trimming does

  EXPECT_EQ(ExcludeTrailingChar("Software\\Key\\", '\\'), "Software\\Key");
  EXPECT_EQ(ExcludeTrailingChar("Software\\Key\\\\", '\\'), "Software\\Key\\");  // one byte at most
  EXPECT_EQ(ExcludeTrailingChar("Software\\Key", '\\'), "Software\\Key");
  EXPECT_EQ(ExcludeTrailingChar("", '\\'), "");
  EXPECT_EQ(ExcludeTrailingChar("\\", '\\'), "");
  EXPECT_EQ(ExcludeTrailingChar(kHyo, '\\'), "\x95");  // the last byte alone counts
}

TEST(TextUtils, QuoteString) {
  const std::string quoted = QuoteString("say \"hi\"", '"');
  EXPECT_EQ(quoted, "\"say \"\"hi\"\"\"");
  EXPECT_EQ(QuoteString("a\"b", '"').size(), 3u + 3u);
  EXPECT_EQ(QuoteString("", '"'), "\"\"");
  EXPECT_EQ(QuoteString("it's", '\''), "'it''s'");
  // A trail byte equal to the quote character is part of its character.
  EXPECT_EQ(QuoteString(kHyo, '\\', kSjis), "\\" + kHyo + "\\");
  EXPECT_EQ(QuoteString(kHyo, '\\', kSingle), "\\\x95\\\\\\");
}

TEST(TextUtils, UnquoteString) {
  EXPECT_EQ(UnquoteString("\"a\"\"b\" rest", '"'), "a\"b");
  EXPECT_EQ(UnquoteString("\"C:\\Program Files\\b.exe\" -nohome", '"'), "C:\\Program Files\\b.exe");
  EXPECT_EQ(UnquoteString("\"\"\"\"", '"'), "\"");  // "" inside quotes: one quote
  EXPECT_EQ(UnquoteString("plain \"x\"", '"'), "plain \"x\"");
  EXPECT_EQ(UnquoteString("\"\"", '"'), "\"\"");
  EXPECT_EQ(UnquoteString("\"\" tail", '"'), "\"\" tail");
  EXPECT_EQ(UnquoteString("", '"'), "");
  EXPECT_EQ(UnquoteString("\"", '"'), "\"");
  EXPECT_EQ(UnquoteString("\"never closed", '"'), "never closed");
  // Round trip of a text holding quotes.
  EXPECT_EQ(UnquoteString(QuoteString("a \"b\" \"\"c", '"'), '"'), "a \"b\" \"\"c");
  // Multi-byte: the trail backslash neither closes nor pairs.
  const std::string s = "\\" + kHyo + "x\\tail";
  EXPECT_EQ(UnquoteString(s, '\\', kSjis), kHyo + "x");
  EXPECT_EQ(UnquoteString(s, '\\', kSingle), "\x95");
}

TEST(TextUtils, SplitString) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Split("1..2", '.'), (V{"1", "", "2"}));
  EXPECT_EQ(Split("1.2.", '.'), (V{"1", "2"}));
  EXPECT_EQ(Split(".a", '.'), (V{"", "a"}));
  EXPECT_EQ(Split("..", '.'), (V{"", ""}));
  EXPECT_EQ(Split("7.0.19.0", '.'), (V{"7", "0", "19", "0"}));
  EXPECT_EQ(Split("abc", '.'), (V{"abc"}));
  EXPECT_EQ(Split("", '.'), V{});  // and the list was cleared first
  EXPECT_EQ(Split(kHyo + "\\b", '\\', kSjis), (V{kHyo, "b"}));
  EXPECT_EQ(Split(kHyo + "\\b", '\\', kSingle), (V{"\x95", "", "b"}));
}

TEST(TextUtils, VersionAtLeast) {
  EXPECT_TRUE(VersionAtLeast("7.0.19.0", "6.0.79.0"));
  EXPECT_FALSE(VersionAtLeast("6.0.79.0", "7"));
  EXPECT_TRUE(VersionAtLeast("7.0", "7.0.19.0"));   // only shared parts count
  EXPECT_TRUE(VersionAtLeast("7.0.19.0", "7.0"));
  EXPECT_TRUE(VersionAtLeast("10.0", "9.9"));       // numbers, not text
  EXPECT_FALSE(VersionAtLeast("9.9", "10.0"));
  EXPECT_TRUE(VersionAtLeast("9.0.124.0", "9.0.124.0"));
  EXPECT_TRUE(VersionAtLeast("9.0.124.1", "9.0.124.0"));
  EXPECT_FALSE(VersionAtLeast("9.0.123.9", "9.0.124.0"));
  EXPECT_TRUE(VersionAtLeast("9.1.0.0", "9.0.999.0"));  // an earlier part decides
  EXPECT_TRUE(VersionAtLeast("", ""));
  EXPECT_FALSE(VersionAtLeast("", "0.0.0.0"));
  EXPECT_FALSE(VersionAtLeast("0.0.0.0", ""));
  EXPECT_TRUE(VersionAtLeast("x.1", "0.1"));        // not a number: 0
  EXPECT_FALSE(VersionAtLeast("x.1", "1.1"));
  EXPECT_FALSE(VersionAtLeast("1a.0", "1.0"));      // a part must be a whole number
  EXPECT_FALSE(VersionAtLeast("99999999999.0", "1.0"));  // beyond 32 bits: 0
  // Which texts it reads as written.
  for (const char* v : {"9.0.124.0", "7", "10.0", "0.0.0.0"}) EXPECT_TRUE(IsDottedVersion(v)) << v;
  for (const char* v : {"", "9,0,124,0", "9.0.", ".9", "9..0", "x.1", "1a.0", "-1.0", "+1.0", " 9.0", "99999999999.0"})
    EXPECT_FALSE(IsDottedVersion(v)) << v;
  EXPECT_TRUE(VersionAtLeast("0.5", "-1.9"));
  EXPECT_TRUE(VersionAtLeast("007.0", "7.0"));
  EXPECT_TRUE(VersionAtLeast("9.0", " 9.0"));  // a blank before a number is no fault
  EXPECT_TRUE(VersionAtLeast("0.5", "9 .0"));   // one after it is not: "9 " is 0
}

TEST(TextUtils, AsciiCaseTouchesOnlyAsciiLetters) {
  EXPECT_EQ(AsciiLowerCase("FlashSWF@[`{AZaz09"), "flashswf@[`{azaz09");
  EXPECT_EQ(AsciiUpperCase("nul.Txt@[`{AZaz"), "NUL.TXT@[`{AZAZ");
  // Bytes of other code pages, and the trail byte of a double-byte
  // character, are never letters here.
  EXPECT_EQ(AsciiLowerCase("\xC0\xDE" + kHyo), "\xC0\xDE" + kHyo);
  EXPECT_EQ(AsciiUpperCase("\xE0\xFE\x82\x61"), "\xE0\xFE\x82\x41");
  EXPECT_EQ(AsciiUpper('e'), 'E');
  EXPECT_EQ(AsciiLower('E'), 'e');
  EXPECT_EQ(AsciiUpper('/'), '/');
}

TEST(TextUtils, ParseIntegerTakesTheWholeTextWithinItsRange) {
  EXPECT_EQ(ParseInt32("0"), 0);
  EXPECT_EQ(ParseInt32("+7"), 7);
  EXPECT_EQ(ParseInt32("-0"), 0);
  EXPECT_EQ(ParseInt32("007"), 7);
  EXPECT_EQ(ParseInt32("2147483647"), INT32_MAX);
  EXPECT_EQ(ParseInt32("-2147483648"), INT32_MIN);
  for (const char* bad : {"", "-", "+", "2147483648", "-2147483649", " 1", "1 ", "+-1", "--1", "1e3", "0x10",
                          "99999999999999999999999999"})
    EXPECT_EQ(ParseInt32(bad), std::nullopt) << bad;
  EXPECT_EQ(ParseInteger("0x1F", 0, 255, true), 31);
  EXPECT_EQ(ParseInteger("-0Xff", -255, 0, true), -255);
  EXPECT_EQ(ParseInteger("010", 0, 255, true), 10);  // a leading 0 is no octal
  EXPECT_EQ(ParseInteger("4294967295", INT32_MIN, UINT32_MAX), UINT32_MAX);
  EXPECT_EQ(ParseInteger("-9223372036854775808", INT64_MIN, INT64_MAX), INT64_MIN);
  EXPECT_EQ(ParseInteger("9223372036854775807", INT64_MIN, INT64_MAX), INT64_MAX);
  for (const char* bad : {"0x", "-0x", "0x-5", "0x+5", "0xg", "256", "9223372036854775808",
                          "-9223372036854775809", "0x10000000000000000"})
    EXPECT_EQ(ParseInteger(bad, INT64_MIN, 255, true), std::nullopt) << bad;
  EXPECT_EQ(ParseInteger("0x10", 0, 255), std::nullopt);  // hexadecimal only when allowed
}

TEST(TextUtils, HexPairValueNeedsTwoDigits) {
  EXPECT_EQ(HexPairValue("%41", 1), 0x41);
  EXPECT_EQ(HexPairValue("\\xfF", 2), 0xFF);
  EXPECT_EQ(HexPairValue("00", 0), 0);
  EXPECT_EQ(HexPairValue("%4", 1), -1);
  EXPECT_EQ(HexPairValue("%", 1), -1);
  EXPECT_EQ(HexPairValue("%", 5), -1);
  EXPECT_EQ(HexPairValue("%4g", 1), -1);
  EXPECT_EQ(HexPairValue("%g4", 1), -1);
}

TEST(TextUtils, QuotedEscapesControlsOnlyWhenAsked) {
  const std::string text = std::string("a\x01\n\x7F\\\"b\x80", 8) + kHyo;
  EXPECT_EQ(Quoted(text, TControlBytes::Kept), "\"" + text + "\"");
  EXPECT_EQ(Quoted(text, TControlBytes::Escaped), "\"a\\x01\\x0A\\x7F\\\"b\x80" + kHyo + "\"");
  EXPECT_EQ(Quoted("", TControlBytes::Escaped), "\"\"");
  EXPECT_EQ(Quoted(std::string(1, '\0'), TControlBytes::Escaped), "\"\\x00\"");
}

TEST(RegistryText, TerminatorDroppedAndEndsTrimmed) {
  const char padded[] = " \t Value with  blanks \r\n";  // sizeof includes the zero
  EXPECT_EQ(RegistryValueText(padded, sizeof padded), "Value with  blanks");
  EXPECT_EQ(RegistryValueText("abc", 3), "abc");  // stored without terminator: nothing lost
  EXPECT_EQ(RegistryValueText("", 0), "");
  EXPECT_EQ(RegistryValueText("\0", 1), "");
  const char multi[] = "a\0b\0";  // a multi-string keeps its inner zero
  EXPECT_EQ(RegistryValueText(multi, sizeof multi), std::string("a\0b", 3));
}

TEST(ShellOpen, ExtensionKey) {
  EXPECT_EQ(ShellExtensionKey("htm"), ".htm");
  EXPECT_EQ(ShellExtensionKey(".htm"), ".htm");
  EXPECT_EQ(ShellExtensionKey("tar.gz"), "tar.gz");  // a dot anywhere counts
  EXPECT_EQ(ShellExtensionKey(""), ".");
}

TEST(ShellOpen, ProgramOfCommandText) {
  // A quoted program path with options: the options go.
  EXPECT_EQ(ShellOpenProgram("\"C:\\Program Files\\Web\\web.exe\" -nohome"), "\"C:\\Program Files\\Web\\web.exe\"");
  EXPECT_EQ(ShellOpenProgram("\"C:\\Web\\web.exe\" /url \"%1\""), "\"C:\\Web\\web.exe\"");
  EXPECT_EQ(ShellOpenProgram("\"C:\\Web\\web.exe\" \"%1\""), "\"C:\\Web\\web.exe\"");
  // The quoted path is taken whole: a folder holding " -" or " /" survives.
  EXPECT_EQ(ShellOpenProgram("\"C:\\My -Tools\\a /b\\web.exe\" -osint -url \"%1\""),
            "\"C:\\My -Tools\\a /b\\web.exe\"");
  // Unquoted with "%1": the path, quoted.
  EXPECT_EQ(ShellOpenProgram("C:\\Web\\web.exe %1"), "\"C:\\Web\\web.exe\"");
  // Without any double quote the options stay.
  EXPECT_EQ(ShellOpenProgram("C:\\Web\\web.exe -nohome %1"), "\"C:\\Web\\web.exe -nohome\"");
  // A quote later in the text: the cuts apply to the whole text.
  EXPECT_EQ(ShellOpenProgram("C:\\Web\\web.exe -new \"%1\""), "\"C:\\Web\\web.exe\"");
  EXPECT_EQ(ShellOpenProgram("C:\\Web\\web.exe \"%1\""), "\"C:\\Web\\web.exe\"");
  // Single quotes and every "%1" go; case matters.
  EXPECT_EQ(ShellOpenProgram("'C:\\Web\\web.exe' %1 %1"), "\"C:\\Web\\web.exe\"");
  EXPECT_EQ(ShellOpenProgram("C:\\Web\\web.exe %L"), "\"C:\\Web\\web.exe %L\"");
  // Nothing in, or nothing left: no program.
  EXPECT_EQ(ShellOpenProgram(""), "");
  EXPECT_EQ(ShellOpenProgram("\"%1\""), "");
  EXPECT_EQ(ShellOpenProgram("  "), "");
  // A leading quote never closed: cut the whole text.
  EXPECT_EQ(ShellOpenProgram("\"C:\\Web\\web.exe -x"), "\"C:\\Web\\web.exe\"");
  // Double-byte characters pass through whole.
  EXPECT_EQ(ShellOpenProgram("\"C:\\" + kHyo + "\\web.exe\" -x", kSjis), "\"C:\\" + kHyo + "\\web.exe\"");
}

TEST(TempPath, SeparatorNeverDoubled) {
  EXPECT_EQ(JoinTempPath("C:\\Temp\\", "x.swf"), "C:\\Temp\\x.swf");
  EXPECT_EQ(JoinTempPath("C:\\Temp", "x.swf"), "C:\\Temp\\x.swf");
  EXPECT_EQ(JoinTempPath("", "x.swf"), "\\x.swf");  // no temporary directory
  EXPECT_EQ(JoinTempPath("C:\\Temp\\", ""), "C:\\Temp\\");
  // A directory ending in "表" ends in a trail backslash: still needs one.
  EXPECT_EQ(JoinTempPath("C:\\" + kHyo, "x", kSjis), "C:\\" + kHyo + "\\x");
  EXPECT_EQ(JoinTempPath("C:\\" + kHyo + "\\", "x", kSjis), "C:\\" + kHyo + "\\x");
}

TEST(DeleteFolderSource, OneBackslashDroppedDrivesRefused) {
  EXPECT_EQ(DeletionSource("C:\\Temp\\{GUID}"), "C:\\Temp\\{GUID}");
  EXPECT_EQ(DeletionSource("C:\\Temp\\{GUID}\\"), "C:\\Temp\\{GUID}");
  EXPECT_EQ(DeletionSource("C:\\Temp\\{GUID}\\\\"), "C:\\Temp\\{GUID}\\");
  EXPECT_EQ(DeletionSource("C:\\" + kHyo, kSjis), "C:\\" + kHyo);
  EXPECT_EQ(DeletionSource("C:\\" + kHyo + "\\", kSjis), "C:\\" + kHyo);
  for (const char* refused : {"", "\\", "\\\\", "C:", "C:\\", "C:\\Temp\\*", "C:\\Temp\\a?c"})
    EXPECT_EQ(DeletionSource(refused), "") << refused;
}

// An owner closes each value once, and a close that looks back at its owner
// (a destroyed window's handlers, a last Release) finds it already holding
// what replaces the value.
namespace {
struct TProbeTraits;
using TProbeOwner = TUniqueAny<TProbeTraits>;
TProbeOwner* gProbeOwner = nullptr;
std::vector<std::pair<int, int>> gProbeCloses;  // (value closed, what the owner held meanwhile)
struct TProbeTraits {
  using Type = int;
  static Type Invalid() { return 0; }
  static void Close(Type V) { gProbeCloses.emplace_back(V, gProbeOwner ? gProbeOwner->Get() : -1); }
};
}  // namespace

TEST(Owners, CloseOnceAndSeeTheOwnerAlreadyLetGo) {
  gProbeCloses.clear();
  {
    TProbeOwner owner(1);
    gProbeOwner = &owner;
    owner.Reset(2);
    TProbeOwner moved(std::move(owner));  // 2 changes hands, nothing closes
    EXPECT_FALSE(owner);
    EXPECT_EQ(moved.Release(), 2);
    moved.Reset(3);
    gProbeOwner = &moved;
  }
  gProbeOwner = nullptr;
  EXPECT_EQ(gProbeCloses, (std::vector<std::pair<int, int>>{{1, 2}, {3, 0}}));
}

// A re-entry guard sets its flag for the scope; a busy mark, which its
// caller took itself, only clears. Both clear on every way out, a throw
// included.
TEST(Owners, ScopeFlagsClearOnEveryWayOut) {
  bool flag = false;
  {
    const TGuard guard(flag);
    EXPECT_TRUE(flag);
  }
  EXPECT_FALSE(flag);
  try {
    const TGuard guard(flag);
    throw std::runtime_error("out");
  } catch (const std::runtime_error&) {
  }
  EXPECT_FALSE(flag);

  std::atomic<bool> busy{false};
  {
    const TClearBusy clear(busy);
    EXPECT_FALSE(busy);  // taking the mark is the caller's exchange
    busy = true;
  }
  EXPECT_FALSE(busy);
  try {
    EXPECT_FALSE(busy.exchange(true));
    const TClearBusy clear(busy);
    throw std::runtime_error("out");
  } catch (const std::runtime_error&) {
  }
  EXPECT_FALSE(busy);
}
