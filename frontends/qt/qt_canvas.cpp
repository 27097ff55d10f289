#include "frontends/qt/qt_canvas.h"

#include <QFontInfo>
#include <QFontMetrics>

namespace morva::qt {

QFont qtFont(const FontSpec& fontSpec) {
  QFont font(QString::fromStdString(fontSpec.face));
  if (fontSpec.fixedPitch) {
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
  }
  if (fontSpec.pixelSize > 0)
    font.setPixelSize(fontSpec.pixelSize);
  else if (fontSpec.pointSize > 0)
    font.setPointSize(fontSpec.pointSize);
  if (fontSpec.weight > 0) font.setWeight(static_cast<QFont::Weight>(fontSpec.weight));
  font.setItalic(fontSpec.italic);
  return font;
}

QFont drawnFont(const FontSpec& fontSpec) {
  const QFontInfo drawn(qtFont(fontSpec));
  QFont font(drawn.family());
  if (fontSpec.pixelSize > 0)
    font.setPixelSize(drawn.pixelSize());
  else
    font.setPointSizeF(drawn.pointSizeF());
  font.setWeight(static_cast<QFont::Weight>(drawn.weight()));
  font.setItalic(drawn.italic());
  // The chooser picks its style by name; without one it takes the first of the face's list,
  // which may be a slanted one.
  font.setStyleName(drawn.styleName());
  return font;
}

FontSpec fontSpecOf(const QFont& font) {
  FontSpec fontSpec;
  fontSpec.face = font.family().toStdString();
  fontSpec.pixelSize = font.pixelSize() > 0 ? font.pixelSize() : 0;
  fontSpec.pointSize = fontSpec.pixelSize == 0 && font.pointSize() > 0 ? font.pointSize() : 0;
  fontSpec.fixedPitch = QFontInfo(font).fixedPitch();
  fontSpec.weight = font.weight();
  fontSpec.italic = font.italic();
  return fontSpec;
}

void installFontSubstitutes() {
  QFont::insertSubstitutions("Fixedsys", {"DejaVu Sans Mono", "Noto Sans Mono", "Liberation Mono",
                                          "Nimbus Mono PS", "Courier New"});
}

QtCanvas::QtCanvas(QPainter& painter, const QPixmap& picture)
    : painter_(painter), picture_(picture) {}

void QtCanvas::setFont(const FontSpec& font) {
  painter_.setFont(qtFont(font));
}

void QtCanvas::drawImage(const Rect& target) {
  if (picture_.isNull()) return;
  painter_.drawPixmap(
      QRect(target.left, target.top, target.right - target.left, target.bottom - target.top),
      picture_);
}

TextMetrics QtCanvas::textMetrics() {
  const QFontMetrics metrics = painter_.fontMetrics();
  // The cell without leading: the lines are spaced by exactly this. A fixed-pitch face's
  // average width is its advance, but Qt's average can differ from the real advance, which
  // would move the right-aligned firmware line off its margin.
  const int width = QFontInfo(painter_.font()).fixedPitch()
                        ? metrics.horizontalAdvance(QLatin1Char('0'))
                        : metrics.averageCharWidth();
  return {metrics.ascent() + metrics.descent(), width};
}

void QtCanvas::setTextColor(Rgb colour) {
  painter_.setPen(QColor(colour.red, colour.green, colour.blue));
}

void QtCanvas::drawText(std::int32_t x, std::int32_t y, std::string_view text) {
  // Qt places text by its baseline; the display gives the top of the cell.
  const QString line = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  painter_.drawText(x, y + painter_.fontMetrics().ascent(), line);
}

}  // namespace morva::qt
