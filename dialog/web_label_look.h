// How a link label looks after each mouse event: cursor, font colour and font
// style as a plain function of the event and the label's state. The window
// layer feeds it the events and paints what it returns.
#pragma once
#include <cstdint>

// Colours and style bits are those of the windowing layer's fonts (a colour
// has red in the lowest byte, then green, then blue; style bits bold 1,
// italic 2, underline 4, strike-out 8), kept here without its headers.
namespace LabelLook {
inline constexpr int32_t Black = 0x000000;
inline constexpr int32_t Blue = 0xFF0000;
inline constexpr int32_t Red = 0x0000FF;
inline constexpr uint8_t Bold = 1, Italic = 2, Underline = 4, StrikeOut = 8;
}  // namespace LabelLook

enum class TLabelCursor { Default, HandPoint };

struct TLabelLook {
  TLabelCursor Cursor = TLabelCursor::Default;
  int32_t FontColor = LabelLook::Black;
  uint8_t FontStyle = 0;
  bool operator==(const TLabelLook&) const = default;
};

struct TLabelColors {
  int32_t Normal = LabelLook::Black, Over = LabelLook::Blue, Clicking = LabelLook::Red;
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
