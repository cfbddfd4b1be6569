// Message-queue helpers shared by the windowing layer and the start-up code.
#pragma once

// Dispatches every message waiting in this thread's queue, then returns.
// A WM_QUIT found on the way is put back, so the main loop still sees it.
// Returns at once on a thread marked by MarkThreadWithoutMessages.
void ProcessPendingMessages();

// Marks the calling thread as one that creates no windows and whose id is
// handed to nobody: no message can reach it, so ProcessPendingMessages need
// not ask the system (a round trip to the window server, and a message queue
// made for the asking). For worker threads whose code is known.
void MarkThreadWithoutMessages();
