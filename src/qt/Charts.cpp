#include "qt/Charts.h"

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
#include <QScreen>
#include <QScrollArea>
#include <QSvgGenerator>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
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

namespace {

// What a chart of the history shows: its lines (reduced to what the style's
// columns can show), the range of each axis and the time.
struct Drawn {
  std::size_t index;  // in the plan's lines
  const Line* line;
  std::vector<std::vector<QPointF>> pieces;
  std::vector<std::pair<double, double>> on;  // a band's stretches
};

struct ChartData {
  const ChartPlan* plan = nullptr;
  QString title;
  std::vector<Drawn> drawn;
  std::vector<double> lo, hi;
  std::vector<bool> used;  // the axes that carry a line
  double t0 = INFINITY, t1 = -INFINITY;
  bool haveTime = false;
};

ChartData Collect(ChartKind kind, const RunHistory& history, const ChartStyle& style) {
  ChartData d;
  d.plan = &PlanOf(kind);
  const bool english = style.language == ChartLanguage::English;
  auto say = [english](const Text& text) { return U(english ? text.en : text.sv); };
  const std::vector<Sample>& samples = history.samples();
  for (const Sample& s : samples) {
    const double t = s[kTimeIndex];
    if (!std::isfinite(t)) continue;
    d.t0 = std::min(d.t0, t);
    d.t1 = std::max(d.t1, t);
  }
  d.haveTime = d.t0 <= d.t1;
  const std::size_t axisCount = d.plan->axes.size();
  d.lo.assign(axisCount, INFINITY);
  d.hi.assign(axisCount, -INFINITY);
  d.used.assign(axisCount, false);
  for (std::size_t index = 0; index < d.plan->lines.size(); ++index) {
    const Line& line = d.plan->lines[index];
    std::vector<std::vector<QPointF>> pieces = Pieces(samples, line.quantity);
    if (pieces.empty()) continue;
    Drawn drawn{index, &line, {}, {}};
    if (line.axis == kBand) {
      const double gap = style.columns > 0 && d.haveTime ? (d.t1 - d.t0) / style.columns : 0;
      drawn.on = OnStretches(pieces, gap);
    } else {
      const std::size_t a = static_cast<std::size_t>(line.axis);
      d.used[a] = true;
      for (auto& piece : pieces) {
        for (const QPointF& p : piece) {
          d.lo[a] = std::min(d.lo[a], p.y());
          d.hi[a] = std::max(d.hi[a], p.y());
        }
        if (d.haveTime) piece = ReduceToColumns(piece, d.t0, d.t1, style.columns);
      }
    }
    drawn.pieces = std::move(pieces);
    d.drawn.push_back(std::move(drawn));
  }
  // Without any line, the first axis, for the scale.
  if (std::none_of(d.used.begin(), d.used.end(), [](bool u) { return u; })) d.used[0] = true;
  d.title =
      say(d.plan->title) + (d.drawn.empty() && !samples.empty() ? say(kNotInInput) : QString());
  return d;
}

// The series a chart of this data has, as text: a chart whose series are
// the same takes new data in place.
QString Signature(const ChartData& d) {
  QString text;
  for (bool u : d.used) text += u ? 'a' : '-';
  for (const Drawn& drawn : d.drawn) {
    text += QString(" %1:%2").arg(drawn.index).arg(
        drawn.line->axis == kBand ? (drawn.on.empty() ? 0 : 1) : drawn.pieces.size());
  }
  return text;
}

const char* const kSignature = "drivantoSeries";
const char* const kAxisIndex = "drivantoAxis";

// The outline of a band: up the plot's height and down again for each
// stretch.
QList<QPointF> BandEdge(const std::vector<std::pair<double, double>>& on, double bottom,
                        double top) {
  QList<QPointF> edge;
  for (const auto& [from, to] : on) {
    edge << QPointF(from, bottom) << QPointF(from, top) << QPointF(to, top) << QPointF(to, bottom);
  }
  return edge;
}

void Hand(QXYSeries* series, const QList<QPointF>& points, std::size_t* handed) {
  series->replace(points);
  if (handed) *handed += static_cast<std::size_t>(points.size());
}

}  // namespace

QChart* MakeChart(ChartKind kind, const RunHistory& history, const ChartStyle& style,
                  std::size_t* handed) {
  const ChartData d = Collect(kind, history, style);
  const ChartPlan& plan = *d.plan;
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
  chart->setTitle(d.title);
  chart->setProperty(kSignature, Signature(d));
  auto* time = new QValueAxis();
  time->setTitleText(say(kTime));
  chart->addAxis(time, Qt::AlignBottom);
  NiceAxis(time, d.t0, d.t1, 8, false);
  const std::size_t axisCount = plan.axes.size();
  std::vector<QValueAxis*> axes(axisCount, nullptr);
  for (std::size_t a = 0; a < axisCount; ++a) {
    if (!d.used[a]) continue;
    axes[a] = new QValueAxis();
    axes[a]->setTitleText(say(plan.axes[a].title));
    axes[a]->setProperty(kAxisIndex, static_cast<int>(a));
    chart->addAxis(axes[a], plan.axes[a].side);
    NiceAxis(axes[a], d.lo[a], d.hi[a], 5, true);
  }
  QValueAxis* firstAxis = nullptr;
  for (QValueAxis* a : axes) firstAxis = firstAxis ? firstAxis : a;
  std::size_t colour = 0;
  for (const Drawn& drawn : d.drawn) {
    if (drawn.line->axis == kBand) continue;
    QValueAxis* axis = axes[static_cast<std::size_t>(drawn.line->axis)];
    const QColor c = kColours[colour++ % std::size(kColours)];
    bool first = true;
    for (const std::vector<QPointF>& piece : drawn.pieces) {
      auto* series = new QLineSeries();
      series->setName(say(drawn.line->name));
      Hand(series, QList<QPointF>(piece.begin(), piece.end()), handed);
      series->setPointsVisible(piece.size() == 1);  // a line of one point: a dot
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
  for (const Drawn& drawn : d.drawn) {
    if (drawn.line->axis != kBand || !firstAxis || drawn.on.empty()) continue;
    auto* edge = new QLineSeries();
    Hand(edge, BandEdge(drawn.on, firstAxis->min(), firstAxis->max()), handed);
    auto* band = new QAreaSeries(edge);
    band->setName(say(drawn.line->name));
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

bool UpdateChart(QChart* chart, ChartKind kind, const RunHistory& history, const ChartStyle& style,
                 std::size_t* handed) {
  const ChartData d = Collect(kind, history, style);
  if (chart->property(kSignature).toString() != Signature(d)) return false;
  chart->setTitle(d.title);
  QValueAxis* firstAxis = nullptr;
  for (QAbstractAxis* a : chart->axes()) {
    auto* axis = qobject_cast<QValueAxis*>(a);
    if (!axis) continue;
    const QVariant index = axis->property(kAxisIndex);
    if (!index.isValid()) {
      NiceAxis(axis, d.t0, d.t1, 8, false);  // the time
      continue;
    }
    const std::size_t i = static_cast<std::size_t>(index.toInt());
    NiceAxis(axis, d.lo[i], d.hi[i], 5, true);
    if (!firstAxis || index.toInt() < firstAxis->property(kAxisIndex).toInt()) firstAxis = axis;
  }
  // The series in the order they were added: the lines' pieces, then bands.
  const QList<QAbstractSeries*> series = chart->series();
  qsizetype next = 0;
  for (const Drawn& drawn : d.drawn) {
    if (drawn.line->axis == kBand) continue;
    for (const std::vector<QPointF>& piece : drawn.pieces) {
      auto* line = qobject_cast<QLineSeries*>(series.value(next++));
      if (!line) return false;
      Hand(line, QList<QPointF>(piece.begin(), piece.end()), handed);
      line->setPointsVisible(piece.size() == 1);
    }
  }
  for (const Drawn& drawn : d.drawn) {
    if (drawn.line->axis != kBand || !firstAxis || drawn.on.empty()) continue;
    auto* band = qobject_cast<QAreaSeries*>(series.value(next++));
    if (!band) return false;
    Hand(band->upperSeries(), BandEdge(drawn.on, firstAxis->min(), firstAxis->max()), handed);
  }
  return true;
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

namespace {

// Where a map's values lie in its image: the plot area and the ranges it
// shows.
struct MapFrame {
  QRectF plot;
  double x0 = 0, x1 = 1, y0 = 0, y1 = 1;
  QPointF At(double x, double y) const {
    return {plot.left() + (x - x0) / (x1 - x0) * plot.width(),
            plot.bottom() - (y - y0) / (y1 - y0) * plot.height()};
  }
};

// Ticks in steps of 1, 2 or 5 times a power of ten, at most `count` steps
// over lo..hi, and the decimals their numbers need.
std::vector<double> MapTicks(double lo, double hi, int count, int* decimals) {
  std::vector<double> ticks;
  *decimals = 0;
  if (!(hi > lo) || !std::isfinite(hi - lo)) return ticks;
  double step = std::pow(10.0, std::floor(std::log10((hi - lo) / count)));
  for (const double m : {1.0, 2.0, 5.0, 10.0}) {
    const double s = m * std::pow(10.0, std::floor(std::log10((hi - lo) / count)));
    if ((hi - lo) / s <= count) {
      step = s;
      break;
    }
  }
  *decimals = std::max(0, -static_cast<int>(std::floor(std::log10(step) + 1e-9)));
  for (double t = std::ceil(lo / step - 1e-9) * step; t <= hi + step * 1e-9; t += step) {
    ticks.push_back(std::fabs(t) < step * 1e-9 ? 0.0 : t);
  }
  return ticks;
}

QString MapNumber(double x, int decimals, const QLocale& numbers) {
  QLocale plain = numbers;
  plain.setNumberOptions(QLocale::OmitGroupSeparator);
  return plain.toString(x, 'f', decimals);
}

// The plot area of an image of `size` with room for the numbers and the
// axis titles to the left and below.
MapFrame LayoutMap(QSize size, const QFont& font, double x0, double x1, double y0, double y1,
                   const QLocale& numbers) {
  const QFontMetricsF fm(font);
  int decimals = 0;
  double widest = 0;
  for (double t : MapTicks(y0, y1, 6, &decimals)) {
    widest = std::max(widest, fm.horizontalAdvance(MapNumber(t, decimals, numbers)));
  }
  const double left = fm.height() + widest + 12, bottom = 2 * fm.height() + 10;
  const double right = fm.horizontalAdvance("00000") / 2 + 4, top = fm.height() / 2 + 4;
  MapFrame f;
  f.plot = QRectF(left, top, std::max(10.0, size.width() - left - right),
                  std::max(10.0, size.height() - top - bottom));
  f.x0 = x0;
  f.x1 = x1 > x0 ? x1 : x0 + 1;
  f.y0 = y0;
  f.y1 = y1 > y0 ? y1 : y0 + 1;
  return f;
}

// The frame, the ticks with their numbers and the axis titles.
void DrawMapAxes(QPainter& p, const MapFrame& f, const QString& xTitle, const QString& yTitle,
                 const QLocale& numbers) {
  const QFontMetricsF fm(p.font());
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(Qt::black, 1));
  p.drawRect(f.plot);
  int decimals = 0;
  for (double t : MapTicks(f.x0, f.x1, std::max(2, static_cast<int>(f.plot.width() / 70)),
                           &decimals)) {
    const QPointF at = f.At(t, f.y0);
    p.drawLine(at, at + QPointF(0, 4));
    const QString text = MapNumber(t, decimals, numbers);
    p.drawText(QRectF(at.x() - 50, at.y() + 5, 100, fm.height()), Qt::AlignHCenter | Qt::AlignTop,
               text);
  }
  for (double t : MapTicks(f.y0, f.y1, std::max(2, static_cast<int>(f.plot.height() / 40)),
                           &decimals)) {
    const QPointF at = f.At(f.x0, t);
    p.drawLine(at, at - QPointF(4, 0));
    const QString text = MapNumber(t, decimals, numbers);
    p.drawText(QRectF(at.x() - 206, at.y() - fm.height() / 2, 200, fm.height()),
               Qt::AlignRight | Qt::AlignVCenter, text);
  }
  p.drawText(QRectF(f.plot.left(), f.plot.bottom() + fm.height() + 8, f.plot.width(), fm.height()),
             Qt::AlignHCenter | Qt::AlignTop, xTitle);
  p.save();
  p.translate(2, f.plot.center().y());
  p.rotate(-90);
  p.drawText(QRectF(-f.plot.height() / 2 - 100, 0, f.plot.height() + 200, fm.height()),
             Qt::AlignHCenter | Qt::AlignTop, yTitle);
  p.restore();
}

// The operating points as dots of the given colour inside the plot, each
// pixel drawn once however many samples fall on it.
void DrawMapPoints(QPainter& p, const MapFrame& f, const std::vector<QPointF>& points,
                   QColor colour) {
  const int w = static_cast<int>(f.plot.width()) + 1, h = static_cast<int>(f.plot.height()) + 1;
  std::vector<bool> done(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), false);
  p.setPen(Qt::NoPen);
  p.setBrush(colour);
  p.setClipRect(f.plot);
  for (const QPointF& value : points) {
    const QPointF at = f.At(value.x(), value.y());
    const int x = static_cast<int>(std::floor(at.x() - f.plot.left()));
    const int y = static_cast<int>(std::floor(at.y() - f.plot.top()));
    if (x < 0 || y < 0 || x >= w || y >= h) continue;
    const std::size_t cell = static_cast<std::size_t>(y) * static_cast<std::size_t>(w) +
                             static_cast<std::size_t>(x);
    if (done[cell]) continue;
    done[cell] = true;
    p.drawEllipse(at, 2.0, 2.0);
  }
  p.setClipping(false);
}

std::vector<QPointF> SamplePoints(const RunHistory& history, Quantity xq, Quantity yq) {
  std::vector<QPointF> points;
  const std::size_t n = static_cast<std::size_t>(xq), m = static_cast<std::size_t>(yq);
  for (const Sample& s : history.samples()) {
    if (std::isfinite(s[n]) && std::isfinite(s[m])) points.emplace_back(s[n], s[m]);
  }
  return points;
}

}  // namespace

QImage EngineMapPoints(const Sim& sim, const QImage& mapPicture, const RunHistory& history,
                       QSize size, const QLocale& numbers) {
  // The picture's plot: right of its origin column and above its origin row.
  constexpr int kOriginX = 38, kOriginY = 184;
  const double perPixel = sim.s.mussskala / 200;  // Nm a pixel
  const bool picture =
      !mapPicture.isNull() && mapPicture.width() > kOriginX + 1 && mapPicture.height() > 1;
  const int rows = picture ? std::min(mapPicture.height(), kOriginY + 1) : 0;
  const double x1 = picture ? (mapPicture.width() - kOriginX) * 20.0
                            : (sim.s.maxRpm > 0 ? sim.s.maxRpm : 7000.0);
  const double y1 = perPixel > 0 ? (picture ? rows * perPixel : sim.s.mussskala) : 100.0;
  QImage image(size, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter p(&image);
  p.setFont(QApplication::font());
  p.setRenderHint(QPainter::Antialiasing);
  const MapFrame f = LayoutMap(size, p.font(), 0, x1, 0, y1, numbers);
  if (picture) {
    const QImage plot = mapPicture.copy(kOriginX, 0, mapPicture.width() - kOriginX, rows);
    p.drawImage(f.plot, plot.convertToFormat(QImage::Format_RGB32));
  }
  DrawMapAxes(p, f, U("Varvtal (rpm)"), U("Moment (Nm)"), numbers);
  if (perPixel > 0) {
    std::vector<QPointF> points;
    for (const QPointF& x : SamplePoints(history, Quantity::EngineSpeed, Quantity::EngineTorque)) {
      if (x.x() > 2) points.push_back(x);  // the engine runs
    }
    DrawMapPoints(p, f, points, QColor(220, 0, 0));
  }
  return image;
}

QImage MotorMapPoints(Sim& sim, const RunHistory& history, QSize size, const QLocale& numbers) {
  const State& s = sim.s;
  const Table2* drive = nullptr;
  const Table2* brake = nullptr;
  try {
    TableSite site;
    drive = &sim.tables->Get2(site, s.Telm, "1");
    TableSite brakeSite;
    brake = &sim.tables->Get2(brakeSite, s.Telm, "2");
  } catch (const std::exception&) {
    // No table to show (or only the driving one): the points alone there.
  }
  const std::vector<QPointF> points =
      SamplePoints(history, Quantity::MotorSpeed, Quantity::MotorTorque);
  // The motor's own speeds: those of its table, else those driven.
  double maxRpm = 0;
  if (drive && drive->found && !drive->rows.keys.empty()) maxRpm = drive->rows.keys.back();
  double maxTorque = s.elmMaxTorque > 0 ? s.elmMaxTorque : 0;
  if (maxTorque <= 0 && drive && drive->found && !drive->keys.empty()) {
    maxTorque = drive->keys.back();
  }
  for (const QPointF& x : points) {
    maxRpm = std::max(maxRpm, x.x());
    maxTorque = std::max(maxTorque, std::fabs(x.y()));
  }
  if (!(maxRpm > 0)) maxRpm = 12000;
  if (!(maxTorque > 0)) maxTorque = 200;
  QImage image(size, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter p(&image);
  p.setFont(QApplication::font());
  const MapFrame f = LayoutMap(size, p.font(), 0, maxRpm, -maxTorque, maxTorque, numbers);
  // The map, one lookup a pixel: the same map is kept while nothing of it
  // changes.
  static struct {
    QString key;
    QImage map;
  } kept;
  // The tables by where they lie and what they hold (a table read anew may
  // lie where the old one did).
  std::uint64_t fingerprint = 14695981039346656037ull;
  auto mix = [&fingerprint](double x) {
    fingerprint = (fingerprint ^ std::bit_cast<std::uint64_t>(x)) * 1099511628211ull;
  };
  for (const Table2* t : {drive, brake}) {
    if (!t || !t->found) continue;
    for (double k : t->keys) mix(k);
    for (double k : t->rows.keys) mix(k);
    for (int c = 1; c <= static_cast<int>(t->keys.size()); ++c) {
      for (std::size_t r = 0; r < t->rows.keys.size(); ++r) mix(t->rows.Value(c, r));
    }
  }
  const QString key = QString("%1|%2|%3|%4x%5|%6|%7|%8")
                          .arg(QString::fromStdString(s.Telm))
                          .arg(maxRpm)
                          .arg(maxTorque)
                          .arg(f.plot.width())
                          .arg(f.plot.height())
                          .arg(reinterpret_cast<quintptr>(drive))
                          .arg(reinterpret_cast<quintptr>(brake))
                          .arg(fingerprint);
  if (kept.key != key) {
    const int w = static_cast<int>(f.plot.width()), h = static_cast<int>(f.plot.height());
    QImage map(std::max(w, 1), std::max(h, 1), QImage::Format_RGB32);
    map.fill(QColor(200, 200, 200));
    for (int y = 0; y < h; ++y) {
      const double torque = maxTorque - 2 * maxTorque * (y + 0.5) / h;
      const Table2* table = torque >= 0 ? drive : brake;
      if (!table) continue;
      for (int x = 0; x < w; ++x) {
        const double rpm = maxRpm * (x + 0.5) / w;
        double eff = 0;
        if (!Lookup2(*table, 'i', 'i', std::fabs(torque), rpm, &eff) || !(eff > 0)) continue;
        // Blue at 50 % and below, through green to red at 100 %.
        const double c = std::clamp((eff - 50) / 50, 0.0, 1.0);
        map.setPixel(x, y, QColor::fromHsvF(0.66 * (1 - c), 0.8, 0.95).rgb());
      }
    }
    kept = {key, map};
  }
  p.drawImage(f.plot.topLeft(), kept.map);
  p.setPen(QPen(QColor(255, 255, 255), 1, Qt::DashLine));
  p.drawLine(f.At(0, 0), f.At(maxRpm, 0));
  p.setRenderHint(QPainter::Antialiasing);
  DrawMapAxes(p, f, U("Varvtal (rpm)"), U("Moment (Nm), bromsande under 0"), numbers);
  DrawMapPoints(p, f, points, Qt::black);
  return image;
}

QRect PlaceBeside(const QRect& available, const QRect& main, QSize wanted, QSize least) {
  const QSize most = wanted.boundedTo(available.size());
  // The free room on each side of the main window, within the screen.
  const QRect room[] = {
      QRect(QPoint(main.right() + 1, available.top()), available.bottomRight()),
      QRect(available.topLeft(), QPoint(main.left() - 1, available.bottom())),
      QRect(QPoint(available.left(), main.bottom() + 1), available.bottomRight()),
      QRect(available.topLeft(), QPoint(available.right(), main.top() - 1)),
  };
  QRect best;
  for (int side = 0; side < 4; ++side) {
    const QRect r = room[side].intersected(available);
    if (r.width() < least.width() || r.height() < least.height()) continue;
    const QSize size = most.boundedTo(r.size());
    if (best.isValid() && size.width() * size.height() <= best.width() * best.height()) continue;
    // Level with the main window where the room allows.
    QPoint at = r.topLeft();
    if (side < 2) {
      at.setX(side == 0 ? r.left() : r.right() - size.width() + 1);
      at.setY(std::clamp(main.top(), r.top(), r.bottom() - size.height() + 1));
    } else {
      at.setX(std::clamp(main.left(), r.left(), r.right() - size.width() + 1));
      at.setY(side == 2 ? r.top() : r.bottom() - size.height() + 1);
    }
    best = QRect(at, size);
  }
  if (best.isValid()) return best;
  // No side has room: the corner that covers the least of the main window.
  const QPoint corners[] = {available.topRight() - QPoint(most.width() - 1, 0),
                            available.topLeft(),
                            available.bottomRight() - QPoint(most.width() - 1, most.height() - 1),
                            available.bottomLeft() - QPoint(0, most.height() - 1)};
  long least_covered = -1;
  for (const QPoint& c : corners) {
    const QRect r(c, most);
    const QRect covered = r.intersected(main);
    const long area = covered.isValid() ? static_cast<long>(covered.width()) * covered.height() : 0;
    if (least_covered < 0 || area < least_covered) {
      least_covered = area;
      best = r;
    }
  }
  return best;
}

ChartsWindow::ChartsWindow(Sim& sim, const RunHistory& history, QWidget* parent)
    : QWidget(parent, Qt::Window), sim_(sim), history_(history) {
  setWindowTitle(U("Diagram"));
  setObjectName("chartsWindow");
  // The toolkit's own font, not the dashboard's pixel font.
  setFont(QApplication::font());
  resize(1200, 860);
  tabs_ = new QTabWidget(this);
  // The charts scroll where the window is too small for them (one above the
  // other beside the dashboard on a small screen).
  auto* course = new QScrollArea();
  course->setObjectName("chartsArea");
  course->setWidgetResizable(true);
  course->setFrameShape(QFrame::NoFrame);
  auto* charts = new QWidget();
  grid_ = new QGridLayout(charts);
  course->setWidget(charts);
  for (ChartKind kind : AllChartKinds()) {
    auto* view = new QChartView(MakeChart(kind, history_, WindowChartStyle()));
    view->setObjectName(QString("chart_") + ChartName(kind));
    view->setRenderHint(QPainter::Antialiasing);
    view->setMinimumSize(220, 160);
    views_.push_back(view);
  }
  columns_.assign(views_.size(), 0);
  tabs_->addTab(course, U("Förlopp"));
  auto* points = new QWidget();
  auto* pointsLayout = new QGridLayout(points);
  auto* engineTitle = new QLabel(U("Förbränningsmotorns arbetspunkter i verkningsgradsdiagrammet"));
  engineTitle->setObjectName("engineMapTitle");
  engineMap_ = new QLabel();
  engineMap_->setObjectName("engineMap");
  auto* motorTitle =
      new QLabel(U("Elmotorns arbetspunkter över dess verkningsgrad (varvtal åt höger, moment "
                   "uppåt; blått 50 %, rött 100 %)"));
  motorTitle->setObjectName("motorMapTitle");
  motorMap_ = new QLabel();
  motorMap_->setObjectName("motorMap");
  for (QLabel* title : {engineTitle, motorTitle}) title->setWordWrap(true);
  for (QLabel* map : {engineMap_, motorMap_}) {
    // The maps are drawn to the room they are given, not the other way round.
    map->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    map->setMinimumSize(220, 160);
  }
  pointsLayout->addWidget(engineTitle, 0, 0);
  pointsLayout->addWidget(engineMap_, 1, 0);
  pointsLayout->addWidget(motorTitle, 0, 1);
  pointsLayout->addWidget(motorMap_, 1, 1);
  pointsLayout->setRowStretch(1, 1);
  tabs_->addTab(points, U("Arbetspunkter"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs_);
  ArrangeCharts(width());
  // A few times a second while shown: the 40 ms tick keeps its pace.
  timer_ = new QTimer(this);
  timer_->setInterval(400);
  connect(timer_, &QTimer::timeout, this, [this] { Refresh(); });
  connect(tabs_, &QTabWidget::currentChanged, this, [this] { Refresh(); });
}

void ChartsWindow::ArrangeCharts(int width) {
  // Two charts a row where they have the room, else one.
  const int columns = width >= 760 ? 2 : 1;
  if (columns == gridColumns_) return;
  gridColumns_ = columns;
  for (QChartView* view : views_) grid_->removeWidget(view);
  for (std::size_t i = 0; i < views_.size(); ++i) {
    const int place = static_cast<int>(i);
    grid_->addWidget(views_[i], place / columns, place % columns);
    // One above the other, each chart keeps a readable height.
    views_[i]->setMinimumSize(220, columns == 2 ? 160 : 280);
  }
  auto* points = qobject_cast<QGridLayout*>(engineMap_->parentWidget()->layout());
  QWidget* motorTitle = motorMap_->parentWidget()->findChild<QWidget*>("motorMapTitle");
  points->removeWidget(motorTitle);
  points->removeWidget(motorMap_);
  points->addWidget(motorTitle, columns == 2 ? 0 : 2, columns == 2 ? 1 : 0);
  points->addWidget(motorMap_, columns == 2 ? 1 : 3, columns == 2 ? 1 : 0);
  points->setRowStretch(3, columns == 2 ? 0 : 1);
}

void ChartsWindow::PlaceBesideMain() {
  QWidget* main = parentWidget() ? parentWidget()->window() : nullptr;
  QScreen* screen = main ? main->screen() : this->screen();
  if (!screen) return;
  // The frame of this window is taken to be as wide as the main window's.
  const QSize frame = main ? main->frameGeometry().size() - main->geometry().size() : QSize(0, 0);
  const QRect mainFrame = main ? main->frameGeometry() : QRect();
  const QRect place = PlaceBeside(screen->availableGeometry(), mainFrame,
                                  QSize(1200, 860) + frame, QSize(360, 300) + frame);
  ArrangeCharts(place.width() - frame.width());
  resize(place.size() - frame);
  move(place.topLeft());
}

void ChartsWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  timer_->start();
  Refresh();
}

void ChartsWindow::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  timer_->stop();
}

void ChartsWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  ArrangeCharts(width());
}

void ChartsWindow::Refresh() {
  // Nothing is drawn for a window that is not shown, nor for the page not in
  // view.
  if (!isVisible() || isMinimized()) return;
  if (tabs_->currentIndex() == 0) {
    RefreshCharts();
  } else {
    RefreshMaps();
  }
}

void ChartsWindow::RefreshCharts() {
  // Each line reduced to what its plot's width in pixels can show.
  std::vector<int> columns;
  for (QChartView* view : views_) {
    const double plot = view->chart()->plotArea().width();
    columns.push_back(std::max(16, static_cast<int>(plot > 0 ? plot : view->width())));
  }
  if (history_.version() == chartsShown_ && columns == columns_) return;
  chartsShown_ = history_.version();
  columns_ = columns;
  ++work_.redraws;
  std::size_t i = 0;
  for (ChartKind kind : AllChartKinds()) {
    ChartStyle style = WindowChartStyle();
    style.columns = columns[i];
    if (!UpdateChart(views_[i]->chart(), kind, history_, style, &work_.points)) {
      QChart* old = views_[i]->chart();
      views_[i]->setChart(MakeChart(kind, history_, style, &work_.points));
      delete old;
      ++work_.chartsMade;
    }
    ++i;
  }
}

void ChartsWindow::RefreshMaps() {
  const QSize size = engineMap_->size();
  if (history_.version() == mapsShown_ && size == mapsSize_ && sim_.s.Mussfil == mapFile_) return;
  mapsShown_ = history_.version();
  mapsSize_ = size;
  if (sim_.s.Mussfil != mapFile_) {
    // The map picture is read when its name changes, not at every redraw.
    mapFile_ = sim_.s.Mussfil;
    mapPicture_ = QImage();
    try {
      const Picture map = LoadBmp(mapFile_);
      mapPicture_ = QImage(map.width, map.height, QImage::Format_RGB32);
      for (int y = 0; y < map.height; ++y) {
        for (int x = 0; x < map.width; ++x) {
          const Rgb c = map.At(x, y);
          mapPicture_.setPixel(x, y, qRgb(c.r, c.g, c.b));
        }
      }
    } catch (const std::exception&) {
      mapPicture_ = QImage();
    }
  }
  ++work_.redraws;
  work_.maps += 2;
  engineMap_->setPixmap(
      QPixmap::fromImage(EngineMapPoints(sim_, mapPicture_, history_, engineMap_->size())));
  motorMap_->setPixmap(QPixmap::fromImage(MotorMapPoints(sim_, history_, motorMap_->size())));
}

}  // namespace drivanto
