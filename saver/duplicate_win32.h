// Single instance through a named kernel mutex: its mere existence tells a
// copy that another copy runs. It is never waited on.
#pragma once
#include <windows.h>

#include <string>

// True when this copy now holds the mutex Name (used unchanged, no namespace
// prefix); false, with Handle 0, when another copy has it or it cannot be
// created.
bool CreateInstanceMutex(HANDLE& Handle, const std::string& Name);
// Gives a handle from CreateInstanceMutex back and sets it to 0; nothing for 0.
void ReleaseInstanceMutex(HANDLE& Handle);

// CreateInstanceMutex on one process-wide handle, remembering Name.
bool CreateSingleInstance(const std::string& Name);
void ReleaseSingleInstance();
// The name last given to CreateSingleInstance.
std::string SingleInstanceName();
