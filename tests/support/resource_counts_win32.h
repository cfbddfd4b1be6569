// What a process holds, for leak checks under Wine, where
// GetProcessHandleCount, PrivateUsage and GetGuiResources all report 0.
#pragma once
#include <cstddef>

// Kernel handles of this process, from the system-wide handle table.
size_t CountProcessHandles();
// Committed private memory of this process, summed over VirtualQuery regions.
size_t CommittedPrivateBytes();
// Windows of this process: top-level windows and all their descendants.
size_t CountProcessWindows();
