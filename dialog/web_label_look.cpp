#include "dialog/web_label_look.h"

TLabelLook NextLabelLook(const TLabelLook& Current, TLabelEvent Event, bool HasURL, bool LeftHeld,
                         const TLabelColors& Colors) {
  TLabelLook next = Current;
  switch (Event) {
    case TLabelEvent::Loaded:
      next.FontColor = Colors.Normal;
      break;
    case TLabelEvent::MouseEnter:
      // A label without an address is plain text and does not react.
      if (HasURL) {
        next.Cursor = TLabelCursor::HandPoint;
        next.FontColor = LeftHeld ? Colors.Clicking : Colors.Over;
        next.FontStyle = LabelLook::Underline;
      }
      break;
    case TLabelEvent::MouseLeave:
      // Always back to rest, with or without an address.
      next.Cursor = TLabelCursor::Default;
      next.FontColor = Colors.Normal;
      next.FontStyle = 0;
      break;
    case TLabelEvent::LeftDown:
      if (HasURL) next.FontColor = Colors.Clicking;
      break;
    case TLabelEvent::LeftUp:
      next.FontColor = Colors.Normal;
      break;
  }
  return next;
}
