// What the players need to know of a SWF movie's bytes, and the one change
// the browser player makes to them.
#pragma once
#include <cstdint>
#include <optional>
#include <vector>

// Whether Bytes start like a SWF movie ("FWS", "CWS" or "ZWS", then at least
// the rest of the 8-byte header).
bool LooksLikeSwf(const uint8_t* Bytes, int32_t Size);

// The stage and the background colour of a movie, from its header and
// first tags; nullopt when the bytes are no movie we can read (LZMA
// movies, damaged headers). Background is 0xRRGGBB, or -1 when the movie
// sets none before its first frame.
struct TSwfInfo {
  int Width = 0, Height = 0;  // pixels, twips / 20
  int32_t Background = -1;
  double FrameRate = 0;  // frames per second, as the header gives it
};
std::optional<TSwfInfo> ReadSwfInfo(const std::vector<uint8_t>& Swf);

// Flash stops a movie at its last frame when Loop is off, the emulator
// always loops. The movie with a stop action at the start of its last frame
// does what Loop off does; nullopt when the movie cannot take one (not a
// SWF, LZMA-compressed, damaged, or ActionScript 3, which ignores it).
std::optional<std::vector<uint8_t>> SwfStopAtLastFrame(const std::vector<uint8_t>& Swf);
