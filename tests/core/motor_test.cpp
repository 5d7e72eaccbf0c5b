// The gearbox and the traction motor: the gear table and the shift rule, and
// the motor's speed, torque and efficiency from the electric demand.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "base/Errors.h"
#include "model_fixture.h"

namespace drivanto {
namespace {

using testing::Flat2;

// Gear g: up-shift above 10 g m/s, down-shift below 10 g - 15 m/s, first
// efficiency 90 + g %, ratio 300 - 20 g rpm per m/s, second efficiency 98 %;
// gear 5 has a down-shift speed above its up-shift speed.
std::string GearTable() {
  std::string t;
  for (int g = 1; g <= 10; ++g) {
    const int up = 10 * g;
    const int down = (g == 5) ? 48 : 10 * g - 15;
    if (g == 5) {
      t += "40 " + std::to_string(down) + "\r\n";  // the group runs over two lines
      t += "  " + std::to_string(90 + g) + "\t" + std::to_string(300 - 20 * g) + " 98\r\n";
    } else {
      t += std::to_string(up) + " " + std::to_string(down) + " " + std::to_string(90 + g) + " " +
           std::to_string(300 - 20 * g) + " 98\r\n";
    }
  }
  return t;
}

class Gearbox : public testing::ModelTest {
 protected:
  Gearbox() { s.Tvx = Write("VAXEL.TAB", GearTable()); }
  int ShiftFrom(int gear, double v) {
    s.stegnr = 2;
    s.gear = static_cast<uint8_t>(gear);
    s.v = v;
    GearStep(sim);
    return s.gear;
  }
};

TEST_F(Gearbox, FirstStepReadsFiftyNumbersAndEngagesFirstGear) {
  s.stegnr = 1;
  s.gear = 6;
  s.v = 0.01;
  GearStep(sim);
  EXPECT_EQ(s.gear, 1);
  for (int g = 1; g <= 10; ++g) {
    EXPECT_EQ(s.upShiftSpeed[g], g == 5 ? 40 : 10 * g) << g;
    EXPECT_EQ(s.downShiftSpeed[g], g == 5 ? 48 : 10 * g - 15) << g;
    EXPECT_EQ(s.gearEffA[g], 90 + g) << g;
    EXPECT_EQ(s.gearRatio[g], 300 - 20 * g) << g;
    EXPECT_EQ(s.gearEffB[g], 98) << g;
  }
  // Not read again later.
  s.gearRatio[1] = 7;
  s.stegnr = 2;
  GearStep(sim);
  EXPECT_EQ(s.gearRatio[1], 7);
}

TEST_F(Gearbox, ShiftsOneGearByTheSpeedUsingTheGearAtEntry) {
  s.stegnr = 1;
  GearStep(sim);
  EXPECT_EQ(ShiftFrom(3, 31), 4);  // above 30
  EXPECT_EQ(ShiftFrom(3, 30), 3);
  EXPECT_EQ(ShiftFrom(3, 14), 2);  // below 15
  EXPECT_EQ(ShiftFrom(3, 15), 3);
  EXPECT_EQ(ShiftFrom(3, 1000), 4);  // one gear per step
  // Both rules hold for gear 5 (above 40, below 48): down wins; the test of
  // the down-shift is that of gear 5, not of the gear 6 just chosen (45).
  EXPECT_EQ(ShiftFrom(5, 46), 4);
  EXPECT_EQ(ShiftFrom(10, 1000), 10);
  EXPECT_EQ(ShiftFrom(1, 0.001), 1);
  // A gear number beyond the box engages its top gear first.
  EXPECT_EQ(ShiftFrom(14, 95), 10);
}

TEST_F(Gearbox, ShortOrMissingFileLeavesTheArrays) {
  s.upShiftSpeed.fill(7);
  s.gearRatio.fill(7);
  s.Tvx = Write("SHORT.TAB", "10 5 95 263 98\r\n20 15 96 200 98\r\n30 25 97\r\n");
  s.stegnr = 1;
  s.v = 0.01;
  GearStep(sim);
  EXPECT_EQ(s.gear, 1);
  EXPECT_EQ(s.upShiftSpeed[1], 10);
  EXPECT_EQ(s.gearRatio[2], 200);
  EXPECT_EQ(s.upShiftSpeed[3], 30);
  EXPECT_EQ(s.gearRatio[3], 7);
  EXPECT_EQ(s.upShiftSpeed[4], 7);

  s.upShiftSpeed.fill(7);
  s.Tvx = dir / "NONE.TAB";
  s.gear = 4;
  GearStep(sim);
  EXPECT_EQ(s.gear, 1);
  EXPECT_EQ(s.upShiftSpeed[1], 7);

  // A file that is there but cannot be read is an error that names it, not a
  // gearbox left silently as it was.
  for (const std::string& bad : {dir.Write("VX16.TAB", std::string("\xff\xfe" "1\0 \0", 6)),
                                 std::string(dir / "BIL")}) {
    std::filesystem::create_directories(dir / "BIL");
    s.Tvx = bad;
    try {
      GearStep(sim);
      ADD_FAILURE() << bad << " was taken";
    } catch (const IoError& e) {
      EXPECT_EQ(e.file(), bad);
    }
  }
}

// ---- the motor ----

const double kOmegaBase = 6.28 * 3000 / 60;  // 314 rad/s at the base speed
const double kGear = 0.0001 * 95 * 98;       // the two gear efficiencies

class Motor : public testing::ModelTest {
 protected:
  Motor() {
    // 90 % while driving, 80 % while regenerating, everywhere.
    s.Telm = Write("ELMOTOR.TAB", Flat2(1, 90) + Flat2(2, 80));
    s.Tbat = Write("BATTERI.TAB", testing::BatteryTables());
    s.gear = 1;
    s.gearRatio[1] = 263;
    s.gearEffA[1] = 95;
    s.gearEffB[1] = 98;
    s.elmBaseRpm = 3000;
    s.elmMaxTorque = 180;
    s.auxPower = 500;
    s.elmRefVoltage = 300;
    s.elmLossCoef = 0;
    s.U = 300;
    s.usedCapacity = 30;
    s.elmEff = 90;
    s.controlMode = ' ';
  }
  void Drive(double v, double current, double power) {
    s.v = v;
    s.motorCurrent = current;
    s.motorPower = power;
    MotorStep(sim);
  }
};

TEST_F(Motor, DrivingBelowBaseSpeedGivesTheTorqueAtBaseSpeed) {
  Drive(5, 100, 30000);
  EXPECT_EQ(s.ratio, 263);
  EXPECT_DOUBLE_EQ(s.nel, 5 * 263);
  EXPECT_DOUBLE_EQ(s.elmEff, 90);
  const double atBase = 0.9 * 30000 / kOmegaBase;  // 85.99 Nm at the motor
  EXPECT_DOUBLE_EQ(s.mel, atBase * kGear);
  Drive(8, 100, 30000);  // 2104 rpm, still below the base speed
  EXPECT_DOUBLE_EQ(s.mel, atBase * kGear);
  // Above the base speed: constant power.
  Drive(20, 100, 30000);
  EXPECT_DOUBLE_EQ(s.mel, 0.9 * 30000 / (6.28 * 5260 / 60) * kGear);
  EXPECT_EQ(s.motorCurrent, 100);
  EXPECT_EQ(s.motorPower, 30000);
}

TEST_F(Motor, TorqueLimitCutsTheDemandUnlessDrivenDirectly) {
  Drive(5, 300, 90000);  // 258 Nm asked
  const double f = 180 / (0.9 * 90000 / kOmegaBase);
  EXPECT_DOUBLE_EQ(s.motorCurrent, 300 * f);
  EXPECT_DOUBLE_EQ(s.motorPower, 90000 * f);  // 62800 W
  EXPECT_DOUBLE_EQ(s.totalCurrent, 500.0 / 300 + 300 * f);
  EXPECT_DOUBLE_EQ(s.U, testing::DischargeVoltage(s.totalCurrent));
  EXPECT_NEAR(s.mel, 180 * kGear, 1e-9);

  for (char mode : {'I', 'J', 'P', 'W'}) {
    s.controlMode = mode;
    s.U = 300;
    s.elmEff = 90;
    s.totalCurrent = 0;
    Drive(5, 300, 90000);
    EXPECT_EQ(s.motorCurrent, 300) << mode;
    EXPECT_EQ(s.motorPower, 90000) << mode;
    EXPECT_EQ(s.U, 300) << mode;
    EXPECT_EQ(s.totalCurrent, 0) << mode;
    EXPECT_DOUBLE_EQ(s.mel, 180 * kGear) << mode;  // capped all the same
  }
}

TEST_F(Motor, EfficiencyBelowOnePercentIsTakenAsTen) {
  // With 10 % the 600 kW asked make 191 Nm, above the limit.
  s.elmEff = 0.5;
  Drive(5, 2000, 600000);
  EXPECT_NEAR(s.motorPower, 180 * kOmegaBase / 0.1, 1e-6);  // 565200 W
  // 1 % is kept: 19 Nm, no cut.
  s.elmEff = 1;
  Drive(5, 2000, 600000);
  EXPECT_EQ(s.motorPower, 600000);
}

TEST_F(Motor, LossCorrectionForTheBatteryVoltage) {
  // No current-dependent loss: the map's efficiency stands.
  Drive(5, 100, 30000);
  EXPECT_DOUBLE_EQ(s.elmEff, 90);

  s.elmLossCoef = 0.001;
  s.U = 250;
  Drive(5, 100, 30000);
  const double p2 = 30000.0 * 30000.0;
  // 3000 W of the map, less 10 W at 300 V, plus 14.4 W at 250 V.
  const double loss = 10 * 30000 / 100.0 - 0.001 * p2 / (300 * 300) + 0.001 * p2 / (250 * 250);
  EXPECT_DOUBLE_EQ(s.elmEff, (30000 - loss) * 100 / 30000);
  EXPECT_DOUBLE_EQ(s.mel, 0.01 * s.elmEff * 30000 / kOmegaBase * kGear);

  // A loss below zero counts as none.
  s.elmLossCoef = 1;
  s.U = 400;
  Drive(5, 100, 30000);  // 3000 - 10000 + 5625 < 0
  EXPECT_DOUBLE_EQ(s.elmEff, 100);
}

TEST_F(Motor, NotDrivingTurnsThePowerIntoABrakingTorque) {
  // Below the base speed the current shrinks with the speed.
  s.elmEff = 80;
  Drive(5, 0, -6000);
  const double nel = 5 * 263.0;
  const double current = -6000.0 / 300 * nel / 3000;
  EXPECT_DOUBLE_EQ(s.motorCurrent, current);
  EXPECT_DOUBLE_EQ(s.motorPower, 300 * current);
  EXPECT_DOUBLE_EQ(s.elmEff, 80);
  const double omega = 6.28 * nel / 60;
  EXPECT_DOUBLE_EQ(s.mel, 100 * (300 * current) / (omega * 80) * 10000 / (95 * 98));

  // Above it the whole power counts.
  Drive(20, -5, -6000);
  EXPECT_DOUBLE_EQ(s.motorCurrent, -20);
  EXPECT_DOUBLE_EQ(s.motorPower, -6000);
  EXPECT_DOUBLE_EQ(s.mel, 100 * -6000.0 / (6.28 * 5260 / 60 * 80) * 10000 / (95 * 98));

  // No power: the regeneration map is read at torque 0, which gives the
  // lowest efficiency, and no torque results.
  Drive(20, 0, 0);
  EXPECT_EQ(s.elmEff, 0.001);
  EXPECT_EQ(s.mel, 0);
}

TEST_F(Motor, MissingGearTableGivesNoTorqueInsteadOfNaN) {
  s.gearRatio.fill(0);
  s.gearEffA.fill(0);
  s.gearEffB.fill(0);
  Drive(5, 0, -6000);
  EXPECT_EQ(s.nel, 0);
  EXPECT_TRUE(std::isfinite(s.mel));
  EXPECT_EQ(s.mel, 0);
  EXPECT_TRUE(std::isfinite(s.motorCurrent));
  EXPECT_TRUE(std::isfinite(s.elmEff));
  Drive(5, 100, 30000);
  EXPECT_TRUE(std::isfinite(s.mel));
  EXPECT_EQ(s.mel, 0);
}

}  // namespace
}  // namespace drivanto
