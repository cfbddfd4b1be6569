#include "saver/duplicate_win32.h"

#include "util/text_win32.h"

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

std::wstring FolderLockName(const std::string& FolderName) {
  const std::wstring wide = AnsiToWide(FolderName);
  if (wide.empty()) return {};
  // The invariant upper case is the file system's own comparison of names.
  std::wstring upper(wide.size(), L'\0');
  const int n = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.c_str(), static_cast<int>(wide.size()),
                              upper.data(), static_cast<int>(upper.size()), nullptr, nullptr, 0);
  if (n <= 0) return {};
  upper.resize(static_cast<size_t>(n));
  // A folder name holds no backslash, which would name a namespace here.
  return L"plu:mex folder " + upper;
}

namespace {

// Waits for Mutex until TimeoutMs have passed, serving sent messages only.
bool WaitForOwnership(HANDLE Mutex, DWORD TimeoutMs) {
  const ULONGLONG end = GetTickCount64() + TimeoutMs;
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    const DWORD left = now >= end ? 0 : static_cast<DWORD>(end - now);
    const DWORD r = MsgWaitForMultipleObjects(1, &Mutex, FALSE, left, QS_SENDMESSAGE);
    // Abandoned: its owner ended without finishing; what it left is ours to judge.
    if (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED_0) return true;
    if (r != WAIT_OBJECT_0 + 1) return false;
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);  // runs the sent ones
  }
}

}  // namespace

TFolderLock JoinFolderLock(const std::string& FolderName, DWORD TimeoutMs) {
  TFolderLock lock;
  const std::wstring name = FolderLockName(FolderName);
  if (name.empty()) return lock;
  lock.Handle.Reset(CreateMutexW(nullptr, TRUE, name.c_str()));
  // Read at once: the create sets it whether it opened or made the mutex.
  const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
  if (!lock.Handle) return lock;
  if (!existed) {
    // Made, and owned from its first moment.
    lock.First = true;
    lock.Owned.Reset(lock.Handle.Get());
  } else if (WaitForOwnership(lock.Handle.Get(), TimeoutMs)) {
    lock.Owned.Reset(lock.Handle.Get());
  }
  return lock;
}

TFolderLock ClaimFreeFolderLock(const std::string& FolderName) {
  TFolderLock lock = JoinFolderLock(FolderName, 0);
  if (!lock.First) return {};
  return lock;
}

bool CreateSingleInstance(const std::string& Name) {
  gSingleInstanceName = Name;
  return CreateInstanceMutex(gSingleInstanceHandle, Name);
}

void ReleaseSingleInstance() { ReleaseInstanceMutex(gSingleInstanceHandle); }

std::string SingleInstanceName() { return gSingleInstanceName; }
