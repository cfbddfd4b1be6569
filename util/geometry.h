// A plain rectangle for the portable layout and placement code; the Win32
// layer converts from and to RECT.
#pragma once
#include <cstdint>

struct TRect {
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
  int32_t Width() const { return Right - Left; }
  int32_t Height() const { return Bottom - Top; }
  bool operator==(const TRect&) const = default;
};
