// Where the player controls of a full-screen run go, and the title taken
// from the executable's name.
#include <gtest/gtest.h>

#include "app/main_form.h"

namespace {

// Two side by side, the second smaller, as on the test machine's Xorg; a
// third to the left of the primary, so the desktop starts at negative x.
const TRect kPrimary{0, 0, 1024, 768};
const TRect kRight{1024, 0, 1824, 600};
const TRect kLeft{-640, 100, 0, 580};

}  // namespace

TEST(FlashPlacements, PositionZeroFillsTheFormOnce) {
  const auto p = FlashPlacements(0, {kPrimary, kRight}, {0, 0, 1824, 768});
  ASSERT_EQ(p.size(), 1u);
  EXPECT_TRUE(p[0].FillClient);
}

TEST(FlashPlacements, PositionOneCoversTheFirstEnumeratedMonitorOnly) {
  // The first enumerated monitor need not be the primary one.
  const TRect desktop{-640, 0, 1824, 768};
  const auto p = FlashPlacements(1, {kRight, kPrimary, kLeft}, desktop);
  ASSERT_EQ(p.size(), 1u);
  EXPECT_FALSE(p[0].FillClient);
  EXPECT_EQ(p[0].Bounds, (TRect{1664, 0, 2464, 600}));
  // No monitor at all: one control, with empty bounds.
  const auto none = FlashPlacements(1, {}, desktop);
  ASSERT_EQ(none.size(), 1u);
  EXPECT_EQ(none[0].Bounds.Width(), 0);
  EXPECT_FALSE(none[0].FillClient);
}

TEST(FlashPlacements, PositionTwoGivesOneControlPerMonitorInClientCoordinates) {
  const TRect desktop{-640, 0, 1824, 768};
  const auto p = FlashPlacements(2, {kPrimary, kRight, kLeft}, desktop);
  ASSERT_EQ(p.size(), 3u);
  EXPECT_EQ(p[0].Bounds, (TRect{640, 0, 1664, 768}));
  EXPECT_EQ(p[1].Bounds, (TRect{1664, 0, 2464, 600}));  // the strip below stays uncovered
  EXPECT_EQ(p[2].Bounds, (TRect{0, 100, 640, 580}));
  for (const auto& c : p) EXPECT_FALSE(c.FillClient);
}

TEST(FlashPlacements, OtherPositionsGiveNoControl) {
  for (int position : {3, 4, 127, 255}) EXPECT_TRUE(FlashPlacements(static_cast<uint8_t>(position), {kPrimary}, kPrimary).empty());
}

TEST(FileTitle, NameWithoutFolderAndExtension) {
  EXPECT_EQ(FileTitle("C:\\Users\\Jane Doe\\My Saver.scr"), "My Saver");
  EXPECT_EQ(FileTitle("C:\\dir.v2\\saver"), "saver");       // a dot in a folder is no extension
  EXPECT_EQ(FileTitle("C:\\a\\archive.tar.scr"), "archive.tar");  // only the last extension goes
  EXPECT_EQ(FileTitle("D:saver.scr"), "saver");
  EXPECT_EQ(FileTitle(""), "");
  EXPECT_EQ(FileTitle("C:\\a\\"), "");
}

TEST(FileTitle, TrailBytesThatLookLikeBackslashesAreNoSeparators) {
  // Shift-JIS "表" is 0x95 0x5C: its second byte is a backslash.
  const std::string hyou = "\x95\x5C";
  EXPECT_EQ(FileTitle("C:\\x\\" + hyou + "saver.scr", IsShiftJisLeadByte), hyou + "saver");
  // Read as single bytes the trail byte would cut the name.
  EXPECT_EQ(FileTitle("C:\\x\\" + hyou + "saver.scr", IsSingleByteLeadByte), "saver");
}
