#include "saver/duplicate_win32.h"

namespace {

std::string gSingleInstanceName;
HANDLE gSingleInstanceHandle = nullptr;

}  // namespace

bool CreateInstanceMutex(HANDLE& Handle, const std::string& Name) {
  Handle = nullptr;
  if (HANDLE existing = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, Name.c_str())) {
    ReleaseMutex(existing);
    CloseHandle(existing);
    return false;
  }
  HANDLE created = CreateMutexA(nullptr, FALSE, Name.c_str());
  // Two copies starting together may both miss the other in the open above;
  // the one whose create found the mutex already there is the second.
  if (created != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(created);
    return false;
  }
  Handle = created;
  return Handle != nullptr;
}

void ReleaseInstanceMutex(HANDLE& Handle) {
  if (Handle == nullptr) return;
  ReleaseMutex(Handle);
  CloseHandle(Handle);
  Handle = nullptr;
}

bool JoinInstanceMutex(TUniqueHandle& Handle, const std::string& Name) {
  Handle.Reset(CreateMutexA(nullptr, FALSE, Name.c_str()));
  // Read at once: the create sets it whether it opened or made the mutex.
  const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
  return Handle && !existed;
}

bool CreateSingleInstance(const std::string& Name) {
  gSingleInstanceName = Name;
  // A handle still held would be lost (and its mutex kept alive until the
  // process ends) by overwriting it.
  ReleaseInstanceMutex(gSingleInstanceHandle);
  return CreateInstanceMutex(gSingleInstanceHandle, Name);
}

void ReleaseSingleInstance() { ReleaseInstanceMutex(gSingleInstanceHandle); }

std::string SingleInstanceName() { return gSingleInstanceName; }
