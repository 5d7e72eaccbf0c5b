// The generator set: the engine's operating point from the charging current,
// its torque limit, efficiency and fuel flow, the emissions, and the point in
// the efficiency-map picture.

#include <gtest/gtest.h>

#include <string>

#include "model_fixture.h"

namespace drivanto {
namespace {

using testing::EngineTables;
using testing::Table1;

double FuelFlow(double nic, double mic, double eff) {
  return nic * 2 * 3.14 / 60 * mic * 3.18e-8 * 100 / eff;
}

class Engine : public testing::ModelTest {
 protected:
  Engine() {
    // Full-load torque 100 Nm, efficiency 30 %, emission indices CO 2, NOx 5,
    // HC 1 everywhere.
    s.Tforb = Write("FORBR.TAB", EngineTables());
    s.Tbat = Write("BATTERI.TAB", testing::BatteryTables());
    s.loadMode = "H";
    s.usedCapacity = 30;
    s.fuelDensity = 0.75;
    s.dt = 0.5;
    // Keys that match no operating point used below.
    s.nicKey = -1;
    s.micKey = -1;
  }
};

TEST_F(Engine, GeneratorTorqueFromTheChargingPower) {
  s.chargeState = '+';
  s.genRpm = 3000;
  s.genEff = 90;
  s.chargeSetting = 70;
  s.Ila = 70;
  s.U = 300;
  GeneratorStep(sim);
  EXPECT_EQ(s.engineSpeed, 3000);
  EXPECT_DOUBLE_EQ(s.engineTorque, 70 * 100 * 300 * 60 / (3000 * 6.28) / 90);  // about 74.3 Nm
  EXPECT_EQ(s.Ila, 70);

  // A charging power: the current follows the voltage.
  s.chargeSetting = -20;
  s.U = 250;
  GeneratorStep(sim);
  EXPECT_DOUBLE_EQ(s.Ila, 80);
  EXPECT_DOUBLE_EQ(s.engineTorque, 80 * 100 * 250 * 60 / (3000 * 6.28) / 90);

  s.chargeState = '0';
  GeneratorStep(sim);
  EXPECT_EQ(s.engineSpeed, 0);
  EXPECT_EQ(s.engineTorque, 0);
}

TEST_F(Engine, GeneratorWithoutSpeedOrEfficiencyChargesNothing) {
  s.chargeState = '+';
  s.chargeSetting = 70;
  s.U = 300;
  s.genRpm = 0;
  s.genEff = 90;
  s.Ila = 70;
  GeneratorStep(sim);
  EXPECT_EQ(s.Ila, 0);
  EXPECT_EQ(s.engineTorque, 0);
  s.genRpm = 3000;
  s.genEff = 0;
  s.Ila = 70;
  GeneratorStep(sim);
  EXPECT_EQ(s.Ila, 0);
  EXPECT_EQ(s.engineTorque, 0);
}

TEST_F(Engine, StandingEngineIsNotEvaluated) {
  s.engineSpeed = 2;
  s.engineTorque = 50;
  s.icMaxTorque = 55;
  s.fuelFlow = 0.7;
  s.icEff = 12;
  EngineStep(sim);
  EXPECT_EQ(s.icMaxTorque, 55);
  EXPECT_EQ(s.fuelFlow, 0.7);
  EXPECT_EQ(s.icEff, 12);
}

TEST_F(Engine, TorqueAboveTheLimitCutsTheChargingCurrent) {
  s.engineSpeed = 3000;
  s.engineTorque = 150;
  s.Ila = 60;
  s.totalCurrent = 100;
  s.regenCurrent = 0;
  s.U = 999;
  EngineStep(sim);
  EXPECT_EQ(s.icMaxTorque, 100);
  EXPECT_DOUBLE_EQ(s.Ila, 40);  // 100 x 60 / 150
  EXPECT_DOUBLE_EQ(s.U, testing::DischargeVoltage(100 - 40));
  EXPECT_EQ(s.engineTorque, 100);
  EXPECT_EQ(s.icEff, 30);
  EXPECT_DOUBLE_EQ(s.fuelFlow, FuelFlow(3000, 100, 30));

  // These load modes keep the current; the torque is capped all the same.
  for (const char* mode : {"K", "Comp1", "Para1"}) {
    s.loadMode = mode;
    s.engineTorque = 150;
    s.Ila = 60;
    s.U = 999;
    EngineStep(sim);
    EXPECT_EQ(s.Ila, 60) << mode;
    EXPECT_EQ(s.U, 999) << mode;
    EXPECT_EQ(s.engineTorque, 100) << mode;
  }
}

TEST_F(Engine, UnmovedOperatingPointUsesTheCachedEfficiency) {
  s.engineSpeed = 3000;
  s.engineTorque = 80;
  s.icEff = 25;
  SavePreviousValues(sim);
  EXPECT_EQ(s.nicKey, 3000000);
  EXPECT_EQ(s.micKey, 80000);
  EXPECT_EQ(s.icEffKey, 25000);
  EngineStep(sim);
  EXPECT_DOUBLE_EQ(s.icEff, 25);
  EXPECT_DOUBLE_EQ(s.fuelFlow, FuelFlow(3000, 80, 25));

  // Moved by more than 0.001 Nm: looked up again.
  s.engineTorque = 80.002;
  EngineStep(sim);
  EXPECT_EQ(s.icEff, 30);
  EXPECT_DOUBLE_EQ(s.fuelFlow, FuelFlow(3000, 80.002, 30));
}

TEST_F(Engine, EfficiencyOfATenthOfAPercentOrLessGivesNoFuelFlow) {
  s.engineSpeed = 3000;
  s.engineTorque = 80;
  s.nicKey = 3000000;
  s.micKey = 80000;
  s.icEffKey = 100;  // 0.1 %
  s.fuelFlow = 5;
  EngineStep(sim);
  EXPECT_DOUBLE_EQ(s.icEff, 0.1);
  EXPECT_EQ(s.fuelFlow, 0);
  s.icEffKey = 101;
  EngineStep(sim);
  EXPECT_DOUBLE_EQ(s.fuelFlow, FuelFlow(3000, 80, 0.101));
}

TEST_F(Engine, EmissionsAddUpWithTheFuelBurnt) {
  s.engineSpeed = 3000;
  s.engineTorque = 80;
  s.fuelFlow = 0.002;
  s.CO = 1;
  s.NOx = 2;
  s.HC = 3;
  EngineEmissions(sim);
  const double burnt = 0.002 * 0.75 * 0.5;  // kg of fuel in the step
  EXPECT_DOUBLE_EQ(s.CO, 1 + burnt * 2);
  EXPECT_DOUBLE_EQ(s.NOx, 2 + burnt * 5);
  EXPECT_DOUBLE_EQ(s.HC, 3 + burnt * 1);
  EXPECT_EQ(s.COKey, 2000);
  EXPECT_EQ(s.NOxKey, 5000);
  EXPECT_EQ(s.HCKey, 1000);
  EXPECT_EQ(s.COArea, 0);
  EXPECT_EQ(s.NOxArea, 0);
  EXPECT_EQ(s.HCArea, 0);

  // In a sensitive area the area totals grow as well.
  s.envArea = 1;
  s.COArea = 10;
  EngineEmissions(sim);
  EXPECT_DOUBLE_EQ(s.CO, 1 + 2 * burnt * 2);
  EXPECT_DOUBLE_EQ(s.COArea, 10 + burnt * 2);
  EXPECT_DOUBLE_EQ(s.NOxArea, burnt * 5);
  EXPECT_DOUBLE_EQ(s.HCArea, burnt * 1);
}

TEST_F(Engine, UnmovedOperatingPointUsesTheCachedEmissionIndices) {
  s.engineSpeed = 3000;
  s.engineTorque = 80;
  s.nicKey = 3000000;
  s.micKey = 80000;
  s.COKey = 4000;
  s.NOxKey = 500;
  s.HCKey = 0;
  s.fuelFlow = 0.002;
  EngineEmissions(sim);
  const double burnt = 0.002 * 0.75 * 0.5;
  EXPECT_DOUBLE_EQ(s.CO, burnt * 4);
  EXPECT_DOUBLE_EQ(s.NOx, burnt * 0.5);
  EXPECT_EQ(s.HC, 0);
  EXPECT_EQ(s.COKey, 4000);
}

TEST_F(Engine, StepRunsTheEngineOnlyWhileCharging) {
  UseSmallCar();
  s.screenState = 'G';
  s.stegnr = 1;
  s.Ila = 5;
  s.engineTorque = 7;
  s.fuelFlow = 1;
  s.icEff = 30;
  SimulationStep(sim);
  EXPECT_EQ(s.chargeState, '0');
  EXPECT_EQ(s.engineSpeed, 0);
  EXPECT_EQ(s.Ila, 0);
  EXPECT_EQ(s.engineTorque, 0);
  EXPECT_EQ(s.fuelFlow, 0);
  EXPECT_EQ(s.icEff, 0.001);
  EXPECT_EQ(s.fuelLeft, 35);
  EXPECT_EQ(s.CO, 0);

  // Above the switch-on limit: 70 A at 3000 rpm, well below the 100 Nm.
  s.usedCapacity = 65;
  s.stegnr = 2;
  SimulationStep(sim);
  EXPECT_EQ(s.chargeState, '+');
  EXPECT_EQ(s.engineSpeed, 3000);
  EXPECT_EQ(s.Ila, 70);
  EXPECT_GT(s.engineTorque, 40);
  EXPECT_LT(s.engineTorque, 100);
  EXPECT_EQ(s.icEff, 30);
  const double flow = FuelFlow(3000, s.engineTorque, 30);
  EXPECT_DOUBLE_EQ(s.fuelFlow, flow);
  EXPECT_DOUBLE_EQ(s.fuelLeft, 35 - 0.1 * flow);
  EXPECT_DOUBLE_EQ(s.CO, flow * 0.75 * 2 * 0.1);
  EXPECT_DOUBLE_EQ(s.NOx, flow * 0.75 * 5 * 0.1);
}

// ---- the efficiency-map picture ----

class EngineMap : public testing::ModelTest {
 protected:
  EngineMap() {
    s.maxRpm = 6000;
    s.omrakna = 1;
  }
  double ScaleFor(const std::string& fullLoad) {
    s.Tforb = Write("FORBR" + std::to_string(++files_) + ".TAB", fullLoad);
    EngineMapPoint(sim);
    return s.mussskala;
  }
  int files_ = 0;
};

TEST_F(EngineMap, TorqueScaleLiesJustAboveThePeak) {
  EXPECT_EQ(ScaleFor(Table1(1, {{0, 230}, {20000, 230}})), 250);
  EXPECT_EQ(ScaleFor(Table1(1, {{0, 260}, {20000, 260}})), 300);
  EXPECT_EQ(ScaleFor(Table1(1, {{0, 300}, {20000, 300}})), 350);
  EXPECT_EQ(ScaleFor(Table1(1, {{0, 249}, {20000, 249}})), 250);
  // A curve with its peak of 230 Nm at 3010 rpm (a sampled speed).
  EXPECT_EQ(ScaleFor(Table1(1, {{0, 0}, {3010, 230}, {20000, 0}})), 250);
  EXPECT_DOUBLE_EQ(s.musspix, 250.0 / 200);
  // Above 950 Nm the scale climbs until it covers the peak.
  EXPECT_EQ(ScaleFor(Table1(1, {{0, 1200}, {20000, 1200}})), 1200);
  EXPECT_EQ(ScaleFor(Table1(1, {{0, 951}, {20000, 951}})), 1000);
  // Only speeds below maxRpm are sampled.
  s.maxRpm = 2000;
  EXPECT_EQ(ScaleFor(Table1(1, {{0, 100}, {2000, 100}, {2100, 600}, {20000, 600}})), 150);
}

TEST_F(EngineMap, WithoutASampleTheScaleStopsAfterOnePass) {
  s.Tforb = dir / "NO_SUCH_FILE.TAB";  // never opened
  s.maxRpm = 10;
  EngineMapPoint(sim);
  EXPECT_EQ(s.mussskala, 950);
  s.maxRpm = 0;
  EngineMapPoint(sim);
  EXPECT_EQ(s.mussskala, 950);
}

TEST_F(EngineMap, OperatingPointInPixels) {
  ScaleFor(Table1(1, {{0, 230}, {20000, 230}}));
  ASSERT_EQ(s.mussskala, 250);
  s.omrakna = 0;
  s.engineSpeed = 0;
  s.engineTorque = 0;
  EngineMapPoint(sim);
  EXPECT_EQ(s.mussx, 0);
  EXPECT_EQ(s.mussy, 200);
  s.engineSpeed = 3000;
  s.engineTorque = 125;  // 100 pixels of 1.25 Nm
  EngineMapPoint(sim);
  EXPECT_EQ(s.mussx, 150);
  EXPECT_EQ(s.mussy, 100);
  s.engineSpeed = 3019;  // 150.95 pixels, truncated
  EngineMapPoint(sim);
  EXPECT_EQ(s.mussx, 150);
  // Without omrakna the scale stays as it is.
  s.mussskala = 400;
  s.engineTorque = 100;
  EngineMapPoint(sim);
  EXPECT_EQ(s.mussskala, 400);
  EXPECT_EQ(s.musspix, 2);
  EXPECT_EQ(s.mussy, 150);
}

}  // namespace
}  // namespace drivanto
