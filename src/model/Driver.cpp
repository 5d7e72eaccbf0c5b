// Driver demand: the motor current and power asked for by the keys, the
// mouse, the drive cycle or the speed regulator. (Module Ppdr.)

#include <algorithm>

#include "base/Rounding.h"
#include "base/Text.h"
#include "data/Tables.h"
#include "model/Codes.h"
#include "model/Modules.h"

namespace drivanto {

namespace {

void Keys(State& s) {
  const char key = s.keyTyped;
  if (!OneOf(key, "0<>IPQipq")) return;
  const char remembered = s.controlMode;
  s.controlMode = UpperAscii(key);
  if (key == '>') s.vb = s.vb + 1;
  if (key == '<') s.vb = s.vb - 1;
  if (key == 'I') s.motorCurrent = s.motorCurrent + 0.05 * s.maxCurrent;
  if (key == 'i') s.motorCurrent = s.motorCurrent - 0.05 * s.maxCurrent;
  if (key == 'P') s.motorPower = s.motorPower + 500;
  if (key == 'p') s.motorPower = s.motorPower - 500;
  if (key == '0') {
    s.motorCurrent = 0;
    s.motorPower = 0;
    s.controlMode = remembered;
  }
  if (key == 'Q' || key == 'q') s.fullTime = s.ttot - 1;
  if (s.vb > 40) s.vb = 40;
  if (s.vb < 0.01) s.vb = 0.01;
  if (s.motorCurrent > s.maxCurrent) s.motorCurrent = s.maxCurrent;
  if (s.motorCurrent < 0) s.motorCurrent = 0.1;
  if (s.motorPower > s.maxCurrent * s.U) s.motorPower = s.maxCurrent * s.U;
  if (s.motorPower < 0) s.motorPower = 0;
  if (s.Ppic < 0) s.Ppic = 0;
  if (s.controlMode == 'Q') s.controlMode = remembered;
}

void Mouse(State& s) {
  s.brakeForce = 0;
  if (s.mouseY < 125) {
    s.motorCurrent = s.maxCurrent - s.mouseY * s.maxCurrent / 125;
  } else {
    s.motorCurrent = 0;
    s.motorPower = 0;
    s.brakeForce = s.maxBrakeForce - (250 - s.mouseY) * s.maxBrakeForce / 125;
    if (s.brakeForce > s.maxBrakeForce) s.brakeForce = s.maxBrakeForce;
  }
  if (s.roadCurves == 'J' || s.roadCurves == 'j') {
    if (s.mouseX > 330) s.kurs = RoundInt(s.kurs + (s.mouseX - 330) * 0.005 * s.vPrev * s.dt);
    if (s.mouseX < 310) s.kurs = RoundInt(s.kurs - (310 - s.mouseX) * 0.005 * s.vPrev * s.dt);
  }
}

}  // namespace

void DriverDemandStep(Sim& sim) {
  State& s = sim.s;
  s.limitFactor = 1.0;
  Keys(s);
  if (OneOf(s.keyTyped, "FKTfkt")) s.controlMode = ' ';
  if (s.controlMode == 'M') Mouse(s);
  if (!OneOf(s.controlMode, "<>IJMPWY")) s.vb = s.vbCycle;

  // Direct control: the demand is set, no regulator runs.
  if (OneOf(s.controlMode, "IJMPWY")) {
    s.vb = 0;
    if (s.controlMode == 'J') s.motorCurrent = s.vbCycle;
    if (s.controlMode == 'W') s.motorPower = s.vbCycle * 1000;
    if (s.controlMode == 'P' || s.controlMode == 'W') {
      s.motorCurrent = Ratio(s.motorPower, s.U);
    } else {
      s.motorPower = s.motorCurrent * s.U;
    }
    return;
  }

  // Speed regulator: the power that brings the speed to vb within
  // accelSteps increments against the estimated resistance.
  const double vm = (s.vb + s.v) / 2;
  double f = TABR1(sim.tables, sim.sites.roadLoad, s.Tford, "1", 'i', vm, 1) +
             s.vehicleMass * kGravity * s.slope / 100;
  if (s.regulatorVariant == 'K') {
    f = f - s.regulatorOffset * ((s.v - 2.8) * 0.73 / (s.v + 20.8) + 1);
  } else {
    f = f - s.regulatorOffset;
  }
  f = f - (s.vb + s.v) * s.tableCdA * (s.vb + s.v) / 4;
  if (s.elmEff < 1) s.elmEff = 1.0;
  s.motorPower =
      ((s.vb - s.v) * s.vehicleMass / (std::max<int32_t>(s.accelSteps, 1) * s.dt) + f) * vm;
  s.motorCurrent = Ratio(s.motorPower, s.U);
  if (s.motorCurrent > s.maxCurrent) {
    s.limitFactor = s.maxCurrent / s.motorCurrent;
    s.motorCurrent = s.maxCurrent;
  }
  if (s.motorCurrent < 0) s.motorCurrent = 0;
  s.motorPower = s.motorCurrent * s.U;
}

}  // namespace drivanto
