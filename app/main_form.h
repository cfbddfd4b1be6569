// Decisions of the main form that depend on nothing but their inputs: where
// the player controls of a full-screen run go, and the application's title.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "app/settings.h"
#include "util/geometry.h"
#include "util/utils.h"

struct TFlashPlacement {
  // Fill the form's whole client area (the form covers the virtual desktop).
  bool FillClient = false;
  // Otherwise these bounds, in the form's client coordinates.
  TRect Bounds;
};

// One placement per control to create, in creation order. Position 0: one
// control over the whole desktop; 1: one on the first monitor; 2: one on
// each monitor; anything else: none (the desktop stays black). Monitors are
// in the system's enumeration order, Desktop is their bounding rectangle;
// both in virtual-desktop coordinates. Without monitors, position 1 gives a
// control with empty bounds.
std::vector<TFlashPlacement> FlashPlacements(uint8_t Position, const std::vector<TRect>& Monitors,
                                             const TRect& Desktop);

// The file name of Path without its folder and without its extension: what
// follows the last backslash (or colon), up to its last ".". Empty for an empty
// Path. Separators are only looked for outside double-byte characters of
// the code page IsLeadByte describes.
std::string FileTitle(const std::string& Path, TLeadByteTest IsLeadByte = SystemLeadByteTest());
