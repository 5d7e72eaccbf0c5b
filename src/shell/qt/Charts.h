#pragma once
// Charts of a run's course (Qt Charts): speed, battery, charging and engine,
// fuel and emissions, all against driven time, each unit on an axis of its
// own; the window of the menu "Diagram" that shows them in Swedish while the
// run goes on, with the operating points of the engine and the motor on their
// maps; and the same charts rendered to PNG or SVG without a window, in
// Swedish or English.

#include <QByteArray>
#include <QImage>
#include <QLocale>
#include <QPointF>
#include <QSize>
#include <QString>
#include <QWidget>
#include <string>
#include <vector>

#include "shell/History.h"

class QChart;
class QChartView;
class QLabel;
class QTimer;

namespace drivanto {

struct Sim;

enum class ChartKind { Speed, Battery, Charging, Emissions };

// The names used on the command line: speed, battery, charging, emissions.
std::vector<ChartKind> AllChartKinds();
const char* ChartName(ChartKind kind);
bool ChartKindByName(const std::string& name, ChartKind* kind);

enum class ChartLanguage { Swedish, English };

// How the charts are drawn.
struct ChartStyle {
  // Titles, axis titles and the names of the lines.
  ChartLanguage language = ChartLanguage::Swedish;
  // The axis numbers' decimal sign.
  QLocale numbers = QLocale::c();
  // Each line is reduced to the points that this many pixel columns across
  // the run's time can show (0: every point).
  int columns = 2000;
  // For a picture file: narrow margins, and each line drawn as one path.
  bool picture = false;
};

// The window's: Swedish, with the numbers of the user's locale.
ChartStyle WindowChartStyle();
// A picture's of the given width: Swedish with the decimal comma or English
// with the point.
ChartStyle PictureChartStyle(ChartLanguage language, int width);

// A new chart of the history. A quantity the history does not hold (no
// finite value) is neither drawn nor named in the legend, and an axis left
// without lines is left out. Where the time goes back (a run resumed from an
// earlier point), a line starts anew.
QChart* MakeChart(ChartKind kind, const RunHistory& history, const ChartStyle& style);

// The points of a line (time non-decreasing) that `columns` equal columns
// across t0..t1 can show: in each column the first, the lowest, the highest
// and the last, in their order; of a level stretch only its ends. Fewer than
// 4 points a column come back unchanged.
std::vector<QPointF> ReduceToColumns(const std::vector<QPointF>& points, double t0, double t1,
                                     int columns);

// The charts one above the other in an image of the given size (offscreen).
QImage RenderCharts(const std::vector<ChartKind>& kinds, const RunHistory& history, QSize size,
                    const ChartStyle& style);
// The same as the bytes of an SVG file.
QByteArray ChartsSvg(const std::vector<ChartKind>& kinds, const RunHistory& history, QSize size,
                     const ChartStyle& style, const QString& title);
// A PNG or SVG file (by its ending), replaced only when complete; throws
// IoError when it cannot be written.
void WriteChartsPicture(const std::vector<ChartKind>& kinds, const RunHistory& history, QSize size,
                        const ChartStyle& style, const std::string& file, const QString& title);

// The engine's operating points of a history over the efficiency-map
// picture (20 rpm a pixel to the right, the map's torque scale over 200
// pixels upward), and the motor's over its efficiency table as a coloured
// map (speed to the right, torque upward).
QImage EngineMapPoints(const Sim& sim, const QImage& mapPicture, const RunHistory& history);
QImage MotorMapPoints(Sim& sim, const RunHistory& history, QSize size);

// The window of "Diagram": the charts of the run so far and the operating
// points, redrawn a few times a second while the history grows.
class ChartsWindow : public QWidget {
 public:
  ChartsWindow(Sim& sim, const RunHistory& history, QWidget* parent = nullptr);
  // Redraws now if the history has changed since the last time.
  void Refresh();

 private:
  Sim& sim_;
  const RunHistory& history_;
  unsigned long shown_ = ~0ul;
  std::vector<QChartView*> views_;
  QLabel* engineMap_ = nullptr;
  QLabel* motorMap_ = nullptr;
  QTimer* timer_ = nullptr;
};

}  // namespace drivanto
