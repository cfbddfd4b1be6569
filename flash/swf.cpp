// SWF headers and tags: the stage, the background colour, and the copy of
// a movie that stops at its last frame (for Loop off).
#include "flash/swf.h"

#include <algorithm>

#include "package/zlibex.h"
#include "util/raii.h"

bool LooksLikeSwf(const uint8_t* B, int32_t Size) {
  return B && Size >= 8 && (B[0] == 'F' || B[0] == 'C' || B[0] == 'Z') && B[1] == 'W' && B[2] == 'S';
}

namespace {

// The movie uncompressed ("FWS" header and all): nullopt for LZMA, a stream
// zlib refuses, or no SWF at all.
std::optional<std::vector<uint8_t>> PlainMovie(const std::vector<uint8_t>& Swf) {
  if (!LooksLikeSwf(Swf.data(), static_cast<int32_t>(std::min<size_t>(Swf.size(), INT32_MAX))) || Swf[0] == 'Z')
    return std::nullopt;
  if (Swf[0] != 'C') return Swf;
  std::vector<uint8_t> body(Swf.begin(), Swf.begin() + 8);
  try {
    TUniqueMalloc out;
    int32_t outSize = 0;
    DecompressBuffer(Swf.data() + 8, static_cast<int32_t>(std::min<size_t>(Swf.size() - 8, INT32_MAX)), *out.Put(),
                     outSize, 0);
    const auto* plain = static_cast<const uint8_t*>(out.Get());
    body.insert(body.end(), plain, plain + outSize);
  } catch (const EZLibError&) {
    return std::nullopt;
  }
  return body;
}

// Reads Count bits from the bit position Bit of B (most significant first).
uint32_t Bits(const std::vector<uint8_t>& B, size_t& Bit, int Count) {
  uint32_t v = 0;
  for (int i = 0; i < Count; ++i, ++Bit) v = v << 1 | ((B[8 + Bit / 8] >> (7 - Bit % 8)) & 1);
  return v;
}

// Where the tags start: after signature, version, length, the frame
// rectangle (5-bit field size, then four fields), frame rate and count.
size_t TagsStart(const std::vector<uint8_t>& Body) {
  const size_t rectBits = 5 + 4 * static_cast<size_t>(Body[8] >> 3);
  return 8 + (rectBits + 7) / 8 + 4;
}

struct TTag {
  uint16_t Code = 0;
  size_t Start = 0;  // the tag's header
  size_t Data = 0;   // its contents
  size_t Length = 0;
};

// Calls Visit for each tag until the End tag; false when a tag runs past the
// bytes or the End tag never comes. Visit returns false to stop early.
template <typename F>
bool WalkTags(const std::vector<uint8_t>& Body, F Visit) {
  const size_t end = Body.size();
  size_t pos = TagsStart(Body);
  while (pos + 2 <= end) {
    TTag t;
    t.Start = pos;
    const uint16_t header = static_cast<uint16_t>(Body[pos] | Body[pos + 1] << 8);
    pos += 2;
    t.Code = header >> 6;
    t.Length = header & 0x3F;
    if (t.Length == 0x3F) {
      if (pos + 4 > end) return false;
      t.Length = Body[pos] | Body[pos + 1] << 8 | Body[pos + 2] << 16 | static_cast<size_t>(Body[pos + 3]) << 24;
      pos += 4;
    }
    if (t.Length > end - pos) return false;
    t.Data = pos;
    pos += t.Length;
    if (!Visit(t)) return true;
    if (t.Code == 0) return true;
  }
  return false;
}

}  // namespace

std::optional<TSwfInfo> ReadSwfInfo(const std::vector<uint8_t>& Swf) {
  const auto body = PlainMovie(Swf);
  if (!body || body->size() < 9 || TagsStart(*body) > body->size()) return std::nullopt;
  size_t bit = 0;
  const int n = static_cast<int>(Bits(*body, bit, 5));
  const auto field = [&] {
    const uint32_t raw = Bits(*body, bit, n);
    // Signed n-bit fields: the stage's corners may lie left of or above 0.
    return n > 0 && (raw >> (n - 1)) & 1 ? static_cast<int64_t>(raw) - (int64_t{1} << n) : static_cast<int64_t>(raw);
  };
  const int64_t xMin = field(), xMax = field(), yMin = field(), yMax = field();
  TSwfInfo info;
  info.Width = static_cast<int>(std::clamp<int64_t>((xMax - xMin) / 20, 0, 1 << 16));
  info.Height = static_cast<int>(std::clamp<int64_t>((yMax - yMin) / 20, 0, 1 << 16));
  // The rate follows the stage's rectangle: 8.8 fixed point, fraction first.
  const size_t rate = TagsStart(*body) - 4;
  info.FrameRate = (*body)[rate + 1] + (*body)[rate] / 256.0;
  WalkTags(*body, [&](const TTag& t) {
    if (t.Code == 9 && t.Length >= 3) {  // SetBackgroundColor: R, G, B
      info.Background = (*body)[t.Data] << 16 | (*body)[t.Data + 1] << 8 | (*body)[t.Data + 2];
      return false;
    }
    return t.Code != 1;  // only what comes before the first ShowFrame
  });
  return info;
}

std::optional<std::vector<uint8_t>> SwfStopAtLastFrame(const std::vector<uint8_t>& Swf) {
  auto plain = PlainMovie(Swf);
  if (!plain || plain->size() < 9 || TagsStart(*plain) > plain->size()) return std::nullopt;
  const std::vector<uint8_t>& body = *plain;
  const size_t tagsStart = TagsStart(body);
  std::vector<size_t> frameStarts = {tagsStart};
  size_t afterFileAttributes = tagsStart;
  bool sawEnd = false, actionScript3 = false;
  const bool complete = WalkTags(body, [&](const TTag& t) {
    if (t.Code == 69) {  // FileAttributes: ActionScript 3 movies ignore our action
      if (t.Length >= 1 && (body[t.Data] & 0x08)) actionScript3 = true;
      if (t.Start == tagsStart) afterFileAttributes = t.Data + t.Length;
    }
    if (t.Code == 1) frameStarts.push_back(t.Data + t.Length);  // ShowFrame ends a frame
    if (t.Code == 0) sawEnd = true;
    return !actionScript3;
  });
  if (actionScript3 || !complete || !sawEnd || frameStarts.size() < 2) return std::nullopt;
  // The last frame starts after the next-to-last ShowFrame; FileAttributes
  // must stay the first tag.
  size_t at = frameStarts[frameStarts.size() - 2];
  if (at == tagsStart) at = afterFileAttributes;
  static const uint8_t kStopTag[] = {0x02, 0x03, 0x07, 0x00};  // DoAction(12), 2 bytes: Stop, End
  std::vector<uint8_t> out(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(at));
  out.insert(out.end(), kStopTag, kStopTag + sizeof kStopTag);
  out.insert(out.end(), body.begin() + static_cast<std::ptrdiff_t>(at), body.end());
  out[0] = 'F';
  const uint32_t length = static_cast<uint32_t>(out.size());
  for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<uint8_t>(length >> (8 * i));
  return out;
}
