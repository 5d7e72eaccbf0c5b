// The real window, driven offscreen through its controls as a user drives
// it: a click on START, ticks, keys typed into the key box, mouse moves, menu
// actions and clicks on the boxes, checked on the pixels of its surface and
// on the controls shown.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <sstream>

#include "base/Files.h"
#include "base/Rounding.h"
#include "gui/FindWidget.h"
#include "gui/TempData.h"
#include "cli/Batch.h"
#include "qt/MainWindow.h"
#include "state/Snapshot.h"

namespace drivanto {
namespace {

using testing::Find;
using testing::TempData;

QRgb Px(const MainWindow& w, int x, int y) { return w.surfaceImage().pixel(x, y); }
bool Is(QRgb p, int r, int g, int b) { return qRed(p) == r && qGreen(p) == g && qBlue(p) == b; }

// A key typed into the key box, where the keyboard's keys arrive.
void Type(MainWindow& w, QChar c) { QTest::keyClick(Find<QLineEdit>(w, "keyBox"), c.toLatin1()); }

// A click on START.
void PressStart(MainWindow& w) {
  QTest::mouseClick(Find<QPushButton>(w, "startButton"), Qt::LeftButton);
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window = std::make_unique<MainWindow>(WindowOptions{data.folder(), true});
    window->setMessageSink([this](const QString& m) { messages.push_back(m.toStdString()); });
    window->setTerminate([this](int code) { terminated = code; });
    ASSERT_TRUE(window->StartUpSequence());
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  }
  void Start() {
    PressStart(*window);
    window->timer().stop();  // the test ticks by hand
  }
  void Ticks(int n) {
    for (int i = 0; i < n; ++i) window->TimerTick();
  }
  State& s() { return window->sim().s; }
  QLineEdit* MessageBox() { return Find<QLineEdit>(*window, "messageBox"); }

  TempData data;
  std::unique_ptr<MainWindow> window;
  std::vector<std::string> messages;
  int terminated = 0;
};

TEST_F(WindowTest, StartUpReadsTheConstantsAndComposesTheTitle) {
  EXPECT_EQ(s().konsfil, data.path("CONS.VAL"));
  EXPECT_EQ(s().loadMode, "H");
  EXPECT_EQ(s().stegnr, 0);
  EXPECT_EQ(s().bilmodell, "BIL1");
  EXPECT_TRUE(window->windowTitle().contains("Bilmodell: BIL1"));
  EXPECT_TRUE(window->windowTitle().startsWith("Drivanto Ver 2.0    Student"));
  EXPECT_FALSE(window->timer().isActive());
  EXPECT_TRUE(messages.empty());
}

TEST_F(WindowTest, StartDrawsTheBackgroundAndRunsTheTimer) {
  PressStart(*window);
  EXPECT_TRUE(window->timer().isActive());
  EXPECT_TRUE(Find<QPushButton>(*window, "startButton")->isHidden());
  EXPECT_TRUE(Find<QLabel>(*window, "startPicture")->isHidden());
  // The blue band below the instruments, inside its outline.
  EXPECT_TRUE(Is(Px(*window, 10, 290), 0, 0, 255));
  EXPECT_TRUE(Is(Px(*window, 700, 283), 0, 0, 255));
  // The instrument area is black.
  EXPECT_TRUE(Is(Px(*window, 600, 150), 0, 0, 0));
  window->timer().stop();
}

TEST_F(WindowTest, TicksDrawTheSpeedBarFuelGaugeAndBonnet) {
  Start();
  Ticks(400);
  ASSERT_GT(s().v, 3.0);
  const int r = RoundInt(s().v * 14);
  EXPECT_TRUE(Is(Px(*window, r - 2, 30), 255, 0, 255)) << "speed bar inside";
  EXPECT_TRUE(Is(Px(*window, 5, 30), 255, 0, 255));
  EXPECT_TRUE(Is(Px(*window, r + 3, 30), 0, 0, 0)) << "erased beyond the speed";
  // Fuel gauge: a full tank reaches 120 pixels up from y 200.
  const int top = RoundInt(200 - s().fuelLeft * 120 / s().tankVolume);
  EXPECT_TRUE(Is(Px(*window, 25, top + 2), 79, 241, 55));
  EXPECT_TRUE(Is(Px(*window, 25, 198), 79, 241, 55));
  // The red bonnet.
  EXPECT_TRUE(Is(Px(*window, 430, 540), 255, 0, 0));
  EXPECT_TRUE(MessageBox()->isHidden());
}

TEST_F(WindowTest, KeysTypedIntoTheKeyBoxActForOneTick) {
  Start();
  Ticks(3);
  Type(*window, 'L');
  Type(*window, 'l');  // only the last key counts
  EXPECT_EQ(s().keyTyped, 'l');
  Ticks(1);
  EXPECT_EQ(s().slopeMode, 'L');
  EXPECT_DOUBLE_EQ(s().slope, -0.5);
  EXPECT_EQ(s().keyTyped, '.');
  EXPECT_TRUE(Find<QLineEdit>(*window, "keyBox")->text().isEmpty());
  Ticks(1);
  EXPECT_DOUBLE_EQ(s().slope, -0.5);
}

TEST_F(WindowTest, KeypadWithoutNumLockGivesDigits) {
  Start();
  // The key 8 of the keypad, NumLock off: the key "up" without a text.
  QTest::keyClick(Find<QLineEdit>(*window, "keyBox"), Qt::Key_Up, Qt::KeypadModifier);
  EXPECT_EQ(s().keyTyped, '8');
}

TEST_F(WindowTest, MouseMovesUpdateThePointerPosition) {
  // The mouse comes through the window system, as a user's mouse does; it
  // comes from elsewhere, since a move to where the pointer already is (from
  // an earlier test) is no move.
  const QWidget* surface = Find<QWidget>(*window, "surface");
  QTest::mouseMove(window->windowHandle(), surface->mapTo(window.get(), QPoint(300, 200)));
  QTest::mouseMove(window->windowHandle(), surface->mapTo(window.get(), QPoint(123, 45)));
  EXPECT_EQ(s().mouseX, 123);
  EXPECT_EQ(s().mouseY, 45);
}

TEST_F(WindowTest, QEndsTheRunAndLaterTicksDrawNothing) {
  Start();
  Ticks(5);
  Type(*window, 'Q');
  Ticks(1);
  EXPECT_LT(s().fullTime, s().ttot);
  const QImage before = window->surfaceImage().copy();
  const int32_t steps = s().stegnr;
  Ticks(3);
  EXPECT_EQ(s().stegnr, steps);
  EXPECT_EQ(window->surfaceImage(), before);
  EXPECT_EQ(s().resfil2status, '-');
}

TEST_F(WindowTest, EmptyTankStopsTheTimerWithBensinstopp) {
  s().stopAtEmptyTank = 'J';
  PressStart(*window);
  s().fuelLeft = -0.5;
  window->TimerTick();
  EXPECT_FALSE(window->timer().isActive());
  EXPECT_FALSE(MessageBox()->isHidden());
  EXPECT_EQ(MessageBox()->text(), QString("Bensinstopp"));
}

TEST_F(WindowTest, DrivingOntoTheVergeShowsDikeskorning) {
  Start();
  Ticks(2);
  s().sidlage = 400;
  Ticks(1);
  EXPECT_FALSE(MessageBox()->isHidden());
  EXPECT_EQ(MessageBox()->text(), QString::fromUtf8("Dikeskörning"));
}

TEST_F(WindowTest, StoppStartPausesAndResumes) {
  Start();
  window->timer().start();
  window->action("Stopp/Start")->trigger();
  EXPECT_EQ(s().paus, 1);
  EXPECT_FALSE(window->timer().isActive());
  window->action("Stopp/Start")->trigger();
  EXPECT_EQ(s().paus, 0);
  EXPECT_TRUE(window->timer().isActive());
  window->timer().stop();
}

TEST_F(WindowTest, ManualOpensAndClosesWithoutRedrawBeforeTicks) {
  window->action("Bruksanvisning")->trigger();
  QPlainTextEdit* manual = Find<QPlainTextEdit>(*window, "manual");
  EXPECT_FALSE(manual->isHidden());
  EXPECT_TRUE(manual->toPlainText().startsWith("                BRUKSANVISNING"));
  QTest::mouseClick(manual->viewport(), Qt::LeftButton);  // a click closes it
  EXPECT_TRUE(manual->isHidden());
  EXPECT_EQ(s().resfil2status, '-') << "no screen set-up before a run";
}

TEST_F(WindowTest, EfficiencyMapViewAndBackToBattery) {
  Start();
  Ticks(3);
  window->setFileChooser([this](const FileRequest& r) -> std::optional<QString> {
    EXPECT_EQ(r.title, QString::fromUtf8("Hämta musseldiagram"));
    return QString::fromStdString(data.path("BIL1/VGRAD.BMP"));
  });
  window->action("Musseldiagram")->trigger();
  EXPECT_EQ(s().outputFlags.At(4), 'M');
  // The map picture lies at (180,70); its axis origin is window pixel (218,254).
  EXPECT_TRUE(Is(Px(*window, 218, 254), 255, 255, 255));
  Ticks(2);
  // The dot at the engine's operating point blinks.
  const int x = s().mussx + 219, y = s().mussy + 55;
  const bool even = s().stegnr % 2 == 0;
  EXPECT_TRUE(Is(Px(*window, x, y), even ? 255 : 0, even ? 255 : 0, even ? 255 : 0));
  window->action(QString::fromUtf8("Batterivärden"))->trigger();
  EXPECT_EQ(s().outputFlags.At(4), 'B');
  EXPECT_TRUE(Find<QLineEdit>(*window, "mapScaleBox")->isHidden());
}

TEST_F(WindowTest, CancelledMapDialogChangesNothing) {
  window->setFileChooser([](const FileRequest&) { return std::optional<QString>(); });
  const std::string before = s().Mussfil;
  window->action("Musseldiagram")->trigger();
  EXPECT_EQ(s().outputFlags.At(4), '0');
  EXPECT_EQ(s().Mussfil, before);
}

TEST_F(WindowTest, AMissingMapPictureIsReportedOnceAndStopsTheTimer) {
  Start();
  window->timer().start();
  s().Mussfil = data.path("BIL1/NONE.BMP");
  window->action("Stopp/Start")->trigger();
  window->action("Stopp/Start")->trigger();
  EXPECT_FALSE(window->timer().isActive());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("NONE.BMP"), std::string::npos);
}

}  // namespace
}  // namespace drivanto

namespace drivanto {
namespace {

// A result file named like an input: START shows a message, the run is
// held and nothing is written.
TEST(WindowResultFiles, AResultFileNamedLikeAnInputHoldsTheRun) {
  testing::TempData data;
  const std::string constants = ReadFileBytes(data.path("CONS.VAL"));
  MainWindow window(WindowOptions{data.folder(), true});
  std::vector<std::string> messages;
  window.setMessageSink([&](const QString& m) { messages.push_back(m.toStdString()); });
  ASSERT_TRUE(window.StartUpSequence());
  window.sim().s.outputFlags.Set(1, '1');
  window.sim().s.Tresultat = data.path("CONS.VAL");
  PressStart(window);
  EXPECT_FALSE(window.timer().isActive());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("resultatfil 1 och konstantfilen är samma fil"),
            std::string::npos)
      << messages[0];
  EXPECT_EQ(ReadFileBytes(data.path("CONS.VAL")), constants);
  EXPECT_FALSE(std::filesystem::exists(data.path("RESULT2.TXT")));
  EXPECT_EQ(window.sim().s.stegnr, 0);
}

}  // namespace
}  // namespace drivanto
