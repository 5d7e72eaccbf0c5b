// The window of "Diagram" as it costs and shows: no drawing while it is not
// shown, a redraw late in a long run no dearer than the plots' widths allow,
// the operating-point maps with their axes on the motor's own ranges, and a
// place beside the dashboard on the screen.

#include <gtest/gtest.h>

#include <QAction>
#include <QChart>
#include <QChartView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTest>
#include <QXYSeries>
#include <QTimer>
#include <cmath>

#include "gui/FindWidget.h"
#include "gui/TempData.h"
#include "qt/Charts.h"
#include "qt/MainWindow.h"

namespace drivanto {
namespace {

using testing::Find;
using testing::TempData;

// A step of a long run whose values never stay level, so that no point is
// left out for lying on a level stretch.
Sample Step(int i) {
  Sample s;
  s.fill(NAN);
  const double t = i * 0.04;
  auto set = [&](Quantity q, double v) { s[static_cast<std::size_t>(q)] = v; };
  set(Quantity::Time, t);
  set(Quantity::Speed, 50 + 30 * std::sin(t / 7) + (i % 7));
  set(Quantity::Requested, 50 + 30 * std::sin(t / 7));
  set(Quantity::CycleSpeed, 50 + 30 * std::sin(t / 9));
  set(Quantity::UsedCapacity, 40 + 10 * std::sin(t / 50) + (i % 3) * 0.1);
  set(Quantity::Voltage, 300 + (i % 11));
  set(Quantity::Current, 100 * std::sin(t) + (i % 5));
  set(Quantity::Charging, (i / 400) % 2);
  set(Quantity::ChargeCurrent, ((i / 400) % 2) * (20 + i % 4));
  set(Quantity::EnginePower, ((i / 400) % 2) * (25 + i % 6));
  set(Quantity::Fuel, t * 1e-4 + (i % 2) * 1e-6);
  set(Quantity::CO, t * 0.01 + (i % 3) * 1e-4);
  set(Quantity::NOx, t * 0.002 + (i % 5) * 1e-4);
  set(Quantity::HC, t * 0.001 + (i % 7) * 1e-4);
  set(Quantity::EngineSpeed, 3000);
  set(Quantity::EngineTorque, 80);
  set(Quantity::MotorSpeed, 1000 + i % 9000);
  set(Quantity::MotorTorque, 150 * std::sin(t));
  return s;
}

class ChartsWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window = std::make_unique<MainWindow>(WindowOptions{data.folder(), true});
    window->setMessageSink([](const QString& m) { ADD_FAILURE() << m.toStdString(); });
    ASSERT_TRUE(window->StartUpSequence());
  }
  void Fill(int from, int to) {
    for (int i = from; i < to; ++i) history.Record(Step(i));
  }
  // The most points a redraw may hand over: four a pixel column of each
  // plot for every series of its chart (the first, lowest, highest and last
  // of the column), and a band's four corners a stretch.
  static std::size_t Bound(const ChartsWindow& charts) {
    std::size_t bound = 0;
    for (QChartView* view : charts.findChildren<QChartView*>()) {
      const auto columns = static_cast<std::size_t>(view->chart()->plotArea().width()) + 1;
      bound += 4 * (columns + 2) * static_cast<std::size_t>(view->chart()->series().size());
    }
    return bound;
  }

  TempData data;
  std::unique_ptr<MainWindow> window;
  RunHistory history;
};

TEST_F(ChartsWindowTest, AClosedDiagramWindowDrawsNothing) {
  window->show();
  QTest::mouseClick(Find<QPushButton>(*window, "startButton"), Qt::LeftButton);
  window->timer().stop();
  for (int i = 0; i < 20; ++i) window->TimerTick();
  window->action("Diagram")->trigger();
  auto* charts = static_cast<ChartsWindow*>(window->findChild<QWidget*>("chartsWindow"));
  ASSERT_NE(charts, nullptr);
  const auto* timer = charts->findChild<QTimer*>();
  ASSERT_NE(timer, nullptr);
  EXPECT_TRUE(timer->isActive());
  const auto shown = charts->work().redraws;
  EXPECT_GE(shown, 1u);
  charts->close();
  EXPECT_FALSE(timer->isActive());
  const ChartsWindow::Work closed = charts->work();
  for (int i = 0; i < 30; ++i) window->TimerTick();
  charts->Refresh();
  QTest::qWait(450);  // longer than the redraw interval
  EXPECT_EQ(charts->work().redraws, closed.redraws);
  EXPECT_EQ(charts->work().points, closed.points);
  EXPECT_EQ(charts->work().maps, closed.maps);
  // Opened again, it shows the run as it is now.
  window->action("Diagram")->trigger();
  EXPECT_TRUE(timer->isActive());
  EXPECT_GT(charts->work().redraws, closed.redraws);
  auto* speed = charts->findChild<QChartView*>("chart_speed");
  EXPECT_EQ(qobject_cast<QXYSeries*>(speed->chart()->series().front())->count(), 50);
  window->timer().stop();
}

// Late in a run (20,000 steps kept) a redraw hands the toolkit no more
// points than the plots' widths can show, as early in it, and takes the
// points into the charts it has.
TEST_F(ChartsWindowTest, ARedrawLateInALongRunCostsWhatThePlotsCanShow) {
  ChartsWindow charts(window->sim(), history);
  charts.resize(1200, 860);
  charts.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&charts));
  std::size_t before = charts.work().points;
  for (const int steps : {2000, 8000, 20000}) {
    SCOPED_TRACE(steps);
    Fill(static_cast<int>(history.samples().size()), steps);
    ASSERT_EQ(history.samples().size(), static_cast<std::size_t>(steps));
    charts.Refresh();
    const std::size_t handed = charts.work().points - before;
    before = charts.work().points;
    EXPECT_GT(handed, 0u);
    EXPECT_LE(handed, Bound(charts));
    // The lines as the plots show them: no column of a plot holds more
    // than four points of a line.
    auto* speed = charts.findChild<QChartView*>("chart_speed");
    const auto* line = qobject_cast<QXYSeries*>(speed->chart()->series().front());
    EXPECT_LE(static_cast<double>(line->count()), 4 * (speed->chart()->plotArea().width() + 2));
  }
  // Once the charts have their lines, later redraws take the points into
  // them rather than making the charts anew.
  const auto made = charts.work().chartsMade;
  history.Clear();
  Fill(0, 20000);
  charts.Refresh();
  EXPECT_EQ(charts.work().chartsMade, made);
  // Nothing new, nothing drawn.
  const ChartsWindow::Work after = charts.work();
  charts.Refresh();
  EXPECT_EQ(charts.work().redraws, after.redraws);
  EXPECT_EQ(charts.work().points, after.points);
}

// The colour of the operating points' dots (black for the motor's) in an
// image: the mean height and the count of such pixels.
struct Dots {
  int count = 0;
  double y = 0, x = 0;
};
Dots BlackDots(const QImage& image, QRect inside) {
  Dots d;
  for (int y = inside.top(); y <= inside.bottom(); ++y) {
    for (int x = inside.left(); x <= inside.right(); ++x) {
      const QRgb p = image.pixel(x, y);
      if (qRed(p) < 40 && qGreen(p) < 40 && qBlue(p) < 40) {
        ++d.count;
        d.y += y;
        d.x += x;
      }
    }
  }
  if (d.count) {
    d.y /= d.count;
    d.x /= d.count;
  }
  return d;
}

TEST_F(ChartsWindowTest, TheMotorsMapShowsItsOwnSpeedsAndBrakingBelowZero) {
  const QSize size(500, 360);
  // The empty map: the frame, the numbers and the axis titles at its left
  // and bottom edges, dark on white.
  const QImage empty = MotorMapPoints(window->sim(), history, size);
  const QRect left(0, 0, 60, size.height() - 50), bottom(70, size.height() - 40, 400, 40);
  const int leftInk = BlackDots(empty, left).count, bottomInk = BlackDots(empty, bottom).count;
  EXPECT_GT(leftInk, 100) << "no numbers or title on the torque axis";
  EXPECT_GT(bottomInk, 100) << "no numbers or title on the speed axis";
  const QRect plot(70, 10, 400, size.height() - 70);
  ASSERT_EQ(BlackDots(empty, plot).count, 0);
  // A point driving, one braking at the same speed, and one at a speed
  // beyond the engine's top speed that the motor reaches.
  const struct {
    double rpm, torque;
  } points[] = {{3000, 120}, {3000, -120}, {10000, 60}};
  std::vector<Dots> dots;
  for (const auto& p : points) {
    RunHistory one;
    Sample s;
    s.fill(NAN);
    s[static_cast<std::size_t>(Quantity::Time)] = 1;
    s[static_cast<std::size_t>(Quantity::MotorSpeed)] = p.rpm;
    s[static_cast<std::size_t>(Quantity::MotorTorque)] = p.torque;
    one.Record(s);
    dots.push_back(BlackDots(MotorMapPoints(window->sim(), one, size), plot));
    ASSERT_GT(dots.back().count, 0) << p.rpm << " rpm, " << p.torque << " Nm not drawn";
  }
  EXPECT_LT(dots[0].y, size.height() / 2.0 - 10);  // driving: above the middle
  EXPECT_GT(dots[1].y, size.height() / 2.0 + 10);  // braking: below it
  EXPECT_NEAR(dots[0].x, dots[1].x, 1);
  EXPECT_GT(dots[2].x, dots[0].x + 50);
}

TEST_F(ChartsWindowTest, TheMapsFillTheirPage) {
  ChartsWindow charts(window->sim(), history);
  charts.resize(1200, 860);
  charts.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&charts));
  Fill(0, 500);
  charts.findChild<QTabWidget*>()->setCurrentIndex(1);
  for (const char* name : {"engineMap", "motorMap"}) {
    const auto* map = charts.findChild<QLabel*>(name);
    ASSERT_NE(map, nullptr);
    const QSize drawn = map->pixmap().size();
    EXPECT_GE(drawn.width(), charts.width() * 2 / 5) << name;
    EXPECT_GE(drawn.height(), charts.height() * 3 / 5) << name;
  }
  EXPECT_EQ(charts.work().maps, 2u);
}

TEST(PlaceBeside, TheChartWindowGoesBesideTheDashboardOnTheScreen) {
  const QSize wanted(1200, 860), least(360, 300);
  const struct {
    const char* what;
    QRect screen, main;
    QRect expected;
  } cases[] = {
      {"a large screen: to the right, level with the dashboard, at full size",
       QRect(0, 0, 2560, 1440), QRect(142, 169, 800, 625), QRect(942, 169, 1200, 860)},
      {"full HD: to the right, as wide as the room there",
       QRect(0, 0, 1920, 1050), QRect(142, 169, 800, 625), QRect(942, 169, 978, 860)},
      {"1366 x 768: the narrow room to the right, the screen's height",
       QRect(0, 0, 1366, 740), QRect(142, 110, 800, 625), QRect(942, 0, 424, 740)},
      {"a dashboard at the right edge: to its left", QRect(0, 0, 1920, 1080),
       QRect(1100, 100, 800, 625), QRect(0, 100, 1100, 860)},
      {"no room beside it: the corner that covers the least of it", QRect(0, 0, 1024, 768),
       QRect(100, 0, 800, 625), QRect(0, 0, 1024, 768)},
      {"a screen with a panel at its top and another screen to the left",
       QRect(-1280, 30, 1280, 994), QRect(-1240, 60, 800, 800), QRect(-440, 60, 440, 860)},
      {"more room below than to the right", QRect(0, 0, 1280, 1024), QRect(0, 0, 800, 600),
       QRect(0, 600, 1200, 424)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const QRect placed = PlaceBeside(c.screen, c.main, wanted, least);
    EXPECT_EQ(placed, c.expected);
    EXPECT_TRUE(c.screen.contains(placed)) << "off the screen";
    if (placed.width() >= least.width() && !placed.intersects(c.main)) continue;
    EXPECT_EQ(placed.size(), wanted.boundedTo(c.screen.size()));
  }
}

TEST_F(ChartsWindowTest, TheDiagramWindowOpensBesideTheDashboardOnItsScreen) {
  window->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  const QRect screen = window->screen()->availableGeometry();
  // Whole on the screen in each direction where it fits (with a title bar),
  // else at the screen's left or top.
  const QRect dashboard = window->frameGeometry();
  if (dashboard.width() <= screen.width()) {
    EXPECT_GE(dashboard.left(), screen.left());
    EXPECT_LE(dashboard.right(), screen.right());
  } else {
    EXPECT_EQ(dashboard.left(), screen.left());
  }
  if (dashboard.height() + 32 <= screen.height()) {
    EXPECT_GE(dashboard.top(), screen.top());
    EXPECT_LE(dashboard.bottom(), screen.bottom());
  } else {
    EXPECT_EQ(dashboard.top(), screen.top());
  }
  window->action("Diagram")->trigger();
  auto* charts = window->findChild<QWidget*>("chartsWindow");
  ASSERT_NE(charts, nullptr);
  EXPECT_TRUE(screen.contains(charts->frameGeometry()));
  window->timer().stop();
}

}  // namespace
}  // namespace drivanto
