// The full-screen relaunch: the system starts a saver with "/S"; the saver
// starts a second copy of itself with "/E" and waits for it.
#pragma once

// Starts this executable again as "<path>" /E and returns when that copy has
// ended, servicing this thread's message queue meanwhile. Returns at once if
// the copy cannot be started.
void RunSaverProcess();

// Run first thing at program start: for the letter 'S', relaunch and wait,
// then end this process with exit code 0 whatever the child did.
void RunStartupCheck();
