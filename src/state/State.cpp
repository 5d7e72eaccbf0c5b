#include "state/State.h"

namespace drivanto {

void SetDefaults(State& s) {
  // The tank starts as full as the tank volume in force at this moment (0 at
  // program start), so it is taken before the volume itself is cleared.
  const double tankVolumeNow = s.tankVolume;
  s = State{};
  s.maxRpm = 7000;
  s.fuelEnergy = 8.74;
  s.fuelDensity = 0.75;
  s.elmRefVoltage = 120;
  s.spareNumber1 = 1;
  s.Spara = String4("0111");
  s.spareNumber2 = 1;
  s.stopAtEmptyTank = 'N';
  s.spareFlag1 = 'J';
  s.roadCurves = 'N';
  s.dt = 1;
  s.styrmod = ' ';
  s.slopeMode = ' ';
  s.timeMode = ' ';
  s.reservmod = ' ';
  s.gearMode = 20;
  s.loopIndex = 101;
  s.skarmstatus = 'S';
  s.tangent = ' ';
  s.mapPos = -1;
  s.accelSteps = 1;
  s.brakeSteps = 1;
  s.cycleDt = 1;
  s.rowDt = 1;
  s.nextRowPos = 0.01;
  s.readRow2 = 1;
  s.kursfel = 1;
  s.limitFactor = 1;
  s.elmEff = 50;
  s.usedCapacity = 0.01;
  s.chargeState = '0';
  s.chargeManual = '0';
  s.U = 120;
  s.ltot = -1;
  s.spareNumber204 = 120;
  s.fuelLeft = tankVolumeNow;
}

}  // namespace drivanto
