// The text handling of the browser launcher, free of the registry and of
// process start-up: the address check and the reading of a browser's open
// command.
#pragma once
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

// A malformed %XX escape in an address. Message() is the user-interface text
// (UTF-16); what() carries the same text in UTF-8.
class EURLDecodeError : public std::runtime_error {
 public:
  explicit EURLDecodeError(std::u16string Message);
  const std::u16string& Message() const { return FMessage; }

 private:
  std::u16string FMessage;
};

// Checks an address and gives it a scheme when it has none.
//
// The address is cut into fields at ":" (outside double-quoted stretches;
// carriage returns and line feeds before a field are skipped and end a
// field), and every field must decode as a URL-encoded text ("+" is a blank,
// "%%" a percent sign, "%XX" a byte): a bad escape throws EURLDecodeError
// with its 1-based position within the field, and the address must not be
// opened.
//
// The address has a scheme when its first field is a scheme name (a letter,
// then letters, digits, "+", "-" or ".") ended by ":" and the text after that
// colon does not start with a digit ("localhost:8080" is a host and a port).
// An address with a scheme, and the empty address, come back unchanged; any
// other gets "http://" in front.
std::string CompleteScheme(const std::string& Address);

// Reads a text the way a comma-separated list is read: blanks (code 1 to 32)
// separate words as commas do, a run of blanks counts as one break, blanks
// around a comma belong to it; two commas with only blanks between them, or
// a comma that is the last character, give an empty word. A word that begins
// with a double quote runs to the closing quote (two quotes inside stand for
// one) and loses its quotes. Byte-wise: no lead or trail byte of a
// double-byte character is a blank, a comma or a quote.
std::vector<std::string> SplitDelimitedWords(const std::string& Text);

// The browser program from the text inside the open command's leading quotes
// (or the whole command when it has none): the words of the command with
// every word containing "-", "/" or "%" (switches, the "%1" placeholder)
// left out, joined with single blanks, trimmed.
// When the text as a whole already names an existing file (IsFile), it is the
// program path as it stands: a word split would cut a path such as
// "C:\Users\jean-luc\...\browser.exe" into pieces that name nothing.
std::string BrowserProgramFromCommand(const std::string& UnquotedCommand,
                                      const std::function<bool(const std::string&)>& IsFile);
