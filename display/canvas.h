// The drawing surface the main window is painted on. Each front end implements it over its own
// painter (a widget painter on the desktop, a device context on Windows); the display decides
// what goes where and in which order.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace morva {

// Left, top, right, bottom in the window's client pixels; right and bottom are exclusive.
struct Rect {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;
  bool operator==(const Rect&) const = default;
};

struct Rgb {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  bool operator==(const Rgb&) const = default;
};

// What the lines are spaced and placed by: the cell height (no external leading) and the
// average character width of the selected font.
struct TextMetrics {
  std::int32_t height = 0;
  std::int32_t averageCharWidth = 0;
  bool operator==(const TextMetrics&) const = default;
};

// A font as the operator sees it. The front end maps it onto the nearest face it has; the
// default face is rarely installed outside Windows, so the fixed-pitch hint is what keeps the
// lines monospaced there.
struct FontSpec {
  std::string face = "Fixedsys";
  std::int32_t pixelSize = 0;  // cell height in pixels; 0 leaves it to pointSize or the platform
  std::int32_t pointSize = 0;  // used when pixelSize is 0; both 0: the platform's default size
  bool fixedPitch = true;
  std::int32_t weight = 0;  // 0 the face's default, 400 normal, 700 bold (as the font chooser)
  bool italic = false;
  bool operator==(const FontSpec&) const = default;

  bool bold() const { return weight >= 700; }
};

class Canvas {
 public:
  virtual ~Canvas() = default;

  // Selects the font for textMetrics() and every later drawText().
  virtual void setFont(const FontSpec& font) = 0;
  // Stretches the whole background picture onto `target`, not keeping its aspect ratio. Parts
  // of `target` outside the surface are clipped.
  virtual void drawImage(const Rect& target) = 0;
  virtual TextMetrics textMetrics() = 0;
  virtual void setTextColor(Rgb colour) = 0;
  // Draws `text` with the current font and colour over what is there (no background box).
  // (x, y) is the top left corner of the text cell; negative values clip the text's start.
  virtual void drawText(std::int32_t x, std::int32_t y, std::string_view text) = 0;
};

}  // namespace morva
