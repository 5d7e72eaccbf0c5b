// Regenerative braking: the share of the brake power fed back to the battery.

#include "data/Tables.h"
#include "model/Modules.h"

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
