#include <gtest/gtest.h>

#include <string>

#include "TempFolder.h"
#include "base/Errors.h"
#include "data/TableConstants.h"
#include "data/Tables.h"
#include "state/State.h"

namespace drivanto {
namespace {

// The battery's first row and first column are at 0 with 300 V there.
const char* kBattery =
    "Battery\nConst\nCapacity Ah\n50\nVoltmeter scale V\n250\n"
    "TAB 1\nt\n0 50 100\n0 300 280 250\n100 280 260 230\n";

std::string Motor(const std::string& refVoltage, const std::string& lossCoef) {
  return "Motor\nConst\nBase speed\n3000\nMax torque\n180\nReference voltage\n" + refVoltage +
         "\nLoss coefficient\n" + lossCoef + "\nTAB 1\nt\n1 2\n1 90 90\n";
}

class TableConstants : public ::testing::Test {
 protected:
  void SetUp() override {
    tables.errorFolder = dir.path();
    SetDefaults(s);
    s.Tford = dir.Write("FORD.TAB", "Vehicle\r\nConst\r\nMass kg\r\n1350\r\nCdA m2\r\n0.64\r\n");
    s.Tforb = dir.Write("FORB.TAB", "Engine\nConst\nConstant\n0.33\n");
    s.Tbat = dir.Write("BAT.TAB", kBattery);
    s.Telm = dir.Write("ELM.TAB", Motor("310", "0.05"));
    s.Tvx = dir / "VX.TAB";  // neither is opened
    s.Tbr = dir / "BR.TAB";
    s.vehicleMass = 1200;
    s.cdA = 0.65;
    s.batCapacity = 60;
    s.elmBaseRpm = 2500;
    s.elmMaxTorque = 150;
  }

  void Read() { ReadTableConstants(s, tables); }

  testing::TempFolder dir;
  TableCache tables;
  State s;
};

TEST_F(TableConstants, VehicleMassAndDragAreaFromTheVehicleFile) {
  Read();
  EXPECT_EQ(s.vehicleMass, 1200);
  EXPECT_EQ(s.tableMass, 1350);
  EXPECT_EQ(s.cdA, 0.65);
  EXPECT_EQ(s.tableCdA, 0.64);

  s.vehicleMass = -1;
  s.cdA = -1;
  Read();
  EXPECT_EQ(s.vehicleMass, 1350);
  EXPECT_EQ(s.cdA, 0.64);
  EXPECT_EQ(s.tableCdA, 0.64);

  // -1 after rounding to the nearest integer.
  s.vehicleMass = -0.6;
  Read();
  EXPECT_EQ(s.vehicleMass, 1350);
  s.vehicleMass = -1.4;
  Read();
  EXPECT_EQ(s.vehicleMass, 1350);
  s.vehicleMass = -1.6;
  Read();
  EXPECT_EQ(s.vehicleMass, -1.6);
  s.vehicleMass = -1.5;  // a tie goes to -2
  Read();
  EXPECT_EQ(s.vehicleMass, -1.5);
}

TEST_F(TableConstants, VehicleFileWithoutConstants) {
  s.tableMass = 777;
  s.vehicleMass = -1;
  for (const char* text : {"Vehicle\nTAB 1\nt\n0 100\n50 500\n", "const\nMass\n1350\n",
                           " Const\nMass\n1350\n", "Const \nMass\n1350\n"}) {
    SCOPED_TRACE(text);
    s.Tford = dir.Write("FORD.TAB", text);
    s.tableCdA = 5;
    Read();
    EXPECT_EQ(s.tableCdA, 0.65);  // the car's own drag area
    EXPECT_EQ(s.tableMass, 777);
    EXPECT_EQ(s.vehicleMass, -1);
  }
  // A byte-order mark before a first line "Const" does not hide the section.
  s.Tford = dir.Write("FORD.TAB",
                      "\xEF\xBB\xBF"
                      "Const\r\nMass\r\n1400\r\nCdA\r\n0.6\r\n");
  Read();
  EXPECT_EQ(s.tableMass, 1400);
  EXPECT_EQ(s.vehicleMass, 1400);
}

TEST_F(TableConstants, EngineAndBatteryConstants) {
  Read();
  EXPECT_EQ(s.engineConst, 0.33);
  EXPECT_EQ(s.batTableCapacity, 50);
  EXPECT_EQ(s.batCapacity, 60);
  EXPECT_EQ(s.Uskala, 250);
  s.batCapacity = -1;
  Read();
  EXPECT_EQ(s.batCapacity, 50);

  // A voltmeter scale that is not a number gives 200 V.
  for (const char* scale : {"", "abc", "250 V"}) {
    SCOPED_TRACE(scale);
    s.Tbat = dir.Write("BAT.TAB", std::string("Const\nCapacity\n50\nScale\n") + scale +
                                      "\nTAB 1\nt\n0 50\n0 300 280\n100 280 260\n");
    s.Uskala = 0;
    Read();
    EXPECT_EQ(s.Uskala, 200);
  }
  s.Tbat = dir.Write("BAT.TAB", "Const\nCapacity\n45\n");  // the file ends early
  Read();
  EXPECT_EQ(s.batTableCapacity, 45);
  EXPECT_EQ(s.Uskala, 200);
}

TEST_F(TableConstants, MotorLimitsOnlyWhereTheSettingIsMinusOne) {
  Read();
  EXPECT_EQ(s.elmBaseRpm, 2500);
  EXPECT_EQ(s.elmMaxTorque, 150);
  EXPECT_EQ(s.elmRefVoltage, 310);
  EXPECT_EQ(s.elmLossCoef, 0.05);
  s.elmBaseRpm = -1;
  s.elmMaxTorque = -1;
  Read();
  EXPECT_EQ(s.elmBaseRpm, 3000);
  EXPECT_EQ(s.elmMaxTorque, 180);
}

TEST_F(TableConstants, MotorReferenceVoltageFromTheBattery) {
  // -1: the battery's voltage at the first row and column.
  s.Telm = dir.Write("ELM.TAB", Motor("-1", "4"));
  Read();
  EXPECT_EQ(s.elmRefVoltage, 300);
  EXPECT_EQ(s.elmLossCoef, 4);

  // Another negative voltage: the coefficient was given per volt of it.
  s.Telm = dir.Write("ELM.TAB", Motor("-200", "4"));
  Read();
  EXPECT_DOUBLE_EQ(s.elmLossCoef, 6);
  EXPECT_EQ(s.elmRefVoltage, 300);

  // Between -1.1 and 0: the battery's voltage, coefficient unchanged.
  for (const char* v : {"-1.05", "-1.1", "-0.5"}) {
    SCOPED_TRACE(v);
    s.Telm = dir.Write("ELM.TAB", Motor(v, "4"));
    Read();
    EXPECT_EQ(s.elmRefVoltage, 300);
    EXPECT_EQ(s.elmLossCoef, 4);
  }

  // Not a number: taken as -1; a coefficient that is not a number gives 0.
  s.Telm = dir.Write("ELM.TAB", Motor("abc", "x"));
  Read();
  EXPECT_EQ(s.elmRefVoltage, 300);
  EXPECT_EQ(s.elmLossCoef, 0);

  // A battery without table 1 cannot give the voltage.
  s.Telm = dir.Write("ELM.TAB", Motor("-1", "4"));
  s.Tbat = dir.Write("BAT.TAB", "Const\nCapacity\n50\nScale\n250\nTAB 2\nt\n0 50\n0 300 280\n");
  EXPECT_THROW(Read(), TableRangeError);
}

TEST_F(TableConstants, MissingTableFileIsAnInputOutputError) {
  for (std::string State::*file : {&State::Tford, &State::Tforb, &State::Tbat, &State::Telm}) {
    SetUp();
    s.*file = dir / "MISSING.TAB";
    try {
      Read();
      ADD_FAILURE() << "no error";
    } catch (const IoError& e) {
      EXPECT_EQ(e.file(), dir / "MISSING.TAB");
    }
  }
}

}  // namespace
}  // namespace drivanto
