// Text, quoting and version helpers shared by the settings loader, the Flash
// check and the browser launcher. Texts are 8-bit ANSI strings in the user's
// code page; every search for a character or substring steps over double-byte
// characters, so a trail byte (Shift-JIS "表" is 0x95 0x5C, its second byte a
// backslash) never matches.
//
// The routines that search take the lead-byte test as their last argument;
// it defaults to the system's ANSI code page (single-byte natively).
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// True when Byte starts a double-byte character in some code page.
using TLeadByteTest = bool (*)(unsigned char Byte);

// The ANSI code page of this process: IsDBCSLeadByte on Windows; natively no
// byte is a lead byte (UTF-8 continuation bytes never look like ASCII).
TLeadByteTest SystemLeadByteTest();
// Shift-JIS (code page 932): lead bytes 0x81-0x9F and 0xE0-0xFC.
bool IsShiftJisLeadByte(unsigned char Byte);
// A single-byte code page: no lead bytes at all.
bool IsSingleByteLeadByte(unsigned char Byte);

// Index of the first Sub in S that starts on a character boundary, or npos.
// An empty Sub is never found.
size_t AnsiPos(const std::string& S, const std::string& Sub, TLeadByteTest IsLead = SystemLeadByteTest());
// S with every non-overlapping occurrence of Sub removed, scanning left to right.
std::string AnsiRemoveAll(const std::string& S, const std::string& Sub, TLeadByteTest IsLead = SystemLeadByteTest());
// True when the last character of S is the single byte C (a trail byte equal
// to C does not count).
bool AnsiEndsWithChar(const std::string& S, char C, TLeadByteTest IsLead = SystemLeadByteTest());
// S without characters of code 0 to 32 at both ends.
std::string TrimControls(const std::string& S);
// S lower-cased by the rules of the system's ANSI code page (CharLowerBuffA
// on Windows; natively only A to Z change).
std::string AnsiLowerCase(std::string S);

// C lower- or upper-cased when it is an ASCII letter; every other byte, and
// so every byte of a double-byte character, unchanged. For names and words
// whose letters are ASCII by definition (keys, switches, extensions, device
// names), where the code page's own rules must not apply.
char AsciiLower(char C);
char AsciiUpper(char C);
std::string AsciiLowerCase(std::string S);
std::string AsciiUpperCase(std::string S);

// The whole of Text as an integer from Min to Max: an optional '-' or '+',
// then one or more decimal digits (a leading 0 is still decimal) or, when
// AllowHex, "0x" or "0X" and one or more hexadecimal digits; nothing else,
// not even a blank. Nullopt for any
// other text or a value outside Min..Max.
std::optional<int64_t> ParseInteger(std::string_view Text, int64_t Min, int64_t Max, bool AllowHex = false);
// A signed decimal that fits 32 bits, by the rule of ParseInteger.
std::optional<int32_t> ParseInt32(std::string_view Text);

// The value of a hexadecimal digit of either case; -1 for any other character.
int HexDigitValue(char C);
// The byte that the two hexadecimal digits at At and At + 1 of Text stand for
// (an escape such as "%41" or "\x41" after its introducer); -1 when Text ends
// before them or either is no hexadecimal digit.
int HexPairValue(std::string_view Text, size_t At);
// Code point Cp (at most U+10FFFF) in UTF-8 at the end of Out.
void AppendUtf8(std::string& Out, uint32_t Cp);
// Byte as two hexadecimal digits: "0A", or "0a" when not Upper.
std::string HexByte(unsigned char Byte, bool Upper = true);

// S without its last byte when that byte equals C, else S. Looks at the last
// byte alone (not multi-byte aware): a key path ends in ASCII.
std::string ExcludeTrailingChar(const std::string& S, char C);

// How Quoted writes the control characters of a text.
enum class TControlBytes {
  Kept,     // as they are: the caller makes the whole message safe to show
  Escaped,  // codes 0 to 31 and 127 as \xHH, so the message stays one line
};
// Text in double quotes, for a message that names it. No other byte changes.
std::string Quoted(const std::string& Text, TControlBytes Controls);

// Quote, S with every Quote in it doubled, Quote.
std::string QuoteString(const std::string& S, char Quote, TLeadByteTest IsLead = SystemLeadByteTest());
// The inside of a quoted section at the start of S (two quotes in a row stand
// for one); anything after the closing quote is ignored. S unchanged when it
// does not start with Quote or the inside is empty. A section that is never
// closed runs to the end of S.
std::string UnquoteString(const std::string& S, char Quote, TLeadByteTest IsLead = SystemLeadByteTest());

// Fills List with the parts of S between the separators. A trailing separator
// gives no empty last part; a leading or doubled one gives an empty part; an
// empty S gives an empty list.
void SplitString(std::vector<std::string>& List, const std::string& S, char Sep,
                 TLeadByteTest IsLead = SystemLeadByteTest());

// True when the dotted version A is not lower than B. Only the parts both
// have are compared, numerically, a part that is no integer counting as 0;
// when either is empty, true only when both texts are equal.
bool VersionAtLeast(const std::string& A, const std::string& B);
// True when VersionAtLeast reads every part of V as written: one or more
// parts of decimal digits (each within 32 bits) joined by single dots.
bool IsDottedVersion(const std::string& V);

// --- Pure steps of the registry, shell and temporary-path helpers ---

// The text of a registry value as read into a buffer: without its
// terminating zero, trimmed of codes 0 to 32 at both ends.
std::string RegistryValueText(const char* Data, size_t Size);

// The class key of a file extension: "htm" and ".htm" both give ".htm"
// (a "." is put in front only when there is none anywhere).
std::string ShellExtensionKey(const std::string& Ext, TLeadByteTest IsLead = SystemLeadByteTest());

// The program of an "open" command text, in double quotes, or empty when
// there is none. When the text holds a double quote, options starting with
// " -" or " /" are cut off (after a leading quoted program path, which is
// kept whole) and the double quotes removed; then "%1" and single quotes are
// removed and the ends trimmed.
std::string ShellOpenProgram(const std::string& Command, TLeadByteTest IsLead = SystemLeadByteTest());

// Dir (the system's temporary directory, possibly empty), one backslash
// unless Dir already ends with one, then Name.
std::string JoinTempPath(const std::string& Dir, const std::string& Name, TLeadByteTest IsLead = SystemLeadByteTest());

// The source name for deleting Path: Path without one trailing backslash.
// Empty (refuse) when nothing would be left but a drive ("C:\", "C:", "\"):
// a drive-relative name would make the shell delete the current folder.
std::string DeletionSource(const std::string& Path, TLeadByteTest IsLead = SystemLeadByteTest());
