// Seeing a run: the chart window of the menu "Diagram" while the run goes
// on, drivanto-plot and drivanto-batch --plot without a window, and a drive
// recorded in the window and replayed by the batch runner to the same rows.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QChart>
#include <QChartView>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QSvgGenerator>
#include <QTabWidget>
#include <QTest>
#include <QValueAxis>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/Files.h"
#include "gui/FindWidget.h"
#include "gui/TempData.h"
#include "cli/Batch.h"
#include "qt/Charts.h"
#include "qt/MainWindow.h"

namespace drivanto {
namespace {

using testing::Find;
using testing::TempData;

int Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Whether a band of the image holds drawing beyond the background: many
// pixels that are neither white nor near-white.
int InkIn(const QImage& image, QRect band) {
  int ink = 0;
  for (int y = band.top(); y <= band.bottom(); ++y) {
    for (int x = band.left(); x <= band.right(); ++x) {
      const QRgb p = image.pixel(x, y);
      if (qRed(p) < 200 || qGreen(p) < 200 || qBlue(p) < 200) ++ink;
    }
  }
  return ink;
}

// Under a Swedish locale, so the numbers have the decimal comma.
TEST(Charts, TheDiagramWindowFollowsTheRun) {
  struct SwedishNumbers {
    SwedishNumbers() { QLocale::setDefault(QLocale(QLocale::Swedish, QLocale::Sweden)); }
    ~SwedishNumbers() { QLocale::setDefault(before); }
    const QLocale before;
  } swedish;
  TempData data;
  MainWindow window(WindowOptions{data.folder(), true});
  window.setMessageSink([](const QString& m) { ADD_FAILURE() << m.toStdString(); });
  ASSERT_TRUE(window.StartUpSequence());
  window.show();
  QTest::mouseClick(Find<QPushButton>(window, "startButton"), Qt::LeftButton);
  window.timer().stop();
  for (int i = 0; i < 200; ++i) window.TimerTick();
  window.action("Diagram")->trigger();
  auto* charts = window.findChild<QWidget*>("chartsWindow");
  ASSERT_NE(charts, nullptr);
  EXPECT_TRUE(charts->isVisible());
  const char* titles[] = {"Hastighet", "Batteri", "Laddning och motor", "Bränsle och utsläpp"};
  int i = 0, comma = 0, point = 0;
  for (const char* name : {"chart_speed", "chart_battery", "chart_charging", "chart_emissions"}) {
    auto* view = charts->findChild<QChartView*>(name);
    ASSERT_NE(view, nullptr) << name;
    EXPECT_EQ(view->chart()->title(), QString::fromUtf8(titles[i++]));
    auto* series = qobject_cast<QLineSeries*>(view->chart()->series().front());
    ASSERT_NE(series, nullptr);
    EXPECT_EQ(series->count(), 200) << name;  // one point a step
    auto* time = qobject_cast<QValueAxis*>(view->chart()->axes(Qt::Horizontal).front());
    EXPECT_EQ(time->titleText(), "Tid (s)");
    // The numbers as drawn (the view into an SVG) with the decimal comma.
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator svg;
    svg.setOutputDevice(&buffer);
    QPainter painter(&svg);
    view->render(&painter);
    painter.end();
    const QString text = QString::fromUtf8(buffer.data());
    comma += static_cast<int>(text.count(QRegularExpression(R"(>[-−]?\d+,\d+</text>)")));
    point += static_cast<int>(text.count(QRegularExpression(R"(>-?\d+\.\d+</text>)")));
  }
  EXPECT_GT(comma, 0);
  EXPECT_EQ(point, 0);
  // More steps: the charts follow at their next redraw.
  for (int k = 0; k < 50; ++k) window.TimerTick();
  static_cast<ChartsWindow*>(charts)->Refresh();
  auto* speed = charts->findChild<QChartView*>("chart_speed");
  EXPECT_EQ(qobject_cast<QLineSeries*>(speed->chart()->series().front())->count(), 250);
  // The operating points, drawn once their page is in view: the engine's
  // over its map picture, the motor's over its efficiency.
  charts->findChild<QTabWidget*>()->setCurrentIndex(1);
  auto* engine = charts->findChild<QLabel*>("engineMap");
  auto* motor = charts->findChild<QLabel*>("motorMap");
  ASSERT_NE(engine, nullptr);
  ASSERT_NE(motor, nullptr);
  EXPECT_FALSE(engine->pixmap().isNull());
  const QImage motorImage = motor->pixmap().toImage();
  ASSERT_FALSE(motorImage.isNull());
  int black = 0, coloured = 0;
  for (int y = 0; y < motorImage.height(); ++y) {
    for (int x = 0; x < motorImage.width(); ++x) {
      const QRgb p = motorImage.pixel(x, y);
      black += p == qRgb(0, 0, 0);
      coloured += QColor(p).saturation() > 100;
    }
  }
  EXPECT_GT(black, 0);                                                // the points
  EXPECT_GT(coloured, motorImage.width() * motorImage.height() / 4);  // the map
}

class PlotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ostringstream out, err;
    ASSERT_EQ(RunBatch({"--set", "cycleType=T", "--set", "Ttidd=UDDS.CYK", "--set", "timeMode=D",
                        "--set", "dt=0.5", "--set", "fullTime=100000", "--set", "Spara=1100",
                        "--trace", data.path("trace.csv"), data.folder()},
                       out, err),
              0)
        << err.str();
  }
  TempData data;
};

TEST_F(PlotTest, APngOfEveryChartFromATraceAndFromResultFiles) {
  for (const std::string& input :
       {"'" + data.path("trace.csv") + "'",
        "'" + data.path("RESULT1.TXT") + "' '" + data.path("RESULT2.TXT") + "'"}) {
    SCOPED_TRACE(input);
    const std::string png = data.path("plot.png");
    ASSERT_EQ(Shell("'" DRIVANTO_PLOT_PROGRAM "' " + input + " --size 800x1000 -o '" + png + "'"),
              0);
    const QImage image(QString::fromStdString(png));
    ASSERT_EQ(image.size(), QSize(800, 1000));
    for (int chart = 0; chart < 4; ++chart) {
      EXPECT_GT(InkIn(image, QRect(0, chart * 250 + 10, 800, 230)), 2000) << "chart " << chart;
    }
  }
  // Two of the charts, in the order asked.
  const std::string png = data.path("two.png");
  ASSERT_EQ(Shell("'" DRIVANTO_PLOT_PROGRAM "' '" + data.path("trace.csv") +
                  "' --charts emissions,speed --size 600x600 -o '" + png + "'"),
            0);
  EXPECT_EQ(QImage(QString::fromStdString(png)).size(), QSize(600, 600));
}

TEST_F(PlotTest, AnSvgWithItsTitlesAndAxisLabels) {
  const std::string svg = data.path("plot.svg");
  ASSERT_EQ(Shell("'" DRIVANTO_PLOT_PROGRAM "' --lang sv '" + data.path("trace.csv") + "' -o '" +
                  svg + "'"),
            0);
  const std::string text = ReadFileBytes(svg);
  for (const char* words :
       {">Hastighet<", ">Batteri<", ">Laddning och motor<", ">Bränsle och utsläpp<", ">Tid (s)<",
        ">Hastighet (km/h)<", ">Kapacitet (%)<", ">Spänning (V)<", ">Ström (A)<", ">Effekt (kW)<",
        ">Bränsle (l)<", ">Utsläpp (g)<", ">Begärd hastighet<", ">Körcykelns hastighet<",
        ">Laddning på<"}) {
    EXPECT_NE(text.find(words), std::string::npos) << words;
  }
}

TEST_F(PlotTest, ErrorsOfThePlotProgram) {
  const std::string plot = "'" DRIVANTO_PLOT_PROGRAM "' ";
  EXPECT_EQ(Shell(plot + "'" + data.path("trace.csv") + "' -o x.bmp 2>/dev/null"), 2);
  EXPECT_EQ(Shell(plot + "'" + data.path("trace.csv") + "' --charts fog -o x.png 2>/dev/null"), 2);
  EXPECT_EQ(
      Shell(plot + "'" + data.path("nope.csv") + "' -o '" + data.path("x.png") + "' 2>/dev/null"),
      1);
  EXPECT_EQ(
      Shell(plot + "'" + data.path("CONS.VAL") + "' -o '" + data.path("x.png") + "' 2>/dev/null"),
      1);
}

TEST_F(PlotTest, TheBatchRunnersShortcut) {
  const std::string png = data.path("run.png");
  ASSERT_EQ(
      Shell("'" DRIVANTO_BATCH_PROGRAM "' --set timeMode=D --set dt=0.5 --max-steps 400 --plot '" +
            png + "' '" + data.folder() + "' >/dev/null"),
      0);
  const QImage image(QString::fromStdString(png));
  ASSERT_FALSE(image.isNull());
  EXPECT_GT(InkIn(image, QRect(0, 0, image.width(), image.height() / 4)), 2000);
  // The temporary trace is gone.
  for (const auto& e : std::filesystem::directory_iterator("/tmp")) {
    EXPECT_EQ(e.path().filename().string().rfind("drivanto-plot-trace-", 0), std::string::npos);
  }
}

// A drive in the window in real time, with keys and the mouse, recorded
// and replayed headless: the same result files, byte for byte.
TEST(DriveRecording, AReplayGivesTheWindowsResultFiles) {
  TempData data;
  const std::string script = data.path("drive.txt");
  MainWindow window(WindowOptions{data.folder(), false, script});  // the computer's clock
  window.setMessageSink([](const QString& m) { ADD_FAILURE() << m.toStdString(); });
  ASSERT_TRUE(window.StartUpSequence());
  window.show();
  State& s = window.sim().s;
  s.timeMode = 'R';
  s.outputFlags.Set(1, '1');
  s.outputFlags.Set(2, '1');
  QTest::mouseClick(Find<QPushButton>(window, "startButton"), Qt::LeftButton);
  window.timer().stop();
  QLineEdit* keys = Find<QLineEdit>(window, "keyBox");
  QWidget* surface = Find<QWidget>(window, "surface");
  for (int i = 1; i <= 300; ++i) {
    if (i == 40) QTest::keyClick(keys, '>');
    if (i == 80) QTest::keyClick(keys, 'M');
    if (i >= 80 && i % 20 == 0) {
      QTest::mouseMove(window.windowHandle(),
                       surface->mapTo(&window, QPoint(300 + i % 60, 100 + i % 90)));
    }
    if (i == 200) QTest::keyClick(keys, ' ');
    if (i == 230) QTest::keyClick(keys, '0');
    // Real time passes unevenly, and at least a millisecond between ticks as
    // between the window's timer's: back to back, each tick would wait for
    // its millisecond reading the clock thousands of times, more than a
    // script of this size holds on a fast machine.
    QTest::qWait(i % 7 == 0 ? 3 : 1);
    window.TimerTick();
  }
  const std::string windowRows1 = ReadFileBytes(s.Tresultat);
  const std::string windowRows2 = ReadFileBytes(s.Tresultatp);
  ASSERT_GT(windowRows1.size(), 300u * 100);
  std::ostringstream out, err;
  const std::string replay1 = data.path("REPLAY1.TXT"), replay2 = data.path("REPLAY2.TXT");
  ASSERT_EQ(RunBatch({"--script", script, "--set", "Tresultat=" + replay1, "--set",
                      "Tresultatp=" + replay2, "--max-steps", "300", data.folder()},
                     out, err),
            0)
      << err.str();
  EXPECT_TRUE(ReadFileBytes(replay1) == windowRows1) << "result file 1 differs";
  EXPECT_TRUE(ReadFileBytes(replay2) == windowRows2) << "result file 2 differs";
  // The script was written as the drive went: every tick's clock is there.
  const std::string text = ReadFileBytes(script);
  EXPECT_NE(text.find("\nclock 300:"), std::string::npos);
  EXPECT_NE(text.find("\nkey 40:>\n"), std::string::npos);
  EXPECT_NE(text.find("\nmouse "), std::string::npos);
}

}  // namespace
}  // namespace drivanto
