// swfgen: writes the project's own test and sample movies (see kSwfgenUsage).
#include <fstream>
#include <iostream>
#include <stdexcept>

#include "tools/swfgen/swf_writer.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::cout << kSwfgenUsage;
    return 0;
  }
  try {
    const TSwfgenCommand c = ParseSwfgenArgs(args);
    const std::vector<uint8_t> swf = BuildSwfMovie(c.Movie);
    std::ofstream out(c.Out, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(swf.data()), static_cast<std::streamsize>(swf.size()));
    if (!out.flush()) {
      std::cerr << "swfgen: " << c.Out << ": cannot write\n";
      return 1;
    }
    return 0;
  } catch (const std::invalid_argument& e) {
    std::cerr << "swfgen: " << e.what() << "\n" << kSwfgenUsage;
    return 2;
  }
}
