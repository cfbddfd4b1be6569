// What the small probe programs and libraries share: their settings come
// from environment variables and their findings go, a line at a time, to the
// file another variable names. Header only: the probes link nothing else of
// the tests.
#pragma once
#include <windows.h>

#include <cstdio>
#include <string>

#include "util/raii.h"

// The variable's value; empty when unset or longer than a probe needs.
inline std::string ProbeEnv(const char* Name) {
  char buffer[1024];
  const DWORD n = GetEnvironmentVariableA(Name, buffer, sizeof buffer);
  return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

// Appends Line to the file named by the variable LogVariable, if it is set.
// The file is opened for each line so that a probe that ends abruptly loses
// nothing it has already said.
inline void ProbeLog(const char* LogVariable, const std::string& Line) {
  const std::string path = ProbeEnv(LogVariable);
  if (path.empty()) return;
  if (const TUniqueCFile f{std::fopen(path.c_str(), "ab")}) std::fprintf(f.Get(), "%s\n", Line.c_str());
}
