#include <windows.h>

#include "saver/modes.h"

char GetModeLetter() {
  const auto args = SplitCommandLine(GetCommandLineA());
  return ModeLetterFromArgs(args.size() > 1 ? std::vector<std::string>(args.begin() + 1, args.end())
                                            : std::vector<std::string>{});
}
