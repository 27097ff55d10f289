// The main window's canvas in the page: display/'s picture drawn on a <canvas> through its 2D
// context, in CSS pixels (the page scales the context for high-density screens). It also keeps
// the texts of the last paint, which the page's tests read.
#pragma once

#include <string>
#include <vector>

#include "display/canvas.h"

namespace morva::web {

class WebCanvas : public Canvas {
 public:
  void setFont(const FontSpec& font) override;
  void drawImage(const Rect& target) override;
  TextMetrics textMetrics() override;
  void setTextColor(Rgb colour) override;
  void drawText(std::int32_t x, std::int32_t y, std::string_view text) override;

  // "x y text" for each text drawn, in order.
  const std::vector<std::string>& texts() const { return texts_; }

 private:
  std::vector<std::string> texts_;
};

}  // namespace morva::web
