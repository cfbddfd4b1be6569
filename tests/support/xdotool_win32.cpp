#include "tests/support/xdotool_win32.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "tests/support/message_pump_win32.h"
#include "tests/support/process_win32.h"

void Xdotool(const std::string& Args) {
  if (!StartProcess("/usr/bin/xdotool " + Args)) ADD_FAILURE() << "cannot run xdotool " << Args;
}

bool MovePointer(int X, int Y) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    Xdotool("mousemove " + std::to_string(X) + " " + std::to_string(Y));
    if (PumpUntil(
            [&] {
              POINT p;
              return GetCursorPos(&p) && p.x == X && p.y == Y;
            },
            4000))
      return true;
  }
  return false;
}
