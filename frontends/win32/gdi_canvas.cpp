#include "frontends/win32/gdi_canvas.h"

namespace morva::win32 {

GdiCanvas::GdiCanvas(HDC dc, HBITMAP picture, FontResolver resolveFont)
    : dc_(dc), picture_(picture), resolveFont_(std::move(resolveFont)) {}

GdiCanvas::~GdiCanvas() {
  if (font_ == nullptr) return;
  SelectObject(dc_, originalFont_);
  DeleteObject(font_);
}

void GdiCanvas::setFont(const FontSpec& font) {
  const LOGFONTA description = resolveFont_(font);
  HFONT created = CreateFontIndirectA(&description);
  if (created == nullptr) return;  // the context keeps the font it had
  HGDIOBJ previous = SelectObject(dc_, created);
  if (font_ == nullptr) {
    originalFont_ = previous;
  } else {
    DeleteObject(font_);
  }
  font_ = created;
}

void GdiCanvas::drawImage(const Rect& target) {
  if (picture_ == nullptr) return;
  HDC memory = CreateCompatibleDC(dc_);
  if (memory == nullptr) return;
  HGDIOBJ previous = SelectObject(memory, picture_);
  SetMapMode(memory, GetMapMode(dc_));
  BITMAP bitmap{};
  GetObjectA(picture_, sizeof(BITMAP), &bitmap);
  POINT origin{0, 0};
  DPtoLP(memory, &origin, 1);
  // The default mode drops or merges whole rows and columns of a shrunk picture, which breaks
  // it up into coloured stipple and stairs; HALFTONE averages them (and needs the brush origin
  // set after it).
  const int mode = SetStretchBltMode(dc_, HALFTONE);
  POINT brushOrigin{};
  SetBrushOrgEx(dc_, 0, 0, &brushOrigin);
  StretchBlt(dc_, target.left, target.top, target.right - target.left, target.bottom - target.top,
             memory, origin.x, origin.y, bitmap.bmWidth, bitmap.bmHeight, SRCCOPY);
  SetBrushOrgEx(dc_, brushOrigin.x, brushOrigin.y, nullptr);
  if (mode != 0) SetStretchBltMode(dc_, mode);
  SelectObject(memory, previous);
  DeleteDC(memory);
}

TextMetrics GdiCanvas::textMetrics() {
  TEXTMETRICA metrics{};
  if (!GetTextMetricsA(dc_, &metrics)) return {};
  return {metrics.tmHeight, metrics.tmAveCharWidth};
}

void GdiCanvas::setTextColor(Rgb colour) {
  SetBkMode(dc_, TRANSPARENT);
  SetTextColor(dc_, RGB(colour.red, colour.green, colour.blue));
}

void GdiCanvas::drawText(std::int32_t x, std::int32_t y, std::string_view text) {
  TextOutA(dc_, x, y, text.data(), static_cast<int>(text.size()));
}

}  // namespace morva::win32
