// Where the main window's lines go, from the window's width and the font's metrics.
#pragma once

#include <cstddef>
#include <cstdint>

#include "display/canvas.h"

namespace morva {

struct WindowGeometry {
  std::int32_t outerWidth = 0;  // the whole window: frame, caption and menu bar included
  std::int32_t outerHeight = 0;
  std::int32_t clientWidth = 0;  // the painted area inside the frame
};

struct Point {
  std::int32_t x = 0;
  std::int32_t y = 0;
  bool operator==(const Point&) const = default;
};

// The two bands the transfer engine asks to repaint during a session. All zero until the first
// paint; every paint recomputes them, so they follow a change of font.
struct LineRects {
  Rect blockLineRect;   // the session and block lines
  Rect statusLineRect;  // the status line
  bool operator==(const LineRects&) const = default;
};

struct MainWindowLayout {
  Point firmwareLine;
  Point sessionLine;
  Point blockLine;
  Point statusLine;
  LineRects rects;
};

// Lines are spaced by the cell height h exactly, 4 pixels from the top: the firmware line at
// y 4, the session, block and status lines at h + 4, 2h + 4 and 3h + 4, all at x 10 but the
// firmware line, which ends 10 pixels short of the client area's right edge (n average
// character widths for its `firmwareLineLength` characters). Its x is not clamped: a window
// narrower than the line cuts the line's start. Results saturate at the int32 range.
MainWindowLayout layoutMainWindow(const WindowGeometry& geometry, const TextMetrics& metrics,
                                  std::size_t firmwareLineLength);

}  // namespace morva
