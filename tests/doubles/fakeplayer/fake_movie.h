// Portable pieces of the fake player: finding the FSCommand a movie carries
// and writing log fields that survive blanks, line breaks and any bytes.
#pragma once
#include <optional>
#include <string>
#include <string_view>

// The first FSCommand written in a movie's bytes, laid out as a SWF GetURL
// action stores fscommand(command, args): the bytes "FSCommand:", the
// command up to a NUL, then the arguments up to the next NUL. Either text
// may also end at the end of the data. The texts are returned as they are
// stored (UTF-8 in a SWF of version 6 or later).
struct TFsCommand {
  std::string Command;
  std::string Args;
};
std::optional<TFsCommand> FindFSCommand(std::string_view Movie);

// One log field: blanks, backslashes and control bytes become escapes
// (\s for a blank, \\, \n, \r, \t, \xHH), so a field never holds a blank
// or a line break; other bytes (UTF-8 text) pass unchanged. An empty text
// is written as \e so that it still forms a field.
std::string EscapeLogField(std::string_view Text);
std::string UnescapeLogField(std::string_view Field);
