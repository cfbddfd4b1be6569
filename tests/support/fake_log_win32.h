// The fake player's log as the tests read it: one event a line, after the
// process id and the instance number the fake puts in front of each.
#pragma once
#include <string>
#include <vector>

struct TFakeLog {
  std::string Path;

  // Every event, in the order logged.
  std::vector<std::string> Events() const;
  bool Has(const std::string& Event) const;
  // How many events start with Prefix.
  size_t Count(const std::string& Prefix) const;
  // The highest "timer N" the fake has logged.
  long LastTimer() const;
  // The events starting with one of the given words, in order.
  std::vector<std::string> Only(const std::vector<std::string>& Words) const;
};
