// What every fuzz target shares: stopping on a broken invariant, and input
// copied into a block of exactly its size, so a read one byte past the end is
// an AddressSanitizer report and not a quiet look at a neighbour.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

// Says which invariant broke and aborts, so libFuzzer keeps the input.
[[noreturn]] inline void FuzzFail(const std::string& What, const char* Condition, const char* File, int Line) {
  std::fprintf(stderr, "invariant broken: %s (%s) at %s:%d\n", What.c_str(), Condition, File, Line);
  std::abort();
}

#define FUZZ_CHECK(Condition, What) \
  ((Condition) ? (void)0 : FuzzFail((What), #Condition, __FILE__, __LINE__))

// Size bytes at Data in a heap block of exactly that size; null for none.
inline std::unique_ptr<uint8_t[]> ExactCopy(const uint8_t* Data, size_t Size) {
  if (Size == 0) return nullptr;
  std::unique_ptr<uint8_t[]> block(new uint8_t[Size]);
  std::memcpy(block.get(), Data, Size);
  return block;
}
