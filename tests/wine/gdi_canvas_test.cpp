// The GDI canvas: the background picture, the text and its font on a memory surface whose
// pixels the tests read back.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>

#include "frontends/win32/dialogs.h"
#include "frontends/win32/gdi_canvas.h"

namespace morva::testing {
namespace {

// A 32-bit memory surface whose pixels the test can read.
class Surface {
 public:
  Surface(int width, int height, COLORREF fill) : width_(width), height_(height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    dc_ = CreateCompatibleDC(nullptr);
    bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
    previous_ = SelectObject(dc_, bitmap_);
    RECT all{0, 0, width, height};
    HBRUSH brush = CreateSolidBrush(fill);
    FillRect(dc_, &all, brush);
    DeleteObject(brush);
  }
  ~Surface() {
    SelectObject(dc_, previous_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
  }
  HDC dc() const { return dc_; }
  COLORREF pixel(int x, int y) const {
    GdiFlush();
    const auto value = static_cast<const std::uint32_t*>(bits_)[y * width_ + x];
    return RGB((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF);
  }
  int count(COLORREF colour, const RECT& area) const {
    int n = 0;
    for (int y = area.top; y < area.bottom && y < height_; ++y)
      for (int x = area.left; x < area.right && x < width_; ++x) n += pixel(x, y) == colour;
    return n;
  }

 private:
  int width_;
  int height_;
  HDC dc_;
  HBITMAP bitmap_;
  HGDIOBJ previous_;
  void* bits_ = nullptr;
};

constexpr COLORREF white = RGB(255, 255, 255);
constexpr COLORREF red = RGB(200, 0, 0);
constexpr COLORREF firmwareColour = RGB(255, 64, 96);

// A screen bitmap holding what `source` (of `size` pixels square) shows.
HBITMAP pictureOf(const Surface& source, int size) {
  HDC screen = GetDC(nullptr);
  HBITMAP picture = CreateCompatibleBitmap(screen, size, size);
  ReleaseDC(nullptr, screen);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ previous = SelectObject(dc, picture);
  BitBlt(dc, 0, 0, size, size, source.dc(), 0, 0, SRCCOPY);
  SelectObject(dc, previous);
  DeleteDC(dc);
  return picture;
}

// A 2 by 2 picture, one colour.
HBITMAP solidPicture(COLORREF colour) {
  return pictureOf(Surface(2, 2, colour), 2);
}

LOGFONTA plainResolver(const FontSpec& fontSpec) {
  return win32::logFontOf(fontSpec, 96);
}

TEST(GdiCanvasTest, PictureIsStretchedOverTheWholeTarget) {
  Surface surface(200, 100, white);
  HBITMAP picture = solidPicture(red);
  {
    win32::GdiCanvas canvas(surface.dc(), picture, plainResolver);
    canvas.drawImage({0, 0, 150, 100});
  }
  EXPECT_EQ(surface.pixel(0, 0), red);
  EXPECT_EQ(surface.pixel(149, 99), red);
  EXPECT_EQ(surface.pixel(150, 50), white);
  DeleteObject(picture);

  Surface bare(20, 20, white);
  win32::GdiCanvas noPicture(bare.dc(), nullptr, plainResolver);
  noPicture.drawImage({0, 0, 20, 20});
  EXPECT_EQ(bare.pixel(10, 10), white);
}

// A picture shrunk into a smaller window keeps its colours: red and blue stripes one pixel
// wide, stretched to half their width, come out as their blend (Windows) or one of the two
// (Wine), never merged into the black of the default stretch mode.
TEST(GdiCanvasTest, AShrunkPictureKeepsItsColours) {
  Surface stripes(8, 8, red);
  for (int x = 1; x < 8; x += 2) {
    RECT column{x, 0, x + 1, 8};
    HBRUSH blue = CreateSolidBrush(RGB(0, 0, 200));
    FillRect(stripes.dc(), &column, blue);
    DeleteObject(blue);
  }
  HBITMAP picture = pictureOf(stripes, 8);
  Surface surface(4, 4, white);
  {
    win32::GdiCanvas canvas(surface.dc(), picture, plainResolver);
    canvas.drawImage({0, 0, 4, 4});
  }
  DeleteObject(picture);
  for (int x = 0; x < 4; ++x) {
    const COLORREF pixel = surface.pixel(x, 2);
    EXPECT_GE(GetRValue(pixel) + GetBValue(pixel), 180) << x;
  }
  EXPECT_EQ(GetStretchBltMode(surface.dc()), BLACKONWHITE);  // the context's own mode is back
}

TEST(GdiCanvasTest, TextIsDrawnInItsColourWithoutABox) {
  Surface surface(300, 60, red);
  HGDIOBJ ownFont = GetCurrentObject(surface.dc(), OBJ_FONT);
  TextMetrics metrics;
  {
    win32::GdiCanvas canvas(surface.dc(), nullptr, plainResolver);
    canvas.setFont(FontSpec{});
    metrics = canvas.textMetrics();
    TEXTMETRICA selected{};
    GetTextMetricsA(surface.dc(), &selected);
    EXPECT_EQ(metrics, (TextMetrics{selected.tmHeight, selected.tmAveCharWidth}));
    canvas.setTextColor({255, 64, 96});
    canvas.drawText(5, 5, "Firmware version : N/A | N/A");
  }
  ASSERT_GT(metrics.height, 0);
  ASSERT_GT(metrics.averageCharWidth, 0);
  const RECT line{5, 5, 5 + 28 * metrics.averageCharWidth, 5 + metrics.height};
  EXPECT_GT(surface.count(firmwareColour, line), 20);
  EXPECT_EQ(surface.count(white, line), 0);  // no opaque background behind the letters
  EXPECT_GT(surface.count(red, line), 0);
  EXPECT_EQ(surface.count(firmwareColour, RECT{0, line.bottom, 300, 60}), 0);
  EXPECT_EQ(GetCurrentObject(surface.dc(), OBJ_FONT), ownFont);  // the canvas put it back
}

}  // namespace
}  // namespace morva::testing
