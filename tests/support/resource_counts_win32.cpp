#include "tests/support/resource_counts_win32.h"

#include <windows.h>
#include <winternl.h>

#include <vector>

namespace {

// The layout Wine and Windows share for SystemHandleInformation (class 16).
struct THandleEntry {
  ULONG OwnerPid;
  BYTE ObjectType;
  BYTE HandleFlags;
  USHORT HandleValue;
  PVOID ObjectPointer;
  ULONG AccessMask;
};
struct THandleTable {
  ULONG Count;
  THandleEntry Handle[1];
};
constexpr auto kSystemHandleInformation = static_cast<SYSTEM_INFORMATION_CLASS>(16);
constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);

BOOL CALLBACK CountChild(HWND, LPARAM Count) noexcept {
  ++*reinterpret_cast<size_t*>(Count);
  return TRUE;
}

BOOL CALLBACK CountTopLevel(HWND Wnd, LPARAM Count) noexcept {
  DWORD pid = 0;
  GetWindowThreadProcessId(Wnd, &pid);
  if (pid == GetCurrentProcessId()) {
    ++*reinterpret_cast<size_t*>(Count);
    EnumChildWindows(Wnd, CountChild, Count);
  }
  return TRUE;
}

}  // namespace

size_t CountProcessHandles() {
  std::vector<unsigned char> buffer(1 << 16);
  for (int attempt = 0; attempt < 16; ++attempt) {
    ULONG needed = 0;
    const NTSTATUS status = NtQuerySystemInformation(kSystemHandleInformation, buffer.data(),
                                                     static_cast<ULONG>(buffer.size()), &needed);
    if (status == kInfoLengthMismatch) {
      buffer.resize(needed > buffer.size() ? needed + 4096 : buffer.size() * 2);
      continue;
    }
    if (status < 0) return 0;
    const auto* table = reinterpret_cast<const THandleTable*>(buffer.data());
    const size_t room = (buffer.size() - offsetof(THandleTable, Handle)) / sizeof(THandleEntry);
    const size_t count = table->Count < room ? table->Count : room;
    size_t mine = 0;
    for (size_t i = 0; i < count; ++i)
      if (table->Handle[i].OwnerPid == GetCurrentProcessId()) ++mine;
    return mine;
  }
  return 0;
}

size_t CommittedPrivateBytes() {
  size_t total = 0;
  MEMORY_BASIC_INFORMATION info;
  const char* address = nullptr;
  while (VirtualQuery(address, &info, sizeof info) == sizeof info) {
    if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE) total += info.RegionSize;
    const char* next = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
    if (next <= address) break;
    address = next;
  }
  return total;
}

size_t CountProcessWindows() {
  size_t count = 0;
  EnumWindows(CountTopLevel, reinterpret_cast<LPARAM>(&count));
  return count;
}
