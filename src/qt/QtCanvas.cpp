#include "qt/QtCanvas.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QPainter>
#include <QPolygon>
#include <algorithm>

namespace drivanto {

namespace {

QColor ToQ(Rgb c) { return QColor(c.r, c.g, c.b); }

void SetupPainter(QPainter& p) {
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setRenderHint(QPainter::TextAntialiasing, false);
  p.setRenderHint(QPainter::SmoothPixmapTransform, false);
}

}  // namespace

QFont DashboardFont() {
  QFont font;
  const QStringList families = QFontDatabase::families();
  if (families.contains("Arial Black")) {
    font.setFamily("Arial Black");
  } else if (families.contains("Lato Black")) {
    font.setFamily("Lato Black");
  } else {
    font.setFamily("Lato");
    font.setWeight(QFont::Black);
  }
  font.setPixelSize(13);
  font.setStyleStrategy(QFont::NoAntialias);
  return font;
}

void QtCanvas::Fill(long left, long top, long right, long bottom, Rgb c) {
  // Pixels left..right-1, top..bottom-1, clipped to the image.
  left = std::max(left, 0L);
  top = std::max(top, 0L);
  right = std::min(right, static_cast<long>(image_->width()));
  bottom = std::min(bottom, static_cast<long>(Bottom()));
  if (left >= right || top >= bottom) return;
  const QRgb value = qRgb(c.r, c.g, c.b);
  for (long y = top; y < bottom; ++y) {
    auto* row = reinterpret_cast<QRgb*>(image_->scanLine(static_cast<int>(y)));
    std::fill(row + left, row + right, value);
  }
}

void QtCanvas::Rect(int x1, int y1, int x2, int y2) {
  const long left = std::min(x1, x2), right = std::max(x1, x2);
  const long top = std::min(y1, y2), bottom = std::max(y1, y2);
  if (left >= right || top >= bottom) return;
  Fill(left, top, right, bottom, line_);
  Fill(left + 1, top + 1, right - 1, bottom - 1, fill_);
}

void QtCanvas::Polygon(const std::vector<Point>& points) {
  QPainter p(image_);
  SetupPainter(p);
  Clip(p);
  p.setPen(QPen(ToQ(line_), 0));
  p.setBrush(ToQ(fill_));
  QPolygon poly;
  for (const Point& pt : points) poly << QPoint(pt.x, pt.y);
  p.drawPolygon(poly);
}

void QtCanvas::Line(int x1, int y1, int x2, int y2) {
  QPainter p(image_);
  SetupPainter(p);
  Clip(p);
  p.setPen(QPen(ToQ(line_), 0));
  p.drawLine(x1, y1, x2, y2);
}

void QtCanvas::Text(int x, int y, const std::string& utf8) {
  if (utf8.empty()) return;
  QPainter p(image_);
  SetupPainter(p);
  Clip(p);
  p.setFont(font_);
  const QString text = QString::fromUtf8(utf8.data(), static_cast<int>(utf8.size()));
  const QFontMetrics fm(font_);
  const int width = fm.horizontalAdvance(text);
  Fill(x, y, x + width, y + fm.height(), fill_);
  p.setPen(ToQ(text_));
  p.drawText(x, y + fm.ascent(), text);
}

void QtCanvas::Clip(QPainter& p) const {
  if (clipBottom_ >= 0) p.setClipRect(0, 0, image_->width(), clipBottom_);
}

int QtCanvas::TextWidth(const std::string& utf8) const {
  const QString text = QString::fromUtf8(utf8.data(), static_cast<int>(utf8.size()));
  return QFontMetrics(font_).horizontalAdvance(text);
}

void QtCanvas::SetPixel(int x, int y, Rgb c) {
  if (x < 0 || y < 0 || x >= image_->width() || y >= Bottom()) return;
  image_->setPixel(x, y, qRgb(c.r, c.g, c.b));
}

Rgb QtCanvas::Pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= image_->width() || y >= image_->height()) return {};
  const QRgb v = image_->pixel(x, y);
  return {static_cast<uint8_t>(qRed(v)), static_cast<uint8_t>(qGreen(v)),
          static_cast<uint8_t>(qBlue(v))};
}

void QtCanvas::Draw(int x, int y, const Picture& picture) {
  const Rgb clear = picture.TransparentColor();
  for (int py = 0; py < picture.height; ++py) {
    const int wy = y + py;
    if (wy < 0 || wy >= Bottom()) continue;
    auto* row = reinterpret_cast<QRgb*>(image_->scanLine(wy));
    for (int px = 0; px < picture.width; ++px) {
      const int wx = x + px;
      if (wx < 0 || wx >= image_->width()) continue;
      const Rgb c = picture.At(px, py);
      if (picture.transparent && c == clear) continue;
      row[wx] = qRgb(c.r, c.g, c.b);
    }
  }
}

}  // namespace drivanto
