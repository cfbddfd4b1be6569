// Message-queue helpers shared by the windowing layer and the start-up code.
#pragma once

// Dispatches every message waiting in this thread's queue, then returns.
// A WM_QUIT found on the way is put back, so the main loop still sees it.
void ProcessPendingMessages();
