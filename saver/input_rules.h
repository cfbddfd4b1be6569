// Which input ends a screen saver, as a plain function of the message and
// the host's state; the Win32 host (saver/screen_saver_win32.h) feeds it
// every message its form sees and acts on the verdict.
//
// Mouse moves: in full-screen mode the saver ends at the first move that
// comes after three moves that each brought a position different from the
// one before (the first is compared with (0, 0)). Moves repeating the last
// position do not count, but once three have counted, any further move ends
// it, wherever it is. Buttons, double-clicks and the wheel end it at once;
// so do key presses and releases. Other modes never end on input, but the
// moves are still counted.
#pragma once
#include <cstdint>

#include "saver/modes.h"

// The window messages the rules look at (their Win32 numbers).
namespace input_messages {
constexpr uint32_t kKeyDown = 0x0100;
constexpr uint32_t kKeyUp = 0x0101;
constexpr uint32_t kMouseMove = 0x0200;
constexpr uint32_t kFirstMouseButton = 0x0201;  // WM_LBUTTONDOWN
constexpr uint32_t kLastMouseButton = 0x020A;   // WM_MOUSEWHEEL
}  // namespace input_messages

// The host's switches.
struct TInputRules {
  TScreenSaverMode Mode = ssmNone;
  bool TerminateOnMouseMove = true;
  bool TerminateOnKeyDown = true;
};

// What the host remembers between messages.
struct TMouseMoveState {
  int32_t MouseMoveCount = 0;  // 0 to 3
  int32_t LastMouseX = 0;      // unsigned 16-bit values, as the message carried them
  int32_t LastMouseY = 0;
  bool operator==(const TMouseMoveState&) const = default;
};

struct TInputVerdict {
  // Ask for the password (where one is set) and end the saver before the
  // message is handled any further.
  bool VerifyAndTerminate = false;
  // The state once the message is handled, if the saver goes on. When the
  // message asked for the check, the saver only goes on after a failed
  // check, and that starts the count again: the message is then counted
  // from 0.
  TMouseMoveState After;
};

// Judges one message (number Msg, the low 32 bits of its lParam) that the
// saver's form receives.
TInputVerdict JudgeInput(const TInputRules& Rules, const TMouseMoveState& Before, uint32_t Msg, uint32_t LParam);
