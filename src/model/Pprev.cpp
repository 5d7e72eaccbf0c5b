#include "base/Rounding.h"
#include "model/Modules.h"

namespace drivanto {

void SavePreviousValues(Sim& sim) {
  State& s = sim.s;
  s.modePrev = s.modeNo;
  s.vPrev = s.v;
  s.clockPrev = s.clockNow;
  s.ltotPrev = s.ltot;
  s.totalCurrentPrev = s.totalCurrent;
  s.UPrev = s.U;
  s.motorCurrentPrev = s.motorCurrent;
  s.regenCurrentPrev = s.regenCurrent;
  s.IabaPrev = s.Iaba;
  s.IlaPrev = s.Ila;
  s.slopePrev = s.slope;
  s.netEnergyPrev = s.netEnergy;
  s.spareValue1Prev = s.spareValue1;
  s.spareValue2Prev = s.spareValue2;
  s.spareValue3Prev = s.spareValue3;
  s.spareValue4Prev = s.spareValue4;
  s.spareValue5Prev = s.spareValue5;
  s.spareValue6Prev = s.spareValue6;
  s.spareValue7Prev = s.spareValue7;
  s.spareValue8Prev = s.spareValue8;
  if (s.modeNo != 21) s.modeBeforeHold = s.modeNo;

  // The engine's operating point at the start of the step, to 0.001.
  s.nicKey = RoundInt(1000 * s.nic);
  s.micKey = RoundInt(1000 * s.mic);
  s.icMaxTorqueKey = RoundInt(1000 * s.icMaxTorque);
  s.icEffKey = RoundInt(1000 * s.icEff);
}

}  // namespace drivanto
