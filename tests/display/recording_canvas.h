// A canvas that remembers every call, the text it drew with the colour and font in force, and
// answers textMetrics() with the metrics the test sets.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "display/canvas.h"

namespace morva::testing {

struct DrawnText {
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::string text;
  Rgb colour;
  bool operator==(const DrawnText&) const = default;
};

class RecordingCanvas : public Canvas {
 public:
  TextMetrics metrics{15, 8};

  std::vector<std::string> calls;
  std::vector<Rect> images;
  std::vector<DrawnText> texts;
  std::vector<FontSpec> fonts;

  void setFont(const FontSpec& font) override {
    calls.push_back("setFont");
    fonts.push_back(font);
  }
  void drawImage(const Rect& target) override {
    calls.push_back("drawImage");
    images.push_back(target);
  }
  TextMetrics textMetrics() override {
    calls.push_back("textMetrics");
    return metrics;
  }
  void setTextColor(Rgb colour) override {
    calls.push_back("setTextColor");
    colour_ = colour;
  }
  void drawText(std::int32_t x, std::int32_t y, std::string_view text) override {
    calls.push_back("drawText");
    texts.push_back({x, y, std::string{text}, colour_});
  }

 private:
  Rgb colour_{1, 2, 3};  // no real colour: a text drawn before any setTextColor stands out
};

}  // namespace morva::testing
