#include "framework/form_utils.h"

#include <algorithm>
#include <limits>

void ClampToWorkArea(int32_t& Width, int32_t& Height, int32_t FrameWidth, int32_t FrameHeight,
                     const std::vector<TRect>& WorkAreas) {
  // 64-bit arithmetic: the "no monitor yet" start value less a negative
  // frame must not overflow.
  int64_t smallestWidth = std::numeric_limits<int32_t>::max();
  int64_t smallestHeight = std::numeric_limits<int32_t>::max();
  for (const TRect& area : WorkAreas) {
    smallestWidth = std::min<int64_t>(smallestWidth, int64_t{area.Right} - area.Left);
    smallestHeight = std::min<int64_t>(smallestHeight, int64_t{area.Bottom} - area.Top);
  }
  if (smallestWidth - FrameWidth < Width) Width = static_cast<int32_t>(smallestWidth - FrameWidth);
  if (Height > smallestHeight - FrameHeight) Height = static_cast<int32_t>(smallestHeight - FrameHeight);
}

TRect CenterFormInRect(int32_t Width, int32_t Height, const TRect& Rect) {
  const int64_t left = Rect.Left + (int64_t{Rect.Right} - Rect.Left - Width) / 2;
  const int64_t top = Rect.Top + (int64_t{Rect.Bottom} - Rect.Top - Height) / 2;
  TRect bounds;
  bounds.Left = static_cast<int32_t>(left);
  bounds.Top = static_cast<int32_t>(top);
  bounds.Right = static_cast<int32_t>(left + Width);
  bounds.Bottom = static_cast<int32_t>(top + Height);
  return bounds;
}
