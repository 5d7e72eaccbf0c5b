#pragma once
// Charts of a run's course (Qt Charts): speed, battery, charging and engine,
// fuel and emissions, all against driven time, with Swedish titles and axis
// labels; the window of the menu "Diagram" that shows them while the run goes
// on, with the operating points of the engine and the motor on their maps;
// and the same charts rendered to PNG or SVG without a window.

#include <QImage>
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

// A new chart of the history.
QChart* MakeChart(ChartKind kind, const RunHistory& history);

// The charts one above the other in an image of the given size (offscreen).
QImage RenderCharts(const std::vector<ChartKind>& kinds, const RunHistory& history, QSize size);
// The same as SVG; throws IoError when the file cannot be written.
void WriteChartsSvg(const std::vector<ChartKind>& kinds, const RunHistory& history, QSize size,
                    const std::string& file, const QString& title);

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
