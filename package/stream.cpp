#include "package/stream.h"

#include <algorithm>
#include <cstring>

void TStream::ReadBuffer(void* Buffer, int64_t Count) {
  if (Count < 0 || Read(Buffer, Count) != Count) throw EReadError("stream read error");
}

int64_t TMemoryStream::Read(void* Buffer, int64_t Count) {
  if (Count <= 0 || FPosition >= Size()) return 0;
  const int64_t n = std::min(Count, Size() - FPosition);
  std::memcpy(Buffer, FBytes.data() + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return n;
}

const uint8_t* TMemoryStream::View(int64_t Count) {
  if (Count < 0 || FPosition > Size() || Count > Size() - FPosition) return nullptr;
  const uint8_t* bytes = FBytes.data() + FPosition;
  FPosition += Count;
  return bytes;
}

int64_t TMemoryStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  int64_t base = 0;
  if (Origin == TSeekOrigin::soCurrent) base = FPosition;
  if (Origin == TSeekOrigin::soEnd) base = Size();
  // Offsets come from untrusted lengths: refuse anything that would overflow.
  if ((Offset > 0 && base > INT64_MAX - Offset) || base + Offset < 0)
    throw EReadError("seek outside the stream");
  FPosition = base + Offset;
  return FPosition;
}

void TMemoryStream::Write(const void* Buffer, size_t Count) {
  const auto* p = static_cast<const uint8_t*>(Buffer);
  const size_t pos = static_cast<size_t>(FPosition);
  if (FBytes.size() < pos + Count) FBytes.resize(pos + Count);
  std::copy(p, p + Count, FBytes.begin() + static_cast<std::ptrdiff_t>(pos));
  FPosition += static_cast<int64_t>(Count);
}
