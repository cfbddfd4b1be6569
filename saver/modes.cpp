#include "saver/modes.h"

#include <cstdint>
#include <limits>

std::vector<std::string> SplitCommandLine(const std::string& CommandLine) {
  std::vector<std::string> args;
  size_t i = 0;
  const size_t n = CommandLine.size();
  auto blank = [&](size_t k) { return static_cast<unsigned char>(CommandLine[k]) <= ' '; };
  for (;;) {
    while (i < n && blank(i)) ++i;
    if (i >= n) break;
    std::string arg;
    bool quoted = false;
    while (i < n && (quoted || !blank(i))) {
      if (CommandLine[i] == '"')
        quoted = !quoted;
      else
        arg += CommandLine[i];
      ++i;
    }
    args.push_back(arg);
  }
  return args;
}

char ModeLetterFromArgs(const std::vector<std::string>& Args) {
  std::string s = Args.empty() ? std::string() : Args[0];
  if (s.empty()) s = "/C";
  if (s[0] == '-' || s[0] == '/') s = s.size() > 1 ? s.substr(1, 1) : std::string();
  if (s.empty()) return 'C';
  char c = s[0];
  if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return c;
}

TScreenSaverMode ModeFromLetter(char Letter) {
  switch (Letter) {
    case 'A': return ssmPassword;
    case 'C': return ssmConfig;
    case 'E': return ssmSaver;
    case 'P': return ssmPreview;
    default: return ssmNone;
  }
}

int32_t ParentHandleFromArg(const std::string& Arg) {
  size_t i = 0;
  bool negative = false;
  if (i < Arg.size() && (Arg[i] == '-' || Arg[i] == '+')) negative = Arg[i++] == '-';
  if (i >= Arg.size()) return 0;
  int64_t value = 0;
  for (; i < Arg.size(); ++i) {
    if (Arg[i] < '0' || Arg[i] > '9') return 0;
    value = value * 10 + (Arg[i] - '0');
    if (value > int64_t{std::numeric_limits<int32_t>::max()} + 1) return 0;
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int32_t>::max() || value < std::numeric_limits<int32_t>::min())
    return 0;
  return static_cast<int32_t>(value);
}
