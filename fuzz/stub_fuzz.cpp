// libFuzzer target: any bytes as the stub of a saver, a Windows executable
// image. FindImageResource finds nothing or a span that lies inside the
// image; IsProjectStub holds only where the emulator resource is found and
// its bytes end with the package trailer.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "flash/emulator_resource.h"
#include "fuzz/fuzz_support.h"
#include "package/exe_adder.h"
#include "tools/plws/stub.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const auto image = ExactCopy(Data, Size);
  for (uint32_t type : {3u, 10u, 16u}) {
    for (uint32_t id : {1u, 201u, 202u}) {
      const auto span = FindImageResource(image.get(), Size, type, id);
      if (span) FUZZ_CHECK(span->Offset <= Size && span->Size <= Size - span->Offset, "a span outside the image");
    }
  }
  if (IsProjectStub(image.get(), Size)) {
    const auto emulator = FindImageResource(image.get(), Size, 10, PL_EMULATOR_RESOURCE);
    FUZZ_CHECK(emulator && emulator->Size >= static_cast<size_t>(kTrailerSize) &&
                   std::memcmp(image.get() + emulator->Offset + emulator->Size - 4, kPackageMagic, 4) == 0,
               "taken for this project's stub without the emulator's package");
  }
  return 0;
}
