// The main window's canvas over a QPainter, and the mapping between the operator's font and
// Qt's fonts.
#pragma once

#include <QFont>
#include <QPainter>
#include <QPixmap>

#include "display/canvas.h"

namespace morva::qt {

// The nearest Qt font. The fixed-pitch hint makes the font matcher pick a monospaced face
// where the named one is missing, as "Fixedsys" is everywhere but on Windows.
QFont qtFont(const FontSpec& fontSpec);
// The font the window is drawn with for `fontSpec`: the face the matcher resolved it to, with
// the size, weight and slant it got. The font chooser opens on this.
QFont drawnFont(const FontSpec& fontSpec);
// What the font chooser picked, in the operator's terms.
FontSpec fontSpecOf(const QFont& font);
// Lets "Fixedsys" resolve to the monospaced faces a desktop usually has.
void installFontSubstitutes();

class QtCanvas : public Canvas {
 public:
  // `picture` may be null: the paint then draws no picture.
  QtCanvas(QPainter& painter, const QPixmap& picture);

  void setFont(const FontSpec& font) override;
  void drawImage(const Rect& target) override;
  TextMetrics textMetrics() override;
  void setTextColor(Rgb colour) override;
  void drawText(std::int32_t x, std::int32_t y, std::string_view text) override;

 private:
  QPainter& painter_;
  const QPixmap& picture_;
};

}  // namespace morva::qt
