#include "saver/duplicate_win32.h"

namespace {

std::string gSingleInstanceName;
TUniqueMutex gSingleInstanceHandle;

}  // namespace

bool CreateInstanceMutex(TUniqueMutex& Handle, const std::string& Name) {
  Handle.Reset();
  if (TUniqueMutex existing{OpenMutexA(MUTEX_ALL_ACCESS, FALSE, Name.c_str())}) return false;
  TUniqueMutex created(CreateMutexA(nullptr, FALSE, Name.c_str()));
  // Two copies starting together may both miss the other in the open above;
  // the one whose create found the mutex already there is the second.
  if (created && GetLastError() == ERROR_ALREADY_EXISTS) return false;
  Handle = std::move(created);
  return static_cast<bool>(Handle);
}

void ReleaseInstanceMutex(TUniqueMutex& Handle) { Handle.Reset(); }

bool JoinInstanceMutex(TUniqueMutex& Handle, const std::string& Name) {
  Handle.Reset(CreateMutexA(nullptr, FALSE, Name.c_str()));
  // Read at once: the create sets it whether it opened or made the mutex.
  const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
  return Handle && !existed;
}

bool CreateSingleInstance(const std::string& Name) {
  gSingleInstanceName = Name;
  return CreateInstanceMutex(gSingleInstanceHandle, Name);
}

void ReleaseSingleInstance() { ReleaseInstanceMutex(gSingleInstanceHandle); }

std::string SingleInstanceName() { return gSingleInstanceName; }
