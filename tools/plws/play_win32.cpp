// `plws play` needs Chromium and a display server: it runs on Linux only.
#include <iostream>

#include "tools/plws/play.h"

int PlayCommand(const std::vector<std::string>&) {
  std::cerr << "plws: play runs on Linux only\n";
  return 1;
}
