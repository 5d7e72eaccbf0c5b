// drivanto-plot's pictures as figures for a paper: the language of the
// command line, texts whole and inside the picture, one unit an axis, a
// legend of what is drawn, lines reduced to what the picture can show, a
// quiet standard error, readable ticks, and a picture that never replaces
// its input.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <QAbstractAxis>
#include <QChart>
#include <QFontMetricsF>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QRegularExpression>
#include <QTransform>
#include <QValueAxis>
#include <QXmlStreamReader>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>

#include "base/Files.h"
#include "gui/TempData.h"
#include "shell/Batch.h"
#include "shell/History.h"
#include "shell/qt/Charts.h"

namespace drivanto {
namespace {

using testing::TempData;

int Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Q(const std::string& s) { return "'" + s + "'"; }
const std::string kPlot = Q(DRIVANTO_PLOT_PROGRAM) + " ";

// What an SVG draws, in the picture's coordinates.
struct SvgText {
  QString text;
  QPointF anchor;  // the start of the base line
  QRectF box;      // the text as the toolkit measures its font
};
struct Svg {
  QSize size;
  std::vector<SvgText> texts;
  std::vector<std::vector<QPointF>> paths;      // every point named in a path
  std::vector<std::vector<QPointF>> polylines;  // grid lines and ticks
};

std::vector<QPointF> PointsOf(const QString& list) {
  std::vector<QPointF> points;
  for (QString token : list.split(' ', Qt::SkipEmptyParts)) {
    while (!token.isEmpty() && token[0].isLetter()) token.remove(0, 1);
    const QStringList xy = token.split(',');
    if (xy.size() == 2) points.emplace_back(xy[0].toDouble(), xy[1].toDouble());
  }
  return points;
}

Svg ReadSvg(const QByteArray& bytes) {
  Svg svg;
  QXmlStreamReader xml(bytes);
  std::vector<QTransform> groups{QTransform()};
  auto world = [&](const std::vector<QPointF>& local) {
    std::vector<QPointF> out;
    for (const QPointF& p : local) out.push_back(groups.back().map(p));
    return out;
  };
  while (!xml.atEnd()) {
    xml.readNext();
    if (xml.isEndElement() && xml.name() == u"g") groups.pop_back();
    if (!xml.isStartElement()) continue;
    const QXmlStreamAttributes a = xml.attributes();
    if (xml.name() == u"svg") {
      const QStringList box = a.value("viewBox").toString().split(' ');
      if (box.size() == 4) svg.size = QSize(box[2].toInt(), box[3].toInt());
    } else if (xml.name() == u"g") {
      QTransform t;
      const QString m = a.value("transform").toString();
      if (m.startsWith("matrix(")) {
        const QStringList v = m.mid(7, m.size() - 8).split(',');
        if (v.size() == 6) {
          t = QTransform(v[0].toDouble(), v[1].toDouble(), v[2].toDouble(), v[3].toDouble(),
                         v[4].toDouble(), v[5].toDouble());
        }
      }
      groups.push_back(t * groups.back());
    } else if (xml.name() == u"path") {
      svg.paths.push_back(world(PointsOf(a.value("d").toString())));
    } else if (xml.name() == u"polyline") {
      svg.polylines.push_back(world(PointsOf(a.value("points").toString())));
    } else if (xml.name() == u"text") {
      QFont font(a.value("font-family").toString());
      font.setPointSizeF(a.value("font-size").toDouble());
      font.setWeight(QFont::Weight(a.value("font-weight").toInt()));
      const QFontMetricsF metrics(font);
      const double x = a.value("x").toDouble(), y = a.value("y").toDouble();
      SvgText text;
      text.text = xml.readElementText();
      const QRectF local(x, y - metrics.ascent(), metrics.horizontalAdvance(text.text),
                         metrics.ascent() + metrics.descent());
      text.anchor = groups.back().map(QPointF(x, y));
      text.box = groups.back().mapRect(local);
      svg.texts.push_back(text);
    }
  }
  EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
  return svg;
}

Svg ReadSvgFile(const std::string& file) {
  const std::string bytes = ReadFileBytes(file);
  return ReadSvg(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

bool HasText(const Svg& svg, const QString& text) {
  return std::any_of(svg.texts.begin(), svg.texts.end(),
                     [&](const SvgText& t) { return t.text == text; });
}

// A text that is an axis number, read in either language (Swedish writes
// its minus as U+2212 and a decimal comma).
bool NumberOf(QString text, double* value) {
  text.replace(QChar(0x2212), '-');
  text.replace(',', '.');
  bool ok = false;
  *value = text.toDouble(&ok);
  return ok;
}

// One UDDS run at dt 0.5 s with its trace and both result files, made once.
class Figures : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    data_ = new TempData();
    std::ostringstream out, err;
    ASSERT_EQ(
        RunBatch({"--set", "cycleType=T", "--set", "Ttidd=UDDS.CYK", "--set", "timeMode=D", "--set",
                  "dt=0.5", "--set", "fullTime=100000", "--set", "fullLength=1000000", "--set",
                  "Spara=1100", "--trace", data_->path("trace.csv"), data_->folder()},
                 out, err),
        0)
        << err.str();
  }
  static void TearDownTestSuite() {
    delete data_;
    data_ = nullptr;
  }
  static std::string Path(const std::string& name) { return data_->path(name); }
  // drivanto-plot with these arguments (the picture's name among them),
  // by default under a locale that asks for English.
  static int Plot(const std::string& args, const std::string& env = "env LC_ALL=C") {
    return Shell(env + " " + kPlot + args + " 2>/dev/null");
  }
  static TempData* data_;
};
TempData* Figures::data_ = nullptr;

TEST_F(Figures, TheLanguageFollowsTheCommandLineThenTheLocale) {
  struct Case {
    const char* env;
    const char* args;
    bool swedish;
  };
  const Case cases[] = {
      {"env -u LC_ALL -u LC_MESSAGES -u LANG", "", false},
      {"env -u LC_ALL -u LC_MESSAGES LANG=sv_SE.UTF-8", "", true},
      {"env -u LC_ALL LC_MESSAGES=sv_FI.UTF-8 LANG=en_GB.UTF-8", "", true},
      {"env LC_ALL=sv_SE.UTF-8 LC_MESSAGES=en_US.UTF-8 LANG=en_US.UTF-8", "", true},
      {"env LC_ALL=C LANG=sv_SE.UTF-8", "", false},       // LC_ALL comes first
      {"env LC_ALL= LC_MESSAGES= LANG=sv_SE", "", true},  // empty is not set
      {"env LC_ALL=C", "--lang sv", true},
      {"env LANG=sv_SE.UTF-8 LC_ALL=sv_SE.UTF-8", "--lang en", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.env) + " " + c.args);
    const std::string svg = Path("lang.svg");
    ASSERT_EQ(Plot(Q(Path("trace.csv")) + " " + c.args + " -o " + Q(svg), c.env), 0);
    const Svg drawn = ReadSvgFile(svg);
    EXPECT_EQ(HasText(drawn, "Tid (s)"), c.swedish);
    EXPECT_EQ(HasText(drawn, "Time (s)"), !c.swedish);
    EXPECT_EQ(HasText(drawn, "Batteri"), c.swedish);
    EXPECT_EQ(HasText(drawn, "Battery voltage"), !c.swedish);
    // The numbers' decimal sign goes with the language (the fuel's axis has
    // decimals).
    int comma = 0, point = 0;
    for (const SvgText& t : drawn.texts) {
      comma += QRegularExpression(R"(^[-−]?\d+,\d+$)").match(t.text).hasMatch();
      point += QRegularExpression(R"(^-?\d+\.\d+$)").match(t.text).hasMatch();
    }
    EXPECT_GT(c.swedish ? comma : point, 0);
    EXPECT_EQ(c.swedish ? point : comma, 0);
  }
  EXPECT_EQ(Plot(Q(Path("trace.csv")) + " --lang de -o " + Q(Path("x.png"))), 2);
  EXPECT_EQ(Plot(Q(Path("trace.csv")) + " -o " + Q(Path("x.png")) + " --lang"), 2);
}

// At the README's size every title, axis title and name is there whole, and
// every text lies inside the picture.
TEST_F(Figures, AtTheReadmesSizeEveryTextIsWholeAndInside) {
  const RunHistory history = HistoryFromTrace(Path("trace.csv"));
  for (const auto& [locale, language] :
       {std::pair{"C", ChartLanguage::English}, std::pair{"sv_SE.UTF-8", ChartLanguage::Swedish}}) {
    SCOPED_TRACE(locale);
    const std::string svg = Path(std::string("readme-") + locale + ".svg");
    ASSERT_EQ(Plot(Q(Path("trace.csv")) + " --size 900x1100 -o " + Q(svg),
                   std::string("env LC_ALL=") + locale),
              0);
    const Svg drawn = ReadSvgFile(svg);
    ASSERT_EQ(drawn.size, QSize(900, 1100));
    const QRectF picture = QRectF(0, 0, 900, 1100).adjusted(-0.5, -0.5, 0.5, 0.5);
    for (const SvgText& t : drawn.texts) {
      EXPECT_TRUE(picture.contains(t.box)) << t.text.toStdString();
      EXPECT_FALSE(t.text.endsWith("...") || t.text.endsWith(QChar(0x2026)))
          << t.text.toStdString();
    }
    // The texts the charts hold, whole in the picture.
    for (ChartKind kind : AllChartKinds()) {
      std::unique_ptr<QChart> chart(MakeChart(kind, history, PictureChartStyle(language, 900)));
      QStringList wanted{chart->title()};
      for (QAbstractAxis* axis : chart->axes()) wanted << axis->titleText();
      for (QLegendMarker* m : chart->legend()->markers()) wanted << m->label();
      for (const QString& text : wanted) EXPECT_TRUE(HasText(drawn, text)) << text.toStdString();
    }
  }
}

// Each value axis names its unit, and every line on it is of that unit.
TEST_F(Figures, EachValueAxisHoldsOneUnitAndNamesIt) {
  const std::map<QString, QString> unitOf = {{"Speed", "km/h"},
                                             {"Hastighet", "km/h"},
                                             {"Requested speed", "km/h"},
                                             {"Begärd hastighet", "km/h"},
                                             {"Drive cycle speed", "km/h"},
                                             {"Körcykelns hastighet", "km/h"},
                                             {"Used capacity", "%"},
                                             {"Förbrukad kapacitet", "%"},
                                             {"Battery voltage", "V"},
                                             {"Batterispänning", "V"},
                                             {"Battery current", "A"},
                                             {"Batteriström", "A"},
                                             {"Charging current", "A"},
                                             {"Laddström", "A"},
                                             {"Engine power", "kW"},
                                             {"Motoreffekt", "kW"},
                                             {"Fuel used", "l"},
                                             {"Bränsle", "l"},
                                             {"CO", "g"},
                                             {"NOx", "g"},
                                             {"HC", "g"}};
  const RunHistory history = HistoryFromTrace(Path("trace.csv"));
  for (const ChartStyle& style :
       {PictureChartStyle(ChartLanguage::English, 900),
        PictureChartStyle(ChartLanguage::Swedish, 900), WindowChartStyle()}) {
    for (ChartKind kind : AllChartKinds()) {
      std::unique_ptr<QChart> chart(MakeChart(kind, history, style));
      SCOPED_TRACE(chart->title().toStdString());
      int lines = 0;
      for (QAbstractAxis* axis : chart->axes(Qt::Vertical)) {
        const QString title = axis->titleText();
        for (QAbstractSeries* s : chart->series()) {
          auto* line = qobject_cast<QLineSeries*>(s);
          if (!line || !line->attachedAxes().contains(axis)) continue;
          ++lines;
          ASSERT_TRUE(unitOf.count(line->name())) << line->name().toStdString();
          EXPECT_TRUE(title.endsWith("(" + unitOf.at(line->name()) + ")"))
              << title.toStdString() << " holds " << line->name().toStdString();
        }
      }
      EXPECT_GE(lines, 1);
    }
  }
}

TEST_F(Figures, TheLegendNamesOnlyWhatTheInputHolds) {
  struct Case {
    std::string inputs;
    std::vector<QString> named, unnamed;
  };
  const Case cases[] = {
      {Q(Path("RESULT1.TXT")),
       {"Speed", "Requested speed", "Battery voltage", "Battery current", "Engine power"},
       {"Drive cycle speed", "Used capacity", "Charging current", "Charging on", "Fuel used", "CO",
        "NOx", "HC"}},
      {Q(Path("RESULT2.TXT")),
       {"Charging current", "Charging on", "Engine power", "CO", "NOx", "HC"},
       {"Speed", "Requested speed", "Drive cycle speed", "Used capacity", "Battery voltage",
        "Battery current", "Fuel used"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.inputs);
    const std::string svg = Path("legend.svg");
    ASSERT_EQ(Plot(c.inputs + " -o " + Q(svg)), 0);
    const Svg drawn = ReadSvgFile(svg);
    for (const QString& name : c.named) EXPECT_TRUE(HasText(drawn, name)) << name.toStdString();
    for (const QString& name : c.unnamed) EXPECT_FALSE(HasText(drawn, name)) << name.toStdString();
  }
  // Result file 1 holds nothing of fuel and emissions: the chart says so,
  // without an axis of grams.
  ASSERT_EQ(Plot(Q(Path("RESULT1.TXT")) + " -o " + Q(Path("legend.svg"))), 0);
  const Svg drawn = ReadSvgFile(Path("legend.svg"));
  EXPECT_TRUE(HasText(drawn, "Fuel and emissions (not in the input)"));
  EXPECT_FALSE(HasText(drawn, "Emissions (g)"));
}

TEST(ReduceToColumns, KeepsEveryColumnsEndsAndExtremes) {
  std::mt19937 random(7);
  std::normal_distribution<double> noise(0, 1);
  struct Case {
    const char* name;
    std::size_t n;
    int columns;
    std::function<double(std::size_t)> y;
  };
  const Case cases[] = {
      {"noise", 100000, 500, [&](std::size_t) { return noise(random); }},
      {"one spike", 50000, 300, [](std::size_t i) { return i == 31337 ? 1e3 : 0.0; }},
      {"one dip at the end", 9000, 700, [](std::size_t i) { return i + 1 == 9000 ? -5.0 : 1.0; }},
      {"ramp", 80000, 900, [](std::size_t i) { return 0.001 * static_cast<double>(i); }},
      {"steps", 30000, 200, [](std::size_t i) { return static_cast<double>(i / 1000 % 3); }},
      {"few points", 1200, 300, [&](std::size_t) { return noise(random); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<QPointF> points;
    for (std::size_t i = 0; i < c.n; ++i)
      points.emplace_back(0.04 * static_cast<double>(i), c.y(i));
    const double t0 = points.front().x(), t1 = points.back().x();
    const std::vector<QPointF> kept = ReduceToColumns(points, t0, t1, c.columns);
    EXPECT_LE(kept.size(), 4u * static_cast<std::size_t>(c.columns));
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(kept.front(), points.front());
    EXPECT_EQ(kept.back(), points.back());
    // Points of the line, in their order.
    std::size_t at = 0;
    for (const QPointF& p : kept) {
      while (at < points.size() && points[at] != p) ++at;
      ASSERT_LT(at, points.size()) << "not a point of the line: " << p.x() << " " << p.y();
    }
    // In every column the same highest and lowest value.
    const double width = (t1 - t0) / c.columns;
    std::map<long, std::pair<double, double>> all, left;
    auto note = [&](std::map<long, std::pair<double, double>>& m, const QPointF& p) {
      const long col = std::min<long>(static_cast<long>((p.x() - t0) / width), c.columns - 1);
      auto [it, fresh] = m.try_emplace(col, p.y(), p.y());
      if (!fresh)
        it->second = {std::min(it->second.first, p.y()), std::max(it->second.second, p.y())};
    };
    for (const QPointF& p : points) note(all, p);
    for (const QPointF& p : kept) note(left, p);
    for (const auto& [col, range] : all) {
      // A level column inside a level stretch may give up its points.
      if (!left.count(col)) {
        EXPECT_EQ(range.first, range.second) << "column " << col;
        continue;
      }
      EXPECT_EQ(left[col], range) << "column " << col;
    }
  }
}

// A long run: the SVG stays small, a line has at most four points a pixel
// column, and it still reaches the run's true highest and lowest values.
TEST(PlotFigure, ALongTraceGivesASmallSvgThatReachesItsExtremes) {
  TempData data;
  std::ostringstream out, err;
  const std::vector<std::string> udds = {"--set", "cycleType=T",     "--set", "Ttidd=UDDS.CYK",
                                         "--set", "timeMode=D",      "--set", "dt=0.04",
                                         "--set", "fullTime=100000", "--set", "fullLength=1000000"};
  std::vector<std::string> args = udds;
  args.insert(args.end(), {"--trace", data.path("udds.csv"), data.folder()});
  ASSERT_EQ(RunBatch(args, out, err), 0) << err.str();
  // The whole run's charts: 4.6 MB before lines were reduced to the picture.
  const std::string all = data.path("udds.svg");
  ASSERT_EQ(Shell(kPlot + Q(data.path("udds.csv")) + " -o " + Q(all)), 0);
  EXPECT_LT(std::filesystem::file_size(all), 512u * 1024);
  EXPECT_GT(HistoryFromTrace(data.path("udds.csv")).samples().size(), 30000u);

  // The battery current alone, the most restless line.
  args = udds;
  args.insert(args.end(),
              {"--trace-vars", "ttot,Iaba", "--trace", data.path("current.csv"), data.folder()});
  ASSERT_EQ(RunBatch(args, out, err), 0) << err.str();
  double low = INFINITY, high = -INFINITY;
  const RunHistory current = HistoryFromTrace(data.path("current.csv"));
  for (const Sample& s : current.samples()) {
    low = std::min(low, s[static_cast<std::size_t>(Quantity::Current)]);
    high = std::max(high, s[static_cast<std::size_t>(Quantity::Current)]);
  }
  const std::string svg = data.path("current.svg");
  ASSERT_EQ(
      Shell(kPlot + Q(data.path("current.csv")) + " --charts battery --size 1000x700 -o " + Q(svg)),
      0);
  EXPECT_LT(std::filesystem::file_size(svg), 120u * 1024);
  const Svg drawn = ReadSvgFile(svg);
  // The line: the one long path.
  const std::vector<QPointF>* line = nullptr;
  for (const auto& p : drawn.paths) {
    if (p.size() > 100) {
      ASSERT_EQ(line, nullptr) << "more than one line";
      line = &p;
    }
  }
  ASSERT_NE(line, nullptr);
  EXPECT_LE(line->size(), 4u * 1000);
  // The value axis from its grid (the long level polylines) and its numbers
  // (those not on the time axis's row).
  double top = INFINITY, bottom = -INFINITY;
  for (const auto& p : drawn.polylines) {
    if (p.size() == 2 && p[0].y() == p[1].y() && std::fabs(p[1].x() - p[0].x()) > 500) {
      top = std::min(top, p[0].y());
      bottom = std::max(bottom, p[0].y());
    }
  }
  std::map<double, std::vector<double>> rows;
  for (const SvgText& t : drawn.texts) {
    double v;
    if (NumberOf(t.text, &v)) rows[t.anchor.y()].push_back(v);
  }
  double axisLow = INFINITY, axisHigh = -INFINITY;
  for (const auto& [y, numbers] : rows) {
    if (numbers.size() > 1) continue;  // the time axis's row
    axisLow = std::min(axisLow, numbers[0]);
    axisHigh = std::max(axisHigh, numbers[0]);
  }
  ASSERT_LT(top, bottom);
  ASSERT_LT(axisLow, axisHigh);
  auto valueAt = [&](double y) {
    return axisLow + (bottom - y) / (bottom - top) * (axisHigh - axisLow);
  };
  double lineTop = INFINITY, lineBottom = -INFINITY;
  for (const QPointF& p : *line) {
    lineTop = std::min(lineTop, p.y());
    lineBottom = std::max(lineBottom, p.y());
  }
  const double pixel = (axisHigh - axisLow) / (bottom - top);
  EXPECT_NEAR(valueAt(lineTop), high, pixel);
  EXPECT_NEAR(valueAt(lineBottom), low, pixel);
}

// Reduced to the picture's width, the lines look as drawn with every point.
TEST_F(Figures, AReducedPictureLooksLikeTheFullOne) {
  RunHistory history(1 << 20);
  const RunHistory trace = HistoryFromTrace(Path("trace.csv"));
  // Each sample four times, 0.125 s apart: some 11 000 samples, more than
  // four a pixel column.
  for (const Sample& s : trace.samples()) {
    for (int k = 0; k < 4; ++k) {
      Sample x = s;
      x[static_cast<std::size_t>(Quantity::Time)] += 0.125 * k;
      history.Record(x);
    }
  }
  const QSize size(900, 1100);
  ChartStyle full = PictureChartStyle(ChartLanguage::English, size.width());
  full.columns = 0;
  const QImage reduced =
      RenderCharts(AllChartKinds(), history, size, PictureChartStyle(ChartLanguage::English, 900));
  const QImage every = RenderCharts(AllChartKinds(), history, size, full);
  long differ = 0, ink = 0;
  for (int y = 0; y < size.height(); ++y) {
    for (int x = 0; x < size.width(); ++x) {
      const QRgb a = reduced.pixel(x, y), b = every.pixel(x, y);
      ink += qGray(b) < 200;
      differ += std::abs(qGray(a) - qGray(b)) > 96;
    }
  }
  EXPECT_GT(ink, 20000);
  EXPECT_LT(differ, ink / 100) << differ << " of " << ink;
}

TEST_F(Figures, NothingOnStandardErrorButTheProgramsOwnMessages) {
  const std::string errors = Path("stderr.txt");
  ASSERT_EQ(Shell("env -u XDG_RUNTIME_DIR " + kPlot + Q(Path("trace.csv")) + " -o " +
                  Q(Path("quiet.png")) + " 2>" + Q(errors)),
            0);
  EXPECT_EQ(ReadFileBytes(errors), "");
  ASSERT_EQ(Shell("env -u XDG_RUNTIME_DIR " + kPlot + Q(Path("missing.csv")) + " -o " +
                  Q(Path("quiet.png")) + " 2>" + Q(errors)),
            1);
  EXPECT_EQ(ReadFileBytes(errors), "drivanto-plot: " + Path("missing.csv") + ": file not found\n");
}

// On a short run or a narrow range of values, no two ticks of an axis show
// the same number, the numbers grow along it, and both its ends carry one.
TEST_F(Figures, TicksOfAShortRunAreNeverTheSameNumber) {
  struct Case {
    double seconds, low, high;  // speed in m/s
  };
  const Case cases[] = {{2, 0, 0.08},       {0.5, 0, 28}, {7, -0.3, 0.3},
                        {3.3, 10, 10.0004}, {1e5, 0, 1},  {5, 1, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.seconds) + " s, " + std::to_string(c.low) + " to " +
                 std::to_string(c.high) + " m/s");
    std::ofstream trace(Path("short.csv"));
    trace << "ttot_s,v_m_per_s\n";
    for (int i = 0; i <= 40; ++i) {
      trace << c.seconds * i / 40 << "," << (i % 2 ? c.high : c.low) << "\n";
    }
    trace.close();
    ASSERT_EQ(
        Plot(Q(Path("short.csv")) + " --charts speed --size 900x400 -o " + Q(Path("short.svg"))),
        0);
    const Svg drawn = ReadSvgFile(Path("short.svg"));
    // The plot's edges: where the grid lines end.
    double left = INFINITY, right = -INFINITY, top = INFINITY, bottom = -INFINITY;
    for (const auto& p : drawn.polylines) {
      if (p.size() != 2) continue;
      if (p[0].x() == p[1].x() && std::fabs(p[1].y() - p[0].y()) > 100) {
        top = std::min({top, p[0].y(), p[1].y()});
        bottom = std::max({bottom, p[0].y(), p[1].y()});
      } else if (p[0].y() == p[1].y() && std::fabs(p[1].x() - p[0].x()) > 300) {
        left = std::min({left, p[0].x(), p[1].x()});
        right = std::max({right, p[0].x(), p[1].x()});
      }
    }
    // The time axis's numbers share a row; the speed axis's are one a row.
    std::map<double, std::vector<SvgText>> rows;  // by the base line
    for (const SvgText& t : drawn.texts) {
      double v;
      if (NumberOf(t.text, &v)) rows[t.anchor.y()].push_back(t);
    }
    std::vector<SvgText> times, speeds;
    for (const auto& [y, row] : rows) {
      if (row.size() > 1) {
        times = row;
      } else {
        speeds.push_back(row[0]);
      }
    }
    std::sort(times.begin(), times.end(),
              [](const SvgText& a, const SvgText& b) { return a.anchor.x() < b.anchor.x(); });
    std::sort(speeds.begin(), speeds.end(),
              [](const SvgText& a, const SvgText& b) { return a.anchor.y() > b.anchor.y(); });
    for (const auto* axis : {&times, &speeds}) {
      ASSERT_GE(axis->size(), 3u);
      for (std::size_t i = 1; i < axis->size(); ++i) {
        double before, after;
        NumberOf((*axis)[i - 1].text, &before);
        NumberOf((*axis)[i].text, &after);
        EXPECT_LT(before, after) << (*axis)[i - 1].text.toStdString() << " then "
                                 << (*axis)[i].text.toStdString();
      }
    }
    auto across = [](double from, double to, double at) { return from - 1 <= at && at <= to + 1; };
    EXPECT_TRUE(across(times.front().box.left(), times.front().box.right(), left));
    EXPECT_TRUE(across(times.back().box.left(), times.back().box.right(), right));
    EXPECT_TRUE(across(speeds.front().box.top(), speeds.front().box.bottom(), bottom));
    EXPECT_TRUE(across(speeds.back().box.top(), speeds.back().box.bottom(), top))
        << speeds.back().text.toStdString() << " at " << speeds.back().box.top() << " to "
        << speeds.back().box.bottom() << ", the plot's top at " << top;
  }
}

// A run resumed from an earlier point and written on: the time goes back,
// and the line starts anew instead of running back across the chart, named
// once in the legend.
TEST_F(Figures, WhereTheTimeGoesBackALineStartsAnew) {
  std::ofstream trace(Path("resumed.csv"));
  trace << "ttot_s,Iaba_A\n";
  for (int t = 0; t <= 100; ++t) trace << t << "," << 50 + t % 7 << "\n";
  for (int t = 50; t <= 150; ++t) trace << t << "," << 20 + t % 5 << "\n";
  trace.close();
  ASSERT_EQ(Plot(Q(Path("resumed.csv")) + " --charts battery -o " + Q(Path("resumed.svg"))), 0);
  const Svg drawn = ReadSvgFile(Path("resumed.svg"));
  std::size_t lines = 0, points = 0;
  for (const auto& path : drawn.paths) {
    if (path.size() < 50) continue;
    ++lines;
    points += path.size();
    for (std::size_t i = 1; i < path.size(); ++i) EXPECT_GE(path[i].x(), path[i - 1].x());
  }
  EXPECT_EQ(lines, 2u);
  EXPECT_EQ(points, 202u);
  EXPECT_EQ(std::count_if(drawn.texts.begin(), drawn.texts.end(),
                          [](const SvgText& t) { return t.text == "Battery current"; }),
            1);
}

// The picture never replaces what it is drawn from, and one that cannot be
// written whole leaves the earlier picture as it was.
TEST_F(Figures, APictureThatCannotBeWrittenIsAnError) {
  namespace fs = std::filesystem;
  fs::copy_file(Path("trace.csv"), Path("trace.svg"), fs::copy_options::overwrite_existing);
  fs::remove(Path("onto-result.png"));
  fs::create_symlink(Path("RESULT2.TXT"), Path("onto-result.png"));
  std::ofstream(Path("earlier.svg")) << "earlier";
  struct Case {
    std::string command, file, words;
  };
  const Case cases[] = {
      {kPlot + Q(Path("trace.svg")) + " -o " + Q(Path("trace.svg")), Path("trace.svg"),
       "the trace"},
      {kPlot + Q(Path("RESULT1.TXT")) + " " + Q(Path("RESULT2.TXT")) + " -o " +
           Q(Path("onto-result.png")),
       Path("onto-result.png"), "result file 2"},
      // Larger than the files may grow (ulimit -f counts kilobytes).
      {"ulimit -f 16; " + kPlot + Q(Path("trace.csv")) + " -o " + Q(Path("earlier.svg")),
       Path("earlier.svg"), "file too large"},
  };
  const std::string result2 = ReadFileBytes(Path("RESULT2.TXT"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    const std::string before = ReadFileBytes(c.file);
    const std::string errors = Path("errors.txt");
    EXPECT_EQ(Shell("(" + c.command + ") 2>" + Q(errors)), 1);
    const std::string message = ReadFileBytes(errors);
    EXPECT_NE(message.find("drivanto-plot: " + c.file + ": "), std::string::npos) << message;
    EXPECT_NE(message.find(c.words), std::string::npos) << message;
    EXPECT_EQ(ReadFileBytes(c.file), before);
  }
  EXPECT_EQ(ReadFileBytes(Path("RESULT2.TXT")), result2);
}

}  // namespace
}  // namespace drivanto
