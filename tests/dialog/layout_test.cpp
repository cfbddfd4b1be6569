// The dialog layout against hand-worked sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "dialog/dialog_layout.h"
#include "util/geometry.h"

namespace {

// A clamp over the given work areas, as the window layer's ClampToWorkArea
// does over the real monitors: at most the narrowest width and the lowest
// height, less the frame.
auto ClampTo(std::vector<TRect> Areas) {
  return [Areas](int32_t& W, int32_t& H, int32_t FW, int32_t FH) {
    for (const TRect& a : Areas) {
      W = std::min(W, a.Width() - FW);
      H = std::min(H, a.Height() - FH);
    }
  };
}

TDialogLayoutInput Dialog(int32_t PictureW, int32_t PictureH) {
  TDialogLayoutInput in;
  in.FrameWidth = 6;
  in.FrameHeight = 25;
  in.Picture = {true, 0, 0, PictureW, PictureH};
  in.Label = {false, 0, 112, 61, 12};
  in.Button = {true, 8, 128, 100, 20};
  in.Clamp = ClampTo({{0, 0, 1280, 984}});
  return in;
}

void ExpectAt(const TLayoutControl& C, int32_t Left, int32_t Top, int32_t Width, int32_t Height) {
  EXPECT_EQ(C.Left, Left);
  EXPECT_EQ(C.Top, Top);
  EXPECT_EQ(C.Width, Width);
  EXPECT_EQ(C.Height, Height);
}

}  // namespace

TEST(DialogLayout, NoItemsCentresTheEmptyPictureOverTheButton) {
  const TDialogLayout l = LayoutDialog(Dialog(105, 105));
  EXPECT_EQ(l.ClientWidth, 116);
  EXPECT_EQ(l.ClientHeight, 133);
  ExpectAt(l.Picture, 5, 0, 105, 105);
  ExpectAt(l.Button, 8, 109, 100, 20);
  EXPECT_FALSE(l.Label.Visible);
  EXPECT_FALSE(l.PictureLimited);
  EXPECT_FALSE(l.PictureHandCursor);
}

TEST(DialogLayout, PictureLabelAndButtonStackWithFourPixelGaps) {
  TDialogLayoutInput in = Dialog(200, 100);
  in.LabelCaptionEmpty = false;
  in.Label.Width = 150;
  in.Label.Height = 12;
  const TDialogLayout l = LayoutDialog(in);
  EXPECT_EQ(l.ClientWidth, 200);
  EXPECT_EQ(l.ClientHeight, 144);
  ExpectAt(l.Picture, 0, 0, 200, 100);
  EXPECT_TRUE(l.Label.Visible);
  ExpectAt(l.Label, 25, 104, 150, 12);
  ExpectAt(l.Button, 50, 120, 100, 20);
}

TEST(DialogLayout, HiddenButtonEndsTheClientAreaAtTheLastControl) {
  TDialogLayoutInput in = Dialog(200, 100);
  in.Button.Visible = false;
  in.LabelCaptionEmpty = false;
  in.Label.Width = 150;
  EXPECT_EQ(LayoutDialog(in).ClientHeight, 116);  // label bottom, no gap below

  in.LabelCaptionEmpty = true;
  const TDialogLayout l = LayoutDialog(in);
  EXPECT_EQ(l.ClientHeight, 100);
  EXPECT_EQ(l.ClientWidth, 200);
  EXPECT_FALSE(l.Label.Visible);
  EXPECT_FALSE(l.Button.Visible);
}

TEST(DialogLayout, WideLabelWidensTheDialogAndLeavesEightPixelsEachSide) {
  TDialogLayoutInput in = Dialog(105, 105);
  in.LabelCaptionEmpty = false;
  in.Label.Width = 301;
  in.Label.Height = 12;
  const TDialogLayout l = LayoutDialog(in);
  EXPECT_EQ(l.ClientWidth, 317);
  EXPECT_EQ(l.Label.Left, 8);
  EXPECT_EQ(l.Picture.Left, 106);  // (317 - 105) / 2, truncated
  EXPECT_EQ(l.Button.Left, 108);
}

TEST(DialogLayout, AddressGivesThePictureTheHandCursor) {
  TDialogLayoutInput in = Dialog(105, 105);
  in.HasURL = true;
  EXPECT_TRUE(LayoutDialog(in).PictureHandCursor);
}

TEST(DialogLayout, OversizedPictureShrinksProportionallyToTheSmallestScreen) {
  // Screens 1280x984 and 1024x738; frame 6x25, rows 16 + 24 reserved below.
  TDialogLayoutInput in = Dialog(2000, 1000);
  in.LabelCaptionEmpty = false;
  in.Label.Width = 150;
  in.Clamp = ClampTo({{0, 0, 1280, 984}, {1280, 0, 2304, 738}});
  const TDialogLayout l = LayoutDialog(in);
  // Limits: width 1024 - 6 = 1018, height 738 - 25 - 16 - 24 - 4 = 669.
  // 1018/2000 < 669/1000: the width binds, height 1000 * 1018 / 2000 = 509.
  EXPECT_TRUE(l.PictureLimited);
  ExpectAt(l.Picture, 0, 0, 1018, 509);
  EXPECT_EQ(l.ClientWidth, 1018);
  EXPECT_EQ(l.ClientHeight, 509 + 4 + 12 + 4 + 20 + 4);
  EXPECT_LE(l.ClientWidth + in.FrameWidth, 1024);
}

TEST(DialogLayout, TallPictureIsLimitedByHeight) {
  TDialogLayoutInput in = Dialog(300, 3000);
  const TDialogLayout l = LayoutDialog(in);
  // Height limit 984 - 25 - 24 - 4 = 931; width 300 * 931 / 3000 = 93.
  // The whole window, gap under the button included, fits the screen.
  EXPECT_TRUE(l.PictureLimited);
  EXPECT_EQ(l.Picture.Height, 931);
  EXPECT_EQ(l.Picture.Width, 93);
  EXPECT_EQ(l.ClientWidth, 116);  // the button is wider than the picture now
  EXPECT_EQ(l.ClientHeight + in.FrameHeight, 984);
}

TEST(FitProportionally, KeepsTheAspectRatioAndStaysWithinBothLimits) {
  int32_t w = 0, h = 0;
  FitProportionally(1600, 1200, 800, 10000, w, h);
  EXPECT_EQ(w, 800);
  EXPECT_EQ(h, 600);
  FitProportionally(1600, 1200, 10000, 300, w, h);
  EXPECT_EQ(w, 400);
  EXPECT_EQ(h, 300);
  // Both limits equally tight: exact.
  FitProportionally(1000, 500, 500, 250, w, h);
  EXPECT_EQ(w, 500);
  EXPECT_EQ(h, 250);
  // Rounding goes down, never over the other limit.
  FitProportionally(3, 1000, 2, 1000, w, h);
  EXPECT_EQ(w, 2);
  EXPECT_EQ(h, 666);
  // Every pair of limits gives a fitting size.
  for (int32_t lw = 1; lw < 60; lw += 7)
    for (int32_t lh = 1; lh < 60; lh += 5) {
      FitProportionally(97, 41, lw, lh, w, h);
      EXPECT_LE(w, std::max(lw, 1));
      EXPECT_LE(h, std::max(lh, 1));
      EXPECT_GE(w, 1);
      EXPECT_GE(h, 1);
      EXPECT_TRUE(w == std::min(lw, 97) || h == std::min(lh, 41)) << lw << "x" << lh;
    }
}

TEST(FitProportionally, DegenerateSizesAndLimitsStayPositiveAndBounded) {
  int32_t w = -1, h = -1;
  FitProportionally(500, 500, -20, -5, w, h);  // a frame larger than the screen
  EXPECT_EQ(w, 1);
  EXPECT_EQ(h, 1);
  FitProportionally(0, 5000, 100, 300, w, h);  // a picture of no width
  EXPECT_EQ(w, 0);
  EXPECT_EQ(h, 300);
  FitProportionally(100000, 1, 100, 100, w, h);  // a thin strip keeps one row
  EXPECT_EQ(w, 100);
  EXPECT_EQ(h, 1);
}
