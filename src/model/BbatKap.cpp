// Battery capacity: the currents of the step, the energy counters and the
// used capacity.

#include "model/Modules.h"

namespace drivanto {

void BatteryCapacity(Sim& sim) {
  State& s = sim.s;
  s.totalCurrent = Ratio(s.auxPower, s.U) + s.motorCurrent;
  s.Iaba = s.totalCurrent - s.Ila - s.regenCurrent;
  s.netEnergy = s.netEnergy + s.U * s.Iaba * s.dt / 3600000;
  s.driveEnergy = s.driveEnergy + s.dt * s.U * s.totalCurrent / 3600000;
  // The used charge in ampere-seconds grows by Iaba x dt. A battery without a
  // capacity keeps its used share.
  if (s.batCapacity != 0) {
    s.usedCapacity = (s.usedCapacity * s.batCapacity * 3600 / 100 + s.Iaba * s.dt) * 100 /
                     (s.batCapacity * 3600);
  }
  if (s.usedCapacity < 0.001) s.usedCapacity = 0.001;
}

}  // namespace drivanto
