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

// A copy's share in the lock of a folder name in the temporary directory.
// Copies that use folders of one name (the copies of a package, and of
// packages whose GUIDs differ in letter case only, as the file system does
// not tell those names apart) hold it: while one holds it, the folder of
// that name is in use and nobody else removes it. Whoever works on the
// folder (removes what was left, creates it, writes into it) owns the lock
// meanwhile, so no other copy can look at the folder in between.
struct TFolderLock {
  TUniqueHandle Handle;     // keeps the lock alive while this copy runs
  TMutexOwnership Owned;    // while this copy works on the folder; goes first
  bool First = false;       // this copy created the lock: no other one holds it
};
// The mutex name of FolderName's lock: the name in one letter case, as the
// file system compares names; empty when it cannot be made.
std::wstring FolderLockName(const std::string& FolderName);
// Joins the lock of FolderName. A copy that creates it owns it at once
// (First). Otherwise it waits up to TimeoutMs for the copy that owns it to
// finish its work, serving the messages other threads and programs send to
// this thread meanwhile (a broadcast waits for every window; posted input,
// timers and the quit request stay queued); Owned stays empty when the wait
// runs out. A lock that cannot be had at all leaves Handle empty.
TFolderLock JoinFolderLock(const std::string& FolderName, DWORD TimeoutMs);
// The lock of FolderName only when no copy holds it: created and owned, or
// empty when it exists already or cannot be made.
TFolderLock ClaimFreeFolderLock(const std::string& FolderName);

// CreateInstanceMutex on one process-wide handle, remembering Name (a handle
// still held is given back first rather than lost).
bool CreateSingleInstance(const std::string& Name);
void ReleaseSingleInstance();
// The name last given to CreateSingleInstance.
std::string SingleInstanceName();
