#pragma once
// The drawing surface the dashboard draws on: window pixels, origin top left,
// y downward. Drawing persists until overdrawn and a pixel read returns
// exactly the colour last drawn there.

#include <cstdint>
#include <string>
#include <vector>

namespace drivanto {

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
};

struct Point {
  int x, y;
};

// A picture in memory. A transparent picture leaves the pixels of its
// transparent colour (that of its bottom-left pixel) undrawn.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<Rgb> pixels;  // row by row from the top
  bool transparent = false;
  Rgb At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
  Rgb TransparentColor() const { return height > 0 ? At(0, height - 1) : Rgb{}; }
};

class Canvas {
 public:
  virtual ~Canvas() = default;
  virtual void SetFill(Rgb c) = 0;
  virtual void SetLine(Rgb c) = 0;
  virtual void SetTextColor(Rgb c) = 0;
  // The rectangle (x1,y1)-(x2,y2), right and bottom exclusive (the two values
  // of each pair in either order): a one-pixel outline in the line colour,
  // the inside in the fill colour.
  virtual void Rect(int x1, int y1, int x2, int y2) = 0;
  // A filled polygon with its outline in the line colour.
  virtual void Polygon(const std::vector<Point>& points) = 0;
  // A line in the line colour.
  virtual void Line(int x1, int y1, int x2, int y2) = 0;
  // Text with its top-left corner at (x,y) on an opaque background in the
  // fill colour.
  virtual void Text(int x, int y, const std::string& utf8) = 0;
  // The width in pixels of a text as Text draws it.
  virtual int TextWidth(const std::string& utf8) const = 0;
  // Rows y and below are left alone by what is drawn next (a negative y
  // draws everywhere again).
  virtual void ClipBelow(int y) = 0;
  virtual void SetPixel(int x, int y, Rgb c) = 0;
  virtual Rgb Pixel(int x, int y) const = 0;
  virtual void Draw(int x, int y, const Picture& picture) = 0;
};

namespace colors {
inline constexpr Rgb kBlack{0, 0, 0};
inline constexpr Rgb kWhite{255, 255, 255};
inline constexpr Rgb kBlue{0, 0, 255};
inline constexpr Rgb kRed{255, 0, 0};
inline constexpr Rgb kVerge{0, 128, 0};
inline constexpr Rgb kMagenta{255, 0, 255};
inline constexpr Rgb kFuel{79, 241, 55};
inline constexpr Rgb kBrake{247, 120, 8};
inline constexpr Rgb kCO{160, 160, 160};
inline constexpr Rgb kNOx{191, 141, 13};
inline constexpr Rgb kHC{143, 42, 10};
inline constexpr Rgb kBattery{255, 136, 85};
inline constexpr Rgb kBackground{56, 144, 13};
}  // namespace colors

}  // namespace drivanto
