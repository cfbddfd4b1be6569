// The launcher's text handling: address check, word split, program path.
#include <gtest/gtest.h>

#include <set>

#include "dialog/browser.h"
#include "dialog/text_format.h"

namespace {

std::u16string ErrorOf(const std::string& Address) {
  try {
    CompleteScheme(Address);
  } catch (const EURLDecodeError& e) {
    return e.Message();
  }
  return u"(no error)";
}

using Words = std::vector<std::string>;

}  // namespace

TEST(CompleteScheme, AddressWithASchemePassesUnchanged) {
  for (const char* a : {"http://example.com/", "https://example.com/a?b=c&d=%41", "mailto:someone@example.com",
                        "ftp://host:21/x", "HTTP://EXAMPLE.COM", "svn+ssh://h/p", "file:///C:/x.htm",
                        "http://example.com/a%20b+c", "http://h/%%"})
    EXPECT_EQ(CompleteScheme(a), a);
}

TEST(CompleteScheme, AddressWithoutASchemeGetsHttp) {
  EXPECT_EQ(CompleteScheme("www.example.com"), "http://www.example.com");
  EXPECT_EQ(CompleteScheme("example.com/path?q=1"), "http://example.com/path?q=1");
  EXPECT_EQ(CompleteScheme("localhost:8080/index.htm"), "http://localhost:8080/index.htm");
  EXPECT_EQ(CompleteScheme("1http://x"), "http://1http://x");  // a scheme begins with a letter
  EXPECT_EQ(CompleteScheme(":x"), "http://:x");
  EXPECT_EQ(CompleteScheme("\"a:b\"c"), "http://\"a:b\"c");  // the colon is quoted
  EXPECT_EQ(CompleteScheme(""), "");  // nothing to open stays nothing
}

TEST(CompleteScheme, BadEscapeRaisesTheUserInterfaceTexts) {
  // Positions count from 1 within the field, at the "%".
  EXPECT_EQ(ErrorOf("http://x/%"), u"URL 表記用エンコード（%XX）文字列のエラー：位置 - 5");
  EXPECT_EQ(ErrorOf("abc%4"), u"URL 表記用エンコード（%XX）文字列のエラー：位置 - 4");
  EXPECT_EQ(ErrorOf("http://x/%zz"), u"URL 表記エンコードでは許されない文字 (%zz)：位置 - 5");
  EXPECT_EQ(ErrorOf("a%4G"), u"URL 表記エンコードでは許されない文字 (%4G)：位置 - 2");
  // The second field counts from its own start; line breaks before it are skipped.
  EXPECT_EQ(ErrorOf("http:\r\n//h/%g1"), u"URL 表記エンコードでは許されない文字 (%g1)：位置 - 5");
  // "%%" is an escaped percent sign, then a lone "%".
  EXPECT_EQ(ErrorOf("x%%%"), u"URL 表記用エンコード（%XX）文字列のエラー：位置 - 4");
  // A quoted colon does not start a new field.
  EXPECT_EQ(ErrorOf("a\"b:c\"%q1"), u"URL 表記エンコードでは許されない文字 (%q1)：位置 - 7");
}

TEST(CompleteScheme, ErrorCarriesTheSameTextAsUtf8) {
  try {
    CompleteScheme("%");
    FAIL();
  } catch (const EURLDecodeError& e) {
    EXPECT_STREQ(e.what(), "URL 表記用エンコード（%XX）文字列のエラー：位置 - 1");
  }
}

TEST(FormatText, PlainAndIndexedDirectives) {
  EXPECT_EQ(FormatText(u"%d-%s", {u"1", u"b"}), u"1-b");
  EXPECT_EQ(FormatText(u"%1:d %0:s %s", {u"a", u"2", u"c"}), u"2 a 2");  // goes on after the index
  EXPECT_EQ(FormatText(u"100%% %d%", {u"7"}), u"100% 7%");
  EXPECT_EQ(FormatText(u"%s %s", {u"only"}), u"only %s");  // a missing argument is left as written
}

TEST(SplitDelimitedWords, BlanksAndCommasSeparate) {
  EXPECT_EQ(SplitDelimitedWords("  a  b\tc "), (Words{"a", "b", "c"}));
  EXPECT_EQ(SplitDelimitedWords("a,b , c"), (Words{"a", "b", "c"}));
  EXPECT_EQ(SplitDelimitedWords("a, ,b"), (Words{"a", "", "b"}));
  EXPECT_EQ(SplitDelimitedWords("a,,b"), (Words{"a", "", "b"}));
  EXPECT_EQ(SplitDelimitedWords("a,"), (Words{"a", ""}));
  EXPECT_EQ(SplitDelimitedWords("a, "), (Words{"a"}));
  EXPECT_EQ(SplitDelimitedWords(",a"), (Words{"", "a"}));
  EXPECT_EQ(SplitDelimitedWords(""), Words{});
  EXPECT_EQ(SplitDelimitedWords(" \r\n "), Words{});
}

TEST(SplitDelimitedWords, QuotedWordsKeepBlanksAndLoseTheirQuotes) {
  EXPECT_EQ(SplitDelimitedWords("\"C:\\Program Files\\b.exe\" -x"), (Words{"C:\\Program Files\\b.exe", "-x"}));
  EXPECT_EQ(SplitDelimitedWords("\"say \"\"hi\"\"\",b"), (Words{"say \"hi\"", "b"}));
  EXPECT_EQ(SplitDelimitedWords("\"open"), (Words{"open"}));  // never closed: runs to the end
  EXPECT_EQ(SplitDelimitedWords("\"a\"b"), (Words{"a", "b"}));
  EXPECT_EQ(SplitDelimitedWords("x\"y"), (Words{"x\"y"}));  // a quote inside a word is a character
}

TEST(SplitDelimitedWords, DoubleByteTextIsNotCut) {
  // "ブラウザ" in Shift-JIS: 0x83 0x75 0x83 0x89 0x83 0x45 0x83 0x55.
  const std::string sjis = "C:\\\x83\x75\x83\x89\x83\x45\x83\x55\\b.exe";
  EXPECT_EQ(SplitDelimitedWords(sjis + " %1"), (Words{sjis, "%1"}));
}

TEST(BrowserProgram, SwitchesAndPlaceholdersAreDropped) {
  const auto none = [](const std::string&) { return false; };
  EXPECT_EQ(BrowserProgramFromCommand("C:\\PROGRA~1\\b.exe -nohome %1", none), "C:\\PROGRA~1\\b.exe");
  EXPECT_EQ(BrowserProgramFromCommand("C:\\b.exe /url \"%1\"", none), "C:\\b.exe");
  EXPECT_EQ(BrowserProgramFromCommand("C:\\b.exe x-y a/b 50%", none), "C:\\b.exe");
  // A folder word with a hyphen goes too, and a run of blanks becomes one.
  EXPECT_EQ(BrowserProgramFromCommand("C:\\My  Tools\\b.exe", none), "C:\\My Tools\\b.exe");
  EXPECT_EQ(BrowserProgramFromCommand("C:\\My Tools\\Web-Browser\\b.exe", none), "C:\\My");
  EXPECT_EQ(BrowserProgramFromCommand("  C:\\b.exe  ", none), "C:\\b.exe");
  EXPECT_EQ(BrowserProgramFromCommand("-x /y %1", none), "");
  EXPECT_EQ(BrowserProgramFromCommand("", none), "");
}

TEST(BrowserProgram, AnExistingProgramPathIsTakenWhole) {
  const std::set<std::string> files{"C:\\Users\\jean-luc\\Web  Browser\\b.exe"};
  const auto isFile = [&](const std::string& p) { return files.count(p) != 0; };
  EXPECT_EQ(BrowserProgramFromCommand("C:\\Users\\jean-luc\\Web  Browser\\b.exe", isFile),
            "C:\\Users\\jean-luc\\Web  Browser\\b.exe");
  // With arguments after it, the text is no file: the words decide.
  EXPECT_EQ(BrowserProgramFromCommand("C:\\Users\\jean-luc\\Web  Browser\\b.exe -new", isFile), "Browser\\b.exe");
}
