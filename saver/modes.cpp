#include "saver/modes.h"

#include "util/utils.h"

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
  return AsciiUpper(s[0]);
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

int32_t ParentHandleFromArg(const std::string& Arg) { return ParseInt32(Arg).value_or(0); }
