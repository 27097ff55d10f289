#include "display/paint.h"

#include <string>

#include "display/texts.h"

namespace morva {

namespace {

void drawLine(Canvas& canvas, const Point& at, const std::string& text) {
  canvas.drawText(at.x, at.y, text);
}

}  // namespace

void paintMainWindow(Canvas& canvas, const SessionState& state, const WindowGeometry& geometry,
                     const DisplaySettings& settings, LineRects& rects) {
  canvas.setFont(settings.font);
  // The picture covers the outer size: whatever the frame and menu bar take from the client
  // area falls outside it and is clipped, so the picture always fills the client area.
  if (settings.hasPicture) {
    canvas.drawImage({0, 0, geometry.outerWidth, geometry.outerHeight});
  }
  const TextMetrics metrics = canvas.textMetrics();
  const std::string firmware = firmwareLine(state.firmwareVersionText, state.secondVersionText);
  const MainWindowLayout layout = layoutMainWindow(geometry, metrics, firmware.size());

  canvas.setTextColor(firmwareLineColour);
  drawLine(canvas, layout.firmwareLine, firmware);

  canvas.setTextColor(textColour);
  rects = layout.rects;
  if (sessionRunning(state.transferStep)) {
    drawLine(canvas, layout.sessionLine, sessionLine(state.direction, state.sessionKind));
    drawLine(canvas, layout.blockLine,
             blockLine(state.currentBlock, state.blocksLeft, state.firstBlock));
  }
  drawLine(canvas, layout.statusLine, statusLine(state.transferStep));
}

}  // namespace morva
