// One frame of the main window as the front end renders it.
#include "display/paint.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <algorithm>
#include <optional>

#include "display/texts.h"
#include "frontends/qt/front_end.h"
#include "tests/qt/qt_support.h"
#include "tests/support/scripted_machine.h"

namespace morva::testing {
namespace {

bool isColour(QRgb pixel, Rgb colour) {
  return qRed(pixel) == colour.red && qGreen(pixel) == colour.green && qBlue(pixel) == colour.blue;
}

// Pixels of exactly `colour` inside and outside `band`.
std::pair<int, int> countColour(const QImage& image, Rgb colour, const QRect& band) {
  int inside = 0;
  int outside = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (isColour(image.pixel(x, y), colour)) ++(band.contains(x, y) ? inside : outside);
  return {inside, outside};
}

// One port listed, with nothing behind it that answers.
class PaintTest : public ::testing::Test, protected ScriptedMachine {
 protected:
  ScriptedDialogs dialogs;
  std::optional<qt::FrontEnd> frontEnd;

  void SetUp() override {
    ensureApplication();
    lister.names = {"/dev/ttyUSB0"};
    frontEnd.emplace(dialogs, port, lister, ProgramOptions{});
    ASSERT_EQ(frontEnd->start(), 0);  // no device answers: the not-found box is scripted
    SessionState& state = frontEnd->program().state();
    state.firmwareVersionText = "2.05";
    state.secondVersionText = "1.10";
    state.transferStep = TransferStep::AwaitDataSent;
    state.firstBlock = 512;
    state.currentBlock = 600;
    state.blocksLeft = 296;
    state.direction = Direction::WriteToDevice;
    state.sessionKind = DataKind::FixtureLibraries;
    frontEnd->window().resize(640, 520);
  }

  QImage frame() { return frontEnd->window().client()->grab().toImage(); }
  int clientWidth() { return frontEnd->window().client()->width(); }
  // The cell height and average width the last paint used, read back from its line bands.
  std::pair<int, int> paintedMetrics() {
    const LineRects& rects = frontEnd->window().client()->lineRects();
    return {rects.statusLineRect.bottom - rects.statusLineRect.top,
            (rects.blockLineRect.right - 4) / 42};
  }
};

TEST_F(PaintTest, FirmwareLineIsDrawnInItsColourAtTheTopRightOnly) {
  const QImage image = frame();
  const auto [h, w] = paintedMetrics();
  ASSERT_GT(h, 0);
  const int n = static_cast<int>(firmwareLine("2.05", "1.10").size());
  // The line starts n average widths left of the client area's width less 10; the real
  // advance may differ from the average, so the band runs on to the client area's edge.
  const int left = clientWidth() - n * w - 10;
  const QRect band(left, 4, clientWidth() - left, h);
  const auto [inside, outside] = countColour(image, firmwareLineColour, band);
  EXPECT_GT(inside, 20);
  EXPECT_EQ(outside, 0);
  EXPECT_GT(band.left(), clientWidth() / 3);
}

TEST_F(PaintTest, SessionLinesAreBlackAtTheLeftWhileASessionRuns) {
  const QImage image = frame();
  // Everything drawn in black lies in the two bands the engine repaints during a session.
  const LineRects& rects = frontEnd->window().client()->lineRects();
  const QRect bands(QPoint(rects.blockLineRect.left, rects.blockLineRect.top),
                    QPoint(rects.statusLineRect.right - 1, rects.statusLineRect.bottom - 1));
  ASSERT_EQ(rects.blockLineRect.bottom, rects.statusLineRect.top);
  const auto [inside, outside] = countColour(image, textColour, bands);
  EXPECT_GT(inside, 40);
  EXPECT_EQ(outside, 0);

  frontEnd->program().state().transferStep = TransferStep::Idle;
  EXPECT_EQ(countColour(frame(), textColour, bands).first, 0);
}

TEST_F(PaintTest, PictureIsStretchedOverTheOuterSizeFromTheClientOrigin) {
  ASSERT_TRUE(frontEnd->window().client()->hasPicture());
  const QImage image = frame();
  const QImage picture = QImage(":/morva/background.png").convertToFormat(QImage::Format_RGB32);
  ASSERT_FALSE(picture.isNull());
  const QSize outer = frontEnd->window().frameGeometry().size();
  // Points away from the text lines; the stretch may round a source pixel either way.
  for (const QPoint at : {QPoint(5, 300), QPoint(320, 400), QPoint(600, 250), QPoint(100, 150)}) {
    SCOPED_TRACE(std::to_string(at.x()) + "," + std::to_string(at.y()));
    ASSERT_LT(at.y(), image.height());
    const int sx = at.x() * picture.width() / outer.width();
    const int sy = at.y() * picture.height() / outer.height();
    bool matches = false;
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx) {
        const QPoint source(std::clamp(sx + dx, 0, picture.width() - 1),
                            std::clamp(sy + dy, 0, picture.height() - 1));
        matches = matches || picture.pixel(source) == image.pixel(at);
      }
    EXPECT_TRUE(matches);
  }
}

}  // namespace
}  // namespace morva::testing
