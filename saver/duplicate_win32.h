// Single instance through a named kernel mutex: its mere existence tells a
// copy that another copy runs. It is never waited on.
#pragma once
#include <windows.h>

#include <string>

#include "util/raii_win32.h"

// True when this copy now holds the mutex Name (used unchanged, no namespace
// prefix); false, with Handle empty, when another copy has it or it cannot be
// created. A mutex Handle held before is given back first.
bool CreateInstanceMutex(TUniqueMutex& Handle, const std::string& Name);
// Gives the mutex in Handle back and empties it; nothing for an empty one.
void ReleaseInstanceMutex(TUniqueMutex& Handle);

// Opens the mutex Name, creating it when no copy has it, and keeps it open
// in Handle: the name then exists for as long as any copy that joined still
// runs, also after the first one has ended. True when this call created it,
// that is, when no other copy was alive; false when one is, and when the
// mutex cannot be had at all (Handle empty then).
bool JoinInstanceMutex(TUniqueMutex& Handle, const std::string& Name);

// CreateInstanceMutex on one process-wide handle, remembering Name (a handle
// still held is given back first rather than lost).
bool CreateSingleInstance(const std::string& Name);
void ReleaseSingleInstance();
// The name last given to CreateSingleInstance.
std::string SingleInstanceName();
