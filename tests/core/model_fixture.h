#pragma once
// What the tests of the car's modules share: a simulation record with the
// start-up defaults, a fresh folder for table and cycle files, builders for
// small table files whose values can be followed by hand, and a clock that
// the test winds itself.

#include <gtest/gtest.h>

#include <initializer_list>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "TempFolder.h"
#include "model/Modules.h"
#include "model/Sim.h"
#include "state/State.h"

namespace drivanto::testing {

// A clock that stands at `now`; every reread while the time base waits moves
// it on by `step`. Counts how often it was asked.
class WoundClock : public Clock {
 public:
  double now = 0;
  double step = 0.001;
  int reads = 0;
  int rereads = 0;
  double Read() override {
    ++reads;
    return now;
  }
  double ReadAgain() override {
    ++rereads;
    now += step;
    return now;
  }
};

inline std::string Num(double x) {
  std::ostringstream o;
  o.precision(17);
  o << x;
  return o.str();
}

// A one-dimensional table: header, title line, rows "x y".
inline std::string Table1(int number, std::initializer_list<std::pair<double, double>> rows) {
  std::string t = "TAB " + std::to_string(number) + "\r\nvalues over the argument\r\n";
  for (const auto& r : rows) t += Num(r.first) + " " + Num(r.second) + "\r\n";
  return t;
}

// A two-dimensional table with the same value everywhere: column keys 0 and
// columnEnd, row keys 0 and rowEnd.
inline std::string Flat2(int number, double value, double columnEnd = 100000,
                         double rowEnd = 100000) {
  const std::string v = Num(value);
  return "TAB " + std::to_string(number) + "\r\nthe same value everywhere\r\n 0 " + Num(columnEnd) +
         "\r\n0 " + v + " " + v + "\r\n" + Num(rowEnd) + " " + v + " " + v + "\r\n";
}

// Battery voltage falling linearly with the current: U = 300 - I up to 100 A,
// 200 V beyond, while discharging (table 1); U = 320 + I up to 100 A, 420 V
// beyond, while charging (table 2). The used capacity does not matter.
inline std::string BatteryTables() {
  return "TAB 1\r\ndischarging\r\n 0 100\r\n0 300 300\r\n100 200 200\r\n100000 200 200\r\n"
         "TAB 2\r\ncharging\r\n 0 100\r\n0 320 320\r\n100 420 420\r\n100000 420 420\r\n";
}

inline double DischargeVoltage(double current) { return current < 100 ? 300 - current : 200; }
inline double ChargeVoltage(double current) { return current < 100 ? 320 + current : 420; }

// The engine: full-load torque 100 Nm, efficiency 30 %, emission indices
// CO 2, NOx 5, HC 1 everywhere.
inline std::string EngineTables() {
  return Table1(1, {{0, 100}, {20000, 100}}) + Flat2(2, 30) + Flat2(3, 2) + Flat2(4, 5) +
         Flat2(5, 1);
}

// Ten gears that never shift (up-shift at 1000 m/s), each with ratio 263 and
// efficiencies 95 % and 98 %.
inline std::string SingleRatioGears() {
  std::string t;
  for (int g = 1; g <= 10; ++g) t += "1000 -1 95 263 98\r\n";
  return t;
}

// A time cycle asking for 10 m/s from the start, in steps of 0.1 s.
inline const char* kShortTimeCycle = "0 10 0 0 0.1 0\r\n1000 10 0 0 0.1 0\r\n2000 0 0 0 1 0\r\n";

class ModelTest : public ::testing::Test {
 protected:
  ModelTest() : s(sim.s) {
    SetDefaults(s);
    sim.tables->errorFolder = dir.path();
    sim.clock = &clock;
  }

  std::string Write(const std::string& name, const std::string& text) {
    return dir.Write(name, text);
  }

  // A small complete car in the folder, set straight into the state: its
  // tables, a time cycle, fixed increments of 0.1 s, charging off (the used
  // capacity lies between the two limits) and the result files.
  void UseSmallCar() {
    s.Tbat = Write("BATTERI.TAB", BatteryTables());
    s.Tforb = Write("FORBR.TAB", EngineTables());
    s.Telm = Write("ELMOTOR.TAB", Flat2(1, 90) + Flat2(2, 80));
    s.Tford = Write("FORDON.TAB", Table1(1, {{0, 200}, {1000, 200}}));
    s.Tbr = Write("BROMS.TAB", Flat2(1, 40));
    s.Tvx = Write("VAXEL.TAB", SingleRatioGears());
    s.Ttidd = Write("TID.CYK", kShortTimeCycle);
    s.Tkarta = s.Ttidd;
    s.Tresultat = dir / "RESULT1.TXT";
    s.Tresultatp = dir / "RESULT2.TXT";
    s.cycleType = 'T';
    s.timeMode = 'D';
    s.dt = 0.1;
    s.maxCurrentElectric = 200;
    s.maxCurrentCharging = 220;
    s.vehicleMass = 1000;
    s.tableMass = 1000;
    s.cdA = 0.5;
    s.tableCdA = 0.5;
    s.batCapacity = 30;
    s.chargeSetting = 70;
    s.tankVolume = 35;
    s.fuelLeft = 35;
    s.genRpm = 3000;
    s.genEff = 90;
    s.maxBrakeForce = 9000;
    s.auxPower = 500;
    s.elmBaseRpm = 3000;
    s.elmMaxTorque = 180;
    s.elmRefVoltage = 300;
    s.elmLossCoef = 0;
    s.usedCapacity = 50;
    s.chargeOffLimit = 40;
    s.chargeOnLimit = 60;
    s.envOnLimit = 70;
    s.fullTime = 1000;
    s.fullLength = 100000;
    s.ttot = 0.01;
    s.ltot = 0.01;
    s.v = 0.01;
    s.resfil1status = '-';
    s.resfil2status = '-';
  }

  TempFolder dir;
  Sim sim;
  State& s;
  WoundClock clock;
};

}  // namespace drivanto::testing
