// The Win32 host of TThreadTimer. Create it on the GUI thread: synchronized
// ticks run on that thread (through a hidden message-only window of its
// own), and timer messages go to Owner (null: UseMessage delivers nothing).
#pragma once
#include <windows.h>

#include <memory>

#include "saver/thread_timer.h"

std::unique_ptr<ITimerHost> MakeWin32TimerHost(HWND Owner);
