// The traction battery: its voltage from the battery tables at the step's net
// current, and its used capacity, currents and energy counters. (Modules
// Bbatsp, BbatKap.)

#include "data/Tables.h"
#include "model/Modules.h"

// Battery voltage from the battery tables, as a function of the net current
// and the used capacity.

namespace drivanto {

void BatteryVoltage(Sim& sim) {
  State& s = sim.s;
  double current = s.totalCurrent - s.Ila - s.regenCurrent;
  // The current is scaled to the battery that the tables describe.
  if (s.batTableCapacity > 0.1 && s.batCapacity != 0) {
    current = current * s.batTableCapacity / s.batCapacity;
  }
  if (current >= 0) {
    s.U = TABR2(sim.tables, sim.sites.batteryDischarge, s.Tbat, "1", 'i', 'i', s.usedCapacity,
                current);
  } else {
    s.U =
        TABR2(sim.tables, sim.sites.batteryCharge, s.Tbat, "2", 'i', 'i', s.usedCapacity, -current);
  }
}

}  // namespace drivanto

// Battery capacity: the currents of the step, the energy counters and the
// used capacity.

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
