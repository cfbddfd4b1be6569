#include <windows.h>

#include <utility>

#include "util/messages.h"

namespace {

// What this thread's waits have learnt about its queue since it was last
// emptied: a wait that ran out while it also watched the queue proves that
// nothing has arrived since the last look at it; one that a message ended
// leaves the message for the next ProcessPendingMessages.
enum class TQueueState { Unknown, Quiet, Waiting };
thread_local TQueueState tQueue = TQueueState::Unknown;

}  // namespace

void ProcessPendingMessages() {
  // Asking the system is a round trip to the window server; a queue proven
  // quiet has nothing to give.
  if (std::exchange(tQueue, TQueueState::Unknown) == TQueueState::Quiet) return;
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

TWaitEnd WaitForEventOrMessage(HANDLE Event, DWORD Milliseconds) {
  // A message already seen stays "new" until the queue is looked at, so
  // watching the queue again would end every wait at once.
  if (tQueue == TQueueState::Waiting)
    return WaitForSingleObject(Event, Milliseconds) == WAIT_TIMEOUT ? TWaitEnd::Timeout : TWaitEnd::Event;
  switch (MsgWaitForMultipleObjects(1, &Event, FALSE, Milliseconds, QS_ALLINPUT)) {
    case WAIT_TIMEOUT: tQueue = TQueueState::Quiet; return TWaitEnd::Timeout;
    case WAIT_OBJECT_0 + 1: tQueue = TQueueState::Waiting; return TWaitEnd::Message;
    default: tQueue = TQueueState::Unknown; return TWaitEnd::Event;
  }
}
