// The display's canvas over a GDI device context: fonts from LOGFONTA descriptions, the
// background picture stretched with StretchBlt, transparent TextOutA.
#pragma once

#include <windows.h>

#include <functional>

#include "display/canvas.h"

namespace morva::win32 {

// The description GDI is given for a font fontSpec.
using FontResolver = std::function<LOGFONTA(const FontSpec&)>;

class GdiCanvas : public Canvas {
 public:
  // Draws on `dc`; `picture` is the background bitmap, or null when it could not be loaded.
  GdiCanvas(HDC dc, HBITMAP picture, FontResolver resolveFont);
  // Puts the context's own font back and deletes the one made here.
  ~GdiCanvas() override;
  GdiCanvas(const GdiCanvas&) = delete;
  GdiCanvas& operator=(const GdiCanvas&) = delete;

  // CreateFontIndirectA and SelectObject.
  void setFont(const FontSpec& font) override;
  // A memory context with the picture in the paint context's mapping mode; its device origin
  // made logical is the source origin, the whole bitmap (GetObjectA) the source size.
  void drawImage(const Rect& target) override;
  // tmHeight and tmAveCharWidth of the selected font.
  TextMetrics textMetrics() override;
  // Also makes the text background transparent, so lines lie on the picture without a box.
  void setTextColor(Rgb colour) override;
  void drawText(std::int32_t x, std::int32_t y, std::string_view text) override;

 private:
  HDC dc_;
  HBITMAP picture_;
  FontResolver resolveFont_;
  HFONT font_ = nullptr;
  HGDIOBJ originalFont_ = nullptr;
};

}  // namespace morva::win32
