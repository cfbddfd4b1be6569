// libFuzzer target: any bytes as the end of an executable. The reader must
// never crash, leak, read outside a buffer or allocate beyond the input.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "package/exe_adder.h"
#include "package/stream.h"
#include "package/zlibex.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  TMemoryStream stream(std::vector<uint8_t>(Data, Data + Size));
  TItemTypes items;
  try {
    ReadExeItems(stream, items);
  } catch (const EZDecompressionError&) {
    // A corrupt compressed item is the one error the reader reports.
  }
  for (const auto& item : items) {
    // Touch every byte the list claims to own, so ASan sees a lie.
    volatile uint8_t sink = 0;
    for (int32_t i = 0; i < item.Size; ++i) sink = sink ^ item.Data[i];
    (void)sink;
  }
  FreeExeItems(items);
  return 0;
}
