// The main window's paint: the background picture, the firmware line at the top right, and,
// while a session runs, the session, block and status lines at the left.
#pragma once

#include "display/canvas.h"
#include "display/layout.h"
#include "transfer/session_state.h"

namespace morva {

inline constexpr Rgb firmwareLineColour{255, 64, 96};
inline constexpr Rgb textColour{0, 0, 0};
// Shows where no picture is drawn: the front end erases the window with it.
inline constexpr Rgb windowBackgroundColour{241, 245, 247};

// What the display is told besides the session: the operator's font for this run and whether
// the background picture could be loaded.
struct DisplaySettings {
  FontSpec font;
  bool hasPicture = true;
};

// Paints the whole scene from `state`; the canvas's clip decides which pixels change. Order:
// font, picture stretched over the outer size (when there is one), metrics, firmware line in
// firmwareLineColour, then in textColour the session and block lines (only while
// transferStep is not 0) and the status line (always; empty when idle). Stores the line bands
// of this paint's metrics in `rects`. The session line names state.sessionKind, the kind the
// running session started with, not the kind highlighted in the menu since.
void paintMainWindow(Canvas& canvas, const SessionState& state, const WindowGeometry& geometry,
                     const DisplaySettings& settings, LineRects& rects);

}  // namespace morva
