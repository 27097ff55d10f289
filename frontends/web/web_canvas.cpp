#include "frontends/web/web_canvas.h"

#include <emscripten.h>

// clang-format off
EM_JS(void, morva_canvas_font, (const char* face, int pixels, int points, int fixed, int weight, int italic), {
  morvaHost.canvas.setFont(UTF8ToString(face), pixels, points, fixed != 0, weight, italic != 0);
});
EM_JS(void, morva_canvas_image, (int left, int top, int right, int bottom), {
  morvaHost.canvas.drawImage(left, top, right - left, bottom - top);
});
EM_JS(int, morva_canvas_height, (), { return morvaHost.canvas.metrics().height; });
EM_JS(int, morva_canvas_width, (), { return morvaHost.canvas.metrics().averageCharWidth; });
EM_JS(void, morva_canvas_colour, (int red, int green, int blue), {
  morvaHost.canvas.setColour(red, green, blue);
});
EM_JS(void, morva_canvas_text, (int x, int y, const char* text, int length), {
  morvaHost.canvas.drawText(x, y, UTF8ToString(text, length));
});
// clang-format on

namespace morva::web {

void WebCanvas::setFont(const FontSpec& font) {
  texts_.clear();  // a paint begins with its font
  morva_canvas_font(font.face.c_str(), font.pixelSize, font.pointSize, font.fixedPitch ? 1 : 0,
                    font.weight, font.italic ? 1 : 0);
}

void WebCanvas::drawImage(const Rect& target) {
  morva_canvas_image(target.left, target.top, target.right, target.bottom);
}

TextMetrics WebCanvas::textMetrics() {
  return {morva_canvas_height(), morva_canvas_width()};
}

void WebCanvas::setTextColor(Rgb colour) {
  morva_canvas_colour(colour.red, colour.green, colour.blue);
}

void WebCanvas::drawText(std::int32_t x, std::int32_t y, std::string_view text) {
  if (!text.empty())
    texts_.push_back(std::to_string(x) + " " + std::to_string(y) + " " + std::string(text));
  morva_canvas_text(x, y, text.data(), static_cast<int>(text.size()));
}

}  // namespace morva::web
