// Message-queue helpers shared by the windowing layer and the start-up code.
#pragma once

// Dispatches every message waiting in this thread's queue, then returns.
// A WM_QUIT found on the way is put back, so the main loop still sees it.
// Returns at once when this thread's last wait was a WaitForEventOrMessage
// that ran its time out: nothing has arrived since the queue was last
// emptied. Every other look at the queue of a thread that waits that way
// goes through here, or that proof would not hold.
void ProcessPendingMessages();

// Waits until Event (a HANDLE) is set, a message reaches this thread's queue,
// or Milliseconds pass; says which ended the wait.
enum class TWaitEnd { Event, Message, Timeout };
TWaitEnd WaitForEventOrMessage(void* Event, unsigned long Milliseconds);
