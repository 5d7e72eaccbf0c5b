#include "shell/qt/Charts.h"

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QGraphicsLayout>
#include <QGraphicsScene>
#include <QGridLayout>
#include <QLabel>
#include <QLegend>
#include <QLineSeries>
#include <QPainter>
#include <QSvgGenerator>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>
#include <cmath>

#include "base/Errors.h"
#include "base/Files.h"
#include "data/Tables.h"
#include "display/Bmp.h"
#include "model/Sim.h"

namespace drivanto {

namespace {

struct Line {
  Quantity quantity;
  const char* name;
  bool rightAxis;
};

struct ChartPlan {
  ChartKind kind;
  const char* id;
  const char* title;
  const char* leftLabel;
  const char* rightLabel;  // nullptr: one axis
  std::vector<Line> lines;
};

const std::vector<ChartPlan>& Plans() {
  static const std::vector<ChartPlan> plans = {
      {ChartKind::Speed,
       "speed",
       "Hastighet",
       "Hastighet (km/h)",
       nullptr,
       {{Quantity::Speed, "Hastighet", false},
        {Quantity::Requested, "Begärd hastighet", false},
        {Quantity::CycleSpeed, "Körcykelns hastighet", false}}},
      {ChartKind::Battery,
       "battery",
       "Batteri",
       "Kapacitet (%)",
       "Spänning (V), ström (A)",
       {{Quantity::UsedCapacity, "Förbrukad kapacitet", false},
        {Quantity::Voltage, "Batterispänning", true},
        {Quantity::Current, "Batteriström", true}}},
      {ChartKind::Charging,
       "charging",
       "Laddning och motor",
       "Laddning (1 = på)",
       "Ström (A), effekt (kW)",
       {{Quantity::Charging, "Laddning på", false},
        {Quantity::ChargeCurrent, "Laddström", true},
        {Quantity::EnginePower, "Motoreffekt", true}}},
      {ChartKind::Emissions,
       "emissions",
       "Bränsle och utsläpp",
       "Bränsle (l)",
       "Utsläpp (g)",
       {{Quantity::Fuel, "Bränsle", false},
        {Quantity::CO, "CO", true},
        {Quantity::NOx, "NOx", true},
        {Quantity::HC, "HC", true}}},
  };
  return plans;
}

const ChartPlan& PlanOf(ChartKind kind) {
  for (const ChartPlan& p : Plans()) {
    if (p.kind == kind) return p;
  }
  return Plans().front();
}

QString U(const char* text) { return QString::fromUtf8(text); }

// The range of the values (0..1 where there are none), with a little room.
void Fit(QValueAxis* axis, double lo, double hi) {
  if (!(lo <= hi)) lo = 0, hi = 1;
  if (hi - lo < 1e-9) hi = lo + 1;
  const double pad = (hi - lo) * 0.05;
  axis->setRange(lo - (lo < 0 ? pad : 0), hi + pad);
  axis->applyNiceNumbers();
}

}  // namespace

std::vector<ChartKind> AllChartKinds() {
  return {ChartKind::Speed, ChartKind::Battery, ChartKind::Charging, ChartKind::Emissions};
}

const char* ChartName(ChartKind kind) { return PlanOf(kind).id; }

bool ChartKindByName(const std::string& name, ChartKind* kind) {
  for (const ChartPlan& p : Plans()) {
    if (name == p.id) {
      *kind = p.kind;
      return true;
    }
  }
  return false;
}

QChart* MakeChart(ChartKind kind, const RunHistory& history) {
  const ChartPlan& plan = PlanOf(kind);
  auto* chart = new QChart();
  chart->setTitle(U(plan.title));
  chart->legend()->setAlignment(Qt::AlignBottom);
  chart->setAnimationOptions(QChart::NoAnimation);
  auto* time = new QValueAxis();
  time->setTitleText(U("Tid (s)"));
  time->setLabelFormat("%.0f");
  chart->addAxis(time, Qt::AlignBottom);
  auto* left = new QValueAxis();
  left->setTitleText(U(plan.leftLabel));
  chart->addAxis(left, Qt::AlignLeft);
  QValueAxis* right = nullptr;
  if (plan.rightLabel) {
    right = new QValueAxis();
    right->setTitleText(U(plan.rightLabel));
    chart->addAxis(right, Qt::AlignRight);
  }
  double t0 = INFINITY, t1 = -INFINITY, l0 = INFINITY, l1 = -INFINITY, r0 = INFINITY,
         r1 = -INFINITY;
  const std::size_t timeIndex = static_cast<std::size_t>(Quantity::Time);
  for (const Line& line : plan.lines) {
    auto* series = new QLineSeries();
    series->setName(U(line.name));
    QList<QPointF> points;
    points.reserve(static_cast<qsizetype>(history.samples().size()));
    const std::size_t q = static_cast<std::size_t>(line.quantity);
    // A few thousand points a line are as many as a chart can show.
    const std::size_t every = history.samples().size() / 4000 + 1;
    std::size_t k = 0;
    for (const Sample& s : history.samples()) {
      if (k++ % every != 0 && k != history.samples().size()) continue;
      const double t = s[timeIndex], y = s[q];
      if (std::isnan(t) || std::isnan(y) || std::isinf(y)) continue;
      points.append(QPointF(t, y));
      t0 = std::min(t0, t);
      t1 = std::max(t1, t);
      (line.rightAxis ? r0 : l0) = std::min(line.rightAxis ? r0 : l0, y);
      (line.rightAxis ? r1 : l1) = std::max(line.rightAxis ? r1 : l1, y);
    }
    series->replace(points);
    chart->addSeries(series);
    series->attachAxis(time);
    series->attachAxis(line.rightAxis && right ? right : left);
  }
  Fit(time, std::isinf(t0) ? 0 : t0, std::isinf(t1) ? 1 : t1);
  Fit(left, std::isinf(l0) ? 0 : l0, std::isinf(l1) ? 1 : l1);
  if (right) Fit(right, std::isinf(r0) ? 0 : r0, std::isinf(r1) ? 1 : r1);
  return chart;
}

namespace {

void PaintCharts(QPainter& painter, const std::vector<ChartKind>& kinds, const RunHistory& history,
                 QSize size) {
  const int n = static_cast<int>(kinds.size());
  for (int i = 0; i < n; ++i) {
    const int top = size.height() * i / n, bottom = size.height() * (i + 1) / n;
    const QRectF area(0, top, size.width(), bottom - top);
    QGraphicsScene scene;
    QChart* chart = MakeChart(kinds[static_cast<std::size_t>(i)], history);
    scene.addItem(chart);  // the scene owns the chart
    chart->setGeometry(QRectF(QPointF(0, 0), area.size()));
    scene.setSceneRect(QRectF(QPointF(0, 0), area.size()));
    chart->layout()->activate();
    scene.render(&painter, area, scene.sceneRect());
  }
}

}  // namespace

QImage RenderCharts(const std::vector<ChartKind>& kinds, const RunHistory& history, QSize size) {
  QImage image(size, QImage::Format_ARGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  PaintCharts(painter, kinds, history, size);
  return image;
}

void WriteChartsSvg(const std::vector<ChartKind>& kinds, const RunHistory& history, QSize size,
                    const std::string& file, const QString& title) {
  QSvgGenerator svg;
  svg.setFileName(QString::fromStdString(file));
  svg.setSize(size);
  svg.setViewBox(QRect(QPoint(0, 0), size));
  svg.setTitle(title);
  QPainter painter;
  if (!painter.begin(&svg)) throw IoError(file, 0, "cannot be written");
  PaintCharts(painter, kinds, history, size);
  painter.end();
}

QImage EngineMapPoints(const Sim& sim, const QImage& mapPicture, const RunHistory& history) {
  QImage image = mapPicture.isNull() ? QImage(330, 230, QImage::Format_RGB32)
                                     : mapPicture.convertToFormat(QImage::Format_RGB32);
  if (mapPicture.isNull()) image.fill(Qt::white);
  const double perPixel = sim.s.mussskala / 200;  // Nm a pixel
  QPainter p(&image);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(220, 0, 0));
  const std::size_t n = static_cast<std::size_t>(Quantity::EngineSpeed);
  const std::size_t m = static_cast<std::size_t>(Quantity::EngineTorque);
  for (const Sample& s : history.samples()) {
    if (!(s[n] > 2) || perPixel <= 0) continue;
    // The dashboard's map dot, in the picture's own pixels.
    const double x = s[n] / 20 + 38, y = 184 - s[m] / perPixel;
    p.drawEllipse(QPointF(x, y), 1.5, 1.5);
  }
  return image;
}

QImage MotorMapPoints(Sim& sim, const RunHistory& history, QSize size) {
  QImage image(size, QImage::Format_RGB32);
  image.fill(QColor(200, 200, 200));
  const State& s = sim.s;
  const double maxRpm = s.maxRpm > 0 ? s.maxRpm : 7000;
  const double maxTorque = s.elmMaxTorque > 0 ? s.elmMaxTorque : 200;
  try {
    TableSite site;
    const Table2& table = sim.tables.Get2(site, s.Telm, "1");
    for (int y = 0; y < size.height(); ++y) {
      const double torque = maxTorque * (size.height() - 1 - y) / (size.height() - 1);
      for (int x = 0; x < size.width(); ++x) {
        const double rpm = maxRpm * x / (size.width() - 1);
        double eff = 0;
        if (!Lookup2(table, 'i', 'i', torque, rpm, &eff) || !(eff > 0)) continue;
        // Blue at 50 % and below, through green to red at 100 %.
        const double f = std::clamp((eff - 50) / 50, 0.0, 1.0);
        image.setPixel(x, y, QColor::fromHsvF(0.66 * (1 - f), 0.8, 0.95).rgb());
      }
    }
  } catch (const std::exception&) {
    // No table to show: the points alone.
  }
  QPainter p(&image);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::black);
  const std::size_t n = static_cast<std::size_t>(Quantity::MotorSpeed);
  const std::size_t m = static_cast<std::size_t>(Quantity::MotorTorque);
  for (const Sample& x : history.samples()) {
    if (std::isnan(x[n]) || std::isnan(x[m])) continue;
    const double px = x[n] / maxRpm * (size.width() - 1);
    const double py = (size.height() - 1) - std::fabs(x[m]) / maxTorque * (size.height() - 1);
    p.drawEllipse(QPointF(px, py), 1.5, 1.5);
  }
  return image;
}

ChartsWindow::ChartsWindow(Sim& sim, const RunHistory& history, QWidget* parent)
    : QWidget(parent, Qt::Window), sim_(sim), history_(history) {
  setWindowTitle(U("Diagram"));
  setObjectName("chartsWindow");
  // The toolkit's own font, not the dashboard's pixel font.
  setFont(QApplication::font());
  resize(1200, 860);
  auto* tabs = new QTabWidget(this);
  auto* course = new QWidget();
  auto* courseLayout = new QGridLayout(course);
  int place = 0;
  for (ChartKind kind : AllChartKinds()) {
    auto* view = new QChartView(MakeChart(kind, history_));
    view->setObjectName(QString("chart_") + ChartName(kind));
    view->setRenderHint(QPainter::Antialiasing);
    view->setMinimumSize(400, 300);
    courseLayout->addWidget(view, place / 2, place % 2);
    ++place;
    views_.push_back(view);
  }
  tabs->addTab(course, U("Förlopp"));
  auto* points = new QWidget();
  auto* pointsLayout = new QVBoxLayout(points);
  auto* engineTitle = new QLabel(U("Förbränningsmotorns arbetspunkter i verkningsgradsdiagrammet"));
  engineMap_ = new QLabel();
  engineMap_->setObjectName("engineMap");
  auto* motorTitle =
      new QLabel(U("Elmotorns arbetspunkter över dess verkningsgrad (varvtal åt höger, moment "
                   "uppåt; blått 50 %, rött 100 %)"));
  motorMap_ = new QLabel();
  motorMap_->setObjectName("motorMap");
  for (QWidget* w : {static_cast<QWidget*>(engineTitle), static_cast<QWidget*>(engineMap_),
                     static_cast<QWidget*>(motorTitle), static_cast<QWidget*>(motorMap_)}) {
    pointsLayout->addWidget(w);
  }
  pointsLayout->addStretch();
  tabs->addTab(points, U("Arbetspunkter"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs);
  // A few times a second: the 40 ms tick keeps its pace.
  timer_ = new QTimer(this);
  timer_->setInterval(400);
  connect(timer_, &QTimer::timeout, this, [this] { Refresh(); });
  timer_->start();
  Refresh();
}

void ChartsWindow::Refresh() {
  if (history_.version() == shown_) return;
  shown_ = history_.version();
  std::size_t i = 0;
  for (ChartKind kind : AllChartKinds()) {
    QChart* old = views_[i]->chart();
    views_[i]->setChart(MakeChart(kind, history_));
    delete old;
    ++i;
  }
  QImage picture;
  try {
    const Picture map = LoadBmp(sim_.s.Mussfil);
    picture = QImage(map.width, map.height, QImage::Format_RGB32);
    for (int y = 0; y < map.height; ++y) {
      for (int x = 0; x < map.width; ++x) {
        const Rgb c = map.At(x, y);
        picture.setPixel(x, y, qRgb(c.r, c.g, c.b));
      }
    }
  } catch (const std::exception&) {
  }
  engineMap_->setPixmap(QPixmap::fromImage(EngineMapPoints(sim_, picture, history_)));
  motorMap_->setPixmap(QPixmap::fromImage(MotorMapPoints(sim_, history_, QSize(450, 200))));
}

}  // namespace drivanto
