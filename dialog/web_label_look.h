// How a link label looks after each mouse event: cursor, font colour and font
// style as a plain function of the event and the label's state. The window
// layer feeds it the events and paints what it returns.
#pragma once
#include <cstdint>

// Colours as red in the lowest byte, then green, then blue.
using TColor = uint32_t;
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor clRed = 0x0000FF;

enum class TLabelCursor { Default, HandPoint };

// Font style bits.
enum : uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };

struct TLabelLook {
  TLabelCursor Cursor = TLabelCursor::Default;
  TColor FontColor = clBlack;
  uint8_t FontStyle = 0;
  bool operator==(const TLabelLook&) const = default;
};

struct TLabelColors {
  TColor Normal = clBlack, Over = clBlue, Clicking = clRed;
};

enum class TLabelEvent {
  Loaded,      // the label's settings are complete
  MouseEnter,
  MouseLeave,
  LeftDown,    // after the standard handling of the press
  LeftUp,      // after the standard handling of the release (and the click)
};

// HasURL: the label's address is not empty. LeftHeld: the left button has been
// held since a press on the label (only looked at on MouseEnter).
TLabelLook NextLabelLook(const TLabelLook& Current, TLabelEvent Event, bool HasURL, bool LeftHeld,
                         const TLabelColors& Colors);
