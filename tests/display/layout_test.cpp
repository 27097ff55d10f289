#include "display/layout.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace morva {
namespace {

struct LayoutCase {
  const char* name;
  WindowGeometry geometry;
  TextMetrics metrics;
  std::size_t firmwareLength;
  std::int32_t firmwareX;
  std::int32_t h;  // expected line pitch
  std::int32_t bandRight;
};

TEST(DisplayLayout, LinesAndBandsFollowMetrics) {
  // "Firmware version : N/A | N/A" has 28 characters.
  const std::vector<LayoutCase> cases{
      {"fixed 8x15", {656, 557, 640}, {15, 8}, 28, 640 - 224 - 10, 15, 340},
      {"large 10x20", {1024, 700, 1000}, {20, 10}, 30, 1000 - 300 - 10, 20, 424},
      {"narrow window cuts the line", {220, 300, 200}, {20, 10}, 30, -110, 20, 424},
      {"no metrics", {100, 100, 90}, {0, 0}, 28, 80, 0, 4},
  };
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(c.name);
    const MainWindowLayout layout = layoutMainWindow(c.geometry, c.metrics, c.firmwareLength);
    EXPECT_EQ(layout.firmwareLine, (Point{c.firmwareX, 4}));
    EXPECT_EQ(layout.sessionLine, (Point{10, c.h + 4}));
    EXPECT_EQ(layout.blockLine, (Point{10, 2 * c.h + 4}));
    EXPECT_EQ(layout.statusLine, (Point{10, 3 * c.h + 4}));
    EXPECT_EQ(layout.rects.blockLineRect, (Rect{10, c.h + 4, c.bandRight, 3 * c.h + 4}));
    EXPECT_EQ(layout.rects.statusLineRect, (Rect{10, 3 * c.h + 4, c.bandRight, 4 * c.h + 4}));
  }
}

TEST(DisplayLayout, AbsurdMetricsSaturateInsteadOfOverflowing) {
  const auto layout = layoutMainWindow({100, 100, 100}, {INT_MAX, INT_MAX}, 1000);
  EXPECT_EQ(layout.firmwareLine.x, INT_MIN);
  EXPECT_EQ(layout.sessionLine.y, INT_MAX);
  EXPECT_EQ(layout.rects.statusLineRect, (Rect{10, INT_MAX, INT_MAX, INT_MAX}));

  const auto negative = layoutMainWindow({100, 100, 100}, {INT_MIN, INT_MIN}, 10);
  EXPECT_EQ(negative.firmwareLine.x, INT_MAX);
  EXPECT_EQ(negative.rects.blockLineRect.top, INT_MIN + 4);
  EXPECT_EQ(negative.rects.statusLineRect.top, INT_MIN);
}

}  // namespace
}  // namespace morva
