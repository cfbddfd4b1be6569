#include "tests/support/fake_log_win32.h"

#include <algorithm>
#include <sstream>

#include "tests/support/process_win32.h"

std::vector<std::string> TFakeLog::Events() const {
  std::vector<std::string> lines;
  std::istringstream in(ReadTextFile(Path));
  std::string line;
  while (std::getline(in, line)) {
    const size_t first = line.find(' ');
    const size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
    if (second != std::string::npos) lines.push_back(line.substr(second + 1));
  }
  return lines;
}

bool TFakeLog::Has(const std::string& Event) const {
  const auto events = Events();
  return std::find(events.begin(), events.end(), Event) != events.end();
}

size_t TFakeLog::Count(const std::string& Prefix) const {
  size_t n = 0;
  for (const auto& e : Events()) n += e.rfind(Prefix, 0) == 0;
  return n;
}

long TFakeLog::LastTimer() const {
  long last = 0;
  for (const auto& e : Events())
    if (e.rfind("timer ", 0) == 0) last = std::max(last, std::stol(e.substr(6)));
  return last;
}

std::vector<std::string> TFakeLog::Only(const std::vector<std::string>& Words) const {
  std::vector<std::string> out;
  for (const auto& e : Events()) {
    const std::string word = e.substr(0, e.find(' '));
    if (std::find(Words.begin(), Words.end(), word) != Words.end()) out.push_back(e);
  }
  return out;
}
