// Real X input from a Windows test program running under Wine.
#pragma once
#include <string>

// Runs /usr/bin/xdotool with Args. Wine starts a Unix program given by its
// Unix path, but its handle cannot be waited for: callers wait for the effect.
void Xdotool(const std::string& Args);

// Moves the pointer to (X, Y) and waits, handling this thread's messages,
// until Windows sees it there. A busy machine can lose or delay a move: it
// asks again before giving up.
bool MovePointer(int X, int Y);
