// What plws tells of the bytes before a package: whether they are this
// project's saver, which carries the Flash emulator its browser player runs,
// or another stub that can play only through the vendor's Flash control.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>

// Where a resource's bytes lie in a Windows executable image (PE32 or PE32+)
// held in memory: the data of the first language of the resource Type/Id
// (numeric both). Nullopt when Image is no such executable, carries no such
// resource, or any header, directory or data would lie outside Image; never
// reads outside it.
struct TResourceSpan {
  size_t Offset = 0, Size = 0;
};
std::optional<TResourceSpan> FindImageResource(const uint8_t* Image, size_t Size, uint32_t Type, uint32_t Id);

// Whether Image is this project's saver: it carries the Flash emulator
// resource, and that resource holds a package (the emulator's files) that
// opens. A product name or a file description would not do: the stubs this
// project replaces may well carry the same ones; that resource they cannot.
bool IsProjectStub(const uint8_t* Image, size_t Size);
