// Battery voltage from the battery tables, as a function of the net current
// and the used capacity.

#include "data/Tables.h"
#include "model/Modules.h"

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
