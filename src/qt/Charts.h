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
#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>
#include <string>
#include <vector>

#include "run/History.h"

class QChart;
class QChartView;
class QGridLayout;
class QLabel;
class QTabWidget;
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
// `handed` (when given) counts the points handed to the toolkit.
QChart* MakeChart(ChartKind kind, const RunHistory& history, const ChartStyle& style,
                  std::size_t* handed = nullptr);
// The same chart's lines and axes anew in place, for a chart made by
// MakeChart of the same kind and style; false (and nothing changed) when the
// history now asks for other lines (one more piece, a line that appeared):
// then the chart is to be made anew.
bool UpdateChart(QChart* chart, ChartKind kind, const RunHistory& history, const ChartStyle& style,
                 std::size_t* handed = nullptr);

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
// picture (its origin, 0 rpm and 0 Nm, at pixel 38,184; 20 rpm a pixel to
// the right, the map's torque scale over 200 pixels upward), and the motor's
// over its efficiency tables as a coloured map (driving above 0 Nm, braking
// below), each in an image of the given size with its axes, numbers and
// units. `numbers`: the decimal sign of the axes' numbers.
QImage EngineMapPoints(const Sim& sim, const QImage& mapPicture, const RunHistory& history,
                       QSize size, const QLocale& numbers = QLocale());
QImage MotorMapPoints(Sim& sim, const RunHistory& history, QSize size,
                      const QLocale& numbers = QLocale());

// Where a window of at most `wanted` size goes beside the main window's
// frame `main` within the screen's `available` area: on the side with the
// most room (right, left, below, above) when that room is at least `least`;
// otherwise as large as the screen allows, in the corner where it covers the
// least of the main window.
QRect PlaceBeside(const QRect& available, const QRect& main, QSize wanted, QSize least);

// The window of "Diagram": the charts of the run so far and the operating
// points, redrawn a few times a second while the history grows and the
// window is shown. A redraw costs about the same early in a run and late:
// the lines are reduced to what the plots' widths can show and taken into
// the charts in place; only the page in view is drawn.
class ChartsWindow : public QWidget {
 public:
  ChartsWindow(Sim& sim, const RunHistory& history, QWidget* parent = nullptr);
  // Redraws now if the history or the window's size has changed since the
  // last time (nothing while the window is not shown).
  void Refresh();
  // Places and sizes the window beside its main window on the main window's
  // screen.
  void PlaceBesideMain();

  // The work the redraws did.
  struct Work {
    unsigned long redraws = 0;     // redraws that drew something
    unsigned long chartsMade = 0;  // charts made anew (not taken in place)
    std::size_t points = 0;        // points handed to the toolkit's series
    unsigned long maps = 0;        // operating-point maps drawn
  };
  const Work& work() const { return work_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  // Two charts (and maps) side by side in a window this wide, or one.
  void ArrangeCharts(int width);
  void RefreshCharts();
  void RefreshMaps();

  Sim& sim_;
  const RunHistory& history_;
  unsigned long chartsShown_ = ~0ul;
  unsigned long mapsShown_ = ~0ul;
  std::vector<int> columns_;  // of each chart when last drawn
  QSize mapsSize_;
  std::string mapFile_;
  QImage mapPicture_;
  std::vector<QChartView*> views_;
  QTabWidget* tabs_ = nullptr;
  QGridLayout* grid_ = nullptr;
  int gridColumns_ = 0;
  QLabel* engineMap_ = nullptr;
  QLabel* motorMap_ = nullptr;
  QTimer* timer_ = nullptr;
  Work work_;
};

}  // namespace drivanto
