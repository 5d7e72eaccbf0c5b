// The car's motion: driving resistance, the friction brake, the speed, the
// regenerated braking current and the distance.

#include <gtest/gtest.h>

#include "model_fixture.h"

namespace drivanto {
namespace {

using testing::Table1;

class Resistance : public testing::ModelTest {
 protected:
  Resistance() {
    // 100 N standing, 10 N more per m/s.
    s.Tford = Write("FORDON.TAB", Table1(1, {{0, 100}, {50, 600}, {1000, 600}}));
    s.vehicleMass = 1000;
    s.tableMass = 1000;
    s.cdA = 0.5;
    s.tableCdA = 0.5;
    s.slope = 0;
    s.vb = 0;
    s.v = 10;
    s.limitFactor = 1;
  }
};

TEST_F(Resistance, SlopeAddsItsShareOfTheWeight) {
  ResistanceStep(sim);
  EXPECT_DOUBLE_EQ(s.resistForce, 200);
  s.slope = 10;
  ResistanceStep(sim);
  EXPECT_DOUBLE_EQ(s.resistForce, 200 + 981);
  s.slope = -4;
  ResistanceStep(sim);
  EXPECT_DOUBLE_EQ(s.resistForce, 200 - 392.4);
}

TEST_F(Resistance, MeanSpeedTowardsTheRequestedSpeedAboveFiveMetresPerSecond) {
  s.vb = 5;  // 5 or less: the present speed alone
  ResistanceStep(sim);
  EXPECT_DOUBLE_EQ(s.resistForce, 200);
  s.vb = 20;
  ResistanceStep(sim);
  EXPECT_DOUBLE_EQ(s.resistForce, 100 + 10 * 15);  // vm = 10 + 10 / 2
  s.limitFactor = 0.5;
  ResistanceStep(sim);
  EXPECT_DOUBLE_EQ(s.resistForce, 100 + 10 * 12.5);  // vm = 10 + 10 x 0.5 / 2
}

TEST_F(Resistance, RollingPartScalesWithMassAndAirPartWithDragArea) {
  s.vehicleMass = 1500;
  s.cdA = 0.8;
  ResistanceStep(sim);
  const double air = 0.638 * 0.5 * 10 * 10;  // 31.9 N of the reference car
  EXPECT_DOUBLE_EQ(s.resistForce, (200 - air) * 1500 / 1000 + air * 0.8 / 0.5);
  // Without a reference mass the rolling part stays as the table has it.
  s.tableMass = 0;
  ResistanceStep(sim);
  EXPECT_DOUBLE_EQ(s.resistForce, (200 - air) + air * 0.8 / 0.5);
}

class Brake : public testing::ModelTest {
 protected:
  Brake() {
    s.controlMode = ' ';
    s.vehicleMass = 1000;
    s.brakeSteps = 2;
    s.dt = 0.5;
    s.resistForce = 300;
    s.maxBrakeForce = 9000;
    s.keyTyped = '.';
  }
};

TEST_F(Brake, SpeedControlBrakesWhenTenPercentTooFast) {
  s.v = 20;
  s.vb = 15;  // 16.5 < 20
  BrakeStep(sim);
  EXPECT_DOUBLE_EQ(s.brakeForce, 5 * 1000 / (2 * 0.5) - 300);
  s.v = 16;  // 16 < 16.5: no braking
  BrakeStep(sim);
  EXPECT_EQ(s.brakeForce, 0);
  s.v = 16.6;
  BrakeStep(sim);
  EXPECT_NEAR(s.brakeForce, 1.6 * 1000 / 1 - 300, 1e-9);
  // Clamped to the brake's range.
  s.v = 30;
  s.vb = 5;
  BrakeStep(sim);
  EXPECT_EQ(s.brakeForce, 9000);
  s.v = 20;
  s.vb = 15;
  s.resistForce = 6000;
  BrakeStep(sim);
  EXPECT_EQ(s.brakeForce, 0);
  // Cruise control brakes the same way.
  s.controlMode = '>';
  s.resistForce = 300;
  BrakeStep(sim);
  EXPECT_DOUBLE_EQ(s.brakeForce, 4700);
}

TEST_F(Brake, KeysBrakeByTenthsAndRelease) {
  s.controlMode = 'I';
  s.v = 20;
  s.vb = 0;
  s.brakeForce = 0;
  for (int i = 0; i < 3; ++i) {
    s.keyTyped = '0';
    BrakeStep(sim);
  }
  EXPECT_DOUBLE_EQ(s.brakeForce, 0.3 * 9000);
  s.keyTyped = '.';
  BrakeStep(sim);
  EXPECT_DOUBLE_EQ(s.brakeForce, 2700);  // held without a key
  s.keyTyped = '5';
  BrakeStep(sim);
  EXPECT_EQ(s.brakeForce, 0);
  for (char key : {'1', 'C', 'z'}) {
    s.brakeForce = 2700;
    s.keyTyped = key;
    BrakeStep(sim);
    EXPECT_EQ(s.brakeForce, 0) << key;
  }
  for (char key : {'+', '{', ' '}) {
    s.brakeForce = 2700;
    s.keyTyped = key;
    BrakeStep(sim);
    EXPECT_EQ(s.brakeForce, 2700) << key;
  }
  // At most the maximum.
  s.brakeForce = 8500;
  s.keyTyped = '0';
  BrakeStep(sim);
  EXPECT_EQ(s.brakeForce, 9000);
  // The mouse's brake force passes unless a key is pressed.
  s.controlMode = 'M';
  s.brakeForce = 1234;
  s.keyTyped = '.';
  BrakeStep(sim);
  EXPECT_EQ(s.brakeForce, 1234);
}

class Speed : public testing::ModelTest {};

TEST_F(Speed, NewtonsLawWithAFloor) {
  s.v = 10;
  s.ratio = 263;
  s.mel = 80;
  s.nel = 2630;
  s.resistForce = 300;
  s.brakeForce = 100;
  s.vehicleMass = 1000;
  s.dt = 0.5;
  SpeedStep(sim);
  const double traction = 263 * 2 * 3.14 / 60 * 80;  // 2202 N
  EXPECT_DOUBLE_EQ(s.v, 10 + (traction - 400) / 1000 * 0.5);
  EXPECT_EQ(s.nelLimited, 2630);
  EXPECT_EQ(s.melUsed, 80);

  s.mel = 0;
  s.nel = 5;
  s.brakeForce = 90000;  // more than stops the car within the step
  SpeedStep(sim);
  EXPECT_EQ(s.v, 0.001);
  EXPECT_EQ(s.nelLimited, 10);
}

class Regen : public testing::ModelTest {
 protected:
  Regen() {
    // The share regenerated is the speed in m/s, in %, whatever the force.
    s.Tbr = Write("BROMS.TAB",
                  "TAB 1\r\nregenerated share\r\n 0 100000\r\n0 0 0\r\n100 100 100\r\n"
                  "100000 100 100\r\n");
    s.U = 300;
    s.maxCurrent = 200;
    s.v = 10;
    s.vPrev = 12;
  }
};

TEST_F(Regen, ShareOfTheBrakePowerAtTheMeanSpeed) {
  s.brakeForce = 1000;
  RegenStep(sim);
  // 11 % of 1000 N at 11 m/s.
  EXPECT_DOUBLE_EQ(s.regenPower, 11 * 1000 * 22 / 200.0);  // 1210 W
  EXPECT_DOUBLE_EQ(s.regenCurrent, 1210 / 300.0);
  // Capped at the current limit.
  s.maxCurrent = 2;
  RegenStep(sim);
  EXPECT_EQ(s.regenCurrent, 2);
  EXPECT_EQ(s.regenPower, 600);
  // 0.01 N or less regenerates nothing.
  s.brakeForce = 0.01;
  RegenStep(sim);
  EXPECT_EQ(s.regenPower, 0);
  EXPECT_EQ(s.regenCurrent, 0);
  s.brakeForce = 0.02;
  s.maxCurrent = 200;
  RegenStep(sim);
  EXPECT_DOUBLE_EQ(s.regenPower, 11 * 0.02 * 22 / 200);
}

TEST(Distance, MeanSpeedOverTheStep) {
  Sim sim;
  State& s = sim.s;
  SetDefaults(s);
  s.v = 10;
  s.vPrev = 12;
  s.dt = 0.5;
  s.mapPos = 100;
  s.ltot = 200;
  s.height = 1;
  s.slope = 4;
  DistanceStep(sim);
  EXPECT_DOUBLE_EQ(s.mapPos, 105.5);
  EXPECT_DOUBLE_EQ(s.ltot, 205.5);
  EXPECT_DOUBLE_EQ(s.height, 1 + 0.5 * 4 * 22 / 200);
  // A car standing still creeps 1 mm per second.
  s.v = 0.001;
  s.vPrev = 0.001;
  s.dt = 1;
  s.slope = 0;
  DistanceStep(sim);
  EXPECT_DOUBLE_EQ(s.ltot, 205.501);
  EXPECT_DOUBLE_EQ(s.height, 1.22);
}

}  // namespace
}  // namespace drivanto
