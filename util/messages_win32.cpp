#include <windows.h>

#include "util/messages.h"

namespace {

thread_local bool tWithoutMessages = false;

}  // namespace

void MarkThreadWithoutMessages() { tWithoutMessages = true; }

void ProcessPendingMessages() {
  if (tWithoutMessages) return;
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
