// A second process for the single-instance tests.
//   instance_probe NAME             claims NAME; exit 1 when it got it, 0 when
//                                   refused with its handle empty, 2 when
//                                   refused with a handle left over
//   instance_probe NAME hold EVENT  claims NAME (exit 3 when refused), sets
//                                   the event EVENT"-ready", and holds NAME
//                                   until EVENT"-go" is set (at most 30 s)
#include <windows.h>

#include <string>

#include "saver/duplicate_win32.h"
#include "util/raii_win32.h"

int main(int argc, char** argv) {
  if (argc < 2) return 9;
  // Holding a mutex already: a refusal must leave nothing behind.
  TUniqueMutex handle(CreateMutexA(nullptr, FALSE, nullptr));
  const bool got = CreateInstanceMutex(handle, argv[1]);
  if (argc >= 4 && std::string(argv[2]) == "hold") {
    if (!got) return 3;
    const std::string event = argv[3];
    const TUniqueHandle ready(OpenEventA(EVENT_MODIFY_STATE, FALSE, (event + "-ready").c_str()));
    const TUniqueHandle go(OpenEventA(SYNCHRONIZE, FALSE, (event + "-go").c_str()));
    if (!ready || !go) return 8;
    SetEvent(ready.Get());
    WaitForSingleObject(go.Get(), 30000);
    ReleaseInstanceMutex(handle);
    return 1;
  }
  if (got) {
    ReleaseInstanceMutex(handle);
    return 1;
  }
  return handle ? 2 : 0;
}
