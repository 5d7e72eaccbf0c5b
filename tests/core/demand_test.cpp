// Driver demand: the motor current and power asked for by the keys, the mouse,
// the drive cycle's current and power modes and the speed regulator.

#include <gtest/gtest.h>

#include "model_fixture.h"

namespace drivanto {
namespace {

using testing::Table1;

class Demand : public testing::ModelTest {
 protected:
  Demand() {
    // The reference vehicle needs 200 N at every speed.
    s.Tford = Write("FORDON.TAB", Table1(1, {{0, 200}, {1000, 200}}));
    s.U = 250;
    s.maxCurrent = 200;
    s.maxBrakeForce = 5000;
    s.vehicleMass = 1000;
    s.dt = 0.5;
    s.accelSteps = 1;
    s.slope = 0;
    s.tableCdA = 0;
    s.keyTyped = '.';
  }
  void Key(char key) {
    s.keyTyped = key;
    DriverDemandStep(sim);
  }
};

TEST_F(Demand, CurrentKeysStepByAFifthOfTheLimitWithinItsBounds) {
  s.controlMode = ' ';
  s.motorCurrent = 100;
  Key('I');
  EXPECT_EQ(s.controlMode, 'I');
  EXPECT_EQ(s.motorCurrent, 110);  // + 0.05 x 200
  EXPECT_EQ(s.motorPower, 110 * 250);
  EXPECT_EQ(s.vb, 0);
  s.motorCurrent = 195;
  Key('I');
  EXPECT_EQ(s.motorCurrent, 200);
  s.motorCurrent = 3;
  Key('i');
  EXPECT_EQ(s.motorCurrent, 0.1);  // below zero gives 0.1, not 0
  EXPECT_DOUBLE_EQ(s.motorPower, 0.1 * 250);
  // Without a key the current of mode I stays.
  Key('.');
  EXPECT_EQ(s.motorCurrent, 0.1);
}

TEST_F(Demand, RequestedSpeedKeysStayBetweenCreepAndForty) {
  s.controlMode = ' ';
  s.v = 10;
  s.vb = 40;
  Key('>');
  EXPECT_EQ(s.controlMode, '>');
  EXPECT_EQ(s.vb, 40);
  s.vb = 20;
  Key('>');
  EXPECT_EQ(s.vb, 21);
  s.vb = 0.5;
  Key('<');
  EXPECT_EQ(s.controlMode, '<');
  EXPECT_EQ(s.vb, 0.01);
  // Cruise control keeps its own value instead of the cycle's.
  s.vbCycle = 30;
  s.vb = 12;
  Key('.');
  EXPECT_EQ(s.vb, 12);
  // "F" returns to the cycle.
  Key('F');
  EXPECT_EQ(s.controlMode, ' ');
  EXPECT_EQ(s.vb, 30);
}

TEST_F(Demand, ZeroKeyClearsTheDemandAndKeepsTheMode) {
  s.controlMode = 'I';
  s.motorCurrent = 50;
  s.motorPower = 12500;
  Key('0');
  EXPECT_EQ(s.controlMode, 'I');
  EXPECT_EQ(s.motorCurrent, 0);
  EXPECT_EQ(s.motorPower, 0);
  // Q ends the run and keeps the mode as well.
  s.controlMode = 'J';
  s.ttot = 300;
  s.fullTime = 1000;
  s.vbCycle = 5;
  Key('q');
  EXPECT_EQ(s.controlMode, 'J');
  EXPECT_EQ(s.fullTime, 299);
  // A key clears a negative engine power.
  s.Ppic = -3;
  Key('Q');
  EXPECT_EQ(s.Ppic, 0);
}

TEST_F(Demand, PowerKeysStepByFiveHundredWatts) {
  s.controlMode = ' ';
  s.motorPower = 1000;
  Key('P');
  EXPECT_EQ(s.controlMode, 'P');
  EXPECT_EQ(s.motorPower, 1500);
  EXPECT_EQ(s.motorCurrent, 6);  // 1500 / 250
  s.motorPower = 300;
  Key('p');
  EXPECT_EQ(s.motorPower, 0);
  EXPECT_EQ(s.motorCurrent, 0);
  s.motorPower = 49800;
  Key('P');
  EXPECT_EQ(s.motorPower, 50000);  // at most 200 A x 250 V
  EXPECT_EQ(s.motorCurrent, 200);
}

TEST_F(Demand, MouseHeightSetsCurrentOrBrake) {
  s.controlMode = 'M';
  s.vbCycle = 20;
  const struct {
    int y;
    double current;
    double brake;
  } cases[] = {
      {0, 200, 0},                     // full current at the top
      {25, 160, 0},                    // 200 - 25 x 200 / 125
      {124, 1.6, 0},  {125, 0, 0},     // neither current nor brake
      {200, 0, 3000},                  // 5000 - 50 x 5000 / 125
      {250, 0, 5000}, {300, 0, 5000},  // capped
  };
  for (const auto& c : cases) {
    s.mouseY = c.y;
    s.brakeForce = 77;
    s.motorPower = 999;
    Key('.');
    EXPECT_NEAR(s.motorCurrent, c.current, 1e-9) << "y " << c.y;
    EXPECT_NEAR(s.brakeForce, c.brake, 1e-9) << "y " << c.y;
    EXPECT_NEAR(s.motorPower, c.current * 250, 1e-6) << "y " << c.y;
    EXPECT_EQ(s.vb, 0);
  }
}

TEST_F(Demand, MouseSteersOnlyWithRoadCurvesOutsideTheMiddle) {
  s.controlMode = 'M';
  s.mouseY = 125;
  s.vPrev = 40;
  s.dt = 0.5;
  s.roadCurves = 'J';
  // 0.005 x 40 x 0.5 = 0.1 per pixel beyond 330 or short of 310.
  const struct {
    int x;
    int kurs;
  } cases[] = {{450, 12}, {350, 2}, {190, -12}, {290, -2}, {331, 0}, {330, 0}, {320, 0}, {310, 0}};
  for (const auto& c : cases) {
    s.kurs = 0;
    s.mouseX = c.x;
    Key('.');
    EXPECT_EQ(s.kurs, c.kurs) << "x " << c.x;
  }
  s.roadCurves = 'N';
  s.kurs = 0;
  s.mouseX = 450;
  Key('.');
  EXPECT_EQ(s.kurs, 0);
}

TEST_F(Demand, CycleCurrentAndPowerModes) {
  s.U = 300;
  s.controlMode = 'J';
  s.vbCycle = 50;
  for (double v : {0.01, 10.0, 30.0}) {
    s.v = v;
    Key('.');
    EXPECT_EQ(s.motorCurrent, 50);
    EXPECT_EQ(s.motorPower, 15000);
    EXPECT_EQ(s.vb, 0);
  }
  s.controlMode = 'W';
  s.vbCycle = 10;
  Key('.');
  EXPECT_EQ(s.motorPower, 10000);
  EXPECT_DOUBLE_EQ(s.motorCurrent, 10000.0 / 300);
  EXPECT_EQ(s.limitFactor, 1.0);
}

TEST_F(Demand, RegulatorAsksForThePowerThatReachesTheRequestedSpeed) {
  s.controlMode = ' ';
  s.vbCycle = 15;
  s.v = 10;
  s.slope = 2;
  s.tableCdA = 0.5;
  s.accelSteps = 2;
  s.maxCurrent = 1000;
  s.elmEff = 0.5;
  Key('.');
  const double vm = (15 + 10) / 2.0;
  double f = 200 + 1000 * 9.81 * 2 / 100;
  f -= (15 + 10) * 0.5 * (15 + 10) / 4.0;
  const double power = ((15 - 10) * 1000 / (2 * 0.5) + f) * vm;  // 66475.9375 W
  EXPECT_EQ(s.vb, 15);
  EXPECT_NEAR(s.motorPower, power, 1e-6);
  EXPECT_NEAR(s.motorCurrent, power / 250, 1e-9);
  EXPECT_EQ(s.limitFactor, 1.0);
  EXPECT_EQ(s.elmEff, 1.0);

  // The speed-dependent offset.
  s.regulatorVariant = 'K';
  s.regulatorOffset = 100;
  Key('.');
  const double fk = f - 100 * ((10 - 2.8) * 0.73 / (10 + 20.8) + 1);
  EXPECT_NEAR(s.motorPower, ((15 - 10) * 1000 / (2 * 0.5) + fk) * vm, 1e-6);
  // The plain offset.
  s.regulatorVariant = ' ';
  Key('.');
  EXPECT_NEAR(s.motorPower, ((15 - 10) * 1000 / (2 * 0.5) + f - 100) * vm, 1e-6);
}

TEST_F(Demand, RegulatorCurrentCutToTheLimitSetsTheLimitFactor) {
  s.controlMode = ' ';
  s.vbCycle = 15;
  s.v = 10;
  s.maxCurrent = 100;
  Key('.');
  const double vm = 12.5;
  const double power = ((15 - 10) * 1000 / 0.5 + 200) * vm;  // 127500 W, 510 A
  EXPECT_NEAR(s.limitFactor, 100 / (power / 250), 1e-12);
  EXPECT_EQ(s.motorCurrent, 100);
  EXPECT_EQ(s.motorPower, 25000);

  // Slowing down: no negative demand.
  s.vbCycle = 5;
  s.v = 12;
  Key('.');
  EXPECT_EQ(s.motorCurrent, 0);
  EXPECT_EQ(s.motorPower, 0);
  EXPECT_EQ(s.limitFactor, 1.0);
}

}  // namespace
}  // namespace drivanto
