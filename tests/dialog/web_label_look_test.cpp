// The link label's look through sequences of mouse events.
#include <gtest/gtest.h>

#include "dialog/web_label_look.h"

namespace {

const TLabelColors kColors{0x111111, 0x222222, 0x333333};

TLabelLook Play(std::initializer_list<std::pair<TLabelEvent, bool>> Events, bool HasURL,
               TLabelLook Start = {TLabelCursor::Default, 0x999999, LabelLook::Bold}) {
  TLabelLook look = Start;
  for (auto [event, held] : Events) look = NextLabelLook(look, event, HasURL, held, kColors);
  return look;
}

}  // namespace

TEST(WebLabelLook, LoadedTakesTheNormalColourAndKeepsTheRest) {
  const TLabelLook look = Play({{TLabelEvent::Loaded, false}}, false);
  EXPECT_EQ(look, (TLabelLook{TLabelCursor::Default, 0x111111, LabelLook::Bold}));
}

TEST(WebLabelLook, LinkHoverPressReleaseLeave) {
  using E = TLabelEvent;
  EXPECT_EQ(Play({{E::MouseEnter, false}}, true), (TLabelLook{TLabelCursor::HandPoint, 0x222222, LabelLook::Underline}));
  EXPECT_EQ(Play({{E::MouseEnter, false}, {E::LeftDown, false}}, true),
            (TLabelLook{TLabelCursor::HandPoint, 0x333333, LabelLook::Underline}));
  EXPECT_EQ(Play({{E::MouseEnter, false}, {E::LeftDown, false}, {E::LeftUp, false}}, true),
            (TLabelLook{TLabelCursor::HandPoint, 0x111111, LabelLook::Underline}));
  // Pressed, dragged out and back in with the button still held.
  EXPECT_EQ(Play({{E::MouseEnter, false}, {E::LeftDown, false}, {E::MouseLeave, false}, {E::MouseEnter, true}}, true),
            (TLabelLook{TLabelCursor::HandPoint, 0x333333, LabelLook::Underline}));
  EXPECT_EQ(Play({{E::MouseEnter, false}, {E::MouseLeave, false}}, true),
            (TLabelLook{TLabelCursor::Default, 0x111111, 0}));
}

TEST(WebLabelLook, PlainTextLabelDoesNotReactButLeavingStillResets) {
  using E = TLabelEvent;
  const TLabelLook start{TLabelCursor::Default, 0x999999, LabelLook::Bold | LabelLook::Italic};
  EXPECT_EQ(Play({{E::MouseEnter, false}}, false, start), start);
  EXPECT_EQ(Play({{E::MouseEnter, true}, {E::LeftDown, false}}, false, start), start);
  // Releasing always returns to the normal colour.
  EXPECT_EQ(Play({{E::LeftUp, false}}, false, start), (TLabelLook{TLabelCursor::Default, 0x111111, LabelLook::Bold | LabelLook::Italic}));
  // Leaving clears every style, address or not, and restores the default cursor.
  EXPECT_EQ(Play({{E::MouseLeave, false}}, false, {TLabelCursor::HandPoint, 0x999999, LabelLook::Bold | LabelLook::Underline}),
            (TLabelLook{TLabelCursor::Default, 0x111111, 0}));
}

TEST(WebLabelLook, DefaultColoursAreBlackBlueRed) {
  const TLabelColors c;
  EXPECT_EQ(c.Normal, 0x000000);
  EXPECT_EQ(c.Over, 0xFF0000);       // blue in the high byte
  EXPECT_EQ(c.Clicking, 0x0000FF);  // red in the low byte
}
