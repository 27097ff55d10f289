#include "display/paint.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/display/recording_canvas.h"

namespace morva {
namespace {

using testing::DrawnText;
using testing::RecordingCanvas;

constexpr Rgb red{255, 64, 96};
constexpr Rgb black{0, 0, 0};
constexpr WindowGeometry window{656, 557, 640};  // outer 16 wider than the client area
const std::string idleFirmware = "Firmware version : N/A | N/A";

// With the canvas's default 8x15 metrics.
constexpr std::int32_t firmwareX(std::size_t length) {
  return 640 - static_cast<std::int32_t>(length) * 8 - 10;
}

struct Painted {
  RecordingCanvas canvas;
  LineRects rects;
};

void paint(Painted& p, const SessionState& state, const DisplaySettings& settings = {},
           const WindowGeometry& geometry = window) {
  paintMainWindow(p.canvas, state, geometry, settings, p.rects);
}

TEST(MainWindowPaint, IdleShowsTheFirmwareLineAndAnEmptyStatusLine) {
  SessionState state;
  Painted p;
  paint(p, state);
  // The picture spans the outer size; the firmware line ends 10 short of the client's edge.
  const std::vector<std::string> calls{"setFont",  "drawImage",    "textMetrics", "setTextColor",
                                       "drawText", "setTextColor", "drawText"};
  EXPECT_EQ(p.canvas.calls, calls);
  EXPECT_EQ(p.canvas.images, std::vector<Rect>{(Rect{0, 0, 656, 557})});
  const std::vector<DrawnText> texts{{firmwareX(28), 4, idleFirmware, red}, {10, 49, "", black}};
  EXPECT_EQ(p.canvas.texts, texts);
  EXPECT_EQ(p.rects.blockLineRect, (Rect{10, 19, 340, 49}));
  EXPECT_EQ(p.rects.statusLineRect, (Rect{10, 49, 340, 64}));
}

TEST(MainWindowPaint, RunningSessionShowsAllFourLines) {
  SessionState state;
  state.direction = Direction::Verify;
  state.sessionKind = DataKind::FixtureLibraries;
  state.dataKind = DataKind::UserData;  // highlighted in the menu since: must not relabel
  state.firstBlock = 512;
  state.currentBlock = 514;
  state.blocksLeft = 382;
  state.firmwareVersionText = "1234";
  state.secondVersionText = "7";

  struct Case {
    TransferStep step;
    const char* status;
  };
  for (const Case& c :
       {Case{TransferStep::CountBlock, "(9)"}, Case{TransferStep::SendCommand, "Command(3)"},
        Case{TransferStep::AwaitWakeUpSent, "Waiting . . .(1)"}}) {
    SCOPED_TRACE(c.status);
    state.transferStep = c.step;
    Painted p;
    paint(p, state);
    const std::string firmware = "Firmware version : 1234 | 7";
    const std::vector<DrawnText> texts{{firmwareX(firmware.size()), 4, firmware, red},
                                       {10, 19, "Veryfication : libraries", black},
                                       {10, 34, "Block 3 z 384", black},
                                       {10, 49, c.status, black}};
    EXPECT_EQ(p.canvas.texts, texts);
  }
}

TEST(MainWindowPaint, WithoutAPictureNothingIsStretchedAndTheTextsStay) {
  SessionState state;
  state.transferStep = TransferStep::AwaitDataSent;
  Painted with;
  Painted without;
  paint(with, state);
  paint(without, state, {.font = {}, .hasPicture = false});
  EXPECT_TRUE(without.canvas.images.empty());
  EXPECT_EQ(without.canvas.texts, with.canvas.texts);
  EXPECT_EQ(without.rects, with.rects);
}

TEST(MainWindowPaint, TheOperatorsFontSetsMetricsAndBands) {
  SessionState state;
  state.transferStep = TransferStep::AwaitDataFrame;
  Painted p;
  paint(p, state);  // the default font first, then the operator's choice
  DisplaySettings settings;
  settings.font.face = "Courier";
  settings.font.pixelSize = 24;
  p.canvas.metrics = {24, 12};
  paint(p, state, settings);

  ASSERT_EQ(p.canvas.fonts.size(), 2u);
  EXPECT_EQ(p.canvas.fonts[0].face, "Fixedsys");
  EXPECT_EQ(p.canvas.fonts[1], settings.font);
  EXPECT_EQ(p.rects.blockLineRect, (Rect{10, 28, 42 * 12 + 4, 76}));
  EXPECT_EQ(p.rects.statusLineRect, (Rect{10, 76, 42 * 12 + 4, 100}));
  const DrawnText& status = p.canvas.texts.back();
  EXPECT_EQ(status, (DrawnText{10, 76, "Receiving(8)", black}));
  EXPECT_EQ(p.canvas.texts[4].x, 640 - 28 * 12 - 10);
}

}  // namespace
}  // namespace morva
