// The 40 ms tick: the end of a run, the step counter and the screen set-up,
// the key command's reset, the empty-tank stop, and a short run of a small
// car read from its own folder.

#include <gtest/gtest.h>

#include <climits>
#include <sstream>
#include <string>
#include <vector>

#include "base/Errors.h"
#include "model_fixture.h"
#include "run/Tick.h"

namespace drivanto {
namespace {

using testing::TempFolder;

class RecordingDisplay : public Display {
 public:
  void DrawBackground(Sim&) override { ++backgrounds; }
  void DrawInstruments(const Sim&, const RoadView&) override { ++instruments; }
  void SetTitle(const std::string& t) override { title = t; }
  void ShowMessage(const std::string& text) override { message = text; }
  void StopTimer() override { ++stops; }
  void EndTick() override { ++endTicks; }
  int backgrounds = 0;
  int instruments = 0;
  int stops = 0;
  int endTicks = 0;
  std::string title;
  std::string message;
};

std::size_t LineCount(const std::string& file) {
  std::istringstream in(TempFolder::ReadBytes(file));
  std::size_t n = 0;
  for (std::string line; std::getline(in, line);) ++n;
  return n;
}

class TickTest : public testing::ModelTest {
 protected:
  TickTest() {
    UseSmallCar();
    s.stegnr = 0;
    s.screenState = 'S';
    s.keyTyped = '.';
  }
  RecordingDisplay display;
};

TEST(RunEnd, ModeHundredFullTimeOrFullLength) {
  State s;
  SetDefaults(s);
  s.fullTime = 100;
  s.fullLength = 5000;
  s.ttot = 99.9;
  s.ltot = 4999.9;
  s.modeNo = 0;
  EXPECT_FALSE(RunEnded(s));
  s.modeNo = 100;
  EXPECT_TRUE(RunEnded(s));
  s.modeNo = 101;
  EXPECT_FALSE(RunEnded(s));
  s.ttot = 100;
  EXPECT_TRUE(RunEnded(s));
  s.ttot = 99.9;
  s.ltot = 5000;
  EXPECT_TRUE(RunEnded(s));
}

TEST_F(TickTest, EndedRunOnlyResetsTheResultFileStates) {
  s.outputFlags = String4("1111");
  OpenResultFiles(sim);
  ASSERT_EQ(s.resfil1status, 'K');
  s.stegnr = 7;
  s.screenState = 'G';
  s.ttot = 1000;  // the full time
  EXPECT_EQ(Tick(sim, &display), TickOutcome::Ended);
  EXPECT_EQ(s.resfil1status, '-');
  EXPECT_EQ(s.resfil2status, '-');
  EXPECT_EQ(s.stegnr, 7);
  EXPECT_EQ(s.ttot, 1000);
  EXPECT_EQ(display.instruments, 0);
  EXPECT_EQ(display.backgrounds, 0);
  EXPECT_EQ(display.endTicks, 0);
  // It keeps ticking without effect.
  EXPECT_EQ(Tick(sim, &display), TickOutcome::Ended);
  EXPECT_EQ(s.resfil1status, '-');
  EXPECT_EQ(s.stegnr, 7);
}

TEST_F(TickTest, FirstTickSetsUpTheScreenThenSteps) {
  EXPECT_EQ(Tick(sim, &display), TickOutcome::Ran);
  EXPECT_EQ(s.stegnr, 1);
  EXPECT_EQ(s.screenState, 'G');
  EXPECT_EQ(display.backgrounds, 1);
  EXPECT_EQ(display.instruments, 1);
  EXPECT_EQ(display.endTicks, 1);
  EXPECT_NE(display.title.find("Drivanto"), std::string::npos);
  EXPECT_DOUBLE_EQ(s.ttot, 0.11);
  EXPECT_EQ(s.resfil2status, 'K');
  EXPECT_EQ(LineCount(s.Tresultatp), 3u);  // header, rule, the first row

  EXPECT_EQ(Tick(sim, &display), TickOutcome::Ran);
  EXPECT_EQ(s.stegnr, 2);
  EXPECT_EQ(display.backgrounds, 1);
  EXPECT_EQ(display.instruments, 2);
  EXPECT_DOUBLE_EQ(s.ttot, 0.21);
  EXPECT_EQ(LineCount(s.Tresultatp), 4u);
}

TEST_F(TickTest, ScreenSetUpScalesTheAmmeterToTheLargestCurrent) {
  const struct {
    double electric, charging, setting, scale;
  } cases[] = {
      {200, 220, 70, 220},
      {250, 220, 70, 250},
      {200, 220, 300, 300},
      {200, 220, -20, 220},
  };
  for (const auto& c : cases) {
    s.maxCurrentElectric = c.electric;
    s.maxCurrentCharging = c.charging;
    s.chargeSetting = c.setting;
    ScreenSetup(sim, &display);
    EXPECT_EQ(s.Iskala, c.scale);
  }
  // The efficiency map in place of the battery instruments: no scale.
  s.outputFlags.Set(4, 'M');
  s.Iskala = 5;
  ScreenSetup(sim, &display);
  EXPECT_EQ(s.Iskala, 5);
  EXPECT_EQ(s.paus, 0);
}

TEST_F(TickTest, CounterWrappingBelowOneSetsUpTheScreenAgain) {
  s.stegnr = INT32_MAX;
  s.screenState = 'G';
  EXPECT_EQ(Tick(sim, &display), TickOutcome::Ran);
  EXPECT_EQ(s.stegnr, INT32_MIN);
  EXPECT_EQ(display.backgrounds, 1);
  EXPECT_EQ(s.screenState, 'G');
}

TEST_F(TickTest, KeyCommandIsClearedExceptCoasting) {
  s.keyTyped = 'x';
  Tick(sim, &display);
  EXPECT_EQ(s.keyTyped, '.');
  s.keyTyped = 'C';
  Tick(sim, &display);
  EXPECT_EQ(s.keyTyped, 'C');
  s.keyTyped = 'c';
  Tick(sim, &display);
  EXPECT_EQ(s.keyTyped, 'c');
  s.keyTyped = '5';
  Tick(sim, &display);
  EXPECT_EQ(s.keyTyped, '.');
}

TEST_F(TickTest, QuitKeyEndsTheRunAtTheNextTick) {
  Tick(sim, &display);
  s.keyTyped = 'Q';
  const double before = s.ttot;
  EXPECT_EQ(Tick(sim, &display), TickOutcome::Ran);
  // The driver-demand unit, after the time base, sets it once more.
  EXPECT_DOUBLE_EQ(s.ttot, before + 0.1);
  EXPECT_DOUBLE_EQ(s.fullTime, before + 0.1 - 1);
  EXPECT_EQ(s.resfil2status, 'K');
  const std::size_t rows = LineCount(s.Tresultatp);
  EXPECT_EQ(Tick(sim, &display), TickOutcome::Ended);
  EXPECT_EQ(s.resfil2status, '-');
  EXPECT_EQ(LineCount(s.Tresultatp), rows);
  // A later screen set-up makes the file anew.
  ScreenSetup(sim, &display);
  EXPECT_EQ(s.resfil2status, 'K');
  EXPECT_EQ(LineCount(s.Tresultatp), 2u);
}

TEST_F(TickTest, EmptyTankStopsTheTimerWhenAsked) {
  s.fuelLeft = -0.5;
  s.stopAtEmptyTank = 'N';
  EXPECT_EQ(Tick(sim, &display), TickOutcome::Ran);
  EXPECT_EQ(display.stops, 0);
  s.stopAtEmptyTank = 'J';
  EXPECT_EQ(Tick(sim, &display), TickOutcome::EmptyTank);
  EXPECT_EQ(display.message, "Bensinstopp");
  EXPECT_EQ(display.stops, 1);
  s.stopAtEmptyTank = 'j';
  EXPECT_EQ(Tick(sim, &display), TickOutcome::EmptyTank);
  EXPECT_EQ(display.stops, 2);
  // An empty tank that is not below zero does not stop.
  s.fuelLeft = 0;
  display.message.clear();
  EXPECT_EQ(Tick(sim, &display), TickOutcome::Ran);
  EXPECT_EQ(display.message, "");
}

TEST_F(TickTest, AverageConsumptionOverTheDistanceDriven) {
  s.fuelLeft = 34;
  s.mapPos = 50;
  s.medelforbr = -1;
  Tick(sim, &display);
  EXPECT_DOUBLE_EQ(s.medelforbr, (35 - 34) * 1000000 / s.ltot);
  // Below a metre of the cycle it keeps its value.
  s.mapPos = 0.5;
  s.medelforbr = -1;
  Tick(sim, &display);
  EXPECT_EQ(s.medelforbr, -1);
}

// ---- a run from start-up ----

std::string ConstantsFile() {
  const std::vector<std::string> lines = {
      "TID.CYK", "KARTA.CYK", "BIL", "BATTERI.TAB", "FORBR.TAB", "ELMOTOR.TAB", "FORDON.TAB",
      "VAXEL.TAB", "BROMS.TAB", "VGRAD.BMP", "RESERV1.TXT", "RESERV2.TXT", "RESULT1.TXT",
      "RESULT2.TXT", "Tester",
      // car constants (16 to 34)
      "200", "220", "-1", "-1", "70", "35", "3000", "90", "9000", "500", "-1", "-1", "230", "-1",
      "", "", "8.74", "0.75", "6000",
      // program constants (35 to 44)
      "1", "100000", "T", "1", "0111", "1", "J", "N", "N", "N",
      // start values (45 to 54)
      "", "", "", "", "50", "", "", "40", "60", "70",
      // modes (55 to 58)
      "", "D", "0.1", "A"};
  std::string text;
  for (const std::string& l : lines) text += l + "\r\n";
  return text;
}

class CarFolderRun : public ::testing::Test {
 protected:
  CarFolderRun() {
    dir.Write("CONS.VAL", ConstantsFile());
    dir.Write("BIL/FORDON.TAB",
              "Vehicle\r\nConst\r\nReference mass kg\r\n1000\r\nDrag area m2\r\n0.5\r\n" +
                  testing::Table1(1, {{0, 200}, {1000, 200}}));
    dir.Write("BIL/FORBR.TAB", "Const\r\nengine constant\r\n1\r\n" + testing::EngineTables());
    dir.Write("BIL/BATTERI.TAB",
              "Const\r\ncapacity Ah\r\n30\r\nvoltmeter V\r\n400\r\n" + testing::BatteryTables());
    dir.Write(
        "BIL/ELMOTOR.TAB",
        "Const\r\nbase rpm\r\n3000\r\nmaximum Nm\r\n180\r\nreference V\r\n-1\r\nloss\r\n0\r\n" +
            testing::Flat2(1, 90) + testing::Flat2(2, 80));
    dir.Write("BIL/VAXEL.TAB", testing::SingleRatioGears());
    dir.Write("BIL/BROMS.TAB", testing::Flat2(1, 40));
    dir.Write("TID.CYK", testing::kShortTimeCycle);
    dir.Write("KARTA.CYK", "0 10 0 0 1 0\r\n100000 0 0 0 1 0\r\n");
    sim.clock = &clock;
  }
  TempFolder dir;
  Sim sim;
  SimulatedClock clock;
  RecordingDisplay display;
};

TEST_F(CarFolderRun, StartUpReadsTheCarAndTheRunEndsAtItsFullTime) {
  StartUp(sim, dir.path());
  State& s = sim.s;
  EXPECT_EQ(s.Tbat, dir / "BIL/BATTERI.TAB");
  EXPECT_EQ(s.Ttidd, dir / "TID.CYK");
  EXPECT_EQ(s.vehicleMass, 1000);
  EXPECT_EQ(s.cdA, 0.5);
  EXPECT_EQ(s.batCapacity, 30);
  EXPECT_EQ(s.Uskala, 400);
  EXPECT_EQ(s.elmBaseRpm, 3000);
  EXPECT_EQ(s.elmMaxTorque, 180);
  EXPECT_EQ(s.elmRefVoltage, 300);  // the full battery's open-circuit voltage
  EXPECT_EQ(s.loadMode, "H");
  EXPECT_EQ(s.stegnr, 0);
  EXPECT_EQ(s.resfil1status, '-');
  EXPECT_EQ(s.resfil2status, '-');
  EXPECT_EQ(s.ttot, 0.01);
  EXPECT_EQ(s.fuelLeft, 35);
  EXPECT_EQ(s.outputFlags.Text(), "0110");

  Start(sim, &display);
  EXPECT_EQ(s.mussskala, 150);  // full load of 100 Nm
  EXPECT_EQ(s.omrakna, 0);
  EXPECT_EQ(s.resfil2status, 'K');
  EXPECT_FALSE(TempFolder::Exists(dir / "RESULT1.TXT"));
  EXPECT_NE(display.title.find("Bilmodell: BIL"), std::string::npos);

  int ran = 0;
  while (ran < 50 && Tick(sim, &display) == TickOutcome::Ran) ++ran;
  // 0.01 s at the start and 0.1 s per step: the tenth step reaches 1 s.
  EXPECT_EQ(ran, 10);
  EXPECT_NEAR(s.ttot, 1.01, 1e-9);
  EXPECT_EQ(s.resfil2status, '-');
  EXPECT_EQ(LineCount(dir / "RESULT2.TXT"), 12u);
  // The car has set off towards the 10 m/s of the cycle on its battery.
  EXPECT_GT(s.v, 1);
  EXPECT_LT(s.v, 10);
  EXPECT_GT(s.ltot, 0.5);
  EXPECT_EQ(s.chargeState, '0');
  EXPECT_EQ(s.fuelLeft, 35);
  EXPECT_GT(s.usedCapacity, 50);
  EXPECT_EQ(s.gear, 1);
}

}  // namespace
}  // namespace drivanto

namespace drivanto {
namespace {

// Writes down what it is told.
class LoggingObserver : public RunObserver {
 public:
  void BeforeTick(const Sim&, int64_t tick) override { log += "B" + std::to_string(tick) + " "; }
  void AfterTick(const Sim&, int64_t tick) override { log += "A" + std::to_string(tick) + " "; }
  void AfterStep(const Sim& sim, int64_t step) override {
    log += "S" + std::to_string(step) + "@" + std::to_string(sim.s.stegnr) + " ";
  }
  std::string log;
};

// Observers hear every tick, a step only when one was made, and a tick that
// fails still ends for them before its failure is passed on.
TEST_F(CarFolderRun, ObserversAreToldOfTicksAndSteps) {
  StartUp(sim, dir.path());
  Start(sim, &display);
  LoggingObserver first, second;
  const std::vector<RunObserver*> observers = {&first, &second};
  int64_t steps = 0;
  for (int i = 0; i < 12; ++i) ObservedTick(sim, &display, observers, &steps);
  EXPECT_EQ(steps, 10);  // the run ends at its full time after ten steps
  EXPECT_EQ(first.log.substr(0, 24), "B1 A1 S1@1 B2 A2 S2@2 B3");
  EXPECT_EQ(first.log.substr(first.log.size() - 23), "S10@10 B11 A11 B11 A11 ");
  EXPECT_EQ(first.log, second.log);

  // A cycle file gone: the tick that first reads it (the second) fails.
  StartUp(sim, dir.path());
  sim.s.Ttidd = dir / "GONE.CYK";
  Start(sim, &display);
  first.log.clear();
  steps = 0;
  EXPECT_THROW(
      {
        for (int i = 0; i < 3; ++i) ObservedTick(sim, &display, observers, &steps);
      },
      IoError);
  EXPECT_EQ(first.log, "B1 A1 S1@1 B2 A2 ");
  EXPECT_EQ(steps, 1);
}

}  // namespace
}  // namespace drivanto
