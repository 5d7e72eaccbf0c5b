// The traction motor: speed, torque at the driveline and efficiency from the
// electric demand, the base speed and the torque limit.

#include <algorithm>

#include "data/Tables.h"
#include "model/Codes.h"
#include "model/Modules.h"

namespace drivanto {

namespace {

// Angular speed in rad/s of a speed in rpm.
double Omega(double n) { return RpmToRadPerSec(n); }

void Driving(Sim& sim) {
  State& s = sim.s;
  const int g = s.gear;
  const double nb = std::max(s.nel, s.elmBaseRpm);
  s.mel = Ratio(0.01 * s.elmEff * s.motorPower, Omega(nb));
  if (s.mel > s.elmMaxTorque && !OneOf(s.styrmod, "IJPW")) {
    // The demand is cut to what the torque limit allows.
    const double f = Ratio(s.elmMaxTorque, s.mel);
    s.motorCurrent = s.motorCurrent * f;
    s.totalCurrent = Ratio(s.auxPower, s.U) + s.motorCurrent;
    s.motorPower = s.motorPower * f;
    BatteryVoltage(sim);
    s.mel = s.elmMaxTorque;
  }
  s.elmEff = TABR2(sim.tables, sim.sites.motorDrive, s.Telm, "1", 'i', 'i', s.mel, s.nel);
  // The current-dependent loss of the map, taken from its reference voltage to
  // the present battery voltage.
  const double p2 = s.motorPower * s.motorPower;
  double loss = (100 - s.elmEff) * s.motorPower / 100 -
                Ratio(s.elmLossCoef * p2, s.elmRefVoltage * s.elmRefVoltage) +
                Ratio(s.elmLossCoef * p2, s.U * s.U);
  if (loss < 0) loss = 0;
  if (s.motorPower != 0) s.elmEff = (s.motorPower - loss) * 100 / s.motorPower;
  s.mel = Ratio(0.01 * s.elmEff * s.motorPower, Omega(nb));
  if (s.mel > s.elmMaxTorque) s.mel = s.elmMaxTorque;
  s.mel = s.mel * 0.0001 * s.gearEffA[g] * s.gearEffB[g];
}

void NotDriving(Sim& sim) {
  State& s = sim.s;
  const int g = s.gear;
  s.motorCurrent = Ratio(s.motorPower, s.U);
  if (s.nel < s.elmBaseRpm) s.motorCurrent = Ratio(s.motorCurrent * s.nel, s.elmBaseRpm);
  s.motorPower = s.U * s.motorCurrent;
  s.mel = Ratio(100 * s.motorPower, Omega(s.nel) * s.elmEff);
  if (s.mel > s.elmMaxTorque) {
    s.motorCurrent = Ratio(s.motorCurrent * s.mel, s.elmMaxTorque);
    s.motorPower = Ratio(s.motorPower * s.mel, s.elmMaxTorque);
    s.mel = s.elmMaxTorque;
  }
  s.elmEff = TABR2(sim.tables, sim.sites.motorBrake, s.Telm, "2", 'i', 'i', -s.mel, s.nel);
  if (s.elmEff < 0.001) s.elmEff = 0.001;
  s.mel = Ratio(100 * s.motorPower, Omega(s.nel) * s.elmEff);
  s.mel = Ratio(s.mel * 10000, s.gearEffA[g] * s.gearEffB[g]);
}

}  // namespace

void MotorStep(Sim& sim) {
  State& s = sim.s;
  if (s.gear < 1) s.gear = 1;
  if (s.gear > kTopGear) s.gear = kTopGear;
  s.ratio = s.gearRatio[s.gear];
  s.nel = s.v * s.ratio;
  if (s.elmEff < 1) s.elmEff = 10.0;
  if (s.motorCurrent > 0) {
    Driving(sim);
  } else {
    NotDriving(sim);
  }
}

}  // namespace drivanto
