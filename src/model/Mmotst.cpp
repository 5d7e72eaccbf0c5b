// Driving resistance: rolling and air resistance of the reference vehicle
// from the vehicle table, scaled to this car, plus the slope force.

#include "data/Tables.h"
#include "model/Codes.h"
#include "model/Modules.h"

namespace drivanto {

void ResistanceStep(Sim& sim) {
  State& s = sim.s;
  const double vm = (s.vb > 5) ? s.v + (s.vb - s.v) * s.limitFactor / 2 : s.v;
  const double ftab = TABR1(sim.tables, sim.sites.roadLoad, s.Tford, "1", 'i', vm, 1);
  // 0.638 is half the air density 1.276 kg/m3.
  const double fa = 0.638 * s.tableCdA * (vm * vm);
  // The rolling part scales with the mass, the air part with the drag area. A
  // vehicle file without a reference mass describes this car as it is.
  const double rolling =
      (s.tableMass != 0) ? (ftab - fa) * s.vehicleMass / s.tableMass : (ftab - fa);
  s.resistForce =
      rolling + Ratio(fa * s.cdA, s.tableCdA) + s.vehicleMass * kGravity * s.slope / 100;
}

}  // namespace drivanto
