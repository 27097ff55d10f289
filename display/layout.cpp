#include "display/layout.h"

#include <algorithm>
#include <limits>

namespace morva {

namespace {

constexpr std::int64_t margin = 10;  // left margin, and the firmware line's gap on the right
constexpr std::int64_t top = 4;
constexpr std::int64_t lineRectChars = 42;  // the line bands are this many average widths + 4

// Metrics come from whatever font the operator picked; absurd ones must not overflow.
std::int32_t saturate(std::int64_t value) {
  constexpr std::int64_t low = std::numeric_limits<std::int32_t>::min();
  constexpr std::int64_t high = std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(std::clamp(value, low, high));
}

std::int64_t lineTop(std::int64_t line, std::int64_t height) {
  return line * height + top;
}

}  // namespace

MainWindowLayout layoutMainWindow(const WindowGeometry& geometry, const TextMetrics& metrics,
                                  std::size_t firmwareLineLength) {
  const std::int64_t h = metrics.height;
  const std::int64_t w = metrics.averageCharWidth;
  const std::int64_t n = static_cast<std::int64_t>(
      std::min<std::size_t>(firmwareLineLength, std::numeric_limits<std::int32_t>::max()));
  const std::int32_t bandRight = saturate(lineRectChars * w + top);

  MainWindowLayout layout;
  layout.firmwareLine = {saturate(geometry.clientWidth - n * w - margin), saturate(top)};
  layout.sessionLine = {saturate(margin), saturate(lineTop(1, h))};
  layout.blockLine = {saturate(margin), saturate(lineTop(2, h))};
  layout.statusLine = {saturate(margin), saturate(lineTop(3, h))};
  layout.rects.blockLineRect = {saturate(margin), saturate(lineTop(1, h)), bandRight,
                                saturate(lineTop(3, h))};
  layout.rects.statusLineRect = {saturate(margin), saturate(lineTop(3, h)), bandRight,
                                 saturate(lineTop(4, h))};
  return layout;
}

}  // namespace morva
