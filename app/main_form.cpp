#include "app/main_form.h"

namespace {

TFlashPlacement OnMonitor(const TRect& Monitor, const TRect& Desktop) {
  TFlashPlacement p;
  p.Bounds = {Monitor.Left - Desktop.Left, Monitor.Top - Desktop.Top, Monitor.Right - Desktop.Left,
              Monitor.Bottom - Desktop.Top};
  return p;
}

}  // namespace

std::vector<TFlashPlacement> FlashPlacements(uint8_t Position, const std::vector<TRect>& Monitors,
                                             const TRect& Desktop) {
  std::vector<TFlashPlacement> out;
  switch (Position) {
    case 0:
      out.push_back({true, {}});
      break;
    case 1:
      out.push_back(Monitors.empty() ? TFlashPlacement{} : OnMonitor(Monitors.front(), Desktop));
      break;
    case 2:
      for (const TRect& m : Monitors) out.push_back(OnMonitor(m, Desktop));
      break;
    default:
      break;
  }
  return out;
}

std::string FileTitle(const std::string& Path, TLeadByteTest IsLeadByte) {
  size_t start = 0;
  size_t dot = std::string::npos;
  for (size_t i = 0; i < Path.size(); ++i) {
    const auto c = static_cast<uint8_t>(Path[i]);
    if (IsLeadByte && IsLeadByte(c) && i + 1 < Path.size()) {
      ++i;
      continue;
    }
    if (c == '\\' || c == ':') {
      start = i + 1;
      dot = std::string::npos;
    } else if (c == '.') {
      dot = i;
    }
  }
  const size_t end = dot == std::string::npos ? Path.size() : dot;
  return Path.substr(start, end - start);
}
