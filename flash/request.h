// The requests of the page that hosts the emulator: the route and file a
// target names, the run's token, percent coding and content types. The
// local server of `plws play` and the saver's browser player answer them.
#pragma once
#include <map>
#include <optional>
#include <string>
#include <vector>

// The Content-Type of a served file, by its extension.
std::string MimeTypeFor(const std::string& Path);

// A request target split for the server. Kind says which route it names;
// Segments are the percent-decoded path segments after the route prefix.
struct TRequestTarget {
  enum TKind { Page, Event, Ruffle, Movie, NotFound, Bad } Kind = NotFound;
  std::vector<std::string> Segments;
  std::map<std::string, std::string> Query;  // decoded query parameters
};
// "/" the page, "/event?..." a report, "/ruffle/<file>" the player's files,
// "/m/<seg>/..." the extracted files. Any segment that is empty, "." or
// "..", or that holds "/", "\" or NUL once decoded, makes the target Bad.
TRequestTarget ParseRequestTarget(const std::string& Target);

// The server answers only requests whose path starts with "/<Token>/", the
// random token of the run, so another local user can neither fetch the
// movie nor report the end. The target with that prefix cut to "/", or
// nullopt when it does not carry the token.
std::optional<std::string> StripRunToken(const std::string& Target, const std::string& Token);

std::string PercentDecode(const std::string& Text, bool& Ok);
std::string PercentEncodeSegment(const std::string& Text);
