// drivanto-plot's pictures as figures for a paper: the language of the
// command line, texts whole and inside the picture, one unit an axis, a
// legend of what is drawn, lines reduced to what the picture can show,
// readable ticks, a quiet standard error, and a picture that never replaces
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
#include <QXmlStreamReader>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <sstream>

#include "base/Files.h"
#include "gui/TempData.h"
#include "cli/Batch.h"
#include "run/History.h"
#include "qt/Charts.h"

namespace drivanto {
namespace {

using testing::TempData;

std::string Q(const std::string& s) { return "'" + s + "'"; }

int Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// What an SVG draws, in the picture's coordinates.
struct SvgText {
  QString text;
  QPointF anchor;  // the start of the base line
  QRectF box;      // as the toolkit measures the text's font
};
struct Svg {
  std::vector<SvgText> texts;
  std::vector<std::vector<QPointF>> paths, polylines;
  bool Has(const QString& text) const {
    return std::any_of(texts.begin(), texts.end(),
                       [&](const SvgText& t) { return t.text == text; });
  }
};

Svg ReadSvg(const std::string& file) {
  const std::string bytes = ReadFileBytes(file);
  QXmlStreamReader xml(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
  Svg svg;
  std::vector<QTransform> groups{QTransform()};
  auto points = [&](QString list) {
    std::vector<QPointF> out;
    for (const QString& xy : list.remove(QRegularExpression("[A-Za-z]")).split(' ')) {
      const QStringList v = xy.split(',');
      if (v.size() == 2)
        out.push_back(groups.back().map(QPointF(v[0].toDouble(), v[1].toDouble())));
    }
    return out;
  };
  while (!xml.atEnd()) {
    xml.readNext();
    if (xml.isEndElement() && xml.name() == u"g") groups.pop_back();
    if (!xml.isStartElement()) continue;
    const QXmlStreamAttributes a = xml.attributes();
    if (xml.name() == u"g") {
      const QStringList m =
          a.value("transform").toString().remove("matrix(").remove(')').split(',');
      QTransform t;
      if (m.size() == 6)
        t.setMatrix(m[0].toDouble(), m[1].toDouble(), 0, m[2].toDouble(), m[3].toDouble(), 0,
                    m[4].toDouble(), m[5].toDouble(), 1);
      groups.push_back(t * groups.back());
    } else if (xml.name() == u"path") {
      svg.paths.push_back(points(a.value("d").toString()));
    } else if (xml.name() == u"polyline") {
      svg.polylines.push_back(points(a.value("points").toString()));
    } else if (xml.name() == u"text") {
      QFont font(a.value("font-family").toString());
      font.setPointSizeF(a.value("font-size").toDouble());
      font.setWeight(QFont::Weight(a.value("font-weight").toInt()));
      const QFontMetricsF m(font);
      const QPointF at(a.value("x").toDouble(), a.value("y").toDouble());
      const QString text = xml.readElementText();
      svg.texts.push_back({text, groups.back().map(at),
                           groups.back().mapRect(QRectF(at.x(), at.y() - m.ascent(),
                                                        m.horizontalAdvance(text), m.height()))});
    }
  }
  EXPECT_FALSE(xml.hasError()) << file;
  return svg;
}

// An axis number in either language (Swedish: U+2212 and a decimal comma).
bool NumberOf(QString text, double* value) {
  bool ok = false;
  *value = text.replace(QChar(0x2212), '-').replace(',', '.').toDouble(&ok);
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
                  "Spara=1100", "--trace", Path("trace.csv"), data_->folder()},
                 out, err),
        0)
        << err.str();
  }
  static void TearDownTestSuite() { delete data_; }
  static std::string Path(const std::string& name) { return data_->path(name); }
  // drivanto-plot with these arguments, by default under a locale that asks
  // for English, without XDG_RUNTIME_DIR; a picture drawn says nothing on
  // standard error.
  static int Plot(const std::string& args, const std::string& env = "LC_ALL=C") {
    const std::string errors = Path("stderr.txt");
    const int code = Shell("env -u XDG_RUNTIME_DIR " + env + " '" DRIVANTO_PLOT_PROGRAM "' " +
                           args + " 2>" + Q(errors));
    if (code == 0) {
      EXPECT_EQ(ReadFileBytes(errors), "") << args;
    }
    return code;
  }
  static TempData* data_;
};
TempData* Figures::data_ = nullptr;

TEST_F(Figures, TheLanguageFollowsTheCommandLineThenTheLocale) {
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"-u LC_ALL -u LC_MESSAGES -u LANG", "", false},
      {"-u LC_ALL -u LC_MESSAGES LANG=sv_SE.UTF-8", "", true},
      {"-u LC_ALL LC_MESSAGES=sv_FI.UTF-8 LANG=en_GB.UTF-8", "", true},
      {"LC_ALL=C LANG=sv_SE.UTF-8", "", false},       // LC_ALL comes first
      {"LC_ALL= LC_MESSAGES= LANG=sv_SE", "", true},  // empty is unset
      {"LC_ALL=C", " --lang sv", true},
      {"LC_ALL=sv_SE.UTF-8", " --lang en", false},
  };
  for (const auto& [env, lang, swedish] : cases) {
    SCOPED_TRACE(std::string(env) + lang);
    ASSERT_EQ(Plot(Q(Path("trace.csv")) + lang + " -o " + Q(Path("lang.svg")), env), 0);
    const Svg svg = ReadSvg(Path("lang.svg"));
    EXPECT_EQ(svg.Has("Tid (s)"), swedish);
    EXPECT_EQ(svg.Has("Battery voltage"), !swedish);
    // The decimal sign goes with the language (the fuel's axis has decimals).
    int comma = 0, point = 0;
    for (const SvgText& t : svg.texts) {
      comma += t.text.contains(QRegularExpression(R"(^[-−]?\d+,\d+$)"));
      point += t.text.contains(QRegularExpression(R"(^-?\d+\.\d+$)"));
    }
    EXPECT_GT(swedish ? comma : point, 0);
    EXPECT_EQ(swedish ? point : comma, 0);
  }
  EXPECT_EQ(Plot(Q(Path("trace.csv")) + " --lang de -o " + Q(Path("x.png"))), 2);
}

// At the README's size every chart's title, axis titles and names are there
// whole, and every text lies inside the picture.
TEST_F(Figures, AtTheReadmesSizeEveryTextIsWholeAndInside) {
  const RunHistory history = HistoryFromTrace(Path("trace.csv"));
  for (const auto& [locale, language] :
       {std::pair{"C", ChartLanguage::English}, std::pair{"sv_SE.UTF-8", ChartLanguage::Swedish}}) {
    SCOPED_TRACE(locale);
    const std::string file = Path("readme.svg");
    ASSERT_EQ(Plot(Q(Path("trace.csv")) + " --size 900x1100 -o " + Q(file),
                   std::string("LC_ALL=") + locale),
              0);
    const Svg svg = ReadSvg(file);
    for (const SvgText& t : svg.texts) {
      EXPECT_TRUE(QRectF(-0.5, -0.5, 901, 1101).contains(t.box)) << t.text.toStdString();
    }
    for (ChartKind kind : AllChartKinds()) {
      std::unique_ptr<QChart> chart(MakeChart(kind, history, PictureChartStyle(language, 900)));
      QStringList whole{chart->title()};
      for (QAbstractAxis* axis : chart->axes()) whole << axis->titleText();
      for (QLegendMarker* m : chart->legend()->markers()) whole << m->label();
      for (const QString& text : whole) EXPECT_TRUE(svg.Has(text)) << text.toStdString();
    }
  }
}

// Each value axis names its unit, and every line on it is of that unit.
TEST_F(Figures, EachValueAxisHoldsOneUnitAndNamesIt) {
  const std::map<QString, QStringList> lines = {
      {"km/h",
       {"Speed", "Requested speed", "Drive cycle speed", "Hastighet", "Begärd hastighet",
        "Körcykelns hastighet"}},
      {"%", {"Used capacity", "Förbrukad kapacitet"}},
      {"V", {"Battery voltage", "Batterispänning"}},
      {"A", {"Battery current", "Charging current", "Batteriström", "Laddström"}},
      {"kW", {"Engine power", "Motoreffekt"}},
      {"l", {"Fuel used", "Bränsle"}},
      {"g", {"CO", "NOx", "HC"}}};
  const RunHistory history = HistoryFromTrace(Path("trace.csv"));
  for (const ChartStyle& style :
       {PictureChartStyle(ChartLanguage::English, 900),
        PictureChartStyle(ChartLanguage::Swedish, 900), WindowChartStyle()}) {
    for (ChartKind kind : AllChartKinds()) {
      std::unique_ptr<QChart> chart(MakeChart(kind, history, style));
      for (QAbstractSeries* s : chart->series()) {
        auto* line = qobject_cast<QLineSeries*>(s);
        if (!line) continue;  // the band of charging spans the plot's height
        const QString title = line->attachedAxes().back()->titleText();
        const auto unit = std::find_if(lines.begin(), lines.end(), [&](const auto& u) {
          return u.second.contains(line->name());
        });
        ASSERT_NE(unit, lines.end()) << line->name().toStdString();
        EXPECT_TRUE(title.endsWith("(" + unit->first + ")"))
            << title.toStdString() << " holds " << line->name().toStdString();
      }
    }
  }
}

TEST_F(Figures, TheLegendNamesOnlyWhatTheInputHolds) {
  struct Case {
    std::string input;
    QStringList named, unnamed;
  };
  const Case cases[] = {
      {"RESULT1.TXT",
       {"Speed", "Requested speed", "Battery voltage", "Battery current", "Engine power",
        "Fuel and emissions (not in the input)"},
       {"Drive cycle speed", "Used capacity", "Charging current", "Charging on", "Fuel used", "CO",
        "NOx", "HC", "Emissions (g)"}},
      {"RESULT2.TXT",
       {"Charging current", "Charging on", "Engine power", "CO", "NOx", "HC"},
       {"Speed", "Requested speed", "Drive cycle speed", "Used capacity", "Battery voltage",
        "Battery current", "Fuel used"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    ASSERT_EQ(Plot(Q(Path(c.input)) + " -o " + Q(Path("legend.svg"))), 0);
    const Svg svg = ReadSvg(Path("legend.svg"));
    for (const QString& name : c.named) EXPECT_TRUE(svg.Has(name)) << name.toStdString();
    for (const QString& name : c.unnamed) EXPECT_FALSE(svg.Has(name)) << name.toStdString();
  }
}

TEST(ReduceToColumns, KeepsEveryColumnsEndsAndExtremes) {
  std::mt19937 random(7);
  std::normal_distribution<double> noise(0, 1);
  const std::tuple<const char*, std::size_t, int, std::function<double(std::size_t)>> cases[] = {
      {"noise", 100000, 500, [&](std::size_t) { return noise(random); }},
      {"one spike", 50000, 300, [](std::size_t i) { return i == 31337 ? 1e3 : 0.0; }},
      {"a dip at the end", 9000, 700, [](std::size_t i) { return i == 8999 ? -5.0 : 1.0; }},
      {"steps", 30000, 200, [](std::size_t i) { return static_cast<double>(i / 1000 % 3); }},
      {"fewer than 4 a column", 1200, 300, [&](std::size_t) { return noise(random); }},
  };
  for (const auto& [name, n, columns, y] : cases) {
    SCOPED_TRACE(name);
    std::vector<QPointF> line;
    for (std::size_t i = 0; i < n; ++i) line.emplace_back(0.04 * static_cast<double>(i), y(i));
    const double t0 = line.front().x(), t1 = line.back().x(), width = (t1 - t0) / columns;
    const std::vector<QPointF> kept = ReduceToColumns(line, t0, t1, columns);
    ASSERT_LE(kept.size(), 4u * static_cast<std::size_t>(columns));
    EXPECT_EQ(kept.front(), line.front());
    EXPECT_EQ(kept.back(), line.back());
    // Points of the line in their order, with every column's lowest and
    // highest value (a column inside a level stretch may lose its points).
    EXPECT_TRUE(std::includes(line.begin(), line.end(), kept.begin(), kept.end(),
                              [](QPointF a, QPointF b) { return a.x() < b.x(); }));
    std::map<long, std::pair<double, double>> all, left;
    auto note = [&](std::map<long, std::pair<double, double>>& m, QPointF p) {
      const long c = std::min<long>(static_cast<long>((p.x() - t0) / width), columns - 1);
      auto [it, fresh] = m.try_emplace(c, p.y(), p.y());
      it->second = {std::min(it->second.first, p.y()), std::max(it->second.second, p.y())};
    };
    for (QPointF p : line) note(all, p);
    for (QPointF p : kept) note(left, p);
    for (const auto& [c, range] : all) {
      EXPECT_EQ(left.count(c) ? left[c] : std::pair(range.first, range.first), range) << c;
    }
  }
}

// A long run (UDDS at dt 0.04 s: 34 000 steps): the SVG of all four charts
// stays under 512 kB (4.6 MB before), and the battery current, the most
// restless line, has at most 4 points a pixel column and still reaches the
// run's true highest and lowest values.
TEST(PlotFigure, ALongRunGivesASmallSvgThatReachesItsExtremes) {
  TempData data;
  auto run = [&](std::vector<std::string> args) {
    std::ostringstream out, err;
    for (const char* s : {"cycleType=T", "Ttidd=UDDS.CYK", "timeMode=D", "dt=0.04",
                          "fullTime=100000", "fullLength=1000000"}) {
      args.insert(args.begin(), {"--set", s});
    }
    args.push_back(data.folder());
    ASSERT_EQ(RunBatch(args, out, err), 0) << err.str();
  };
  const std::string plot = "LC_ALL=C '" DRIVANTO_PLOT_PROGRAM "' ";
  run({"--trace", data.path("udds.csv")});
  ASSERT_EQ(Shell(plot + Q(data.path("udds.csv")) + " -o " + Q(data.path("udds.svg"))), 0);
  EXPECT_LT(std::filesystem::file_size(data.path("udds.svg")), 512u * 1024);

  run({"--trace-vars", "ttot,Iaba", "--trace", data.path("current.csv")});
  const RunHistory history = HistoryFromTrace(data.path("current.csv"));
  double low = INFINITY, high = -INFINITY;
  for (const Sample& s : history.samples()) {
    low = std::min(low, s[static_cast<std::size_t>(Quantity::Current)]);
    high = std::max(high, s[static_cast<std::size_t>(Quantity::Current)]);
  }
  ASSERT_GT(history.samples().size(), 30000u);
  ASSERT_EQ(Shell(plot + Q(data.path("current.csv")) + " --charts battery --size 1000x700 -o " +
                  Q(data.path("current.svg"))),
            0);
  const Svg svg = ReadSvg(data.path("current.svg"));
  const auto line =
      std::max_element(svg.paths.begin(), svg.paths.end(),
                       [](const auto& a, const auto& b) { return a.size() < b.size(); });
  ASSERT_NE(line, svg.paths.end());
  EXPECT_LE(line->size(), 4u * 1000);
  // The value axis: its ends where the level grid lines end, its numbers
  // those alone on their row (the time axis's share theirs).
  double top = INFINITY, bottom = -INFINITY, axisLow = INFINITY, axisHigh = -INFINITY;
  for (const auto& p : svg.polylines) {
    if (p.size() == 2 && p[0].y() == p[1].y() && std::fabs(p[1].x() - p[0].x()) > 500) {
      top = std::min(top, p[0].y());
      bottom = std::max(bottom, p[0].y());
    }
  }
  std::map<double, std::vector<double>> rows;
  for (const SvgText& t : svg.texts) {
    double v;
    if (NumberOf(t.text, &v)) rows[t.anchor.y()].push_back(v);
  }
  for (const auto& [y, numbers] : rows) {
    if (numbers.size() > 1) continue;
    axisLow = std::min(axisLow, numbers[0]);
    axisHigh = std::max(axisHigh, numbers[0]);
  }
  const double pixel = (axisHigh - axisLow) / (bottom - top);
  auto valueAt = [&](double y) { return axisLow + (bottom - y) * pixel; };
  const auto [highest, lowest] = std::minmax_element(
      line->begin(), line->end(), [](QPointF a, QPointF b) { return a.y() < b.y(); });
  EXPECT_NEAR(valueAt(highest->y()), high, pixel);
  EXPECT_NEAR(valueAt(lowest->y()), low, pixel);
}

// On a short run or a narrow range of values, no two ticks of an axis show
// the same number, the numbers grow along it, and both its ends carry one.
TEST_F(Figures, TicksOfAShortRunAreNeverTheSameNumber) {
  const double cases[][3] = {
      // seconds, speed from, to (m/s)
      {2, 0, 0.08}, {0.5, 0, 28}, {7, -0.3, 0.3}, {3.3, 10, 10.0004}, {1e5, 0, 1}, {5, 1, 1}};
  for (const auto& [seconds, low, high] : cases) {
    SCOPED_TRACE(std::to_string(seconds) + " s, " + std::to_string(low) + " m/s");
    std::ofstream(Path("short.csv")) << "ttot_s,v_m_per_s\n";
    for (int i = 0; i <= 40; ++i) {
      std::ofstream(Path("short.csv"), std::ios::app)
          << seconds * i / 40 << "," << (i % 2 ? high : low) << "\n";
    }
    ASSERT_EQ(Plot(Q(Path("short.csv")) + " --charts speed --size 900x400 -o " + Q(Path("s.svg"))),
              0);
    const Svg svg = ReadSvg(Path("s.svg"));
    // The plot's edges, where the grid lines end.
    double left = INFINITY, right = -INFINITY, top = INFINITY, bottom = -INFINITY;
    for (const auto& p : svg.polylines) {
      if (p.size() == 2 && p[0].x() == p[1].x() && std::fabs(p[1].y() - p[0].y()) > 100) {
        top = std::min({top, p[0].y(), p[1].y()});
        bottom = std::max({bottom, p[0].y(), p[1].y()});
      } else if (p.size() == 2 && p[0].y() == p[1].y() && std::fabs(p[1].x() - p[0].x()) > 300) {
        left = std::min({left, p[0].x(), p[1].x()});
        right = std::max({right, p[0].x(), p[1].x()});
      }
    }
    // The time axis's numbers share a row, left to right; the speed axis's
    // are one a row, from the bottom up.
    std::map<double, std::vector<SvgText>> rows;
    for (const SvgText& t : svg.texts) {
      double v;
      if (NumberOf(t.text, &v)) rows[t.anchor.y()].push_back(t);
    }
    std::vector<SvgText> times, speeds;
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
      if (it->second.size() > 1) {
        times = it->second;
      } else {
        speeds.push_back(it->second[0]);
      }
    }
    std::sort(times.begin(), times.end(),
              [](const SvgText& a, const SvgText& b) { return a.anchor.x() < b.anchor.x(); });
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
    auto within = [](double from, double to, double at) { return from - 1 <= at && at <= to + 1; };
    EXPECT_TRUE(within(times.front().box.left(), times.front().box.right(), left));
    EXPECT_TRUE(within(times.back().box.left(), times.back().box.right(), right));
    EXPECT_TRUE(within(speeds.front().box.top(), speeds.front().box.bottom(), bottom));
    EXPECT_TRUE(within(speeds.back().box.top(), speeds.back().box.bottom(), top));
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
  const Svg svg = ReadSvg(Path("resumed.svg"));
  std::size_t lines = 0, points = 0;
  for (const auto& path : svg.paths) {
    if (path.size() < 50) continue;
    ++lines;
    points += path.size();
    for (std::size_t i = 1; i < path.size(); ++i) EXPECT_GE(path[i].x(), path[i - 1].x());
  }
  EXPECT_EQ(lines, 2u);
  EXPECT_EQ(points, 202u);
  EXPECT_EQ(std::count_if(svg.texts.begin(), svg.texts.end(),
                          [](const SvgText& t) { return t.text == "Battery current"; }),
            1);
}

// The picture never replaces what it is drawn from; one that cannot be
// written whole leaves the earlier picture as it was; the program's own
// message names the file.
TEST_F(Figures, APictureThatCannotBeWrittenIsAnError) {
  namespace fs = std::filesystem;
  fs::copy_file(Path("trace.csv"), Path("trace.svg"), fs::copy_options::overwrite_existing);
  fs::remove(Path("onto-result.png"));
  fs::create_symlink(Path("RESULT2.TXT"), Path("onto-result.png"));
  std::ofstream(Path("earlier.svg")) << "earlier";
  struct Case {
    std::string limit, args, named, words, kept;
  };
  const Case cases[] = {
      {"", Q(Path("trace.svg")) + " -o " + Q(Path("trace.svg")), Path("trace.svg"), "the trace",
       Path("trace.svg")},
      {"",
       Q(Path("RESULT1.TXT")) + " " + Q(Path("RESULT2.TXT")) + " -o " + Q(Path("onto-result.png")),
       Path("onto-result.png"), "result file 2", Path("RESULT2.TXT")},
      // ulimit -f counts kilobytes: the picture is larger than files may grow.
      {"ulimit -f 16; ", Q(Path("trace.csv")) + " -o " + Q(Path("earlier.svg")),
       Path("earlier.svg"), "file too large", Path("earlier.svg")},
      {"", Q(Path("missing.csv")) + " -o " + Q(Path("earlier.svg")), Path("missing.csv"),
       "file not found", Path("earlier.svg")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.limit + c.args);
    const std::string kept = ReadFileBytes(c.kept), errors = Path("errors.txt");
    ASSERT_EQ(Shell("(" + c.limit + "env -u XDG_RUNTIME_DIR '" DRIVANTO_PLOT_PROGRAM "' " + c.args +
                    ") 2>" + Q(errors)),
              1);
    const std::string message = ReadFileBytes(errors);
    EXPECT_EQ(message.rfind("drivanto-plot: " + c.named + ": ", 0), 0u) << message;
    EXPECT_NE(message.find(c.words), std::string::npos) << message;
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
    EXPECT_EQ(ReadFileBytes(c.kept), kept);
  }
}

}  // namespace
}  // namespace drivanto
