// `plws play`'s command line.
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "tools/plws/play.h"
#include "tools/plws/plws.h"

TPlayOptions ParsePlayArgs(const std::vector<std::string>& Args) {
  TPlayOptions o;
  bool afterGiven = false;
  for (size_t i = 0; i < Args.size(); ++i) {
    const std::string& a = Args[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= Args.size()) throw EPlwsError("play: " + a + " needs a value");
      return Args[++i];
    };
    if (a == "--preview") {
      o.Preview = true;
    } else if (a == "--window") {
      const std::string v = value();
      int w = 0, h = 0;
      char extra = 0;
      if (std::sscanf(v.c_str(), "%dx%d%c", &w, &h, &extra) != 2 || w < 16 || h < 16 || w > 16384 ||
          h > 16384)
        throw EPlwsError("play: --window needs WIDTHxHEIGHT (16..16384), got \"" + v + "\"");
      o.Width = w;
      o.Height = h;
    } else if (a == "--screenshot") {
      o.Screenshot = value();
      if (o.Screenshot.empty()) throw EPlwsError("play: --screenshot needs a file name");
    } else if (a == "--after") {
      const std::string v = value();
      char* end = nullptr;
      o.AfterSeconds = std::strtod(v.c_str(), &end);
      if (v.empty() || *end != '\0' || !std::isfinite(o.AfterSeconds) || o.AfterSeconds < 0 ||
          o.AfterSeconds > 3600)
        throw EPlwsError("play: --after needs seconds (0..3600), got \"" + v + "\"");
      afterGiven = true;
    } else if (!a.empty() && a[0] == '-') {
      throw EPlwsError("play: unknown option " + a);
    } else if (o.File.empty()) {
      o.File = a;
    } else {
      throw EPlwsError("play: unexpected argument " + a);
    }
  }
  if (o.File.empty()) throw EPlwsError("play needs a FILE");
  if (afterGiven && o.Screenshot.empty()) throw EPlwsError("play: --after goes with --screenshot");
  return o;
}

bool FsCommandEndsRun(const std::string& Command, bool Preview) { return !Preview && IsQuitCommand(Command); }
