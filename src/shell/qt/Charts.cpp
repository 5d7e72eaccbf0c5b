#include "shell/qt/Charts.h"

#include <QApplication>
#include <QAreaSeries>
#include <QBuffer>
#include <QChart>
#include <QChartView>
#include <QFontMetricsF>
#include <QGraphicsLayout>
#include <QGraphicsScene>
#include <QGridLayout>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPainter>
#include <QRegularExpression>
#include <QSvgGenerator>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <iterator>
#include <memory>

#include "base/Errors.h"
#include "base/Files.h"
#include "data/Tables.h"
#include "display/Bmp.h"
#include "model/Sim.h"

namespace drivanto {

namespace {

// A text in the window's Swedish and in English.
struct Text {
  const char* sv;
  const char* en;
};

struct AxisPlan {
  Text title;  // names the unit
  Qt::Alignment side;
};

struct Line {
  Quantity quantity;
  Text name;
  int axis;  // in ChartPlan::axes; kBand: a band over the plot's height while the value is 1
};
constexpr int kBand = -1;

struct ChartPlan {
  ChartKind kind;
  const char* id;
  Text title;
  std::vector<AxisPlan> axes;
  std::vector<Line> lines;
};

const Text kTime = {"Tid (s)", "Time (s)"};
const Text kNotInInput = {" (saknas i indata)", " (not in the input)"};

const std::vector<ChartPlan>& Plans() {
  static const std::vector<ChartPlan> plans = {
      {ChartKind::Speed,
       "speed",
       {"Hastighet", "Speed"},
       {{{"Hastighet (km/h)", "Speed (km/h)"}, Qt::AlignLeft}},
       {{Quantity::Speed, {"Hastighet", "Speed"}, 0},
        {Quantity::Requested, {"Begärd hastighet", "Requested speed"}, 0},
        {Quantity::CycleSpeed, {"Körcykelns hastighet", "Drive cycle speed"}, 0}}},
      {ChartKind::Battery,
       "battery",
       {"Batteri", "Battery"},
       {{{"Kapacitet (%)", "Used capacity (%)"}, Qt::AlignLeft},
        {{"Spänning (V)", "Voltage (V)"}, Qt::AlignRight},
        {{"Ström (A)", "Current (A)"}, Qt::AlignRight}},
       {{Quantity::UsedCapacity, {"Förbrukad kapacitet", "Used capacity"}, 0},
        {Quantity::Voltage, {"Batterispänning", "Battery voltage"}, 1},
        {Quantity::Current, {"Batteriström", "Battery current"}, 2}}},
      {ChartKind::Charging,
       "charging",
       {"Laddning och motor", "Charging and engine"},
       {{{"Ström (A)", "Current (A)"}, Qt::AlignLeft},
        {{"Effekt (kW)", "Power (kW)"}, Qt::AlignRight}},
       {{Quantity::ChargeCurrent, {"Laddström", "Charging current"}, 0},
        {Quantity::EnginePower, {"Motoreffekt", "Engine power"}, 1},
        {Quantity::Charging, {"Laddning på", "Charging on"}, kBand}}},
      {ChartKind::Emissions,
       "emissions",
       {"Bränsle och utsläpp", "Fuel and emissions"},
       {{{"Bränsle (l)", "Fuel (l)"}, Qt::AlignLeft},
        {{"Utsläpp (g)", "Emissions (g)"}, Qt::AlignRight}},
       {{Quantity::Fuel, {"Bränsle", "Fuel used"}, 0},
        {Quantity::CO, {"CO", "CO"}, 1},
        {Quantity::NOx, {"NOx", "NOx"}, 1},
        {Quantity::HC, {"HC", "HC"}, 1}}},
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

// The lines' colours in the order of a chart's lines, told apart also by
// readers with red-green colour blindness; the band's translucent.
const QColor kColours[] = {QColor(0, 114, 178), QColor(213, 94, 0), QColor(0, 158, 115),
                           QColor(204, 121, 167), QColor(86, 180, 233)};
const QColor kBandColour(230, 159, 0, 70);

constexpr std::size_t kTimeIndex = static_cast<std::size_t>(Quantity::Time);

// The stretches of a quantity to draw as one line each: a new one where the
// time goes back or the value is missing.
std::vector<std::vector<QPointF>> Pieces(const std::vector<Sample>& samples, Quantity quantity) {
  const std::size_t q = static_cast<std::size_t>(quantity);
  std::vector<std::vector<QPointF>> pieces;
  std::vector<QPointF> piece;
  double last = -INFINITY;
  for (const Sample& s : samples) {
    const double t = s[kTimeIndex], y = s[q];
    if (!std::isfinite(t)) continue;
    const bool back = t < last;
    last = t;
    if ((back || !std::isfinite(y)) && !piece.empty()) {
      pieces.push_back(std::move(piece));
      piece.clear();
    }
    if (std::isfinite(y)) piece.emplace_back(t, y);
  }
  if (!piece.empty()) pieces.push_back(std::move(piece));
  return pieces;
}

// An axis over lo..hi (0..1 where there is nothing) in steps of 1, 2 or 5
// times a power of ten, at most `intervals` of them, the numbers with as
// many decimals as the step needs. `room`: a little space beyond the values
// (but not below a 0 at the bottom).
void NiceAxis(QValueAxis* axis, double lo, double hi, int intervals, bool room) {
  if (!(lo <= hi)) {
    lo = 0;
    hi = 1;
    room = false;
  }
  const double size = std::max(std::fabs(lo), std::fabs(hi));
  if (hi - lo <= size * 1e-9) {
    // A level line: a range around it.
    const double half = size > 0 ? size * 0.05 : 0.5;
    lo = lo == 0 ? 0 : lo - half;
    hi += lo == 0 ? 2 * half : half;
  } else if (room) {
    const double pad = (hi - lo) * 0.03;
    hi += pad;
    if (lo != 0) lo = lo > 0 && lo - pad < 0 ? 0 : lo - pad;
  }
  if (!std::isfinite(hi - lo)) {
    // Values at the ends of what a double holds: the toolkit's own ticks.
    axis->setRange(lo, hi);
    axis->setLabelFormat("%.3g");
    return;
  }
  double power = std::pow(10.0, std::floor(std::log10((hi - lo) / intervals)));
  double step = power, first = lo, last = hi;
  for (bool found = false; !found; power *= 10) {
    for (const double m : {1.0, 2.0, 5.0}) {
      step = m * power;
      first = std::floor(lo / step + 1e-9) * step + 0.0;
      last = std::ceil(hi / step - 1e-9) * step + 0.0;
      if (std::lround((last - first) / step) <= intervals) {
        found = true;
        break;
      }
    }
  }
  const int decimals = std::max(0, -static_cast<int>(std::floor(std::log10(step) + 1e-9)));
  // The toolkit steps from the anchor by adding the step up to the end: the
  // end lies a hair beyond the last tick, lest rounding lose that tick.
  axis->setRange(first, last + step * 1e-6);
  axis->setTickType(QValueAxis::TicksDynamic);
  axis->setTickAnchor(first);
  axis->setTickInterval(step);
  axis->setMinorTickCount(0);
  // Steps finer than a millionth or coarser than a billion in powers of ten.
  const bool wide = decimals > 6 || step >= 1e9;
  axis->setLabelFormat(wide ? QString("%.3g") : QString("%.%1f").arg(decimals));
}

// The times while a value is 1, as stretches [from, to], those closer than
// `gap` joined.
std::vector<std::pair<double, double>> OnStretches(const std::vector<std::vector<QPointF>>& pieces,
                                                   double gap) {
  std::vector<std::pair<double, double>> on;
  for (const std::vector<QPointF>& piece : pieces) {
    for (std::size_t i = 0; i < piece.size();) {
      if (!(piece[i].y() > 0.5)) {
        ++i;
        continue;
      }
      std::size_t j = i;
      while (j < piece.size() && piece[j].y() > 0.5) ++j;
      // On until the next step that is off.
      on.emplace_back(piece[i].x(), piece[j < piece.size() ? j : j - 1].x());
      i = j;
    }
  }
  std::sort(on.begin(), on.end());
  std::vector<std::pair<double, double>> joined;
  for (const auto& s : on) {
    if (!joined.empty() && s.first <= joined.back().second + gap) {
      joined.back().second = std::max(joined.back().second, s.second);
    } else {
      joined.push_back(s);
    }
  }
  return joined;
}

QPen LinePen(QPen pen, QColor colour, bool picture) {
  pen.setColor(colour);
  if (picture) {
    pen.setWidthF(1.25);
    pen.setJoinStyle(Qt::RoundJoin);
    pen.setCapStyle(Qt::RoundCap);
    // Qt Charts draws a solid line segment by segment (in an SVG one element
    // each); a pattern of one dash longer than any line makes it draw the
    // line as one path, which looks the same.
    pen.setDashPattern({1e6, 1e-3});
  }
  return pen;
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

ChartStyle WindowChartStyle() {
  ChartStyle style;
  style.language = ChartLanguage::Swedish;
  style.numbers = QLocale();
  style.columns = 2000;
  style.picture = false;
  return style;
}

ChartStyle PictureChartStyle(ChartLanguage language, int width) {
  ChartStyle style;
  style.language = language;
  style.numbers = language == ChartLanguage::Swedish
                      ? QLocale(QLocale::Swedish, QLocale::Sweden)
                      : QLocale(QLocale::English, QLocale::UnitedStates);
  style.columns = std::max(width, 1);
  style.picture = true;
  return style;
}

std::vector<QPointF> ReduceToColumns(const std::vector<QPointF>& points, double t0, double t1,
                                     int columns) {
  if (columns <= 0 || points.size() <= 4 * static_cast<std::size_t>(columns) || !(t1 > t0)) {
    return points;
  }
  const double perColumn = columns / (t1 - t0);
  auto column = [&](double t) {
    return static_cast<long>(std::clamp(std::floor((t - t0) * perColumn), 0.0, columns - 1.0));
  };
  std::vector<QPointF> kept;
  for (std::size_t i = 0; i < points.size();) {
    const long c = column(points[i].x());
    std::size_t end = i, low = i, high = i;
    for (; end < points.size() && column(points[end].x()) == c; ++end) {
      if (points[end].y() < points[low].y()) low = end;
      if (points[end].y() > points[high].y()) high = end;
    }
    std::size_t take[] = {i, low, high, end - 1};
    std::sort(std::begin(take), std::end(take));
    for (std::size_t k = 0; k < 4; ++k) {
      if (k == 0 || take[k] != take[k - 1]) kept.push_back(points[take[k]]);
    }
    i = end;
  }
  // Of a level stretch only its ends.
  std::vector<QPointF> out;
  out.reserve(kept.size());
  for (std::size_t k = 0; k < kept.size(); ++k) {
    const bool inside = k > 0 && k + 1 < kept.size() && kept[k - 1].y() == kept[k].y() &&
                        kept[k + 1].y() == kept[k].y();
    if (!inside) out.push_back(kept[k]);
  }
  return out;
}

QChart* MakeChart(ChartKind kind, const RunHistory& history, const ChartStyle& style) {
  const ChartPlan& plan = PlanOf(kind);
  const bool english = style.language == ChartLanguage::English;
  auto say = [english](const Text& text) { return U(english ? text.en : text.sv); };
  auto* chart = new QChart();
  chart->setAnimationOptions(QChart::NoAnimation);
  chart->legend()->setAlignment(Qt::AlignBottom);
  QLocale numbers = style.numbers;
  numbers.setNumberOptions(QLocale::OmitGroupSeparator);
  chart->setLocale(numbers);
  chart->setLocalizeNumbers(true);
  if (style.picture) {
    chart->setBackgroundRoundness(0);
    chart->setMargins(QMargins(4, 2, 4, 0));
    chart->layout()->setContentsMargins(0, 0, 0, 0);
    chart->legend()->setMarkerShape(QLegend::MarkerShapeFromSeries);
  }
  const std::vector<Sample>& samples = history.samples();
  double t0 = INFINITY, t1 = -INFINITY;
  for (const Sample& s : samples) {
    const double t = s[kTimeIndex];
    if (!std::isfinite(t)) continue;
    t0 = std::min(t0, t);
    t1 = std::max(t1, t);
  }
  // The lines the history holds, and the range of each axis's values.
  struct Drawn {
    const Line* line;
    std::vector<std::vector<QPointF>> pieces;
  };
  std::vector<Drawn> drawn;
  const std::size_t axisCount = plan.axes.size();
  std::vector<double> lo(axisCount, INFINITY), hi(axisCount, -INFINITY);
  for (const Line& line : plan.lines) {
    std::vector<std::vector<QPointF>> pieces = Pieces(samples, line.quantity);
    if (pieces.empty()) continue;
    if (line.axis != kBand) {
      const std::size_t a = static_cast<std::size_t>(line.axis);
      for (const auto& piece : pieces) {
        for (const QPointF& p : piece) {
          lo[a] = std::min(lo[a], p.y());
          hi[a] = std::max(hi[a], p.y());
        }
      }
    }
    drawn.push_back({&line, std::move(pieces)});
  }
  chart->setTitle(say(plan.title) + (drawn.empty() && !samples.empty() ? say(kNotInInput) : ""));
  auto* time = new QValueAxis();
  time->setTitleText(say(kTime));
  chart->addAxis(time, Qt::AlignBottom);
  NiceAxis(time, t0, t1, 8, false);
  // The axes that carry a line; without any, the first, for the scale.
  std::vector<bool> used(axisCount, false);
  for (const Drawn& d : drawn) {
    if (d.line->axis != kBand) used[static_cast<std::size_t>(d.line->axis)] = true;
  }
  if (std::none_of(used.begin(), used.end(), [](bool u) { return u; })) used[0] = true;
  std::vector<QValueAxis*> axes(axisCount, nullptr);
  for (std::size_t a = 0; a < axisCount; ++a) {
    if (!used[a]) continue;
    axes[a] = new QValueAxis();
    axes[a]->setTitleText(say(plan.axes[a].title));
    chart->addAxis(axes[a], plan.axes[a].side);
    NiceAxis(axes[a], lo[a], hi[a], 5, true);
  }
  QValueAxis* firstAxis = nullptr;
  for (QValueAxis* a : axes) firstAxis = firstAxis ? firstAxis : a;
  const bool haveTime = t0 <= t1;
  std::size_t colour = 0;
  for (const Drawn& d : drawn) {
    if (d.line->axis == kBand) continue;
    QValueAxis* axis = axes[static_cast<std::size_t>(d.line->axis)];
    const QColor c = kColours[colour++ % std::size(kColours)];
    bool first = true;
    for (const std::vector<QPointF>& piece : d.pieces) {
      auto* series = new QLineSeries();
      series->setName(say(d.line->name));
      const std::vector<QPointF> points =
          haveTime ? ReduceToColumns(piece, t0, t1, style.columns) : piece;
      series->replace(QList<QPointF>(points.begin(), points.end()));
      series->setPointsVisible(points.size() == 1);  // a line of one point: a dot
      chart->addSeries(series);
      series->attachAxis(time);
      series->attachAxis(axis);
      series->setPen(LinePen(series->pen(), c, style.picture));
      // A line started anew is named once.
      if (!first) {
        for (QLegendMarker* m : chart->legend()->markers(series)) m->setVisible(false);
      }
      first = false;
    }
  }
  for (const Drawn& d : drawn) {
    if (d.line->axis != kBand || !firstAxis) continue;
    const double gap = style.columns > 0 && haveTime ? (t1 - t0) / style.columns : 0;
    const auto on = OnStretches(d.pieces, gap);
    if (on.empty()) continue;  // nothing to draw
    const double bottom = firstAxis->min(), top = firstAxis->max();
    auto* edge = new QLineSeries();
    for (const auto& [from, to] : on) {
      edge->append(from, bottom);
      edge->append(from, top);
      edge->append(to, top);
      edge->append(to, bottom);
    }
    auto* band = new QAreaSeries(edge);
    band->setName(say(d.line->name));
    chart->addSeries(band);
    edge->setParent(band);
    band->attachAxis(time);
    band->attachAxis(firstAxis);
    band->setPen(Qt::NoPen);
    band->setBrush(kBandColour);
    // The legend's marker takes the colours it had when the band was added.
    for (QLegendMarker* m : chart->legend()->markers(band)) {
      m->setShape(QLegend::MarkerShapeRectangle);
      m->setBrush(kBandColour);
      m->setPen(Qt::NoPen);
    }
  }
  return chart;
}

namespace {

void PaintCharts(QPainter& painter, const std::vector<ChartKind>& kinds, const RunHistory& history,
                 QSize size, const ChartStyle& style) {
  const int n = static_cast<int>(kinds.size());
  std::vector<std::unique_ptr<QGraphicsScene>> scenes;
  std::vector<QChart*> charts;
  std::vector<QRectF> areas;
  for (int i = 0; i < n; ++i) {
    const int top = size.height() * i / n, bottom = size.height() * (i + 1) / n;
    const QRectF area(0, top, size.width(), bottom - top);
    auto scene = std::make_unique<QGraphicsScene>();
    QChart* chart = MakeChart(kinds[static_cast<std::size_t>(i)], history, style);
    scene->addItem(chart);  // the scene owns the chart
    chart->setGeometry(QRectF(QPointF(0, 0), area.size()));
    scene->setSceneRect(QRectF(QPointF(0, 0), area.size()));
    chart->layout()->activate();
    // An axis title longer than the plot is high gets a smaller font, down
    // to 6 points, rather than being cut short.
    for (int pass = 0; pass < 8; ++pass) {
      bool smaller = false;
      for (QAbstractAxis* axis : chart->axes(Qt::Vertical)) {
        QFont font = axis->titleFont();
        const double needed = QFontMetricsF(font).horizontalAdvance(axis->titleText()) + 4;
        if (needed > chart->plotArea().height() && font.pointSizeF() > 6) {
          font.setPointSizeF(std::max(6.0, font.pointSizeF() * 0.9));
          axis->setTitleFont(font);
          smaller = true;
        }
      }
      if (!smaller) break;
      chart->layout()->invalidate();
      chart->layout()->activate();
    }
    scenes.push_back(std::move(scene));
    charts.push_back(chart);
    areas.push_back(area);
  }
  // One above the other, the plots share their left and right edges, so
  // their times line up.
  if (style.picture && n > 1) {
    double left = 0, right = size.width();
    for (QChart* chart : charts) {
      left = std::max(left, chart->plotArea().left());
      right = std::min(right, chart->plotArea().right());
    }
    if (right - left > size.width() / 4.0) {
      for (QChart* chart : charts) {
        const QRectF plot = chart->plotArea();
        chart->setPlotArea(QRectF(left, plot.top(), right - left, plot.height()));
        chart->layout()->invalidate();
        chart->layout()->activate();
      }
    }
  }
  for (int i = 0; i < n; ++i) {
    QGraphicsScene& scene = *scenes[static_cast<std::size_t>(i)];
    scene.render(&painter, areas[static_cast<std::size_t>(i)], scene.sceneRect());
  }
}

}  // namespace

QImage RenderCharts(const std::vector<ChartKind>& kinds, const RunHistory& history, QSize size,
                    const ChartStyle& style) {
  QImage image(size, QImage::Format_ARGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  PaintCharts(painter, kinds, history, size, style);
  return image;
}

QByteArray ChartsSvg(const std::vector<ChartKind>& kinds, const RunHistory& history, QSize size,
                     const ChartStyle& style, const QString& title) {
  QBuffer buffer;
  buffer.open(QIODevice::WriteOnly);
  QSvgGenerator svg;
  svg.setOutputDevice(&buffer);
  svg.setSize(size);
  svg.setViewBox(QRect(QPoint(0, 0), size));
  svg.setTitle(title);
  QPainter painter(&svg);
  PaintCharts(painter, kinds, history, size, style);
  painter.end();
  // The generator opens a group at every change of the painter's state, also
  // where nothing is drawn: some 1400 empty groups, a third of the file.
  static const QRegularExpression empty(R"(<g\b[^<>]*>\s*</g>\s*)");
  QString text = QString::fromUtf8(buffer.data());
  for (qsizetype before = -1; before != text.size();) {
    before = text.size();
    text.remove(empty);
  }
  return text.toUtf8();
}

void WriteChartsPicture(const std::vector<ChartKind>& kinds, const RunHistory& history, QSize size,
                        const ChartStyle& style, const std::string& file, const QString& title) {
  const QString name = QString::fromStdString(file);
  QByteArray bytes;
  if (name.endsWith(".svg", Qt::CaseInsensitive)) {
    bytes = ChartsSvg(kinds, history, size, style, title);
  } else {
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!RenderCharts(kinds, history, size, style).save(&buffer, "PNG")) {
      throw IoError(file, 0, "the picture cannot be made");
    }
  }
  WriteFileAtomic(file,
                  std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
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
    auto* view = new QChartView(MakeChart(kind, history_, WindowChartStyle()));
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
    views_[i]->setChart(MakeChart(kind, history_, WindowChartStyle()));
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
