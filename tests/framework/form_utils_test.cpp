// Placement decisions over given work areas.
#include <gtest/gtest.h>

#include <limits>

#include "framework/form_utils.h"

namespace {

struct TSize {
  int32_t W, H;
};

TSize Clamp(int32_t W, int32_t H, int32_t FrameW, int32_t FrameH, const std::vector<TRect>& Areas) {
  ClampToWorkArea(W, H, FrameW, FrameH, Areas);
  return {W, H};
}

// A 1280x1024 monitor with a 40-pixel task bar, and a 1024x768 one to its
// right with a 30-pixel task bar at the top.
const std::vector<TRect> kTwoMonitors = {{0, 0, 1280, 984}, {1280, 30, 2304, 768}};

}  // namespace

TEST(ClampToWorkArea, SmallestWidthAndHeightMinusFrame) {
  const TSize big = Clamp(2000, 2000, 8, 27, kTwoMonitors);
  EXPECT_EQ(big.W, 1016);
  EXPECT_EQ(big.H, 711);
  const TSize small = Clamp(500, 500, 8, 27, kTwoMonitors);
  EXPECT_EQ(small.W, 500);
  EXPECT_EQ(small.H, 500);
  // Exactly fitting stays; one more is cut.
  EXPECT_EQ(Clamp(1016, 711, 8, 27, kTwoMonitors).W, 1016);
  EXPECT_EQ(Clamp(1017, 712, 8, 27, kTwoMonitors).H, 711);
  EXPECT_EQ(Clamp(1017, 712, 8, 27, kTwoMonitors).W, 1016);
}

TEST(ClampToWorkArea, WidthAndHeightFromDifferentMonitors) {
  // A narrow tall monitor and a wide short one: each limit from its own.
  const std::vector<TRect> areas = {{0, 0, 600, 1000}, {600, 0, 2000, 400}};
  const TSize s = Clamp(5000, 5000, 0, 0, areas);
  EXPECT_EQ(s.W, 600);
  EXPECT_EQ(s.H, 400);
  // Monitors left of or above the primary have negative coordinates.
  const TSize n = Clamp(5000, 5000, 10, 10, {{-1024, -200, 0, 568}, {0, 0, 1280, 1024}});
  EXPECT_EQ(n.W, 1014);
  EXPECT_EQ(n.H, 758);
}

TEST(ClampToWorkArea, NoMonitorsAndExtremeFramesDoNotOverflow) {
  const TSize none = Clamp(800, 600, 8, 27, {});
  EXPECT_EQ(none.W, 800);
  EXPECT_EQ(none.H, 600);
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  const TSize huge = Clamp(kMax, kMax, -100, -100, {});
  EXPECT_EQ(huge.W, kMax);
  EXPECT_EQ(huge.H, kMax);
  const TSize frame = Clamp(kMax, kMax, 8, 27, {});
  EXPECT_EQ(frame.W, kMax - 8);
  EXPECT_EQ(frame.H, kMax - 27);
}

TEST(CenterFormInRect, CentresAndTruncatesTowardZero) {
  EXPECT_EQ(CenterFormInRect(300, 200, {0, 0, 1024, 738}), (TRect{362, 269, 662, 469}));
  // Odd leftovers round toward zero.
  EXPECT_EQ(CenterFormInRect(301, 201, {0, 0, 1024, 738}), (TRect{361, 268, 662, 469}));
  // An offset rectangle.
  EXPECT_EQ(CenterFormInRect(100, 100, {1280, 30, 2304, 768}), (TRect{1742, 349, 1842, 449}));
  // A form larger than the rectangle starts left of and above it; -1.5 gives -1.
  EXPECT_EQ(CenterFormInRect(1027, 741, {0, 0, 1024, 738}), (TRect{-1, -1, 1026, 740}));
  EXPECT_EQ(CenterFormInRect(1200, 800, {100, 100, 1124, 838}), (TRect{12, 69, 1212, 869}));
}
