// The real window, driven offscreen: START, ticks, keys typed into the key
// box, mouse moves and menu actions, checked on the pixels of its surface.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <sstream>

#include "base/Files.h"
#include "base/Rounding.h"
#include "gui/TempData.h"
#include "shell/Batch.h"
#include "shell/qt/MainWindow.h"
#include "state/Snapshot.h"

namespace drivanto {
namespace {

using testing::TempData;

QRgb Px(const MainWindow& w, int x, int y) { return w.surfaceImage().pixel(x, y); }
bool Is(QRgb p, int r, int g, int b) { return qRed(p) == r && qGreen(p) == g && qBlue(p) == b; }

void Type(MainWindow& w, QChar c) {
  QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
  QApplication::sendEvent(w.edit1(), &press);
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window = std::make_unique<MainWindow>(WindowOptions{data.folder(), true});
    window->setMessageSink([this](const QString& m) { messages.push_back(m.toStdString()); });
    window->setTerminate([this](int code) { terminated = code; });
    ASSERT_TRUE(window->StartUpSequence());
  }
  void Start() {
    window->Button1Click();
    window->timer().stop();  // the test ticks by hand
  }
  void Ticks(int n) {
    for (int i = 0; i < n; ++i) window->Timer1Timer();
  }
  State& s() { return window->sim().s; }

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
  window->Button1Click();
  EXPECT_TRUE(window->timer().isActive());
  EXPECT_TRUE(window->button1()->isHidden());
  EXPECT_TRUE(window->image1()->isHidden());
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
  EXPECT_TRUE(window->edit2()->isHidden());
}

TEST_F(WindowTest, KeysTypedIntoTheKeyBoxActForOneTick) {
  Start();
  Ticks(3);
  Type(*window, 'L');
  Type(*window, 'l');  // only the last key counts
  EXPECT_EQ(s().tangent, 'l');
  Ticks(1);
  EXPECT_EQ(s().slopeMode, 'L');
  EXPECT_DOUBLE_EQ(s().slope, -0.5);
  EXPECT_EQ(s().tangent, '.');
  EXPECT_TRUE(window->edit1()->text().isEmpty());
  Ticks(1);
  EXPECT_DOUBLE_EQ(s().slope, -0.5);
}

TEST_F(WindowTest, KeypadWithoutNumLockGivesDigits) {
  Start();
  QKeyEvent up(QEvent::KeyPress, Qt::Key_Up, Qt::KeypadModifier, QString());
  QApplication::sendEvent(window->edit1(), &up);
  EXPECT_EQ(s().tangent, '8');
}

TEST_F(WindowTest, MouseMovesUpdateThePointerPosition) {
  QMouseEvent move(QEvent::MouseMove, QPointF(123, 45), QPointF(123, 45),
                   window->surfaceWidget()->mapToGlobal(QPointF(123, 45)), Qt::NoButton,
                   Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(window->surfaceWidget(), &move);
  EXPECT_EQ(s().musx, 123);
  EXPECT_EQ(s().musy, 45);
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
  window->Button1Click();
  s().fuelLeft = -0.5;
  window->Timer1Timer();
  EXPECT_FALSE(window->timer().isActive());
  EXPECT_FALSE(window->edit2()->isHidden());
  EXPECT_EQ(window->edit2()->text(), QString("Bensinstopp"));
}

TEST_F(WindowTest, DrivingOntoTheVergeShowsDikeskorning) {
  Start();
  Ticks(2);
  s().sidlage = 400;
  Ticks(1);
  EXPECT_FALSE(window->edit2()->isHidden());
  EXPECT_EQ(window->edit2()->text(), QString::fromUtf8("Dikeskörning"));
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
  EXPECT_FALSE(window->memo14()->isHidden());
  EXPECT_TRUE(window->memo14()->toPlainText().startsWith("                BRUKSANVISNING"));
  window->Memo14Click();
  EXPECT_TRUE(window->memo14()->isHidden());
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
  EXPECT_EQ(s().Spara.At(4), 'M');
  // The map picture lies at (180,70); its axis origin is window pixel (218,254).
  EXPECT_TRUE(Is(Px(*window, 218, 254), 255, 255, 255));
  Ticks(2);
  // The dot at the engine's operating point blinks.
  const int x = s().mussx + 219, y = s().mussy + 55;
  const bool even = s().stegnr % 2 == 0;
  EXPECT_TRUE(Is(Px(*window, x, y), even ? 255 : 0, even ? 255 : 0, even ? 255 : 0));
  window->action(QString::fromUtf8("Batterivärden"))->trigger();
  EXPECT_EQ(s().Spara.At(4), 'B');
  EXPECT_TRUE(window->edit5()->isHidden());
}

TEST_F(WindowTest, CancelledMapDialogChangesNothing) {
  window->setFileChooser([](const FileRequest&) { return std::optional<QString>(); });
  const std::string before = s().Mussfil;
  window->action("Musseldiagram")->trigger();
  EXPECT_EQ(s().Spara.At(4), '0');
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
  window.sim().s.Spara.Set(1, '1');
  window.sim().s.Tresultat = data.path("CONS.VAL");
  window.Button1Click();
  EXPECT_FALSE(window.timer().isActive());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("result file 1 and the constants file are the same file"),
            std::string::npos)
      << messages[0];
  EXPECT_EQ(ReadFileBytes(data.path("CONS.VAL")), constants);
  EXPECT_FALSE(std::filesystem::exists(data.path("RESULT2.TXT")));
  EXPECT_EQ(window.sim().s.stegnr, 0);
}

}  // namespace
}  // namespace drivanto
