#pragma once
// The drawing surface of the window: a persistent 800 x 600 image drawn
// without antialiasing, so a pixel read returns exactly the colour drawn.

#include <QFont>
#include <QImage>
#include <QPainter>
#include <algorithm>

#include "display/Canvas.h"

namespace drivanto {

class QtCanvas : public Canvas {
 public:
  QtCanvas(QImage* image, const QFont& font) : image_(image), font_(font) {}

  void SetFill(Rgb c) override { fill_ = c; }
  void SetLine(Rgb c) override { line_ = c; }
  void SetTextColor(Rgb c) override { text_ = c; }
  void Rect(int x1, int y1, int x2, int y2) override;
  void Polygon(const std::vector<Point>& points) override;
  void Line(int x1, int y1, int x2, int y2) override;
  void Text(int x, int y, const std::string& utf8) override;
  int TextWidth(const std::string& utf8) const override;
  void ClipBelow(int y) override { clipBottom_ = y; }
  void SetPixel(int x, int y, Rgb c) override;
  Rgb Pixel(int x, int y) const override;
  void Draw(int x, int y, const Picture& picture) override;

 private:
  void Fill(long left, long top, long right, long bottom, Rgb c);
  // The rows drawing may reach (below the clip row, inside the image).
  int Bottom() const {
    return clipBottom_ < 0 ? image_->height() : std::min(clipBottom_, image_->height());
  }
  void Clip(QPainter& p) const;
  QImage* image_;
  QFont font_;
  Rgb fill_{};
  Rgb line_{};
  Rgb text_{255, 255, 255};
  int clipBottom_ = -1;
};

// The window's font: "Arial Black" 13 px, or a heavy sans (Lato Black) where
// it is missing; never antialiased.
QFont DashboardFont();

}  // namespace drivanto
