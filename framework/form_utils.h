// Window placement decisions over plain rectangles; the Win32 layer
// (framework/form_utils_win32.h) gathers the monitors and moves the windows.
#pragma once
#include <cstdint>
#include <vector>

#include "util/geometry.h"

// Limits a client size so that, with the frame added around it, it fits the
// smallest width and the smallest height among WorkAreas (each taken
// separately). No work areas leave the size as it is.
void ClampToWorkArea(int32_t& Width, int32_t& Height, int32_t FrameWidth, int32_t FrameHeight,
                     const std::vector<TRect>& WorkAreas);

// The bounds of a Width x Height form centred in Rect (halves rounded toward
// zero); a form larger than Rect starts left of or above it.
TRect CenterFormInRect(int32_t Width, int32_t Height, const TRect& Rect);
