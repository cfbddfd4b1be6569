// The extracted movie's copy that stops at its last frame, for FlashLoop off.

#include "package/zlibex.h"
#include "tools/plws/play.h"
#include "util/raii.h"

std::optional<std::vector<uint8_t>> SwfStopAtLastFrame(const std::vector<uint8_t>& Swf) {
  if (!LooksLikeSwf(Swf.data(), static_cast<int32_t>(Swf.size())) || Swf[0] == 'Z') return std::nullopt;
  std::vector<uint8_t> body(Swf.begin(), Swf.begin() + 8);
  if (Swf[0] == 'C') {
    try {
      TUniqueMalloc out;
      int32_t outSize = 0;
      DecompressBuffer(Swf.data() + 8, static_cast<int32_t>(std::min<size_t>(Swf.size() - 8, INT32_MAX)),
                       *out.Put(), outSize, 0);
      const auto* plain = static_cast<const uint8_t*>(out.Get());
      body.insert(body.end(), plain, plain + outSize);
    } catch (const EZLibError&) {
      return std::nullopt;
    }
  } else {
    body = Swf;
  }
  const size_t end = body.size();
  if (end < 9) return std::nullopt;
  // Header: signature, version, length, frame rectangle (5-bit field size,
  // then four fields), frame rate and count.
  const size_t rectBits = 5 + 4 * static_cast<size_t>(body[8] >> 3);
  size_t pos = 8 + (rectBits + 7) / 8 + 4;
  const size_t tagsStart = pos;
  std::vector<size_t> frameStarts = {tagsStart};
  size_t afterFileAttributes = tagsStart;
  bool sawEnd = false;
  while (pos + 2 <= end) {
    const size_t tagStart = pos;
    const uint16_t header = static_cast<uint16_t>(body[pos] | body[pos + 1] << 8);
    pos += 2;
    const uint16_t code = header >> 6;
    size_t length = header & 0x3F;
    if (length == 0x3F) {
      if (pos + 4 > end) return std::nullopt;
      length = body[pos] | body[pos + 1] << 8 | body[pos + 2] << 16 | static_cast<size_t>(body[pos + 3]) << 24;
      pos += 4;
    }
    if (length > end - pos) return std::nullopt;
    if (code == 69) {  // FileAttributes: ActionScript 3 movies ignore our action
      if (length >= 1 && (body[pos] & 0x08)) return std::nullopt;
      if (tagStart == tagsStart) afterFileAttributes = pos + length;
    }
    pos += length;
    if (code == 1) frameStarts.push_back(pos);  // ShowFrame ends a frame
    if (code == 0) {
      sawEnd = true;
      break;
    }
  }
  if (!sawEnd || frameStarts.size() < 2) return std::nullopt;
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
