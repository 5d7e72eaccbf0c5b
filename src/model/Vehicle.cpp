// The vehicle on the road: the slope, the driving resistance, the speed and
// the distance, map position and height. (Modules Llutning, Mmotst, Hhast,
// Llength.)

#include <algorithm>

#include "data/Tables.h"
#include "model/Codes.h"
#include "model/Modules.h"

// The road slope: from the drive cycle, or stepped by the keys "L" and "l".

namespace drivanto {

void SlopeStep(Sim& sim) {
  State& s = sim.s;
  if (s.keyTyped == 'L' || s.keyTyped == 'l') {
    s.slopeMode = 'L';
    if (s.keyTyped == 'L' && s.slope < 40) s.slope = s.slope + 0.5;
    if (s.keyTyped == 'l' && s.slope > -40) s.slope = s.slope - 0.5;
  }
  if (OneOf(s.keyTyped, "FKTfkt")) s.slopeMode = ' ';
  if (s.slopeMode != 'L' && s.slopeMode != 'l' && s.cycleSlope < 100) s.slope = s.cycleSlope;
}

}  // namespace drivanto

// Driving resistance: rolling and air resistance of the reference vehicle
// from the vehicle table, scaled to this car, plus the slope force.

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

// The speed: Newton's law with the motor torque, the resistance and the
// brake.

namespace drivanto {

void SpeedStep(Sim& sim) {
  State& s = sim.s;
  // The tractive force is the motor torque times the motor's angular speed per
  // unit of vehicle speed. A car without a mass is not moved.
  if (s.vehicleMass != 0) {
    s.v = s.v +
          (RpmToRadPerSec(s.ratio) * s.mel - s.resistForce - s.brakeForce) / s.vehicleMass * s.dt;
  }
  if (s.v < 0.001) s.v = 0.001;
  s.nelLimited = std::max(s.nel, 10.0);
  s.melUsed = s.mel;
}

}  // namespace drivanto

// Distance, map position and height.

namespace drivanto {

void DistanceStep(Sim& sim) {
  State& s = sim.s;
  const double step = (s.v + s.vPrev) * s.dt / 2;
  s.mapPos = s.mapPos + step;
  s.ltot = s.ltot + step;
  s.height = s.height + s.dt * s.slope * (s.v + s.vPrev) / 200;
}

}  // namespace drivanto
