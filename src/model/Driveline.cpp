// The driveline: the gearbox, the traction motor, the friction brake and
// regenerative braking. (Modules Vvxl, Eelmot, Bbrake, Rreg.)

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "base/Errors.h"
#include "base/Files.h"
#include "base/NumberText.h"
#include "base/Text.h"
#include "base/Words.h"
#include "data/Tables.h"
#include "model/Codes.h"
#include "model/Modules.h"

// The gearbox: the gear table, read at the first step, and the automatic
// shift by the vehicle speed.

namespace drivanto {

namespace {

// Reads the 50 numbers of the gear table, five per gear. A missing or short
// file leaves the rest of the arrays as they were; a file that is there but
// cannot be read (no permission, a folder, saved as UTF-16) is an IoError
// naming it, as for every other file of the car.
void ReadGearTable(Sim& sim) {
  State& s = sim.s;
  const std::string* text = nullptr;
  try {
    text = &sim.tables->Text(sim.sites.gearTable, s.Tvx);
  } catch (const IoError& e) {
    if (e.reason() == ErrnoReason(ENOENT)) return;
    throw;
  }
  const std::string& bytes = *text;
  std::array<double, 11>* columns[5] = {&s.upShiftSpeed, &s.downShiftSpeed, &s.gearEffA,
                                        &s.gearRatio, &s.gearEffB};
  std::size_t pos = 0;
  for (int gear = 1; gear <= kTopGear; ++gear) {
    for (int k = 0; k < 5; ++k) {
      const std::string_view word = NextWord(bytes, &pos);
      if (word.empty()) return;
      double value = 0;
      if (!IsPlainNumber(word, &value)) return;
      (*columns[k])[gear] = value;
    }
  }
}

}  // namespace

void GearStep(Sim& sim) {
  State& s = sim.s;
  if (s.stegnr == 1) {
    ReadGearTable(sim);
    s.gear = 1;
  }
  if (s.gear < 1) s.gear = 1;
  if (s.gear > kTopGear) s.gear = kTopGear;
  const int g = s.gear;
  if (s.v > s.upShiftSpeed[g] && g < kTopGear) s.gear = static_cast<uint8_t>(g + 1);
  if (s.v < s.downShiftSpeed[g] && g > 1) s.gear = static_cast<uint8_t>(g - 1);
}

}  // namespace drivanto

// The traction motor: speed, torque at the driveline and efficiency from the
// electric demand, the base speed and the torque limit.

namespace drivanto {

namespace {

// Angular speed in rad/s of a speed in rpm.
double Omega(double n) { return RpmToRadPerSec(n); }

void Driving(Sim& sim) {
  State& s = sim.s;
  const int g = s.gear;
  const double nb = std::max(s.nel, s.elmBaseRpm);
  s.mel = Ratio(0.01 * s.elmEff * s.motorPower, Omega(nb));
  if (s.mel > s.elmMaxTorque && !OneOf(s.controlMode, "IJPW")) {
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

// The friction brake: automatic in speed control, by the keys or the mouse
// otherwise.

namespace drivanto {

void BrakeStep(Sim& sim) {
  State& s = sim.s;
  const auto key = static_cast<unsigned char>(s.keyTyped);
  if (key >= 49 && key <= 122) s.brakeForce = 0;  // any key "1" to "z" releases the brake
  if (s.keyTyped == '0') s.brakeForce = s.brakeForce + s.maxBrakeForce / 10;
  switch (s.controlMode) {
    case 'I':
    case 'J':
    case 'M':
    case 'P':
    case 'W':
    case 'Y': break;
    default:
      // Speed control: the force that brings the speed down to vb within
      // brakeSteps increments, less what the resistance already does.
      s.brakeForce = 0;
      if (1.1 * s.vb < s.v) {
        s.brakeForce = (s.v - s.vb) * s.vehicleMass / (std::max<int32_t>(s.brakeSteps, 1) * s.dt) -
                       s.resistForce;
      }
      break;
  }
  if (s.brakeForce < 0) s.brakeForce = 0;
  if (s.brakeForce > s.maxBrakeForce) s.brakeForce = s.maxBrakeForce;
}

}  // namespace drivanto

// Regenerative braking: the share of the brake power fed back to the battery.

namespace drivanto {

void RegenStep(Sim& sim) {
  State& s = sim.s;
  s.regenPower = 0;
  s.regenCurrent = 0;
  if (s.brakeForce <= 0.01) return;
  const double share = TABR2(sim.tables, sim.sites.brakeRegen, s.Tbr, "1", 'i', 'i', s.brakeForce,
                             (s.v + s.vPrev) * 0.5);
  s.regenPower = share * s.brakeForce * (s.v + s.vPrev) / 200;
  s.regenCurrent = Ratio(s.regenPower, s.U);
  if (s.regenCurrent > s.maxCurrent) s.regenCurrent = s.maxCurrent;
  s.regenPower = s.regenCurrent * s.U;
}

}  // namespace drivanto
