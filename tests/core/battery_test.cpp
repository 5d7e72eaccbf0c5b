// The traction battery: its voltage from the tables, the charging control with
// its two limits and the keys, and the balance of currents and used capacity.

#include <gtest/gtest.h>

#include "model_fixture.h"

namespace drivanto {
namespace {

using testing::ChargeVoltage;
using testing::DischargeVoltage;

class Battery : public testing::ModelTest {
 protected:
  Battery() {
    s.Tbat = Write("BATTERI.TAB", testing::BatteryTables());
    s.usedCapacity = 30;
    s.batTableCapacity = 0;
    s.batCapacity = 30;
  }
};

TEST_F(Battery, VoltageFromTheDischargeOrChargeTableBySign) {
  s.totalCurrent = 80;
  s.Ila = 20;
  s.regenCurrent = 10;
  BatteryVoltage(sim);
  EXPECT_DOUBLE_EQ(s.U, DischargeVoltage(50));  // 250 V

  s.totalCurrent = 10;
  s.Ila = 30;
  s.regenCurrent = 20;
  BatteryVoltage(sim);
  EXPECT_DOUBLE_EQ(s.U, ChargeVoltage(40));  // 360 V

  s.totalCurrent = 50;
  s.Ila = 30;
  s.regenCurrent = 20;
  BatteryVoltage(sim);
  EXPECT_DOUBLE_EQ(s.U, DischargeVoltage(0));  // a current of 0 is discharging
}

TEST_F(Battery, CurrentScaledToTheBatteryOfTheTables) {
  s.totalCurrent = 50;
  s.Ila = 0;
  s.regenCurrent = 0;
  s.batTableCapacity = 30;
  s.batCapacity = 60;
  BatteryVoltage(sim);
  EXPECT_DOUBLE_EQ(s.U, DischargeVoltage(25));  // 50 x 30 / 60
  s.batTableCapacity = 40;
  s.batCapacity = 20;
  BatteryVoltage(sim);
  EXPECT_DOUBLE_EQ(s.U, DischargeVoltage(100));
  s.totalCurrent = 0;
  s.Ila = 20;
  BatteryVoltage(sim);
  EXPECT_DOUBLE_EQ(s.U, ChargeVoltage(40));  // charging is scaled too

  // Without a table capacity (0, or not above 0.1) the real current is used.
  s.totalCurrent = 50;
  s.Ila = 0;
  s.batTableCapacity = 0;
  BatteryVoltage(sim);
  EXPECT_DOUBLE_EQ(s.U, DischargeVoltage(50));
  s.batTableCapacity = 0.1;
  BatteryVoltage(sim);
  EXPECT_DOUBLE_EQ(s.U, DischargeVoltage(50));
  // Nor is it scaled to a battery without a capacity.
  s.batTableCapacity = 30;
  s.batCapacity = 0;
  BatteryVoltage(sim);
  EXPECT_DOUBLE_EQ(s.U, DischargeVoltage(50));
}

class Charging : public testing::ModelTest {
 protected:
  Charging() {
    s.chargeOffLimit = 40;
    s.chargeOnLimit = 60;
    s.envOnLimit = 70;
    s.chargeSetting = 70;
    s.chargeState = '0';
    s.chargeManual = '0';
    s.keyTyped = '.';
    s.U = 250;
    s.ltot = 100;
    s.chargeStartDist = 5;  // taken already
  }
  void At(double used, char key = '.') {
    s.usedCapacity = used;
    s.keyTyped = key;
    ChargingControl(sim);
  }
};

TEST_F(Charging, HysteresisBetweenTheTwoLimits) {
  const struct {
    double used;
    char state;
    double ila;
  } steps[] = {
      {50, '0', 0},  {60, '0', 0},   {60.5, '+', 70}, {50, '+', 70},
      {40, '+', 70}, {39.9, '0', 0}, {50, '0', 0},    {61, '+', 70},
  };
  for (const auto& st : steps) {
    At(st.used);
    EXPECT_EQ(s.chargeState, st.state) << "used " << st.used;
    EXPECT_EQ(s.Ila, st.ila) << "used " << st.used;
  }
}

TEST_F(Charging, AverageConsumptionSinceTheChargingStarted) {
  s.chargeStartDist = 0;
  s.ltot = 2000;
  At(45);  // above the switch-off limit for the first time
  EXPECT_EQ(s.chargeStartDist, 2000);
  s.ltot = 3000;
  At(50);
  EXPECT_EQ(s.chargeStartDist, 2000);

  s.chargeState = '+';
  s.tankVolume = 35;
  s.fuelLeft = 34;
  s.ltot = 12000;
  s.medelforbr = -1;
  At(39);
  EXPECT_DOUBLE_EQ(s.medelforbr, 1 * 1000000.0 / 10000);  // 100 cl/mil
  EXPECT_EQ(s.chargeState, '0');

  // Not while charging is off, nor within the first metre.
  s.medelforbr = -1;
  At(39);
  EXPECT_EQ(s.medelforbr, -1);
  s.chargeState = '+';
  s.ltot = 2001;
  At(39);
  EXPECT_EQ(s.medelforbr, -1);
}

TEST_F(Charging, SensitiveAreaKeepsChargingOffBelowItsLimit) {
  s.envArea = 1;
  At(65);
  EXPECT_EQ(s.chargeState, '0');
  EXPECT_EQ(s.Ila, 0);
  At(71);
  EXPECT_EQ(s.chargeState, '+');
  EXPECT_EQ(s.Ila, 70);
  At(65);
  EXPECT_EQ(s.chargeState, '0');
  // Charging by hand is not overruled.
  s.chargeManual = '+';
  s.chargeState = '+';
  At(65);
  EXPECT_EQ(s.chargeState, '+');
  // Outside the area the normal limits apply.
  s.envArea = 0;
  s.chargeManual = '0';
  s.chargeState = '+';
  At(50);
  EXPECT_EQ(s.chargeState, '+');
}

TEST_F(Charging, NegativeSettingIsAConstantPower) {
  s.chargeSetting = -20;
  s.chargeState = '+';
  s.U = 250;
  At(50);
  EXPECT_DOUBLE_EQ(s.Ila, 20000.0 / 250);
  s.U = 320;
  At(50);
  EXPECT_DOUBLE_EQ(s.Ila, 20000.0 / 320);
  s.chargeState = '0';
  At(50);
  EXPECT_EQ(s.Ila, 0);
}

TEST_F(Charging, SwitchOnLimitAboveHundredDisablesCharging) {
  s.chargeOnLimit = 101;
  s.chargeState = '+';
  At(99);
  EXPECT_EQ(s.chargeState, '0');
  // The key turns it on for the step it is pressed in only.
  At(30, '+');
  EXPECT_EQ(s.chargeState, '+');
  EXPECT_EQ(s.chargeManual, '+');
  At(30);
  EXPECT_EQ(s.chargeState, '0');
  EXPECT_EQ(s.Ila, 70);  // set before the state went off; the step clears it
}

TEST_F(Charging, KeysTakeOverAndSpaceGivesBack) {
  At(30, '+');
  EXPECT_EQ(s.chargeState, '+');
  EXPECT_EQ(s.chargeManual, '+');
  At(30);  // below the switch-off limit, but by hand
  EXPECT_EQ(s.chargeState, '+');
  EXPECT_EQ(s.Ila, 70);
  At(70, '-');
  EXPECT_EQ(s.chargeState, '0');
  EXPECT_EQ(s.chargeManual, '+');
  At(70);  // above the switch-on limit, but by hand
  EXPECT_EQ(s.chargeState, '0');
  EXPECT_EQ(s.Ila, 0);
  At(70, ' ');
  EXPECT_EQ(s.chargeManual, '0');
  EXPECT_EQ(s.chargeState, '0');
  At(70);
  EXPECT_EQ(s.chargeState, '+');
}

class Capacity : public testing::ModelTest {};

TEST_F(Capacity, CurrentsEnergiesAndUsedCapacity) {
  s.auxPower = 500;
  s.U = 250;
  s.motorCurrent = 40;
  s.Ila = 10;
  s.regenCurrent = 5;
  s.dt = 2;
  s.batCapacity = 30;
  s.usedCapacity = 50;
  s.netEnergy = 1;
  s.driveEnergy = 2;
  BatteryCapacity(sim);
  EXPECT_DOUBLE_EQ(s.totalCurrent, 42);  // 500 / 250 + 40
  EXPECT_DOUBLE_EQ(s.Iaba, 27);          // 42 - 10 - 5
  EXPECT_DOUBLE_EQ(s.netEnergy, 1 + 250 * 27 * 2 / 3600000.0);
  EXPECT_DOUBLE_EQ(s.driveEnergy, 2 + 2 * 250 * 42 / 3600000.0);
  // 54000 As used of 108000, plus 54 As.
  EXPECT_DOUBLE_EQ(s.usedCapacity, (54000 + 54) * 100 / 108000.0);
}

TEST_F(Capacity, ChargedPastFullStopsAtAThousandthOfAPercent) {
  s.auxPower = 0;
  s.U = 300;
  s.motorCurrent = 0;
  s.Ila = 100;
  s.regenCurrent = 0;
  s.dt = 10;
  s.batCapacity = 30;
  s.usedCapacity = 0.01;
  BatteryCapacity(sim);
  EXPECT_EQ(s.Iaba, -100);
  EXPECT_EQ(s.usedCapacity, 0.001);
  EXPECT_DOUBLE_EQ(s.netEnergy, 300 * -100 * 10 / 3600000.0);

  // A battery without a capacity keeps its used share.
  s.batCapacity = 0;
  s.usedCapacity = 20;
  BatteryCapacity(sim);
  EXPECT_EQ(s.usedCapacity, 20);
}

}  // namespace
}  // namespace drivanto
